// The video use: every frame of a range drawn and handed to ffmpeg while the next is drawn,
// with the music from the range's place in the show and a chapter for each movement.
#include <memory>
#include <unistd.h>
#include <vector>

#include "capture_uses.h"
#include "encoder.h"
#include "frame_pipeline.h"
#include "parts.h"
#include "progress.h"

namespace capture {

namespace {

// Whole milliseconds from the start of a video to its frame k, rounded up so that a chapter
// starts within the frame it names, never in the one before.
uint64_t frame_start_ms(uint64_t k, unsigned fps) {
    return (k * 1000 + fps - 1) / fps;
}

} // namespace

// What a video writes to besides the encoder's pipe: the raw frames (a speed measurement's
// sink) and the checksum manifest; each descriptor is closed here or by finish().
struct Capture::VideoSinks {
    Encoder encoder;
    int raw_fd = -1;
    int sums_fd = -1;
    std::vector<std::unique_ptr<FrameSink>> owned;

    ~VideoSinks() {
        for (int fd : {raw_fd, sums_fd})
            if (fd >= 0)
                close(fd);
    }
    std::vector<FrameSink *> list() const {
        std::vector<FrameSink *> sinks;
        for (auto &s : owned)
            sinks.push_back(s.get());
        return sinks;
    }
    // Closes the output files; false when the last of their data could not be written.
    bool close_files() {
        bool ok = true;
        for (int *fd : {&raw_fd, &sums_fd})
            if (*fd >= 0) {
                ok = close(*fd) == 0 && ok;
                *fd = -1;
            }
        return ok;
    }
};

Capture::Music Capture::choose_music(const std::string &ffmpeg, uint64_t first) const {
    Music m;
    // Frame n is shown from n / fps seconds into the whole show's video; a range starts its
    // music at its first frame's place.
    m.offset_s = static_cast<double>(first) / clock_.fps();
    m.silent = " without sound";
    if (o_.no_audio)
        return m;
    m.file = o_.music.empty() ? data_path(MUSIC_FILE) : o_.music;
    if (!is_file(m.file)) {
        if (!o_.music.empty())
            throw Failure{EXIT_USAGE, "no music file '" + m.file + "'"};
        note("note: no " + m.file + "; the video has no sound");
        m.file.clear();
    } else if (const double length = media_seconds(ffmpeg, m.file);
               length >= 0.0 && length <= m.offset_s) {
        const std::string why = "the music " + m.file + " ends at " + format("%.3f s", length) +
                                ", before the first frame at " + format("%.3f s", m.offset_s);
        if (!o_.music.empty())
            throw Failure{EXIT_USAGE, why + " (--no-audio makes a silent video)"};
        note("note: " + why + "; the video has no sound");
        m.silent = " without sound (the music ends before the first frame)";
        m.file.clear();
    }
    if (!m.file.empty())
        m.silent.clear();
    return m;
}

EncodeSettings Capture::encode_settings(const FrameSize &size, uint64_t first, uint64_t last,
                                        const Music &music) const {
    const uint64_t count = last - first + 1;
    EncodeSettings s;
    s.width = size.width;
    s.height = size.height;
    s.fps = clock_.fps();
    s.crf = o_.crf;
    s.preset = o_.preset;
    s.music = music.file;
    s.music_offset_s = music.offset_s;
    s.duration_s = static_cast<double>(count) / clock_.fps();
    // A chapter for each movement the range holds, when it holds both.
    const uint64_t two = clock_.first_frame_of_bar(moment::MOVEMENT_TWO_BAR);
    if (first < two && two <= last)
        s.chapters = {
            {0, frame_start_ms(two - first, s.fps), "Movement one"},
            {frame_start_ms(two - first, s.fps), frame_start_ms(count, s.fps), "Movement two"}};
    return s;
}

void Capture::open_video_sinks(VideoSinks &sinks, AtomicOutput &out, AtomicOutput &sums_out,
                               const FrameSize &size, const std::string &ffmpeg,
                               EncodeSettings settings, const Span &span) {
    std::string why;
    if (!ffmpeg.empty()) {
        settings.output = out.staged(&why);
        if (settings.output.empty() || !sinks.encoder.start(ffmpeg, settings, &why))
            throw Failure{EXIT_FAILED, why};
        sinks.owned.push_back(std::make_unique<PipeSink>(
            sinks.encoder.input_fd(), renderer_.frame_bytes(), "writing frames to ffmpeg"));
    } else if (o_.sink == "raw") {
        sinks.raw_fd = out.create(&why);
        if (sinks.raw_fd < 0)
            throw Failure{EXIT_FAILED, why};
        sinks.owned.push_back(std::make_unique<PipeSink>(sinks.raw_fd, renderer_.frame_bytes(),
                                                         "writing raw frames"));
    }
    if (!o_.sums_file.empty()) {
        sinks.sums_fd = sums_out.create(&why);
        if (sinks.sums_fd < 0)
            throw Failure{EXIT_FAILED, why};
        sinks.owned.push_back(std::make_unique<DigestSink>(
            clock_, size.width, size.height, false, sinks.sums_fd, sums_header(size, false, span)));
    }
}

bool Capture::finish_video(VideoSinks &sinks, FramePipeline &pipeline, Progress &progress,
                           bool drawn, bool encoding) {
    if (!drawn || stop_signal()) {
        progress.clear();
        if (stop_signal()) {
            sinks.encoder.kill();
            pipeline.abort();
            return false;
        }
        // A sink failed: the encoder most likely stopped; its own words say why.
        std::string why = pipeline.error();
        pipeline.abort();
        std::string said;
        if (encoding && !sinks.encoder.finish(&said))
            why = said;
        throw Failure{EXIT_FAILED, why};
    }
    progress.note("finishing " +
                  (o_.output.empty() ? std::string("the capture") : shown(o_.output)) + " ...");
    std::string why;
    bool ok = pipeline.finish(&why);
    if (ok && encoding)
        ok = sinks.encoder.finish(&why);
    else if (!ok)
        sinks.encoder.kill();
    progress.clear();
    if (stop_signal())
        return false;
    if (!sinks.close_files() && ok) {
        ok = false;
        why = "writing an output file failed";
    }
    if (!ok)
        throw Failure{EXIT_FAILED, why};
    return true;
}

std::string Capture::encoding_label() const {
    return "crf " + std::to_string(o_.crf) + " preset " + o_.preset;
}

void Capture::label_part(EncodeSettings &settings, const Span &span, const FrameSize &size) const {
    // The join gives the whole range its chapters.
    settings.chapters.clear();
    settings.tags = part_tags(
        {*span.part, std::to_string(span.bars.first) + ":" + std::to_string(span.bars.last),
         span.whole_first, span.whole_last, clock_.fps(),
         std::to_string(size.width) + "x" + std::to_string(size.height), size.supersample,
         encoding_label(), build_identity(build_)});
}

int Capture::video() {
    const Span span = this->span();
    const uint64_t first = span.first, last = span.last, count = span.count();
    // The join adds the music for the whole range, once.
    if (span.part && !o_.music.empty())
        throw Failure{EXIT_USAGE, "a part has no sound: give --music to join"};
    const bool to_ffmpeg = o_.sink == "ffmpeg";
    // yuv420p halves the colour planes each way: an encoded frame needs even sides.
    const FrameSize size = frame_size(to_ffmpeg);
    if (o_.output.empty() && o_.sink != "null")
        throw Failure{EXIT_USAGE, "video needs an output file (-o FILE)"};
    if (o_.output == "-" && o_.sums_file == "-")
        throw Failure{EXIT_USAGE, "the video and its checksums cannot both go to standard output"};

    std::string ffmpeg;
    Music music;
    if (to_ffmpeg) {
        ffmpeg = find_program("ffmpeg");
        if (ffmpeg.empty())
            throw Failure{EXIT_FAILED, "ffmpeg is not on PATH; the video is encoded with the "
                                       "ffmpeg command line (Debian package ffmpeg)"};
        if (!span.part)
            music = choose_music(ffmpeg, first);
    }
    AtomicOutput out, sums_out;
    if (!o_.output.empty())
        prepare(out, o_.output, true);
    if (!o_.sums_file.empty())
        prepare(sums_out, o_.sums_file, false);
    // One file cannot be both: whichever was made final last would replace the other.
    if (!o_.output.empty() && !o_.sums_file.empty() && out.same_destination(sums_out))
        throw Failure{EXIT_USAGE, "-o and --sums name the same file, " + out.name() +
                                      ": the video and its checksums need a file each"};
    open_renderer(size);

    EncodeSettings settings = encode_settings(size, first, last, music);
    if (span.part)
        label_part(settings, span, size);
    VideoSinks sinks;
    open_video_sinks(sinks, out, sums_out, size, ffmpeg, settings, span);
    FramePipeline pipeline(renderer_.frame_bytes(), sinks.list());
    Progress progress(count, !o_.quiet);
    const auto how =
        o_.readback == "sync" ? ShowRenderer::Readback::sync : ShowRenderer::Readback::pbo;
    const bool drawn = stream(first, last, how, pipeline, progress);
    if (!finish_video(sinks, pipeline, progress, drawn, to_ffmpeg))
        return stopped();
    std::string why;
    if ((!o_.output.empty() && o_.sink != "null" && !out.commit(&why)) ||
        (!o_.sums_file.empty() && !sums_out.commit(&why)))
        throw Failure{EXIT_FAILED, why};
    const double took = progress.seconds();
    say((span.part ? span.part_label() + " of bars " + std::to_string(span.bars.first) + " to " +
                         std::to_string(span.bars.last) + ": " + std::to_string(count) +
                         " frames (" + std::to_string(first) + " to " + std::to_string(last) + ", "
                   : std::to_string(count) + " frames (bars " + std::to_string(span.bars.first) +
                         " to " + std::to_string(span.bars.last) + ", ") +
        format("%.3f s", count / double(clock_.fps())) + ") in " + format("%.1f s", took) + " (" +
        format("%.1f fps", count / took) + ")" +
        (o_.output.empty() || o_.sink == "null" ? std::string() : " -> " + shown(o_.output)) +
        size_label(size) + (to_ffmpeg && !span.part ? music.silent : ""));
    return 0;
}

} // namespace capture

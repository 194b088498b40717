// The uses that stream every frame of a range: video (through ffmpeg) and sums (a checksum
// line per frame as soon as it is drawn).
#include <memory>
#include <unistd.h>
#include <vector>

#include "capture_uses.h"
#include "encoder.h"
#include "frame_pipeline.h"
#include "progress.h"

namespace capture {

namespace {

// Whole milliseconds from the start of a video to its frame k, rounded up so that a chapter
// starts within the frame it names, never in the one before.
uint64_t frame_start_ms(uint64_t k, unsigned fps) {
    return (k * 1000 + fps - 1) / fps;
}

} // namespace

bool Capture::stream(uint64_t first, uint64_t last, ShowRenderer::Readback how,
                     FramePipeline &pipeline, Progress &progress) {
    return renderer_.render(clock_, first, last, how, [&](uint64_t n, const uint8_t *px) {
        if (stop_signal() || !pipeline.push(n, px))
            return false;
        progress.update(n - first + 1);
        return true;
    });
}

int Capture::video() {
    const moment::BarRange range = bar_range({0, moment::END_BAR});
    const uint64_t first = clock_.first_frame_of_bar(range.first);
    const uint64_t last = clock_.last_frame_of_bar(range.last);
    const uint64_t count = last - first + 1;
    const bool to_ffmpeg = o_.sink == "ffmpeg";
    // yuv420p halves the colour planes each way: an encoded frame needs even sides.
    const FrameSize size = frame_size(to_ffmpeg);
    if (o_.output.empty() && o_.sink != "null")
        throw Failure{EXIT_USAGE, "video needs an output file (-o FILE)"};
    if (o_.output == "-" && o_.sums_file == "-")
        throw Failure{EXIT_USAGE, "the video and its checksums cannot both go to standard output"};

    std::string ffmpeg;
    if (to_ffmpeg) {
        ffmpeg = find_program("ffmpeg");
        if (ffmpeg.empty())
            throw Failure{EXIT_FAILED, "ffmpeg is not on PATH; the video is encoded with the "
                                       "ffmpeg command line (Debian package ffmpeg)"};
    }
    // Frame n is shown from n / fps seconds into the whole show's video; a range starts its
    // music at its first frame's place.
    const double music_offset_s = static_cast<double>(first) / clock_.fps();
    std::string music, silent = " without sound";
    if (to_ffmpeg && !o_.no_audio) {
        music = o_.music.empty() ? data_path(MUSIC_FILE) : o_.music;
        if (!is_file(music)) {
            if (!o_.music.empty())
                throw Failure{EXIT_USAGE, "no music file '" + music + "'"};
            note("note: no " + music + "; the video has no sound");
            music.clear();
        } else if (const double length = media_seconds(ffmpeg, music);
                   length >= 0.0 && length <= music_offset_s) {
            const std::string why = "the music " + music + " ends at " + format("%.3f s", length) +
                                    ", before the first frame at " +
                                    format("%.3f s", music_offset_s);
            if (!o_.music.empty())
                throw Failure{EXIT_USAGE, why + " (--no-audio makes a silent video)"};
            note("note: " + why + "; the video has no sound");
            silent = " without sound (the music ends before the first frame)";
            music.clear();
        }
    }
    AtomicOutput out, sums_out;
    if (!o_.output.empty())
        prepare(out, o_.output, true);
    if (!o_.sums_file.empty())
        prepare(sums_out, o_.sums_file, false);
    open_renderer(size);

    std::string why;
    Encoder encoder;
    int raw_fd = -1;
    std::vector<std::unique_ptr<FrameSink>> sinks;
    if (to_ffmpeg) {
        EncodeSettings s;
        s.width = size.width;
        s.height = size.height;
        s.fps = clock_.fps();
        s.crf = o_.crf;
        s.preset = o_.preset;
        if (o_.compo) {
            s.video_kbps = COMPO_VIDEO_KBPS;
            s.level = COMPO_LEVEL;
            s.audio_kbps = COMPO_AUDIO_KBPS;
        }
        s.music = music;
        s.music_offset_s = music_offset_s;
        s.duration_s = static_cast<double>(count) / clock_.fps();
        // A chapter for each movement the range holds, when it holds both.
        const uint64_t two = clock_.first_frame_of_bar(moment::MOVEMENT_TWO_BAR);
        if (first < two && two <= last)
            s.chapters = {
                {0, frame_start_ms(two - first, s.fps), "Movement one"},
                {frame_start_ms(two - first, s.fps), frame_start_ms(count, s.fps), "Movement two"}};
        s.output = out.staged(&why);
        if (s.output.empty() || !encoder.start(ffmpeg, s, &why))
            throw Failure{EXIT_FAILED, why};
        sinks.push_back(std::make_unique<PipeSink>(encoder.input_fd(), renderer_.frame_bytes(),
                                                   "writing frames to ffmpeg"));
        if (s.video_kbps > 0)
            say("a constant " + std::to_string(s.video_kbps) + " kbit/s" +
                (music.empty() ? "" : " + " + std::to_string(s.audio_kbps) + " kbit/s of sound") +
                " for " + format("%.3f s", s.duration_s) + ": the file will be about " +
                format("%.1f MB", (s.video_kbps + (music.empty() ? 0 : s.audio_kbps)) *
                                      s.duration_s / 8000.0));
    } else if (o_.sink == "raw") {
        raw_fd = out.create(&why);
        if (raw_fd < 0)
            throw Failure{EXIT_FAILED, why};
        sinks.push_back(
            std::make_unique<PipeSink>(raw_fd, renderer_.frame_bytes(), "writing raw frames"));
    }
    int sums_fd = -1;
    if (!o_.sums_file.empty()) {
        sums_fd = sums_out.create(&why);
        if (sums_fd < 0)
            throw Failure{EXIT_FAILED, why};
        sinks.push_back(std::make_unique<DigestSink>(clock_, size.width, size.height, false,
                                                     sums_fd, sums_header(size, false)));
    }
    std::vector<FrameSink *> sink_list;
    for (auto &s : sinks)
        sink_list.push_back(s.get());

    FramePipeline pipeline(renderer_.frame_bytes(), sink_list);
    Progress progress(count, !o_.quiet);
    const auto how =
        o_.readback == "sync" ? ShowRenderer::Readback::sync : ShowRenderer::Readback::pbo;
    const bool drawn = stream(first, last, how, pipeline, progress);
    if (!drawn || stop_signal()) {
        progress.clear();
        if (stop_signal()) {
            encoder.kill();
            pipeline.abort();
            return stopped();
        }
        // A sink failed: the encoder most likely stopped; its own words say why.
        why = pipeline.error();
        pipeline.abort();
        std::string said;
        if (to_ffmpeg && !encoder.finish(&said))
            why = said;
        throw Failure{EXIT_FAILED, why};
    }
    progress.note("finishing " +
                  (o_.output.empty() ? std::string("the capture") : shown(o_.output)) + " ...");
    bool ok = pipeline.finish(&why);
    Progress second_pass(count, !o_.quiet && o_.compo, "second pass ");
    if (ok && to_ffmpeg)
        ok = encoder.finish(&why, [&](uint64_t n) { second_pass.update(n); });
    else if (!ok)
        encoder.kill();
    second_pass.clear();
    progress.clear();
    if (stop_signal())
        return stopped();
    for (int fd : {raw_fd, sums_fd})
        if (fd >= 0 && close(fd) != 0 && ok) {
            ok = false;
            why = "writing an output file failed";
        }
    if (!ok)
        throw Failure{EXIT_FAILED, why};
    if ((!o_.output.empty() && o_.sink != "null" && !out.commit(&why)) ||
        (!o_.sums_file.empty() && !sums_out.commit(&why)))
        throw Failure{EXIT_FAILED, why};
    const double took = progress.seconds();
    say(std::to_string(count) + " frames (bars " + std::to_string(range.first) + " to " +
        std::to_string(range.last) + ", " + format("%.3f s", count / double(clock_.fps())) +
        ") in " + format("%.1f s", took) + " (" + format("%.1f fps", count / took) + ")" +
        (o_.output.empty() || o_.sink == "null" ? std::string() : " -> " + shown(o_.output)) +
        size_label(size) + (to_ffmpeg && music.empty() ? silent : ""));
    return 0;
}

int Capture::sums() {
    const moment::BarRange range = bar_range({0, moment::END_BAR});
    const uint64_t first = clock_.first_frame_of_bar(range.first);
    const uint64_t last = clock_.last_frame_of_bar(range.last);
    const FrameSize size = frame_size(false);
    AtomicOutput out;
    // Without -o the manifest goes to the standard output saved at start: the show's own
    // messages were moved to standard error so they cannot mix with it.
    prepare(out, o_.output.empty() ? "-" : o_.output, false);
    open_renderer(size);
    std::string why;
    const int fd = out.create(&why);
    if (fd < 0)
        throw Failure{EXIT_FAILED, why};
    DigestSink digest(clock_, size.width, size.height, o_.per_bar, fd,
                      sums_header(size, o_.per_bar));
    FramePipeline pipeline(renderer_.frame_bytes(), {&digest});
    Progress progress(last - first + 1, !o_.quiet);
    const bool drawn = stream(first, last, ShowRenderer::Readback::pbo, pipeline, progress);
    progress.clear();
    if (stop_signal()) {
        pipeline.abort();
        close(fd);
        return stopped();
    }
    bool ok = drawn && pipeline.finish(&why);
    if (!drawn) {
        why = pipeline.error();
        pipeline.abort();
    }
    // A reader that stopped reading (`sums | head`) took all it wanted: the drawing stops at
    // once, without a word, and the status is 0.
    if (!ok && digest.reader_gone()) {
        close(fd);
        return 0;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        why = "writing " + out.name() + " failed";
    }
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why.empty() ? "the capture stopped" : why};
    say(std::to_string(last - first + 1) + " frames summed" +
        (o_.output.empty() || o_.output == "-" ? std::string() : " -> " + o_.output));
    return 0;
}

} // namespace capture

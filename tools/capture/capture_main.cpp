// The capture program: the show drawn offscreen on an exact clock, frame by frame, written as
// a still, a contact sheet, an H.264 video with the music, or a checksum manifest.
#include "capture.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>
#include <cairo.h>

#include "atomic_output.h"
#include "encoder.h"
#include "frame_clock.h"
#include "frame_pipeline.h"
#include "pictures.h"
#include "progress.h"
#include "runtime/runtime.h"
#include "show_renderer.h"

namespace capture {

namespace {

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;
const char *const MUSIC_FILE = "ruvo_megasong_bpm_124c.ogg";
const char *const LOGO_FILE = "logo3.png";

struct Options {
    std::string data_dir;
    bool quiet = false;
    unsigned fps = 60;
    std::string output;
    bool force = false;
    std::string bars;
    // still
    std::string time;
    std::string after;
    // sheet
    unsigned every = 1;
    unsigned columns = 8;
    unsigned thumb_width = 240;
    double beat = 0.0;
    // video
    unsigned crf = 18;
    std::string preset = "veryfast";
    std::string music;
    bool no_audio = false;
    std::string sums_file;
    std::string sink = "ffmpeg";
    std::string readback = "pbo";
    // sums
    bool per_bar = false;
    int data_fd = -1; // the standard output the program was given
};

// A failure with the status the program exits with.
struct Failure {
    int status;
    std::string message;
};

class Capture {
  public:
    Capture(const ShowBuild &build, const Options &o)
        : build_(build), o_(o), clock_(o.fps), tool_(std::string(build.name) + "_capture") {}

    int still();
    int sheet();
    int video();
    int sums();

  private:
    void say(const std::string &text) const {
        if (!o_.quiet)
            note(text);
    }
    // Said even when quiet: what the output lacks.
    void note(const std::string &text) const {
        std::fprintf(stderr, "%s: %s\n", tool_.c_str(), text.c_str());
    }
    int stopped() const {
        std::fprintf(stderr, "%s: interrupted; no output written\n", tool_.c_str());
        return 128 + stop_signal();
    }
    std::string data_path(const char *file) const { return o_.data_dir + "/" + file; }
    BarRange bar_range(const BarRange &whole) const;
    void prepare(AtomicOutput &out, const std::string &path) const;
    void open_renderer();
    std::string frame_label(uint64_t n) const;

    const ShowBuild &build_;
    const Options &o_;
    FrameClock clock_;
    std::string tool_;
    ShowRenderer renderer_;
};

bool is_file(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_dir(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string format(const char *fmt, double v) {
    char s[64];
    std::snprintf(s, sizeof s, fmt, v);
    return s;
}

BarRange Capture::bar_range(const BarRange &whole) const {
    if (o_.bars.empty())
        return whole;
    std::string why;
    const auto range = parse_bars(o_.bars, &why);
    if (!range)
        throw Failure{EXIT_USAGE, why};
    return *range;
}

void Capture::prepare(AtomicOutput &out, const std::string &path) const {
    std::string why;
    if (!out.prepare(path, o_.force, &why))
        throw Failure{EXIT_USAGE, why};
}

void Capture::open_renderer() {
    if (!is_file(data_path(LOGO_FILE)))
        note("note: no " + data_path(LOGO_FILE) + "; the frames have no logo, as the show would");
    std::string why;
    if (!renderer_.open(build_.width, build_.height, o_.data_dir, &why))
        throw Failure{EXIT_FAILED, "no offscreen OpenGL context: " + why};
    if (!renderer_.window_like())
        note("note: no GL_MESA_framebuffer_flip_y; single edge pixels may differ from the "
             "show's window");
}

std::string Capture::frame_label(uint64_t n) const {
    return "frame " + std::to_string(n) + " at " + std::to_string(clock_.fps()) + " fps (aika " +
           std::to_string(clock_.aika(n)) + " ms, bar " + std::to_string(clock_.tahdit(n)) + ")";
}

int Capture::still() {
    std::string why;
    const auto at = parse_time(o_.time, &why);
    if (!at)
        throw Failure{EXIT_USAGE, why};
    const uint64_t end = clock_.end_frame();
    const std::string end_text = "the show ends with the frame at " +
                                 std::to_string(clock_.aika(end)) + " ms (at " +
                                 std::to_string(clock_.fps()) + " fps)";
    uint32_t prev = 0, now = 0;
    uint64_t n = 0;
    if (!o_.after.empty()) {
        const auto before = parse_time(o_.after, &why);
        if (!before)
            throw Failure{EXIT_USAGE, why};
        if (*at > 4.0e9 || *before > 4.0e9)
            throw Failure{EXIT_USAGE, "time " + o_.time + " is beyond the show: " + end_text};
        prev = static_cast<uint32_t>(std::llround(*before));
        now = static_cast<uint32_t>(std::llround(*at));
        if (prev > now)
            throw Failure{EXIT_USAGE,
                          "--after " + o_.after + " comes after the frame's time " + o_.time};
        // The show ends after the first frame whose bar number passes the last bar, so the
        // frame before this one (its own bar from a frame at the same spacing before it) must
        // not have been that frame.
        const uint32_t step = now - prev;
        if (bar_after(prev >= step ? prev - step : 0) > LAST_BAR)
            throw Failure{EXIT_USAGE, "time " + o_.time + " after " + o_.after +
                                          " is beyond the show, which ends with the first "
                                          "frame whose bar number passes " +
                                          std::to_string(LAST_BAR)};
    } else {
        n = clock_.nearest_frame(*at);
        if (n > end)
            throw Failure{EXIT_USAGE, "time " + o_.time + " is beyond the show: " + end_text};
    }
    AtomicOutput out;
    prepare(out, o_.output);
    open_renderer();

    std::vector<uint8_t> pixels(renderer_.frame_bytes());
    if (!o_.after.empty()) {
        // The frame before the previous one is taken at the same spacing; it only decides the
        // bar number of the previous frame, whose clear colour this frame shows.
        const uint32_t step = now - prev;
        renderer_.draw(prev >= step ? prev - step : 0, prev);
        renderer_.draw(prev, now);
        renderer_.read(pixels.data());
    } else {
        renderer_.render(clock_, n, n, ShowRenderer::Readback::sync,
                         [&](uint64_t, const uint8_t *px) {
                             std::copy(px, px + pixels.size(), pixels.begin());
                             return true;
                         });
    }
    if (stop_signal())
        return stopped();
    cairo_surface_t *image = frame_surface(pixels.data(), build_.width, build_.height);
    const int fd = out.create(&why);
    bool ok = fd >= 0 && write_png(image, fd, &why);
    cairo_surface_destroy(image);
    if (fd >= 0 && close(fd) != 0 && ok) {
        ok = false;
        why = "writing '" + out.temp_path() + "' failed";
    }
    if (stop_signal())
        return stopped();
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why};
    if (!o_.after.empty())
        say("aika " + std::to_string(now) + " ms after " + std::to_string(prev) + " ms (bar " +
            std::to_string(bar_after(prev)) + ") -> " + o_.output);
    else
        say(frame_label(n) + " -> " + o_.output);
    return 0;
}

int Capture::sheet() {
    const BarRange range = bar_range({0, LAST_BAR});
    if (o_.beat < 0.0 || o_.beat >= 4.0)
        throw Failure{EXIT_USAGE, "--beat must be from 0 to below 4"};
    std::vector<uint64_t> frames;
    std::vector<uint32_t> bars;
    for (uint32_t b = range.first; b <= range.last; b += o_.every) {
        const uint64_t first = clock_.first_frame_of_bar(b);
        uint64_t n = std::max(first, clock_.nearest_frame(beat_ms(4.0 * b + o_.beat)));
        n = std::min(n, clock_.last_frame_of_bar(b));
        frames.push_back(n);
        bars.push_back(b);
    }
    AtomicOutput out;
    prepare(out, o_.output);
    open_renderer();

    const std::string every =
        o_.every == 1 ? "every bar" : "every " + std::to_string(o_.every) + " bars";
    const std::string title = std::string(build_.name) + "  " + std::to_string(build_.width) + "x" +
                              std::to_string(build_.height) + "  -  one frame " + every +
                              ", bars " + std::to_string(range.first) + " to " +
                              std::to_string(bars.back()) + ", at " + std::to_string(clock_.fps()) +
                              " fps";
    ContactSheet sheet(build_.width, build_.height, static_cast<int>(frames.size()),
                       static_cast<int>(o_.columns), static_cast<int>(o_.thumb_width), title);
    Progress progress(frames.size(), !o_.quiet);
    for (size_t i = 0; i < frames.size(); ++i) {
        if (stop_signal())
            return stopped();
        const uint64_t n = frames[i];
        renderer_.render(clock_, n, n, ShowRenderer::Readback::sync,
                         [&](uint64_t, const uint8_t *px) {
                             sheet.add(static_cast<int>(i), px,
                                       "bar " + std::to_string(bars[i]) + "   " +
                                           format("%.3f s", clock_.aika(n) / 1000.0));
                             return true;
                         });
        progress.update(i + 1);
    }
    progress.clear();
    std::string why;
    const int fd = out.create(&why);
    bool ok = fd >= 0 && sheet.write(fd, &why);
    if (fd >= 0 && close(fd) != 0 && ok) {
        ok = false;
        why = "writing '" + out.temp_path() + "' failed";
    }
    if (stop_signal())
        return stopped();
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why};
    say(std::to_string(frames.size()) + " frames, " + every + " -> " + o_.output);
    return 0;
}

int Capture::video() {
    const BarRange range = bar_range({0, END_BAR});
    const uint64_t first = clock_.first_frame_of_bar(range.first);
    const uint64_t last = clock_.last_frame_of_bar(range.last);
    const uint64_t count = last - first + 1;
    const bool to_ffmpeg = o_.sink == "ffmpeg";
    if (o_.output.empty() && o_.sink != "null")
        throw Failure{EXIT_USAGE, "video needs an output file (-o FILE)"};

    std::string ffmpeg;
    if (to_ffmpeg) {
        ffmpeg = find_program("ffmpeg");
        if (ffmpeg.empty())
            throw Failure{EXIT_FAILED, "ffmpeg is not on PATH; the video is encoded with the "
                                       "ffmpeg command line (Debian package ffmpeg)"};
    }
    std::string music;
    if (to_ffmpeg && !o_.no_audio) {
        music = o_.music.empty() ? data_path(MUSIC_FILE) : o_.music;
        if (!is_file(music)) {
            if (!o_.music.empty())
                throw Failure{EXIT_USAGE, "no music file '" + music + "'"};
            note("note: no " + music + "; the video has no sound");
            music.clear();
        }
    }
    AtomicOutput out, sums_out;
    if (!o_.output.empty())
        prepare(out, o_.output);
    if (!o_.sums_file.empty())
        prepare(sums_out, o_.sums_file);
    open_renderer();

    std::string why;
    Encoder encoder;
    int raw_fd = -1;
    std::vector<std::unique_ptr<FrameSink>> sinks;
    if (to_ffmpeg) {
        EncodeSettings s;
        s.width = build_.width;
        s.height = build_.height;
        s.fps = clock_.fps();
        s.crf = o_.crf;
        s.preset = o_.preset;
        s.music = music;
        // Frame n is shown from n / fps seconds into the whole show's video; a range starts
        // its music at its first frame's place.
        s.music_offset_s = static_cast<double>(first) / clock_.fps();
        s.duration_s = static_cast<double>(count) / clock_.fps();
        s.output = out.temp_path();
        if (!encoder.start(ffmpeg, s, &why))
            throw Failure{EXIT_FAILED, why};
        sinks.push_back(std::make_unique<PipeSink>(encoder.input_fd(), renderer_.frame_bytes(),
                                                   "writing frames to ffmpeg"));
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
        sinks.push_back(std::make_unique<DigestSink>(
            clock_, build_.width, build_.height, false, sums_fd,
            "# " + tool_ + " sums " + std::to_string(build_.width) + "x" +
                std::to_string(build_.height) + " " + std::to_string(clock_.fps()) +
                " fps: frame aika bar sha256(RGB, top row first)\n"));
    }
    std::vector<FrameSink *> sink_list;
    for (auto &s : sinks)
        sink_list.push_back(s.get());

    FramePipeline pipeline(renderer_.frame_bytes(), sink_list);
    Progress progress(count, !o_.quiet);
    const auto how =
        o_.readback == "sync" ? ShowRenderer::Readback::sync : ShowRenderer::Readback::pbo;
    const bool drawn =
        renderer_.render(clock_, first, last, how, [&](uint64_t n, const uint8_t *px) {
            if (stop_signal() || !pipeline.push(n, px))
                return false;
            progress.update(n - first + 1);
            return true;
        });
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
    progress.note("finishing " + (o_.output.empty() ? std::string("the capture") : o_.output) +
                  " ...");
    bool ok = pipeline.finish(&why);
    if (ok && to_ffmpeg)
        ok = encoder.finish(&why);
    else if (!ok)
        encoder.kill();
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
        (o_.output.empty() || o_.sink == "null" ? std::string() : " -> " + o_.output) +
        (to_ffmpeg && music.empty() ? " without sound" : ""));
    return 0;
}

int Capture::sums() {
    const BarRange range = bar_range({0, END_BAR});
    const uint64_t first = clock_.first_frame_of_bar(range.first);
    const uint64_t last = clock_.last_frame_of_bar(range.last);
    AtomicOutput out;
    if (!o_.output.empty())
        prepare(out, o_.output);
    open_renderer();
    std::string why;
    // Without -o the manifest goes to the standard output saved at start: the show's own
    // messages were moved to standard error so they cannot mix with it.
    const int fd = o_.output.empty() ? o_.data_fd : out.create(&why);
    if (fd < 0)
        throw Failure{EXIT_FAILED, why};
    const std::string header = "# " + tool_ + " sums " + std::to_string(build_.width) + "x" +
                               std::to_string(build_.height) + " " + std::to_string(clock_.fps()) +
                               " fps: " +
                               (o_.per_bar ? "bar first-last sha256(RGB of the bar's frames, "
                                             "top row first)\n"
                                           : "frame aika bar sha256(RGB, top row first)\n");
    DigestSink digest(clock_, build_.width, build_.height, o_.per_bar, fd, header);
    FramePipeline pipeline(renderer_.frame_bytes(), {&digest});
    Progress progress(last - first + 1, !o_.quiet);
    const bool drawn = renderer_.render(clock_, first, last, ShowRenderer::Readback::pbo,
                                        [&](uint64_t n, const uint8_t *px) {
                                            if (stop_signal() || !pipeline.push(n, px))
                                                return false;
                                            progress.update(n - first + 1);
                                            return true;
                                        });
    progress.clear();
    if (stop_signal()) {
        pipeline.abort();
        return stopped();
    }
    bool ok = drawn && pipeline.finish(&why);
    if (fd != o_.data_fd && close(fd) != 0 && ok) {
        ok = false;
        why = "writing '" + out.temp_path() + "' failed";
    }
    if (!ok || (!o_.output.empty() && !out.commit(&why)))
        throw Failure{EXIT_FAILED, why.empty() ? "the capture stopped" : why};
    say(std::to_string(last - first + 1) + " frames summed" +
        (o_.output.empty() ? std::string() : " -> " + o_.output));
    return 0;
}

// The data folder a package installed, found from this program's own place; empty if none.
std::string installed_data_dir() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    const std::string exe(self, static_cast<size_t>(n));
    char *real = realpath((exe.substr(0, exe.rfind('/') + 1) + VELLAMOR_INSTALLED_DATA_DIR).c_str(),
                          nullptr);
    const std::string dir = real ? real : "";
    free(real);
    return dir;
}

std::string default_data_dir() {
    if (is_dir("data"))
        return "data";
    const std::string installed = installed_data_dir();
    if (is_dir(installed))
        return installed;
    if (is_dir(VELLAMOR_SOURCE_DATA_DIR))
        return VELLAMOR_SOURCE_DATA_DIR;
    return "data";
}

} // namespace

int capture_main(int argc, char **argv, const ShowBuild &build) {
    const std::string tool = std::string(build.name) + "_capture";
    Options o;
    o.data_dir = default_data_dir();

    CLI::App app{"Draws the show " + std::string(build.name) + " (" + std::to_string(build.width) +
                     "x" + std::to_string(build.height) +
                     ") offscreen, frame by frame on an exact clock: frame n at F frames per "
                     "second is drawn at the demo time round(n * 1000 / F) ms, with its bar "
                     "number from the frame before, as the show's own clock step gives it. "
                     "Needs no display and no sound device.",
                 tool};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--data", o.data_dir,
                   "folder with logo3.png and the music (default: ./data, else the installed "
                   "data, else the source tree's data)");
    app.add_flag("-q,--quiet", o.quiet, "no progress bar and no summary line");
    app.footer("Times: milliseconds (61936 or 61936ms), seconds (61.9s) or bar:beat (32:0 is "
               "bar 32, beat 0; beats 0 to below 4). Bars: FIRST:LAST, FIRST: or BAR, 0 to " +
               std::to_string(END_BAR) + ", where bar " + std::to_string(END_BAR) +
               " is the show's closing frame.\nOutput is written to a hidden temporary file "
               "beside the destination and renamed when complete; an existing file is "
               "replaced only with --force.\nExit status: 0 done, 1 failed, 2 bad "
               "command line or input, 128+N stopped by signal N.");

    auto common = [&](CLI::App *sub, bool output_required) {
        auto *out = sub->add_option("-o,--output", o.output, "the file to write");
        if (output_required)
            out->required();
        sub->add_flag("-f,--force", o.force, "replace an existing output file");
        sub->add_option("--fps", o.fps, "frames per second of the capture's clock (default 60)")
            ->check(CLI::Range(1u, 1000u));
    };

    auto *still = app.add_subcommand(
        "still", "One frame as PNG: the frame of the capture clock (--fps) nearest to TIME, "
                 "drawn after the frame before it, so it equals that frame of a video.");
    still->add_option("time", o.time, "when: 61936, 61.9s or 32:0")->required();
    common(still, true);
    still->add_option("--after", o.after,
                      "draw at exactly TIME (whole ms) after a frame at this time instead, as "
                      "the running show would when its clock steps from one to the other");

    auto *sheet = app.add_subcommand(
        "sheet", "A contact sheet as PNG: one labelled thumbnail every bar (or every N bars), "
                 "each the first frame of its bar (or the frame at --beat), bar number and "
                 "time under it.");
    common(sheet, true);
    sheet->add_option("--bars", o.bars,
                      "the bars to show (default 0:" + std::to_string(LAST_BAR) + ")");
    sheet->add_option("--every", o.every, "one thumbnail every N bars (default 1)")
        ->check(CLI::Range(1u, 100u));
    sheet->add_option("--beat", o.beat, "the beat within each bar to show (default 0)");
    sheet->add_option("--columns", o.columns, "thumbnails per row (default 8)")
        ->check(CLI::Range(1u, 64u));
    sheet->add_option("--thumb-width", o.thumb_width, "thumbnail width in pixels (default 240)")
        ->check(CLI::Range(16u, 4096u));

    auto *video = app.add_subcommand(
        "video", "The whole show (or a range of bars) as H.264 video in MP4 with the music, "
                 "encoded by ffmpeg while the next frames are drawn.");
    common(video, false);
    video->add_option("--bars", o.bars,
                      "the bars to capture (default the whole show, 0:" + std::to_string(END_BAR) +
                          "); the music starts at the first one");
    video->add_option("--crf", o.crf, "x264 quality, 0 (lossless) to 51 (default 18)")
        ->check(CLI::Range(0u, 51u));
    video->add_option("--preset", o.preset, "x264 speed preset (default veryfast)")
        ->check(CLI::IsMember({"ultrafast", "superfast", "veryfast", "faster", "fast", "medium",
                               "slow", "slower", "veryslow"}));
    video->add_option("--music", o.music,
                      "the music file (default DATA/" + std::string(MUSIC_FILE) + ")");
    video->add_flag("--no-audio", o.no_audio, "a video without sound");
    video->add_option("--sums", o.sums_file,
                      "also write the checksum manifest of the frames (as `sums` does)");
    // For the speed measurements: the same drawing without the encoder, and the two readbacks.
    video->add_option("--sink", o.sink, "")
        ->check(CLI::IsMember({"ffmpeg", "raw", "null"}))
        ->group("");
    video->add_option("--readback", o.readback, "")
        ->check(CLI::IsMember({"pbo", "sync"}))
        ->group("");

    auto *sums = app.add_subcommand(
        "sums", "A checksum manifest: the SHA-256 of every frame (or of every bar's frames) "
                "over its RGB bytes, top row first, one line each, so two captures can be "
                "compared line by line; a still's PNG pixels give the same digest as its "
                "frame's line.");
    common(sums, false);
    sums->add_option("--bars", o.bars,
                     "the bars to sum (default the whole show, 0:" + std::to_string(END_BAR) + ")");
    sums->add_flag("--per-bar", o.per_bar, "one digest per bar instead of per frame");
    sums->footer("Without -o the manifest goes to standard output.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const auto rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty() && rest.front()[0] != '-') {
            std::fprintf(stderr,
                         "%s: '%s' is not a use of this program (still, sheet, video or "
                         "sums; see --help)\n",
                         tool.c_str(), rest.front().c_str());
            return EXIT_USAGE;
        }
        const int status = app.exit(e);
        return status == 0 ? 0 : EXIT_USAGE;
    }

    // The manifest may go to standard output; the show's own messages (a missing logo) go to
    // standard error instead; the manifest is written to a copy of the original stdout.
    std::fflush(stdout);
    o.data_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (o.data_fd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) != STDOUT_FILENO) {
        std::perror(tool.c_str());
        return EXIT_FAILED;
    }
    install_stop_handlers();
    // The beat grid everything is measured on, as the show's demo start sets it.
    bpm = 124.0f;
    interval = 60000.0f / bpm;

    Capture capture(build, o);
    try {
        if (*still)
            return capture.still();
        if (*sheet)
            return capture.sheet();
        if (*video)
            return capture.video();
        return capture.sums();
    } catch (const Failure &f) {
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), f.message.c_str());
        return f.status;
    }
}

} // namespace capture

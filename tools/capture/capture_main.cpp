// The capture program's command line: the show drawn offscreen on an exact clock, frame by
// frame, written as a still, a contact sheet, an H.264 video with the music, or a checksum
// manifest (the uses themselves are in capture_uses.cpp and capture_streams.cpp).
#include "capture.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "capture_uses.h"
#include "stop_signals.h"
#include "runtime/runtime.h"

namespace capture {

namespace {

bool is_dir(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// The data folder when --data is not given: ./data, else the installed data, else the source
// tree's. A folder that does not exist is no error here: the frames then have no logo and the
// video no sound.
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

// Puts /dev/null on each of descriptors 0 to 2 that the program was started without, so that
// no file opened later takes their number and receives the messages meant for a terminal;
// false for standard output when it was closed.
bool standard_output_given() {
    bool given = true;
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            if (fd == STDOUT_FILENO)
                given = false;
            const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
    return given;
}

} // namespace

int capture_main(int argc, char **argv, const ShowBuild &build) {
    const bool stdout_given = standard_output_given();
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
    auto *data = app.add_option("--data", o.data_dir,
                                "folder with logo3.png and the music (default: ./data, else "
                                "the installed data, else the source tree's data); a file "
                                "missing from it is left out");
    app.add_flag("-q,--quiet", o.quiet, "no progress bar and no summary line");
    app.footer("Times: milliseconds (61936 or 61936ms), seconds (61.9s) or bar:beat (32:0 is "
               "bar 32, beat 0; beats 0 to below 4). Bars: FIRST:LAST, FIRST: or BAR, 0 to " +
               std::to_string(moment::END_BAR) + ", where bar " + std::to_string(moment::END_BAR) +
               " is the show's closing frame.\nOutput is written to a hidden temporary file "
               "beside the destination and renamed when complete; an existing file is "
               "replaced only with --force. -o - writes to standard output; an existing FIFO "
               "or character device is written through.\nExit status: 0 done, 1 failed, 2 bad "
               "command line or input, 128+N stopped by signal N (SIGINT, SIGTERM, SIGHUP, "
               "SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM).");

    auto common = [&](CLI::App *sub, bool output_required) {
        auto *out =
            sub->add_option("-o,--output", o.output, "the file to write (- for standard output)");
        if (output_required)
            out->required();
        sub->add_flag("-f,--force", o.force,
                      "replace an existing output file (never anything but a file)");
        sub->add_option("--fps", o.fps, "frames per second of the capture's clock (default 60)")
            ->check(CLI::Range(1u, 1000u));
    };

    auto sizes = [&](CLI::App *sub) {
        sub->add_option("--size", o.size,
                        "frame size WIDTHxHEIGHT of the build's aspect (default " +
                            std::to_string(build.width) + "x" + std::to_string(build.height) +
                            "; for example " + std::to_string(build.width * 3 / 2) + "x" +
                            std::to_string(build.height * 3 / 2) + " or " +
                            std::to_string(build.width * 3) + "x" +
                            std::to_string(build.height * 3) + ")");
        sub->add_option("--supersample", o.supersample,
                        "draw each frame N times as large each way and filter it down (mean of "
                        "each NxN block in linear light), 1 to " +
                            std::to_string(MAX_SUPERSAMPLE) + " (default 1)")
            ->check(CLI::Range(1, MAX_SUPERSAMPLE));
        sub->footer("At the build's own size and --supersample 1 (the default) a frame is the "
                    "real program's frame, bit for bit; at another size or supersampled it is "
                    "the same picture drawn finer, no longer bit-identical to it.");
    };

    auto *still = app.add_subcommand(
        "still", "One frame as PNG: the frame of the capture clock (--fps) nearest to TIME, "
                 "drawn after the frame before it, so it equals that frame of a video.");
    still->add_option("time", o.time, "when: 61936, 61.9s or 32:0")->required();
    common(still, true);
    still->add_option("--after", o.after,
                      "draw at exactly TIME (whole ms) after a frame at this time instead, as "
                      "the running show would when its clock steps from one to the other");
    sizes(still);

    auto *sheet = app.add_subcommand(
        "sheet", "A contact sheet as PNG: one labelled thumbnail every bar (or every N bars), "
                 "each the first frame of its bar (or the frame at --beat), bar number and "
                 "time under it.");
    common(sheet, true);
    sheet->add_option("--bars", o.bars,
                      "the bars to show (default 0:" + std::to_string(moment::LAST_BAR) + ")");
    sheet->add_option("--every", o.every, "one thumbnail every N bars (default 1)")
        ->check(CLI::Range(1u, 100u));
    sheet->add_option("--beat", o.beat,
                      "the beat within each bar to show, 0 to below 4 (default 0)");
    sheet->add_option("--columns", o.columns, "thumbnails per row (default 8)")
        ->check(CLI::Range(1u, 64u));
    sheet->add_option("--thumb-width", o.thumb_width, "thumbnail width in pixels (default 240)")
        ->check(CLI::Range(16u, 4096u));

    auto *video = app.add_subcommand(
        "video", "The whole show (or a range of bars) as MP4 for publishing, encoded by ffmpeg "
                 "while the next frames are drawn: H.264 High profile, yuv420p tagged BT.709, "
                 "constant frame rate, the music as AAC stereo at 48 kHz, a chapter for each "
                 "movement, the index at the front. For a video site: --size 3840x2160 "
                 "--supersample 2.");
    common(video, false);
    sizes(video);
    video->add_option("--bars", o.bars,
                      "the bars to capture (default the whole show, 0:" +
                          std::to_string(moment::END_BAR) + "); the music starts at the first one");
    video
        ->add_option("--crf", o.crf,
                     "x264 quality, 0 (lossless, High 4:4:4 Predictive) to 51 (default 18)")
        ->check(CLI::Range(0u, 51u));
    video->add_option("--preset", o.preset, "x264 speed preset (default veryfast)")
        ->check(CLI::IsMember({"ultrafast", "superfast", "veryfast", "faster", "fast", "medium",
                               "slow", "slower", "veryslow"}));
    video->add_option("--music", o.music,
                      "the music file (default DATA/" + std::string(MUSIC_FILE) +
                          "); one that ends before the range starts is refused");
    video->add_flag("--no-audio", o.no_audio, "a video without sound");
    auto part = [&](CLI::App *sub, const std::string &what) {
        sub->add_option("--part", o.part,
                        "only part K of N of the range's frames (K/N, e.g. 2/8): contiguous, "
                        "nearly equal parts, each frame drawn as one process draws it" +
                            what);
    };
    part(video, "; the part has no sound and no chapters, and carries what `join` checks");
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
    sums->add_option(
        "--bars", o.bars,
        "the bars to sum (default the whole show, 0:" + std::to_string(moment::END_BAR) + ")");
    sums->add_flag("--per-bar", o.per_bar, "one digest per bar instead of per frame");
    sizes(sums);
    part(sums, "; the parts' lines in order are the whole range's");

    auto *join = app.add_subcommand(
        "join", "One publishing video from the parts that `video --part K/N` made (on any "
                "machines, in any order): the pictures copied, not encoded again, the music "
                "for the whole range as AAC once, the chapters and tags of a video made in one "
                "go. Refuses, writing nothing, parts missing, given twice, cut short or from "
                "another range, size, encoding or build, naming which.");
    join->add_option("parts", o.parts, "the part files, every part once, in any order")->required();
    join->add_option("-o,--output", o.output, "the video to write")->required();
    join->add_flag("-f,--force", o.force, "replace an existing output file");
    join->add_option("--music", o.music,
                     "the music file (default DATA/" + std::string(MUSIC_FILE) + ")");
    join->add_flag("--no-audio", o.no_audio, "a video without sound");
    sums->footer("Without -o the manifest goes to standard output, each line as soon as its "
                 "frame is drawn; a reader that stops reading (sums | head) ends the capture "
                 "at once, quietly, with status 0.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const auto rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty() && rest.front()[0] != '-') {
            std::fprintf(stderr,
                         "%s: '%s' is not a use of this program (still, sheet, video, "
                         "sums or join; see --help)\n",
                         tool.c_str(), rest.front().c_str());
            return EXIT_USAGE;
        }
        const int status = app.exit(e);
        return status == 0 ? 0 : EXIT_USAGE;
    }

    // The manifest may go to standard output; the show's own messages (a missing logo) go to
    // standard error instead; the manifest is written to a copy of the original stdout.
    std::fflush(stdout);
    o.data_fd = stdout_given ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if ((stdout_given && o.data_fd < 0) || dup2(STDERR_FILENO, STDOUT_FILENO) != STDOUT_FILENO) {
        std::perror(tool.c_str());
        return EXIT_FAILED;
    }
    install_stop_handlers();
    // A folder named on the command line must be there; only the default may be missing.
    if (data->count() > 0 && !is_dir(o.data_dir)) {
        std::fprintf(stderr, "%s: no data folder '%s'\n", tool.c_str(), o.data_dir.c_str());
        return EXIT_USAGE;
    }
    Capture capture(build, o);
    try {
        if (*still)
            return capture.still();
        if (*sheet)
            return capture.sheet();
        if (*video)
            return capture.video();
        if (*join)
            return capture.join();
        return capture.sums();
    } catch (const Failure &f) {
        // A failure that a stop signal caused (an interrupted open or write) is the stop.
        if (stop_signal())
            return capture.stopped();
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), f.message.c_str());
        return f.status;
    }
}

} // namespace capture

#include "encoder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "failure.h"
#include "stop_signals.h"

namespace capture {

namespace {

std::string fixed(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%.6f", v);
    return s;
}

} // namespace

std::string find_program(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

Encoder::~Encoder() {
    kill();
}

double media_seconds(const std::string &ffmpeg, const std::string &file) {
    const auto slash = ffmpeg.find_last_of('/');
    std::string ffprobe = ffmpeg.substr(0, slash + 1) + "ffprobe";
    if (access(ffprobe.c_str(), X_OK) != 0)
        ffprobe = find_program("ffprobe");
    std::string text;
    if (ffprobe.empty() || !run_child({ffprobe, "-v", "error", "-show_entries", "format=duration",
                                       "-of", "csv=p=0", "--", file},
                                      &text))
        return -1.0;
    char *end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    return end != text.c_str() ? seconds : -1.0;
}

bool Encoder::start(const std::string &ffmpeg, const EncodeSettings &s, std::string *error) {
    std::vector<std::string> args = {ffmpeg,      "-hide_banner", "-nostdin",
                                     "-loglevel", "error",        "-y"};
    if (s.parts_list.empty())
        // The frames: raw RGBA as GL reads them, bottom row first (vflip only moves pointers).
        args.insert(args.end(), {"-f", "rawvideo", "-pix_fmt", "rgba", "-s",
                                 std::to_string(s.width) + "x" + std::to_string(s.height),
                                 "-framerate", std::to_string(s.fps), "-i", "pipe:0"});
    else
        args.insert(args.end(), {"-f", "concat", "-safe", "0", "-i", s.parts_list});
    int input = 1;
    if (!s.music.empty()) {
        // Seeking on the input decodes up to the offset, so the music starts sample-exact.
        args.insert(args.end(),
                    {"-ss", fixed(s.music_offset_s), "-t", fixed(s.duration_s), "-i", s.music});
        ++input;
    }
    // The chapters come as ffmpeg's metadata text on descriptor 3; the music's own chapters,
    // if it has any, are not the video's.
    std::string chapters;
    if (!s.chapters.empty()) {
        chapters = ";FFMETADATA1\n";
        for (const Chapter &c : s.chapters)
            chapters += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(c.start_ms) +
                        "\nEND=" + std::to_string(c.end_ms) + "\ntitle=" + c.title + "\n";
        args.insert(args.end(),
                    {"-f", "ffmetadata", "-i", "pipe:3", "-map_chapters", std::to_string(input)});
    } else {
        args.insert(args.end(), {"-map_chapters", "-1"});
    }
    args.insert(args.end(), {"-map", "0:v"});
    if (!s.music.empty())
        args.insert(args.end(), {"-map", "1:a"});
    if (s.parts_list.empty()) {
        args.insert(args.end(), {"-vf", "vflip,scale=out_color_matrix=bt709:out_range=tv", "-c:v",
                                 "libx264", "-preset", s.preset, "-crf", std::to_string(s.crf)});
        // High profile whatever the preset (ultrafast alone would drop the 8x8 transform and
        // with it to Baseline); lossless needs the High 4:4:4 Predictive profile x264 picks.
        if (s.crf > 0)
            args.insert(args.end(), {"-profile:v", "high", "-x264-params", "8x8dct=1"});
        args.insert(args.end(),
                    {"-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
                     "-color_trc", "bt709", "-color_range", "tv", "-fps_mode", "cfr"});
    } else {
        // The parts' pictures as they are: their profile and colour tags come along.
        args.insert(args.end(), {"-c:v", "copy", "-map_metadata:g", "-1"});
    }
    if (!s.music.empty())
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k", "-ar", "48000", "-ac", "2"});
    for (const auto &[key, value] : s.tags)
        args.insert(args.end(), {"-metadata", key + "=" + value});
    // Tags of the program's own need the muxer's free-form keys.
    args.insert(args.end(),
                {"-movflags", s.tags.empty() ? "+faststart" : "+faststart+use_metadata_tags", "-f",
                 "mp4", s.output});

    int pipe_fds[2], meta_fds[2] = {-1, -1};
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return fail(error, std::string("pipe: ") + std::strerror(errno));
    // A larger pipe means fewer wake-ups per frame; the system's limit may refuse, which is fine.
    fcntl(pipe_fds[1], F_SETPIPE_SZ, 1 << 20);
    if (!chapters.empty()) {
        // A few hundred bytes: the pipe holds them all before ffmpeg starts reading.
        if (pipe2(meta_fds, O_CLOEXEC) != 0 ||
            write(meta_fds[1], chapters.data(), chapters.size()) !=
                static_cast<ssize_t>(chapters.size())) {
            for (int fd : {pipe_fds[0], pipe_fds[1], meta_fds[0], meta_fds[1]})
                if (fd >= 0)
                    close(fd);
            return fail(error, std::string("passing the chapters: ") + std::strerror(errno));
        }
        close(meta_fds[1]);
    }
    FILE *log = std::tmpfile();
    log_ = log ? fcntl(fileno(log), F_DUPFD_CLOEXEC, 3) : -1;
    if (log)
        std::fclose(log);

    ChildDescriptors fds;
    fds.in = pipe_fds[0];
    fds.err = log_;
    fds.extra = meta_fds[0];
    pid_ = start_child(args, fds, error);
    close(pipe_fds[0]);
    if (meta_fds[0] >= 0)
        close(meta_fds[0]);
    if (pid_ < 0) {
        close(pipe_fds[1]);
        return false;
    }
    input_ = pipe_fds[1];
    return true;
}

std::string Encoder::messages() const {
    std::string text;
    if (log_ < 0)
        return text;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(log_, buf, sizeof buf, at)) > 0 && text.size() < 16384) {
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool Encoder::wait(std::string *error) {
    const int status = wait_child(pid_);
    pid_ = -1;
    if (status < 0)
        return fail(error, std::string("waiting for ffmpeg: ") + std::strerror(errno));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    std::string why = WIFEXITED(status)
                          ? "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status))
                          : "ffmpeg ended by signal " + std::to_string(WTERMSIG(status));
    const std::string said = messages();
    if (!said.empty())
        why += ":\n" + said;
    return fail(error, why);
}

bool Encoder::finish(std::string *error) {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (pid_ < 0)
        return fail(error, "ffmpeg is not running");
    return wait(error);
}

void Encoder::kill() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (log_ >= 0) {
        close(log_);
        log_ = -1;
    }
}

} // namespace capture

#include "encoder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "atomic_output.h"
#include "child_process.h"
#include "encoder_args.h"
#include "failure.h"
#include "stop_signals.h"

namespace capture {

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

namespace {

// A scratch folder of its own, or empty when none can be made.
std::string make_scratch() {
    for (const std::string &base : scratch_folders()) {
        std::string dir = base + "/vellamor-capture-XXXXXX";
        if (mkdtemp(dir.data()))
            return dir;
    }
    return {};
}

void remove_scratch(const std::string &dir) {
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                unlink((dir + "/" + e->d_name).c_str());
        closedir(d);
    }
    rmdir(dir.c_str());
}

} // namespace

bool Encoder::start(const std::string &ffmpeg, const EncodeSettings &s, std::string *error) {
    ffmpeg_ = ffmpeg;
    settings_ = s;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return fail(error, std::string("pipe: ") + std::strerror(errno));
    // A larger pipe means fewer wake-ups per frame; the system's limit may refuse, which is fine.
    fcntl(pipe_fds[1], F_SETPIPE_SZ, 1 << 20);
    std::vector<std::string> args = ffmpeg_command(ffmpeg);
    append(args, frames_input(s));
    std::string chapters;
    if (s.video_kbps == 0) {
        std::vector<std::string> video = {"-vf", TO_YUV};
        append(video, h264_options(s, 0, ""));
        append(args, mp4_output(s, video));
        chapters = chapters_text(s);
    } else {
        // The first pass sees the very frames the second reads back from the copy: converted
        // once, and kept losslessly in the same yuv420p.
        scratch_ = make_scratch();
        if (scratch_.empty()) {
            close(pipe_fds[0]);
            close(pipe_fds[1]);
            return fail(error, std::string("no room for a scratch folder in TMPDIR or /tmp: ") +
                                   std::strerror(errno));
        }
        append(args,
               {"-filter_complex", std::string("[0:v]") + TO_YUV + ",format=yuv420p,split[a][b]",
                "-map", "[a]"});
        append(args, h264_options(s, 1, scratch_ + "/x264"));
        append(args, {"-f", "null", "-", "-map", "[b]", "-c:v", "libx264", "-preset", "ultrafast",
                      "-qp", "0", "-f", "nut", scratch_ + "/frames.nut"});
    }
    if (!spawn(args, pipe_fds[0], chapters, -1, error)) {
        close(pipe_fds[1]);
        return false;
    }
    input_ = pipe_fds[1];
    return true;
}

bool Encoder::spawn(std::vector<std::string> args, int input, const std::string &chapters,
                    int progress, std::string *error) {
    int meta_fds[2] = {-1, -1};
    if (!chapters.empty()) {
        // A few hundred bytes: the pipe holds them all before ffmpeg starts reading.
        if (pipe2(meta_fds, O_CLOEXEC) != 0 ||
            write(meta_fds[1], chapters.data(), chapters.size()) !=
                static_cast<ssize_t>(chapters.size())) {
            for (int fd : {input, meta_fds[0], meta_fds[1]})
                if (fd >= 0)
                    close(fd);
            return fail(error, std::string("passing the chapters: ") + std::strerror(errno));
        }
        close(meta_fds[1]);
    }
    if (log_ < 0) {
        FILE *log = std::tmpfile();
        log_ = log ? fcntl(fileno(log), F_DUPFD_CLOEXEC, 3) : -1;
        if (log)
            std::fclose(log);
    }

    ChildDescriptors fds;
    fds.in = input;
    fds.err = log_;
    fds.extra[0] = meta_fds[0];
    fds.extra[1] = progress;
    pid_ = start_child(args, fds, error);
    if (input >= 0)
        close(input);
    if (meta_fds[0] >= 0)
        close(meta_fds[0]);
    return pid_ > 0;
}

bool Encoder::second_pass(std::string *error, const std::function<void(uint64_t)> &frames_done) {
    std::vector<std::string> args = ffmpeg_command(ffmpeg_);
    append(args, {"-nostats", "-progress", "pipe:4", "-i", scratch_ + "/frames.nut"});
    append(args, mp4_output(settings_, h264_options(settings_, 2, scratch_ + "/x264")));
    int progress[2];
    if (pipe2(progress, O_CLOEXEC) != 0)
        return fail(error, std::string("pipe: ") + std::strerror(errno));
    const bool started = spawn(args, -1, chapters_text(settings_), progress[1], error);
    close(progress[1]);
    // ffmpeg says "frame=N" about twice a second; the pipe ends when ffmpeg does, or when a
    // stop signal has ended it.
    std::string lines;
    char buf[1024];
    bool stopping = false;
    while (started) {
        if (stop_signal() && !stopping) {
            ::kill(pid_, SIGKILL);
            stopping = true;
        }
        const ssize_t n = read(progress[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        lines.append(buf, static_cast<size_t>(n));
        size_t end;
        while ((end = lines.find('\n')) != std::string::npos) {
            if (lines.compare(0, 6, "frame=") == 0 && frames_done)
                frames_done(std::strtoull(lines.c_str() + 6, nullptr, 10));
            lines.erase(0, end + 1);
        }
    }
    close(progress[0]);
    return started && wait(error);
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

bool Encoder::finish(std::string *error, const std::function<void(uint64_t)> &frames_done) {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (pid_ < 0)
        return fail(error, "ffmpeg is not running");
    const bool ok = wait(error) && (scratch_.empty() || second_pass(error, frames_done));
    if (!scratch_.empty()) {
        remove_scratch(scratch_);
        scratch_.clear();
    }
    return ok;
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
    if (!scratch_.empty()) {
        remove_scratch(scratch_);
        scratch_.clear();
    }
}

} // namespace capture

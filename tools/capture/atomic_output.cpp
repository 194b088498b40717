#include "atomic_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace capture {

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void on_stop(int signo) {
    stop_requested = signo;
}

bool fail(std::string *error, const std::string &why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

void install_stop_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a wait for ffmpeg is interrupted, so a stop is seen at once.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A dead encoder shows as EPIPE on the write, with its own message to report.
    signal(SIGPIPE, SIG_IGN);
}

int stop_signal() {
    return stop_requested;
}

AtomicOutput::~AtomicOutput() {
    discard();
}

bool AtomicOutput::prepare(const std::string &path, bool force, std::string *error) {
    path_ = path;
    force_ = force;
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        return fail(error, "'" + path + "' names a folder, not a file");
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(error, "output folder '" + dir + "' does not exist");
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(error, "'" + path + "' is a folder");
        if (!force)
            return fail(error, "'" + path + "' already exists (--force replaces it)");
    }
    temp_ = (slash == std::string::npos ? std::string() : dir) + "." + base + ".part-" +
            std::to_string(static_cast<long>(getpid()));
    return true;
}

int AtomicOutput::create(std::string *error) {
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(error, "cannot create '" + temp_ + "': " + std::strerror(errno));
    return fd;
}

bool AtomicOutput::commit(std::string *error) {
    if (force_) {
        if (rename(temp_.c_str(), path_.c_str()) != 0)
            return fail(error, "cannot rename '" + temp_ + "' to '" + path_ +
                                   "': " + std::strerror(errno));
    } else if (renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        // A file system without RENAME_NOREPLACE: link refuses an existing name as well.
        if (errno == EEXIST)
            return fail(error, "'" + path_ + "' appeared meanwhile (--force replaces it)");
        if (errno != EINVAL || link(temp_.c_str(), path_.c_str()) != 0)
            return fail(error, "cannot rename '" + temp_ + "' to '" + path_ +
                                   "': " + std::strerror(errno));
        unlink(temp_.c_str());
    }
    committed_ = true;
    return true;
}

void AtomicOutput::discard() {
    if (!committed_ && !temp_.empty())
        unlink(temp_.c_str());
}

} // namespace capture

#include "atomic_output.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "failure.h"
#include "stop_signals.h"

namespace capture {

namespace {

// The program's descriptor 1 was moved aside at start (the show's messages go to standard
// error instead), so the names of descriptor 1 stand for the saved standard output.
bool names_standard_output(const std::string &path) {
    return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" ||
           path == "/proc/self/fd/1" ||
           path == "/proc/" + std::to_string(static_cast<long>(getpid())) + "/fd/1";
}

// This machine's name, for temporary files that may lie in a folder other machines share.
std::string host_name() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0 || !*name)
        return "localhost";
    std::string host = name;
    std::replace(host.begin(), host.end(), '/', '_');
    return host;
}

// Removes the temporary files of `base` in `dir` that a capture on this machine left when it
// was killed outright (SIGKILL leaves no chance to clean up): those whose process is gone.
// A live process's file, or one of another machine, is never touched.
void remove_stale(const std::string &dir, const std::string &prefix) {
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        struct stat st {};
        if (kill(pid, 0) != 0 && errno == ESRCH &&
            fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == geteuid())
            unlinkat(dirfd(d), name.c_str(), 0);
    }
    closedir(d);
}

} // namespace

std::vector<std::string> scratch_folders() {
    const char *tmp = getenv("TMPDIR");
    return {tmp && *tmp ? tmp : "/tmp", "/tmp"};
}

std::string new_scratch_file() {
    for (const std::string &dir : scratch_folders()) {
        std::string name = dir + "/vellamor-capture-XXXXXX";
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return name;
        }
    }
    return {};
}

AtomicOutput::~AtomicOutput() {
    discard();
}

bool AtomicOutput::prepare(const std::string &path, bool force, int stdout_fd, std::string *error) {
    shown_ = path_ = path;
    force_ = force;
    stdout_fd_ = stdout_fd;
    if (names_standard_output(path)) {
        path_ = "-";
        through_ = true;
        return true;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        const bool link = S_ISLNK(st.st_mode);
        if (link && stat(path.c_str(), &st) != 0)
            return fail(error, "'" + path + "' is a symbolic link to nothing");
        if (S_ISDIR(st.st_mode))
            return fail(error, "'" + path + "' is a folder");
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
            through_ = true;
            if (S_ISFIFO(st.st_mode))
                final_ = "fifo " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
            return true;
        }
        if (!S_ISREG(st.st_mode))
            return fail(error, "'" + path + "' is not a file, a FIFO or a character device");
        if (!force)
            return fail(error, "'" + path + "' already exists (--force replaces it)");
        if (link) {
            // The link stays; the file it names is replaced.
            char *real = realpath(path.c_str(), nullptr);
            if (!real)
                return fail(error, "cannot follow '" + path + "': " + std::strerror(errno));
            path_ = real;
            free(real);
        }
    }
    const auto slash = path_.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        return fail(error, "'" + path + "' names a folder, not a file");
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(error, "output folder '" + dir + "' does not exist");
    char *real_dir = realpath(dir.c_str(), nullptr);
    final_ = std::string(real_dir ? real_dir : dir.c_str()) + "/" + base;
    free(real_dir);
    const std::string prefix = "." + base + ".part-" + host_name() + "-";
    remove_stale(dir, prefix);
    temp_ = (slash == std::string::npos ? std::string() : dir) + prefix +
            std::to_string(static_cast<long>(getpid()));
    return true;
}

std::string AtomicOutput::name() const {
    return path_ == "-" ? "standard output" : "'" + shown_ + "'";
}

bool AtomicOutput::same_destination(const AtomicOutput &other) const {
    if (path_ == "-" || other.path_ == "-")
        return path_ == other.path_;
    return !final_.empty() && final_ == other.final_;
}

int AtomicOutput::create(std::string *error) {
    int fd;
    if (through_ && path_ == "-")
        fd = fcntl(stdout_fd_, F_DUPFD_CLOEXEC, 3);
    else if (through_) // never O_CREAT: what is there is written, nothing is made in its place
        fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    else
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(error, "cannot open " + (through_ ? name() : "'" + temp_ + "'") + ": " +
                        std::strerror(errno));
    return fd;
}

std::string AtomicOutput::staged(std::string *error) {
    if (!through_ || !temp_.empty())
        return temp_;
    temp_ = new_scratch_file();
    if (!temp_.empty())
        return temp_;
    fail(error,
         std::string("no room for a temporary file in TMPDIR or /tmp: ") + std::strerror(errno));
    return {};
}

bool AtomicOutput::copy_through(std::string *error) {
    const int in = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return fail(error, "cannot read '" + temp_ + "': " + std::strerror(errno));
    const int out = create(error);
    bool ok = out >= 0;
    char buf[1 << 16];
    ssize_t n = 0;
    while (ok && (n = ::read(in, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR && !stop_signal())
            continue;
        ok = n > 0 && write_all(out, buf, static_cast<size_t>(n));
        if (!ok)
            fail(error, "writing " + name() + " failed: " + std::strerror(errno));
    }
    if (out >= 0 && close(out) != 0 && ok)
        ok = fail(error, "writing " + name() + " failed: " + std::strerror(errno));
    close(in);
    unlink(temp_.c_str());
    temp_.clear();
    return ok;
}

bool AtomicOutput::commit(std::string *error) {
    if (through_) {
        if (!temp_.empty() && !copy_through(error))
            return false;
        committed_ = true;
        return true;
    }
    if (force_) {
        // Something other than a file may have taken the name since the start.
        struct stat st {};
        if (lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return fail(error, "'" + shown_ + "' is no longer a file; nothing replaced it");
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

#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "failure.h"
#include "stop_signals.h"

extern char **environ;

namespace capture {

namespace {

// Between fork and exec only async-signal-safe calls: the parent has other threads (the GL
// driver's), whose locks the child inherits in whatever state they were.
[[noreturn]] void become(const std::vector<char *> &argv, const ChildDescriptors &fds, pid_t parent,
                         int report) {
    // The death signal follows the thread that forked: the capture starts its children from
    // its main thread, which lives as long as the program.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
    setpgid(0, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int signo = 1; signo < NSIG; ++signo)
        sigaction(signo, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int wanted[] = {fds.in, fds.out, fds.err};
    for (int target = 0; target < 3; ++target) {
        int fd = wanted[target];
        if (fd < 0)
            fd = open("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
        if (fd < 0 || dup2(fd, target) != target)
            break;
    }
    if (fds.extra >= 0)
        dup2(fds.extra, 3);
    execve(argv[0], argv.data(), environ);
    const int code = errno;
    (void)!write(report, &code, sizeof code);
    _exit(127);
}

} // namespace

pid_t start_child(const std::vector<std::string> &args, const ChildDescriptors &fds,
                  std::string *error) {
    std::vector<std::string> copy = args;
    std::vector<char *> argv;
    for (auto &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // A failed exec is told through this pipe, which a successful one closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return fail(error, std::string("pipe: ") + std::strerror(errno)), -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        become(argv, fds, parent, report[1]);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return fail(error, "cannot start " + args[0] + ": " + std::strerror(errno)), -1;
    }
    int code = 0;
    ssize_t n;
    while ((n = read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == sizeof code) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return fail(error, "cannot start " + args[0] + ": " + std::strerror(code)), -1;
    }
    return pid;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
        if (stop_signal())
            kill(pid, SIGKILL);
    }
    return status;
}

bool run_child(const std::vector<std::string> &args, std::string *output) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    ChildDescriptors fds;
    fds.out = out[1];
    const pid_t pid = start_child(args, fds, nullptr);
    close(out[1]);
    char buf[4096];
    ssize_t n;
    while (pid > 0 && ((n = read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            output->append(buf, static_cast<size_t>(n));
    close(out[0]);
    if (pid < 0)
        return false;
    const int status = wait_child(pid);
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace capture

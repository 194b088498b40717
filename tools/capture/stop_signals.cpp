#include "stop_signals.h"

#include <cerrno>
#include <unistd.h>

namespace capture {

namespace {

// Every signal whose default would end the program without a word and leave its temporary
// files: those of a terminal, of kill, of a scheduler's warning before a time limit (Slurm's
// --signal sends SIGUSR1 by choice) and of a CPU time limit.
const int STOP_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,  SIGUSR1,
                            SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM};

volatile std::sig_atomic_t stop_requested = 0;

void on_stop(int signo) {
    stop_requested = signo;
}

} // namespace

bool write_all(int fd, const void *data, size_t length) {
    const auto *p = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR && !stop_requested)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void install_stop_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a wait for ffmpeg (or a blocked read) is interrupted, so a stop is seen
    // at once.
    sa.sa_flags = 0;
    for (int signo : STOP_SIGNALS)
        sigaction(signo, &sa, nullptr);
    // A dead encoder or a reader that went away shows as EPIPE on the write.
    signal(SIGPIPE, SIG_IGN);
}

int stop_signal() {
    return stop_requested;
}

void add_stop_signals(sigset_t *set) {
    for (int signo : STOP_SIGNALS)
        sigaddset(set, signo);
}

} // namespace capture

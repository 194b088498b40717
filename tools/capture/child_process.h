// The programs the capture runs (ffmpeg, ffprobe): each in a process group of its own, so a
// Ctrl-C at the terminal reaches only the capture, which then ends them itself; and each
// ended by the kernel when the capture ends, whatever ends it (SIGKILL included), so no
// encoder outlives it writing a file nobody will rename.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace capture {

// The descriptors a child gets as 0, 1, 2 and 3; -1 gives /dev/null (none for 3).
struct ChildDescriptors {
    int in = -1, out = -1, err = -1, extra = -1;
};

// Starts `args` (args[0] is the program's path); the child's pid, or -1 with a reason.
pid_t start_child(const std::vector<std::string> &args, const ChildDescriptors &fds,
                  std::string *error);
// Waits for `pid`, going on after signals; a stop signal kills it. The wait status.
int wait_child(pid_t pid);
// Runs `args` to the end and gives what it wrote on standard output; false when it could
// not run or did not exit with status 0.
bool run_child(const std::vector<std::string> &args, std::string *output);

} // namespace capture

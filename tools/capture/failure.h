// How the capture reports a failure: a routine that cannot do its work returns false (or
// nothing) with the reason in its `error` argument; the use it serves throws a Failure with the
// exit status, which the entry point prints once, under the program's name.
#pragma once
#include <string>

namespace capture {

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

// A failure with the status the program exits with.
struct Failure {
    int status;
    std::string message;
};

// Puts `why` in `error` (when asked for) and returns false.
inline bool fail(std::string *error, const std::string &why) {
    if (error)
        *error = why;
    return false;
}

} // namespace capture

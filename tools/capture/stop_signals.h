// The signals that stop a capture: they only raise a flag that the drawing loops and the waits
// watch; the loops then stop, clean up and exit with 128 + the signal number. A write that a
// signal interrupts goes on unless the signal asks the capture to stop.
#pragma once
#include <csignal>
#include <cstddef>

namespace capture {

void install_stop_handlers();
int stop_signal();
// Adds the stop signals to `set` (for threads and children that must not take them).
void add_stop_signals(sigset_t *set);

// Writes all of `data` to `fd`, going on after a signal unless it asks the capture to stop.
bool write_all(int fd, const void *data, size_t length);

} // namespace capture

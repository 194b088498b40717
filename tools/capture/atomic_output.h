// Output files that appear under their final name only when complete: everything is written
// to a hidden temporary file in the destination folder, which is renamed at the end. An
// interrupted or failed capture removes the temporary file and leaves the final name alone.
#pragma once
#include <csignal>
#include <string>

namespace capture {

// SIGINT and SIGTERM only raise a flag that the capture loops watch; the loops then stop,
// clean up and exit with 128 + the signal number.
void install_stop_handlers();
int stop_signal();

class AtomicOutput {
  public:
    AtomicOutput() = default;
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    // Checks the destination before any work is done: its folder must exist, and an existing
    // file is refused unless `force`.
    bool prepare(const std::string &path, bool force, std::string *error);
    // Creates the temporary file and returns a descriptor for it, or -1.
    int create(std::string *error);
    // Renames the complete temporary file to the final name (replacing only with `force`).
    bool commit(std::string *error);
    // Removes the temporary file now (for an interrupted capture).
    void discard();

    const std::string &path() const { return path_; }
    const std::string &temp_path() const { return temp_; }

  private:
    std::string path_;
    std::string temp_;
    bool force_ = false;
    bool committed_ = false;
};

} // namespace capture

// Output files that appear under their final name only when complete: everything is written
// to a hidden temporary file in the destination folder, which is renamed at the end. An
// interrupted or failed capture removes the temporary file and leaves the final name alone;
// one killed outright leaves it, and the next capture to the same name removes it.
// Standard output ("-"), an existing FIFO or character device are written through instead;
// nothing is ever renamed over a path that is not a regular file.
#pragma once
#include <string>
#include <vector>

namespace capture {

// Where scratch files may go: TMPDIR (else /tmp), then /tmp when TMPDIR is unusable.
std::vector<std::string> scratch_folders();
// A new empty file of the capture's own in the first scratch folder that takes one; empty (with
// errno set) when none does.
std::string new_scratch_file();

class AtomicOutput {
  public:
    AtomicOutput() = default;
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    // Checks the destination before any work is done: its folder must exist, an existing file
    // is refused unless `force`, a path that is neither a file, a FIFO nor a character device
    // (or a symbolic link to one) is refused. "-" stands for `stdout_fd`.
    bool prepare(const std::string &path, bool force, int stdout_fd, std::string *error);
    // Standard output, a FIFO or a character device: written as the work goes on.
    bool through() const { return through_; }
    bool standard_output() const { return path_ == "-"; }
    // A descriptor to write the content to: the temporary file, or the destination itself
    // when written through. -1 with a reason on failure.
    int create(std::string *error);
    // A named file for a writer that seeks in what it writes (the MP4 muxer): the temporary
    // file, or for a destination written through, one in TMPDIR that commit copies there.
    std::string staged(std::string *error);
    // Makes the output final: renames the temporary file to the final name (replacing only
    // with `force`), or copies a staged file through.
    bool commit(std::string *error);
    // Removes the temporary file now (for an interrupted capture).
    void discard();

    // The destination as messages name it.
    std::string name() const;
    // Both prepared outputs end in the same file (a character device such as /dev/null may
    // take any number of writers).
    bool same_destination(const AtomicOutput &other) const;

  private:
    bool copy_through(std::string *error);
    std::string shown_; // as given
    std::string path_;  // what is replaced or written: a symbolic link's target
    std::string temp_;
    std::string final_; // the destination's folder resolved, and its name
    int stdout_fd_ = -1;
    bool force_ = false;
    bool through_ = false;
    bool committed_ = false;
};

} // namespace capture

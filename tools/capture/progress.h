// A progress bar on standard error, when that is a terminal: frames done, frames per second
// and the time left.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace capture {

class Progress {
  public:
    // `label` comes before the bar, e.g. the name of a second pass over the same frames.
    Progress(uint64_t total, bool enabled, std::string label = "");
    ~Progress();
    void update(uint64_t done);
    // Clears the bar and leaves the cursor at the start of an empty line.
    void clear();
    void note(const std::string &text); // a phase without a count, e.g. finishing the file
    double seconds() const;
    uint64_t total() const { return total_; }

  private:
    using clock = std::chrono::steady_clock;
    uint64_t total_;
    std::string label_;
    bool enabled_;
    bool shown_ = false;
    clock::time_point start_, last_;
};

} // namespace capture

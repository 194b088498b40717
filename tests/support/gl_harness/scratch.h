// What a test needs around the show's file loaders: standard output captured while a routine
// runs, and a scratch working directory to put data files in.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vt {

// Captures everything the code writes to standard output (file descriptor 1) while `run` runs.
std::string capture_stdout(const std::function<void()> &run);

// A fresh temporary directory that becomes the working directory for the object's lifetime.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    // Writes bytes to a path relative to the scratch directory, creating data/ on the way.
    void write(const std::string &relative, const std::vector<uint8_t> &bytes) const;

  private:
    std::string path_;
    std::string previous_;
};

} // namespace vt

// OutFile: an output file that appears whole or not at all.
//
// The data goes to a temporary file beside the target, which is renamed over the target only when
// it is complete, so a failed or interrupted run never leaves a half-written data file behind.
#pragma once
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include <utility>

class OutFile {
  public:
    explicit OutFile(std::string path) : path_(std::move(path)), tmp_(tempName(path_)) {}
    ~OutFile() {
        if (file_)
            std::fclose(file_);
        if (!committed_)
            std::remove(tmp_.c_str());
    }
    OutFile(const OutFile &) = delete;
    OutFile &operator=(const OutFile &) = delete;

    // Opens the temporary file; false with a reason in error() on failure.
    bool open() {
        file_ = std::fopen(tmp_.c_str(), "wb");
        if (!file_)
            return fail("cannot create " + tmp_);
        return true;
    }
    bool write(const void *data, size_t n) {
        if (n == 0)
            return true;
        if (!file_ || std::fwrite(data, 1, n, file_) != n)
            return fail("cannot write " + tmp_);
        return true;
    }
    // Closes the temporary file and renames it to the target path.
    bool commit() {
        if (!file_)
            return fail("nothing written to " + tmp_);
        bool ok = std::fflush(file_) == 0;
        ok = (std::fclose(file_) == 0) && ok;
        file_ = nullptr;
        if (!ok)
            return fail("cannot write " + tmp_);
        if (std::rename(tmp_.c_str(), path_.c_str()) != 0)
            return fail("cannot rename " + tmp_ + " to " + path_);
        committed_ = true;
        return true;
    }
    const std::string &tmp_path() const { return tmp_; }
    const std::string &error() const { return error_; }

  private:
    // "dir/name.tmp-PID.ext": beside the target, on the same file system, with the same extension
    // (so it falls under the same ignore rules if a run is killed).
    static std::string tempName(const std::string &path) {
        const std::string tag = ".tmp-" + std::to_string(static_cast<long>(getpid()));
        const size_t slash = path.find_last_of('/');
        const size_t dot = path.find_last_of('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
            return path + tag;
        return path.substr(0, dot) + tag + path.substr(dot);
    }
    bool fail(const std::string &what) {
        error_ = what + ": " + std::strerror(errno);
        return false;
    }
    std::string path_, tmp_, error_;
    FILE *file_ = nullptr;
    bool committed_ = false;
};

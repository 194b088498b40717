#include "gl_harness/scratch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace vt {

std::string capture_stdout(const std::function<void()> &run) {
    std::fflush(stdout);
    char name[] = "/tmp/vellamor_stdout_XXXXXX";
    const int file = mkstemp(name);
    if (file < 0) {
        ADD_FAILURE() << "mkstemp: " << std::strerror(errno);
        run();
        return {};
    }
    unlink(name);
    const int saved = dup(1);
    dup2(file, 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    lseek(file, 0, SEEK_SET);
    char chunk[4096];
    ssize_t n;
    while ((n = read(file, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    close(file);
    return text;
}

ScratchDir::ScratchDir() {
    char here[4096];
    if (getcwd(here, sizeof here))
        previous_ = here;
    char name[] = "/tmp/vellamor_scratch_XXXXXX";
    if (!mkdtemp(name)) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    path_ = name;
    if (chdir(path_.c_str()) != 0)
        ADD_FAILURE() << "chdir " << path_;
}

ScratchDir::~ScratchDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0)
        std::fprintf(stderr, "cannot go back to %s\n", previous_.c_str());
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

void ScratchDir::write(const std::string &relative, const std::vector<uint8_t> &bytes) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write " << full.string();
}

} // namespace vt

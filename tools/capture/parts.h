// A capture in parts: part K of N of a range is a run of its frames, each drawn exactly as one
// process draws it (the capture's frame clock depends on nothing but the frame number and the
// frame before it). A part's video file carries, as MP4 tags, what the join needs to check
// that the parts belong together: the range, the size, the clock, the encoding, which part of
// how many it is, and the build that drew it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"

namespace capture {

struct PartNumber {
    uint64_t k = 0, n = 0;
};

// "K/N", 1 <= K <= N.
std::optional<PartNumber> parse_part(const std::string &text, std::string *error);

// The frames of part `p` of first..last: contiguous, the parts differing by one frame at most,
// every frame in exactly one part (N must not exceed the frames).
std::pair<uint64_t, uint64_t> part_frames(uint64_t first, uint64_t last, PartNumber p);

// What a part's file says about itself.
struct PartLabel {
    PartNumber part;
    std::string bars;   // "31:32"
    uint64_t first = 0; // the whole range's first frame
    uint64_t last = 0;  // and its last
    unsigned fps = 0;
    std::string size; // "3840x2160"
    int supersample = 1;
    std::string encoding; // "crf 18 preset veryfast"
    std::string build;    // build_identity()
};

std::vector<std::pair<std::string, std::string>> part_tags(const PartLabel &label);

// The program's name, its frame size and the SHA-256 of the program file: parts drawn by
// different builds need not have the same frames.
std::string build_identity(const ShowBuild &build);

// A part file as read back: its label and the frames its video holds.
struct PartFile {
    std::string path;
    PartLabel label;
    uint64_t frames = 0;
};

// Reads a part's tags and its video's frame count with ffprobe, and checks that the file is
// whole (its MP4 boxes end where the file ends). False with a reason naming the file.
bool read_part(const std::string &ffprobe, const std::string &path, PartFile *part,
               std::string *error);

} // namespace capture

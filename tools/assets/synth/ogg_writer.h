// Encoding a finished stereo bus as Ogg Vorbis (44.1 kHz, quality 0.6) with libvorbisenc.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "outfile.h"
#include "grid.h"

namespace synth {

// (name, value) comment tags, written in this order.
using VorbisTags = std::vector<std::pair<std::string, std::string>>;

// Encodes the whole piece (kTotal samples of each channel) into `file` and commits it; false with
// the reason in `error` on failure. The stream's serial number is fixed, so the same samples
// give the same file byte for byte.
bool encodeOgg(const float *left, const float *right, const VorbisTags &tags, OutFile &file,
               std::string *error);

} // namespace synth

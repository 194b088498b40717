// The ffmpeg command lines the encoder runs, in pieces: the frames' input (raw, or the parts a
// join copies), the H.264 options of a one-pass quality or of either pass of a constant
// bitrate, and the MP4 file's output with the music, the chapters and the tags.
#pragma once
#include <string>
#include <vector>

#include "encoder.h"

namespace capture {

// Raw RGBA as GL reads them, bottom row first (vflip only moves pointers), into yuv420p with
// BT.709 coefficients in the limited range.
extern const char *const TO_YUV;

void append(std::vector<std::string> &args, const std::vector<std::string> &more);
// The program and the options every run of it takes.
std::vector<std::string> ffmpeg_command(const std::string &ffmpeg);
// The frames as input 0: raw ones on standard input, or the parts' pictures the concat list names.
std::vector<std::string> frames_input(const EncodeSettings &s);
// The chapters as ffmpeg's metadata text, or empty for none.
std::string chapters_text(const EncodeSettings &s);
// x264's options: a quality in one pass (`pass` 0), or pass 1 or 2 of a constant bitrate,
// whose first pass leaves its analysis in the files named by `log`.
std::vector<std::string> h264_options(const EncodeSettings &s, int pass, const std::string &log);
// Everything after input 0: the music, the chapters, the maps, the frames' encoder options
// `video` and the colour tags (or the parts' pictures copied), the sound's encoder, the file's
// tags and the container, written to s.output.
std::vector<std::string> mp4_output(const EncodeSettings &s, const std::vector<std::string> &video);

} // namespace capture

// The H.264 encoder: Debian's ffmpeg command line in a process of its own, reading raw RGBA
// frames on its standard input and muxing the music and the chapters in. The file is what
// video sites ask for: H.264 High profile in yuv420p tagged BT.709, constant frame rate, AAC
// stereo at 48 kHz, the index at the front.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace capture {

// The full path of `name` found on PATH, or empty.
std::string find_program(const std::string &name);

// The length of a media file in seconds, as ffprobe (beside ffmpeg) reads it; negative when
// it cannot tell.
double media_seconds(const std::string &ffmpeg, const std::string &file);

struct Chapter {
    uint64_t start_ms, end_ms;
    std::string title;
};

struct EncodeSettings {
    int width = 0, height = 0;
    unsigned fps = 60;
    unsigned crf = 18;
    std::string preset = "veryfast";
    std::string music;             // empty: no audio
    double music_offset_s = 0.0;   // where in the music the first frame lies
    double duration_s = 0.0;       // the video's length, to cut the music to
    std::vector<Chapter> chapters; // none, or at least two
    std::string output;            // written as MP4 whatever its name
    // Set: the pictures are those of the files this concat list names, copied, not encoded.
    std::string parts_list;
    std::vector<std::pair<std::string, std::string>> tags; // the file's own metadata
};

class Encoder {
  public:
    Encoder() = default;
    ~Encoder();
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    bool start(const std::string &ffmpeg, const EncodeSettings &settings, std::string *error);
    int input_fd() const { return input_; }
    // Closes the input and waits for ffmpeg to finish the file. A stop signal ends the wait
    // (and ffmpeg) early.
    bool finish(std::string *error);
    // Ends ffmpeg at once (an interrupted or failed capture).
    void kill();

  private:
    bool wait(std::string *error);
    std::string messages() const;
    pid_t pid_ = -1;
    int input_ = -1;
    int log_ = -1; // ffmpeg's standard error, shown only when it fails
};

} // namespace capture

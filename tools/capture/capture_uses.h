// The four uses of the capture program (still, sheet, video, sums) over the options the
// command line gave; each returns the exit status or throws a Failure.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "capture.h"
#include "encoder.h"
#include "failure.h"
#include "moment/moment.h"
#include "frame_pipeline.h"
#include "frame_size.h"
#include "parts.h"
#include "progress.h"
#include "show_renderer.h"
#include "stop_signals.h"

namespace capture {

const char *const MUSIC_FILE = "ruvo_megasong_bpm_124c.ogg";
const char *const LOGO_FILE = "logo3.png";

struct Options {
    std::string data_dir;
    bool quiet = false;
    unsigned fps = 60;
    std::string output;
    bool force = false;
    std::string bars;
    // still and video
    std::string size;
    int supersample = 1;
    // still
    std::string time;
    std::string after;
    // sheet
    unsigned every = 1;
    unsigned columns = 8;
    unsigned thumb_width = 240;
    std::string beat = "0";
    // video
    unsigned crf = 18;
    std::string preset = "veryfast";
    std::string music;
    bool no_audio = false;
    std::string sums_file;
    std::string sink = "ffmpeg";
    std::string readback = "pbo";
    // video and sums
    std::string part; // "K/N": only part K of N of the range's frames
    // join
    std::vector<std::string> parts;
    // sums
    bool per_bar = false;
    int data_fd = -1; // the standard output the program was given; -1 when it was closed
};

bool is_file(const std::string &path);
std::string format(const char *fmt, double v);
// A destination as the summary line names it ("-" is standard output).
std::string shown(const std::string &path);

class Capture {
  public:
    Capture(const ShowBuild &build, const Options &o)
        : build_(build), o_(o), clock_(o.fps), tool_(std::string(build.name) + "_capture") {}

    int still();
    int sheet();
    int video();
    int sums();
    int join();
    // The status of a capture stopped by a signal, after saying so.
    int stopped() const;

  private:
    void say(const std::string &text) const;
    // Said even when quiet: what the output lacks.
    void note(const std::string &text) const;
    std::string data_path(const char *file) const { return o_.data_dir + "/" + file; }
    moment::BarRange bar_range(const moment::BarRange &whole) const;
    // The frames a video or sums draws: those of the range, or of one part of it.
    struct Span {
        moment::BarRange bars;
        uint64_t first = 0, last = 0;             // drawn
        uint64_t whole_first = 0, whole_last = 0; // the range's
        std::optional<PartNumber> part;
        uint64_t count() const { return last - first + 1; }
        std::string part_label() const;
    };
    Span span() const;
    FrameSize frame_size(bool even) const;
    void prepare(AtomicOutput &out, const std::string &path, bool binary) const;
    // Writes a picture through `out` with `write` and makes it final; false when a stop
    // signal came meanwhile.
    bool write_picture(AtomicOutput &out, const std::function<bool(int, std::string *)> &write);
    void open_renderer(const FrameSize &size);
    // Draws frames first to last into `pipeline`, counting them on `progress`; false when a sink
    // failed or a stop signal came.
    bool stream(uint64_t first, uint64_t last, ShowRenderer::Readback how, FramePipeline &pipeline,
                Progress &progress);
    std::string frame_label(uint64_t n) const;
    std::string size_label(const FrameSize &size) const;
    std::string sums_header(const FrameSize &size, bool per_bar, const Span &span) const;

    // The music of a video whose first frame is `first`: none (with the reason the summary
    // gives in `silent`) when there is no music file or it ends before that frame.
    struct Music {
        std::string file;
        double offset_s = 0.0;
        std::string silent;
    };
    Music choose_music(const std::string &ffmpeg, uint64_t first) const;
    EncodeSettings encode_settings(const FrameSize &size, uint64_t first, uint64_t last,
                                   const Music &music) const;
    struct VideoSinks;
    // The encoder (when `ffmpeg` is given) or the raw file, and the checksums.
    void open_video_sinks(VideoSinks &sinks, AtomicOutput &out, AtomicOutput &sums_out,
                          const FrameSize &size, const std::string &ffmpeg, EncodeSettings settings,
                          const Span &span);
    // The encoder's options that parts must share to be joined.
    std::string encoding_label() const;
    // A part's file: no chapters, and the tags the join checks.
    void label_part(EncodeSettings &settings, const Span &span, const FrameSize &size) const;
    // Waits for the sinks and ffmpeg to finish after the drawing; false when a stop signal
    // came. A failure throws.
    bool finish_video(VideoSinks &sinks, FramePipeline &pipeline, Progress &progress, bool drawn,
                      bool encoding);

    const ShowBuild &build_;
    const Options &o_;
    moment::FrameClock clock_; // the join's is that of its parts
    std::string tool_;
    ShowRenderer renderer_;
};

} // namespace capture

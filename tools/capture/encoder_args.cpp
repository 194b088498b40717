#include "encoder_args.h"

#include <cstdio>

namespace capture {

namespace {

std::string fixed(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%.6f", v);
    return s;
}

} // namespace

const char *const TO_YUV = "vflip,scale=out_color_matrix=bt709:out_range=tv";

void append(std::vector<std::string> &args, const std::vector<std::string> &more) {
    args.insert(args.end(), more.begin(), more.end());
}

std::vector<std::string> ffmpeg_command(const std::string &ffmpeg) {
    return {ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
}

std::vector<std::string> frames_input(const EncodeSettings &s) {
    if (!s.parts_list.empty())
        return {"-f", "concat", "-safe", "0", "-i", s.parts_list};
    return {"-f",         "rawvideo",
            "-pix_fmt",   "rgba",
            "-s",         std::to_string(s.width) + "x" + std::to_string(s.height),
            "-framerate", std::to_string(s.fps),
            "-i",         "pipe:0"};
}

std::string chapters_text(const EncodeSettings &s) {
    std::string text;
    if (!s.chapters.empty())
        text = ";FFMETADATA1\n";
    for (const Chapter &c : s.chapters)
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(c.start_ms) +
                "\nEND=" + std::to_string(c.end_ms) + "\ntitle=" + c.title + "\n";
    return text;
}

std::vector<std::string> h264_options(const EncodeSettings &s, int pass, const std::string &log) {
    std::vector<std::string> args = {"-c:v", "libx264", "-preset", s.preset};
    // High profile whatever the preset (ultrafast alone would drop the 8x8 transform and with
    // it to Baseline); lossless needs the High 4:4:4 Predictive profile x264 picks itself.
    if (pass == 0 && s.crf == 0) {
        args.insert(args.end(), {"-crf", "0"});
        return args;
    }
    args.insert(args.end(), {"-profile:v", "high"});
    if (!s.level.empty())
        args.insert(args.end(), {"-level:v", s.level});
    if (pass == 0) {
        args.insert(args.end(), {"-crf", std::to_string(s.crf), "-x264-params", "8x8dct=1"});
        return args;
    }
    // Constant: the rate is also the ceiling and the floor, over a buffer of one second, and
    // x264 fills what the pictures leave of it, so every second holds the same number of bits.
    const std::string rate = std::to_string(s.video_kbps) + "k";
    args.insert(args.end(),
                {"-b:v", rate, "-minrate", rate, "-maxrate", rate, "-bufsize", rate, "-x264-params",
                 "8x8dct=1:nal-hrd=cbr", "-pass", std::to_string(pass), "-passlogfile", log});
    return args;
}

std::vector<std::string> mp4_output(const EncodeSettings &s,
                                    const std::vector<std::string> &video) {
    std::vector<std::string> args;
    int input = 1;
    if (!s.music.empty()) {
        // Seeking on the input decodes up to the offset, so the music starts sample-exact.
        args.insert(args.end(),
                    {"-ss", fixed(s.music_offset_s), "-t", fixed(s.duration_s), "-i", s.music});
        ++input;
    }
    // The chapters come on descriptor 3; the music's own chapters, if it has any, are not the
    // video's.
    if (!s.chapters.empty())
        args.insert(args.end(),
                    {"-f", "ffmetadata", "-i", "pipe:3", "-map_chapters", std::to_string(input)});
    else
        args.insert(args.end(), {"-map_chapters", "-1"});
    args.insert(args.end(), {"-map", "0:v"});
    if (!s.music.empty())
        args.insert(args.end(), {"-map", "1:a"});
    if (s.parts_list.empty()) {
        append(args, video);
        args.insert(args.end(),
                    {"-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
                     "-color_trc", "bt709", "-color_range", "tv", "-fps_mode", "cfr"});
    } else {
        // The parts' pictures as they are: their profile and colour tags come along.
        args.insert(args.end(), {"-c:v", "copy", "-map_metadata:g", "-1"});
    }
    if (!s.music.empty())
        args.insert(args.end(), {"-c:a", "aac", "-b:a", std::to_string(s.audio_kbps) + "k", "-ar",
                                 "48000", "-ac", "2"});
    for (const auto &[key, value] : s.tags)
        args.insert(args.end(), {"-metadata", key + "=" + value});
    // Tags of the program's own need the muxer's free-form keys.
    args.insert(args.end(),
                {"-movflags", s.tags.empty() ? "+faststart" : "+faststart+use_metadata_tags", "-f",
                 "mp4", s.output});
    return args;
}

} // namespace capture

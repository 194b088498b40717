#include "capture_uses.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <cairo.h>

#include "encoder.h"
#include "frame_pipeline.h"
#include "pictures.h"
#include "progress.h"

namespace capture {

bool is_file(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string format(const char *fmt, double v) {
    char s[64];
    std::snprintf(s, sizeof s, fmt, v);
    return s;
}

std::string shown(const std::string &path) {
    return path == "-" ? "standard output" : path;
}

void Capture::say(const std::string &text) const {
    if (!o_.quiet)
        note(text);
}

void Capture::note(const std::string &text) const {
    std::fprintf(stderr, "%s: %s\n", tool_.c_str(), text.c_str());
}

int Capture::stopped() const {
    std::fprintf(stderr, "%s: interrupted; no output written\n", tool_.c_str());
    return 128 + stop_signal();
}

moment::BarRange Capture::bar_range(const moment::BarRange &whole) const {
    if (o_.bars.empty())
        return whole;
    std::string why;
    const auto range = moment::parse_bars(o_.bars, &why);
    if (!range)
        throw Failure{EXIT_USAGE, why};
    return *range;
}

std::string Capture::Span::part_label() const {
    return part ? "part " + std::to_string(part->k) + " of " + std::to_string(part->n) : "";
}

Capture::Span Capture::span() const {
    Span s;
    s.bars = bar_range({0, moment::END_BAR});
    s.first = s.whole_first = clock_.first_frame_of_bar(s.bars.first);
    s.last = s.whole_last = clock_.last_frame_of_bar(s.bars.last);
    if (o_.part.empty())
        return s;
    std::string why;
    s.part = parse_part(o_.part, &why);
    if (!s.part)
        throw Failure{EXIT_USAGE, why};
    const uint64_t count = s.whole_last - s.whole_first + 1;
    if (s.part->n > count)
        throw Failure{EXIT_USAGE, "--part " + o_.part + ": bars " + std::to_string(s.bars.first) +
                                      " to " + std::to_string(s.bars.last) + " have only " +
                                      std::to_string(count) + " frames to share"};
    std::tie(s.first, s.last) = part_frames(s.whole_first, s.whole_last, *s.part);
    return s;
}

FrameSize Capture::frame_size(bool even) const {
    std::string why;
    const auto size =
        parse_frame_size(o_.size, o_.supersample, build_.width, build_.height, even, &why);
    if (!size)
        throw Failure{EXIT_USAGE, why};
    return *size;
}

void Capture::prepare(AtomicOutput &out, const std::string &path, bool binary) const {
    std::string why;
    if (!out.prepare(path, o_.force, o_.data_fd, &why))
        throw Failure{EXIT_USAGE, why};
    if (out.standard_output() && o_.data_fd < 0)
        throw Failure{EXIT_USAGE, "standard output is closed: give -o FILE"};
    if (out.standard_output() && binary && isatty(o_.data_fd))
        throw Failure{EXIT_USAGE, "standard output is a terminal: redirect it, or give -o FILE"};
}

void Capture::open_renderer(const FrameSize &size) {
    // Only a file is read as the logo; without one the frames have none, and nothing else is
    // read in its place.
    const bool logo = is_file(data_path(LOGO_FILE));
    if (!logo)
        note("note: no " + data_path(LOGO_FILE) + "; the frames have no logo, as the show would");
    std::string why;
    if (!renderer_.open(size.width, size.height, size.supersample, logo ? o_.data_dir : "", &why))
        throw Failure{EXIT_FAILED, why};
    if (stop_signal())
        throw Failure{EXIT_FAILED, "stopped"};
    if (!renderer_.window_like())
        note("note: no GL_MESA_framebuffer_flip_y; single edge pixels may differ from the "
             "show's window");
}

bool Capture::write_picture(AtomicOutput &out,
                            const std::function<bool(int, std::string *)> &write) {
    std::string why;
    const int fd = out.create(&why);
    bool ok = fd >= 0 && write(fd, &why);
    if (fd >= 0 && close(fd) != 0 && ok) {
        ok = false;
        why = "writing " + out.name() + " failed";
    }
    if (stop_signal())
        return false;
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why};
    return true;
}

std::string Capture::frame_label(uint64_t n) const {
    return "frame " + std::to_string(n) + " at " + std::to_string(clock_.fps()) + " fps (aika " +
           std::to_string(clock_.aika(n)) + " ms, bar " + std::to_string(clock_.tahdit(n)) + ")";
}

std::string Capture::size_label(const FrameSize &size) const {
    if (size.native(build_.width, build_.height))
        return "";
    const std::string n = std::to_string(size.supersample);
    return " (" + std::to_string(size.width) + "x" + std::to_string(size.height) +
           (size.supersample > 1 ? ", supersampled " + n + "x" + n : "") + ")";
}

std::string Capture::sums_header(const FrameSize &size, bool per_bar, const Span &span) const {
    return "# " + tool_ + " sums " + std::to_string(size.width) + "x" +
           std::to_string(size.height) +
           (size.supersample > 1 ? " supersampled " + std::to_string(size.supersample) : "") + " " +
           std::to_string(clock_.fps()) + " fps" +
           (span.part ? ", " + span.part_label() + " of frames " +
                            std::to_string(span.whole_first) + "-" + std::to_string(span.whole_last)
                      : "") +
           ": " +
           (per_bar ? "bar first-last sha256(RGB of the bar's frames, top row first)\n"
                    : "frame aika bar sha256(RGB, top row first)\n");
}

int Capture::still() {
    const FrameSize size = frame_size(false);
    std::string why;
    const auto still = moment::still_clock(o_.time, o_.after, clock_, &why);
    if (!still)
        throw Failure{EXIT_USAGE, why};
    AtomicOutput out;
    prepare(out, o_.output, true);
    open_renderer(size);

    std::vector<uint8_t> pixels(renderer_.frame_bytes());
    moment::draw_still(*still);
    renderer_.read(pixels.data());
    if (stop_signal())
        return stopped();
    cairo_surface_t *image = frame_surface(pixels.data(), size.width, size.height);
    const bool written =
        write_picture(out, [&](int fd, std::string *error) { return write_png(image, fd, error); });
    cairo_surface_destroy(image);
    if (!written)
        return stopped();
    if (still->frame)
        say(frame_label(*still->frame) + " -> " + shown(o_.output) + size_label(size));
    else
        say("aika " + std::to_string(still->now) + " ms after " + std::to_string(still->previous) +
            " ms (bar " + std::to_string(moment::bar_after(still->previous)) + ") -> " +
            shown(o_.output) + size_label(size));
    return 0;
}

int Capture::sheet() {
    const moment::BarRange range = bar_range({0, moment::LAST_BAR});
    std::string why;
    const auto beat = moment::parse_beat(o_.beat, &why);
    if (!beat)
        throw Failure{EXIT_USAGE, "--" + why};
    std::vector<uint64_t> frames;
    std::vector<uint32_t> bars;
    for (uint32_t b = range.first; b <= range.last; b += o_.every) {
        const uint64_t first = clock_.first_frame_of_bar(b);
        uint64_t n = std::max(first, clock_.nearest_frame(moment::beat_ms(4.0 * b + *beat)));
        n = std::min(n, clock_.last_frame_of_bar(b));
        frames.push_back(n);
        bars.push_back(b);
    }
    // Refused before any drawing: the image library cannot make a larger picture.
    int sheet_w = 0, sheet_h = 0;
    ContactSheet::measure(build_.width, build_.height, static_cast<int>(frames.size()),
                          static_cast<int>(o_.columns), static_cast<int>(o_.thumb_width), &sheet_w,
                          &sheet_h);
    if (sheet_w > MAX_PICTURE_SIDE || sheet_h > MAX_PICTURE_SIDE)
        throw Failure{
            EXIT_USAGE,
            "a sheet of " + std::to_string(sheet_w) + "x" + std::to_string(sheet_h) +
                " pixels is past the largest picture, " + std::to_string(MAX_PICTURE_SIDE) +
                " pixels a side: fewer --columns, a smaller --thumb-width or more --every"};
    AtomicOutput out;
    prepare(out, o_.output, true);
    open_renderer(frame_size(false));

    const std::string every =
        o_.every == 1 ? "every bar" : "every " + std::to_string(o_.every) + " bars";
    const std::string title = std::string(build_.name) + "  " + std::to_string(build_.width) + "x" +
                              std::to_string(build_.height) + "  -  one frame " + every +
                              ", bars " + std::to_string(range.first) + " to " +
                              std::to_string(bars.back()) + ", at " + std::to_string(clock_.fps()) +
                              " fps";
    ContactSheet sheet(build_.width, build_.height, static_cast<int>(frames.size()),
                       static_cast<int>(o_.columns), static_cast<int>(o_.thumb_width), title);
    Progress progress(frames.size(), !o_.quiet);
    for (size_t i = 0; i < frames.size(); ++i) {
        if (stop_signal())
            return stopped();
        const uint64_t n = frames[i];
        renderer_.render(clock_, n, n, ShowRenderer::Readback::sync,
                         [&](uint64_t, const uint8_t *px) {
                             sheet.add(static_cast<int>(i), px,
                                       "bar " + std::to_string(bars[i]) + "   " +
                                           format("%.3f s", clock_.aika(n) / 1000.0));
                             return true;
                         });
        progress.update(i + 1);
    }
    progress.clear();
    if (!write_picture(out, [&](int fd, std::string *error) { return sheet.write(fd, error); }))
        return stopped();
    say(std::to_string(frames.size()) + " frames, " + every + " -> " + shown(o_.output));
    return 0;
}

} // namespace capture

#include "capture_uses.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
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

BarRange Capture::bar_range(const BarRange &whole) const {
    if (o_.bars.empty())
        return whole;
    std::string why;
    const auto range = parse_bars(o_.bars, &why);
    if (!range)
        throw Failure{EXIT_USAGE, why};
    return *range;
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

std::string Capture::sums_header(const FrameSize &size, bool per_bar) const {
    return "# " + tool_ + " sums " + std::to_string(size.width) + "x" +
           std::to_string(size.height) +
           (size.supersample > 1 ? " supersampled " + std::to_string(size.supersample) : "") + " " +
           std::to_string(clock_.fps()) + " fps: " +
           (per_bar ? "bar first-last sha256(RGB of the bar's frames, top row first)\n"
                    : "frame aika bar sha256(RGB, top row first)\n");
}

int Capture::still() {
    const FrameSize size = frame_size(false);
    std::string why;
    const auto at = parse_time(o_.time, &why);
    if (!at)
        throw Failure{EXIT_USAGE, why};
    const uint64_t end = clock_.end_frame();
    const std::string end_text = "the show ends with the frame at " +
                                 std::to_string(clock_.aika(end)) + " ms (at " +
                                 std::to_string(clock_.fps()) + " fps)";
    uint32_t prev = 0, now = 0;
    uint64_t n = 0;
    if (!o_.after.empty()) {
        const auto before = parse_time(o_.after, &why);
        if (!before)
            throw Failure{EXIT_USAGE, why};
        prev = static_cast<uint32_t>(std::llround(*before));
        now = static_cast<uint32_t>(std::llround(*at));
        if (prev > now)
            throw Failure{EXIT_USAGE,
                          "--after " + o_.after + " comes after the frame's time " + o_.time};
        // The show ends after the first frame whose bar number passes the last bar, so the
        // frame before this one (its own bar from a frame at the same spacing before it) must
        // not have been that frame.
        const uint32_t step = now - prev;
        if (bar_after(prev >= step ? prev - step : 0) > LAST_BAR)
            throw Failure{EXIT_USAGE, "time " + o_.time + " after " + o_.after +
                                          " is beyond the show, which ends with the first "
                                          "frame whose bar number passes " +
                                          std::to_string(LAST_BAR)};
    } else {
        n = clock_.nearest_frame(*at);
        if (n > end)
            throw Failure{EXIT_USAGE, "time " + o_.time + " is beyond the show: " + end_text};
    }
    AtomicOutput out;
    prepare(out, o_.output, true);
    open_renderer(size);

    std::vector<uint8_t> pixels(renderer_.frame_bytes());
    if (!o_.after.empty()) {
        // The frame before the previous one is taken at the same spacing; it only decides the
        // bar number of the previous frame, whose clear colour this frame shows.
        const uint32_t step = now - prev;
        renderer_.draw(prev >= step ? prev - step : 0, prev);
        renderer_.draw(prev, now);
        renderer_.read(pixels.data());
    } else {
        renderer_.render(clock_, n, n, ShowRenderer::Readback::sync,
                         [&](uint64_t, const uint8_t *px) {
                             std::copy(px, px + pixels.size(), pixels.begin());
                             return true;
                         });
    }
    if (stop_signal())
        return stopped();
    cairo_surface_t *image = frame_surface(pixels.data(), size.width, size.height);
    const bool written =
        write_picture(out, [&](int fd, std::string *error) { return write_png(image, fd, error); });
    cairo_surface_destroy(image);
    if (!written)
        return stopped();
    if (!o_.after.empty())
        say("aika " + std::to_string(now) + " ms after " + std::to_string(prev) + " ms (bar " +
            std::to_string(bar_after(prev)) + ") -> " + shown(o_.output) + size_label(size));
    else
        say(frame_label(n) + " -> " + shown(o_.output) + size_label(size));
    return 0;
}

int Capture::sheet() {
    const BarRange range = bar_range({0, LAST_BAR});
    std::string why;
    const auto beat = parse_beat(o_.beat, &why);
    if (!beat)
        throw Failure{EXIT_USAGE, "--" + why};
    std::vector<uint64_t> frames;
    std::vector<uint32_t> bars;
    for (uint32_t b = range.first; b <= range.last; b += o_.every) {
        const uint64_t first = clock_.first_frame_of_bar(b);
        uint64_t n = std::max(first, clock_.nearest_frame(beat_ms(4.0 * b + *beat)));
        n = std::min(n, clock_.last_frame_of_bar(b));
        frames.push_back(n);
        bars.push_back(b);
    }
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

#include "progress.h"

#include <cstdio>
#include <utility>
#include <unistd.h>

namespace capture {

namespace {
const int BAR_WIDTH = 30;
}

Progress::Progress(uint64_t total, bool enabled, std::string label)
    : total_(total), label_(std::move(label)), enabled_(enabled && isatty(STDERR_FILENO)),
      start_(clock::now()), last_(start_ - std::chrono::seconds(1)) {}

Progress::~Progress() {
    clear();
}

double Progress::seconds() const {
    return std::chrono::duration<double>(clock::now() - start_).count();
}

void Progress::update(uint64_t done) {
    if (!enabled_)
        return;
    const auto now = clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double fps = elapsed > 0 ? done / elapsed : 0.0;
    const int filled = total_ ? static_cast<int>(BAR_WIDTH * done / total_) : BAR_WIDTH;
    char bar[BAR_WIDTH + 1];
    for (int i = 0; i < BAR_WIDTH; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[BAR_WIDTH] = '\0';
    char left[32] = "--:--";
    if (fps > 0 && done > 0) {
        const long s = static_cast<long>((total_ - done) / fps + 0.5);
        std::snprintf(left, sizeof left, "%ld:%02ld", s / 60, s % 60);
    }
    std::fprintf(stderr, "\r%s[%s] %llu/%llu frames  %5.1f fps  %s left \x1b[K", label_.c_str(),
                 bar, static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_), fps, left);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::note(const std::string &text) {
    if (!enabled_)
        return;
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_)
        return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
}

} // namespace capture

// Streaming every frame of a range into sinks, and the use that only sums them: a checksum
// line per frame as soon as it is drawn (the video is in capture_video.cpp).
#include <unistd.h>

#include "capture_uses.h"
#include "frame_pipeline.h"
#include "progress.h"

namespace capture {

bool Capture::stream(uint64_t first, uint64_t last, ShowRenderer::Readback how,
                     FramePipeline &pipeline, Progress &progress) {
    return renderer_.render(clock_, first, last, how, [&](uint64_t n, const uint8_t *px) {
        if (stop_signal() || !pipeline.push(n, px))
            return false;
        progress.update(n - first + 1);
        return true;
    });
}

int Capture::sums() {
    const Span span = this->span();
    const uint64_t first = span.first, last = span.last;
    if (span.part && o_.per_bar)
        throw Failure{EXIT_USAGE, "--per-bar sums whole bars, which a part may cut: sum the "
                                  "parts frame by frame"};
    const FrameSize size = frame_size(false);
    AtomicOutput out;
    // Without -o the manifest goes to the standard output saved at start: the show's own
    // messages were moved to standard error so they cannot mix with it.
    prepare(out, o_.output.empty() ? "-" : o_.output, false);
    open_renderer(size);
    std::string why;
    const int fd = out.create(&why);
    if (fd < 0)
        throw Failure{EXIT_FAILED, why};
    DigestSink digest(clock_, size.width, size.height, o_.per_bar, fd,
                      sums_header(size, o_.per_bar, span));
    FramePipeline pipeline(renderer_.frame_bytes(), {&digest});
    Progress progress(last - first + 1, !o_.quiet);
    const bool drawn = stream(first, last, ShowRenderer::Readback::pbo, pipeline, progress);
    progress.clear();
    if (stop_signal()) {
        pipeline.abort();
        close(fd);
        return stopped();
    }
    bool ok = drawn && pipeline.finish(&why);
    if (!drawn) {
        why = pipeline.error();
        pipeline.abort();
    }
    // A reader that stopped reading (`sums | head`) took all it wanted: the drawing stops at
    // once, without a word, and the status is 0.
    if (!ok && digest.reader_gone()) {
        close(fd);
        return 0;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        why = "writing " + out.name() + " failed";
    }
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why.empty() ? "the capture stopped" : why};
    say(std::to_string(last - first + 1) + " frames summed" +
        (o_.output.empty() || o_.output == "-" ? std::string() : " -> " + o_.output));
    return 0;
}

} // namespace capture

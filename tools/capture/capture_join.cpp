// The join: the parts of a video made by `video --part K/N` checked against each other and
// made into one publishing video. The pictures are copied as they are (each part starts with a
// key frame), the music for the whole range is encoded once, and the chapters are those of
// the whole range; nothing is written unless every part is there once, whole, and of the same
// range, size, encoding and build.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <fcntl.h>
#include <unistd.h>

#include "capture_uses.h"
#include "encoder.h"
#include "parts.h"
#include "progress.h"

namespace capture {

namespace {

std::string quoted(const std::string &path) {
    std::string q = "'";
    for (char c : path)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A file of the capture's own in TMPDIR (or /tmp), removed when done with.
struct ScratchFile {
    std::string path;
    ScratchFile() : path(new_scratch_file()) {}
    ~ScratchFile() {
        if (!path.empty())
            unlink(path.c_str());
    }
};

// The first way in which `b` differs from `a`, or empty.
std::string difference(const PartLabel &a, const PartLabel &b) {
    if (a.build != b.build)
        return "another build of the capture";
    if (a.first != b.first || a.last != b.last || a.fps != b.fps)
        return "another range (bars " + b.bars + ", frames " + std::to_string(b.first) + "-" +
               std::to_string(b.last) + " at " + std::to_string(b.fps) + " fps)";
    if (a.size != b.size || a.supersample != b.supersample)
        return "another size (" + b.size + ", supersample " + std::to_string(b.supersample) + ")";
    if (a.encoding != b.encoding)
        return "another encoding (" + b.encoding + ")";
    if (a.part.n != b.part.n)
        return "a render in " + std::to_string(b.part.n) + " parts";
    return {};
}

// The parts in order, one for each K, or a Failure naming what is wrong.
std::vector<PartFile> in_order(const std::vector<PartFile> &parts) {
    const PartFile &ref = parts.front();
    for (const PartFile &p : parts) {
        const std::string other = difference(ref.label, p.label);
        if (!other.empty())
            throw Failure{EXIT_USAGE, "'" + p.path + "' is from " + other + ", not as '" +
                                          ref.path + "' (nothing written)"};
    }
    const uint64_t n = ref.label.part.n;
    std::map<uint64_t, const PartFile *> by_k;
    for (const PartFile &p : parts) {
        const auto [at, fresh] = by_k.emplace(p.label.part.k, &p);
        if (!fresh)
            throw Failure{EXIT_USAGE, "part " + std::to_string(p.label.part.k) + " of " +
                                          std::to_string(n) + " is given twice: '" +
                                          at->second->path + "' and '" + p.path +
                                          "' (nothing written)"};
    }
    std::string missing;
    size_t missed = 0;
    for (uint64_t k = 1; k <= n; ++k)
        if (!by_k.count(k) && ++missed <= 10)
            missing += (missing.empty() ? "" : ", ") + std::to_string(k);
    if (missed)
        throw Failure{EXIT_USAGE, (missed == 1 ? "part " : "parts ") + missing +
                                      (missed > 10 ? ", ..." : "") + " of " + std::to_string(n) +
                                      (missed == 1 ? " is" : " are") +
                                      " missing (nothing written)"};
    std::vector<PartFile> ordered;
    for (const auto &[k, p] : by_k) {
        const auto [first, last] = part_frames(ref.label.first, ref.label.last, p->label.part);
        if (p->frames != last - first + 1)
            throw Failure{EXIT_USAGE,
                          "'" + p->path + "' holds " + std::to_string(p->frames) +
                              " frames where part " + std::to_string(k) + " of " +
                              std::to_string(n) + " has " + std::to_string(last - first + 1) +
                              ": it is cut short or not a whole part (nothing written)"};
        ordered.push_back(*p);
    }
    return ordered;
}

} // namespace

int Capture::join() {
    const std::string ffmpeg = find_program("ffmpeg");
    if (ffmpeg.empty())
        throw Failure{EXIT_FAILED, "ffmpeg is not on PATH; the parts are joined with the ffmpeg "
                                   "command line (Debian package ffmpeg)"};
    std::string ffprobe = ffmpeg.substr(0, ffmpeg.find_last_of('/') + 1) + "ffprobe";
    if (access(ffprobe.c_str(), X_OK) != 0)
        ffprobe = find_program("ffprobe");
    std::vector<PartFile> parts;
    std::string why;
    for (const std::string &path : o_.parts) {
        PartFile p;
        if (!read_part(ffprobe, path, &p, &why))
            throw Failure{EXIT_USAGE, why + " (nothing written)"};
        parts.push_back(p);
    }
    parts = in_order(parts);
    const PartLabel &label = parts.front().label;
    clock_ = moment::FrameClock(label.fps);
    FrameSize size;
    size.supersample = label.supersample;
    std::sscanf(label.size.c_str(), "%dx%d", &size.width, &size.height);

    AtomicOutput out;
    prepare(out, o_.output, true);
    const Music music = choose_music(ffmpeg, label.first);
    EncodeSettings s = encode_settings(size, label.first, label.last, music);
    // The concat list, with each part's exact length: the container's own rounds it to the
    // millisecond, which would shift every later part's frames off the frame grid.
    std::string text = "ffconcat version 1.0\n";
    for (const PartFile &p : parts) {
        char *real = realpath(p.path.c_str(), nullptr);
        text += "file " + quoted(real ? real : p.path) + "\nduration " +
                format("%.6f", static_cast<double>(p.frames) / label.fps) + "\n";
        free(real);
    }
    ScratchFile list;
    s.parts_list = list.path;
    if (s.parts_list.empty())
        throw Failure{EXIT_FAILED, "no room for the list of parts in TMPDIR or /tmp"};
    FILE *f = std::fopen(s.parts_list.c_str(), "w");
    const bool listed = f && std::fputs(text.c_str(), f) >= 0;
    if (!f || std::fclose(f) != 0 || !listed)
        throw Failure{EXIT_FAILED, "cannot write the list of parts to " + s.parts_list};
    s.output = out.staged(&why);
    if (s.output.empty())
        throw Failure{EXIT_FAILED, why};

    Progress progress(0, !o_.quiet);
    progress.note("joining " + std::to_string(parts.size()) + " parts into " + shown(o_.output) +
                  " ...");
    Encoder encoder;
    const bool ok = encoder.start(ffmpeg, s, &why) && encoder.finish(&why);
    progress.clear();
    if (stop_signal())
        return stopped();
    if (!ok || !out.commit(&why))
        throw Failure{EXIT_FAILED, why};
    const uint64_t count = label.last - label.first + 1;
    say(std::to_string(parts.size()) + " parts joined: " + std::to_string(count) +
        " frames (bars " + label.bars + ", " + format("%.3f s", count / double(label.fps)) +
        ") in " + format("%.1f s", progress.seconds()) + " -> " + shown(o_.output) + music.silent);
    return 0;
}

} // namespace capture

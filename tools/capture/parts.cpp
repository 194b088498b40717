#include "parts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "failure.h"

namespace capture {

namespace {

const char *const TAG_PREFIX = "vellamor_";

// Only digits, at most 9 of them.
bool whole_number(const std::string &text, uint64_t *value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoull(text);
    return true;
}

std::string sha256_of_file(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "unknown";
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    char buf[1 << 16];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            EVP_DigestUpdate(ctx, buf, static_cast<size_t>(n));
    close(fd);
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx, d, &len);
    EVP_MD_CTX_free(ctx);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", d[i]);
        hex += two;
    }
    return n < 0 ? "unknown" : hex;
}

// The top-level MP4 boxes must tile the file: a part cut short (a copy that stopped, a full
// disk) has a last box that runs past the end.
bool boxes_whole(const std::string &path, std::string *error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return fail(error, "cannot read '" + path + "': " + std::strerror(errno));
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    uint64_t at = 0;
    bool ok = size > 0;
    while (ok && at < size) {
        unsigned char head[16];
        if (size - at < 8 || pread(fd, head, 16, static_cast<off_t>(at)) < 8) {
            ok = false;
            break;
        }
        uint64_t box = (uint64_t{head[0]} << 24) | (uint64_t{head[1]} << 16) |
                       (uint64_t{head[2]} << 8) | head[3];
        if (box == 1) {
            box = 0;
            for (int i = 8; i < 16; ++i)
                box = (box << 8) | head[i];
        }
        ok = box >= 8 && box <= size - at;
        at += box;
    }
    close(fd);
    return ok || fail(error, "'" + path + "' is truncated: its MP4 boxes run past its " +
                                 std::to_string(size) + " bytes");
}

} // namespace

std::optional<PartNumber> parse_part(const std::string &text, std::string *error) {
    const auto slash = text.find('/');
    PartNumber p;
    if (slash == std::string::npos || !whole_number(text.substr(0, slash), &p.k) ||
        !whole_number(text.substr(slash + 1), &p.n) || p.k < 1 || p.k > p.n) {
        fail(error, "--part " + text + " is not K/N with 1 <= K <= N (for example 2/8)");
        return std::nullopt;
    }
    return p;
}

std::pair<uint64_t, uint64_t> part_frames(uint64_t first, uint64_t last, PartNumber p) {
    const uint64_t count = last - first + 1;
    return {first + (p.k - 1) * count / p.n, first + p.k * count / p.n - 1};
}

std::vector<std::pair<std::string, std::string>> part_tags(const PartLabel &l) {
    const std::string t = TAG_PREFIX;
    return {{t + "part", std::to_string(l.part.k) + "/" + std::to_string(l.part.n)},
            {t + "bars", l.bars},
            {t + "frames", std::to_string(l.first) + "-" + std::to_string(l.last)},
            {t + "fps", std::to_string(l.fps)},
            {t + "size", l.size},
            {t + "supersample", std::to_string(l.supersample)},
            {t + "encoding", l.encoding},
            {t + "build", l.build}};
}

std::string build_identity(const ShowBuild &build) {
    return std::string(build.name) + " " + std::to_string(build.width) + "x" +
           std::to_string(build.height) + " " + sha256_of_file("/proc/self/exe");
}

bool read_part(const std::string &ffprobe, const std::string &path, PartFile *part,
               std::string *error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(error, "no part file '" + path + "'");
    if (!boxes_whole(path, error))
        return false;
    std::string text;
    if (!run_child({ffprobe, "-v", "error", "-show_entries",
                    "format_tags:stream=codec_type,codec_name,nb_frames", "-of",
                    "default=noprint_wrappers=1", "--", path},
                   &text))
        return fail(error, "'" + path + "' is not a video ffprobe can read");
    std::map<std::string, std::string> tags;
    int videos = 0, others = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key.compare(0, 4, "TAG:") == 0)
            tags[key.substr(4)] = value;
        else if (key == "codec_type")
            ++(value == "video" ? videos : others);
        else if (key == "nb_frames" && !whole_number(value, &part->frames))
            part->frames = 0;
    }
    const std::string t = TAG_PREFIX;
    PartLabel &l = part->label;
    std::string why;
    uint64_t number = 0;
    const auto frames = tags[t + "frames"];
    const auto dash = frames.find('-');
    const bool labelled =
        tags.count(t + "part") && parse_part(tags[t + "part"], &why) && dash != std::string::npos &&
        whole_number(frames.substr(0, dash), &l.first) &&
        whole_number(frames.substr(dash + 1), &l.last) && l.first <= l.last &&
        whole_number(tags[t + "fps"], &number) && number > 0 &&
        (l.fps = static_cast<unsigned>(number)) && whole_number(tags[t + "supersample"], &number) &&
        (l.supersample = static_cast<int>(number)) && !tags[t + "build"].empty();
    if (!labelled)
        return fail(error,
                    "'" + path + "' is not a part of a capture (video --part K/N makes them)");
    l.part = *parse_part(tags[t + "part"], nullptr);
    l.bars = tags[t + "bars"];
    l.size = tags[t + "size"];
    l.encoding = tags[t + "encoding"];
    l.build = tags[t + "build"];
    part->path = path;
    if (videos != 1 || others != 0)
        return fail(error, "'" + path + "' has " + std::to_string(videos) + " video and " +
                               std::to_string(others) +
                               " other streams; a part has its pictures alone");
    return true;
}

} // namespace capture

#include "frame_pipeline.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <openssl/evp.h>
#include <pthread.h>
#include <unistd.h>

#include "failure.h"
#include "stop_signals.h"

namespace capture {

namespace {

std::string hex(const unsigned char *d, unsigned n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

// Feeds the frame's RGB bytes, top row first, to the digest.
void digest_frame(EVP_MD_CTX *ctx, std::vector<uint8_t> &row, const uint8_t *rgba, int w, int h) {
    row.resize(static_cast<size_t>(w) * 3);
    for (int y = h - 1; y >= 0; --y) {
        const uint8_t *src = rgba + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            row[3 * x] = src[4 * x];
            row[3 * x + 1] = src[4 * x + 1];
            row[3 * x + 2] = src[4 * x + 2];
        }
        EVP_DigestUpdate(ctx, row.data(), row.size());
    }
}

std::string final_hex(EVP_MD_CTX *ctx) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_DigestFinal_ex(ctx, d, &n);
    return hex(d, n);
}

} // namespace

bool PipeSink::consume(uint64_t, const uint8_t *rgba, std::string *error) {
    return write_all(fd_, rgba, bytes_) || fail(error, what_ + ": " + std::strerror(errno));
}

std::string frame_sha256(const uint8_t *rgba, int width, int height) {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<uint8_t> row;
    digest_frame(ctx, row, rgba, width, height);
    std::string s = final_hex(ctx);
    EVP_MD_CTX_free(ctx);
    return s;
}

DigestSink::DigestSink(const moment::FrameClock &clock, int width, int height, bool per_bar, int fd,
                       const std::string &header)
    : clock_(clock), width_(width), height_(height), per_bar_(per_bar), fd_(fd), header_(header),
      ctx_(EVP_MD_CTX_new()) {}

DigestSink::~DigestSink() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(ctx_));
}

bool DigestSink::put(const std::string &line, std::string *error) {
    // The header goes out with the first line, so a reader sees both at once.
    const std::string text = header_ + line;
    if (write_all(fd_, text.data(), text.size())) {
        header_.clear();
        return true;
    }
    reader_gone_ = errno == EPIPE;
    return fail(error, std::string("writing the checksums failed: ") + std::strerror(errno));
}

bool DigestSink::end_bar(std::string *error) {
    if (!bar_open_)
        return true;
    bar_open_ = false;
    return put("bar " + std::to_string(bar_) + " frames " + std::to_string(bar_first_) + "-" +
                   std::to_string(bar_last_) + " " + final_hex(static_cast<EVP_MD_CTX *>(ctx_)) +
                   "\n",
               error);
}

bool DigestSink::consume(uint64_t n, const uint8_t *rgba, std::string *error) {
    auto *ctx = static_cast<EVP_MD_CTX *>(ctx_);
    const uint32_t bar = clock_.tahdit(n);
    if (per_bar_) {
        if (bar_open_ && bar != bar_ && !end_bar(error))
            return false;
        if (!bar_open_) {
            EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
            bar_open_ = true;
            bar_ = bar;
            bar_first_ = n;
        }
        bar_last_ = n;
        digest_frame(ctx, row_, rgba, width_, height_);
        return true;
    }
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    digest_frame(ctx, row_, rgba, width_, height_);
    return put(std::to_string(n) + " " + std::to_string(clock_.aika(n)) + " " +
                   std::to_string(bar) + " " + final_hex(ctx) + "\n",
               error);
}

bool DigestSink::finish(std::string *error) {
    return end_bar(error) && (header_.empty() || put("", error));
}

FramePipeline::FramePipeline(size_t frame_bytes, std::vector<FrameSink *> sinks, size_t slots)
    : frame_bytes_(frame_bytes), sinks_(std::move(sinks)), slots_(slots) {
    for (size_t i = 0; i < slots; ++i) {
        slots_[i].resize(frame_bytes);
        free_.push_back(i);
    }
    // The stop signals are for the drawing thread, which cleans up; the worker never sees them.
    sigset_t block, old;
    sigemptyset(&block);
    add_stop_signals(&block);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    worker_ = std::thread(&FramePipeline::work, this);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

FramePipeline::~FramePipeline() {
    abort();
}

bool FramePipeline::push(uint64_t n, const uint8_t *rgba) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A stop request is seen even while the encoder has stopped reading and no slot frees up.
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return !free_.empty() || failed_ || aborted_; }))
        if (stop_signal())
            return false;
    if (failed_ || aborted_)
        return false;
    const size_t slot = free_.back();
    free_.pop_back();
    lock.unlock();
    std::memcpy(slots_[slot].data(), rgba, frame_bytes_);
    lock.lock();
    queue_.emplace_back(n, slot);
    changed_.notify_all();
    return true;
}

void FramePipeline::work() {
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty() || closing_ || aborted_; });
        if (aborted_ || queue_.empty())
            return;
        const auto [n, slot] = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::string why;
        bool ok = true;
        for (FrameSink *sink : sinks_)
            if (!(ok = sink->consume(n, slots_[slot].data(), &why)))
                break;
        lock.lock();
        free_.push_back(slot);
        if (!ok) {
            failed_ = true;
            error_ = why;
        }
        changed_.notify_all();
        if (!ok)
            return;
    }
}

bool FramePipeline::finish(std::string *error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable())
        worker_.join();
    std::string why = this->error();
    bool ok = why.empty() && !aborted_;
    for (FrameSink *sink : sinks_)
        if (ok && !sink->finish(&why))
            ok = false;
    return ok || fail(error, why);
}

void FramePipeline::abort() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        aborted_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable())
        worker_.join();
}

std::string FramePipeline::error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

} // namespace capture

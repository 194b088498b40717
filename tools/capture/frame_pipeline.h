// Frames handed from the drawing thread to a worker thread that feeds them to the sinks (the
// encoder's pipe, the checksums), so that drawing the next frame overlaps writing this one.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "moment/moment.h"

namespace capture {

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // Frame n, RGBA bottom row first. False with a reason stops the capture.
    virtual bool consume(uint64_t n, const uint8_t *rgba, std::string *error) = 0;
    virtual bool finish(std::string * /*error*/) { return true; }
};

// Writes each frame whole to a descriptor (the encoder's standard input, or a raw file).
class PipeSink : public FrameSink {
  public:
    PipeSink(int fd, size_t frame_bytes, std::string what)
        : fd_(fd), bytes_(frame_bytes), what_(std::move(what)) {}
    bool consume(uint64_t n, const uint8_t *rgba, std::string *error) override;

  private:
    int fd_;
    size_t bytes_;
    std::string what_;
};

// SHA-256 of each frame (or of each bar's frames in order) over its RGB bytes, top row
// first: the same bytes as the pixels of a still's PNG, so a still can be checked against a
// line of the manifest. Each line is written as soon as its frame (or bar) is done.
class DigestSink : public FrameSink {
  public:
    DigestSink(const moment::FrameClock &clock, int width, int height, bool per_bar, int fd,
               const std::string &header);
    ~DigestSink() override;
    bool consume(uint64_t n, const uint8_t *rgba, std::string *error) override;
    bool finish(std::string *error) override;
    // The last write failed because the reading end of a pipe was closed.
    bool reader_gone() const { return reader_gone_; }

  private:
    bool end_bar(std::string *error);
    bool put(const std::string &line, std::string *error);
    const moment::FrameClock &clock_;
    int width_, height_;
    bool per_bar_;
    int fd_;
    std::string header_;
    bool reader_gone_ = false;
    std::vector<uint8_t> row_;
    void *ctx_; // EVP_MD_CTX
    bool bar_open_ = false;
    uint32_t bar_ = 0;
    uint64_t bar_first_ = 0, bar_last_ = 0;
};

std::string frame_sha256(const uint8_t *rgba, int width, int height);

class FramePipeline {
  public:
    FramePipeline(size_t frame_bytes, std::vector<FrameSink *> sinks, size_t slots = 3);
    ~FramePipeline();
    FramePipeline(const FramePipeline &) = delete;
    FramePipeline &operator=(const FramePipeline &) = delete;

    // Copies the frame into a free slot, waiting for one; false once a sink has failed.
    bool push(uint64_t n, const uint8_t *rgba);
    // Waits until every frame is consumed, then finishes the sinks.
    bool finish(std::string *error);
    // Stops the worker after the frame it is on; what is queued is dropped.
    void abort();
    std::string error();

  private:
    void work();
    size_t frame_bytes_;
    std::vector<FrameSink *> sinks_;
    std::vector<std::vector<uint8_t>> slots_;
    std::vector<size_t> free_;
    std::deque<std::pair<uint64_t, size_t>> queue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closing_ = false, aborted_ = false, failed_ = false;
    std::string error_;
    std::thread worker_;
};

} // namespace capture

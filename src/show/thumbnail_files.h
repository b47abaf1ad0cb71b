#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/runloop/run_loop.h"

namespace kestio {

// Writes, removes and reads slot thumbnail files on a thread of its own, one operation after
// the other in the order asked, so the main thread never waits for the disk and a removal asked
// before a write of the same file never lands after it. Failures are ignored (a thumbnail can
// always be made again). Reads answer on the run loop. Operations not yet run when the object is
// destroyed are dropped, and their answers never come.
class ThumbnailFiles {
  public:
    using Bytes = std::vector<std::uint8_t>;

    explicit ThumbnailFiles(platform::RunLoop& loop);
    ~ThumbnailFiles();
    ThumbnailFiles(const ThumbnailFiles&) = delete;
    ThumbnailFiles& operator=(const ThumbnailFiles&) = delete;

    // Creates the file's folder (with its parents) and writes the bytes.
    void write(std::filesystem::path file, Bytes bytes);
    void remove(std::filesystem::path file);
    // Reads the file (at most `maxBytes`); none when it cannot be read.
    void read(std::filesystem::path file, std::size_t maxBytes,
              std::function<void(std::optional<Bytes>)> done);
    // Blocks until every operation asked so far has run (tests and shutdown only).
    void flush();

  private:
    void run();
    void enqueue(std::function<void()> work);

    platform::RunLoop& loop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::thread worker_;
};

}  // namespace kestio

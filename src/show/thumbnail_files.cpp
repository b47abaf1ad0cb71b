#include "show/thumbnail_files.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace kestio {

ThumbnailFiles::ThumbnailFiles(platform::RunLoop& loop) : loop_(loop), worker_([this] { run(); }) {}

ThumbnailFiles::~ThumbnailFiles() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

void ThumbnailFiles::enqueue(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    changed_.notify_all();
}

void ThumbnailFiles::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        auto work = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        work();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void ThumbnailFiles::flush() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || (queue_.empty() && !busy_); });
}

void ThumbnailFiles::write(std::filesystem::path file, Bytes bytes) {
    enqueue([file = std::move(file), bytes = std::move(bytes)] {
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    });
}

void ThumbnailFiles::remove(std::filesystem::path file) {
    enqueue([file = std::move(file)] {
        std::error_code error;
        std::filesystem::remove(file, error);
    });
}

void ThumbnailFiles::read(std::filesystem::path file, std::size_t maxBytes,
                          std::function<void(std::optional<Bytes>)> done) {
    std::weak_ptr<int> alive = alive_;
    enqueue([this, alive, file = std::move(file), maxBytes, done = std::move(done)]() mutable {
        std::optional<Bytes> bytes;
        std::error_code error;
        const auto size = std::filesystem::file_size(file, error);
        if (!error && size <= maxBytes) {
            std::ifstream in(file, std::ios::binary);
            Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (in.good() || in.eof()) {
                bytes = std::move(data);
            }
        }
        loop_.post([alive, done = std::move(done), bytes = std::move(bytes)] {
            if (alive.lock()) {
                done(bytes);
            }
        });
    });
}

}  // namespace kestio

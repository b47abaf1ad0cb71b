#include "platform/media/picture_pool.h"

#include <sys/mman.h>

#include <mutex>
#include <vector>

namespace kestio::platform::media {

namespace {

constexpr qsizetype kRowAlignment = 64;

void unmap(void* data, std::size_t bytes) {
    munmap(data, bytes);
}

}  // namespace

struct PicturePool::State {
    std::mutex mutex;
    std::size_t spare = 1;
    std::size_t bytes = 0;  // the size of the buffers kept free
    std::vector<void*> free;
    std::size_t inUse = 0;
    bool closed = false;

    // Under mutex: unmaps the free buffers beyond `keep`, handing them to `out` to unmap after.
    void trimLocked(std::size_t keep, std::vector<void*>& out) {
        while (free.size() > keep) {
            out.push_back(free.back());
            free.pop_back();
        }
    }
};

namespace {

// What a picture needs to give its buffer back.
struct Lease {
    std::shared_ptr<PicturePool::State> state;
    void* data = nullptr;
    std::size_t bytes = 0;
};

void giveBack(void* info) {
    std::unique_ptr<Lease> lease(static_cast<Lease*>(info));
    PicturePool::State& state = *lease->state;
    {
        std::lock_guard lock(state.mutex);
        --state.inUse;
        if (!state.closed && lease->bytes == state.bytes && state.free.size() < state.spare) {
            state.free.push_back(lease->data);
            return;
        }
    }
    unmap(lease->data, lease->bytes);
}

}  // namespace

PicturePool::PicturePool(std::size_t spare) : state_(std::make_shared<State>()) {
    state_->spare = spare;
}

PicturePool::~PicturePool() {
    std::vector<void*> released;
    std::size_t bytes = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        bytes = state_->bytes;
        state_->trimLocked(0, released);
    }
    for (void* data : released) {
        unmap(data, bytes);
    }
}

QImage PicturePool::take(QSize size, QImage::Format format) {
    if (size.isEmpty()) {
        return {};
    }
    const qsizetype rowBytes = (static_cast<qsizetype>(size.width()) * 4 + kRowAlignment - 1) /
                               kRowAlignment * kRowAlignment;
    const auto bytes = static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(size.height());
    void* data = nullptr;
    std::vector<void*> stale;
    std::size_t staleBytes = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (bytes != state_->bytes) {
            staleBytes = state_->bytes;
            state_->trimLocked(0, stale);
            state_->bytes = bytes;
        }
        if (!state_->free.empty()) {
            data = state_->free.back();
            state_->free.pop_back();
        }
        ++state_->inUse;
    }
    for (void* old : stale) {
        unmap(old, staleBytes);
    }
    if (data == nullptr) {
        data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (data == MAP_FAILED) {
            std::lock_guard lock(state_->mutex);
            --state_->inUse;
            return {};
        }
    }
    auto* lease = new Lease{state_, data, bytes};
    QImage image(static_cast<uchar*>(data), size.width(), size.height(), rowBytes, format,
                 &giveBack, lease);
    if (image.isNull()) {
        giveBack(lease);
    }
    return image;
}

void PicturePool::trim(std::size_t keep) {
    std::vector<void*> released;
    std::size_t bytes = 0;
    {
        std::lock_guard lock(state_->mutex);
        bytes = state_->bytes;
        state_->trimLocked(keep, released);
    }
    for (void* data : released) {
        unmap(data, bytes);
    }
}

std::size_t PicturePool::freeCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->free.size();
}

std::size_t PicturePool::inUseCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->inUse;
}

}  // namespace kestio::platform::media

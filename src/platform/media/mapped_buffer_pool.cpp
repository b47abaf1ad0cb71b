#include "platform/media/mapped_buffer_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace kestio::platform::media {

struct MappedBufferPool::State {
    std::mutex mutex;
    std::size_t spare = 1;
    std::size_t bytes = 0;  // the size of the buffers kept free
    std::vector<void*> free;
    std::vector<void*> taken;
    bool closed = false;

    // Under mutex: moves the free buffers beyond `keep` to `out`, to be unmapped after.
    void trimLocked(std::size_t keep, std::vector<void*>& out) {
        while (free.size() > keep) {
            out.push_back(free.back());
            free.pop_back();
        }
    }
};

namespace {

void unmapAll(const std::vector<void*>& blocks, std::size_t bytes) {
    for (void* data : blocks) {
        munmap(data, bytes);
    }
}

}  // namespace

MappedBufferPool::MappedBufferPool(std::size_t spare) : state_(std::make_shared<State>()) {
    state_->spare = spare;
}

MappedBufferPool::~MappedBufferPool() {
    std::vector<void*> released;
    std::size_t bytes = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        bytes = state_->bytes;
        state_->trimLocked(0, released);
    }
    unmapAll(released, bytes);
}

MappedBufferPool::Lease* MappedBufferPool::take(std::size_t bytes) {
    if (bytes == 0) {
        return nullptr;
    }
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
    }
    unmapAll(stale, staleBytes);
    if (data == nullptr) {
        data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (data == MAP_FAILED) {
            return nullptr;
        }
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->taken.push_back(data);
    }
    return new Lease{state_, data, bytes};
}

void MappedBufferPool::giveBack(Lease* taken) {
    taken->handed.load(std::memory_order_acquire);
    std::unique_ptr<Lease> lease(taken);
    State& state = *lease->state;
    {
        std::lock_guard lock(state.mutex);
        std::erase(state.taken, lease->data);
        if (!state.closed && lease->bytes == state.bytes && state.free.size() < state.spare) {
            state.free.push_back(lease->data);
            return;
        }
    }
    munmap(lease->data, lease->bytes);
}

void MappedBufferPool::trim(std::size_t keep) {
    std::vector<void*> released;
    std::size_t bytes = 0;
    {
        std::lock_guard lock(state_->mutex);
        bytes = state_->bytes;
        state_->trimLocked(keep, released);
    }
    unmapAll(released, bytes);
}

std::size_t MappedBufferPool::freeCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->free.size();
}

std::size_t MappedBufferPool::takenCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->taken.size();
}

bool MappedBufferPool::holds(const void* data) const {
    std::lock_guard lock(state_->mutex);
    return std::find(state_->taken.begin(), state_->taken.end(), data) != state_->taken.end();
}

QImage pooledPicture(MappedBufferPool& pool, QSize size, QImage::Format format) {
    constexpr qsizetype kRowAlignment = 64;
    if (size.isEmpty()) {
        return {};
    }
    const qsizetype rowBytes = (static_cast<qsizetype>(size.width()) * 4 + kRowAlignment - 1) /
                               kRowAlignment * kRowAlignment;
    MappedBufferPool::Lease* lease =
        pool.take(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(size.height()));
    if (lease == nullptr) {
        return {};
    }
    QImage image(
        static_cast<uchar*>(lease->data), size.width(), size.height(), rowBytes, format,
        [](void* info) { MappedBufferPool::giveBack(static_cast<MappedBufferPool::Lease*>(info)); },
        lease);
    if (image.isNull()) {
        MappedBufferPool::giveBack(lease);
        return image;
    }
    MappedBufferPool::handOver(lease);
    return image;
}

}  // namespace kestio::platform::media

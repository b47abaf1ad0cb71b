#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstddef>
#include <memory>

namespace kestio::platform::media {

// Buffers of one size at a time, mapped from the system and reused: a decoder's pictures, and its
// decoded frames. A buffer comes back when its holder gives it back, on whatever thread; the
// pool keeps at most `spare` free buffers and unmaps the others at once, and trim() gives back
// the free ones, so what a decoder holds is what its pictures and frames in use need.
//
// Why not the general allocator: after the first large block it frees, it serves blocks of that
// size from its arenas instead of mapping them, and keeps what they held once freed, so a
// process that had played a clip kept several pictures' memory for good. Mapping a fresh block
// for every picture instead would cost a page fault per 4 KB of each.
//
// Safe from any thread. Buffers may outlive the pool: they are unmapped when given back.
class MappedBufferPool {
  public:
    struct State;
    // A buffer taken from a pool: page-aligned, its contents undefined.
    struct Lease {
        std::shared_ptr<State> state;
        void* data = nullptr;
        std::size_t bytes = 0;
        // See handOver().
        std::atomic<bool> handed{false};
    };

    explicit MappedBufferPool(std::size_t spare = 1);
    // Unmaps the free buffers; those still taken are unmapped when given back.
    ~MappedBufferPool();
    MappedBufferPool(const MappedBufferPool&) = delete;
    MappedBufferPool& operator=(const MappedBufferPool&) = delete;

    // A buffer of `bytes`, null when none can be mapped. Taking another size than the last one
    // unmaps the free buffers of the old size. Hand it to giveBack() exactly once.
    Lease* take(std::size_t bytes);
    // The taker is done with the lease's fields and hands the buffer to its holder, which may
    // give it back on another thread: that thread then sees the lease whole, whatever carried it
    // over (FFmpeg's and Qt's reference counts are invisible to the thread checker).
    static void handOver(Lease* lease) { lease->handed.store(true, std::memory_order_release); }
    // Back to its pool, or unmapped when the pool has spares enough, has moved on to another
    // size or is gone.
    static void giveBack(Lease* lease);
    // Unmaps the free buffers beyond `keep` (a decoder with nothing to do keeps none).
    void trim(std::size_t keep = 0);

    // Whether `data` is the start of a buffer taken from this pool and not given back. Asking
    // takes the pool's lock, which the taker took after mapping the buffer: so the mapping comes
    // before what the caller does next, as the thread checker sees it too (a buffer FFmpeg's
    // threads filled reaches the caller through FFmpeg's own synchronisation, which it cannot
    // see).
    bool holds(const void* data) const;
    // Buffers free in the pool, and buffers taken and not given back.
    std::size_t freeCount() const;
    std::size_t takenCount() const;

  private:
    std::shared_ptr<State> state_;
};

// A picture of `size` and `format` (32 bits a pixel) in a buffer of `pool`, its rows 64-byte
// aligned and its contents undefined; the buffer goes back when the last copy of the picture
// is gone. Null when the size is empty or no memory can be mapped.
QImage pooledPicture(MappedBufferPool& pool, QSize size, QImage::Format format);

}  // namespace kestio::platform::media

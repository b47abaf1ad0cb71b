#pragma once

#include <QImage>
#include <QSize>
#include <cstddef>
#include <memory>

namespace kestio::platform::media {

// Buffers for the pictures of one decoder, mapped from the system for each picture size and
// reused. A picture's buffer comes back to the pool when the last copy of the picture is gone,
// on whatever thread that happens; the pool keeps at most `spare` free buffers and unmaps the
// others at once, so what a decoder holds is what its pictures in use need.
//
// Why not the general allocator: after the first large block it frees, it serves blocks of that
// size from its arenas instead of mapping them, and keeps what they held once freed, so a
// process that had played a clip kept up to several pictures' memory for good. Mapping a fresh
// block for each picture instead would cost a page fault per 4 KB of every picture.
//
// Safe from any thread. Pictures may outlive the pool: their buffers are unmapped when they go.
class PicturePool {
  public:
    explicit PicturePool(std::size_t spare = 1);
    // Unmaps the free buffers; those still in pictures are unmapped when the pictures go.
    ~PicturePool();
    PicturePool(const PicturePool&) = delete;
    PicturePool& operator=(const PicturePool&) = delete;

    // A picture of `size` and `format` (32 bits a pixel), its rows 64-byte aligned and its
    // contents undefined; null when the size is empty or no memory can be mapped. Taking a size
    // other than the last one unmaps the free buffers of the old size.
    QImage take(QSize size, QImage::Format format);
    // Unmaps the free buffers beyond `keep` (a decoder with nothing to do keeps none).
    void trim(std::size_t keep = 0);

    // Buffers free in the pool, and buffers in pictures now.
    std::size_t freeCount() const;
    std::size_t inUseCount() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace kestio::platform::media

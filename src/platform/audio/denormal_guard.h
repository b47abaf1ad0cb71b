#pragma once

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace kestio::platform::audio {

// While it lives, the calling thread treats denormal floats as zero and flushes denormal
// results to zero; it puts the thread's previous mode back when it goes. Filters and
// stretchers fading into silence reach denormal values, which the CPU handles many times more
// slowly than normal ones (the render thread's EQ costs about twice as much after a few
// seconds of silence), and they are inaudible. On processors without SSE it does nothing.
class DenormalGuard {
  public:
    DenormalGuard() noexcept {
#if defined(__SSE__)
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
#endif
    }
    ~DenormalGuard() {
#if defined(__SSE__)
        _mm_setcsr(saved_);
#endif
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

  private:
#if defined(__SSE__)
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved_ = 0;
#endif
};

}  // namespace kestio::platform::audio

#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/pcm_buffer.h"
#include "platform/audio/tap_ring.h"

namespace kestio::platform::audio {

// What a tap calls with each block: non-interleaved float samples, exactly the requested
// number of frames, on the engine's tap thread. The buffer is only valid during the call.
using TapBlock = std::function<void(const PcmBuffer&)>;

// The tap thread of one engine: drains every tap's ring a few hundred times a second (fifty
// once every ring has stayed empty for a while), cuts the samples into blocks of the tap's size
// and calls the tap's block with each, in order. A format change or dropped samples start a
// new block. Where the node's sound stops (it renders silence: nothing plays), the block it
// stops in is handed over filled up with zeros, then one block of zeros, and no more blocks
// come until it sounds again.
class TapDispatcher {
  public:
    TapDispatcher();
    ~TapDispatcher();
    TapDispatcher(const TapDispatcher&) = delete;
    TapDispatcher& operator=(const TapDispatcher&) = delete;

    // Registers a tap; the render thread writes into the returned ring.
    std::shared_ptr<TapRing> add(uint32_t blockFrames, TapBlock block);
    // Unregisters a tap. Once this returns the block is not running and never runs again
    // (also when called from inside the block itself).
    void remove(const TapRing* ring);

  private:
    struct Tap {
        std::shared_ptr<TapRing> ring;
        uint32_t blockFrames = 0;
        TapBlock block;
        bool removed = false;
        std::shared_ptr<PcmBuffer> pending;  // the block being filled
        uint32_t filled = 0;
        std::vector<float> scratch;
    };

    void run();
    // Hands over what the tap's ring holds; true when it held anything.
    bool drain(Tap& tap);

    std::mutex mutex_;  // taps_ and stop_
    std::condition_variable wake_;
    std::vector<std::shared_ptr<Tap>> taps_;
    bool stop_ = false;
    std::mutex deliveryMutex_;  // held by the tap thread while it reads rings and calls blocks
    std::thread thread_;
};

}  // namespace kestio::platform::audio

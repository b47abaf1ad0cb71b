// The render thread must never allocate: the engine's render call is watched through the C
// allocator, which this test binary replaces by counting wrappers (not under the sanitizers,
// which bring their own allocator). The engine's render helpers, which render chains beside the
// render thread, are watched too, by their thread name, while a render call runs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_player_node.h"
#include "platform/audio/eq_node.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/source_node.h"
#include "platform/audio/time_pitch_node.h"
#include "support/signal_analysis.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTIO_COUNT_ALLOCATIONS 0
#else
#define KESTIO_COUNT_ALLOCATIONS 1
#endif

#if KESTIO_COUNT_ALLOCATIONS
#include <sys/prctl.h>

#include <atomic>
#include <cstring>

namespace {
thread_local bool watching = false;
thread_local long calls = 0;
std::atomic<bool> watchingHelpers{false};
std::atomic<long> helperCalls{0};
thread_local int onHelper = -1;  // unknown until looked up while helpers are watched

// Counts a call made on a render helper while a render call runs.
void countHelperCall() {
    if (!watchingHelpers.load(std::memory_order_relaxed)) {
        return;
    }
    if (onHelper < 0) {
        char name[16] = {};
        prctl(PR_GET_NAME, name);
        onHelper = std::strcmp(name, "audio render") == 0 ? 1 : 0;
    }
    if (onHelper == 1) {
        helperCalls.fetch_add(1, std::memory_order_relaxed);
    }
}
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
    calls += watching;
    countHelperCall();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    calls += watching;
    countHelperCall();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    calls += watching;
    countHelperCall();
    return __libc_realloc(p, size);
}
void free(void* p) {
    calls += watching && p != nullptr;
    if (p != nullptr) {
        countHelperCall();
    }
    __libc_free(p);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    calls += watching;
    countHelperCall();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;  // ENOMEM
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    calls += watching;
    countHelperCall();
    return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    calls += watching;
    countHelperCall();
    return __libc_memalign(alignment, size);
}
}
#endif

namespace kestio::test {
namespace {

using namespace platform::audio;

// A device whose render calls the test makes itself, into buffers made beforehand.
class WatchedDevice final : public AudioOutputDevice {
  public:
    WatchedDevice() { defaultOutput.set({true, "Watched", 2, 48000.0}); }
    AudioFormat renderFormat() const override { return {48000.0, 2, false}; }
    std::optional<std::string> start(AudioRenderCallback& callback) override {
        callback_ = &callback;
        return std::nullopt;
    }
    void stop() override { callback_ = nullptr; }
    bool isRunning() const override { return callback_ != nullptr; }
    platform::HostTime hostNow() const override { return platform::HostTime(); }

    // Renders one block; returns how many allocator calls it made.
    long render(uint32_t frames) {
#if KESTIO_COUNT_ALLOCATIONS
        calls = 0;
        watching = true;
        helperCalls = 0;
        watchingHelpers = true;
#endif
        callback_->render(
            {pointers_, 2, frames, 48000.0, platform::HostTime(), platform::HostTime()});
#if KESTIO_COUNT_ALLOCATIONS
        watching = false;
        watchingHelpers = false;
        return calls + helperCalls.load();
#else
        return 0;
#endif
    }

    float sample(uint32_t c, uint32_t i) const {
        return c == 0 ? left_[i] : right_[i];
    }

  private:
    AudioRenderCallback* callback_ = nullptr;
    std::vector<float> left_ = std::vector<float>(4096);
    std::vector<float> right_ = std::vector<float>(4096);
    float* pointers_[2] = {left_.data(), right_.data()};
};

TEST(RenderThread, NeverAllocatesWhilePlayingStretchingEqualisingAndTapping) {
#if KESTIO_COUNT_ALLOCATIONS
    calls = 0;
    watching = true;
    void* volatile probe = std::malloc(64);
    std::free(probe);
    watching = false;
    ASSERT_EQ(calls, 2) << "the allocator is not being watched";
#else
    GTEST_SKIP() << "the sanitizers replace the allocator";
#endif
    auto device = std::make_shared<WatchedDevice>();
    AudioEngine engine(device, 2);  // helpers render chains beside the render thread
    auto player = std::make_shared<AudioPlayerNode>();
    auto pitch = std::make_shared<TimePitchNode>();
    auto eq = std::make_shared<EQNode>(6);
    for (auto node : std::vector<std::shared_ptr<AudioNode>>{player, pitch, eq}) {
        engine.attach(node);
    }
    const AudioFormat link{44100.0, 2, false};  // the mixer converts it to the device's rate
    ASSERT_FALSE(engine.connect(player, pitch, link));
    ASSERT_FALSE(engine.connect(pitch, eq, link));
    ASSERT_FALSE(engine.connect(eq, engine.mainMixerNode(), link));
    eq->setBand(2, EQBand{EQBand::FilterType::Parametric, 800.0f, 1.0f, 6.0f, false});
    std::atomic<int> tapped{0};
    ASSERT_FALSE(engine.mainMixerNode()->installTap(0, 1024, std::nullopt,
                                                    [&](const PcmBuffer&) { ++tapped; }));
    // Items at the link's rate and at another one (the player converts).
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 44100.0, 44100 * 4, 0.5), 44100.0));
    player->scheduleBuffer(bufferOf(sineWave(1000.0, 48000.0, 48000 * 4, 0.5), 48000.0));
    player->play();
    ASSERT_FALSE(engine.start());
    ASSERT_TRUE(player->waitUntilPrepared(20.0));

    long total = 0;
    uint64_t rendered = 0;
    auto play = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            ASSERT_TRUE(player->waitUntilPrepared(20.0));
            total += device->render(512);
            rendered += 512;
        }
    };
    // A clock time within a block a few blocks ahead.
    auto soon = [&] { return platform::ClockTime(double(rendered + 3 * 512 + 100) / 48000.0); };
    play(20);  // rate 1: passing through
    pitch->setRate(1.5f);
    play(200);  // the stretcher starts, then runs
    pitch->setRate(0.75f, soon());
    play(50);
    pitch->setRate(1.0f, soon());  // what is inside the stretcher comes out first
    play(50);
    pitch->setRate(1.25f, soon());
    play(50);
    // A new plan handed over between blocks, with a source and a format change on the way.
    std::atomic<bool> helped{false};  // the tone rendered on a helper at least once
    auto tone = std::make_shared<SourceNode>(AudioFormat{48000.0, 1, false},
                                             [&helped, renderThread = std::this_thread::get_id()](
                                                 uint32_t frames, float* const* out, uint32_t) {
                                                 if (std::this_thread::get_id() != renderThread) {
                                                     helped = true;
                                                 }
                                                 for (uint32_t i = 0; i < frames; ++i) {
                                                     out[0][i] = 0.01f;
                                                 }
                                                 return true;
                                             });
    engine.attach(tone);
    ASSERT_FALSE(engine.connect(tone, engine.mainMixerNode(), {48000.0, 1, false}));
    // Two chains sound from here: they render side by side.
    play(50);
    player->stop();
    play(10);
    // Leaving rate 1 while nothing plays: the spare the main thread ran through silence takes
    // over.
    pitch->setRate(1.0f);
    play(50);
    pitch->setRate(2.0f);
    play(20);
    EXPECT_EQ(total, 0) << "allocator calls on the render thread";
    EXPECT_GT(tapped.load(), 0);
    EXPECT_TRUE(helped.load()) << "no chain was rendered beside the render thread";
    engine.stop();
}

}  // namespace
}  // namespace kestio::test

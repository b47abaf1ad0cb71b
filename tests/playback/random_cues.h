#pragma once

// What an operator might do next in a random show: a slot fired, a loop released, a preload
// (often of a slot not played next), a transport operation mid-clip, or a post-roll to black.
// The soaks on scripted and on real media draw their cues from here.

#include <functional>
#include <random>

#include "model/project_data.h"
#include "playback/playback_controller.h"

namespace kestio::test {

// The grid both soaks fire their cues over: two banks of 2 × 3 slots.
inline constexpr int kSoakBanks = 2;
inline constexpr int kSoakRows = 2;
inline constexpr int kSoakColumns = 3;
inline constexpr int kSoakSlots = kSoakRows * kSoakColumns;

class RandomCues {
  public:
    RandomCues(std::mt19937& random, int banks, int slots)
        : random_(random), banks_(banks), slots_(slots) {}

    double uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random_);
    }
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

    // `play` fires a slot as the show does; `slot` reads its record.
    void fire(PlaybackController& pc, const std::function<void(int, int)>& play,
              const std::function<const SlotData&(int, int)>& slot) {
        const int kind = pick(20);
        if (kind < 11) {
            play(pick(banks_), pick(slots_));
        } else if (kind < 13) {
            if (pc.isLooping()) {
                pc.releaseLoop(PostRollMode(pick(5)));
            } else {
                play(pick(banks_), pick(slots_));
            }
        } else if (kind < 15) {
            const int bank = pick(banks_);
            const int index = pick(slots_);
            const SlotData& data = slot(bank, index);
            pc.preloadNext(bank, index, *data.videoURL, data);
        } else if (kind < 19) {
            switch (pick(7)) {
                case 0:
                    pc.pause();
                    break;
                case 1:
                    pc.resume();
                    break;
                case 2:
                    pc.seek(uniform(-1.0, 5.0));
                    break;
                case 3:
                    pc.skip(pick(11) - 5, 29.97);
                    break;
                case 4:
                    pc.setPlaybackRate(uniform(0.0, 10.0));
                    break;
                case 5:
                    pc.toggleMute();
                    break;
                default:
                    pc.applyColorSettings(ColorSettings{});
                    break;
            }
        } else {
            pc.handlePostRoll(PostRollMode::black);
        }
    }

  private:
    std::mt19937& random_;
    int banks_;
    int slots_;
};

}  // namespace kestio::test

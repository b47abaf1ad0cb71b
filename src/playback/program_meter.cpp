#include "playback/program_meter.h"

#include <string>
#include <vector>

#include "platform/audio/audio_engine.h"
#include "platform/audio/audio_output_device.h"
#include "platform/audio/mixer_node.h"

namespace kestio {

namespace {
// The meter's tap: frames per measurement, and the timer's period.
constexpr uint32_t kTapFrames = 1024;
constexpr double kVuPeriod = 1.0 / 30.0;
// Ticks without a measurement after which the meters show silence.
constexpr int kTicksBeforeSilence = 3;
}  // namespace

ProgramMeter::ProgramMeter(platform::RunLoop& loop, platform::audio::AudioEngine& engine,
                           Values values, PlayEvents& events)
    : loop_(loop), engine_(engine), values_(values), events_(events) {}

ProgramMeter::~ProgramMeter() {
    alive_.reset();
    timer_.cancel();
    deviceSubscription_.reset();
    if (tapInstalled_) {
        engine_.mainMixerNode()->removeTap(0);
    }
}

void ProgramMeter::start() {
    refreshOutputDevice();
    deviceSubscription_ = engine_.device().defaultOutput.subscribe(
        [this](const platform::audio::OutputDeviceInfo&) { refreshOutputDevice(); });
    // The tap holds the meter and a weak hold of this part, never the part itself, so a block
    // still running while the controller goes touches nothing of it; the loop outlives both.
    auto meter = meter_;
    auto woken = [&loop = loop_, weak = weakSelf(), this] {
        loop.post([weak, this] {
            if (weak.lock() && !timer_.active()) {
                wake();
                tick();  // the sound that woke the meter is shown at once
            }
        });
    };
    if (auto failure = engine_.mainMixerNode()->installTap(
            0, kTapFrames, std::nullopt, [meter, woken](const platform::audio::PcmBuffer& buffer) {
                if (meter->measure(buffer)) {
                    woken();
                }
            })) {
        events_.log("VU: tap not installed: " + *failure);
    } else {
        tapInstalled_ = true;
    }
    wake();
}

void ProgramMeter::silence() {
    meter_->reset();
    values_.levels.set(std::vector<float>(kMeterChannels, kSilenceDb));
    values_.levelL.set(kSilenceDb);
    values_.levelR.set(kSilenceDb);
    lastPublishedWasSilent_ = true;
}

void ProgramMeter::wake() {
    if (timer_.active()) {
        return;
    }
    ticksWithoutReading_ = 0;
    timer_ = loop_.every(kVuPeriod, [weak = weakSelf(), this] {
        if (weak.lock()) {
            tick();
        }
    });
}

void ProgramMeter::sleep() {
    timer_.cancel();
    if (!meter_->sleep()) {
        wake();  // a measurement came in meanwhile
    }
}

void ProgramMeter::tick() {
    auto taken = meter_->take();
    if (taken) {
        ticksWithoutReading_ = 0;
    } else if (++ticksWithoutReading_ < kTicksBeforeSilence) {
        // Blocks come unevenly: a tick without one keeps what is shown.
        return;
    } else if (lastPublishedWasSilent_) {
        // Nothing is measured and silence is shown: nothing to do until the tap measures.
        sleep();
        return;
    } else {
        // No sound is being rendered: the meters fall to silence.
        taken = VuReading();
        taken->channelCount = values_.channelCount.get();
    }
    const bool silent = taken->isSilent();
    if (silent && lastPublishedWasSilent_) {
        return;
    }
    lastPublishedWasSilent_ = silent;
    publish(*taken);
}

void ProgramMeter::publish(const VuReading& reading) {
    values_.levels.set(std::vector<float>(reading.levels.begin(), reading.levels.end()));
    values_.levelL.set(reading.levels[0]);
    values_.levelR.set(reading.levels[1]);
    values_.channelCount.set(reading.channelCount);
}

void ProgramMeter::refreshOutputDevice() {
    const auto info = engine_.device().defaultOutput.get();
    if (!info.present) {
        values_.outputDeviceName.set("\u2014");
    } else if (info.channelCount < 1) {
        values_.outputDeviceName.set(info.name);
    } else {
        values_.outputDeviceName.set(info.name + " (" + std::to_string(info.channelCount) + "ch)");
    }
}

}  // namespace kestio

#include "support/fake_show_playback.h"

#include <sstream>

#include "model/model_enums.h"

namespace kestio::test {

namespace {

std::string sizeText(platform::SizeF size) {
    std::ostringstream out;
    out << size.width << "x" << size.height;
    return out.str();
}

}  // namespace

void FakeShowPlayback::play(int bank, int slot, const std::filesystem::path& url,
                            const SlotData& data, platform::SizeF monitorSize) {
    calls.push_back("play " + std::to_string(bank) + " " + std::to_string(slot) + " " +
                    url.string() + " " + sizeText(monitorSize));
    lastPlayed = data;
    if (publishOnPlay) {
        clipName_ = data.name;
        setOnAir(bank, slot);
    }
}

void FakeShowPlayback::preloadNext(int bank, int slot, const std::filesystem::path& url,
                                   const SlotData& data) {
    calls.push_back("preloadNext " + std::to_string(bank) + " " + std::to_string(slot) + " " +
                    url.string());
    lastPlayed = data;
}

void FakeShowPlayback::standby(int bank, int slot, const std::filesystem::path& url,
                               const SlotData& data, platform::SizeF monitorSize) {
    calls.push_back("standby " + std::to_string(bank) + " " + std::to_string(slot) + " " +
                    url.string() + " " + sizeText(monitorSize));
    lastPlayed = data;
    clipName_ = data.name;
    setOnAir(bank, slot);
}

void FakeShowPlayback::log(const std::string& message) {
    logLines.push_back(message);
}

void FakeShowPlayback::setLogFileURL(std::optional<std::filesystem::path> url) {
    logFile = std::move(url);
}

void FakeShowPlayback::reopenLogFile() {
    ++logFileReopens;
}

void FakeShowPlayback::handlePostRoll(PostRollMode mode) {
    calls.push_back("postRoll " + std::string(rawValue(mode)));
    if (mode == PostRollMode::black) {
        clipName_ = std::string("No Selection");
        setOnAir(std::nullopt, std::nullopt);
    }
}

void FakeShowPlayback::pause() {
    calls.push_back("pause");
}
void FakeShowPlayback::resume() {
    calls.push_back("resume");
}

void FakeShowPlayback::toggleMute(const std::optional<AudioSettings>& onAirAudio) {
    calls.push_back(std::string("toggleMute ") + (onAirAudio ? "slot" : "none"));
    muted_ = !muted_.get();
}

void FakeShowPlayback::applyOutPoint(std::optional<double> outPoint) {
    std::ostringstream out;
    out << "out point ";
    if (outPoint) {
        out << *outPoint;
    } else {
        out << "none";
    }
    calls.push_back(out.str());
}

void FakeShowPlayback::applySlotVolume(bool muted, float gainDB) {
    std::ostringstream out;
    out << "volume " << (muted ? "muted" : "on") << " " << gainDB;
    calls.push_back(out.str());
}

void FakeShowPlayback::setPlaybackRate(double rate) {
    std::ostringstream out;
    out << "rate " << rate;
    calls.push_back(out.str());
}

void FakeShowPlayback::updateGeometry(const GeometrySettings&) {
    calls.push_back("geometry");
}
void FakeShowPlayback::applyColorSettings(const ColorSettings&) {
    calls.push_back("color");
}

void FakeShowPlayback::applyEqualizerToShowingSlot(const EqualizerSettings& eq) {
    std::ostringstream out;
    out << "equalizer " << eq.hz80 << " " << eq.hz315 << " " << eq.hz800 << " " << eq.khz1_25 << " "
        << eq.khz2_5 << " " << eq.khz3_2;
    calls.push_back(out.str());
}

void FakeShowPlayback::releaseLoop(PostRollMode postRoll) {
    calls.push_back("releaseLoop " + std::string(rawValue(postRoll)));
}

void FakeShowPlayback::removeObservers() {
    calls.push_back("removeObservers");
}

void FakeShowPlayback::waitForWarmReady(double timeout, std::function<void(bool)> done) {
    std::ostringstream out;
    out << "waitForWarmReady " << timeout;
    calls.push_back(out.str());
    if (warmReadyAnswer) {
        done(*warmReadyAnswer);
    } else {
        pendingWarmWaits.push_back(std::move(done));
    }
}

void FakeShowPlayback::setWarming(bool value) {
    calls.push_back(std::string("warming ") + (value ? "on" : "off"));
    warming = value;
}

void FakeShowPlayback::hideSlotLayers() {
    calls.push_back("hideSlotLayers");
}

void FakeShowPlayback::clearSurface() {
    calls.push_back("clearSurface");
    logLines.push_back("[LAYER] stopAll");
}

void FakeShowPlayback::setOnAir(std::optional<int> bank, std::optional<int> slot) {
    bank_ = bank;
    slot_ = slot;
}

void FakeShowPlayback::answerWarmWait(bool ready) {
    if (pendingWarmWaits.empty()) {
        return;
    }
    auto done = std::move(pendingWarmWaits.front());
    pendingWarmWaits.erase(pendingWarmWaits.begin());
    done(ready);
}

std::vector<std::string> FakeShowPlayback::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& call : calls) {
        if (call.rfind(prefix, 0) == 0) {
            out.push_back(call);
        }
    }
    return out;
}

void FakeShowPlayback::setMeterPeak(bool peak) {
    calls.push_back(std::string("meterPeak ") + (peak ? "1" : "0"));
}

void FakeShowPlayback::seek(double seconds) {
    std::ostringstream out;
    out << "seek " << seconds;
    calls.push_back(out.str());
}

void FakeShowPlayback::skip(int frames, double frameRate) {
    std::ostringstream out;
    out << "skip " << frames << " " << frameRate;
    calls.push_back(out.str());
}

void FakeShowPlayback::setSeeking(bool seeking) {
    calls.push_back(std::string("seeking ") + (seeking ? "1" : "0"));
}

}  // namespace kestio::test

#pragma once

// A playback controller on scripted media, scripted clip players and a null audio device, all on
// one ManualRunLoop, with a project the test fills, a fixed time of day and a play log in a
// temporary package folder.

#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/localization_manager.h"
#include "model/project_data.h"
#include "output/audio_engine_controller.h"
#include "output/output_surface.h"
#include "output/playback_slot.h"
#include "platform/graphics/still_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/runloop/wall_clock.h"
#include "platform/storage/user_defaults.h"
#include "playback/play_log.h"
#include "playback/playback_controller.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"
#include "support/null_audio_device.h"
#include "support/temporary_folder.h"

namespace kestio::test {

// 21:05:03.042 UTC on a fixed day.
inline std::chrono::system_clock::time_point fixedTimeOfDay() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(
        1700000000000LL - (1700000000000LL % 86400000LL) + ((21 * 60 + 5) * 60 + 3) * 1000LL + 42));
}

inline std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A project of `banks` banks of rows x columns slots, each slot a video at "/media/b<B>s<S>.mp4"
// with clip facts (30 fps, 10 s, stereo 48 kHz).
inline ProjectData makeProject(int banks, int rows = 2, int columns = 2) {
    ProjectData project;
    project.rows = rows;
    project.columns = columns;
    project.banks.resize(std::size_t(banks));
    for (int b = 0; b < banks; ++b) {
        for (int s = 0; s < rows * columns; ++s) {
            SlotData slot;
            slot.name = "b" + std::to_string(b) + "s" + std::to_string(s);
            slot.videoURL = "/media/" + slot.name + ".mp4";
            ClipInfo info;
            info.fps = 30.0;
            info.duration = 10.0;
            info.channels = 2;
            info.sampleRate = 48000.0;
            slot.clipInfo = info;
            project.banks[std::size_t(b)].slots.push_back(slot);
        }
    }
    return project;
}

struct PlaybackRig {
    // `ownDecodeThreads`: stills decode on the controller's own threads, as in the application,
    // rather than at once on the calling thread.
    explicit PlaybackRig(AppLanguage language = AppLanguage::en, bool ownDecodeThreads = false)
        : device(std::make_shared<NullAudioDevice>(48000.0, 2, "Null Output", loop.hostClock())) {
        localization.language = language;
        controller = std::make_unique<PlaybackController>(PlaybackServices{
            loop, wallClock,
            std::make_unique<output::OutputSurface>(output::OutputSurface::Services{
                loop, device, media,
                [this](std::shared_ptr<platform::media::QueuePlayer> player,
                       AudioEngineController&) -> std::unique_ptr<platform::media::ClipPlayer> {
                    auto clipPlayer = std::make_unique<FakeClipPlayer>(loop, std::move(player));
                    clipPlayers.push_back(clipPlayer.get());
                    return clipPlayer;
                },
                wallClock}),
            &localization,
            [this](const std::filesystem::path& file, QSize shownAt,
                   const std::function<bool()>& stop) {
                {
                    std::lock_guard lock(stillSizesMutex);
                    stillSizesAsked.push_back(shownAt);
                }
                return decodeStill(file, stop);
            },
            ownDecodeThreads ? std::function<void(std::function<void()>)>()
                             : [](std::function<void()> job) { job(); },
            &media});
        controller->projectProvider = [this]() -> std::optional<ProjectData> { return project; };
        controller->onRequestPlay = [this](int bank, int slot) {
            requests.push_back({bank, slot});
            if (playRequests) {
                playSlot(bank, slot);
            }
        };
        controller->onRequestPreloadNext = [this](int bank, int slot) {
            preloadRequests.push_back({bank, slot});
        };
        controller->logFileURL = folder.path() / "app.log";
        controller->reopenLogFile();
    }

    ~PlaybackRig() { controller.reset(); }

    PlaybackController& pc() { return *controller; }
    output::OutputSurface& surface() { return controller->view(); }

    const SlotData& slot(int bank, int slot) {
        return project.banks[std::size_t(bank)].slots[std::size_t(slot)];
    }
    SlotData& editSlot(int bank, int slot) {
        return project.banks[std::size_t(bank)].slots[std::size_t(slot)];
    }
    // Plays a slot as the show controller does: its URL and record from the project.
    void playSlot(int bank, int slot) {
        const SlotData& data = this->slot(bank, slot);
        controller->play(bank, slot, *data.videoURL, data, {1920.0, 1080.0});
    }

    // Runs posted work handed over by the sound chains' load threads, without moving the clock.
    bool settleLoads() {
        // A slot holding an item has its chain loading the item's sound until it has finished.
        auto settled = [](output::PlaybackSlot& slot) {
            return !slot.player()->current() || slot.audio().loadFinished();
        };
        auto finished = [&] { return settled(surface().slotA()) && settled(surface().slotB()); };
        for (int i = 0; i < 3000 && !finished(); ++i) {
            loop.waitForPosted(0.01);
        }
        loop.runPending();
        return finished();
    }
    // Moves the clock in steps of `step`, letting the chains' loads land between steps.
    void advance(double seconds, double step = 0.005) {
        for (double moved = 0.0; moved < seconds - 1e-12; moved += step) {
            settleLoads();
            loop.advance(std::min(step, seconds - moved));
        }
        settleLoads();
    }

    std::vector<std::string> logLines() {
        controller->playLog().flush();
        return readLines(folder.path() / "app.log");
    }
    // The play-log lines holding `fragment`, in order.
    bool logHas(const std::string& fragment) {
        for (const auto& line : logLines()) {
            if (line.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<NullAudioDevice> device;
    FakeMediaFactory media{loop};
    std::vector<FakeClipPlayer*> clipPlayers;
    std::shared_ptr<platform::FixedWallClock> wallClock =
        std::make_shared<platform::FixedWallClock>(fixedTimeOfDay());
    platform::InMemoryUserDefaults defaults;
    LocalizationManager localization{defaults};
    ProjectData project = makeProject(2);
    std::vector<SlotRef> requests;
    std::vector<SlotRef> preloadRequests;
    // Post-roll requests play the slot asked for.
    bool playRequests = true;
    // The sizes the controller asked stills to be decoded for, in order (asked on the decoding
    // threads).
    std::mutex stillSizesMutex;
    std::vector<QSize> stillSizesAsked;
    std::function<platform::DecodedStill(const std::filesystem::path&,
                                         const std::function<bool()>& stop)>
        decodeStill = [](const std::filesystem::path&, const std::function<bool()>&) {
            platform::DecodedStill still;
            still.image = QImage(640, 360, QImage::Format_RGB32);
            still.image.fill(Qt::red);
            still.fullSize = still.image.size();
            return still;
        };
    TemporaryFolder folder;
    std::unique_ptr<PlaybackController> controller;
};

}  // namespace kestio::test

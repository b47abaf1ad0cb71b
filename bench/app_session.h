#pragma once

// The surroundings of the real kestio program for the application benchmarks, besides the X
// server the benchmark starts first: a private PulseAudio server, a JACK server on the dummy
// driver, the program's own settings, data and cache folders, and show packages of generated
// clips written the way the program saves them. Everything started here is stopped by its
// process id. The JACK servers of every test and benchmark on the machine take turns; with
// KESTIO_BENCH_MIDI=alsa the program is started without one (its MIDI then has no ports where
// the machine has no ALSA sequencer), so a benchmark that plays no MIDI does not wait its turn.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/end_to_end/desktop_session.h"
#include "app/end_to_end/program_show.h"
#include "filled_bank.h"
#include "model/project_manager.h"
#include "platform/audio/pulse_server.h"
#include "platform/storage/bookmark_service.h"
#include "support/jack_server.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace kestio::bench {

// Skips the benchmark, saying why, when its setting-up says it failed.
inline bool skipped(benchmark::State& state, const std::string& failure) {
    if (failure.empty()) {
        return false;
    }
    state.SkipWithError(failure.c_str());
    return true;
}

namespace fs = std::filesystem;

// The MIDI system the program is started with ("--midi" and this): "jack", or KESTIO_BENCH_MIDI.
inline std::string midiApi() {
    const char* chosen = std::getenv("KESTIO_BENCH_MIDI");
    return chosen && *chosen ? chosen : "jack";
}

inline std::string readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class AppSession {
  public:
    AppSession() {
        pulseFailure_ = pulse_.start();
        fs::create_directories(folder_ / "media");
        // After the sound server, which points XDG_CONFIG_HOME at its own folder.
        environment_ = test::programEnvironment(folder_.path());
    }

    // jackd can take minutes to end after the program's clients went with its process: nothing
    // of it is needed any more.
    ~AppSession() {
        if (jack_) {
            jack_->kill();
        }
    }
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    // Empty when every server runs, else what is missing.
    std::string failure() const {
        if (!pulseFailure_.empty()) {
            return "no private PulseAudio server: " + pulseFailure_;
        }
        if (jack_ && !jack_->running()) {
            return jack_->failure();
        }
        return {};
    }

    // A fresh JACK server under the same name. A program ended by a signal leaves its clients
    // open in the server, which then takes seconds to let the next program's clients in.
    bool restartJack() {
        if (!jack_) {
            return true;
        }
        jack_->kill();
        return jack_->start();
    }
    const fs::path& folder() const { return folder_.path(); }

    // A slot of the show: a file of its own name (a hard link to `clip`), as the importer leaves
    // it, with the clip's facts and a thumbnail.
    void fillSlot(SlotData& slot, const test::MediaFile& clip, const std::string& name, int seed) {
        const fs::path file = folder_ / "media" / (name + "." + clip.extension);
        std::error_code ec;
        fs::create_hard_link(clip.path, file, ec);
        if (ec) {
            fs::copy_file(clip.path, file, fs::copy_options::overwrite_existing);
        }
        test::makeLoopingClipCue(slot, clip, file, name, bookmarks_);
        slot.thumbnail = slotThumbnailPNG(seed);
    }

    // A show of 20 banks of 4 × 10 slots, every slot of the first `filledBanks` a looping cue of
    // the 59.94 clip; `adjust` may change it before it is saved as `name` in the session's folder.
    fs::path writeShow(const std::string& name, std::size_t filledBanks,
                       const std::function<void(ProjectData&)>& adjust = {}) {
        const test::MediaFile& clip = test::mediaFixtures().rateClip({60000, 1001});
        ProjectData project(4, 10);
        for (std::size_t b = 0; b < std::min(filledBanks, project.banks.size()); ++b) {
            auto& slots = project.banks[b].slots;
            for (std::size_t s = 0; s < slots.size(); ++s) {
                const std::string title =
                    "B" + std::to_string(b + 1) + " Clip " + std::to_string(s + 1);
                fillSlot(slots[s], clip, title, int(b * slots.size() + s));
            }
        }
        if (adjust) {
            adjust(project);
        }
        return ProjectManager(bookmarks_).save(project, folder_ / name);
    }

    // Waits until the package's play log says its clips are warmed up.
    static bool waitForWarmUp(const fs::path& package) {
        return test::pollUntil(
            [&] {
                return readWholeFile(package / "app.log").find("ウォームアップ完了") !=
                       std::string::npos;
            },
            std::chrono::seconds(120));
    }

  private:
    test::PulseServer pulse_;
    std::string pulseFailure_;
    std::unique_ptr<test::JackServer> jack_ =
        midiApi() == "jack" ? std::make_unique<test::JackServer>() : nullptr;
    test::TemporaryFolder folder_;
    platform::BookmarkService bookmarks_;
    std::vector<std::unique_ptr<test::ScopedEnvironment>> environment_;
};

}  // namespace kestio::bench

// The show controller on the real parts: the clip importer on generated files, the playback
// controller decoding them with FFmpeg on the null audio device, and MIDI through a private
// JACK server with other JACK clients as the pads and the synth. The run loop is manual; the
// importer's and decoders' threads hand their work over to it, and the tests wait on conditions.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>

#include "model/project_manager.h"
#include "platform/midi/jack_midi_system.h"
#include "platform/midi/loopback_midi_system.h"
#include "platform/runloop/manual_run_loop.h"
#include "playback/play_log.h"
#include "playback/playback_controller.h"
#include "show/live_show_playback.h"
#include "show/midi_routing.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_import.h"
#include "support/jack_midi_peer.h"
#include "support/jack_server.h"
#include "support/live_show_rig.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Every real part of a show, on the MIDI system it is given.
struct RealShow {
    explicit RealShow(platform::ManualRunLoop& loop, platform::MIDISystem& midiSystem)
        : loop(loop), rig(loop, midiSystem, {.asApplication = true}) {
        controller.view().setViewSize({320.0, 180.0});
        std::filesystem::create_directories(package);
        controller.logFileURL = package / "app.log";
        controller.reopenLogFile();
        // As the main window wires them.
        live.onRequestPlay = [this](int bank, int slot) { show->requestPlay(bank, slot); };
        show->currentProjectURL = package;
    }

    // Runs the loop until `done` holds, taking 5 ms of virtual time for every 10 ms of waiting
    // for the workers; false when `wallSeconds` pass first.
    template <class Pred>
    bool runUntil(Pred done, double wallSeconds = 60.0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(wallSeconds));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            loop.waitForPosted(0.01);
            loop.advance(0.005);
            rig.device->pull(240);
        }
        return true;
    }
    SlotData& slot(int bank, int index) {
        return const_cast<ProjectData&>(show->project())
            .banks[std::size_t(bank)]
            .slots[std::size_t(index)];
    }
    std::vector<std::string> logMessages() {
        controller.playLog().flush();
        std::vector<std::string> out;
        std::ifstream in(package / "app.log");
        for (std::string line; std::getline(in, line);) {
            out.push_back(line.substr(line.find("] ") + 2));
        }
        return out;
    }

    platform::ManualRunLoop& loop;
    TemporaryFolder folder;
    std::filesystem::path package = folder.path() / "Show.ktshow";
    LiveShowRig rig;
    PlaybackController& controller = rig.controller;
    LiveShowPlayback& live = rig.playback;
    MIDIInputController& midi = rig.parts.midi;
    MIDIOutputController& midiOut = rig.parts.midiOut;
    std::unique_ptr<ShowController>& show = rig.show;
};

TEST(ShowOnRealFiles, AClipAPictureAndASoundDroppedOnSlot38LandInOrderWithTheirThumbnails) {
    platform::ManualRunLoop loop;
    platform::LoopbackMIDISystem midiSystem{loop};
    RealShow real(loop, midiSystem);
    const auto drop = real.folder.path() / "drop";
    std::filesystem::create_directories(drop);
    std::filesystem::copy_file(mediaFixtures().video("mp4").path, drop / "clip.mp4");
    std::filesystem::copy_file(mediaFixtures().still("png").path, drop / "still.png");
    std::filesystem::copy_file(mediaFixtures().audio("wav").path, drop / "tone.wav");
    std::ofstream(drop / "notes.txt") << "not media";
    // The slot after the target holds a clip already.
    real.slot(0, 39).videoURL = mediaFixtures().video("mp4").path;
    real.slot(0, 39).name = "taken";

    real.show->showImport().handleDrop(
        {drop / "clip.mp4", drop / "notes.txt", drop / "still.png", drop / "tone.wav"}, 0, 38);
    EXPECT_EQ(real.show->importAlert.get(), std::optional<std::string>("非対応形式: notes.txt\n"));
    ASSERT_TRUE(real.show->isLoading.get());
    ASSERT_TRUE(real.runUntil([&] {
        return !real.show->isLoading.get() && !real.controller.isWarming() &&
               real.slot(0, 38).thumbnail;
    }));
    // The pictures are held in the project until it is saved.
    const auto thumbnails = real.package / ProjectManager::kThumbnailsFolderName;
    EXPECT_TRUE(!std::filesystem::exists(thumbnails) || std::filesystem::is_empty(thumbnails));

    struct Expected {
        int bank, slot;
        const char* name;
        MediaType type;
    };
    for (const Expected& e :
         {Expected{0, 38, "clip", MediaType::video}, Expected{1, 0, "still", MediaType::still},
          Expected{1, 1, "tone", MediaType::audio}}) {
        const SlotData& record = real.slot(e.bank, e.slot);
        EXPECT_EQ(record.name, e.name);
        EXPECT_EQ(record.mediaType, e.type) << e.name;
        EXPECT_TRUE(record.thumbnail && record.thumbnail->size() > 8) << e.name;
        EXPECT_EQ(record.thumbnailFileName,
                  "thumb_" + std::to_string(e.bank) + "_" + std::to_string(e.slot) + ".png");
    }
    EXPECT_EQ(real.slot(0, 39).name, "taken");
    // The save writes the video's thumbnail into the package as a PNG.
    bool saved = false;
    real.show->projectIO().saveProject([&](bool done) { saved = done; });
    ASSERT_TRUE(real.runUntil([&] { return saved; }));
    const auto name = real.rig.parts.projectManager.load(real.package)
                          .banks[0]
                          .slots[38]
                          .thumbnailFileName.value_or("");
    std::ifstream png(thumbnails / name, std::ios::binary);
    char magic[4] = {};
    png.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");

    std::vector<std::string> done;
    for (const auto& message : real.logMessages()) {
        if (message.rfind("インポート完了", 0) == 0) {
            done.push_back(message);
        }
    }
    EXPECT_EQ(done, (std::vector<std::string>{"インポート完了: clip → BANK1 SLOT39",
                                              "インポート完了: still → BANK2 SLOT1",
                                              "インポート完了: tone → BANK2 SLOT2"}));
    // Each passed the display check; the output ends black with nothing on air.
    EXPECT_EQ(real.show->importAlert.get(), std::optional<std::string>("非対応形式: notes.txt\n"));
    EXPECT_FALSE(real.live.currentBankIndex().get());
    EXPECT_FALSE(real.controller.isMuted.get());
}

TEST(ShowOnRealFiles, AFileGoneBeforeItsProbeIsReportedAndFillsNothing) {
    platform::ManualRunLoop loop;
    platform::LoopbackMIDISystem midiSystem{loop};
    RealShow real(loop, midiSystem);
    const auto drop = real.folder.path() / "drop";
    std::filesystem::create_directories(drop);
    std::filesystem::copy_file(mediaFixtures().video("mp4").path, drop / "gone.mp4");
    std::filesystem::copy_file(mediaFixtures().still("png").path, drop / "kept.png");
    real.show->showImport().handleDrop({drop / "gone.mp4", drop / "kept.png"}, 2, 0);
    // The probes start on a later turn: the clip is gone by then.
    std::filesystem::remove(drop / "gone.mp4");
    ASSERT_TRUE(
        real.runUntil([&] { return !real.show->isLoading.get() && !real.controller.isWarming(); }));
    ASSERT_TRUE(real.show->importAlert.get());
    EXPECT_NE(real.show->importAlert.get()->find("gone.mp4"), std::string::npos)
        << *real.show->importAlert.get();
    EXPECT_FALSE(real.slot(2, 0).videoURL);
    EXPECT_EQ(real.slot(2, 1).name, "kept");
}

class ShowMIDIOverJack : public JackServerTest {
  protected:
    void SetUp() override {
        JackServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        system = std::make_unique<platform::JackMIDISystem>(loop);
        real = std::make_unique<RealShow>(loop, *system);
        clip = mediaFixtures().rateClip({30, 1}).path;
    }
    void TearDown() override {
        real.reset();
        system.reset();
    }
    void loadClip(int bank, int slot) {
        real->slot(bank, slot).videoURL = clip;
        real->slot(bank, slot).name = "clip";
        real->slot(bank, slot).mediaType = MediaType::video;
    }

    platform::ManualRunLoop loop;
    std::unique_ptr<platform::JackMIDISystem> system;
    std::unique_ptr<RealShow> real;
    std::filesystem::path clip;
};

TEST_F(ShowMIDIOverJack, ANoteFromAnotherClientPutsItsSlotOnAirAndShowsItsBank) {
    auto pads = JackMidiPeer::source("KestioTestPads", "out");
    ASSERT_TRUE(pads.opened());
    loadClip(3, 7);
    real->slot(3, 7).addMIDIBinding(1, 0x24);
    real->midi.start();
    real->show->midiRouting().setupMIDIInput();
    // The controller connects once the server's first answer reaches the main thread.
    ASSERT_TRUE(real->runUntil([&] { return real->midi.isConnected.get(); }, 10.0));
    // JACK joins a new connection a few cycles later: a control change nothing listens to is
    // sent until one arrives.
    bool primed = false;
    for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
        pads.send({0xBF, 0x7F, 0x00});
        primed =
            real->runUntil([&] { return real->midi.lastMessageDescription.get() != "—"; }, 0.1);
    }
    ASSERT_TRUE(primed);

    pads.send({0x90, 0x24, 0x64});
    ASSERT_TRUE(real->runUntil([&] { return real->show->isOnAir(3, 7); }, 10.0));
    EXPECT_EQ(real->show->currentBank.get(), 3);
    EXPECT_EQ(real->show->cursorSlot.get(), 7);
    // The output shows it once its take is made.
    EXPECT_TRUE(real->runUntil([&] { return real->controller.onAirClip().url == clip; }, 10.0));
}

TEST_F(ShowMIDIOverJack, APlayedSlotsNoteReachesAnotherClientAndIsReleasedAfter120ms) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Bytes> packets;
    int probes = 0;
    auto synth = JackMidiPeer::destination("KestioTestSynth", "in",
                                           [&](const std::uint8_t* b, std::size_t n) {
                                               std::lock_guard lock(mutex);
                                               if (Bytes(b, b + n) == Bytes{0xBF, 0x7F, 0x00}) {
                                                   ++probes;
                                               } else {
                                                   packets.emplace_back(b, b + n);
                                               }
                                               arrived.notify_all();
                                           });
    ASSERT_TRUE(synth.opened());
    auto& out = real->midiOut;
    out.setup();
    ASSERT_TRUE(real->runUntil([&] { return out.isConnected.get(); }, 10.0));
    out.selectedDestinationName = std::string("KestioTestSynth:in");
    {
        std::unique_lock lock(mutex);
        bool primed = false;
        for (int attempt = 0; attempt < 100 && !primed; ++attempt) {
            lock.unlock();
            out.sendMessage(0xB0, 127, 0, 16);
            lock.lock();
            primed =
                arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return probes > 0; });
        }
        ASSERT_TRUE(primed);
    }

    loadClip(0, 0);
    real->slot(0, 0).midiOutputBinding = MIDINoteBinding{3, 0x3C};
    real->show->playSlot(0, 0);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return packets.size() >= 1; }));
    EXPECT_EQ(packets, (std::vector<Bytes>{{0x92, 0x3C, 0x64}}));
    lock.unlock();
    // The release goes out on the run loop 0.12 s after the note: not before.
    loop.advance(0.119);
    lock.lock();
    EXPECT_FALSE(arrived.wait_for(lock, std::chrono::milliseconds(300),
                                  [&] { return packets.size() >= 2; }));
    lock.unlock();
    loop.advance(0.002);
    lock.lock();
    ASSERT_TRUE(
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return packets.size() >= 2; }));
    EXPECT_EQ(packets, (std::vector<Bytes>{{0x92, 0x3C, 0x64}, {0x82, 0x3C, 0x00}}));
}

}  // namespace
}  // namespace kestio::test

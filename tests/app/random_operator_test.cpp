// A random operator on a whole show: the show controller, the real playback controller on an
// output surface with real decoding, the output window's mirror of that surface, the player
// panel and transport row, the colour-bar and test-tone switches, keys, MIDI notes and the
// audio engine on the null device, which rests as a sound server's output does (no blocks are
// asked for while the engine says it may rest, until it wakes the device). After every step of
// virtual time both composed pictures, the player panel and the sound heard are checked against
// the show's model (show_model.h). A failing walk is shrunk to its shortest failing form and
// printed as a row for the table below.
//
// KESTIO_OPERATOR_SEEDS and KESTIO_OPERATOR_STEPS set how many walks of how many actions the
// random test runs (scripts/random-operator runs it for as long as asked).

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/utility_buttons.h"
#include "control/key_codes.h"
#include "output/external_monitor_content_view.h"
#include "output/output_surface.h"
#include "panels/live_panel_facade.h"
#include "panels/player_panel.h"
#include "panels/transport_row.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/compositor.h"
#include "show/live_signal_output.h"
#include "show/midi_routing.h"
#include "show/project_io.h"
#include "show_model.h"
#include "support/frame_number_strip.h"
#include "support/live_show_rig.h"
#include "support/playback_test_support.h"
#include "support/process_runner.h"
#include "support/sequence_shrinker.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"
#include "ui/panel_card.h"

namespace kestio::test {
namespace {

constexpr double kStep = 0.01;  // virtual seconds per step
constexpr uint32_t kBlock = 480;
constexpr double kRate = 48000.0;
constexpr int kSoundWindow = 20;  // steps a level is measured over: whole periods of every tone
constexpr QSize kView{320, 180};
constexpr int kPlayNote = 80;
constexpr int kMuteNote = 81;
// The tone at full level in both channels (an upmix would lower it by 3 dB).
constexpr const char* kBothChannels = "pan=stereo|c0=c0|c1=c0";

// The show's files, made once: clips of one colour with the frame number strip and one tone
// each, the still, the sound file.
const std::filesystem::path& fileOf(int entry) {
    static TemporaryFolder folder;
    static std::array<std::filesystem::path, kEntries.size()> made;
    auto& path = made[std::size_t(entry)];
    if (!path.empty()) {
        return path;
    }
    const ShowEntry& e = kEntries[std::size_t(entry)];
    const std::string seconds = std::to_string(e.seconds);
    const std::string tone =
        "sine=frequency=" + std::to_string(int(e.tone)) + ":sample_rate=48000:duration=" + seconds;
    std::vector<std::string> command{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    switch (e.kind) {
        case MediaType::still: {
            path = folder.path() / "still.png";
            QImage still(160, 90, QImage::Format_RGB32);
            still.fill(e.colour);
            EXPECT_TRUE(still.save(QString::fromStdString(path.string())));
            return path;
        }
        case MediaType::audio:
            path = folder.path() / "sound.wav";
            command.insert(command.end(), {"-f", "lavfi", "-i", tone, "-af", kBothChannels});
            break;
        case MediaType::video:
            path = folder.path() / ("clip" + std::to_string(entry) + ".mp4");
            command.insert(command.end(), {"-f",
                                           "lavfi",
                                           "-i",
                                           "color=c=" + QColor(e.colour).name().toStdString() +
                                               ":size=160x90:rate=25:duration=" + seconds,
                                           "-f",
                                           "lavfi",
                                           "-i",
                                           tone,
                                           "-vf",
                                           FrameNumberStrip::ffmpegFilter(),
                                           "-c:v",
                                           "libx264",
                                           "-pix_fmt",
                                           "yuv420p",
                                           "-g",
                                           "5",
                                           "-bf",
                                           "0",
                                           "-af",
                                           kBothChannels,
                                           "-c:a",
                                           "aac",
                                           "-shortest"});
            break;
    }
    command.push_back(path.string());
    const auto result = runProcess(command, std::chrono::seconds(60));
    EXPECT_TRUE(result.succeeded()) << result.errorOutput;
    return path;
}

// A slot's record written into the project as the panels write it.
void write(SlotData& data, int entry, const SlotRecord& r) {
    data.postRollMode = r.postRoll;
    data.inPoint = r.in;
    data.outPoint = r.out;
    data.transitionMode = r.transition;
    data.dissolveDuration = kDissolve;
    data.jumpTarget = JumpTarget{kEntries[std::size_t(jumpTargetOf(entry))].bank,
                                 kEntries[std::size_t(jumpTargetOf(entry))].slot};
}

// What a composed picture shows.
struct Seen {
    Look look = Look::black;
    int entry = -1;  // for Look::slot; -1 for a picture that is none of the show's (a blend)
    int frame = -1;  // its frame number, -1 when unreadable
};

// A slot's colour as its brightness shows it: the brightness is added in linear light.
QRgb brightened(QRgb colour, double brightness) {
    const auto channel = [&](int encoded) {
        const double c = encoded / 255.0;
        const double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        const double l = std::clamp(linear + brightness, 0.0, 1.0);
        return int(std::lround(
            255.0 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055)));
    };
    return qRgb(channel(qRed(colour)), channel(qGreen(colour)), channel(qBlue(colour)));
}

// `brightness`: each entry's, as the operator set it.
Seen seenIn(const QImage& image, const std::array<double, kEntries.size()>& brightness) {
    // The SMPTE bars' upper seven, at 75 %: grey, yellow, cyan, green, magenta, red, blue.
    constexpr QRgb bars[] = {qRgb(191, 191, 191), qRgb(191, 191, 0), qRgb(0, 191, 191),
                             qRgb(0, 191, 0),     qRgb(191, 0, 191), qRgb(191, 0, 0),
                             qRgb(0, 0, 191)};
    const auto distance = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b));
    };
    int barsSeen = 0;
    for (int k = 0; k < 7; ++k) {
        barsSeen += distance(image.pixel(int((k + 0.5) * image.width() / 7), image.height() / 3),
                             bars[k]) < 90;
    }
    if (barsSeen >= 6) {
        return {Look::bars};
    }
    const QRgb centre = image.pixel(image.width() / 2, image.height() * 2 / 3);
    if (qRed(centre) < 30 && qGreen(centre) < 30 && qBlue(centre) < 30) {
        return {Look::black};
    }
    Seen seen{Look::slot};
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
        // Its colour as it was or as it is now: an edit on air shows from the next frame on.
        const QRgb colour = kEntries[e].colour;
        if (kEntries[e].kind != MediaType::audio &&
            std::min(distance(centre, colour),
                     distance(centre, brightened(colour, brightness[e]))) < 75) {
            seen.entry = int(e);
        }
    }
    if (seen.entry >= 0 && kEntries[std::size_t(seen.entry)].kind == MediaType::video) {
        seen.frame = readFrameNumber(image);
    }
    return seen;
}

std::string describe(const Seen& seen) {
    switch (seen.look) {
        case Look::black:
            return "black";
        case Look::bars:
            return "bars";
        case Look::slot:
            return seen.entry < 0 ? "a blend"
                                  : "entry " + std::to_string(seen.entry) + " frame " +
                                        std::to_string(seen.frame);
    }
    return {};
}

double db(double amplitude) {
    return 20.0 * std::log10(std::max(amplitude, 1e-9) / kToneAmplitude);
}

// One show and its operator: made afresh for every walk, so that a walk runs the same each time.
class OperatorRun : LoopbackLoop {
  public:
    explicit OperatorRun(const std::filesystem::path& package) : package_(package) {
        // Wired as the main view wires them: post-roll's plays and preloads come back to the show.
        rig.playback.onRequestPlay = [this](int bank, int slot) { show->requestPlay(bank, slot); };
        rig.playback.onRequestPreloadNext = [this](int bank, int slot) {
            show->preloadNextGo(bank, slot);
        };
        show->setupKeyboardShortcuts();
        controller.view().setViewSize({double(kView.width()), double(kView.height())});
        mirror.layout({double(kView.width()), double(kView.height())});
        show->editProject([&](ProjectData& project) { fill(project); }, false);
        if (!std::filesystem::exists(package_)) {
            rig.parts.projectManager.save(show->project(), package_);
        }
        card.show();
    }

    // Runs the walk; the first difference from the model, or none.
    std::optional<std::string> run(const std::vector<Action>& actions) {
        for (std::size_t i = 0; i < actions.size() && !failure_; ++i) {
            at_ = "after action " + std::to_string(i + 1) + " (" + toText(actions[i]) + ")";
            act(actions[i]);
            for (int k = 0; k < 5 && !failure_; ++k) {
                step();
            }
        }
        // The last action's consequences play out.
        for (int k = 0; k < 150 && !failure_; ++k) {
            step();
        }
        return failure_;
    }
    int stepsRun() const { return steps_; }

  private:
    void fill(ProjectData& project) {
        for (std::size_t e = 0; e < kEntries.size(); ++e) {
            const ShowEntry& entry = kEntries[e];
            SlotData& data = project.banks[std::size_t(entry.bank)].slots[std::size_t(entry.slot)];
            data.videoURL = fileOf(int(e));
            data.bookmarkData = rig.parts.bookmarks.bookmarkData(*data.videoURL);
            data.name = data.videoURL->stem().string();  // as the importer names it
            data.mediaType = entry.kind;
            data.stillDuration = entry.seconds;
            ClipInfo info;
            info.resolution = "160x90";
            info.fps = entry.kind == MediaType::video ? kFps : 0.0;
            info.duration = entry.kind == MediaType::still ? 0.0 : entry.seconds;
            data.clipInfo = info;
            data.midiBindings = std::vector{MIDINoteBinding{1, 60 + std::int64_t(e)}};
            write(data, int(e), model_.record(int(e)));
        }
        project.midiControlAssignments = {{"play", 1, kPlayNote}, {"mute", 1, kMuteNote}};
    }

    void key(std::optional<std::uint16_t> code, std::uint64_t modifiers, std::string chars = {}) {
        rig.parts.keyboard.handle(KeyEventInfo{code, modifiers, std::move(chars)});
    }
    void note(int number) { show->midiRouting().handleMIDINoteOn(0x90, uint8_t(number), 100); }
    // An edit of the slot on air through the one route the panels use.
    void edit(const std::function<void(SlotData&, const ShowEntry&)>& change) {
        if (const auto e = model_.editable()) {
            const ShowEntry& entry = kEntries[std::size_t(*e)];
            show->editSlot(entry.bank, entry.slot, [&](SlotData& data) { change(data, entry); });
        }
    }

    void act(const Action& action) {
        switch (action.op) {
            case Op::fireKey:
                key(std::nullopt, 0, std::string(1, "123456"[action.a]));
                break;
            case Op::fireNote:
                note(60 + action.a);
                break;
            case Op::setUp: {
                const ShowEntry& entry = kEntries[std::size_t(action.a)];
                SlotRecord r = model_.record(action.a);
                test::setUp(r, entry, int(action.x));
                show->editSlot(entry.bank, entry.slot,
                               [&](SlotData& data) { write(data, action.a, r); });
                break;
            }
            case Op::standby:
                show->cursorSlot = action.a;
                key(keycode::kReturn, modifier::kShift);
                break;
            case Op::enter:
                key(keycode::kReturn, 0);
                break;
            case Op::playButton:
                row->playPause("play", true);
                break;
            case Op::midiPlay:
                note(kPlayNote);
                break;
            case Op::cutGo:
                key(keycode::kSpace, 0);
                break;
            case Op::pause:
                key(keycode::kSpace, modifier::kShift);
                break;
            case Op::stop:
                player->pressStop();
                break;
            case Op::seek:
                if (const auto t = model_.seekTarget(action.x)) {
                    facade.playback().seek(*t);
                }
                break;
            case Op::step:
                row->stepFrame(action.a);
                break;
            case Op::rate:
                edit([&](SlotData& data, const ShowEntry&) { data.playRate = action.x; });
                break;
            case Op::mute:
                note(kMuteNote);
                break;
            case Op::gain:
                edit([&](SlotData& data, const ShowEntry&) {
                    data.audioSettings.masterLevel = float(action.x);
                });
                break;
            case Op::eq:
                edit([&](SlotData& data, const ShowEntry& entry) {
                    auto& eq = data.equalizer;
                    for (auto [hz, band] : {std::pair{315.0, &eq.hz315},
                                            {800.0, &eq.hz800},
                                            {1250.0, &eq.khz1_25},
                                            {2500.0, &eq.khz2_5},
                                            {3200.0, &eq.khz3_2}}) {
                        if (hz == entry.tone) {
                            *band = float(action.x);
                        }
                    }
                });
                break;
            case Op::colour:
                edit([&](SlotData& data, const ShowEntry&) {
                    data.colorSettings.brightness = float(action.x);
                });
                break;
            case Op::postRoll:
                if (model_.editable()) {
                    player->setPostRollMode(PostRollMode(action.a));
                    show->isSettingJumpTarget = false;  // the target is set already
                }
                break;
            case Op::setIn:
            case Op::setOut:
                if (const auto e = model_.editable()) {
                    const bool in = action.op == Op::setIn;
                    in ? row->setInPoint() : row->setOutPoint();
                    model_.apply(action);
                    // The operator reads the point set on the panel.
                    const ShowEntry& entry = kEntries[std::size_t(*e)];
                    const SlotData& data = show->project()
                                               .banks[std::size_t(entry.bank)]
                                               .slots[std::size_t(entry.slot)];
                    if (const auto at = in ? data.inPoint : data.outPoint) {
                        model_.pointSet(*e, in, *at);
                    }
                    return;
                }
                break;
            case Op::bank:
                key(std::uint16_t(18 + action.a), modifier::kCommand);
                break;
            case Op::bars:
                utility.toggleColorBars();
                break;
            case Op::tone:
                utility.toggle1kHzTone();
                break;
            case Op::close:
                rig.parts.dialogs.alertAnswers = {0};  // "Close"
                show->projectIO().closeProject();
                break;
            case Op::open: {
                // The load and the warm-up that follows it run before the operator goes on, as
                // he waits for the loading overlay. The package may be open already, and listed
                // first among the recent ones: its load puts another project in place, and its
                // warm-up comes a moment after the load looks done. The warm-up's end clears the
                // output.
                const auto generation = show->projectGeneration();
                show->projectIO().loadProject(package_);
                bool warmed = false;
                for (int k = 0, since = 0; k < 4000; ++k) {
                    warmed = warmed || controller.isWarming();
                    const bool loaded = show->projectGeneration() != generation && opened();
                    since = loaded ? since + 1 : 0;
                    if (loaded && !controller.isWarming() && (warmed || since > 200)) {
                        break;
                    }
                    step(false);
                }
                step(false);
                break;
            }
            case Op::wait:
                for (int k = 0; k < int(std::lround(action.x / kStep)); ++k) {
                    step();
                }
                break;
        }
        model_.apply(action);
    }

    bool opened() {
        const auto recent = rig.parts.recentProjects.load();
        return !recent.empty() && recent.front().path == package_.string() &&
               !show->isLoading.get() && show->currentProjectURL.get() == package_;
    }

    // One step of virtual time: what is due runs, the sound of the step is heard (unless the
    // output rests), the pictures are composed and all is checked.
    void step(bool check = true) {
        loop.runPending();
        // What the threads are doing for the show ends before the clock moves on, however slow
        // the machine: a slot's sound being loaded, a clip being opened or sought, a start waiting
        // for its picture. Then what they posted last runs.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (busy() && std::chrono::steady_clock::now() < until) {
            loop.waitForPosted(0.002);
        }
        while (loop.waitForPosted(0.002)) {
            loop.runPending();
        }
        auto& surface = controller.view();
        for (auto* chain : {&surface.audioA(), &surface.audioB()}) {
            chain->playerNode()->waitUntilPrepared(20.0);
        }
        platform::media::testing::waitForDecodedAhead(
            {surface.slotA().player().get(), surface.slotB().player().get()});
        loop.advance(kStep);
        if (resting_ && device->wakes() != restWakes_) {
            resting_ = false;
        }
        if (resting_) {
            heard_.insert(heard_.end(), kBlock, 0.0f);
        } else {
            device->pull(kBlock);
            if (device->captured().empty()) {
                heard_.insert(heard_.end(), kBlock, 0.0f);  // the engine is not running
            } else {
                heard_.insert(heard_.end(), device->channel(0).begin(), device->channel(0).end());
            }
            device->clearCaptured();
            resting_ = device->callbackMayRest();
            restWakes_ = device->wakes();
        }
        if (heard_.size() > kBlock * kSoundWindow) {
            heard_.erase(heard_.begin(), heard_.end() - kBlock * kSoundWindow);
        }
        loop.runPending();
        model_.advance(kStep);
        ++steps_;
        if (check) {
            checkPictures();
            checkSound();
        } else {
            sounds_.clear();
        }
    }

    bool busy() {
        auto& surface = controller.view();
        for (auto* chain : {&surface.audioA(), &surface.audioB()}) {
            if (chain->loading()) {
                return true;
            }
        }
        for (const auto& player : {surface.slotA().player(), surface.slotB().player()}) {
            const auto* decoded =
                dynamic_cast<const platform::media::DecodedQueuePlayer*>(player.get());
            if (decoded != nullptr && decoded->prerolling()) {
                return true;
            }
            const auto items = player->items();
            for (std::size_t i = 0; i < std::min<std::size_t>(2, items.size()); ++i) {
                const auto* playable =
                    dynamic_cast<const platform::media::PlayableItem*>(items[i].get());
                if (items[i]->statusValue() == platform::media::ItemStatus::Unknown ||
                    (playable != nullptr && playable->isSeeking())) {
                    return true;
                }
            }
        }
        return false;
    }

    void fail(const std::string& what) {
        if (!failure_) {
            char time[32];
            std::snprintf(time, sizeof time, "%.2f", loop.now().seconds());
            failure_ = "at " + std::string(time) + " s, " + at_ + ": " + what;
        }
    }

    void checkPictures() {
        const Expected expected = model_.expected();
        const QImage program = compositor.render(*controller.view().rootLayer(), loop.now(), kView);
        const QImage window = compositor.render(*mirror.rootLayer(), loop.now(), kView);
        const bool mayBeBlack = model_.mayBeBlack();
        std::array<double, kEntries.size()> brightness{};
        for (std::size_t e = 0; e < kEntries.size(); ++e) {
            brightness[e] = model_.record(int(e)).brightness;
        }
        for (auto [name, image, between] : {std::tuple{"program", &program, &programBetween_},
                                            {"output window", &window, &windowBetween_}}) {
            const Seen seen = seenIn(*image, brightness);
            const std::string where = std::string("the ") + name + " shows " + describe(seen);
            // From one picture to the next, black only where the model allows it.
            between->mayBeBlack = between->mayBeBlack || mayBeBlack;
            if (seen.look == Look::black && between->from >= 0) {
                between->blackAt = between->blackAt.value_or(loop.now().seconds());
            } else if (seen.look != Look::black) {
                if (seen.look == Look::slot && seen.entry >= 0 && between->blackAt &&
                    !between->mayBeBlack) {
                    fail(std::string("the ") + name + " showed black at " +
                         std::to_string(between->blackAt.value()) + " s between entry " +
                         std::to_string(between->from) + " and " + describe(seen));
                }
                *between = {seen.look == Look::slot ? seen.entry : -1, {}, mayBeBlack};
            }
            if (seen.look == Look::slot && seen.entry >= 0) {
                if (!model_.open()) {
                    fail(where + ", a clip of the closed show");
                }
                const auto [first, last] = model_.frameRange(seen.entry);
                if (seen.frame >= 0 && (seen.frame < first || seen.frame > last)) {
                    fail(where + ", outside its frames " + std::to_string(first) + ".." +
                         std::to_string(last));
                }
            }
            if (!expected.look) {
                continue;
            }
            if (seen.look != *expected.look ||
                (seen.look == Look::slot && seen.entry != expected.entry)) {
                fail(where + " where the model has " +
                     describe({*expected.look, expected.entry, -1}));
            } else if (expected.frames && seen.frame >= 0 &&
                       (seen.frame < expected.frames->first - 1 ||
                        seen.frame > expected.frames->second + 1)) {
                fail(where + " where the model has frames " +
                     std::to_string(expected.frames->first) + ".." +
                     std::to_string(expected.frames->second));
            }
        }
        if (expected.panelEntry) {
            const auto state = panels::playerPanelState(facade);
            const auto& want = *expected.panelEntry;
            const auto slot = controller.currentSlotIndex.get();
            const auto bank = controller.currentBankIndex.get();
            const bool same = want ? state.loaded && slot == kEntries[std::size_t(*want)].slot &&
                                         bank == kEntries[std::size_t(*want)].bank
                                   : !state.loaded;
            if (!same) {
                fail("the player panel has " +
                     (state.loaded ? "bank " + std::to_string(bank.value_or(-1)) + " slot " +
                                         std::to_string(slot.value_or(-1))
                                   : std::string("nothing")) +
                     " loaded where the model has " +
                     (want ? "entry " + std::to_string(*want) : std::string("nothing")));
            }
        }
    }

    // Over the last kSoundWindow steps, when the model was sure of them all and said the same:
    // each tone on air at its level within 1 dB, every other tone absent.
    void checkSound() {
        const Expected expected = model_.expected();
        std::string said = expected.soundCertain ? "" : "?";
        for (auto [entry, level] : expected.tones) {
            said += std::to_string(entry) + "@" + std::to_string(level) + " ";
        }
        said += expected.testTone ? "tone" : "";
        sounds_.push_back(said);
        if (sounds_.size() > kSoundWindow) {
            sounds_.erase(sounds_.begin());
        }
        if (sounds_.size() < kSoundWindow || steps_ % (kSoundWindow / 2) != 0 ||
            std::any_of(sounds_.begin(), sounds_.end(),
                        [&](const std::string& s) { return s != said || s[0] == '?'; })) {
            return;
        }
        for (std::size_t e = 0; e < kEntries.size(); ++e) {
            if (kEntries[e].kind == MediaType::still) {
                continue;
            }
            const double heard = db(toneAmplitude(heard_, kRate, kEntries[e].tone));
            const auto on = std::find_if(expected.tones.begin(), expected.tones.end(),
                                         [&](const auto& t) { return t.first == int(e); });
            const std::string tone =
                "entry " + std::to_string(e) + "'s tone heard at " + std::to_string(heard) + " dB";
            if (on != expected.tones.end() && std::abs(heard - on->second) > 1.0) {
                fail(tone + " where the model has " + std::to_string(on->second) +
                     " dB; its level each 20 ms:" + levels(kEntries[e].tone));
            } else if (on == expected.tones.end() && heard > -40.0) {
                fail(tone + " where the model has silence");
            }
        }
        const double test = 20.0 * std::log10(std::max(toneAmplitude(heard_, kRate, 1000.0), 1e-9));
        if (expected.testTone != (test > kTestToneDb - 20.0) ||
            (expected.testTone && std::abs(test - kTestToneDb) > 1.0)) {
            fail("the test tone heard at " + std::to_string(test) + " dBFS where the model has " +
                 (expected.testTone ? "it" : "none"));
        }
    }

    // The tone's level in each 20 ms of the window, in dB: where a sound starts, stops or dips.
    std::string levels(double tone) const {
        std::string text;
        for (std::size_t at = 0; at + 2 * kBlock <= heard_.size(); at += 2 * kBlock) {
            const auto part = std::span<const float>(heard_).subspan(at, 2 * kBlock);
            text += " " + std::to_string(int(std::lround(db(toneAmplitude(part, kRate, tone)))));
        }
        return text;
    }

    std::filesystem::path package_;
    LiveShowRig rig{loop, midiSystem};
    PlaybackController& controller = rig.controller;
    std::shared_ptr<NullAudioDevice>& device = rig.device;
    std::unique_ptr<ShowController>& show = rig.show;
    panels::LivePanelFacade facade{*show};
    ui::PanelCard card{ui::PanelCardStyle::player()};
    panels::PlayerPanel* player = new panels::PlayerPanel(facade, loop, card);
    panels::TransportRow* row = new panels::TransportRow(facade, card, [](int, int) {});
    LiveSignalOutput signalOutput{controller};
    app::UtilityActions utility{*show, signalOutput};
    // The output window's mirror of the surface.
    output::ExternalMonitorContentView mirror{
        loop, controller.view(), {double(kView.width()), double(kView.height())}};
    platform::Compositor compositor;

    // What a view showed since its last picture.
    struct Between {
        int from = -1;                  // the entry of its last picture
        std::optional<double> blackAt;  // black since, first at
        bool mayBeBlack = false;        // the model allowed black since
    };
    Between programBetween_;
    Between windowBetween_;
    ShowModel model_;
    std::vector<float> heard_;
    std::vector<std::string> sounds_;
    bool resting_ = false;
    int restWakes_ = 0;
    int steps_ = 0;
    std::string at_ = "at the start";
    std::optional<std::string> failure_;
};

int fromEnvironment(const char* name, int otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : otherwise;
}

class RandomOperator : public ::testing::Test {
  public:
    std::optional<std::string> run(const std::vector<Action>& actions) {
        OperatorRun walk(folder.path() / "Walk.ktshow");
        auto failure = walk.run(actions);
        steps += walk.stepsRun();
        return failure;
    }

  protected:
    TemporaryFolder folder;
    long steps = 0;
};

// Walks found failing, shrunk, each kept as it was printed.
constexpr const char* kKeptWalks[] = {
    "FireKey 0; Wait 1; Pause; PlayButton; Wait 1",
    // A loop given another post-roll on air: the next cue follows its last pass.
    "FireNote 4; Wait 0.6; PostRoll 0; Wait 2",
    "FireNote 4; Wait 2.5; PostRoll 4; Wait 1.4",
    // Cut Go onto an empty slot over the bars: no slot is on air to end, the bars stay.
    "FireKey 4; Bars; CutGo",
    // A jump shows its target's bank: the slot keys then play that bank.
    "FireNote 5; Wait 1; Wait 0.3; Wait 2.5; FireKey 1",
    // A close stops the output, the bars' picture too, also when no show is open.
    "Close; Bars; Close",
    // A package closed and opened again plays its slots.
    "Close; Open; FireKey 0; Wait 1",
    // An out point set on air ends the clip there and its post-roll follows; the picture
    // never shows a frame from the out point on.
    "FireKey 0; Wait 1.2; SetOut; Wait 3",
    "FireKey 1; Wait 1; Pause; SetOut; Wait 1",
    // The same slot fired again with new points: its earlier play shows until the take.
    "FireKey 1; SetUp 1 15; Enter",
    // A stood-by cue taken with ▶ or the MIDI Play control plays at the slot's level: heard at
    // 0 dB for a slot at -12 dB, and not at all after MUTE was turned on and off before it.
    "FireKey 0; Wait 0.5; Gain -12; Standby 0; PlayButton; Wait 1",
    "Mute; Mute; Standby 0; MidiPlay",
    // Under MUTE the output must not rest while a cue plays on unheard: resting stopped the
    // clip's sound and, with it, its picture (frame 27 held).
    "Mute; FireKey 0; Wait 2",
    "Mute; SetUp 1 10; FireKey 1; Wait 2.5",
    // The same with sound alone: the muted cue ends, its black post-roll comes and the player
    // panel lets it go.
    "FireNote 3; Mute; Wait 2.5",
    "FireNote 2; Mute; Wait 4",
    // A seek on the clip on air, looping or not, running or paused: its picture stays on until
    // the sought one is there, never a frame of black between them.
    "FireKey 4; Seek 0.3",
    "FireKey 4; Wait 0.5; Seek 0.1; Seek 0.8; Seek 0.4",
    "FireKey 4; Wait 0.5; Pause; Seek 0.7",
    "FireKey 0; Wait 0.5; Seek 0.1; Seek 0.8; Seek 0.4",
    // A cue fired just as the one on air ends into sound alone or black: black between them.
    "FireNote 2; Wait 0.6; Wait 1; FireKey 1",
    "SetUp 1 3; FireKey 1; Wait 2; FireKey 0",
    "SetUp 2 3; FireKey 2; Wait 1.5; FireKey 0",
    // A pause or seek as the clip on air ends may find what its post-roll brought, that play
    // going on from where it was, whatever points its slot was given meanwhile.
    "Enter; Wait 2.5; Pause",
    "FireKey 0; Wait 2.5; Seek 0.5; Wait 1",
    "Enter; Wait 2.5; Pause; SetUp 1 18; PlayButton; Wait 1",
    // A brightness edit on air shows the slot's picture brighter, not another picture.
    "FireKey 1; Wait 1; Colour 0.05; Wait 0.5",
    "FireKey 1; Wait 4; Colour 0.05",
    // The show opened again while open: the operator goes on once it is loaded and warmed up.
    "Open; Open; FireNote 5",
    // A whole clip looped leaves out its last frame each pass.
    "FireNote 4; Wait 1; Wait 4; Wait 0.6; Pause",
    // Cut Go with the show closed moves the cursor over the empty default grid; an open keeps it.
    "Close; CutGo; CutGo; Open; CutGo; CutGo",
    // A next cue given an out point after its preload ends there, frozen or played on.
    "FireNote 0; SetUp 1 16; Wait 4; PlayButton",
    // A rate set on a paused or stood-by clip starts it.
    "Standby 1; Wait 0.6; Rate 1.5",
    "FireKey 0; Pause; Wait 4; Rate 0.5",
    // An out point set on a loop on air: the loop repeats its range until it is played anew.
    "SetUp 1 17; FireKey 1; Wait 2.5; Wait 0.6; SetOut",
    // A jump whose timing the model lost may have shown its bank or not: the slot keys play a
    // slot the model does not know until a bank is shown again.
    "FireNote 1; Wait 1.4; SetUp 0 4; SetUp 1 14; Step -1; Wait 1; Wait 2.5; Tone; Tone; Mute; "
    "Gain -45; Wait 2.5; Tone; FireKey 1; Bars; Wait 0.3; MidiPlay; Wait 2.5; SetOut; Gain 0; Wait "
    "0.6; Eq 4; FireKey 2; MidiPlay; SetUp 1 4; Wait 0.6",
    // So may a Next whose end may have come: it shows its own bank again after a bank key.
    "FireNote 0; Bank 1; Wait 2.5; FireKey 0",
    "FireKey 2; Bank 1; Wait 1.4; CutGo",
    // An out point set at the in point of a cue stood by: the cue stands at its in point.
    "Standby 1; Wait 2.5; SetOut",
    // Sound alone given an out point on air ends there and its post-roll follows.
    "FireKey 2; Wait 1.4; SetUp 3 8; Wait 4",
    // A stop or the bars just after a jump's end: the jump showed its target's bank, the slot
    // keys play that bank.
    "FireNote 5; Pause; Wait 1.4; SetOut; FireNote 5; SetUp 2 13; Stop; Wait 1.4; FireKey 2",
    "SetUp 3 9; FireKey 2; Wait 2.5; Bars; FireKey 2",
    // New points for the slot a post-roll may have started already: it plays with its old ones.
    "FireKey 0; Seek 0.6; Wait 1; SetUp 1 19",
    // A frame step back goes past the in point, as far as the clip's start.
    "FireNote 2; FireNote 1; Enter; Wait 4; Wait 0.6; SetIn; FireKey 0; Wait 0.6; MidiPlay; Enter; "
    "Wait 2.5; Wait 4; Gain -6; Step -1; Bank 1",
    // An out point at or before the in point is no end: the clip plays on, picture and sound.
    "Standby 4; Wait 0.3; SetOut; FireNote 0; FireKey 4",
    // Sound alone and a loop play at their own slot's rate, not at the rate their chain played
    // with last.
    "FireKey 0; Wait 1.4; Rate 1.5; Wait 4; FireKey 3",
    "Wait 2.5; FireKey 1; SetUp 3 18; Wait 4; Rate 1.5; FireKey 1; FireKey 3; CutGo; Colour 0.05; "
    "SetOut; PostRoll 3; Wait 4",
};

TEST_F(RandomOperator, KeptWalks) {
    std::vector<std::string> table(std::begin(kKeptWalks), std::end(kKeptWalks));
    if (const char* only = std::getenv("KESTIO_OPERATOR_ROW")) {
        table = {only};  // one row, as printed by a failing walk
    }
    for (const std::string& row : table) {
        SCOPED_TRACE(row);
        const auto failure = run(actionsOf(row));
        EXPECT_FALSE(failure) << *failure;
    }
}

// Seeded walks; a failing one is printed with its seed and shrunk.
TEST_F(RandomOperator, SeededWalks) {
    // Under AddressSanitizer every step costs more: fewer and shorter walks.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kDefaultSeeds = 3;
    constexpr int kDefaultSteps = 40;
#else
    constexpr int kDefaultSeeds = 5;
    constexpr int kDefaultSteps = 60;
#endif
    const int seeds = fromEnvironment("KESTIO_OPERATOR_SEEDS", kDefaultSeeds);
    const int length = fromEnvironment("KESTIO_OPERATOR_STEPS", kDefaultSteps);
    const int firstSeed = fromEnvironment("KESTIO_OPERATOR_FIRST_SEED", 1);
    int actions = 0;
    for (int seed = firstSeed; seed < firstSeed + seeds; ++seed) {
        std::mt19937 random{unsigned(seed)};
        std::vector<Action> walk;
        // KESTIO_OPERATOR_WITHOUT names actions left out ("Mute Close"), to look past a fault
        // that is still open.
        const std::string without =
            std::getenv("KESTIO_OPERATOR_WITHOUT") != nullptr
                ? std::string(" ") + std::getenv("KESTIO_OPERATOR_WITHOUT") + " "
                : std::string();
        while (int(walk.size()) < length) {
            const Action action = drawAction(random, int(kEntries.size()), 6);
            const std::string name(kOpNames[std::size_t(action.op)]);
            if (without.find(" " + name + " ") == std::string::npos) {
                walk.push_back(action);
            }
        }
        actions += length;
        const auto failure = run(walk);
        if (!failure) {
            continue;
        }
        // Shrunk while it fails the same way (the same words, whatever the numbers).
        const auto kind = [](const std::string& text) {
            const auto at = text.find("): ");
            std::string words = at == std::string::npos ? text : text.substr(at + 3);
            std::erase_if(words, [](char c) { return std::isdigit(c) || c == '.' || c == '-'; });
            return words.substr(0, words.find(';'));
        };
        auto again = run(walk);
        if (!again) {
            again = run(walk);
        }
        if (!again) {
            // The decoders run on threads of their own, beside the virtual clock: a walk that
            // fails once in three runs is a race that no row can keep. It is told, with its
            // seed, for scripts/random-operator's long runs to chase; it fails nothing here.
            std::cout << "seed " << seed << ": " << *failure
                      << " (once in three runs)\n  walk: " << toText(walk) << "\n";
            RecordProperty("unrepeated_seed_" + std::to_string(seed), *failure);
            continue;
        }
        if (kind(*again) != kind(*failure)) {
            ADD_FAILURE() << "seed " << seed << ": " << *failure << " (then: " << *again
                          << ")\n  walk: " << toText(walk);
            continue;
        }
        // Shrinking takes many runs: it stops taking shorter forms after two minutes.
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        const auto shrunk = shrinkSequence<Action>(walk, [&](const std::vector<Action>& candidate) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            const auto other = run(candidate);
            return other && kind(*other) == kind(*failure);
        });
        ADD_FAILURE() << "seed " << seed << ": " << *failure << "\n  walk: " << toText(walk)
                      << "\n  shrunk row: \"" << toText(shrunk)
                      << "\"\n  fails: " << run(shrunk).value_or("(no longer)");
    }
    std::cout << "random operator: " << seeds << " seeds, " << actions << " actions, " << steps
              << " steps of " << kStep << " s\n";
}

}  // namespace
}  // namespace kestio::test

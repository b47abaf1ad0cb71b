#pragma once

#include <QSize>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_enums.h"
#include "model/project_data.h"
#include "model/settings_records.h"
#include "model/slot_data.h"
#include "output/slot_cue.h"
#include "platform/graphics/geometry.h"
#include "platform/media/player_item.h"
#include "platform/media/queue_player.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"
#include "platform/runloop/wall_clock.h"
#include "playback/play.h"
#include "playback/play_events.h"
#include "playback/post_roll_policy.h"
#include "playback/program_meter.h"
#include "playback/vu_meter.h"

class QImage;

namespace kestio::platform {
struct DecodedStill;
class JobThreads;
}  // namespace kestio::platform
namespace kestio::platform::audio {
class PcmBuffer;
}
namespace kestio::platform::media {
class MediaFactory;
}
namespace kestio::output {
class OutputSurface;
class PlaybackSlot;
class TestToneGenerator;
}  // namespace kestio::output

namespace kestio {

class AudioEngineController;
class WarmUp;
class ProgramMeter;
class NextCuePreload;
class LoopRunner;
class ClipClock;
class Transport;
class VideoStart;
class LocalizationManager;
class PlayLog;
class SlotSound;
class VuMeter;

using output::OutputSurface;
using output::PlaybackSlot;

// The services a playback controller runs on, injected so that tests can give it a manual run
// loop, a fixed wall clock, scripted media and a null audio device.
struct PlaybackServices {
    platform::RunLoop& loop;
    // Time of day for the play log's stamps (null: the system's).
    std::shared_ptr<const platform::WallClock> wallClock = nullptr;
    // The output surface the controller owns and plays on (with its two slots and the shared
    // audio engine).
    std::unique_ptr<OutputSurface> view;
    // The interface language's text picker (null: the application's shared manager).
    LocalizationManager* localization = nullptr;
    // Decodes a still's first picture to be drawn at `shownAt` pixels (its own size when not
    // valid), giving up once `stop` says a later cue took its place; called off the main thread
    // (empty: the platform's decoder for display).
    std::function<platform::DecodedStill(const std::filesystem::path&, QSize shownAt,
                                         const std::function<bool()>& stop)>
        decodeStill = {};
    // Runs blocking work (a still's decode) off the main thread; empty: a few worker threads of
    // the controller, so that a decode which cannot stop at once holds no later one. Tests may
    // run it at once on their own thread.
    std::function<void(std::function<void()>)> runInBackground = {};
    // Makes the separate, never shown players a warm-up prerolls a clip on (null: the output
    // surface's factory).
    platform::media::MediaFactory* media = nullptr;
};

// The one object that plays the show: it puts slots on air on the output surface (pictures
// through the hidden slot and a cut or dissolve, sound through the slot's audio chain), runs the
// clocks of the clip on air and carries out its post-roll, preloads the next cue, meters the
// program sound and writes the play log. Every value the panels show is published.
//
// The controller keeps the order of events; its owned parts do the steps, each with its own
// fields: VideoStart (load or take over the cue, preroll, place, switch), LoopRunner (a loop's
// start, seams and release), ClipClock (position, out point, end; still and audio-only clocks),
// PostRollPolicy (what follows a clip, asked at play, before the end and at the end), Transport
// (steps on the slot on air), NextCuePreload, WarmUp and ProgramMeter. The order of a play:
//   1. play(): warming? the warm-up takes it and nothing goes on air. Otherwise the hidden slot is
//      kept only when the output surface holds this very cue (a preload); a new Play begins
//      (beginPlay(), the one reset that play, black and standby share): every watcher ends and
//      every deferred step of the play before does nothing from then on; the play's cue is
//      recorded with the surface.
//   2. The path of the media kind starts the clip in the hidden slot (VideoStart, LoopRunner,
//      the still and audio-only paths); the clip on air plays on meanwhile.
//   3. Take: once the clip is ready, one cut or dissolve puts it on air; the surface's cue
//      becomes what is on air. A cue that fails leaves what is on air there, published and
//      watched again as a play of its own (cueFailed()), and the show is told (onCueFailed).
//   4. After the take: the follower the post-roll policy names is asked to be preloaded (a
//      video's start), and the clip clock watches the clip.
//   5. At its end (or out point, or a loop's release at its seam), a part reports the post-roll
//      due; the post-roll policy reads the slot's record as it is then and turns its mode into a
//      step (play a slot, freeze on the last frame, restart the clip on air, black), which the
//      controller carries out.
//
// Ownership and hand-over rules:
// - What is on air and what is cued (with its state) are the output surface's alone; no part
//   keeps a copy, and every decision about the clip on air (its clocks, its post-roll, the
//   transport) reads the surface's foreground, never the published bank and slot. A part that loads
//   the hidden slot records its cue there; a play takes a cue only while the surface says it holds
//   that cue in a state a play may take.
// - A loop is never cued ahead: it is always loaded by the loop runner and starts at its in
//   point. A warm-up's loop is cued as warming and never taken.
// - The hidden slot is heard only as a cue on its way to air, at its own level; the output mute
//   is folded into every level when it is applied.
// - The post-roll of a clip is decided by the policy when each moment comes, from the slot's
//   record then; nothing decided at play binds the end.
// - What each post-roll mode means is the policy's alone: the controller carries out the steps
//   it gives, and the loop runner asks it whether a mode starts another clip. Elsewhere a mode
//   is only asked whether it is loop (a loop is started and released by the loop runner alone).
// - Each part owns its own fields, is given the parts it drives, and reports back through
//   PlayEvents (post-roll due, cue failed, a clip starting, a follower wanted, log lines); none
//   reaches into the controller.
// - Every part of a play (VideoStart, LoopRunner, ClipClock, Transport, NextCuePreload,
//   SlotSound) has the same life: start(play, ...) binds it to the play it acts on, held weakly,
//   and begins its work; stop() ends what it has under way and releases the play; its other
//   entries act for the play bound. beginPlay() stops them all in one order and starts the
//   transport with the new play; the steps of the play start the others as they need them.
//   PostRollPolicy, WarmUp and ProgramMeter belong to no play. What a play shares among the parts
//   (its file, audio-only, whether its post-roll has been set off) is its Play's; from outside
//   it is read through onAirClip().
//
// Threads: everything runs on the run loop's (main) thread, except the play log's file work
// (its own writer thread) and the meter tap (the engine's tap thread), which share nothing with
// the controller but their own small states. Every deferred step of a play holds its Play weakly
// (stepOf): once a newer play, a black or a standby cue has begun, an older play's deferred
// steps do nothing.
class PlaybackController : private PlayEvents {
  public:
    using ProjectProvider = std::function<std::optional<ProjectData>()>;
    using SlotRequest = std::function<void(int bank, int slot)>;
    using ItemPtr = std::shared_ptr<platform::media::PlayerItem>;

    // Levels are dBFS; this stands for silence and is the floor.
    static constexpr float kSilenceDb = ProgramMeter::kSilenceDb;
    static constexpr std::size_t kMeterChannels = ProgramMeter::kMeterChannels;
    // At most this many messages are kept in loadLog.
    static constexpr std::size_t kLoadLogLimit = 100;

    // Builds the state below and starts metering.
    explicit PlaybackController(PlaybackServices services);
    // Cancels every timer, observer, the device subscription and the meter tap, and closes the
    // play log on its thread after the lines already queued are written.
    ~PlaybackController() override;
    PlaybackController(const PlaybackController&) = delete;
    PlaybackController& operator=(const PlaybackController&) = delete;

    // ---- Published values (main thread) ----
    // Play position of the clip on air, in clip time (seconds).
    platform::Published<double> currentTime{0.0};
    // Length of the clip on air; a still's duration.
    platform::Published<double> duration{0.0};
    // The slot the panels name as playing: the one on its way to air, else the one on air; none
    // when nothing is. The output surface's onAirOrOnItsWay() as it changes, published for the
    // panels; nothing else sets them.
    platform::Published<std::optional<int>> currentBankIndex{std::nullopt};
    platform::Published<std::optional<int>> currentSlotIndex{std::nullopt};
    // Name of the clip on air; the "No Selection" text when none is.
    platform::Published<std::string> selectedClipName;
    // Levels of the first two channels and of eight channels (always eight entries).
    platform::Published<float> vuLevelL{kSilenceDb};
    platform::Published<float> vuLevelR{kSilenceDb};
    platform::Published<std::vector<float>> vuLevels{
        std::vector<float>(kMeterChannels, kSilenceDb)};
    // Channels measured in the program sound (at most eight).
    platform::Published<int> vuChannelCount{2};
    // "Name (2ch)" of the default output device; "—" when there is none.
    platform::Published<std::string> outputDeviceName{std::string("\u2014")};
    // The output mute.
    platform::Published<bool> isMuted{false};
    // The last play-log messages (without stamps), at most kLoadLogLimit.
    platform::Published<std::vector<std::string>> loadLog;
    // Warm-up progress, written by the show controller.
    platform::Published<int> warmDone{0};
    platform::Published<int> warmTotal{0};

    // ---- Fields set by the show controller and the panels (main thread) ----
    // Called once a warm-up step is ready (set and cleared by the warm-up wait).
    std::function<void()> onWarmReady;
    // Returns the current project; the controller reads the project only through it.
    ProjectProvider projectProvider;
    // Asks the show controller to play a slot (post-roll next and jump).
    SlotRequest onRequestPlay;
    // Asks the show controller to preload a slot (a video with post-roll next or jump started).
    SlotRequest onRequestPreloadNext;
    // Told when a cue did not go on air (its file could not be opened or decoded): the slot and
    // the reason. What was on air stays on air, and the published values show it again.
    std::function<void(int bank, int slot, const std::string& reason)> onCueFailed;
    // True while the operator drags the timeline: the clip clock publishes and decides nothing.
    bool isSeeking = false;
    // The play log file ("app.log" in the open package); takes effect at reopenLogFile().
    std::optional<std::filesystem::path> logFileURL;
    // Peak (true) or RMS (false) metering; read by the meter tap on its own thread.
    bool isMeterPeak() const;
    void setMeterPeak(bool peak);

    // ---- State read by the show controller and the panels ----
    OutputSurface& view() { return *view_; }
    const OutputSurface& view() const { return *view_; }
    output::TestToneGenerator& toneGen() { return *toneGen_; }
    bool isLooping() const;
    // What is known of the clip on air, read at once.
    struct OnAirClip {
        // Its file, as the output surface records what is on air; none when nothing is.
        std::optional<std::filesystem::path> url;
        // Sound only: its picture is hidden and its clock is the audio-only one.
        bool audioOnly = false;
        // Its in point by its record as it is now; 0 without one, without a record or with
        // nothing on air.
        double inPoint = 0.0;
        // Its post-roll has been set off (at its out point, its end or a loop's release); it is
        // not set off again for this clip.
        bool postRollFired = false;
    };
    OnAirClip onAirClip() const;
    // True while the project's clips are warmed up: playing a slot only warms it up. The output
    // surface holds the one flag.
    bool isWarming() const;
    void setWarming(bool warming);
    // The cue the hidden slot holds for a later play (a preload: its slot and file), as the
    // output surface records it; none when it holds nothing that a play could take.
    std::optional<output::Cue> preloadedCue() const;
    // The play log's writer (tests wait on it with flush()).
    PlayLog& playLog() { return *playLog_; }

    // ---- Playing (main thread) ----
    // Puts bank `bank`, slot `slot` on air from `url` with the slot record `data` on a canvas of
    // `monitorSize`: video, still, audio only or a loop; while warming only warms it up. The
    // preloaded hidden slot is used when it holds (bank, slot) from `url`.
    void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
              platform::SizeF monitorSize);
    // Loads the slot into the hidden playback slot and cues it there as the next cue (never a
    // loop: a fired loop starts at its in point, so nothing of it runs ahead).
    void preloadNext(int bank, int slot, const std::filesystem::path& url, const SlotData& data);
    // Carries out `mode` at once for the slot on air, by the step the post-roll policy gives
    // it; nothing when nothing is on air.
    void handlePostRoll(PostRollMode mode);
    // Ends the running loop at its next seam and carries out `postRoll` there.
    void releaseLoop(PostRollMode postRoll);
    // Ends the play in force, whatever is on air or on its way (nothing at all included), and
    // empties the output: every part's watchers and deferred steps end (a preload's wait, a
    // still's clock), both slots are cleared with their fades and idle is published. What a
    // close and the end of a warm-up do; unlike the post-roll black it writes no "PostRoll:"
    // line.
    void stopOutput();
    // Stops every part's watchers and waits (the clip clocks, the end watcher, the item
    // observations, the still and audio-only timers, the standby cue's watch and the preload's
    // wait), always in one order, and each releases the play it was bound to; the players,
    // layers and published values stay.
    void removeObservers();

    // ---- Transport (main thread) ----
    void pause();
    void resume();
    // Flips the output mute, logs "MUTE: ON"/"MUTE: OFF" and applies the slot on air's level
    // with its settings (none: 0 dB, not muted); the hidden slot gets the level of its cue when
    // one is on its way to air, and stays silent otherwise.
    void toggleMute(const std::optional<AudioSettings>& settings = std::nullopt);
    // Publishes `seconds` and moves the picture and sound of the showing slot there.
    void seek(double seconds);
    // Steps `frames` frames of `frameRate` from the current position, within 0 to duration.
    void skip(int frames, double frameRate);
    void setPlaybackRate(double rate);
    void applySlotVolume(bool muted, float gainDB);
    // The clip on air (a video, not looping) ends at `outPoint` from now on: its player shows
    // nothing past it.
    void applyOutPoint(std::optional<double> outPoint);
    // The clip time of the picture on screen now (currentTime when no clip is on air).
    double shownTime();
    void updateGeometry(const GeometrySettings& geometry);
    void applyColorSettings(const ColorSettings& color);
    void stopTestTone();
    // Cues the slot paused at its in point, on a canvas of `monitorSize`: the clip on air loses
    // its watchers, the slot is loaded into the hidden playback slot as the cue and published as
    // loaded, and the take to it comes once its picture stands at the in point.
    void standby(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
                 platform::SizeF monitorSize);
    // The status handler of a standby item (cued paused at its first frame): when `item` is
    // ready and still `slot`'s current item `loadedItem`, seeks to `inPoint`, cuts to the slot
    // paused there, and publishes it.
    void handleStatusChange(const ItemPtr& item, PlaybackSlot& slot, const ItemPtr& loadedItem,
                            const std::filesystem::path& url, double inPoint);

    // ---- Warm-up (main thread) ----
    // Calls `done` once: true when onWarmReady fires first, false when `timeout` seconds pass
    // first.
    void waitForWarmReady(double timeout, std::function<void(bool ready)> done);

    // ---- Play log (main thread) ----
    // Stamps the message with the time of day, keeps it in loadLog and has the writer thread
    // print it and append it to the open log file.
    void log(std::string_view message) override;
    // On the writer thread: closes the open file and opens logFileURL for appending (created
    // when missing); nothing is opened without one.
    void reopenLogFile();

  private:
    struct Alive {};
    std::weak_ptr<Alive> weakSelf() const { return alive_; }
    PlaybackSlot& showingSlot();
    PlaybackSlot& hiddenSlot();
    std::optional<SlotData> slotData(int bank, int slot) const;
    // The slot on air, as the output surface records it (the one place that says so), and its
    // record.
    std::optional<SlotRef> slotOnAir() const;
    std::optional<SlotData> slotDataOnAir() const;
    std::string pick(std::string_view ja, std::string_view en) const;
    void publishIdle();
    // The in point of the slot on air (as onAirClip() gives it).
    double currentInPoint() const;

    // The one reset of a play, for play, black, standby and a failed cue's return: every
    // part stops (removeObservers()), a still being decoded is let go, and the play in force ends
    // (its deferred steps do nothing from here on) for a new one of (ref, url), which the
    // transport is started with; returns it.
    Play& beginPlay(SlotRef ref, std::filesystem::path url);

    // Still path.
    void playStill(Play& play, const SlotData& data);
    void showDecodedStill(Play& play, const SlotData& data, const platform::DecodedStill& still);
    // Tells the still decode under way, if any, that its picture is no longer wanted.
    void letStillDecodeGo();

    // Post-roll steps (the policy turns a mode into one of them).
    // Stops the clip on air and shows its last frame, for this play only.
    void freezeOnLastFrame(Play& play);
    // A still's clock starts over; a video not looping already is asked to play again.
    void restartOnAir(SlotRef onAir);
    // Ends the play on air, empties the output and publishes idle.
    void goBlack();

    // The post-roll the policy gives the slot on air at its end.
    PostRollMode postRollModeOnAir() const;

    // Audio-only path.
    void playAudioOnly(Play& play, const SlotData& data, PlaybackSlot& target);

    // Play log.
    void appendLoadLog(std::string message);

    // ---- What the parts report ----
    void postRollDue(PostRollMode mode) override { handlePostRoll(mode); }
    void postRollDueOnAir() override;
    void cueFailed(int bank, int slot, const std::string& reason) override;
    void followerWanted(int bank, int slot) override;
    void starting(Play& play, const std::string& name, double time, double length) override;

    // Publishes what the surface holds on air and watches it again, as a play of its own.
    void publishOnAir();

    platform::RunLoop& loop_;
    std::shared_ptr<const platform::WallClock> wallClock_;
    LocalizationManager* localization_ = nullptr;
    // Keeps the name shown while nothing is loaded in the interface language.
    platform::Subscription languageSubscription_;
    // Publishes the slot on air or on its way as the surface records it.
    platform::Subscription onAirSubscription_;
    std::function<platform::DecodedStill(const std::filesystem::path&, QSize,
                                         const std::function<bool()>&)>
        decodeStill_;
    std::function<void(std::function<void()>)> runInBackground_;

    std::unique_ptr<OutputSurface> view_;
    std::unique_ptr<output::TestToneGenerator> toneGen_;
    std::unique_ptr<PlayLog> playLog_;
    std::unique_ptr<ProgramMeter> meter_;

    // The play in force (nothing on air: a play of no slot); only the controller holds it.
    std::shared_ptr<Play> play_ = std::make_shared<Play>();
    // Set once the still being decoded is no longer wanted (read by its decoding thread).
    std::shared_ptr<std::atomic<bool>> stillDecodeStop_;
    // The published values the parts keep up to date.
    NowPlaying now_{currentTime, duration, selectedClipName, isMuted, isSeeking};
    // The owned parts, each with its own fields.
    PostRollPolicy postRoll_{projectProvider};
    std::unique_ptr<SlotSound> sound_;
    std::unique_ptr<WarmUp> warmUp_;
    std::unique_ptr<NextCuePreload> preload_;
    std::unique_ptr<LoopRunner> loops_;
    std::unique_ptr<ClipClock> clock_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<VideoStart> video_;
    std::optional<platform::HostTime> lastLogUpdate_;

    // The play log's deferred updates and a still's decode hold this weakly.
    std::shared_ptr<Alive> alive_ = std::make_shared<Alive>();
    // Runs still decodes when no runInBackground was given. Declared last: it ends first.
    std::unique_ptr<platform::JobThreads> backgroundWorker_;
};

}  // namespace kestio

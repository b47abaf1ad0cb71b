#pragma once

// What an operator must see and hear in a small show, step by step: a model written from what
// the operator is promised, not from how the program does it. Time is virtual; where the
// program may take a moment (a cue's load, a dissolve, an end watcher) the model is uncertain
// for that moment and only the invariants hold: nothing of a closed show, never a frame outside
// a slot's in and out points, never a slot's sound that is not on air.

#include <QRgb>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "model/model_enums.h"
#include "operator_actions.h"

namespace kestio::test {

// One slot of the show: where it is, what it holds and how it carries its identity (a colour,
// the frame number in every picture, a tone).
struct ShowEntry {
    int bank;
    int slot;
    MediaType kind;
    QRgb colour;     // unused for sound alone
    double tone;     // Hz; 0 for a still
    double seconds;  // the clip's length, or the still's time
};

inline constexpr double kFps = 25.0;
inline constexpr std::array<ShowEntry, 6> kEntries{{
    {0, 0, MediaType::video, qRgb(220, 30, 30), 315.0, 2.4},
    {0, 1, MediaType::video, qRgb(30, 200, 30), 800.0, 2.0},
    {0, 2, MediaType::still, qRgb(30, 200, 220), 0.0, 1.5},
    {0, 3, MediaType::audio, 0, 1250.0, 1.6},
    {0, 4, MediaType::video, qRgb(220, 220, 30), 2500.0, 1.6},
    {1, 0, MediaType::video, qRgb(210, 30, 210), 3200.0, 2.0},
}};
inline constexpr double kToneAmplitude = 0.125;  // each clip's tone at 0 dB
inline constexpr double kTestToneDb = -20.0;
inline constexpr double kDissolve = 0.6;

inline std::optional<int> entryAt(int bank, int slot) {
    for (std::size_t e = 0; e < kEntries.size(); ++e) {
        if (kEntries[e].bank == bank && kEntries[e].slot == slot) {
            return int(e);
        }
    }
    return std::nullopt;
}

// A slot's record as the operator set it.
struct SlotRecord {
    std::optional<double> in;
    std::optional<double> out;
    PostRollMode postRoll = PostRollMode::freeze;
    TransitionMode transition = TransitionMode::cut;
    double rate = 1.0;
    double gain = 0.0;
    double eq = 0.0;  // the band at the slot's own tone
    double brightness = 0.0;
    bool inexact = false;  // a point was set at a time the model knows only roughly
};

// The set-up of `x` (0..19): post-roll x % 5, in/out points when x / 5 is odd, a dissolve
// when x / 10 is 1.
inline void setUp(SlotRecord& record, const ShowEntry& entry, int x) {
    record.postRoll = PostRollMode(x % 5);
    const bool points = (x / 5) % 2 == 1 && entry.kind != MediaType::still;
    record.in = points ? std::optional(0.4) : std::nullopt;
    record.out = points ? std::optional(entry.seconds - 0.4) : std::nullopt;
    record.transition = x >= 10 ? TransitionMode::dissolve : TransitionMode::cut;
    record.inexact = false;
}

// The jump target of an entry: the last bank's clip, or from there the second slot.
inline int jumpTargetOf(int entry) {
    return entry == 5 ? 1 : 5;
}

// What the output must show: black, the bars, or a slot's picture.
enum class Look { black, bars, slot };

struct Expected {
    // None: uncertain now (the checks keep only the invariants).
    std::optional<Look> look;
    int entry = -1;                             // for Look::slot
    std::optional<std::pair<int, int>> frames;  // the frames a paused or frozen picture may show
    std::optional<bool> soundCertain;           // set: the tones below and no other
    std::vector<std::pair<int, double>> tones;  // entry, level in dB of kToneAmplitude
    bool testTone = false;
    std::optional<std::optional<int>> panelEntry;  // the entry the player panel has loaded
};

class ShowModel {
  public:
    static constexpr double kTake = 0.35;  // a cue's load and start may take this long
    static constexpr double kEdge = 0.2;   // an end watcher's and a stop's latitude

    ShowModel() {
        // As first set up: a run of cues into a loop, a freeze, a black and a jump.
        constexpr PostRollMode first[] = {PostRollMode::next, PostRollMode::freeze,
                                          PostRollMode::next, PostRollMode::black,
                                          PostRollMode::loop, PostRollMode::jump};
        for (std::size_t e = 0; e < kEntries.size(); ++e) {
            records_[e].postRoll = first[e];
        }
    }

    bool open() const { return open_; }
    bool bars() const { return bars_; }
    std::optional<int> onAir() const { return play_ ? std::optional(play_->entry) : std::nullopt; }
    // Whether the output may be black now: nothing on air, a sound alone, not known, or the end
    // of the play on air may have come already and what follows it shows no picture.
    bool mayBeBlack() const {
        return !play_ || unsure_ || play_->loose ||
               kEntries[std::size_t(play_->entry)].kind == MediaType::audio ||
               (play_->running && play_->hi >= play_->end - kEdge * play_->rate &&
                blackFollows(play_->entry));
    }
    // The entry whose settings the panels edit: the one on air, when the model is sure of it.
    std::optional<int> editable() const {
        return play_ && !play_->loose && now_ >= settledAt_ ? std::optional(play_->entry)
                                                            : std::nullopt;
    }
    // The point just set on air (setIn / setOut), as the panel shows it: an out point holds at
    // once, after one output frame for the picture to step back (a loop's, once it is played
    // anew).
    void pointSet(int entry, bool in, double at) {
        auto& r = records_[std::size_t(entry)];
        (in ? r.in : r.out) = at;
        r.inexact = false;
        auto& w = widest_[std::size_t(entry)];
        // A loop on air repeats the range it was started with until it is played anew.
        const bool looping = play_ && play_->entry == entry && r.postRoll == PostRollMode::loop;
        if (in) {
            w.first = std::min(w.first, at);
        } else if (!looping) {
            beforeNarrowed_ = w;
            narrowedUntil_ = now_ + 0.02;
            w.second = at;
        }
    }

    // Where the timeline's fraction `x` of the clip on air lies, when the model knows the clip.
    std::optional<double> seekTarget(double x) const {
        if (!play_ || play_->loose || kind() == MediaType::still) {
            return std::nullopt;
        }
        return play_->in + x * (play_->end - play_->in);
    }
    const SlotRecord& record(int entry) const { return records_[std::size_t(entry)]; }
    int bankShown() const { return bank_; }

    // The frames slot `entry` may ever show: from its in point to the frame before its out.
    std::pair<int, int> frameRange(int entry) const {
        const auto& r = records_[std::size_t(entry)];
        const auto& w = now_ < narrowedUntil_ ? beforeNarrowed_ : widest_[std::size_t(entry)];
        const double in = std::min(r.in.value_or(0.0), w.first);
        const double out = std::max(shownTo(r, kEntries[std::size_t(entry)].seconds), w.second);
        // An out point at or before the in point (the panel does not keep them apart) leaves
        // the frame at the in point, where a cue stands.
        const int first = int(std::floor(in * kFps + 1e-6));
        return {first, std::max(first, int(std::ceil(out * kFps - 1e-6)) - 1)};
    }

    void apply(const Action& action) {
        switch (action.op) {
            case Op::fireKey:
                cursor_ = action.a;
                if (!doubtTheBank()) {
                    fire(bank_, action.a);
                }
                break;
            case Op::fireNote:
                // The note shows the slot's bank and puts the cursor on it.
                if (open_) {
                    bankLost_ = false;
                    bank_ = kEntries[std::size_t(action.a)].bank;
                    cursor_ = kEntries[std::size_t(action.a)].slot;
                    fire(bank_, cursor_);
                }
                break;
            case Op::setUp:
                if (open_) {
                    const int e = action.a;
                    setUp(records_[std::size_t(e)], kEntries[std::size_t(e)], int(action.x));
                    widen(e);
                    if (play_ && play_->entry == e) {
                        play_->loose = true;  // the points of the clip on air moved under it
                    } else if (play_ && endMayHaveCome() && followerOf(play_->entry) == e) {
                        // Its post-roll may have started this slot with the points it had.
                        play_->loose = true;
                    }
                }
                break;
            case Op::standby:
                cursor_ = action.a;
                if (!doubtTheBank()) {
                    standby(bank_, action.a);
                }
                break;
            case Op::enter:
                if (!doubtTheBank()) {
                    fire(bank_, cursor_);
                }
                break;
            case Op::playButton:
                resume();
                break;
            case Op::midiPlay:
                if (open_) {  // a closed show has no MIDI assignments
                    resume();
                }
                break;
            case Op::cutGo:
                if (!doubtTheBank()) {
                    cutGo();
                }
                break;
            case Op::pause:
                if (play_ && play_->running) {
                    // A still's time is not the player's: the model does not say whether it
                    // pauses. Near its end, the pause may find what its post-roll brought.
                    play_->loose = play_->loose || kind() == MediaType::still || endMayHaveCome();
                    play_->running = false;
                    settle(kEdge);
                }
                break;
            case Op::stop:
                loseTheBankOfItsFollower();
                if (play_ || unsure_) {
                    black();
                }
                break;
            case Op::seek:
                if (const auto target = seekTarget(action.x)) {
                    const double at = *target;
                    play_->loose = endMayHaveCome();  // it may seek what followed the clip
                    play_->lo = at;
                    play_->hi = at + (play_->running ? kEdge * play_->rate : 0.0);
                    settle(kEdge);
                }
                break;
            case Op::step:
                if (play_ && kind() != MediaType::still) {
                    // Stepping from a running clip leaves it where it was, a frame on or back.
                    play_->loose = play_->loose || play_->running;
                    // A step back goes as far as the clip's start, past its in point.
                    const double by = action.a / kFps;
                    play_->lo = std::clamp(play_->lo + by, 0.0, play_->end - 1 / kFps);
                    play_->hi = std::clamp(play_->hi + by, 0.0, play_->end - 1 / kFps);
                    auto& w = widest_[std::size_t(play_->entry)];
                    w.first = std::min(w.first, play_->lo);
                    settle(kEdge);
                }
                break;
            case Op::rate:
                if (const auto e = editable(); e && kind() != MediaType::still) {
                    records_[std::size_t(*e)].rate = action.x;
                    play_->rate = action.x;
                    settle(kEdge);
                    resume();  // a rate set starts a paused clip
                }
                break;
            case Op::mute:
                if (open_) {  // the MIDI control assigned to MUTE
                    muted_ = !muted_;
                    settle(0.1);
                }
                break;
            case Op::gain:
                if (const auto e = editable()) {
                    records_[std::size_t(*e)].gain = action.x;
                    settle(0.1);
                }
                break;
            case Op::eq:
                if (const auto e = editable()) {
                    records_[std::size_t(*e)].eq = action.x;
                    settle(0.1);
                }
                break;
            case Op::colour:
                if (const auto e = editable()) {
                    records_[std::size_t(*e)].brightness = action.x;
                    settle(0.1);
                }
                break;
            case Op::postRoll:
                postRoll(PostRollMode(action.a));
                break;
            case Op::setIn:
            case Op::setOut:
                if (const auto e = editable(); e && kind() != MediaType::still) {
                    // Written at the time shown, which the model knows only within its window.
                    auto& r = records_[std::size_t(*e)];
                    (action.op == Op::setIn ? r.in : r.out) =
                        action.op == Op::setIn ? play_->lo : play_->hi;
                    r.inexact = true;
                    widen(*e);
                    play_->loose = true;
                }
                break;
            case Op::bank:
                bankLost_ = false;
                bank_ = action.a;  // a closed show's default project has as many banks
                break;
            case Op::bars:
                barsSwitch_ = !barsSwitch_;
                bars_ = barsSwitch_;
                loseTheBankOfItsFollower();
                play_.reset();
                unsure_ = false;
                settle(kEdge);
                break;
            case Op::tone:
                tone_ = !tone_;
                settle(0.1);
                break;
            case Op::close:
                // The output stops (the bars' picture too, though their switch stays on).
                open_ = false;
                play_.reset();
                unsure_ = false;
                bars_ = false;
                bankLost_ = false;
                bank_ = cursor_ = 0;
                settle(0.1);
                break;
            case Op::open:
                // The saved show: as first set up; nothing on air once its warm-up is over.
                // An open while a show plays: whether its warm-up is over before the clip on air
                // ends, the model does not say, until the operator's next cue, stop or bars.
                *this = ShowModel(tone_, muted_, barsSwitch_, cursor_, now_, open_ && play_);
                break;
            case Op::wait:
                break;
        }
    }

    // Virtual time moves on by `dt`.
    void advance(double dt) {
        now_ += dt;
        if (!play_ || !play_->running) {
            return;
        }
        play_->lo += dt * play_->rate;
        play_->hi += dt * play_->rate;
        // A frozen clip stops on the frame before its end; an end watcher may be a frame early.
        if (play_->hi >= play_->end - kEdge * play_->rate) {
            settle((play_->end - play_->lo) / play_->rate + kEdge);
        }
        if (play_->lo >= play_->end + kEdge * play_->rate) {
            ended();
        }
    }

    Expected expected() const {
        Expected e;
        e.testTone = tone_;
        if (now_ < settledAt_ || unsure_) {
            return e;
        }
        if (!play_) {
            e.look = bars_ ? Look::bars : Look::black;
            e.soundCertain = true;
            e.panelEntry = std::optional<int>();
            return e;
        }
        if (play_->loose) {
            return e;
        }
        const ShowEntry& entry = kEntries[std::size_t(play_->entry)];
        const SlotRecord& r = records_[std::size_t(play_->entry)];
        e.panelEntry = std::optional(play_->entry);
        e.look = entry.kind == MediaType::audio ? Look::black : Look::slot;
        e.entry = play_->entry;
        if (!play_->running && entry.kind == MediaType::video) {
            const auto frameAt = [&](double t) {
                return std::clamp(int(std::floor(t * kFps + 1e-6)),
                                  int(std::floor(std::min(play_->in, play_->lo) * kFps + 1e-6)),
                                  int(std::ceil(play_->end * kFps - 1e-6)) - 1);
            };
            e.frames = std::pair(frameAt(play_->lo), frameAt(play_->hi));
        }
        e.soundCertain = true;
        if (play_->running && entry.kind != MediaType::still && !muted_ && r.gain > -40.0) {
            e.tones.push_back({play_->entry, r.gain + r.eq});
        }
        return e;
    }

  private:
    struct Play {
        int entry;
        double in, end;
        double lo, hi;  // where in the clip it may be now
        double rate;
        bool running;
        bool loose = false;  // the model no longer knows where or what
    };

    ShowModel(bool tone, bool muted, bool barsSwitch, int cursor, double now, bool unsure)
        : ShowModel() {
        unsure_ = unsure;
        tone_ = tone;
        muted_ = muted;
        barsSwitch_ = barsSwitch;
        cursor_ = cursor;
        now_ = now;
        settledAt_ = now + kEdge;
    }

    MediaType kind() const { return kEntries[std::size_t(play_->entry)].kind; }
    // Whether the end of the running play may have come already, its post-roll with it.
    bool endMayHaveCome() const {
        return play_->running && play_->hi >= play_->end - kEdge * play_->rate;
    }
    void settle(double seconds) { settledAt_ = std::max(settledAt_, now_ + seconds); }
    void widen(int e) {
        auto& w = widest_[std::size_t(e)];
        const auto& r = records_[std::size_t(e)];
        w = {std::min(w.first, r.in.value_or(0.0)),
             std::max(w.second, shownTo(r, kEntries[std::size_t(e)].seconds))};
    }
    // Where the pictures of a clip of `seconds` with these points may go to: its out point, or
    // its end when there is none or the out point lies at or before the in point (a play then
    // has no end of its own, as a load of such points sets none).
    static double shownTo(const SlotRecord& r, double seconds) {
        return r.out && *r.out > r.in.value_or(0.0) ? *r.out : seconds;
    }

    void fire(int bank, int slot) {
        const auto e = entryAt(bank, slot);
        if (!open_ || !e) {
            return;  // an empty slot plays nothing
        }
        start(*e, true);
    }
    void start(int e, bool running) {
        const ShowEntry& entry = kEntries[std::size_t(e)];
        const SlotRecord& r = records_[std::size_t(e)];
        const double in = entry.kind == MediaType::still ? 0.0 : r.in.value_or(0.0);
        const double end = entry.kind == MediaType::still ? entry.seconds
                           : entry.kind == MediaType::video && r.postRoll == PostRollMode::loop
                               ? loopEnd(e)
                               : r.out.value_or(entry.seconds);
        const double rate = entry.kind == MediaType::still ? 1.0 : r.rate;
        // The same slot's earlier play may still show while the new one comes in, or one the
        // model lost track of.
        auto& widest = widest_[std::size_t(e)];
        widest = (play_ && (play_->entry == e || play_->loose)) || unsure_
                     ? std::pair(std::min(widest.first, in), std::max(widest.second, end))
                     : std::pair(in, end);
        play_ = Play{e, in, end, in - kTake * rate, in, rate, running, r.inexact};
        bars_ = false;
        unsure_ = false;
        settle(kTake + (r.transition == TransitionMode::dissolve ? kDissolve : 0.0) + 0.05);
    }
    void standby(int bank, int slot) {
        const auto e = entryAt(bank, slot);
        if (!open_ || !e) {
            return;
        }
        start(*e, false);
        play_->lo = play_->in;
        play_->loose = kEntries[std::size_t(*e)].kind != MediaType::video;
    }
    void resume() {
        if (play_ && !play_->running && kind() != MediaType::still) {
            const bool atEnd = play_->hi >= play_->end - 1.5 / kFps;
            play_->running = true;
            play_->lo = play_->hi - 0.05 * play_->rate;
            settle(kEdge);
            play_->loose = play_->loose || atEnd;  // a frozen clip resumed: its end again
        }
    }
    void cutGo() {
        // A closed show's default project has the same grid with every slot empty: the cursor
        // moves on there too.
        const auto at = open_ ? entryAt(bank_, cursor_) : std::nullopt;
        if (at && records_[std::size_t(*at)].postRoll == PostRollMode::jump) {
            const ShowEntry& target = kEntries[std::size_t(jumpTargetOf(*at))];
            bank_ = target.bank;
            cursor_ = target.slot;
        } else if (cursor_ + 1 < kSlotsPerBank) {
            ++cursor_;
        } else if (bank_ + 1 < kBanks) {
            ++bank_;
            cursor_ = 0;
        }
        if (open_ && entryAt(bank_, cursor_)) {
            fire(bank_, cursor_);
        } else if (play_ || unsure_) {
            black();  // a black post-roll: nothing to end when no slot is on air (the bars stay)
        }
    }
    void postRoll(PostRollMode mode) {
        const auto e = editable();
        if (!e) {
            return;
        }
        SlotRecord& r = records_[std::size_t(*e)];
        const PostRollMode was = r.postRoll;
        r.postRoll = mode;
        if (was != PostRollMode::loop && mode == PostRollMode::loop && !play_->running) {
            // A stopped clip set to loop plays again (a paused one: the model does not say).
            const bool frozen = play_->hi >= play_->end - 1.5 / kFps;
            frozen ? fire(kEntries[std::size_t(*e)].bank, kEntries[std::size_t(*e)].slot)
                   : void(play_->loose = true);
        }
        if (was == PostRollMode::loop && mode != PostRollMode::loop) {
            // A released loop plays its pass to the end, then the new post-roll.
            play_->loose = true;
        }
    }
    void black() {
        play_.reset();
        bars_ = false;
        unsure_ = false;
        settle(kEdge);
    }
    void ended() {
        // What follows a play whose timing the model lost is as unknown, and the bank it shows
        // from when.
        const bool wasLoose = play_->loose;
        const int bank = bank_;
        endedAs(records_[std::size_t(play_->entry)].postRoll);
        if (wasLoose) {
            play_ ? void(play_->loose = true) : void(unsure_ = true);
            bankLost_ = bankLost_ || bank_ != bank;
        }
    }
    // Whether the bank shown may not be the model's: a play whose timing the model lost, or
    // whose end may have come already, may have ended into another bank, or not yet. An action
    // on that bank then plays what the model does not know, and it is left unsure until a note
    // or a bank key shows a bank.
    bool doubtTheBank() {
        const bool mayEnd = play_ && (play_->loose || endMayHaveCome());
        const auto next = mayEnd ? followerOf(play_->entry) : std::nullopt;
        if (!open_ || (!bankLost_ && !(next && kEntries[std::size_t(*next)].bank != bank_))) {
            return false;
        }
        bankLost_ = true;
        play_.reset();
        unsure_ = true;
        settle(kEdge);
        return true;
    }
    // A stop or the bars as the clip on air ends may come after its post-roll showed the bank
    // of the slot it plays.
    void loseTheBankOfItsFollower() {
        if (play_ && (play_->loose || endMayHaveCome())) {
            const auto next = followerOf(play_->entry);
            bankLost_ = bankLost_ || (next && kEntries[std::size_t(*next)].bank != bank_);
        }
    }
    // The other slot the post-roll of `e` plays, if any.
    std::optional<int> followerOf(int e) const {
        switch (records_[std::size_t(e)].postRoll) {
            case PostRollMode::next:
                return nextOf(kEntries[std::size_t(e)].bank, kEntries[std::size_t(e)].slot);
            case PostRollMode::jump:
                return jumpTargetOf(e);
            default:
                return std::nullopt;
        }
    }
    void endedAs(PostRollMode mode) {
        const int e = play_->entry;
        const ShowEntry& entry = kEntries[std::size_t(e)];
        // The end came at the earliest when the window's front reached it; a released loop's
        // post-roll comes 0.1 s before its seam, which may be read a frame or two early.
        const double since = (play_->hi - play_->end) / play_->rate + 0.2;
        // The play a post-roll asks for shows its bank, and moves no cursor.
        const auto follow = [&](int next) {
            bank_ = kEntries[std::size_t(next)].bank;
            start(next, true);
            play_->hi += since * play_->rate;
        };
        switch (mode) {
            case PostRollMode::next: {
                const auto next = nextOf(entry.bank, entry.slot);
                next ? follow(*next) : black();
                break;
            }
            case PostRollMode::freeze:
                play_->running = false;
                play_->lo = play_->hi = play_->end - 1.0 / kFps;
                settle(kEdge);
                break;
            case PostRollMode::loop:
                if (entry.kind == MediaType::video) {
                    // Seamless: the same clip from its in point, on the same clock.
                    play_->lo -= play_->end - play_->in;
                    play_->hi -= play_->end - play_->in;
                    play_->end = loopEnd(e);
                } else {
                    start(e, true);
                }
                break;
            case PostRollMode::black:
                black();
                break;
            case PostRollMode::jump:
                follow(jumpTargetOf(e));
                break;
        }
    }
    // Where each pass of a loop of the clip of `e` ends: at its out point; without one, a pass of
    // the whole clip leaves out its last frame.
    double loopEnd(int e) const {
        const SlotRecord& r = records_[std::size_t(e)];
        const double seconds = kEntries[std::size_t(e)].seconds;
        return r.out ? *r.out : r.in.value_or(0.0) <= 0.0 ? seconds - 1.0 / kFps : seconds;
    }
    // Whether the post-roll of `e` leaves the output without a picture: black, or a play of
    // sound alone, or a next with no slot to go to.
    bool blackFollows(int e) const {
        const auto isSound = [](int entry) {
            return kEntries[std::size_t(entry)].kind == MediaType::audio;
        };
        switch (records_[std::size_t(e)].postRoll) {
            case PostRollMode::black:
                return true;
            case PostRollMode::next: {
                const auto next =
                    nextOf(kEntries[std::size_t(e)].bank, kEntries[std::size_t(e)].slot);
                return !next || isSound(*next);
            }
            case PostRollMode::jump:
                return isSound(jumpTargetOf(e));
            case PostRollMode::freeze:
            case PostRollMode::loop:
                return false;
        }
        return true;
    }
    // The slot after (bank, slot): the next one of the bank when it holds media, else the first
    // of the next bank when that does, else none.
    static std::optional<int> nextOf(int bank, int slot) {
        if (slot + 1 < kSlotsPerBank) {
            if (const auto e = entryAt(bank, slot + 1)) {
                return e;
            }
        }
        return bank + 1 < kBanks ? entryAt(bank + 1, 0) : std::nullopt;
    }

    static constexpr int kSlotsPerBank = 40;
    static constexpr int kBanks = 20;

    std::array<SlotRecord, kEntries.size()> records_{};
    std::array<std::pair<double, double>, kEntries.size()> widest_{
        {{0, 2.4}, {0, 2.0}, {0, 1.5}, {0, 1.6}, {0, 1.6}, {0, 2.0}}};
    std::optional<Play> play_;
    bool open_ = true;
    bool bars_ = false;  // the bars on the output
    bool barsSwitch_ = false;
    bool unsure_ = false;    // what is on air is not known
    bool bankLost_ = false;  // the bank shown is not known
    bool tone_ = false;
    bool muted_ = false;
    int bank_ = 0;
    int cursor_ = 0;
    double now_ = 0.0;
    double settledAt_ = 0.0;
    std::pair<double, double> beforeNarrowed_{};
    double narrowedUntil_ = 0.0;
};

}  // namespace kestio::test

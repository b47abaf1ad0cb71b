#pragma once

// What an operator does in a show, as plain values: each action is an operation and up to two
// arguments. A walk draws them at random; a row writes them as text ("Fire 1; Wait 1.5; Mute")
// so that a shrunk failing walk is kept as it was found.

#include <array>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kestio::test {

enum class Op {
    fireKey,   // a slot key of the bank shown: slot `a`
    fireNote,  // the MIDI note bound to show entry `a`
    setUp,     // the slot of show entry `a` set off air: post-roll, in/out and transition from `x`
    standby,   // cursor to slot `a` of the bank shown, then Shift+Return
    enter,     // Return: plays the cursor slot
    playButton,  // the player's ▶
    midiPlay,    // the MIDI control assigned to Play
    cutGo,       // Space
    pause,       // Shift+Space
    stop,        // the player's STOP
    seek,        // the timeline, at fraction `x` of the clip between its in and out points
    step,        // a frame step, `a` = +1 or -1
    rate,        // the slot's rate, `x`
    mute,        // the output's MUTE
    gain,        // the slot's gain, `x` dB
    eq,          // the slot's EQ band at its own tone, `x` dB
    colour,      // the slot's brightness, `x`
    postRoll,    // the player panel's post-roll button `a`
    setIn,       // the transport row's set-in at the time shown
    setOut,      // the transport row's set-out at the time shown
    bank,        // Ctrl + digit: bank `a`
    bars,        // the colour bars switch
    tone,        // the 1 kHz test tone switch
    close,       // Close, confirmed
    open,        // the saved package opened again
    wait,        // `x` seconds
};

inline constexpr std::array<std::string_view, 26> kOpNames{
    "FireKey", "FireNote", "SetUp",  "Standby",  "Enter", "PlayButton", "MidiPlay",
    "CutGo",   "Pause",    "Stop",   "Seek",     "Step",  "Rate",       "Mute",
    "Gain",    "Eq",       "Colour", "PostRoll", "SetIn", "SetOut",     "Bank",
    "Bars",    "Tone",     "Close",  "Open",     "Wait"};

struct Action {
    Op op = Op::wait;
    int a = 0;
    double x = 0.0;
};

inline std::string toText(const Action& action) {
    std::string text(kOpNames[std::size_t(action.op)]);
    char number[32];
    switch (action.op) {
        case Op::fireKey:
        case Op::fireNote:
        case Op::standby:
        case Op::step:
        case Op::postRoll:
        case Op::bank:
            std::snprintf(number, sizeof number, " %d", action.a);
            return text + number;
        case Op::setUp:
            std::snprintf(number, sizeof number, " %d %g", action.a, action.x);
            return text + number;
        case Op::seek:
        case Op::rate:
        case Op::gain:
        case Op::eq:
        case Op::colour:
        case Op::wait:
            std::snprintf(number, sizeof number, " %g", action.x);
            return text + number;
        default:
            return text;
    }
}

inline std::string toText(const std::vector<Action>& actions) {
    std::string text;
    for (const Action& action : actions) {
        text += (text.empty() ? "" : "; ") + toText(action);
    }
    return text;
}

// Reads a row written by toText(); an unknown name reads as a wait of 0.
inline std::vector<Action> actionsOf(const std::string& row) {
    std::vector<Action> actions;
    std::stringstream all(row);
    std::string one;
    while (std::getline(all, one, ';')) {
        std::stringstream words(one);
        std::string name;
        if (!(words >> name)) {
            continue;
        }
        Action action;
        for (std::size_t i = 0; i < kOpNames.size(); ++i) {
            if (kOpNames[i] == name) {
                action.op = Op(i);
            }
        }
        if (action.op == Op::setUp) {
            words >> action.a >> action.x;
        } else if (toText(Action{action.op, 1, 1.0}).find(" 1") != std::string::npos) {
            double value = 0.0;
            words >> value;
            action.a = int(value);
            action.x = value;
        }
        actions.push_back(action);
    }
    return actions;
}

// The operator's next action: fires and waits most often, every other action now and then.
inline Action drawAction(std::mt19937& random, int entries, int slotsShown) {
    auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    auto among = [&](std::initializer_list<double> values) {
        return *(values.begin() + pick(int(values.size())));
    };
    const int kind = pick(44);
    if (kind < 5)
        return {Op::fireKey, pick(slotsShown)};
    if (kind < 8)
        return {Op::fireNote, pick(entries)};
    if (kind < 11)
        return {Op::setUp, pick(entries), double(pick(20))};
    if (kind < 22)
        return {Op::wait, 0, among({0.3, 0.6, 1.0, 1.4, 2.5, 4.0})};
    switch (kind - 22) {
        case 0:
            return {Op::standby, pick(slotsShown)};
        case 1:
            return {Op::enter};
        case 2:
            return {Op::playButton};
        case 3:
            return {Op::midiPlay};
        case 4:
            return {Op::cutGo};
        case 5:
            return {Op::pause};
        case 6:
            return {Op::stop};
        case 7:
            return {Op::seek, 0, among({0.0, 0.3, 0.6, 0.9})};
        case 8:
            return {Op::step, pick(2) == 0 ? -1 : 1};
        case 9:
            return {Op::rate, 0, among({0.5, 1.0, 1.5})};
        case 10:
            return {Op::mute};
        case 11:
            return {Op::gain, 0, among({0.0, -6.0, -12.0, -24.0, -45.0})};
        case 12:
            return {Op::eq, 0, among({0.0, -6.0, 4.0})};
        case 13:
            return {Op::colour, 0, among({0.0, 0.05, -0.05})};
        case 14:
        case 15:
            return {Op::postRoll, pick(5)};
        case 16:
            return {Op::setIn};
        case 17:
            return {Op::setOut};
        case 18:
            return {Op::bank, pick(2)};
        case 19:
            return {Op::bars};
        case 20:
            return {Op::tone};
        default:
            return pick(2) == 0 ? Action{Op::close} : Action{Op::open};
    }
}

}  // namespace kestio::test

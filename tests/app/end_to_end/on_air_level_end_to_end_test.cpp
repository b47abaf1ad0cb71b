// Sound edits on the clip on air, made as an operator makes them on the real program and heard on
// the sound server's monitor: a gain typed into the readout or the fader's value dialog, and an
// equaliser band clicked, move the 1 kHz tone from the old level to the new one within 50 ms (a
// gain glides there), never louder than both, and the clip plays on; the same during a dissolve.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "end_to_end_fixture.h"
#include "model/project_manager.h"
#include "support/media_fixtures.h"
#include "support/signal_analysis.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;

// Each edit, on the state the one before left.
struct LevelEdit {
    const char* name;
    const char* firedBefore;  // a slot key pressed first (a cue that dissolves in), or none
    enum class Way { readout, faderDialog, eqBand } way;
    std::vector<std::string> keys;   // typed into the field (none for a band)
    double bandY;                    // where the band is clicked on the canvas (its 0 dB: 448)
    std::optional<double> from, to;  // the tone's level in dB, when the edit decides it
};

constexpr std::size_t kWindow = 96;  // 2 ms at 48 kHz: two periods of the tone

// The tone's level in each 2 ms of `heard`, in dB against the clip's own tone.
std::vector<double> levels(const std::vector<float>& heard) {
    const double tone = 20.0 * std::log10(kToneAmplitude / std::sqrt(2.0));
    std::vector<double> result;
    for (std::size_t i = 0; i + kWindow <= heard.size(); i += kWindow) {
        result.push_back(rmsDb(std::span<const float>(heard).subspan(i, kWindow)) - tone);
    }
    return result;
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

int starts(const std::string& log) {
    int count = 0;
    for (auto at = log.find("再生開始: "); at != std::string::npos;
         at = log.find("再生開始: ", at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(EndToEnd, ALevelEditedOnAirGlidesToTheNewLevelWithoutBurstOrRestart) {
    WindowManager manager(*desktop_);
    ASSERT_EQ(manager.failure(), "");
    const fs::path package = writeShow();
    {
        ProjectManager store(bookmarks_);
        ProjectData project = store.load(package);
        SlotData& second = project.banks[0].slots[kMidiSlot];
        second.transitionMode = TransitionMode::dissolve;
        second.dissolveDuration = 5.0;
        store.save(std::move(project), package);
    }
    KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
    const std::string window = awaitShow(kestio, package);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(desktop_->xdotool({"windowfocus", "--sync", window}));
    ASSERT_TRUE(kestio.press(window, {"1"}));
    ASSERT_TRUE(played(package, "KeyCue"));

    const auto click = [&](QPointF onCanvas, int times) {
        const auto point = onScreen(kestio, window, onCanvas);
        return point &&
               desktop_
                   ->xdotool({"mousemove", std::to_string(point->x()), std::to_string(point->y()),
                              "click", "--repeat", std::to_string(times), "1"})
                   .has_value();
    };
    const auto type = [&](const std::vector<std::string>& names) {
        std::vector<std::string> arguments{"key", "--clearmodifiers", "ctrl+a"};
        arguments.insert(arguments.end(), names.begin(), names.end());
        arguments.push_back("Return");
        return desktop_->xdotool(arguments).has_value();
    };
    // The slot's gain readout, the fader's 0 dB mark (a double-click there sets 0 dB and opens
    // the value dialog) and the 1.25 kHz band of the equaliser.
    const QPointF readout{1241, 497};
    const QPointF fader{1146, 344};
    const double band = 1733;

    using Way = LevelEdit::Way;
    // clang-format off
    const LevelEdit edits[] = {
        {"fader dialog down", nullptr, Way::faderDialog, {"minus", "6"}, 0, 0.0, -6.0},
        {"gain readout up", nullptr, Way::readout, {"6"}, 0, -6.0, 6.0},
        {"gain readout down", nullptr, Way::readout, {"minus", "6"}, 0, 6.0, -6.0},
        {"equaliser band up", nullptr, Way::eqBand, {}, 420, std::nullopt, std::nullopt},
        {"equaliser band down", nullptr, Way::eqBand, {}, 476, std::nullopt, std::nullopt},
        // The second cue dissolves in over 5 s at 0 dB, and the edits are made while it does.
        {"gain readout up in a dissolve", "2", Way::readout, {"6"}, 0, 0.0, 6.0},
        {"equaliser band in a dissolve", nullptr, Way::eqBand, {}, 420, std::nullopt,
         std::nullopt},
    };
    // clang-format on
    for (const LevelEdit& edit : edits) {
        SCOPED_TRACE(edit.name);
        if (edit.firedBefore) {
            ASSERT_TRUE(kestio.press(window, {edit.firedBefore}));
            ASSERT_TRUE(played(package, "MidiCue"));
        }
        // 300 ms of the level before the edit, the edit, 500 ms after it.
        const auto recording = pulse_->record("null.monitor");
        ASSERT_TRUE(pollUntil([&] { return recording->left().size() >= 14400; }));
        const std::size_t typing = recording->left().size() / kWindow;
        switch (edit.way) {
            case Way::readout:
                ASSERT_TRUE(click(readout, 1));
                ASSERT_TRUE(type(edit.keys));
                break;
            case Way::faderDialog:
                ASSERT_TRUE(click(fader, 2));
                ASSERT_TRUE(type(edit.keys));
                break;
            case Way::eqBand:
                ASSERT_TRUE(click({band, edit.bandY}, 1));
                break;
        }
        const std::size_t edited = recording->left().size();
        ASSERT_TRUE(pollUntil([&] { return recording->left().size() >= edited + 24000; }));
        const std::vector<double> heard = levels(recording->left());

        // The level before, from what was heard before the typing began (the recording opens
        // with a little silence), and after, from the last 100 ms.
        const auto first =
            std::size_t(std::find_if(heard.begin(), heard.end(), [](double l) { return l > -40; }) -
                        heard.begin());
        ASSERT_LT(first + 10, typing) << "no sound before the edit";
        const double before =
            median({heard.begin() + long(first) + 5, heard.begin() + long(typing)});
        const double after = median({heard.end() - 50, heard.end()});
        if (edit.from) {
            EXPECT_NEAR(before, *edit.from, 0.5);
            EXPECT_NEAR(after, *edit.to, 0.5);
        } else {
            EXPECT_GT(std::abs(after - before), 1.0) << "the band changed nothing";
        }
        // From the last moment at the old level to the first at the new one, 50 ms at most (a
        // gain glides, over 10 ms at least); nothing louder than the louder of the two.
        std::size_t reached = typing;
        while (reached < heard.size() && std::abs(heard[reached] - after) > 0.5) {
            ++reached;
        }
        std::size_t left = reached;
        while (left > typing && std::abs(heard[left] - before) > 0.5) {
            --left;
        }
        const double glide = double(reached - left) * 2.0;
        const auto loudest = std::max_element(heard.begin() + long(typing) - 25, heard.end());
        std::ostringstream around;  // the levels from 20 ms before the change to 60 ms after
        around << std::fixed << std::setprecision(1);
        for (std::size_t i = left - std::min<std::size_t>(left, 10);
             i < std::min(left + 30, heard.size()); ++i) {
            around << heard[i] << ' ';
        }
        EXPECT_LE(*loudest, std::max(before, after) + 0.5)
            << double(loudest - heard.begin() - long(left)) * 2.0 << " ms from the change\n"
            << around.str();
        EXPECT_LE(glide, 50.0) << around.str();
        if (edit.from) {
            EXPECT_GE(glide, 10.0) << "a gain stepped\n" << around.str();
        }
    }
    const std::string log = readFile(package / "app.log");
    EXPECT_EQ(starts(log), 2) << "a clip on air started again\n" << log;
}

}  // namespace
}  // namespace kestio::test

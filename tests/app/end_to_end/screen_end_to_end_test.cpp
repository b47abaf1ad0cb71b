// The inspector's controls on the real program, as the X server shows them: at the default
// window size and at 1920×1080 (the canvas scaled below 1 either way), in both languages, with
// nothing loaded, with a slot loaded, and under the edit lock. Each control is looked for at its
// place in grabs of the screen and compared with how it shows with a slot loaded and the lock
// off: drawn, and dimmed over its card's grey where it should be.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/canvas_layout.h"
#include "end_to_end_fixture.h"
#include "model/project_manager.h"
#include "platform/storage/settings_user_defaults.h"

namespace kestio::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What a control of the canvas is drawn as, compared with how it shows with a slot loaded and
// the lock off (the reference).
enum class Look {
    asReference,  // unchanged
    dimmed,       // the reference at 0.4 over the card's grey (the edit lock)
    faded,        // disabled and at 0.35: drawn, nowhere brighter than that (no slot loaded)
};

// A control, the card it lies on and its rectangle on the 1920×1080 design canvas, a little
// larger than it is.
struct Control {
    const char* name;
    app::CanvasPanel card;
    QRectF onCanvas;
};

QRectF cardRect(app::CanvasPanel panel) {
    return app::placement(panel).rect();
}

// The six band sliders of the EQ tab (20 × 112 in columns that share the card's width).
std::vector<Control> eqBandSliders() {
    std::vector<Control> sliders;
    static const char* const names[] = {"EQ band 1", "EQ band 2", "EQ band 3",
                                        "EQ band 4", "EQ band 5", "EQ band 6"};
    const QRectF card = cardRect(app::CanvasPanel::eqColor);
    const double inner = card.width() - 16;
    const double column = (inner - 5 * 6) / 6;
    for (int i = 0; i < 6; ++i) {
        const double centre = card.left() + 8 + i * (column + 6) + column / 2;
        sliders.push_back({names[i], app::CanvasPanel::eqColor,
                           QRectF(centre - 12, card.top() + 8 + 22 + 4 + 16, 24, 112)});
    }
    return sliders;
}

using P = app::CanvasPanel;
const Control kDissolveSlider{"dissolve-time slider", P::clipSettingsPanel, {1125, 83, 364, 16}};
const Control kRateSlider{"rate slider", P::clipSettingsPanel, {1125, 126, 364, 16}};
const Control kFader{"gain fader", P::audio, {1125, 270, 44, 236}};
const Control kTransitions{"transition buttons", P::clipSettingsPanel, {1125, 14, 364, 42}};
// The EQ and colour tabs' page below the tab row, and the geometry controls below the title.
const Control kTabPage{"EQ/colour page", P::eqColor, {1509, 376, 385, 150}};
const Control kGeometryControls{"geometry controls", P::geometry, {1509, 254, 385, 74}};

const Control* const kInspector[] = {&kDissolveSlider, &kRateSlider, &kFader,
                                     &kTransitions,    &kTabPage,    &kGeometryControls};

struct Expectation {
    Control control;
    Look look;
};

// How the pixels of a control compare with its reference.
struct Comparison {
    int ink = 0;         // reference pixels that stand out of the card's grey
    int asExpected = 0;  // of those, drawn as the look expects within the tolerance
    int drawn = 0;       // of those, standing out of the grey at all
    int tooBright = 0;   // of those, standing out more than the opacity allows
};

int deviation(QRgb pixel, QRgb background) {
    return std::max({std::abs(qRed(pixel) - qRed(background)),
                     std::abs(qGreen(pixel) - qGreen(background)),
                     std::abs(qBlue(pixel) - qBlue(background))});
}

Comparison compare(const QImage& reference, const QImage& shown, const QRect& area, QRgb background,
                   double opacity) {
    constexpr int kInk = 40;
    constexpr int kTolerance = 10;
    Comparison c;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb r = reference.pixel(x, y);
            const int inkDeviation = deviation(r, background);
            if (inkDeviation <= kInk) {
                continue;
            }
            ++c.ink;
            const QRgb s = shown.pixel(x, y);
            const auto blend = [&](int ref, int bg) {
                return int(std::lround(bg + opacity * (ref - bg)));
            };
            const QRgb expected =
                qRgb(blend(qRed(r), qRed(background)), blend(qGreen(r), qGreen(background)),
                     blend(qBlue(r), qBlue(background)));
            c.asExpected += deviation(s, expected) <= kTolerance;
            c.drawn += deviation(s, background) >= 6;
            c.tooBright += deviation(s, background) > opacity * inkDeviation + kTolerance;
        }
    }
    return c;
}

// The lengths of the runs of white (value fields' backgrounds) down the column x of `image`
// between rows `top` and `bottom`.
std::vector<int> whiteRuns(const QImage& image, int x, int top, int bottom) {
    std::vector<int> runs;
    int run = 0;
    for (int y = top; y <= bottom; ++y) {
        if (deviation(image.pixel(x, y), qRgb(255, 255, 255)) < 16) {
            ++run;
        } else if (run > 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    if (run > 0) {
        runs.push_back(run);
    }
    return runs;
}

// How many rows of plain background lie between the last line of a panel's help text and the
// help's lower edge: the help is the panel's top block, on its own grey, with a text margin of
// 14 at the left that no text enters.
int rowsBelowHelpText(const QImage& panel) {
    const QRgb grey = panel.pixel(4, 2);
    int bottom = 0;
    while (bottom < panel.height() && deviation(panel.pixel(4, bottom), grey) <= 3) {
        ++bottom;
    }
    int lastText = -1;
    for (int y = 0; y < bottom; ++y) {
        for (int x = 14; x < panel.width() - 14; ++x) {
            if (deviation(panel.pixel(x, y), grey) > 30) {
                lastText = y;
                break;
            }
        }
    }
    return lastText < 0 ? -1 : bottom - 1 - lastText;
}

// One grab of the main window with where the canvas is in it.
struct Shot {
    QImage image;
    QRectF canvas;

    QRect place(const QRectF& onCanvas) const {
        const double scale = canvas.width() / app::kDesignWidth;
        return QRectF(canvas.topLeft() + onCanvas.topLeft() * scale, onCanvas.size() * scale)
            .toAlignedRect()
            .intersected(image.rect());
    }
    // The card's grey, beside its content at the middle of its left edge.
    QRgb cardGrey(app::CanvasPanel panel) const {
        const QRectF card = cardRect(panel);
        const QRect at = place(QRectF(card.left() + 3, card.center().y(), 1, 1));
        return image.pixel(at.topLeft());
    }
};

class ScreenEndToEnd : public EndToEnd {
  protected:
    fs::path shotsFolder() {
        const fs::path folder = fs::path(KESTIO_TEST_OUTPUT_DIR) / "screen";
        fs::create_directories(folder);
        return folder;
    }

    // A show whose key cue is placed by hand (custom geometry), so that the geometry section
    // shows all its rows, and whose MIDI cue (slot key "2") freezes at its end.
    fs::path writeCustomGeometryShow(const std::string& name) {
        const fs::path package = writeShow(standardCues(), name);
        ProjectManager manager(bookmarks_);
        ProjectData project = manager.load(package);
        // The MIDI cue is frozen at its end.
        project.banks[0].slots[kMidiSlot].postRollMode = PostRollMode::freeze;
        GeometrySettings& geometry = project.banks[0].slots[kKeySlot].geometry;
        geometry.mode = GeometryMode::custom;
        geometry.scaleX = 80;
        geometry.scaleY = 80;
        manager.save(project, package);
        return package;
    }

    Shot grab(KestioProcess& kestio, const std::string& window) {
        Shot shot;
        const auto frame = kestio.geometry(window);
        if (!frame) {
            return shot;
        }
        shot.image = desktop_->grab(*frame).convertToFormat(QImage::Format_RGB32);
        shot.canvas = findCanvas(shot.image).value_or(QRectF());
        return shot;
    }

    // Grabs until `ready` holds for the grab (the program has drawn what was asked), or a guard
    // of a few seconds has passed; the last grab.
    Shot grabWhen(KestioProcess& kestio, const std::string& window,
                  const std::function<bool(const Shot&)>& ready) {
        Shot shot;
        pollUntil(
            [&] {
                shot = grab(kestio, window);
                return !shot.canvas.isEmpty() && ready(shot);
            },
            5s);
        return shot;
    }

    // A grab once the inspector's controls have settled: two grabs in a row draw them alike
    // (after a resize the window may still be drawing).
    Shot grabSettled(KestioProcess& kestio, const std::string& window) {
        Shot previous;
        return grabWhen(kestio, window, [&](const Shot& now) {
            const bool same =
                previous.canvas == now.canvas &&
                std::all_of(std::begin(kInspector), std::end(kInspector), [&](const Control* c) {
                    const QRect area = now.place(c->onCanvas);
                    return previous.image.copy(area) == now.image.copy(area);
                });
            previous = now;
            return same;
        });
    }

    void save(const Shot& shot, const std::string& name) {
        shot.image.save(QString::fromStdString((shotsFolder() / (name + ".png")).string()));
    }

    // Whether `control` shows in `shown` with `look`, compared with `reference`.
    static bool shows(const Shot& reference, const Shot& shown, const Control& control, Look look,
                      std::string* why = nullptr) {
        const QRect area = shown.place(control.onCanvas);
        const QRgb grey = reference.cardGrey(control.card);
        const double opacity = look == Look::dimmed ? 0.4 : look == Look::faded ? 0.35 : 1.0;
        const Comparison c = compare(reference.image, shown.image, area, grey, opacity);
        bool ok = c.ink >= 30;
        switch (look) {
            case Look::asReference:
                ok = ok && c.asExpected >= 0.85 * c.ink;
                break;
            case Look::dimmed:
                // Disabled, a control may draw some parts in other greys than enabled: most of
                // it shows as the reference at 0.4, all of it is drawn, none brighter.
                ok = ok && c.asExpected >= 0.6 * c.ink && c.drawn >= 0.9 * c.ink &&
                     c.tooBright <= 0.02 * c.ink;
                break;
            case Look::faded:
                ok = ok && c.drawn >= 0.6 * c.ink && c.tooBright <= 0.05 * c.ink;
                break;
        }
        if (why != nullptr) {
            *why = std::string(control.name) + ": " + std::to_string(c.ink) + " ink pixels, " +
                   std::to_string(c.asExpected) + " as expected, " + std::to_string(c.drawn) +
                   " drawn, " + std::to_string(c.tooBright) + " too bright";
        }
        return ok;
    }

    // Reports each control that does not show in `shot` as expected against `reference`.
    static void expectAll(const Shot& reference, const Shot& shot,
                          const std::vector<Expectation>& expectations, const std::string& name) {
        for (const Expectation& e : expectations) {
            std::string why;
            EXPECT_TRUE(shows(reference, shot, e.control, e.look, &why)) << name << ": " << why;
        }
    }

    // Waits until every control shows as expected, then reports those that do not.
    Shot expectShown(KestioProcess& kestio, const std::string& window, const Shot& reference,
                     const std::vector<Expectation>& expectations, const std::string& name) {
        const Shot shot = grabWhen(kestio, window, [&](const Shot& s) {
            return std::all_of(expectations.begin(), expectations.end(), [&](const auto& e) {
                return shows(reference, s, e.control, e.look);
            });
        });
        save(shot, name);
        expectAll(reference, shot, expectations, name);
        return shot;
    }

    bool clickEditLock(KestioProcess& kestio, const std::string& window) {
        const QRectF utility = cardRect(app::CanvasPanel::utilityButtons);
        return clickCanvas(kestio, window, {utility.center().x(), utility.top() + 28});
    }
    bool clickTab(KestioProcess& kestio, const std::string& window, int tab) {
        const QRectF card = cardRect(app::CanvasPanel::eqColor);
        return clickCanvas(kestio, window,
                           {card.left() + 8 + (tab == 0 ? 18 : 70), card.top() + 19});
    }
};

TEST_F(ScreenEndToEnd, EveryInspectorControlIsDrawnAndDimmedAtItsPlace) {
    // Dimmed by the edit lock: the EQ and colour tab's page and the geometry controls. The
    // clip inspector and the audio section do not follow the lock.
    const std::vector<Expectation> locked{
        {kTabPage, Look::dimmed},          {kGeometryControls, Look::dimmed},
        {kTransitions, Look::asReference}, {kDissolveSlider, Look::asReference},
        {kRateSlider, Look::asReference},  {kFader, Look::asReference},
    };
    const std::vector<Expectation> unlocked{{kGeometryControls, Look::asReference}};
    // Faded with no slot loaded: the inspector's two sliders, the gain fader, the band sliders.
    std::vector<Expectation> faded{
        {kDissolveSlider, Look::faded}, {kRateSlider, Look::faded}, {kFader, Look::faded}};
    for (const Control& band : eqBandSliders()) {
        faded.push_back({band, Look::faded});
    }
    // The page shows the other tab: some of its pixels changed.
    const auto turned = [](const Shot& before) {
        return [before](const Shot& now) {
            const QRect area = now.place(kTabPage.onCanvas);
            int changed = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    changed += deviation(now.image.pixel(x, y), before.image.pixel(x, y)) > 40;
                }
            }
            return changed > 50;
        };
    };
    const auto showsAll = [](const Shot& reference, const std::vector<Expectation>& expected) {
        return [&reference, &expected](const Shot& now) {
            return std::all_of(expected.begin(), expected.end(), [&](const Expectation& e) {
                return shows(reference, now, e.control, e.look);
            });
        };
    };

    for (const char* language : {"ja", "en"}) {
        SCOPED_TRACE(language);
        {
            platform::SettingsUserDefaults defaults(fs::path(std::getenv("XDG_CONFIG_HOME")) /
                                                    "Kestio" / "Kestio.ini");
            defaults.setString("appLanguage", language);
        }
        const fs::path package =
            writeCustomGeometryShow(std::string("Screen-") + language + ".ktshow");
        KestioProcess kestio(*desktop_, {"--midi", "jack", package.string()});
        const std::string window = awaitShow(kestio, package);
        ASSERT_FALSE(window.empty());
        const QSize small = app::kDefaultWindowSize;
        const QSize large(1920, 1080);
        const auto size = [&] { return kestio.geometry(window).value_or(QRect()).size(); };
        const auto resize = [&](QSize to) {
            return desktop_
                       ->xdotool({"windowsize", "--sync", window, std::to_string(to.width()),
                                  std::to_string(to.height())})
                       .has_value() &&
                   pollUntil([&] { return size() == to; });
        };
        const auto name = [&](QSize at, const char* state) {
            return std::string(language) + "_" + std::to_string(at.width()) + "x" +
                   std::to_string(at.height()) + "_" + state;
        };
        ASSERT_TRUE(pollUntil([&] { return size() == small; })) << size().width();

        // Nothing loaded, at both sizes; the key cue then loaded at the large size.
        const Shot noneSmall = grabSettled(kestio, window);
        save(noneSmall, name(small, "none"));
        ASSERT_TRUE(resize(large));
        const Shot noneLarge = grabSettled(kestio, window);
        save(noneLarge, name(large, "none"));
        ASSERT_TRUE(kestio.press(window, {"1"}));
        ASSERT_TRUE(played(package, "KeyCue"));
        const Shot loadedLarge = grabWhen(kestio, window, [&](const Shot& s) {
            return shows(s, noneLarge, kFader, Look::faded);
        });
        save(loadedLarge, name(large, "loaded"));
        expectAll(loadedLarge, noneLarge, faded, name(large, "none"));

        // The lock on and off, on the EQ tab and then on the colour tab.
        ASSERT_TRUE(clickEditLock(kestio, window));
        const Shot lockedLarge =
            expectShown(kestio, window, loadedLarge, locked, name(large, "locked"));
        ASSERT_TRUE(clickTab(kestio, window, 1));
        const Shot lockedColourLarge = grabWhen(kestio, window, turned(lockedLarge));
        save(lockedColourLarge, name(large, "locked_colour"));
        ASSERT_TRUE(clickEditLock(kestio, window));
        // Unlocked, the geometry controls are back as they were.
        const Shot colourLarge = grabWhen(kestio, window, showsAll(loadedLarge, unlocked));
        save(colourLarge, name(large, "loaded_colour"));
        expectAll(loadedLarge, colourLarge, unlocked, name(large, "loaded_colour"));
        expectAll(colourLarge, lockedColourLarge, locked, name(large, "locked_colour"));

        // The same at the small size, from the colour tab back to the EQ tab.
        ASSERT_TRUE(resize(small));
        const Shot colourSmall = grabSettled(kestio, window);
        save(colourSmall, name(small, "loaded_colour"));
        ASSERT_TRUE(clickEditLock(kestio, window));
        const Shot lockedColourSmall =
            expectShown(kestio, window, colourSmall, locked, name(small, "locked_colour"));
        ASSERT_TRUE(clickTab(kestio, window, 0));
        const Shot lockedSmall = grabWhen(kestio, window, turned(lockedColourSmall));
        save(lockedSmall, name(small, "locked"));
        ASSERT_TRUE(clickEditLock(kestio, window));
        const Shot loadedSmall = grabWhen(kestio, window, showsAll(colourSmall, unlocked));
        save(loadedSmall, name(small, "loaded"));
        expectAll(loadedSmall, lockedSmall, locked, name(small, "locked"));
        expectAll(loadedSmall, noneSmall, faded, name(small, "none"));
        // The scale row, the last of the geometry controls, shows whole at both sizes: the H%
        // field (the last white down a column through its left part) is as tall as the X field
        // (the first down a column through its left part).
        for (const Shot* shot : {&loadedLarge, &loadedSmall}) {
            const auto fields = [&](double x) {
                const QRectF area = kGeometryControls.onCanvas;
                const QRect column = shot->place(QRectF(x, area.top(), 1, area.height() + 8));
                return whiteRuns(shot->image, column.left(), column.top(), column.bottom());
            };
            const std::vector<int> xColumn = fields(1812);
            const std::vector<int> hColumn = fields(1864);
            ASSERT_FALSE(xColumn.empty());
            ASSERT_FALSE(hColumn.empty());
            EXPECT_GE(xColumn.front(), 10);
            EXPECT_GE(hColumn.back(), xColumn.front() - 1)
                << "the W% and H% fields are cut off at the card's edge";
        }

        // A clip frozen at its end reads the end in the player's header: the remaining time in
        // the light label colour, no longer red as in its last ten seconds.
        const QRectF player = cardRect(app::CanvasPanel::player);
        const QRectF readout(player.left() + 130, player.top() + 8, player.width() - 260, 40);
        const auto reddish = [&](const Shot& shot) {
            const QRect area = shot.place(readout);
            int red = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QRgb p = shot.image.pixel(x, y);
                    red += qRed(p) > 180 && qGreen(p) < 120;
                }
            }
            return red;
        };
        ASSERT_TRUE(kestio.press(window, {"2"}));
        ASSERT_TRUE(played(package, "MidiCue"));
        EXPECT_TRUE(kestio.waitForOutput("freeze seek")) << kestio.output();
        const Shot frozen =
            grabWhen(kestio, window, [&](const Shot& s) { return reddish(s) == 0; });
        save(frozen, name(small, "frozen"));
        EXPECT_EQ(reddish(frozen), 0) << "the frozen clip's remaining time is red";

        // The key bindings panel shows every line of its help text.
        ASSERT_TRUE(kestio.press(window, {"ctrl+shift+comma"}));
        std::string panel;
        ASSERT_TRUE(pollUntil([&] {
            panel = kestio.dialogWindow().value_or("");
            return !panel.empty();
        })) << "no key bindings panel";
        Shot help;
        pollUntil(
            [&] {
                const auto frame = kestio.geometry(panel);
                help.image =
                    frame ? desktop_->grab(*frame).convertToFormat(QImage::Format_RGB32) : QImage();
                return !help.image.isNull() && rowsBelowHelpText(help.image) >= 4;
            },
            3s);
        save(help, std::string(language) + "_key_bindings");
        EXPECT_GE(rowsBelowHelpText(help.image), 4) << "the help's last line is cut off";
    }
}

}  // namespace
}  // namespace kestio::test

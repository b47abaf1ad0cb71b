// The bank list and the MIDI-assignable tile: tiles, clicks, the context menu, the footer, and
// the MIDI overlay's faces, pixels and clear entry.

#include <gtest/gtest.h>

#include <QMenu>
#include <QPainter>
#include <QTest>
#include <cmath>
#include <limits>

#include "app/assignable_tile.h"
#include "app/bank_list.h"
#include "side_panel_fixture.h"

namespace kestio::app {
namespace {

using test::near;
using test::setLanguage;

const QColor kCurrentRed = QColor::fromRgbF(0.7f, 0.1f, 0.1f);

MIDIControlAssignment assignment(std::int64_t channel, std::int64_t note) {
    return {"play", channel, note};
}

TEST(AssignableTile, LabelTexts) {
    EXPECT_EQ(assignmentLabel(assignment(1, 60)), "Ch.01 C(60)");
    EXPECT_EQ(assignmentLabel(assignment(10, 61)), "Ch.10 C#(61)");
    EXPECT_EQ(assignmentLabel(assignment(16, 0)), "Ch.16 C(0)");
    EXPECT_EQ(assignmentLabel(assignment(2, 127)), "Ch.02 G(127)");

    const std::vector<MIDIControlAssignment> five = {assignment(1, 60), assignment(1, 62),
                                                     assignment(1, 64), assignment(1, 65),
                                                     assignment(1, 67)};
    const TileFace face = tileFace(false, true, false, five);
    // The first three in list order, then "+2" for the rest.
    EXPECT_EQ(face.labels, (std::vector<std::string>{"Ch.01 C(60)", "Ch.01 D(62)", "Ch.01 E(64)"}));
    EXPECT_EQ(face.more, "+2");
    EXPECT_EQ(tileFace(false, true, false, {five.begin(), five.begin() + 3}).more, std::nullopt);
}

TEST(AssignableTile, FacesFollowLearnModeLabelsAndArming) {
    const std::vector<MIDIControlAssignment> one = {assignment(1, 60)};
    struct Case {
        bool learn, labels, armed;
        TileFace expected;
    };
    const Case cases[] = {
        {false, false, false, {}},
        {false, false, true, {}},  // armed means nothing outside learn mode
        {true, false, false, {true, false, {}, {}, false}},
        {true, false, true, {true, true, {}, {}, false}},
        {false, true, false, {false, false, {"Ch.01 C(60)"}, {}, false}},
        {true, true, true, {true, true, {"Ch.01 C(60)"}, {}, true}},  // lifted over the badge
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.learn << c.labels << c.armed);
        EXPECT_EQ(tileFace(c.learn, c.labels, c.armed, one), c.expected);
    }
    EXPECT_EQ(tileFace(true, true, false, {}).labels.size(), 0u);
}

// The overlay on a 100 × 40 control, drawn on black.
QImage paintedTile(const TileFace& face) {
    QImage image(104, 44, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    paintAssignableTile(painter, QRectF(2, 2, 100, 40), face);
    return image;
}

TEST(AssignableTile, ArmedOutlineIsSolidWithABadgeAndUnarmedIsDashed) {
    const QImage armed = paintedTile({true, true, {}, {}, false});
    test::saveShot(armed, "assignable_tile_armed");
    int greenOnTop = 0;
    for (int x = 10; x < 94; ++x) {
        greenOnTop += armed.pixelColor(x, 2).green() > 150 ? 1 : 0;
    }
    EXPECT_EQ(greenOnTop, 84);  // solid
    // The LISTENING badge at the bottom centre.
    EXPECT_GT(armed.pixelColor(52, 37).green(), 150);

    const QImage dashed = paintedTile({true, false, {}, {}, false});
    test::saveShot(dashed, "assignable_tile_learn");
    int on = 0;
    int changes = 0;
    bool last = false;
    for (int x = 10; x < 94; ++x) {
        const bool green = dashed.pixelColor(x, 2).green() > 100;
        on += green ? 1 : 0;
        changes += (x > 10 && green != last) ? 1 : 0;
        last = green;
    }
    // 4 on, 3 off: about four sevenths drawn, and many dashes.
    EXPECT_NEAR(on / 84.0, 4.0 / 7.0, 0.12);
    EXPECT_GE(changes, 16);
    EXPECT_LT(dashed.pixelColor(52, 37).green(), 50);  // no badge
    EXPECT_EQ(paintedTile({}), [] {
        QImage black(104, 44, QImage::Format_ARGB32);
        black.fill(Qt::black);
        return black;
    }());
}

class BankListTest : public test::SidePanelFixture {
  protected:
    BankList list{*show, QSize(426, 416)};

    void click(int index) {
        QTest::mouseClick(&list, Qt::LeftButton, {}, list.tileRect(index).center().toPoint());
    }
    std::vector<std::string> menuTexts(int index) {
        std::vector<std::string> texts;
        for (const PanelMenuEntry& e : list.model().menu(index)) {
            texts.push_back(e.kind == PanelMenuEntry::Kind::separator ? "-" : e.text);
        }
        return texts;
    }
    void trigger(int index, const std::string& text) {
        auto menu = list.contextMenu(index);
        ASSERT_TRUE(menu);
        for (QAction* action : menu->actions()) {
            if (action->text().toStdString() == text) {
                action->trigger();
                return;
            }
        }
        FAIL() << "no entry " << text;
    }
    QColor pixelOfTile(const QImage& image, int index) {
        const QRectF r = list.tileRect(index);
        return image.pixelColor(int(r.left()) + 3, int(r.center().y()));
    }
};

TEST_F(BankListTest, NewProjectShowsTwentyBanksInTwoColumns) {
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(list.model().tile(i).caption, "BANK " + std::to_string(i + 1));
    }
    // Banks 1 to 10 down the left column, 11 to 20 down the right.
    EXPECT_LT(list.tileRect(9).left(), list.tileRect(10).left());
    EXPECT_DOUBLE_EQ(list.tileRect(0).top(), list.tileRect(10).top());
    EXPECT_GT(list.tileRect(9).top(), list.tileRect(8).top());
    EXPECT_EQ(list.model().footerName(), "BANK 1");
    EXPECT_EQ(list.model().footerTotal(), "00:00");

    const QImage image = shots(list, "bank_list_new_project");
    EXPECT_TRUE(near(pixelOfTile(image, 0), kCurrentRed, 3));
    EXPECT_TRUE(near(pixelOfTile(image, 1), ui::palette::white(0.14)));
    EXPECT_TRUE(near(pixelOfTile(image, 19), ui::palette::white(0.14)));
}

TEST_F(BankListTest, ABankWithContentIsLighterAndTheCurrentOneNeverDimmed) {
    load(3, 5, "clip.mp4");
    const BankTile content = list.model().tile(3);
    EXPECT_FALSE(content.dimmed);
    EXPECT_EQ(content.captionColor, QColor(Qt::white));
    EXPECT_TRUE(list.model().tile(4).dimmed);
    EXPECT_FALSE(list.model().tile(0).dimmed);  // current, though empty
    show->projectRevision = show->projectRevision.get() + 1;
    const QImage image = test::render(list);
    EXPECT_TRUE(near(pixelOfTile(image, 3), ui::palette::white(0.22)));
}

TEST_F(BankListTest, AClickMakesTheBankCurrentAndInLearnModeArmsIt) {
    click(12);
    EXPECT_EQ(show->currentBank.get(), 12);
    EXPECT_EQ(list.model().footerName(), "BANK 13");

    show->isMIDILearnMode = true;
    click(2);
    EXPECT_EQ(show->currentBank.get(), 12);
    ASSERT_TRUE(show->midiLearnArmedTarget.get());
    EXPECT_EQ(*show->midiLearnArmedTarget.get(), MIDILearnTarget::forControl("bank:2"));
    EXPECT_TRUE(list.model().tile(2).midi.armed);
    EXPECT_FALSE(list.model().tile(3).midi.armed);
    const QImage image = shots(list, "bank_list_learn_armed");
    // The armed tile's solid outline.
    const QRectF armed = list.tileRect(2);
    EXPECT_GT(image.pixelColor(int(armed.center().x()), int(armed.top()) + 1).green(), 150);
}

TEST_F(BankListTest, MenuOffersPasteAndReplaceOnlyForAnotherCopiedBank) {
    const std::vector<std::string> plain = {"Rename", "-", "Copy", "-", "Clear"};
    const std::vector<std::string> full = {"Rename", "-", "Copy", "Replace", "Paste", "-", "Clear"};
    EXPECT_EQ(menuTexts(4), plain);
    trigger(1, "Copy");
    EXPECT_EQ(show->bankClipboard.get(), 1);
    EXPECT_EQ(menuTexts(1), plain);
    EXPECT_EQ(menuTexts(4), full);
    EXPECT_EQ(menuTexts(19), full);

    show->isMIDILearnMode = true;
    EXPECT_EQ(menuTexts(4), std::vector<std::string>{"Clear MIDI Assignment"});
    setLanguage(AppLanguage::ja);
    EXPECT_EQ(menuTexts(4), std::vector<std::string>{"MIDIアサインを削除"});
}

TEST_F(BankListTest, PasteCopiesTheSourceAsItIsNowAndMarksUnsaved) {
    load(1, 0, "a.mp4");
    trigger(1, "Copy");
    // Edited after the copy: the paste takes the bank as it is at the paste.
    load(1, 1, "b.mp4");
    project().banks[1].name = "Intro";
    ASSERT_FALSE(show->hasUnsavedChanges.get());
    trigger(4, "Paste");
    EXPECT_EQ(show->project().banks[4], show->project().banks[1]);
    EXPECT_EQ(show->project().banks[4].name, "Intro");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(show->bankClipboard.get(), 1);  // kept for another paste
    EXPECT_EQ(show->currentBank.get(), 0);
}

TEST_F(BankListTest, ReplaceSwapsAndTwiceRestoresAndMarksUnsaved) {
    load(1, 0, "two.mp4");
    load(6, 3, "seven.mp4");
    const ProjectData before = show->project();
    trigger(1, "Copy");
    trigger(6, "Replace");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
    EXPECT_EQ(show->project().banks[1], before.banks[6]);
    EXPECT_EQ(show->project().banks[6], before.banks[1]);
    EXPECT_EQ(show->bankClipboard.get(), 1);
    trigger(6, "Replace");
    EXPECT_EQ(show->project().banks, before.banks);
}

TEST_F(BankListTest, ClearAsksAndRenameGoesThroughTheShow) {
    trigger(7, "Clear");
    EXPECT_EQ(show->confirmClearBank.get(), 7);
    dialogs.textAnswers.push_back(std::string());
    trigger(7, "Rename");
    EXPECT_EQ(show->project().banks[7].name, "");
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(BankListTest, ClearMIDIAssignmentIsDisabledWithoutOneAndClearsInLearnMode) {
    show->isMIDILearnMode = true;
    auto entries = list.model().menu(5);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].enabled);
    EXPECT_TRUE(entries[0].destructive);
    project().midiControlAssignments = {{"bank:5", 1, 60}, {"play", 1, 61}, {"bank:5", 2, 62}};
    show->showMIDIAssignLabels = true;
    EXPECT_EQ(list.model().tile(5).midi.labels.size(), 2u);
    shots(list, "bank_list_learn_labels");
    entries = list.model().menu(5);
    ASSERT_TRUE(entries[0].enabled);
    entries[0].action();
    EXPECT_EQ(show->project().midiControlAssignments,
              (std::vector<MIDIControlAssignment>{{"play", 1, 61}}));
    EXPECT_TRUE(show->hasUnsavedChanges.get());
}

TEST_F(BankListTest, FooterTotalsWholeFileDurations) {
    struct Case {
        std::vector<double> durations;
        const char* text;
    };
    const Case cases[] = {
        {{}, "00:00"},
        {{59.5}, "01:00"},
        {{3599.5}, "1:00:00"},
        {{3600, 125}, "1:02:05"},
        {{360000}, "100:00:00"},
        {{10, std::numeric_limits<double>::infinity()}, "--:--"},
        {{std::nan("")}, "--:--"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (auto& slot : project().banks[0].slots) {
            slot.clipInfo.reset();
        }
        for (std::size_t i = 0; i < c.durations.size(); ++i) {
            ClipInfo info;
            info.duration = c.durations[i];
            project().banks[0].slots[i].clipInfo = info;
            project().banks[0].slots[i].inPoint = 1.0;  // in points play no part
        }
        EXPECT_EQ(list.model().footerTotal(), c.text);
    }
}

TEST_F(BankListTest, AProjectWithFewerBanksHasInertBlankPlaces) {
    project().banks.resize(3);
    show->currentBank = 2;
    EXPECT_FALSE(list.model().tile(3).exists);
    EXPECT_TRUE(list.model().menu(3).empty());
    click(15);
    EXPECT_EQ(show->currentBank.get(), 2);
    trigger(0, "Copy");
    project().banks.resize(1);  // the copied bank has gone too
    EXPECT_EQ(menuTexts(0), (std::vector<std::string>{"Rename", "-", "Copy", "-", "Clear"}));
    EXPECT_EQ(list.model().footerName(), "");
    EXPECT_EQ(list.model().footerTotal(), "00:00");
    shots(list, "bank_list_three_banks");
}

TEST_F(BankListTest, LongAndMixedScriptNamesStayInTheirTiles) {
    project().banks[0].name = std::string(500, 'W');
    project().banks[1].name = "オープニング映像 Opening 開場 — العربية";
    show->currentBank = 1;
    const QImage image = shots(list, "bank_list_long_names");
    // The neighbour to the right keeps its own colour: the caption is cut, not spilled.
    EXPECT_TRUE(near(pixelOfTile(image, 10), ui::palette::white(0.14)));
    EXPECT_EQ(list.model().footerName(), project().banks[1].name);
}

}  // namespace
}  // namespace kestio::app

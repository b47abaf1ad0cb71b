#include <gtest/gtest.h>

#include "grid/grid_toolbar_model.h"
#include "show/show_fixture.h"

namespace kestio::grid {
namespace {

std::vector<ToolbarControl> controls(const ToolbarFace& face) {
    std::vector<ToolbarControl> out;
    for (const auto& item : face.items)
        out.push_back(item.control);
    return out;
}

const ToolbarItem& item(const ToolbarFace& face, ToolbarControl control) {
    for (const auto& i : face.items) {
        if (i.control == control)
            return i;
    }
    throw std::runtime_error("no such control");
}

int greyLevel(const QColor& c) {
    return c.red();
}

TEST(GridToolbarModel, NormalFaceOrderLooksAndEnabledStates) {
    ToolbarState s;
    s.language = AppLanguage::en;
    auto face = toolbarFace(s);
    using C = ToolbarControl;
    EXPECT_EQ(controls(face),
              (std::vector<C>{C::multipleSelect, C::midiLearn, C::midiList, C::midiLabels,
                              C::followJump, C::spacer, C::midiStatus}));
    EXPECT_EQ(greyLevel(face.barBackground), 33);  // grey 0.13
    EXPECT_EQ(greyLevel(item(face, C::multipleSelect).textColor), 179);
    EXPECT_TRUE(item(face, C::multipleSelect).enabled);
    EXPECT_EQ(item(face, C::followJump).text, "Follow Jump");
    EXPECT_EQ(greyLevel(item(face, C::followJump).textColor), 217);  // grey 0.85 while on
    EXPECT_EQ(item(face, C::midiLabels).symbol, ui::Symbol::eyeSlash);

    s.editLocked = true;
    s.followJump = false;
    s.showMIDILabels = true;
    face = toolbarFace(s);
    EXPECT_FALSE(item(face, C::multipleSelect).enabled);
    EXPECT_EQ(greyLevel(item(face, C::multipleSelect).textColor), 89);  // grey 0.35
    EXPECT_FALSE(item(face, C::midiLearn).enabled);
    EXPECT_TRUE(item(face, C::midiList).enabled);
    EXPECT_TRUE(item(face, C::midiLabels).enabled);
    EXPECT_EQ(item(face, C::midiLabels).symbol, ui::Symbol::eye);
    EXPECT_EQ(greyLevel(item(face, C::followJump).textColor), 115);  // grey 0.45

    s.editLocked = false;
    s.learnMode = true;
    face = toolbarFace(s);
    EXPECT_FALSE(item(face, C::multipleSelect).enabled);
    EXPECT_EQ(greyLevel(item(face, C::multipleSelect).textColor), 179);  // dims only under the lock
    EXPECT_EQ(item(face, C::midiLearn).textColor, QColor(Qt::black));
    EXPECT_EQ(item(face, C::midiLearn).background, QColor(0x32, 0xD7, 0x4B));
}

TEST(GridToolbarModel, SelectFaceCountTotalsAndEnabledStates) {
    ToolbarState s;
    s.selectMode = true;
    s.language = AppLanguage::en;
    s.bankSlotCount = 40;
    auto face = toolbarFace(s);
    using C = ToolbarControl;
    EXPECT_EQ(controls(face), (std::vector<C>{C::countText, C::selectAll, C::separator,
                                              C::batchNextGo, C::batchFreeze, C::separator, C::copy,
                                              C::remove, C::separator, C::cancel, C::spacer}));
    EXPECT_EQ(item(face, C::countText).text, "● Multiple Select");
    EXPECT_EQ(greyLevel(item(face, C::countText).textColor), 128);
    EXPECT_EQ(item(face, C::selectAll).text, "Select All");
    for (auto c : {C::batchNextGo, C::batchFreeze, C::copy, C::remove}) {
        EXPECT_FALSE(item(face, c).enabled);
        EXPECT_EQ(greyLevel(item(face, c).background), 46);  // grey 0.18
    }
    EXPECT_TRUE(item(face, C::cancel).enabled);
    EXPECT_EQ(face.barBackground.rgba(), QColor(0x0A, 0x84, 0xFF, 89).rgba());

    s.selectedCount = 3;
    s.selectionTotal = "01:05";
    face = toolbarFace(s);
    EXPECT_EQ(item(face, C::countText).text, "● Multiple Select  3 selected  (01:05)");
    EXPECT_EQ(item(face, C::countText).textColor, QColor(Qt::white));
    EXPECT_TRUE(item(face, C::remove).enabled);
    EXPECT_EQ(item(face, C::remove).background.alpha(), 46);
    s.selectedCount = 40;
    s.language = AppLanguage::ja;
    face = toolbarFace(s);
    EXPECT_EQ(item(face, C::selectAll).text, "選択解除");
    EXPECT_EQ(item(face, C::countText).text, "● Multiple Select  40 件選択  (01:05)");
}

TEST(GridToolbarModel, FormatDuration) {
    const std::pair<double, const char*> cases[] = {
        {0, "00:00"},
        {59.5, "01:00"},
        {59.49, "00:59"},
        {3599.4, "59:59"},
        {3600, "1:00:00"},
        {3599.5, "1:00:00"},
        {36061, "10:01:01"},
        {-5, "00:00"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00"}};
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(formatDuration(seconds), text) << seconds;
    }
}

class ToolbarState_ : public test::ShowFixture {};

TEST_F(ToolbarState_, SelectionTotalCountsSlotsWithClipFactsInTheBank) {
    slot(0, 1).clipInfo = ClipInfo{};
    slot(0, 1).clipInfo->duration = 1800.2;
    slot(0, 2).clipInfo = ClipInfo{};
    slot(0, 2).clipInfo->duration = 1799.2;
    show->isSelectMode = true;
    show->selectedSlots = std::set<int>{1, 2, 3, 90};
    auto s = toolbarState(*show, AppLanguage::en);
    EXPECT_EQ(s.selectionTotal, "59:59");
    EXPECT_EQ(s.selectedCount, 4);
    EXPECT_EQ(s.bankSlotCount, 40);
    slot(0, 3).clipInfo = ClipInfo{};
    slot(0, 3).clipInfo->duration = 0.4;
    EXPECT_EQ(toolbarState(*show, AppLanguage::en).selectionTotal, "1:00:00");
    show->selectedSlots = std::set<int>{5};
    EXPECT_EQ(toolbarState(*show, AppLanguage::en).selectionTotal, "00:00");
}

}  // namespace
}  // namespace kestio::grid

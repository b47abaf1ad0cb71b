#include "app/utility_buttons.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <cstdio>

#include "model/localization_manager.h"
#include "output/color_bars.h"
#include "platform/runloop/console.h"
#include "show/show_controller.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::app {

namespace {

constexpr double kSpacing = 4.0;
constexpr double kRadius = 4.0;
constexpr int kBarsWidth = 1920;
constexpr int kBarsHeight = 1080;

}  // namespace

std::string toneLevelLabel(double levelDb) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0fdB", levelDb);
    return text;
}

void UtilityActions::toggleEditLock() {
    show_.editLocked = !show_.editLocked.get();
}

void UtilityActions::toggleColorBars() {
    const bool on = !show_.isColorBarActive.get();
    show_.isColorBarActive = on;
    // The playback controller forgets the clip on air first: its timers would otherwise carry
    // out the clip's post-roll over the bars, and the panels would edit a slot that is off air.
    output_.resetPlayback();
    if (on) {
        output_.showStillAndCut(output::generateSmpteColorBars(kBarsWidth, kBarsHeight));
    } else {
        output_.clearOutput();
    }
}

void UtilityActions::toggle1kHzTone() {
    if (show_.is1kHzActive.get()) {
        show_.is1kHzActive = false;
        output_.stopTone();
        return;
    }
    const bool started = output_.startTone(show_.toneLevel1kHz.get());
    if (!started) {
        platform::Console::log("AudioEngine error: the 1 kHz test tone could not start");
    }
    show_.is1kHzActive = started;
}

void UtilityActions::setToneLevel(int levelDb) {
    show_.toneLevel1kHz = double(levelDb);
    output_.setToneLevel(levelDb);
    if (show_.is1kHzActive.get()) {
        output_.stopTone();
        if (!output_.startTone(levelDb)) {
            platform::Console::log("AudioEngine error: the 1 kHz test tone could not start");
            show_.is1kHzActive = false;
        }
    }
}

std::vector<PanelMenuEntry> UtilityActions::toneLevelMenu() {
    std::vector<PanelMenuEntry> entries;
    entries.push_back(PanelMenuEntry::heading(L("1kHz 出力レベル", "1kHz Output Level")));
    entries.push_back(PanelMenuEntry::separator());
    const long long current = std::llround(show_.toneLevel1kHz.get());
    for (const int level : kToneLevels) {
        PanelMenuEntry entry;
        char text[32];
        std::snprintf(text, sizeof text, "%lld dBFS", static_cast<long long>(level));
        entry.text = text;
        entry.checked = level == current;
        entry.action = [this, level] { setToneLevel(level); };
        entries.push_back(entry);
    }
    return entries;
}

UtilityButtons::UtilityButtons(ShowController& show, SignalOutput& output, QSize size,
                               QWidget* parent)
    : QWidget(parent), show_(show), actions_(show, output) {
    setFixedSize(size);
    repaint_(show.editLocked)(show.isColorBarActive)(show.is1kHzActive)(show.toneLevel1kHz);
}

QRectF UtilityButtons::buttonRect(Button button) const {
    // Half a point inside the column, so that the 1-point outlines are whole.
    const QRectF column = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double rowHeight = (column.height() - kSpacing) / 2.0;
    const double halfWidth = (column.width() - kSpacing) / 2.0;
    switch (button) {
        case Button::editLock:
            return {column.left(), column.top(), column.width(), rowHeight};
        case Button::colorBars:
            return {column.left(), column.top() + rowHeight + kSpacing, halfWidth, rowHeight};
        case Button::tone:
            return {column.left() + halfWidth + kSpacing, column.top() + rowHeight + kSpacing,
                    halfWidth, rowHeight};
    }
    return {};
}

void UtilityButtons::paintEvent(QPaintEvent*) {
    QPainter p(this);
    auto button = [&](Button which, const QColor& fill, const QColor& outline) {
        const QRectF r = buttonRect(which);
        fillRounded(p, r, kRadius, fill);
        strokeRounded(p, r, kRadius, outline, 1.0);
        return r;
    };
    const QRectF lock = button(
        Button::editLock, show_.editLocked.get() ? ui::palette::red() : ui::palette::white(0.28),
        ui::palette::white(0.5));
    drawLine(p, lock, QStringLiteral("EDIT LOCK"), ui::fonts::system(15, QFont::Bold), Qt::white,
             Qt::AlignCenter);

    const bool bars = show_.isColorBarActive.get();
    const QRectF barsRect = button(
        Button::colorBars, bars ? QColor::fromRgbF(0.2f, 0.5f, 0.8f) : ui::palette::white(0.22),
        bars ? ui::palette::withOpacity(ui::palette::blue(), 0.8) : ui::palette::white(0.4));
    drawLine(p, barsRect, QStringLiteral("Colorbar"), ui::fonts::system(10, QFont::DemiBold),
             Qt::white, Qt::AlignCenter);

    const bool tone = show_.is1kHzActive.get();
    const QRectF toneRect = button(
        Button::tone, tone ? QColor::fromRgbF(0.2f, 0.6f, 0.3f) : ui::palette::white(0.22),
        tone ? ui::palette::withOpacity(ui::palette::green(), 0.8) : ui::palette::white(0.4));
    const double mid = toneRect.center().y();
    drawLine(p, QRectF(toneRect.left(), mid - 13, toneRect.width(), 14), QStringLiteral("1kHz"),
             ui::fonts::system(10, QFont::DemiBold), Qt::white, Qt::AlignCenter);
    drawLine(p, QRectF(toneRect.left(), mid + 1, toneRect.width(), 11),
             QString::fromStdString(toneLevelLabel(show_.toneLevel1kHz.get())),
             ui::fonts::monospaced(8), ui::palette::white(0.7), Qt::AlignCenter);
}

void UtilityButtons::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPointF at = event->position();
    if (buttonRect(Button::editLock).contains(at)) {
        actions_.toggleEditLock();
    } else if (buttonRect(Button::colorBars).contains(at)) {
        actions_.toggleColorBars();
    } else if (buttonRect(Button::tone).contains(at)) {
        actions_.toggle1kHzTone();
    }
}

void UtilityButtons::contextMenuEvent(QContextMenuEvent* event) {
    if (!buttonRect(Button::tone).contains(event->pos())) {
        return;
    }
    QMenu menu;
    fillPanelMenu(menu, actions_.toneLevelMenu());
    menu.exec(event->globalPos());
}

}  // namespace kestio::app

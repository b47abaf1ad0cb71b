#include "app/midi_status_panel.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>

#include "app/sound_output_status.h"
#include "control/midi_input_controller.h"
#include "control/midi_output_controller.h"
#include "model/localization_manager.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

namespace {

constexpr double kHeaderHeight = 22;
constexpr double kOutputRowHeight = 20;
constexpr double kSourceLine = 11;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

QString toggleText(bool on) {
    return on ? QStringLiteral("MIDI ON") : QStringLiteral("MIDI OFF");
}

// The scroll area of the source rows: a notch of the wheel moves it by one row, a touchpad by
// the pixels it reports.
class SourceScrollArea : public QScrollArea {
  public:
    using QScrollArea::QScrollArea;

  protected:
    void wheelEvent(QWheelEvent* event) override {
        QScrollBar& bar = *verticalScrollBar();
        if (!event->pixelDelta().isNull()) {
            bar.setValue(bar.value() - event->pixelDelta().y());
        } else {
            pendingAngle_ += event->angleDelta().y();
            const int notches = pendingAngle_ / 120;
            pendingAngle_ -= notches * 120;
            bar.setValue(bar.value() - notches * int(kSourceLine + 1));
        }
        event->accept();
    }

  private:
    int pendingAngle_ = 0;
};

// The rows of the sources, as tall as they need; the scroll area shows part of them.
class SourceRows : public QWidget {
  public:
    explicit SourceRows(MIDIStatusModel& model) : model_(model) {}

    void setRowCount(int rows) {
        setFixedHeight(int(std::ceil(3 + rows * (kSourceLine + 1) - 1 + 3)));
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        double y = 3;
        for (const std::string& name : model_.sources()) {
            fillDot(p, QPointF(8 + 2.5, y + kSourceLine / 2), 5, ui::palette::green());
            drawLine(p, QRectF(8 + 5 + 5, y, width() - 26, kSourceLine), q(name),
                     ui::fonts::monospaced(9), ui::palette::white(0.75));
            y += kSourceLine + 1;
        }
    }

  private:
    MIDIStatusModel& model_;
};

}  // namespace

std::optional<std::string> effectiveDestination(const std::optional<std::string>& chosen,
                                                const std::vector<std::string>& available) {
    if (chosen) {
        return chosen;
    }
    if (!available.empty()) {
        return available.front();
    }
    return std::nullopt;
}

std::vector<std::string> MIDIStatusModel::sources() const {
    return midi_.connectedSourceNames.get();
}

bool MIDIStatusModel::hasSources() const {
    return midi_.isConnected.get();
}

bool MIDIStatusModel::inputEnabled() const {
    return midi_.isEnabled.get();
}

bool MIDIStatusModel::hasDestinations() const {
    return midiOut_.isConnected.get();
}

std::string MIDIStatusModel::destinationLabel() const {
    return effectiveDestination(midiOut_.selectedDestinationName.get(),
                                midiOut_.availableDestinationNames.get())
        .value_or(L("未接続", "Not Connected"));
}

std::vector<PanelMenuEntry> MIDIStatusModel::destinationMenu() {
    std::vector<PanelMenuEntry> entries;
    const auto names = midiOut_.availableDestinationNames.get();
    if (names.empty()) {
        PanelMenuEntry none;
        none.text = L("送信先が見つかりません", "No destination found");
        none.enabled = false;
        entries.push_back(none);
        return entries;
    }
    const auto effective = effectiveDestination(midiOut_.selectedDestinationName.get(), names);
    bool checked = false;
    for (const std::string& name : names) {
        PanelMenuEntry entry;
        entry.text = name;
        // By name, the first of equal names carries the check mark.
        entry.checked = !checked && effective && *effective == name;
        checked = checked || entry.checked;
        entry.action = [this, name] { selectDestination(name); };
        entries.push_back(entry);
    }
    return entries;
}

void MIDIStatusModel::toggleInput() {
    midi_.isEnabled = !midi_.isEnabled.get();
}

void MIDIStatusModel::refreshSources() {
    midi_.connectAllSources();
}

void MIDIStatusModel::refreshDestinations() {
    midiOut_.refreshDestinations();
}

void MIDIStatusModel::selectDestination(const std::string& name) {
    midiOut_.selectedDestinationName = name;
}

MIDIStatusPanel::MIDIStatusPanel(MIDIInputController& midi, MIDIOutputController& midiOut,
                                 QSize size, SoundOutputStatus* sound, QWidget* parent)
    : QWidget(parent), model_(midi, midiOut), sound_(sound) {
    setFixedSize(size);
    sourceList_ = new SourceScrollArea(this);
    sourceList_->setFrameShape(QFrame::NoFrame);
    sourceList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sourceList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sourceList_->setWidgetResizable(false);
    sourceList_->viewport()->setAutoFillBackground(false);
    sourceList_->setAutoFillBackground(false);
    sourceList_->setFocusPolicy(Qt::NoFocus);
    sourceList_->setGeometry(sourceAreaRect().toAlignedRect());
    auto* rows = new SourceRows(model_);
    rows->setFixedWidth(width());
    sourceList_->setWidget(rows);
    rows->setAutoFillBackground(false);  // the card shows through
    subscriptions_.push_back(
        midi.connectedSourceNames.subscribe([this](const auto&) { updateSources(); }));
    updateSources();
    repaint_(midi.isConnected)(midi.connectedSourceNames)(midi.isEnabled)(midiOut.isConnected)(
        midiOut.availableDestinationNames)(midiOut.selectedDestinationName)(
        LocalizationManager::shared().language);
    if (sound_ != nullptr) {
        repaint_(sound_->notice);
    }
}

QRectF MIDIStatusPanel::soundNoticeRect() const {
    const double left =
        8 + textWidth(QStringLiteral("MIDI Device"), ui::fonts::system(11, QFont::DemiBold)) + 10;
    return {left, 0, std::max(refreshSourcesRect().left() - 6 - left, 0.0), kHeaderHeight};
}

QRectF MIDIStatusPanel::toggleRect() const {
    const QFont font = ui::fonts::system(10, QFont::Bold);
    const double w = 8 + 7 + 4 + textWidth(toggleText(model_.inputEnabled()), font) + 8;
    return {width() - 8 - w, 2, w, kHeaderHeight - 4};
}

QRectF MIDIStatusPanel::refreshSourcesRect() const {
    const QRectF toggle = toggleRect();
    return {toggle.left() - 6 - 12, (kHeaderHeight - 12) / 2.0, 12, 12};
}

QRectF MIDIStatusPanel::destinationRect() const {
    const double top = height() - kOutputRowHeight;
    const QFont label = ui::fonts::system(9);
    const double left = 8 + 5 + 5 + textWidth(QStringLiteral("Output"), label) + 5;
    const double w =
        std::min(textWidth(q(model_.destinationLabel()), ui::fonts::monospaced(9)) + 10,
                 width() - left - 40);
    return {left, top + 3, w, kOutputRowHeight - 6};
}

QRectF MIDIStatusPanel::sourceAreaRect() const {
    return {0, kHeaderHeight + 1, double(width()), height() - kHeaderHeight - 2 - kOutputRowHeight};
}

void MIDIStatusPanel::updateSources() {
    const auto count = int(model_.sources().size());
    static_cast<SourceRows*>(sourceList_->widget())->setRowCount(count);
    sourceList_->setVisible(count > 0);
}

QRectF MIDIStatusPanel::refreshDestinationsRect() const {
    return {width() - 8 - 12.0, height() - kOutputRowHeight + 4, 12, 12};
}

void MIDIStatusPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect());
    QPainterPath clip;
    clip.addRoundedRect(card, 6, 6);
    p.save();
    p.setClipPath(clip);
    p.fillRect(card, ui::palette::white(0.16));

    // Header.
    p.fillRect(QRectF(0, 0, width(), kHeaderHeight), ui::palette::white(0.18));
    drawLine(p, QRectF(8, 0, 150, kHeaderHeight), QStringLiteral("MIDI Device"),
             ui::fonts::system(11, QFont::DemiBold), ui::palette::white(0.75));
    if (const auto notice = sound_ ? sound_->notice.get() : SoundOutputStatus::Notice::none;
        notice != SoundOutputStatus::Notice::none) {
        const QColor color = notice == SoundOutputStatus::Notice::lost ? ui::palette::red()
                             : notice == SoundOutputStatus::Notice::reconnecting
                                 ? ui::palette::orange()
                                 : ui::palette::green();
        const QRectF box = soundNoticeRect();
        fillDot(p, QPointF(box.left() + 3.5, box.center().y()), 7, color);
        drawLine(p, box.adjusted(7 + 4, 0, 0, 0), q(SoundOutputStatus::text(notice)),
                 ui::fonts::system(9, QFont::DemiBold), color);
    }
    ui::drawSymbol(p, refreshSourcesRect(), ui::Symbol::arrowClockwise, ui::palette::white(0.6));
    const bool on = model_.inputEnabled();
    const QRectF pill = toggleRect();
    const QColor green = ui::palette::green();
    fillRounded(p, pill, 5, on ? ui::palette::withOpacity(green, 0.12) : ui::palette::white(0.18));
    strokeRounded(p, pill.adjusted(0.5, 0.5, -0.5, -0.5), 5,
                  on ? ui::palette::withOpacity(green, 0.4) : ui::palette::white(0.3), 1.0);
    fillDot(p, QPointF(pill.left() + 8 + 3.5, pill.center().y()), 7,
            on ? green : ui::palette::white(0.35));
    drawLine(p, pill.adjusted(8 + 7 + 4, 0, 0, 0), toggleText(on),
             ui::fonts::system(10, QFont::Bold), on ? green : ui::palette::white(0.45));
    p.fillRect(QRectF(0, kHeaderHeight, width(), 1), ui::palette::white(0.28));

    // Sources: their rows are the scroll area's; with none, the message.
    const QRectF area = sourceAreaRect();
    if (model_.sources().empty()) {
        fillDot(p, QPointF(8 + 2.5, area.center().y()), 5, ui::palette::white(0.3));
        drawLine(p, area.adjusted(8 + 5 + 5, 0, -8, 0),
                 q(L("MIDI機器が接続されていません", "No MIDI device connected")),
                 ui::fonts::system(9), ui::palette::white(0.45));
    }
    p.fillRect(QRectF(0, area.bottom(), width(), 1), ui::palette::white(0.28));

    // Output row.
    const double top = height() - kOutputRowHeight;
    fillDot(p, QPointF(8 + 2.5, top + kOutputRowHeight / 2), 5,
            model_.hasDestinations() ? ui::palette::orange() : ui::palette::white(0.3));
    drawLine(p, QRectF(8 + 5 + 5, top, 60, kOutputRowHeight), QStringLiteral("Output"),
             ui::fonts::system(9), ui::palette::white(0.5));
    drawLine(p, destinationRect(), q(model_.destinationLabel()), ui::fonts::monospaced(9),
             ui::palette::white(0.75));
    ui::drawSymbol(p, refreshDestinationsRect(), ui::Symbol::arrowClockwise,
                   ui::palette::white(0.6));
    p.restore();

    const bool connected = model_.hasSources();
    strokeRounded(p, card.adjusted(0.75, 0.75, -0.75, -0.75), 6,
                  connected ? ui::palette::withOpacity(green, 0.5) : ui::palette::white(0.28),
                  connected ? 1.5 : 1.0);
}

void MIDIStatusPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPointF at = event->position();
    if (toggleRect().contains(at)) {
        model_.toggleInput();
    } else if (refreshSourcesRect().adjusted(-3, -3, 3, 3).contains(at)) {
        model_.refreshSources();
    } else if (refreshDestinationsRect().adjusted(-3, -3, 3, 3).contains(at)) {
        model_.refreshDestinations();
    } else if (destinationRect().contains(at)) {
        QMenu menu;
        fillPanelMenu(menu, model_.destinationMenu());
        menu.exec(mapToGlobal(destinationRect().bottomLeft().toPoint()));
    }
}

}  // namespace kestio::app

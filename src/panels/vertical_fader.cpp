#include "panels/vertical_fader.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "model/localization_manager.h"
#include "panels/audio_level_scale.h"
#include "panels/fader_input.h"
#include "panels/fader_knob.h"
#include "panels/field_cycle.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/popover.h"

namespace kestio::panels {

namespace {

QString tr2(const char* ja, const char* en) {
    return QString::fromStdString(L(ja, en));
}

}  // namespace

VerticalFader::VerticalFader(ui::Binding<double> value, ui::ValueRange range, QWidget* parent)
    : QWidget(parent), value_(std::move(value)), range_(range) {
    setMinimumWidth(20);
}

double VerticalFader::knobCentreY() const {
    const double h = height();
    if (h <= 2.0 * kTravelInset) {
        return h / 2.0;  // no travel: the knob rests in the middle
    }
    return travelY(h, faderPosition(range_.clamp(value_.get())));
}

void VerticalFader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();

    // The track: an outer dark bar and an inner one shaded from its leading edge.
    QPainterPath outer;
    outer.addRoundedRect(QRectF(w / 2 - 3, 0, 6, h), 3, 3);
    painter.fillPath(outer, ui::palette::white(0.08));
    QPainterPath inner;
    const QRectF innerRect(w / 2 - 2, 0, 4, h);
    inner.addRoundedRect(innerRect, 2, 2);
    QLinearGradient shade(innerRect.topLeft(), innerRect.topRight());
    shade.setColorAt(0, ui::palette::white(0.22));
    shade.setColorAt(1, ui::palette::white(0.1));
    painter.fillPath(inner, shade);

    const double y = knobCentreY();
    FaderKnob::paint(painter, QRectF(0, y - FaderKnob::kHeight / 2, w, FaderKnob::kHeight));
}

void VerticalFader::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        writeAt(event->position().y());
    }
}

void VerticalFader::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        writeAt(event->position().y());
    }
}

void VerticalFader::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        openInput();
    }
}

void VerticalFader::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMenu* VerticalFader::makeContextMenu() {
    auto* menu = new QMenu(this);
    // Resets to 0 dB even when the range does not hold 0, as the entry says.
    menu->addAction(tr2("規定値に戻す (0dB)", "Reset to Default (0dB)"), this,
                    [this] { write(0.0); });
    return menu;
}

void VerticalFader::writeAt(double y) {
    if (const auto level = faderLevelAtPointer(y, height(), range_)) {
        write(*level);
    }
}

void VerticalFader::write(double level) {
    value_.set(level);
    update();
}

bool VerticalFader::isShowingInput() const {
    return popover_ != nullptr && popover_->isOpen();
}

void VerticalFader::openInput() {
    buildPopover();
    field_->setText(faderEntryText(value_.get()));
    popover_->open();
    field_->setFocus();
    field_->selectAll();
}

void VerticalFader::commitInput() {
    if (!isShowingInput()) {
        return;
    }
    if (const auto level = faderCommittedLevel(field_->text(), range_)) {
        write(*level);
    }
    popover_->finish();
}

void VerticalFader::cancelInput() {
    if (popover_ != nullptr) {
        popover_->finish();
    }
}

void VerticalFader::buildPopover() {
    // Built afresh for each opening, so its texts follow the current language.
    if (popover_ != nullptr) {
        popover_->finish();
        popover_->deleteLater();
    }
    popover_ = new ui::Popover(this);
    auto* stack = new QVBoxLayout;
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(10);

    auto* title = new QLabel(tr2("音量 (dB)", "Volume (dB)"));
    title->setFont(ui::fonts::system(12, QFont::DemiBold));
    title->setStyleSheet(QStringLiteral("color: rgb(179, 179, 179);"));
    stack->addWidget(title, 0, Qt::AlignHCenter);

    field_ = new QLineEdit;
    field_->setFixedWidth(90);
    field_->setAlignment(Qt::AlignCenter);
    field_->setFont(ui::fonts::monospaced(14));
    field_->setPlaceholderText(tr2("例: -6.0", "e.g. -6.0"));
    QObject::connect(field_, &QLineEdit::returnPressed, this, [this] { commitInput(); });
    // The dialog's one field keeps the keys on Tab.
    (new FieldCycle(popover_))->add(field_);
    stack->addWidget(field_, 0, Qt::AlignHCenter);

    auto* rangeLine =
        new QLabel(faderRangeText(range_, LocalizationManager::shared().language.get()));
    rangeLine->setFont(ui::fonts::system(10));
    rangeLine->setStyleSheet(QStringLiteral("color: rgb(128, 128, 128);"));
    stack->addWidget(rangeLine, 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto* cancel = new QPushButton(tr2("キャンセル", "Cancel"));
    cancel->setFlat(true);
    cancel->setFont(ui::fonts::system(13));
    cancel->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(153, 153, 153); border: none; padding: 3px 8px; }"));
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { cancelInput(); });
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setFont(ui::fonts::system(13));
    ok->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: rgb(10, 132, 255); border: none;"
                       " border-radius: 5px; padding: 3px 12px; }"));
    QObject::connect(ok, &QPushButton::clicked, this, [this] { commitInput(); });
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    stack->addLayout(buttons);
    popover_->setContentLayout(stack);
}

}  // namespace kestio::panels

#include "ui/panel_card.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/palette.h"

namespace kestio::ui {

PanelCardStyle PanelCardStyle::toolbar() {
    return {Alignment::centre, 4, 6, 0.16, QSize(438, 92)};
}
PanelCardStyle PanelCardStyle::bankList() {
    return {Alignment::centre, 2, 6, 0.16, QSize(438, 428)};
}
PanelCardStyle PanelCardStyle::player() {
    return {Alignment::leading, 3, 6, 0.12, QSize(643, 528)};
}
PanelCardStyle PanelCardStyle::clipSettings() {
    return {Alignment::leading, 8, 8, 0.16, QSize(376, 196)};
}
PanelCardStyle PanelCardStyle::audio() {
    return {Alignment::centre, 6, 8, 0.16, QSize(376, 332)};
}
PanelCardStyle PanelCardStyle::geometry() {
    return {Alignment::centre, 6, 8, 0.16, QSize(397, 116)};
}
PanelCardStyle PanelCardStyle::eqColor() {
    return {Alignment::centre, 4, 8, 0.16, QSize(397, 194)};
}

namespace {
QPainterPath cardShape(const QSize& size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), PanelCard::kCornerRadius,
                        PanelCard::kCornerRadius);
    return path;
}
}  // namespace

PanelCard::PanelCard(const PanelCardStyle& style, QWidget* parent)
    : QWidget(parent), style_(style), stack_(new QVBoxLayout(this)) {
    setFixedSize(style_.size);
    stack_->setContentsMargins(style_.padding, style_.padding, style_.padding, style_.padding);
    stack_->setSpacing(style_.spacing);
    // Content keeps its own size and sits at the top; the card never grows to fit it.
    stack_->setSizeConstraint(QLayout::SetNoConstraint);
    stack_->addStretch(1);
}

void PanelCard::addContent(QWidget* content) {
    const Qt::Alignment alignment =
        style_.alignment == PanelCardStyle::Alignment::leading ? Qt::AlignLeft : Qt::AlignHCenter;
    stack_->insertWidget(stack_->count() - 1, content, 0, alignment);
}

void PanelCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(cardShape(size()), palette::white(style_.white));
}

void PanelCard::resizeEvent(QResizeEvent* event) {
    // The children are cut at the rounded corners too.
    setMask(QRegion(cardShape(size()).toFillPolygon().toPolygon()));
    QWidget::resizeEvent(event);
}

}  // namespace kestio::ui

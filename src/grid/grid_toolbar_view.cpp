#include "grid/grid_toolbar_view.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include "grid/grid_geometry.h"
#include "model/localization_manager.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::grid {

namespace {

namespace palette = ui::palette;

constexpr double kPaddingX = 4;
constexpr double kSpacing = 6;
constexpr double kSwitchW = 26;
constexpr double kSwitchH = 15;

QFont itemFont(const ToolbarItem& item) {
    return item.monospaced ? ui::fonts::monospaced(item.fontSize, item.weight)
                           : ui::fonts::system(item.fontSize, item.weight);
}

QFont statusLabelFont() {
    return ui::fonts::monospaced(10, QFont::Bold);
}
QFont statusTextFont() {
    return ui::fonts::monospaced(11);
}

double textWidth(const QFont& font, const std::string& text) {
    return QFontMetricsF(font).horizontalAdvance(QString::fromStdString(text));
}

bool isGroup(ToolbarControl c) {
    return c == ToolbarControl::midiLabels || c == ToolbarControl::followJump;
}

void drawSwitch(QPainter& p, const QRectF& r, bool on, bool enabled) {
    p.setPen(Qt::NoPen);
    p.setBrush(on ? palette::green() : palette::white(0.35));
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    const double knob = r.height() - 3;
    const double x = on ? r.right() - 1.5 - knob : r.left() + 1.5;
    p.setBrush(enabled ? palette::white(1) : palette::white(0.7));
    p.drawEllipse(QRectF(x, r.top() + 1.5, knob, knob));
}

}  // namespace

GridToolbarView::GridToolbarView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(false);
}

void GridToolbarView::setFace(ToolbarFace face) {
    if (face.barBackground == face_.barBackground && face.items == face_.items) {
        return;
    }
    face_ = std::move(face);
    update();
}

void GridToolbarView::setMIDIStatus(MIDIStatus status) {
    if (status == status_) {
        return;
    }
    status_ = std::move(status);
    update();
}

void GridToolbarView::setScale(double scale) {
    if (scale != scale_) {
        scale_ = scale;
        update();
    }
}

QSizeF GridToolbarView::itemSize(const ToolbarItem& item) const {
    const QFont font = itemFont(item);
    const double textH = QFontMetricsF(font).height();
    switch (item.control) {
        case ToolbarControl::separator:
            return {1, 18};
        case ToolbarControl::spacer:
            return {0, 0};
        case ToolbarControl::countText:
            return {textWidth(font, item.text), textH};
        case ToolbarControl::midiStatus: {
            const double in = textWidth(statusLabelFont(), "IN") + 4 +
                              textWidth(statusTextFont(), status_.inMessage);
            const double out = textWidth(statusLabelFont(), "OUT") + 4 +
                               textWidth(statusTextFont(), status_.outMessage);
            return {in + 10 + out + 4, QFontMetricsF(statusTextFont()).height()};
        }
        case ToolbarControl::midiLabels:
        case ToolbarControl::followJump: {
            double w = 6 + item.fontSize + 4;
            if (!item.text.empty()) {
                w += textWidth(font, item.text) + 4;
            }
            return {w + kSwitchW + 6, std::max(textH, kSwitchH) + 8};
        }
        default: {
            double w = 8 + textWidth(font, item.text) + 8;
            if (item.symbol != ui::Symbol::none) {
                w += item.fontSize + 4;
            }
            return {w, textH + 8};
        }
    }
}

std::vector<QRectF> GridToolbarView::itemRects() const {
    const double width = this->width() / scale_;
    std::vector<QSizeF> sizes;
    double fixed = 0;
    int spacers = 0;
    for (const auto& item : face_.items) {
        sizes.push_back(itemSize(item));
        fixed += sizes.back().width();
        spacers += item.control == ToolbarControl::spacer ? 1 : 0;
    }
    if (!sizes.empty()) {
        fixed += kSpacing * static_cast<double>(sizes.size() - 1);
    }
    const double free = std::max(0.0, width - 2 * kPaddingX - fixed);
    std::vector<QRectF> rects;
    double x = kPaddingX;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        double w = sizes[i].width();
        if (face_.items[i].control == ToolbarControl::spacer && spacers > 0) {
            w = free / spacers;
        }
        rects.emplace_back(x, (kToolbarHeight - sizes[i].height()) / 2, w, sizes[i].height());
        x += w + kSpacing;
    }
    return rects;
}

int GridToolbarView::itemAt(QPointF p) const {
    const auto rects = itemRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].contains(p)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void GridToolbarView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale_, scale_);
    const QRectF bar(0, 0, width() / scale_, kToolbarHeight);
    // Rounded at the top only.
    QPainterPath path;
    path.addRoundedRect(bar, kPanelCornerRadius, kPanelCornerRadius);
    path.addRect(bar.adjusted(0, kPanelCornerRadius, 0, 0));
    path.setFillRule(Qt::WindingFill);
    p.fillPath(path.simplified(), face_.barBackground);

    const auto rects = itemRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const ToolbarItem& item = face_.items[i];
        const QRectF r = rects[i];
        const QFont font = itemFont(item);
        switch (item.control) {
            case ToolbarControl::spacer:
                break;
            case ToolbarControl::separator:
                p.fillRect(r, item.background);
                break;
            case ToolbarControl::countText:
                p.setFont(font);
                p.setPen(item.textColor);
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(item.text));
                break;
            case ToolbarControl::midiStatus: {
                double x = r.left();
                auto badge = [&](const char* label, bool connected, const QColor& on,
                                 const std::string& message) {
                    p.setFont(statusLabelFont());
                    p.setPen(connected ? on : palette::white(0.4));
                    const double lw = textWidth(statusLabelFont(), label);
                    p.drawText(QRectF(x, r.top(), lw, r.height()), Qt::AlignVCenter, label);
                    x += lw + 4;
                    p.setFont(statusTextFont());
                    p.setPen(connected ? palette::white(0.65) : palette::white(0.4));
                    const double mw = textWidth(statusTextFont(), message);
                    p.drawText(QRectF(x, r.top(), mw, r.height()), Qt::AlignVCenter,
                               QString::fromStdString(message));
                    x += mw + 10;
                };
                badge("IN", status_.inConnected, palette::green(), status_.inMessage);
                badge("OUT", status_.outConnected, palette::orange(), status_.outMessage);
                break;
            }
            default: {
                p.setPen(Qt::NoPen);
                p.setBrush(item.background);
                p.drawRoundedRect(r, 4, 4);
                double x = r.left() + (isGroup(item.control) ? 6 : 8);
                if (item.symbol != ui::Symbol::none) {
                    const double s = item.fontSize;
                    ui::drawSymbol(p, QRectF(x, r.center().y() - s / 2, s, s), item.symbol,
                                   item.textColor);
                    x += s + 4;
                }
                if (!item.text.empty()) {
                    p.setFont(font);
                    p.setPen(item.textColor);
                    const double w = textWidth(font, item.text);
                    p.drawText(QRectF(x, r.top(), w + 1, r.height()), Qt::AlignVCenter,
                               QString::fromStdString(item.text));
                    x += w + 4;
                }
                if (isGroup(item.control)) {
                    drawSwitch(p, QRectF(x, r.center().y() - kSwitchH / 2, kSwitchW, kSwitchH),
                               item.on, item.enabled);
                }
                break;
            }
        }
    }
}

void GridToolbarView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int i = itemAt(event->position() / scale_);
    if (i < 0) {
        return;
    }
    const ToolbarItem& item = face_.items[static_cast<std::size_t>(i)];
    const auto c = item.control;
    if (c == ToolbarControl::spacer || c == ToolbarControl::separator ||
        c == ToolbarControl::countText || c == ToolbarControl::midiStatus || !item.enabled) {
        return;
    }
    if (onPress) {
        onPress(c);
    }
}

bool GridToolbarView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int i = itemAt(QPointF(help->pos()) / scale_);
        if (i >= 0 && !face_.items[static_cast<std::size_t>(i)].tooltip.empty()) {
            QToolTip::showText(
                help->globalPos(),
                QString::fromStdString(face_.items[static_cast<std::size_t>(i)].tooltip), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace kestio::grid

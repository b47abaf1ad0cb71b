#include "grid/slot_cell_painter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/post_roll_modes.h"
#include "ui/symbols.h"

namespace kestio::grid {

namespace {

namespace palette = ui::palette;

// A text on a rounded box: the box is the text's advance plus the padding.
QRectF textBox(const QFont& font, const QString& text, double padX, double padY) {
    const QFontMetricsF metrics(font);
    return QRectF(0, 0, metrics.horizontalAdvance(text) + 2 * padX, metrics.height() + 2 * padY);
}

void drawBoxedText(QPainter& p, QRectF box, const QFont& font, const QString& text,
                   const QColor& fg, const QColor& bg, double radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(box, radius, radius);
    p.setFont(font);
    p.setPen(fg);
    p.drawText(box, Qt::AlignCenter, text);
}

void drawShadowedText(QPainter& p, const QRectF& rect, const QString& text, int flags,
                      const QColor& color, const QColor& shadow) {
    p.setPen(shadow);
    p.drawText(rect.translated(0.5, 0.5), flags, text);
    p.drawText(rect.translated(-0.5, 0.5), flags, text);
    p.setPen(color);
    p.drawText(rect, flags, text);
}

void paintInfoLine(QPainter& p, QSizeF size, const SlotCellLook& look) {
    if (look.durationText) {
        const QFont font = ui::fonts::monospaced(13);
        const QString text = QString::fromStdString(*look.durationText);
        QRectF box = textBox(font, text, 4, 2);
        box.moveTopLeft(QPointF(4, 4));
        drawBoxedText(p, box, font, text, Qt::white, palette::black(0.6), 3);
    }
    if (look.postRollIcon) {
        const QRectF box(size.width() - 40 - 22, 5, 22, 22);
        p.setPen(Qt::NoPen);
        p.setBrush(palette::black(0.55));
        p.drawRoundedRect(box, 3, 3);
        ui::drawSymbol(p, box.adjusted(4, 4, -4, -4),
                       ui::postRollModeView(*look.postRollIcon).symbol, Qt::white);
    }
}

void paintHeader(QPainter& p, QSizeF size, const SlotCellLook& look) {
    const QFont keyFont = ui::fonts::monospaced(12, QFont::Bold);
    const QString key = QString::fromStdString(look.keyText);
    QRectF tag = textBox(keyFont, key, 3, 1);
    if (key.isEmpty()) {
        tag.setWidth(6);  // an empty dark box
    }
    if (!look.loadedHeader) {
        tag.moveBottomLeft(QPointF(5, size.height() - 3));
        drawBoxedText(p, tag, keyFont, key, Qt::white, palette::black(0.65), 2);
        return;
    }
    const double stripHeight = tag.height() + 8;
    const QRectF strip(0, size.height() - stripHeight, size.width(), stripHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(palette::black(0.45));
    p.drawRect(strip);
    tag.moveTopLeft(QPointF(5, strip.top() + 4));
    drawBoxedText(p, tag, keyFont, key, Qt::white, palette::black(0.65), 2);

    const QRectF icon(size.width() - 5 - 14, strip.center().y() - 7, 14, 14);
    const bool dissolve = look.transitionIcon == TransitionMode::dissolve;
    ui::drawSymbol(p, icon, dissolve ? ui::Symbol::dissolve : ui::Symbol::cut,
                   dissolve ? QColor::fromRgbF(0.4f, 0.85f, 0.5f) : palette::white(0.75));

    const QRectF nameRect(tag.right() + 4, strip.top(), icon.left() - 4 - (tag.right() + 4),
                          strip.height());
    if (nameRect.width() > 0) {
        const QFont font = ui::fonts::system(13, QFont::Medium, look.language);
        p.setFont(font);
        const QString name = QFontMetricsF(font).elidedText(QString::fromStdString(look.name),
                                                            Qt::ElideRight, nameRect.width());
        drawShadowedText(p, nameRect, name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         Qt::white, palette::black(0.8));
    }
}

void paintFrame(QPainter& p, QSizeF size, const CellFrame& frame) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(frame.color, frame.width));
    const QRectF rect =
        QRectF(QPointF(0, 0), size).adjusted(frame.inset, frame.inset, -frame.inset, -frame.inset);
    p.drawRoundedRect(rect, kFrameCornerRadius, kFrameCornerRadius);
}

void paintBadges(QPainter& p, QSizeF size, const SlotCellLook& look) {
    for (CellBadge badge : look.badges) {
        switch (badge) {
            case CellBadge::missing:
                ui::drawSymbol(p, QRectF(7, 7, 14, 14), ui::Symbol::warningTriangleFill,
                               palette::black(0.8));
                ui::drawSymbol(p, QRectF(6, 6, 14, 14), ui::Symbol::warningTriangleFill,
                               palette::orange());
                break;
            case CellBadge::selected:
                ui::drawSymbol(p, QRectF(7, 7, 16, 16), ui::Symbol::checkmarkCircleFill,
                               palette::black(0.6));
                ui::drawSymbol(p, QRectF(6, 6, 16, 16), ui::Symbol::checkmarkCircleFill, Qt::white);
                break;
            case CellBadge::jump: {
                const QFont font = ui::fonts::system(10, QFont::Black, AppLanguage::en);
                QRectF box = textBox(font, "JUMP", 4, 1);
                box.moveTopRight(QPointF(size.width() - 3, 5));
                drawBoxedText(p, box, font, "JUMP", Qt::black, palette::orange(), 3);
                break;
            }
            case CellBadge::listening: {
                const QFont font = ui::fonts::system(10, QFont::Black, AppLanguage::en);
                QRectF box = textBox(font, "LISTENING", 4, 1);
                box.moveCenter(QPointF(size.width() / 2, size.height() - 5 - box.height() / 2));
                drawBoxedText(p, box, font, "LISTENING", Qt::black, palette::green(), 3);
                break;
            }
        }
    }
}

void paintMIDILabels(QPainter& p, QSizeF size, const SlotCellLook& look) {
    if (look.midiLabels.empty()) {
        return;
    }
    const QFont labelFont = ui::fonts::monospaced(11, QFont::Bold);
    const QFont moreFont = ui::fonts::monospaced(10, QFont::Bold);
    std::vector<QRectF> boxes;
    double total = 0;
    for (const auto& label : look.midiLabels) {
        boxes.push_back(textBox(labelFont, QString::fromStdString(label), 5, 2));
        total += boxes.back().height();
    }
    if (look.midiMore) {
        boxes.push_back(textBox(moreFont, QString::fromStdString(*look.midiMore), 5, 1));
        total += boxes.back().height();
    }
    total += 2.0 * static_cast<double>(boxes.size() - 1);
    double y = (size.height() - total) / 2;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        QRectF box = boxes[i];
        box.moveTopLeft(QPointF((size.width() - box.width()) / 2, y));
        y += box.height() + 2;
        if (i < look.midiLabels.size()) {
            drawBoxedText(p, box, labelFont, QString::fromStdString(look.midiLabels[i]),
                          palette::green(), palette::black(0.7), 3);
        } else {
            drawBoxedText(p, box, moreFont, QString::fromStdString(*look.midiMore),
                          palette::withOpacity(palette::green(), 0.8), palette::black(0.7), 3);
        }
    }
}

}  // namespace

namespace {

// Every layer of the cell, not clipped to its rounded corners.
void paintLayers(QPainter& p, QSizeF size, const SlotCellLook& look) {
    const QRectF rect(QPointF(0, 0), size);
    p.fillRect(rect, look.background);
    if (look.thumbnail && !look.thumbnail->isNull()) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawImage(rect, *look.thumbnail);
        p.restore();
    }
    paintInfoLine(p, size, look);
    paintHeader(p, size, look);
    if (look.selectionFill) {
        p.setPen(Qt::NoPen);
        p.setBrush(palette::withOpacity(palette::blue(), 0.35));
        p.drawRoundedRect(rect, kFrameCornerRadius, kFrameCornerRadius);
    }
    for (const auto& frame : look.frames) {
        paintFrame(p, size, frame);
    }
    paintBadges(p, size, look);
    paintMIDILabels(p, size, look);
}

QPainterPath cellShape(QSizeF size) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), size), kCellCornerRadius, kCellCornerRadius);
    return shape;
}

}  // namespace

void paintSlotCell(QPainter& p, QSizeF size, const SlotCellLook& look) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(cellShape(size));
    paintLayers(p, size, look);
    p.restore();
}

QImage renderSlotCell(QSize pixels, double scale, const SlotCellLook& look) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || scale <= 0) {
        return image;
    }
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QSizeF size(pixels.width() / scale, pixels.height() / scale);
    paintLayers(p, size, look);
    // Cut the corners: clear what lies outside the rounded shape.
    QPainterPath outside;
    outside.addRect(QRectF(QPointF(0, 0), size));
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    p.fillPath(outside.subtracted(cellShape(size)), Qt::black);
    return image;
}

}  // namespace kestio::grid

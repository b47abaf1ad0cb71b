#include "control/panel_style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

#include "model/localization_manager.h"

namespace kestio::panel_style {

QColor grey(double white) {
    const int v = static_cast<int>(std::lround(white * 255.0));
    return QColor(v, v, v);
}

QColor accentGreen() {
    return QColor(48, 209, 88);
}
QColor accentOrange() {
    return QColor(255, 159, 10);
}
QColor accentCyan() {
    return QColor(100, 210, 255);
}

QString css(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(c.alpha());
}

QFont uiFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (LocalizationManager::shared().language.get() == AppLanguage::ja) {
        font.setFamilies({QStringLiteral("Noto Sans CJK JP")});
    } else {
        font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK JP")});
    }
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monoFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QIcon symbolIcon(Symbol symbol, const QColor& color, int size) {
    const qreal scale = 2.0;  // drawn at twice the size for sharp edges
    QPixmap pixmap(static_cast<int>(size * scale), static_cast<int>(size * scale));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    switch (symbol) {
        case Symbol::clear:
        case Symbol::edit: {
            // A filled disc with the glyph cut out of it.
            QPainterPath disc;
            disc.addEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
            QPainterPath glyph;
            QPen pen(Qt::black, s * 0.11, Qt::SolidLine, Qt::RoundCap);
            QPainterPathStroker stroker(pen);
            QPainterPath lines;
            if (symbol == Symbol::clear) {
                lines.moveTo(s * 0.34, s * 0.34);
                lines.lineTo(s * 0.66, s * 0.66);
                lines.moveTo(s * 0.66, s * 0.34);
                lines.lineTo(s * 0.34, s * 0.66);
            } else {
                lines.moveTo(s * 0.34, s * 0.66);
                lines.lineTo(s * 0.64, s * 0.36);
            }
            glyph = stroker.createStroke(lines);
            if (symbol == Symbol::edit) {
                QPainterPath tip;
                tip.moveTo(s * 0.28, s * 0.72);
                tip.lineTo(s * 0.31, s * 0.60);
                tip.lineTo(s * 0.40, s * 0.69);
                tip.closeSubpath();
                glyph.addPath(tip);
            }
            p.fillPath(disc.subtracted(glyph), color);
            break;
        }
        case Symbol::sparkles: {
            auto star = [&](qreal cx, qreal cy, qreal r) {
                QPainterPath path;
                path.moveTo(cx, cy - r);
                path.quadTo(cx, cy, cx + r, cy);
                path.quadTo(cx, cy, cx, cy + r);
                path.quadTo(cx, cy, cx - r, cy);
                path.quadTo(cx, cy, cx, cy - r);
                p.fillPath(path, color);
            };
            star(s * 0.42, s * 0.58, s * 0.40);
            star(s * 0.80, s * 0.22, s * 0.20);
            break;
        }
        case Symbol::sortArrows: {
            QPen pen(color, s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            p.setPen(pen);
            p.drawLine(QPointF(s * 0.3, s * 0.15), QPointF(s * 0.3, s * 0.85));
            p.drawPolyline(QPolygonF({QPointF(s * 0.1, s * 0.35), QPointF(s * 0.3, s * 0.15),
                                      QPointF(s * 0.5, s * 0.35)}));
            p.drawLine(QPointF(s * 0.7, s * 0.15), QPointF(s * 0.7, s * 0.85));
            p.drawPolyline(QPolygonF({QPointF(s * 0.5, s * 0.65), QPointF(s * 0.7, s * 0.85),
                                      QPointF(s * 0.9, s * 0.65)}));
            break;
        }
    }
    p.end();
    return QIcon(pixmap);
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace kestio::panel_style

#include "app/output_monitor_panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/localization_manager.h"
#include "output/external_monitor_content_view.h"
#include "output/external_monitor_controller.h"
#include "show/show_controller.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

namespace {

constexpr double kHeaderHeight = 21;
constexpr double kCanvasRowHeight = 26;
constexpr double kStatusRowHeight = 23;
constexpr double kRowHeight = 24;
constexpr double kRowSpacing = 1;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

std::string canvasLabel(platform::SizeF size) {
    if (size.width == 3840 && size.height == 2160) {
        return "2160p";
    }
    if (size.width == 1920 && size.height == 1080) {
        return "1080p";
    }
    if (size.width == 1280 && size.height == 720) {
        return "720p";
    }
    auto whole = [](double v) {
        return std::isfinite(v) ? std::to_string(static_cast<long long>(std::trunc(v)))
                                : std::string("0");
    };
    return whole(size.width) + "\u00D7" + whole(size.height);
}

std::string screenInfoLine(const output::ScreenInfo& screen) {
    std::string rate = "\u2014";
    if (screen.refreshRate > 0 && std::isfinite(screen.refreshRate)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f Hz", screen.refreshRate);
        rate = text;
    }
    return screen.resolutionLabel() + "  " + rate;
}

bool OutputMonitorModel::isPresenting() const {
    return monitor_.isPresenting.get();
}

std::vector<ScreenRow> OutputMonitorModel::rows() const {
    std::vector<ScreenRow> rows;
    const auto& active = monitor_.activeScreen.get();
    for (const output::ScreenInfo& screen : monitor_.availableScreens.get()) {
        ScreenRow row;
        row.screen = screen;
        row.live = active && active->id == screen.id && isPresenting();
        row.info = screenInfoLine(screen);
        row.badge = row.live ? L("出力中", "LIVE") : "SELECT";
        rows.push_back(std::move(row));
    }
    return rows;
}

bool OutputMonitorModel::switchEnabled() const {
    return !monitor_.availableScreens.get().empty();
}

std::string OutputMonitorModel::statusName() const {
    const auto& active = monitor_.activeScreen.get();
    if (isPresenting() && active) {
        return active->name;
    }
    return L("出力停止中", "Output Stopped");
}

std::string OutputMonitorModel::statusCanvas() const {
    if (isPresenting() && monitor_.activeScreen.get()) {
        return canvasLabel(monitor_.canvasSize.get());
    }
    return {};
}

bool OutputMonitorModel::isSelected(platform::SizeF canvas) const {
    const platform::SizeF current = monitor_.canvasSize.get();
    return current.width == canvas.width && current.height == canvas.height;
}

void OutputMonitorModel::setSwitch(bool on) {
    if (!on) {
        show_.confirmStopMonitor = true;
        return;
    }
    if (!switchEnabled()) {
        return;
    }
    const output::ScreenInfo screen =
        monitor_.activeScreen.get().value_or(monitor_.availableScreens.get().front());
    monitor_.present(screen, program_, monitor_.canvasSize.get());
}

void OutputMonitorModel::clickBadge(std::size_t row) {
    const auto list = rows();
    if (row >= list.size()) {
        return;
    }
    if (list[row].live) {
        show_.confirmStopMonitor = true;
    } else {
        monitor_.present(list[row].screen, program_, monitor_.canvasSize.get());
    }
}

void OutputMonitorModel::chooseCanvas(platform::SizeF canvas) {
    monitor_.canvasSize = canvas;
    if (isPresenting()) {
        if (output::ExternalMonitorContentView* content = monitor_.contentView()) {
            content->setCanvasSize(canvas);
            content->layoutCanvas();
        }
    }
}

void OutputMonitorModel::refresh() {
    monitor_.refreshScreens();
}

OutputMonitorPanel::OutputMonitorPanel(output::ExternalMonitorController& monitor,
                                       output::OutputSurface& program, ShowController& show,
                                       QSize size, QWidget* parent)
    : QWidget(parent), model_(monitor, program, show) {
    setFixedSize(size);
    repaint_(monitor.availableScreens)(monitor.activeScreen)(monitor.canvasSize)(
        monitor.isPresenting)(LocalizationManager::shared().language);
}

QRectF OutputMonitorPanel::refreshRect() const {
    return {width() - 8.0 - 26 - 6 - 14, (kHeaderHeight - 14) / 2.0, 14, 14};
}

QRectF OutputMonitorPanel::switchRect() const {
    return {width() - 8.0 - 26, (kHeaderHeight - 14) / 2.0, 26, 14};
}

QRectF OutputMonitorPanel::listRect() const {
    const double top = kHeaderHeight + 1;
    const double bottom = height() - kStatusRowHeight - 1 - kCanvasRowHeight - 1;
    return {0, top, double(width()), bottom - top};
}

QRectF OutputMonitorPanel::rowRect(std::size_t row) const {
    const QRectF list = listRect();
    return {6, list.top() + 3 + double(row) * (kRowHeight + kRowSpacing) - scroll_, width() - 12.0,
            kRowHeight};
}

QRectF OutputMonitorPanel::badgeRect(std::size_t row) const {
    const auto rows = model_.rows();
    if (row >= rows.size()) {
        return {};
    }
    const QRectF r = rowRect(row);
    const double w = textWidth(q(rows[row].badge), ui::fonts::system(10, QFont::Medium)) + 12;
    return {r.right() - 3 - w, r.center().y() - 8, w, 16};
}

QRectF OutputMonitorPanel::canvasButtonRect(std::size_t choice) const {
    const double top = listRect().bottom() + 1;
    const double left = 8 + 40 + 4;
    const double share = (width() - 8 - left - 2 * 4) / 3.0;
    return {left + double(choice) * (share + 4), top + 5, share, kCanvasRowHeight - 10};
}

void OutputMonitorPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool presenting = model_.isPresenting();
    const QRectF card = QRectF(rect());
    QPainterPath clip;
    clip.addRoundedRect(card, 6, 6);
    p.save();
    p.setClipPath(clip);
    p.fillRect(card, ui::palette::white(0.16));

    // Header.
    p.fillRect(QRectF(0, 0, width(), kHeaderHeight), ui::palette::white(0.18));
    drawLine(p, QRectF(8, 0, width() - 70, kHeaderHeight), QStringLiteral("Output Monitor"),
             ui::fonts::system(12, QFont::DemiBold), ui::palette::white(0.75));
    ui::drawSymbol(p, refreshRect().adjusted(1, 1, -1, -1), ui::Symbol::arrowClockwise,
                   ui::palette::white(0.6));
    const QRectF sw = switchRect();
    p.setOpacity(model_.switchEnabled() ? 1.0 : 0.45);
    fillRounded(p, sw, sw.height() / 2,
                presenting ? ui::palette::green() : ui::palette::white(0.3));
    const double knob = sw.height() - 2;
    fillDot(
        p,
        QPointF(presenting ? sw.right() - 1 - knob / 2 : sw.left() + 1 + knob / 2, sw.center().y()),
        knob, Qt::white);
    p.setOpacity(1.0);
    p.fillRect(QRectF(0, kHeaderHeight, width(), 1), ui::palette::white(0.28));

    // Screen list.
    const QRectF list = listRect();
    const auto rows = model_.rows();
    if (rows.empty()) {
        drawLine(p, list, q(L("外部モニターが接続されていません", "No external monitor connected")),
                 ui::fonts::system(11), ui::palette::white(0.45), Qt::AlignCenter);
    } else {
        p.save();
        p.setClipRect(list);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ScreenRow& row = rows[i];
            const QRectF r = rowRect(i);
            if (row.live) {
                fillRounded(p, r, 3, ui::palette::white(0.22));
            }
            fillDot(p, QPointF(r.left() + 3 + 2.5, r.center().y()), 5,
                    row.live ? ui::palette::green() : ui::palette::white(0.3));
            const QRectF badge = badgeRect(i);
            const QRectF text(r.left() + 13, r.top() + 1, badge.left() - r.left() - 15,
                              r.height() - 2);
            drawLine(p, QRectF(text.left(), text.top(), text.width(), 12), q(row.screen.name),
                     ui::fonts::system(10, QFont::Medium),
                     row.live ? QColor(Qt::white) : ui::palette::white(0.7));
            drawLine(p, QRectF(text.left(), text.top() + 12, text.width(), 11), q(row.info),
                     ui::fonts::system(9), ui::palette::white(0.42));
            fillRounded(p, badge, 3, row.live ? ui::palette::green() : ui::palette::white(0.28));
            drawLine(p, badge, q(row.badge), ui::fonts::system(10, QFont::Medium),
                     row.live ? QColor(Qt::black) : QColor(Qt::white), Qt::AlignCenter);
        }
        p.restore();
    }
    p.fillRect(QRectF(0, list.bottom(), width(), 1), ui::palette::white(0.28));

    // Canvas row.
    const double canvasTop = list.bottom() + 1;
    drawLine(p, QRectF(8, canvasTop, 40, kCanvasRowHeight), QStringLiteral("Canvas"),
             ui::fonts::system(10), ui::palette::white(0.5));
    for (std::size_t i = 0; i < std::size(kCanvasChoices); ++i) {
        const bool selected = model_.isSelected(kCanvasChoices[i]);
        const QRectF b = canvasButtonRect(i);
        fillRounded(p, b, 3, ui::palette::white(selected ? 0.78 : 0.24));
        drawLine(p, b, q(canvasLabel(kCanvasChoices[i])),
                 ui::fonts::system(10, selected ? QFont::DemiBold : QFont::Normal),
                 selected ? QColor(Qt::black) : ui::palette::white(0.75), Qt::AlignCenter);
    }
    p.fillRect(QRectF(0, canvasTop + kCanvasRowHeight, width(), 1), ui::palette::white(0.28));

    // Status row.
    const QRectF status(0, height() - kStatusRowHeight, width(), kStatusRowHeight);
    p.fillRect(status, ui::palette::white(0.12));
    fillDot(p, QPointF(8 + 3, status.center().y()), 6,
            presenting ? ui::palette::green() : ui::palette::white(0.3));
    const QString canvasText = q(model_.statusCanvas());
    const QRectF textRect = status.adjusted(8 + 6 + 5, 0, -8, 0);
    if (canvasText.isEmpty()) {
        drawLine(p, textRect, q(model_.statusName()), ui::fonts::system(10),
                 ui::palette::white(0.4));
    } else {
        const double canvasWidth = textWidth(canvasText, ui::fonts::system(10));
        drawLine(p, textRect.adjusted(0, 0, -canvasWidth - 5, 0), q(model_.statusName()),
                 ui::fonts::system(10), ui::palette::white(0.7));
        drawLine(p, textRect, canvasText, ui::fonts::system(10), ui::palette::white(0.55),
                 Qt::AlignRight | Qt::AlignVCenter);
    }
    p.restore();

    strokeRounded(
        p, card.adjusted(0.75, 0.75, -0.75, -0.75), 6,
        presenting ? ui::palette::withOpacity(ui::palette::green(), 0.5) : ui::palette::white(0.28),
        presenting ? 1.5 : 1.0);
}

void OutputMonitorPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPointF at = event->position();
    if (refreshRect().adjusted(-3, -3, 3, 3).contains(at)) {
        model_.refresh();
        return;
    }
    if (switchRect().contains(at)) {
        if (model_.switchEnabled()) {
            model_.setSwitch(!model_.isPresenting());
        }
        return;
    }
    if (listRect().contains(at)) {
        for (std::size_t i = 0; i < model_.rows().size(); ++i) {
            if (badgeRect(i).contains(at)) {
                model_.clickBadge(i);
                return;
            }
        }
        return;
    }
    for (std::size_t i = 0; i < std::size(kCanvasChoices); ++i) {
        if (canvasButtonRect(i).contains(at)) {
            model_.chooseCanvas(kCanvasChoices[i]);
            return;
        }
    }
}

void OutputMonitorPanel::wheelEvent(QWheelEvent* event) {
    const double content = 6 + double(model_.rows().size()) * (kRowHeight + kRowSpacing);
    const double room = std::max(0.0, content - listRect().height());
    scroll_ = std::clamp(scroll_ - event->angleDelta().y() / 4.0, 0.0, room);
    update();
}

}  // namespace kestio::app

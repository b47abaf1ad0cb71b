#pragma once

#include <QRectF>
#include <QWidget>
#include <string>
#include <vector>

#include "app/panel_painting.h"
#include "output/screen_info.h"
#include "platform/graphics/geometry.h"

namespace kestio {
class ShowController;
namespace output {
class ExternalMonitorController;
class OutputSurface;
}  // namespace output
}  // namespace kestio

namespace kestio::app {

// The output canvases offered, in button order.
inline constexpr platform::SizeF kCanvasChoices[] = {
    {1280.0, 720.0}, {1920.0, 1080.0}, {3840.0, 2160.0}};

// "720p", "1080p", "2160p", or "W×H" for any other size.
std::string canvasLabel(platform::SizeF size);
// "1920×1080  60 Hz": the screen's resolution label, two spaces and its refresh rate ("—"
// when the platform gives none).
std::string screenInfoLine(const output::ScreenInfo& screen);

// One row of the screen list.
struct ScreenRow {
    output::ScreenInfo screen;
    bool live = false;
    std::string info;
    std::string badge;  // "LIVE" / "出力中", or "SELECT"
};

// The output monitor panel without a view: the screens from the external-monitor controller,
// the output switch, the SELECT / LIVE badges, the canvas choice and the refresh. Stopping the
// output always goes through the show's stop confirmation.
class OutputMonitorModel {
  public:
    OutputMonitorModel(output::ExternalMonitorController& monitor, output::OutputSurface& program,
                       ShowController& show)
        : monitor_(monitor), program_(program), show_(show) {}

    std::vector<ScreenRow> rows() const;
    bool isPresenting() const;
    bool switchEnabled() const;
    // The status line: the live screen's name and canvas label, or "Output Stopped".
    std::string statusName() const;
    std::string statusCanvas() const;
    bool isSelected(platform::SizeF canvas) const;

    // On: presents on the active screen, else the first listed. Off: asks to stop.
    void setSwitch(bool on);
    // SELECT presents on (or moves the output to) that screen; LIVE asks to stop.
    void clickBadge(std::size_t row);
    // Sets the canvas; a live output lays its canvas out again at once.
    void chooseCanvas(platform::SizeF canvas);
    void refresh();

  private:
    output::ExternalMonitorController& monitor_;
    output::OutputSurface& program_;
    ShowController& show_;
};

// The output monitor card. It paints the model and routes clicks to it.
class OutputMonitorPanel : public QWidget {
  public:
    OutputMonitorPanel(output::ExternalMonitorController& monitor, output::OutputSurface& program,
                       ShowController& show, QSize size, QWidget* parent = nullptr);

    OutputMonitorModel& model() { return model_; }
    QRectF refreshRect() const;
    QRectF switchRect() const;
    QRectF badgeRect(std::size_t row) const;
    QRectF canvasButtonRect(std::size_t choice) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    QRectF listRect() const;
    QRectF rowRect(std::size_t row) const;

    OutputMonitorModel model_;
    double scroll_ = 0;
    RepaintOn repaint_{*this};
};

}  // namespace kestio::app

#include "app/program_picture_view.h"

#include <QPainter>
#include <cmath>

#include "output/output_surface.h"
#include "platform/ui/layer_view.h"

namespace kestio::app {

ProgramPictureView::ProgramPictureView(platform::RunLoop& loop, output::OutputSurface& surface,
                                       QWidget* parent)
    : QWidget(parent), view_(new platform::LayerView(loop, this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    view_->setRootLayer(surface.rootLayer());
    view_->onLayout = [&surface](platform::SizeF size) { surface.setViewSize(size); };
}

ProgramPictureView::~ProgramPictureView() = default;

QRect ProgramPictureView::pictureRect() const {
    const double w = width();
    const double h = height();
    // The largest 16:9 rectangle inside the widget, centred.
    const double pictureW = std::min(w, h * 16.0 / 9.0);
    const double pictureH = std::min(h, w * 9.0 / 16.0);
    return QRect(int(std::lround((w - pictureW) / 2.0)), int(std::lround((h - pictureH) / 2.0)),
                 int(std::lround(pictureW)), int(std::lround(pictureH)));
}

void ProgramPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void ProgramPictureView::resizeEvent(QResizeEvent*) {
    view_->setGeometry(pictureRect());
}

}  // namespace kestio::app

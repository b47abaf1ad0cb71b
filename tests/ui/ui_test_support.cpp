#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <cmath>
#include <cstdlib>

#include "model/localization_manager.h"

namespace kestio::test {

void setLanguage(AppLanguage language) {
    LocalizationManager::shared().language = language;
}

std::filesystem::path testOutputDir() {
    std::filesystem::path dir = KESTIO_TEST_OUTPUT_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

QImage render(QWidget& widget, const QColor& background) {
    widget.ensurePolished();
    if (auto* layout = widget.layout()) {
        layout->activate();
    }
    QImage image(widget.size(), QImage::Format_ARGB32);
    if (image.isNull()) {
        return image;  // nothing to draw on
    }
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void saveShot(const QImage& image, const QString& name) {
    const auto path = testOutputDir() / (name.toStdString() + ".png");
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()))) << path;
}

void doubleClick(QWidget& widget, QPoint point) {
    const QPointF local(point);
    const QPointF global(widget.mapToGlobal(point));
    auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

QColor over(const QColor& color, const QColor& background) {
    const double a = color.alphaF();
    auto mix = [a](int c, int b) { return static_cast<int>(std::lround(c * a + b * (1.0 - a))); };
    return QColor(mix(color.red(), background.red()), mix(color.green(), background.green()),
                  mix(color.blue(), background.blue()));
}

bool near(const QColor& actual, const QColor& expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

}  // namespace kestio::test

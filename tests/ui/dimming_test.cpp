#include "ui/dimming.h"

#include <gtest/gtest.h>

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui_test_support.h"

namespace kestio::ui {
namespace {

// A card holding a white block (with a red block inside it, added after the dimming), drawn as
// the main window draws its canvas: through a graphics view that scales it.
struct ScaledCard {
    explicit ScaledCard(double scale) {
        card->setFixedSize(200, 100);
        block = new QWidget;
        block->setFixedSize(120, 60);
        block->setAutoFillBackground(true);
        QPalette p = block->palette();
        p.setColor(QPalette::Window, Qt::white);
        block->setPalette(p);
        card->addContent(block);
        auto* proxy = scene.addWidget(card);
        proxy->setPos(0, 0);
        view.setScene(&scene);
        view.setFrameShape(QFrame::NoFrame);
        view.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setTransform(QTransform::fromScale(scale, scale));
        view.resize(int(200 * scale) + 1, int(100 * scale) + 1);
        view.show();
    }
    void addRedChild() {
        red = new QWidget(block);
        red->setGeometry(10, 10, 20, 20);
        red->setAutoFillBackground(true);
        QPalette p = red->palette();
        p.setColor(QPalette::Window, Qt::red);
        red->setPalette(p);
        red->show();
    }
    // The view's picture as the screen shows it.
    QImage picture() {
        QImage image(view.viewport()->size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        view.render(&painter, QRectF(), view.viewport()->rect());
        return image;
    }

    QGraphicsScene scene;
    QGraphicsView view;
    PanelCard* card = new PanelCard(PanelCardStyle::geometry());
    QWidget* block = nullptr;
    QWidget* red = nullptr;
};

// A dimmed widget and what it holds show at its place at every scale, as over the card's grey
// at the opacity asked; undimmed they show as they are. Clicks reach the widget's own children.
TEST(Dimming, DrawsAtTheWidgetsPlaceAtEveryScaleAndLetsClicksThrough) {
    const QColor grey = palette::white(0.16);
    for (const double scale : {1.0, 0.81, 1.25}) {
        SCOPED_TRACE(scale);
        ScaledCard scaled(scale);
        setDimmed(*scaled.block, 0.4);
        scaled.addRedChild();
        EXPECT_EQ(dimmedOpacity(*scaled.block), 0.4);
        // Points of the card: inside the white block, inside its red child, beside the block.
        const auto at = [&](const QImage& image, QPointF onCard) {
            return image.pixelColor((onCard * scale).toPoint());
        };
        // The block is centred below the padding: 40..160 × 8..68 of the card.
        const QPointF white(100, 50);
        const QPointF red(60, 28);
        const QPointF beside(180, 50);
        QImage image = scaled.picture();
        test::saveShot(image, QStringLiteral("dimming_%1").arg(int(scale * 100)));
        EXPECT_TRUE(
            test::near(at(image, white), test::over(palette::withOpacity(Qt::white, 0.4), grey)))
            << at(image, white).name().toStdString();
        EXPECT_TRUE(
            test::near(at(image, red), test::over(palette::withOpacity(Qt::red, 0.4), grey)))
            << at(image, red).name().toStdString();
        EXPECT_TRUE(test::near(at(image, beside), grey));
        EXPECT_EQ(scaled.card->childAt(red.toPoint()), scaled.red);

        setDimmed(*scaled.block, 1.0);
        EXPECT_EQ(dimmedOpacity(*scaled.block), 1.0);
        image = scaled.picture();
        EXPECT_TRUE(test::near(at(image, white), Qt::white));
        EXPECT_TRUE(test::near(at(image, red), Qt::red));
    }
}

}  // namespace
}  // namespace kestio::ui

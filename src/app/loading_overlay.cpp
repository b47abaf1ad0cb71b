#include "app/loading_overlay.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QVBoxLayout>

#include "model/localization_manager.h"
#include "ui/fonts.h"
#include "ui/palette.h"

namespace kestio::app {

// A ring of twelve spokes whose brightest spoke goes round about once a second while shown
// (the run loop's timer, so it also turns under a nested event loop).
class BusyIndicator : public QWidget {
  public:
    BusyIndicator(platform::RunLoop& loop, QWidget* parent) : QWidget(parent), loop_(loop) {
        // The platform's small spinner, enlarged 1.4 times.
        setFixedSize(28, 28);
    }

  protected:
    void showEvent(QShowEvent*) override {
        timer_ = loop_.every(1.0 / 12.0, [this] {
            step_ = (step_ + 1) % 12;
            update();
        });
    }
    void hideEvent(QHideEvent*) override { timer_.cancel(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        for (int k = 0; k < 12; ++k) {
            const int age = (step_ - k + 12) % 12;
            QPen pen(ui::palette::white(1.0, 1.0 - age * 0.07));
            pen.setWidthF(2.6);
            pen.setCapStyle(Qt::RoundCap);
            painter.setPen(pen);
            painter.save();
            painter.rotate(k * 30.0);
            painter.drawLine(QPointF(0, -6.5), QPointF(0, -12.5));
            painter.restore();
        }
    }

  private:
    platform::RunLoop& loop_;
    platform::TimerHandle timer_;
    int step_ = 0;
};

namespace {

// The translucent dark card behind the overlay's contents.
class OverlayCard : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 14, 14);
        painter.fillPath(shape, QColor(40, 40, 40, 191));
    }
};

}  // namespace

LoadingOverlay::LoadingOverlay(platform::RunLoop& loop, platform::Published<bool>& isLoading,
                               platform::Published<int>& warmDone,
                               platform::Published<int>& warmTotal, QWidget* parent)
    : QWidget(parent), isLoading_(isLoading), warmDone_(warmDone), warmTotal_(warmTotal) {
    card_ = new OverlayCard(this);
    auto* stack = new QVBoxLayout(card_);
    stack->setContentsMargins(36, 26, 36, 26);
    stack->setSpacing(14);
    title_ = new QLabel(card_);
    spinner_ = new BusyIndicator(loop, card_);
    bar_ = new QProgressBar(card_);
    bar_->setFixedWidth(260);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(6);
    bar_->setStyleSheet(
        "QProgressBar { background: rgba(255,255,255,60); border: none; border-radius: 3px; }"
        "QProgressBar::chunk { background: white; border-radius: 3px; }");
    count_ = new QLabel(card_);
    for (QWidget* item : {static_cast<QWidget*>(title_), static_cast<QWidget*>(spinner_),
                          static_cast<QWidget*>(bar_), static_cast<QWidget*>(count_)}) {
        stack->addWidget(item, 0, Qt::AlignHCenter);
    }
    QPalette white = title_->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    title_->setPalette(white);
    white.setColor(QPalette::WindowText, ui::palette::white(1.0, 0.85));
    count_->setPalette(white);

    for (auto* published : {&warmDone_, &warmTotal_}) {
        subscriptions_.push_back(published->subscribe([this](int) { refresh(); }));
    }
    subscriptions_.push_back(isLoading_.subscribe([this](bool) { refresh(); }));
    subscriptions_.push_back(
        LocalizationManager::shared().language.subscribe([this](AppLanguage) { refresh(); }));
    refresh();
}

LoadingOverlay::~LoadingOverlay() = default;

QString LoadingOverlay::countText(int done, int total) {
    return QStringLiteral("%1 / %2").arg(done).arg(total) + QString::fromStdString(L(" 件", ""));
}

QString LoadingOverlay::countText() const {
    return count_->isVisibleTo(card_) ? count_->text() : QString();
}

QString LoadingOverlay::titleText() const {
    return title_->text();
}

bool LoadingOverlay::showsSpinner() const {
    return spinner_->isVisibleTo(card_);
}

void LoadingOverlay::refresh() {
    title_->setFont(ui::fonts::monospaced(15, QFont::DemiBold));
    count_->setFont(ui::fonts::monospaced(13));
    title_->setText(QString::fromStdString(L("クリップを準備中...", "Preparing clips...")));
    const int total = warmTotal_.get();
    const bool known = total >= 1;
    spinner_->setVisible(!known);
    bar_->setVisible(known);
    count_->setVisible(known);
    if (known) {
        bar_->setRange(0, total);
        bar_->setValue(std::clamp(warmDone_.get(), 0, total));
        count_->setText(countText(warmDone_.get(), total));
    }
    card_->adjustSize();
    card_->move((width() - card_->width()) / 2, (height() - card_->height()) / 2);
    setVisible(isLoading_.get());
    if (isVisible()) {
        raise();
    }
}

void LoadingOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::palette::black(0.55));
}

bool LoadingOverlay::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            card_->move((width() - card_->width()) / 2, (height() - card_->height()) / 2);
            return QWidget::event(event);
        // Nothing beneath takes a click, a wheel turn or a drop while clips are prepared.
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            event->accept();
            return true;
        default:
            return QWidget::event(event);
    }
}

}  // namespace kestio::app

#include "panels/player_panel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <cmath>

#include "model/localization_manager.h"
#include "panels/painted_row.h"
#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/styled_button.h"
#include "platform/ui/layer_view.h"
#include "show/timecode.h"
#include "ui/fonts.h"
#include "ui/number_text.h"
#include "ui/palette.h"
#include "ui/panel_card.h"
#include "ui/post_roll_modes.h"

namespace kestio::panels {

namespace {

constexpr int kHeaderHeight = 44;
constexpr int kClipLineHeight = 26;
constexpr int kPostRollHeight = 32;
constexpr int kTimecodeHeight = 22;
constexpr double kRedThreshold = 10.0;  // seconds left

constexpr const auto& kPostRolls = ui::kPostRollModes;

QString timecode(double seconds, double fps) {
    return QString::fromStdString(timecodeString(seconds, fps));
}

StyledButton::Look postRollLook(bool selected) {
    StyledButton::Look look;
    look.fill = selected ? QColor::fromRgbF(0.72f, 0.1f, 0.1f) : ui::palette::white(0.25);
    look.stroke = selected ? QColor::fromRgbF(1.0f, 0.35f, 0.35f) : ui::palette::white(0.42);
    look.strokeWidth = selected ? 1.5 : 0.5;
    look.radius = 5;
    look.textColor = Qt::white;
    look.font = ui::fonts::system(14);
    return look;
}

StyledButton::Look stopLook(bool enabled) {
    StyledButton::Look look;
    // A disabled button is drawn faded, as the platform draws a disabled plain button.
    look.fill = ui::palette::withOpacity(ui::palette::red(), enabled ? 1.0 : 0.4);
    look.radius = 4;
    look.textColor = enabled ? QColor(Qt::white) : ui::palette::white(1.0, 0.5);
    look.font = ui::fonts::system(15, QFont::Bold);
    return look;
}

// The black box of the program picture, holding the view letterboxed in it.
class ProgramBox : public QWidget {
  public:
    using QWidget::QWidget;
    QWidget* view = nullptr;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
    }
    void resizeEvent(QResizeEvent* event) override {
        if (view != nullptr) {
            view->setGeometry(letterbox(size()));
        }
        QWidget::resizeEvent(event);
    }
};

}  // namespace

QRect letterbox(const QSize& size) {
    if (size.width() <= 0 || size.height() <= 0) {
        return {};
    }
    double w = size.height() * 16.0 / 9.0;
    double h = size.height();
    if (w > size.width()) {
        w = size.width();
        h = w * 9.0 / 16.0;
    }
    const int width = static_cast<int>(std::lround(w));
    const int height = static_cast<int>(std::lround(h));
    return QRect((size.width() - width) / 2, (size.height() - height) / 2, width, height);
}

PlayerPanelState playerPanelState(PanelFacade& facade) {
    PlayerPanelState state;
    ShowPlayback& playback = facade.playback();
    const auto loaded = loadedSlot(facade);
    state.loaded = loaded.has_value();
    const double fps = facade.currentFrameRate();
    const double time = playback.currentTime().get();
    const double length = playback.duration().get();
    const double left = length - time;
    double remaining = left > 0.0 ? left : 0.0;  // also when either is not a number
    // A clip that stands still within its last frame shows that frame for good: it is at its
    // end. (A freeze holds the middle of the last frame, half a frame before the end.)
    const double frame = 1.0 / std::max(1.0, std::round(std::isfinite(fps) ? fps : 1.0));
    if (state.loaded && remaining < frame && playback.isShowingPlayerStopped()) {
        remaining = 0.0;
    }
    state.remaining = timecode(remaining, fps);
    state.remainingRed = state.loaded && remaining > 0.0 && remaining <= kRedThreshold;
    state.clipName = QString::fromStdString(playback.selectedClipName().get());
    if (loaded && loaded->data->clipInfo) {
        const ClipInfo& info = *loaded->data->clipInfo;
        state.formatInfo = QStringLiteral("[") + QString::fromStdString(info.resolution) +
                           QStringLiteral(" ") + ui::formatFixedQ(info.fps, 2) +
                           QStringLiteral("fps]");
    }
    if (loaded) {
        state.postRoll = loaded->data->postRollMode;
        if (loaded->data->inPoint) {
            state.inPoint = QStringLiteral("IN ") + timecode(*loaded->data->inPoint, fps);
        }
        if (loaded->data->outPoint) {
            state.outPoint = QStringLiteral("OUT ") + timecode(*loaded->data->outPoint, fps);
        }
    }
    state.position = timecode(time, fps) + QStringLiteral(" / ") + timecode(length, fps);
    // STOP stops whatever the player holds, even a slot the project no longer has.
    state.stopEnabled = facade.isMIDILearnMode().get() || playback.onAirOrOnItsWay().has_value();
    return state;
}

PlayerPanel::PlayerPanel(PanelFacade& facade, platform::RunLoop& loop, ui::PanelCard& card)
    : QObject(&card), facade_(facade) {
    build(loop, card);
    refreshOnLoadedSlot(
        subscriptions_, facade_, [this] { refresh(); }, facade_.playback().currentTime(),
        facade_.playback().duration(), facade_.playback().selectedClipName(),
        facade_.isMIDILearnMode(), LocalizationManager::shared().language);
    refresh();
}

PlayerPanel::~PlayerPanel() = default;

void PlayerPanel::build(platform::RunLoop& loop, ui::PanelCard& card) {
    header_ = new PaintedRow([this](QPainter& painter, const QRectF& bounds) {
        paintFramedRow(painter, bounds);
        painter.setFont(ui::fonts::monospaced(30, QFont::Bold));
        painter.setPen(state_.remainingRed ? ui::palette::red() : ui::palette::primaryLabel());
        painter.drawText(bounds, Qt::AlignCenter, state_.remaining);
    });
    header_->setFixedSize(kContentWidth, kHeaderHeight);
    stop_ = new StyledButton(header_);
    stop_->setText(QStringLiteral("STOP"));
    stop_->setGeometry(kContentWidth - 6 - 50, (kHeaderHeight - 28) / 2, 50, 28);
    stop_->onClicked = [this] { pressStop(); };
    card.addContent(header_);

    clipLine_ = new PaintedRow([this](QPainter& painter, const QRectF& bounds) {
        paintFramedRow(painter, bounds);
        const QFont font = ui::fonts::system(14);
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        double infoWidth = 0.0;
        if (!state_.formatInfo.isEmpty()) {
            infoWidth = metrics.horizontalAdvance(state_.formatInfo);
            painter.setPen(ui::palette::secondaryLabel());
            painter.drawText(
                QRectF(bounds.right() - 6 - infoWidth, 0, infoWidth + 1, bounds.height()),
                Qt::AlignLeft | Qt::AlignVCenter, state_.formatInfo);
            infoWidth += 6 + 4;  // its trailing padding and the stack's spacing
        }
        const QRectF nameRect(6, 0, std::max(0.0, bounds.width() - 12 - infoWidth),
                              bounds.height());
        painter.setPen(ui::palette::primaryLabel());
        painter.drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(state_.clipName, Qt::ElideRight, nameRect.width()));
    });
    clipLine_->setFixedSize(kContentWidth, kClipLineHeight);
    card.addContent(clipLine_);

    auto* postRollRow = new QWidget;
    postRollRow->setFixedSize(kContentWidth, kPostRollHeight);
    auto* postRollLayout = new QHBoxLayout(postRollRow);
    postRollLayout->setContentsMargins(0, 0, 0, 0);
    postRollLayout->setSpacing(4);
    for (std::size_t i = 0; i < kPostRolls.size(); ++i) {
        auto* button = new StyledButton;
        button->setText(
            QString::fromUtf8(kPostRolls[i].label.data(), qsizetype(kPostRolls[i].label.size())));
        button->setFixedHeight(kPostRollHeight);
        const PostRollMode mode = kPostRolls[i].mode;
        button->onClicked = [this, mode] { setPostRollMode(mode); };
        postRollLayout->addWidget(button, 1);
        postRolls_[i] = button;
    }
    card.addContent(postRollRow);

    auto* box = new ProgramBox;
    box->setFixedSize(kContentWidth, kPictureHeight);
    if (auto layer = facade_.playback().programLayer()) {
        programView_ = new platform::LayerView(loop, box);
        programView_->onLayout = [this](platform::SizeF) { facade_.playback().layoutProgram(); };
        programView_->setRootLayer(std::move(layer));
        box->view = programView_;
        programView_->setGeometry(letterbox(box->size()));
    }
    pictureBox_ = box;
    card.addContent(box);

    timecodes_ = new PaintedRow([this](QPainter& painter, const QRectF& bounds) {
        paintFramedRow(painter, bounds);
        const QRectF inner = bounds.adjusted(8, 0, -8, 0);
        painter.setFont(ui::fonts::monospaced(14));
        painter.setPen(ui::palette::primaryLabel());
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, state_.position);
        const QFont small = ui::fonts::monospaced(13);
        const QFontMetricsF metrics(small);
        painter.setFont(small);
        double right = inner.right();
        const auto trailing = [&](const QString& text, const QColor& colour) {
            if (text.isEmpty()) {
                return;
            }
            const double width = metrics.horizontalAdvance(text);
            painter.setPen(colour);
            painter.drawText(QRectF(right - width, 0, width + 1, bounds.height()),
                             Qt::AlignLeft | Qt::AlignVCenter, text);
            right -= width + 6;
        };
        trailing(state_.outPoint, ui::palette::orange());
        trailing(state_.inPoint, ui::palette::green());
    });
    timecodes_->setFixedSize(kContentWidth, kTimecodeHeight);
    card.addContent(timecodes_);
}

void PlayerPanel::refresh() {
    state_ = playerPanelState(facade_);
    stop_->setEnabled(state_.stopEnabled);
    stop_->setLook(stopLook(state_.stopEnabled));
    for (std::size_t i = 0; i < postRolls_.size(); ++i) {
        postRolls_[i]->setLook(postRollLook(state_.postRoll == kPostRolls[i].mode));
    }
    header_->update();
    clipLine_->update();
    timecodes_->update();
}

void PlayerPanel::setPostRollMode(PostRollMode mode) {
    const auto loaded = loadedSlot(facade_);
    if (!loaded) {
        return;
    }
    const int bank = loaded->bank;
    const int slot = loaded->slot;
    if (!facade_.editSlot(bank, slot, [mode](SlotData& data) { data.postRollMode = mode; })) {
        return;
    }
    facade_.markUnsaved();
    if (mode == PostRollMode::jump) {
        facade_.isSettingJumpTarget() = true;
        facade_.jumpSourceBank() = bank;
        facade_.jumpSourceSlot() = slot;
    } else if (facade_.isSettingJumpTarget().get()) {
        facade_.isSettingJumpTarget() = false;
    }
    if (facade_.playback().isLooping()) {
        if (mode != PostRollMode::loop) {
            facade_.playback().releaseLoop(mode);
        }
        return;
    }
    if (mode == PostRollMode::loop && facade_.playback().isShowingPlayerStopped()) {
        facade_.playSlot(bank, slot);
    }
}

void PlayerPanel::pressStop() {
    if (facade_.isMIDILearnMode().get()) {
        facade_.armMIDILearn("stop");
        return;
    }
    facade_.playback().handlePostRoll(PostRollMode::black);
}

StyledButton* PlayerPanel::postRollButton(PostRollMode mode) const {
    return postRolls_[static_cast<std::size_t>(mode)];
}
QWidget* PlayerPanel::headerRow() const {
    return header_;
}
QWidget* PlayerPanel::clipLine() const {
    return clipLine_;
}
QWidget* PlayerPanel::timecodeRow() const {
    return timecodes_;
}

}  // namespace kestio::panels

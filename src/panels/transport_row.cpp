#include "panels/transport_row.h"

#include <QHBoxLayout>
#include <QPainter>

#include "panels/panel_facade.h"
#include "panels/panel_refresh.h"
#include "panels/styled_button.h"
#include "panels/timeline_bar.h"
#include "ui/palette.h"
#include "ui/panel_card.h"

namespace kestio::panels {

namespace {

struct ButtonFace {
    TransportImage image;
    double iconSize;
    int width;
    bool accent;
};

constexpr std::array<ButtonFace, 11> kButtons{{
    {TransportImage::toInPoint, 16, 38, false},
    {TransportImage::setIn, 16, 38, false},
    {TransportImage::clearIn, 16, 38, false},
    {TransportImage::backFrame, 16, 38, false},
    {TransportImage::play, 22, 76, true},
    {TransportImage::pause, 22, 76, true},
    {TransportImage::forwardFrame, 16, 38, false},
    {TransportImage::thumbnail, 16, 38, false},
    {TransportImage::clearOut, 16, 38, false},
    {TransportImage::setOut, 16, 38, false},
    {TransportImage::toOutPoint, 16, 38, false},
}};

StyledButton::Look buttonLook(const ButtonFace& face, bool enabled) {
    StyledButton::Look look;
    look.fill = face.accent ? QColor::fromRgbF(0.0f, 0.7f, 0.85f) : ui::palette::white(0.25);
    look.radius = 6;
    look.iconSize = face.iconSize;
    look.iconSpacing = 0;
    const TransportImage image = face.image;
    // A disabled button is drawn faded, as the platform draws a disabled plain button.
    const QColor ink = enabled ? QColor(Qt::white) : ui::palette::white(1.0, 0.35);
    look.textColor = ink;
    look.icon = [image](QPainter& painter, const QRectF& rect, const QColor& colour) {
        drawTransportImage(painter, rect, image, colour);
    };
    return look;
}

}  // namespace

TransportRow::TransportRow(PanelFacade& facade, ui::PanelCard& card,
                           std::function<void(int, int)> captureThumbnail)
    : QObject(&card), facade_(facade), captureThumbnail_(std::move(captureThumbnail)) {
    const int contentWidth = card.style().size.width() - 2 * card.style().padding;

    auto* timelineRow = new QWidget;
    timelineRow->setFixedSize(contentWidth, TimelineBar::kHeight);
    timeline_ = new TimelineBar(facade_, timelineRow);
    timeline_->setGeometry(kInset, 0, contentWidth - 2 * kInset, TimelineBar::kHeight);
    card.addContent(timelineRow);

    row_ = new QWidget;
    row_->setFixedSize(contentWidth, kRowHeight);
    auto* layout = new QHBoxLayout(row_);
    layout->setContentsMargins(kInset, 0, kInset, 0);
    layout->setSpacing(4);
    layout->addStretch(1);
    const std::array<std::function<void()>, 11> actions{
        [this] { seekToInPoint(); },         [this] { setInPoint(); },
        [this] { clearInPoint(); },          [this] { stepFrame(-1); },
        [this] { playPause("play", true); }, [this] { playPause("pause", false); },
        [this] { stepFrame(+1); },           [this] { takeThumbnail(); },
        [this] { clearOutPoint(); },         [this] { setOutPoint(); },
        [this] { seekToOutPoint(); },
    };
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        auto* button = new StyledButton;
        button->setFixedSize(kButtons[i].width, kButtonHeight);
        button->onClicked = actions[i];
        layout->addWidget(button, 0, Qt::AlignVCenter);
        buttons_[i] = button;
    }
    layout->addStretch(1);
    card.addContent(row_);

    refreshOnLoadedSlot(subscriptions_, facade_, [this] { refresh(); });
    refresh();
}

TransportRow::~TransportRow() = default;

StyledButton* TransportRow::button(TransportImage image) const {
    return buttons_[static_cast<std::size_t>(image)];
}

void TransportRow::refresh() {
    const auto loaded = loadedSlot(facade_);
    shown_ = loaded ? std::optional(std::pair(loaded->bank, loaded->slot)) : std::nullopt;
    const bool onAir = facade_.playback().onAirOrOnItsWay().has_value();
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        bool enabled = true;
        switch (kButtons[i].image) {
            case TransportImage::toInPoint:
            case TransportImage::toOutPoint:
                enabled = onAir;
                break;
            case TransportImage::setIn:
            case TransportImage::clearIn:
            case TransportImage::thumbnail:
            case TransportImage::clearOut:
            case TransportImage::setOut:
                enabled = shown_.has_value();
                break;
            default:
                break;
        }
        buttons_[i]->setEnabled(enabled);
        buttons_[i]->setLook(buttonLook(kButtons[i], enabled));
    }
}

void TransportRow::seekToInPoint() {
    if (const auto loaded = loadedSlot(facade_)) {
        facade_.playback().seek(loaded->data->inPoint.value_or(0.0));
    }
}

void TransportRow::seekToOutPoint() {
    if (const auto loaded = loadedSlot(facade_)) {
        // Without an out point: the clip's own end, not the timeline's one-second minimum.
        facade_.playback().seek(
            loaded->data->outPoint.value_or(facade_.playback().duration().get()));
    }
}

void TransportRow::writePoint(bool in, std::optional<double> value) {
    if (!shown_) {
        return;
    }
    const bool written = facade_.editSlot(shown_->first, shown_->second, [&](SlotData& slot) {
        (in ? slot.inPoint : slot.outPoint) = value;
    });
    if (written) {
        facade_.markUnsaved();
    }
}

void TransportRow::setInPoint() {
    writePoint(true, facade_.playback().shownTime());
}
void TransportRow::clearInPoint() {
    writePoint(true, std::nullopt);
}
void TransportRow::setOutPoint() {
    writePoint(false, facade_.playback().shownTime());
}
void TransportRow::clearOutPoint() {
    writePoint(false, std::nullopt);
}

void TransportRow::stepFrame(int direction) {
    facade_.playback().skip(direction, facade_.currentFrameRate());
}

void TransportRow::playPause(const std::string& key, bool play) {
    if (facade_.isMIDILearnMode().get()) {
        facade_.armMIDILearn(key);
        return;
    }
    if (play) {
        facade_.playback().resume();
    } else {
        facade_.playback().pause();
    }
}

void TransportRow::takeThumbnail() {
    if (shown_ && captureThumbnail_) {
        captureThumbnail_(shown_->first, shown_->second);
    }
}

}  // namespace kestio::panels

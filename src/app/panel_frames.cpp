#include "app/panel_frames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>

#include "app/design_canvas.h"
#include "show/show_controller.h"
#include "show/show_playback.h"
#include "show/slot_edits.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/panel_card.h"

namespace kestio::app {

using ui::PanelCard;
using ui::PanelCardStyle;

namespace {

// A plain card for a panel drawn by its own code later: the card grey, corners of radius 6.
PanelCardStyle placeholderStyle(CanvasPanel panel) {
    const auto& p = placement(panel);
    return {PanelCardStyle::Alignment::centre, 0, 0, 0.16,
            QSize(int(std::lround(p.width)), int(std::lround(p.height)))};
}

// The GEOMETRY card's title row: the fixed title, then room for the mode buttons.
QWidget* geometryTitleRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("GEOMETRY"));
    title->setFont(ui::fonts::system(13, QFont::DemiBold));
    QPalette colours = title->palette();
    colours.setColor(QPalette::WindowText, ui::palette::white(0.75));
    title->setPalette(colours);
    layout->addWidget(title);
    layout->addSpacing(8);
    layout->addStretch(1);
    row->setFixedWidth(397 - 2 * 8);
    return row;
}

}  // namespace

PanelFrames::PanelFrames(DesignCanvas& canvas, ShowController& show, ShowPlayback& playback)
    : show_(show), playback_(playback), canvas_(canvas) {
    canvas.place(CanvasPanel::projectToolbar, new PanelCard(PanelCardStyle::toolbar()));
    canvas.place(CanvasPanel::bankList, new PanelCard(PanelCardStyle::bankList()));

    auto* player = new PanelCard(PanelCardStyle::player());
    canvas.place(CanvasPanel::player, player);
    const int contentWidth = player->width() - 2 * player->style().padding;
    // The picture row is placed by hand: the rows above and below it belong to the player
    // panel's own content.
    pictureRow_ = new QWidget(player);
    pictureRow_->setGeometry(player->style().padding, kPictureTop, contentWidth, kPictureHeight);
    pictureRow_->show();

    canvas.place(CanvasPanel::clipSettingsPanel, new PanelCard(PanelCardStyle::clipSettings()));
    canvas.place(CanvasPanel::audio, new PanelCard(PanelCardStyle::audio()));
    for (const CanvasPanel own :
         {CanvasPanel::outputMonitor, CanvasPanel::utilityButtons, CanvasPanel::midiStatus}) {
        canvas.place(own, new PanelCard(placeholderStyle(own)));
    }

    auto* geometry = new PanelCard(PanelCardStyle::geometry());
    QWidget* titleRow = geometryTitleRow();
    geometryTitle_ = titleRow;
    geometry->addContent(titleRow);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setStyleSheet(QStringLiteral("background: transparent;"));
    geometryControls_ = new QWidget;
    scroll->setWidget(geometryControls_);
    geometryScroll_ = scroll;
    scroll->setFixedWidth(397 - 2 * 8);
    fitGeometryControls();
    geometry->addContent(scroll);
    canvas.place(CanvasPanel::geometry, geometry);

    canvas.place(CanvasPanel::eqColor, new PanelCard(PanelCardStyle::eqColor()));
}

void PanelFrames::fitGeometryControls() const {
    geometryScroll_->setFixedHeight(116 - 2 * 8 - 6 - geometryTitle_->sizeHint().height());
}

PanelCard* PanelFrames::card(CanvasPanel panel) const {
    return dynamic_cast<PanelCard*>(canvas_.panel(panel));
}

ui::LoadedSlot PanelFrames::loadedSlot() const {
    const auto onAir = playback_.onAirOrOnItsWay();
    return onAir ? ui::loadedSlot(onAir->bank, onAir->slot)
                 : ui::loadedSlot(std::nullopt, std::nullopt);
}

std::optional<GeometryMode> PanelFrames::geometryMode() const {
    const ui::LoadedSlot loaded = loadedSlot();
    if (!loaded.loaded || !addressesSlot(show_.project(), loaded.bank, loaded.slot)) {
        return std::nullopt;
    }
    return show_.project()
        .banks[std::size_t(loaded.bank)]
        .slots[std::size_t(loaded.slot)]
        .geometry.mode;
}

}  // namespace kestio::app

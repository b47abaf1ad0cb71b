#include "app/side_panels.h"

#include "app/bank_list.h"
#include "app/design_canvas.h"
#include "app/midi_status_panel.h"
#include "app/output_monitor_panel.h"
#include "app/panel_frames.h"
#include "app/project_toolbar.h"
#include "app/sound_output_status.h"
#include "app/utility_buttons.h"
#include "ui/panel_card.h"

namespace kestio::app {

namespace {

// The content box of a card: its size less the padding on every side.
QSize contentSize(const ui::PanelCard& card) {
    const int padding = card.style().padding;
    return card.style().size - QSize(2 * padding, 2 * padding);
}

QSize placeSize(CanvasPanel panel) {
    const QRectF rect = placement(panel).rect();
    return {qRound(rect.width()), qRound(rect.height())};
}

// Replaces the plain card at the panel's place with `widget`.
void replacePlace(DesignCanvas& canvas, CanvasPanel panel, QWidget* widget) {
    delete canvas.panel(panel);
    canvas.place(panel, widget);
}

}  // namespace

SidePanels::SidePanels(DesignCanvas& canvas, const PanelFrames& frames, Services s)
    : sound_(std::make_unique<SoundOutputStatus>(s.loop, s.soundOutput.connection)) {
    if (ui::PanelCard* card = frames.card(CanvasPanel::projectToolbar)) {
        card->addContent(new ProjectToolbar(s.show, std::move(s.recent), contentSize(*card)));
    }
    if (ui::PanelCard* card = frames.card(CanvasPanel::bankList)) {
        card->addContent(new BankList(s.show, contentSize(*card)));
    }
    replacePlace(canvas, CanvasPanel::outputMonitor,
                 new OutputMonitorPanel(s.monitor, s.program, s.show,
                                        placeSize(CanvasPanel::outputMonitor)));
    replacePlace(canvas, CanvasPanel::utilityButtons,
                 new UtilityButtons(s.show, s.signals, placeSize(CanvasPanel::utilityButtons)));
    replacePlace(
        canvas, CanvasPanel::midiStatus,
        new MIDIStatusPanel(s.midi, s.midiOut, placeSize(CanvasPanel::midiStatus), sound_.get()));
}

SidePanels::~SidePanels() = default;

}  // namespace kestio::app

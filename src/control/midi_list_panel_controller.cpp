#include "control/midi_list_panel_controller.h"

#include "platform/runloop/qt_run_loop.h"

namespace kestio {

namespace {
constexpr double kRefreshDelay = 0.05;
}

MIDIListPanelController::MIDIListPanelController(platform::RunLoop& loop)
    : loop_(loop), lifetime_(std::make_shared<MIDIListPanelController*>(this)) {}

MIDIListPanelController::~MIDIListPanelController() = default;

MIDIListPanelController& MIDIListPanelController::shared() {
    // Lives as long as the process; its panel goes with the application's windows.
    static auto* loop = new platform::QtRunLoop();
    static auto* controller = new MIDIListPanelController(*loop);
    return *controller;
}

void MIDIListPanelController::setPanel(std::unique_ptr<QWidget> panel) {
    panel_ = std::move(panel);
}

bool MIDIListPanelController::holdsSlot(int bank, int slot) const {
    if (!project_) {
        return false;
    }
    const ProjectData& project = project_();
    return bank >= 0 && static_cast<std::size_t>(bank) < project.banks.size() && slot >= 0 &&
           static_cast<std::size_t>(slot) <
               project.banks[static_cast<std::size_t>(bank)].slots.size();
}

void MIDIListPanelController::installOperations(Operations ops, ProjectReader project) {
    project_ = std::move(project);
    store_.onClearSlot = [this, op = std::move(ops.clearSlot)](int bank, int slot,
                                                               const MIDINoteBinding& binding) {
        if (op && holdsSlot(bank, slot)) {
            op(bank, slot, binding);
        }
        refreshSoon();
    };
    store_.onClearControl = [this, op = std::move(ops.clearControl)](const std::string& target) {
        if (op) {
            op(target);
        }
        refreshSoon();
    };
    store_.onEditOutput = [this, op = std::move(ops.editOutput)](int bank, int slot) {
        if (op && holdsSlot(bank, slot)) {
            op(bank, slot);
        }
        refreshSoon();
    };
    store_.onClearOutput = [this, op = std::move(ops.clearOutput)](int bank, int slot) {
        if (op && holdsSlot(bank, slot)) {
            op(bank, slot);
        }
        refreshSoon();
    };
    store_.onDedup = [this, op = std::move(ops.dedup)] {
        if (op) {
            op();
        }
        refreshSoon();
    };
}

void MIDIListPanelController::refreshSoon() {
    std::weak_ptr<MIDIListPanelController*> weak = lifetime_;
    loop_
        .after(kRefreshDelay,
               [weak] {
                   auto self = weak.lock();
                   if (self && (*self)->project_) {
                       (*self)->store_.update((*self)->project_());
                   }
               })
        .detach();
}

}  // namespace kestio

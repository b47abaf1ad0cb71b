#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "control/midi_list_store.h"
#include "platform/runloop/run_loop.h"

namespace kestio {

// Owns the list store of the "MIDI Assignments" panel for the life of the application, and
// the panel window while one is shown. The show controller hands it the five operations of
// the panel's buttons with a way to read its project; each button press runs its operation
// at once and rebuilds the list from the project 0.05 s later. Main thread only.
class MIDIListPanelController {
  public:
    struct Operations {
        std::function<void(int bank, int slot, const MIDINoteBinding& binding)> clearSlot;
        std::function<void(const std::string& target)> clearControl;
        std::function<void(int bank, int slot)> editOutput;
        std::function<void(int bank, int slot)> clearOutput;
        std::function<void()> dedup;
    };
    // Reads the show controller's current project (not a copy taken earlier).
    using ProjectReader = std::function<const ProjectData&()>;

    explicit MIDIListPanelController(platform::RunLoop& loop);
    ~MIDIListPanelController();
    MIDIListPanelController(const MIDIListPanelController&) = delete;
    MIDIListPanelController& operator=(const MIDIListPanelController&) = delete;

    // The application's controller, made on first use.
    static MIDIListPanelController& shared();

    MIDIListStore& store() { return store_; }

    // The panel window last shown (none before the first showing); replacing it releases the
    // previous one.
    QWidget* panel() const { return panel_.get(); }
    void setPanel(std::unique_ptr<QWidget> panel);
    bool isPanelVisible() const { return panel_ && panel_->isVisible(); }

    // Installs the store's five callbacks around the given operations, replacing the earlier
    // ones. A row that names a bank or slot the project does not have (the list can be stale
    // after another project was opened) is not acted on; the list is rebuilt all the same.
    void installOperations(Operations operations, ProjectReader project);

  private:
    void refreshSoon();
    bool holdsSlot(int bank, int slot) const;

    platform::RunLoop& loop_;
    MIDIListStore store_;
    std::unique_ptr<QWidget> panel_;
    ProjectReader project_;
    std::shared_ptr<MIDIListPanelController*> lifetime_;
};

}  // namespace kestio

#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {
class ShowController;
namespace platform {
class DialogPresenter;
}
}  // namespace kestio

namespace kestio::app {

// The main window's questions, presented from the show state: "No Project", the bank-clear and
// clip-delete confirmations, the file importer, the "Import" alert, "Playback in Progress",
// "Stop external monitor output?" and "Run warm-up?".
//
// A change of any of their states asks for a look on a later turn of the run loop; the look
// presents the first dialog whose state is set, in that order, and only one at a time: another
// look follows each answer. A dialog that is dismissed without a button press (Escape) counts
// as its cancel button, and the OK-only "Import" alert as its OK.
//
// Files chosen in the file importer while the show has no package yet wait for it: the "No
// Project" alert is raised for them, and once "Create with File Save" has saved the show they
// are imported as chosen; cancelling the alert or the save drops them. Main thread only.
class DialogHost {
  public:
    // Clears one bank: its name back to "BANK <n>", every slot's thumbnail file removed and the
    // slot reset to its default named by its show-wide number; marks the project unsaved. Out
    // of range does nothing. What plays, the MIDI control assignments, the cursor and the bank
    // shown stay as they are.
    static void clearBank(ShowController& show, int bank);

    // The extensions the file importer offers: every video, still and sound type of the project.
    static std::vector<std::string> importableExtensions();

    // `stopMonitor` closes the output window on the second display.
    DialogHost(platform::RunLoop& loop, ShowController& show, platform::DialogPresenter& dialogs,
               std::function<void()> stopMonitor);
    ~DialogHost();
    DialogHost(const DialogHost&) = delete;
    DialogHost& operator=(const DialogHost&) = delete;

    // True while a dialog is open.
    bool isPresenting() const { return presenting_; }

  private:
    struct PendingImport {
        std::vector<std::filesystem::path> urls;
        int bank = 0;
        int slot = 0;
    };

    void scheduleLook();
    void look();
    // Presents the first pending dialog; false when none is pending.
    bool presentNext();

    platform::RunLoop& loop_;
    ShowController& show_;
    platform::DialogPresenter& dialogs_;
    std::function<void()> stopMonitor_;
    std::optional<PendingImport> pendingImport_;
    bool presenting_ = false;
    bool lookScheduled_ = false;
    std::vector<platform::Subscription> subscriptions_;
    std::shared_ptr<DialogHost*> lifetime_ = std::make_shared<DialogHost*>(this);
};

}  // namespace kestio::app

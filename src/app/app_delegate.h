#pragma once

#include <functional>

namespace kestio::platform {
class DialogPresenter;
class NotificationCenter;
}  // namespace kestio::platform

namespace kestio::app {

// Names of the application's notifications.
inline constexpr const char* kOpenProjectURLNotification = "openProjectURL";
inline constexpr const char* kRequestReWarmUpNotification = "requestReWarmUp";
inline constexpr const char* kSaveProjectNotification = "saveProject";
inline constexpr const char* kOpenProjectNotification = "openProject";

// The object "saveProject" may carry: told whether the save went through, exactly once.
struct SaveCompletion {
    std::function<void(bool saved)> done;
};

// Answers the application's quit requests. With no open project it quits at once; otherwise
// it asks "Quit?" with "Save and Quit" (the default), "Don't Save" and "Cancel". "Save and
// Quit" posts "saveProject" carrying a SaveCompletion and quits only once the save has gone
// through: a failed save (its alert shown) or a cancelled save panel keeps the application
// running with its project as it was. Main thread only.
class AppDelegate {
  public:
    enum class Reply { terminateNow, terminateCancel };

    AppDelegate(platform::DialogPresenter& dialogs, platform::NotificationCenter& notifications);

    // True while the main window has a project location or unsaved changes.
    bool hasOpenProject = false;

    // Answers one quit request through `reply`, at once or after the save; exactly once.
    void confirmQuit(std::function<void(Reply)> reply);

  private:
    platform::DialogPresenter& dialogs_;
    platform::NotificationCenter& notifications_;
};

}  // namespace kestio::app

#pragma once

#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "control/key_binding_store.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace kestio {

// The key-binding editor: one row per play-control action with its effective key. Clicking a
// key display records the next key press for that action: Esc cancels, Backspace or Delete
// sets "Not Assigned", any other key is offered to the store, whose refusal is shown under the
// rows. While recording, every key press is taken from the rest of the application (lone
// modifier keys are waited through). "Reset to Defaults" brings back the built-in keys.
class KeyBindingSettingsView : public QWidget {
  public:
    KeyBindingSettingsView(KeyBindingStore& store, platform::RunLoop& loop,
                           QWidget* parent = nullptr);
    ~KeyBindingSettingsView() override;

    std::optional<PlayControlAction> recordingAction() const { return recordingAction_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }

    void startRecording(PlayControlAction action);
    void stopRecording();

    // The text of an action's key display.
    QString keyDisplayText(PlayControlAction action) const;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    class KeyCapture;

    void capture(PlayControlAction action, const QKeyEvent& event);
    void refresh();
    void later(std::function<void()> step);

    KeyBindingStore& store_;
    platform::RunLoop& loop_;
    std::optional<PlayControlAction> recordingAction_;
    std::optional<std::string> errorMessage_;
    std::unique_ptr<KeyCapture> keyMonitor_;

    QLabel* help_ = nullptr;
    std::map<PlayControlAction, QLabel*> titles_;
    std::map<PlayControlAction, QPushButton*> keyButtons_;
    std::map<PlayControlAction, QToolButton*> clearButtons_;
    QLabel* error_ = nullptr;
    QPushButton* reset_ = nullptr;
    std::vector<platform::Subscription> subscriptions_;
    std::shared_ptr<KeyBindingSettingsView*> lifetime_;
};

}  // namespace kestio

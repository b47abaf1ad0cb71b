#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/dialog_presenter.h"

namespace kestio::test {

// Answers the dialogs from a script and records every call with its texts. Each kind of
// dialog has its own queue of answers; a dialog with no answer queued is cancelled (an alert
// answers -1). `duringModal` runs inside each modal call before it answers, as a nested
// event loop would run other work while a dialog is open.
class ScriptedDialogPresenter final : public platform::DialogPresenter {
  public:
    struct Call {
        std::string kind;  // "alert", "promptText", "promptMIDINote", "savePackage", ...
        AlertStyle style = AlertStyle::informational;
        std::vector<std::string> texts;  // the texts of the call, in parameter order
        std::vector<std::string> buttons;
        std::vector<ButtonRole> roles;  // of the alert's buttons, in order
    };

    std::deque<int> alertAnswers;
    std::deque<std::optional<std::string>> textAnswers;
    std::deque<std::optional<std::pair<std::string, std::string>>> midiNoteAnswers;
    std::deque<std::optional<std::filesystem::path>> pathAnswers;  // save, open and folder panels
    std::deque<std::vector<std::filesystem::path>> filesAnswers;   // file-choosing panels
    std::function<void()> duringModal;

    std::vector<Call> calls;
    int helpPanelToggles = 0;
    bool helpPanelVisible = false;

    int alert(AlertStyle style, const std::string& message, const std::string& informative,
              const std::vector<AlertButton>& buttons) override;
    std::optional<std::string> promptText(const std::string& message,
                                          const std::string& initialText,
                                          const std::string& okTitle,
                                          const std::string& cancelTitle) override;
    std::optional<std::pair<std::string, std::string>> promptMIDINote(
        const MIDINotePrompt& prompt, const std::string& okTitle,
        const std::string& cancelTitle) override;
    std::optional<std::filesystem::path> savePackage(const std::string& title,
                                                     const std::string& proposedName,
                                                     const std::string& prompt,
                                                     const std::string& extension) override;
    std::optional<std::filesystem::path> openPackage(const std::string& title,
                                                     const std::string& prompt,
                                                     const std::string& message,
                                                     const std::string& extension) override;
    std::vector<std::filesystem::path> openFiles(
        const std::string& title, const std::string& filterName,
        const std::vector<std::string>& extensions) override;
    std::optional<std::filesystem::path> openFolder(const std::string& title,
                                                    const std::string& prompt,
                                                    const std::string& message) override;
    void toggleHelpPanel(const std::string& title, const std::string& text) override;

    // The calls of one kind, in order.
    std::vector<Call> callsOf(const std::string& kind) const;
    // The last call of one kind; throws (failing the test there) when there was none, so that a
    // check that a dialog showed does not go on to read one that never did.
    Call lastOf(const std::string& kind) const;

  private:
    void modal();
    std::optional<std::filesystem::path> nextPath();
};

}  // namespace kestio::test

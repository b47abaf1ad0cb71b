#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestio::platform {

// The modal dialogs, alerts and file panels of the main window, and its help panel. Every
// call but toggleHelpPanel() is modal: it returns only once the operator has answered. A modal
// call runs a nested event loop, so timers, MIDI and finished background work are handled
// while it is open: a caller must not keep references into data that such work may change
// across a call. Main thread only.
class DialogPresenter {
  public:
    enum class AlertStyle { informational, warning, critical };

    // What a button of an alert does to the answer's keys. Return presses the default button:
    // the first button of no role, else the cancel button; a destructive button is never the
    // default. Escape presses the cancel button.
    enum class ButtonRole { none, destructive, cancel };

    struct AlertButton {
        AlertButton(std::string title, ButtonRole role = ButtonRole::none)
            : title(std::move(title)), role(role) {}
        AlertButton(const char* title, ButtonRole role = ButtonRole::none)
            : title(title), role(role) {}

        std::string title;
        ButtonRole role;
    };

    // Texts of the dialog that asks for a MIDI channel and note.
    struct MIDINotePrompt {
        std::string message;
        std::string informative;
        std::string channelLabel;
        std::string noteLabel;
        std::string channelText;  // initial text of the channel field (focused)
        std::string noteText;     // initial text of the note field
    };

    virtual ~DialogPresenter() = default;

    // Shows an alert with the buttons in order (none given means one "OK"); their roles choose
    // the default and the escape button (see ButtonRole). Without a cancel button, Escape
    // presses the only button that is not the default, when there is exactly one. Returns the
    // index of the button pressed; -1 when it was dismissed otherwise.
    virtual int alert(AlertStyle style, const std::string& message, const std::string& informative,
                      const std::vector<AlertButton>& buttons) = 0;

    // Asks for one line of text (field focused, OK first, then Cancel). None on Cancel.
    virtual std::optional<std::string> promptText(const std::string& message,
                                                  const std::string& initialText,
                                                  const std::string& okTitle,
                                                  const std::string& cancelTitle) = 0;

    // Asks for a channel and a note as texts, as typed. None on Cancel.
    virtual std::optional<std::pair<std::string, std::string>> promptMIDINote(
        const MIDINotePrompt& prompt, const std::string& okTitle,
        const std::string& cancelTitle) = 0;

    // A save panel for a package (a folder whose name ends in `extension`); may create
    // folders. Returns the chosen path as given by the operator (no extension added). None
    // when cancelled.
    virtual std::optional<std::filesystem::path> savePackage(const std::string& title,
                                                             const std::string& proposedName,
                                                             const std::string& prompt,
                                                             const std::string& extension) = 0;

    // An open panel choosing one item: a package (a folder whose name ends in `extension`,
    // picked as one item) or a file. None when cancelled.
    virtual std::optional<std::filesystem::path> openPackage(const std::string& title,
                                                             const std::string& prompt,
                                                             const std::string& message,
                                                             const std::string& extension) = 0;

    // An open panel choosing any number of existing files whose extension (in any letter case)
    // is one of `extensions` (without dots). Empty when cancelled.
    virtual std::vector<std::filesystem::path> openFiles(
        const std::string& title, const std::string& filterName,
        const std::vector<std::string>& extensions) = 0;

    // An open panel choosing one folder. None when cancelled.
    virtual std::optional<std::filesystem::path> openFolder(const std::string& title,
                                                            const std::string& prompt,
                                                            const std::string& message) = 0;

    // Shows the floating help panel with the text, made on the first call; later calls hide a
    // visible panel and show a hidden one (its text stays as first given). Not modal.
    virtual void toggleHelpPanel(const std::string& title, const std::string& text) = 0;
};

}  // namespace kestio::platform

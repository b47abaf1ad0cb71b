#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/ui/dialog_presenter.h"

namespace kestio::platform {

// The dialogs of the main window as Qt widgets: message boxes, small input dialogs and
// non-native file dialogs that can pick a package folder as one item.
class QtDialogPresenter final : public DialogPresenter {
  public:
    // Dialogs are centred on `parent` when one is given (it may go away at any time), or on the
    // floating panel they are opened from.
    explicit QtDialogPresenter(QWidget* parent = nullptr);
    ~QtDialogPresenter() override;

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

    // The help panel once made (for tests).
    QWidget* helpPanel() const { return helpPanel_.get(); }

  private:
    // The window a dialog opened now belongs to: the floating panel it is asked for from, else
    // the main window.
    QWidget* dialogParent() const;

    QPointer<QWidget> parent_;
    std::unique_ptr<QWidget> helpPanel_;
};

}  // namespace kestio::platform

#include "platform/ui/qt_dialog_presenter.h"

namespace kestio::platform {

QtDialogPresenter::QtDialogPresenter(QWidget* parent) : parent_(parent) {}
QtDialogPresenter::~QtDialogPresenter() = default;

// TODO: the widgets.
int QtDialogPresenter::alert(AlertStyle, const std::string&, const std::string&,
                             const std::vector<std::string>&) {
    return -1;
}
std::optional<std::string> QtDialogPresenter::promptText(const std::string&, const std::string&,
                                                         const std::string&, const std::string&) {
    return std::nullopt;
}
std::optional<std::pair<std::string, std::string>> QtDialogPresenter::promptMIDINote(
    const MIDINotePrompt&, const std::string&, const std::string&) {
    return std::nullopt;
}
std::optional<std::filesystem::path> QtDialogPresenter::savePackage(const std::string&,
                                                                    const std::string&,
                                                                    const std::string&,
                                                                    const std::string&) {
    return std::nullopt;
}
std::optional<std::filesystem::path> QtDialogPresenter::openPackage(const std::string&,
                                                                    const std::string&,
                                                                    const std::string&,
                                                                    const std::string&) {
    return std::nullopt;
}
std::optional<std::filesystem::path> QtDialogPresenter::openFolder(const std::string&,
                                                                   const std::string&,
                                                                   const std::string&) {
    return std::nullopt;
}
void QtDialogPresenter::toggleHelpPanel(const std::string&, const std::string&) {}

}  // namespace kestio::platform

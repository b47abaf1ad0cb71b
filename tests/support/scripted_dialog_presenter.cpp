#include "support/scripted_dialog_presenter.h"

#include <stdexcept>

namespace kestio::test {

namespace {

template <typename T>
T takeOr(std::deque<T>& queue, T fallback) {
    if (queue.empty()) {
        return fallback;
    }
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}

}  // namespace

void ScriptedDialogPresenter::modal() {
    if (duringModal) {
        duringModal();
    }
}

std::optional<std::filesystem::path> ScriptedDialogPresenter::nextPath() {
    modal();
    return takeOr<std::optional<std::filesystem::path>>(pathAnswers, std::nullopt);
}

int ScriptedDialogPresenter::alert(AlertStyle style, const std::string& message,
                                   const std::string& informative,
                                   const std::vector<AlertButton>& buttons) {
    Call call{"alert", style, {message, informative}, {}, {}};
    for (const AlertButton& button : buttons) {
        call.buttons.push_back(button.title);
        call.roles.push_back(button.role);
    }
    calls.push_back(std::move(call));
    modal();
    return takeOr(alertAnswers, -1);
}

std::optional<std::string> ScriptedDialogPresenter::promptText(const std::string& message,
                                                               const std::string& initialText,
                                                               const std::string& okTitle,
                                                               const std::string& cancelTitle) {
    calls.push_back({"promptText",
                     AlertStyle::informational,
                     {message, initialText},
                     {okTitle, cancelTitle},
                     {}});
    modal();
    return takeOr<std::optional<std::string>>(textAnswers, std::nullopt);
}

std::optional<std::pair<std::string, std::string>> ScriptedDialogPresenter::promptMIDINote(
    const MIDINotePrompt& prompt, const std::string& okTitle, const std::string& cancelTitle) {
    calls.push_back({"promptMIDINote",
                     AlertStyle::informational,
                     {prompt.message, prompt.informative, prompt.channelLabel, prompt.noteLabel,
                      prompt.channelText, prompt.noteText},
                     {okTitle, cancelTitle},
                     {}});
    modal();
    return takeOr<std::optional<std::pair<std::string, std::string>>>(midiNoteAnswers,
                                                                      std::nullopt);
}

std::optional<std::filesystem::path> ScriptedDialogPresenter::savePackage(
    const std::string& title, const std::string& proposedName, const std::string& prompt,
    const std::string& extension) {
    calls.push_back({"savePackage",
                     AlertStyle::informational,
                     {title, proposedName, prompt, extension},
                     {},
                     {}});
    return nextPath();
}

std::optional<std::filesystem::path> ScriptedDialogPresenter::openPackage(
    const std::string& title, const std::string& prompt, const std::string& message,
    const std::string& extension) {
    calls.push_back(
        {"openPackage", AlertStyle::informational, {title, prompt, message, extension}, {}, {}});
    return nextPath();
}

std::vector<std::filesystem::path> ScriptedDialogPresenter::openFiles(
    const std::string& title, const std::string& filterName,
    const std::vector<std::string>& extensions) {
    std::vector<std::string> texts{title, filterName};
    texts.insert(texts.end(), extensions.begin(), extensions.end());
    calls.push_back({"openFiles", AlertStyle::informational, std::move(texts), {}, {}});
    modal();
    return takeOr<std::vector<std::filesystem::path>>(filesAnswers, {});
}

std::optional<std::filesystem::path> ScriptedDialogPresenter::openFolder(
    const std::string& title, const std::string& prompt, const std::string& message) {
    calls.push_back({"openFolder", AlertStyle::informational, {title, prompt, message}, {}, {}});
    return nextPath();
}

void ScriptedDialogPresenter::toggleHelpPanel(const std::string& title, const std::string& text) {
    calls.push_back({"toggleHelpPanel", AlertStyle::informational, {title, text}, {}, {}});
    ++helpPanelToggles;
    helpPanelVisible = !helpPanelVisible;
}

std::vector<ScriptedDialogPresenter::Call> ScriptedDialogPresenter::callsOf(
    const std::string& kind) const {
    std::vector<Call> out;
    for (const auto& call : calls) {
        if (call.kind == kind) {
            out.push_back(call);
        }
    }
    return out;
}

ScriptedDialogPresenter::Call ScriptedDialogPresenter::lastOf(const std::string& kind) const {
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->kind == kind) {
            return *call;
        }
    }
    throw std::logic_error("no " + kind + " was shown");
}

}  // namespace kestio::test

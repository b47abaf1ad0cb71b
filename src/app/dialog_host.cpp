#include "app/dialog_host.h"

#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "platform/ui/dialog_presenter.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_import.h"
#include "show/slot_edits.h"

namespace kestio::app {

using platform::DialogPresenter;

namespace {

// Empties an optional state. GCC 12 with the sanitizers wrongly takes the payload of the empty
// optional handed to the published value for read before it is written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
template <class T>
void clear(platform::Published<std::optional<T>>& state) {
    state = std::nullopt;
}
#pragma GCC diagnostic pop

}  // namespace

void DialogHost::clearBank(ShowController& show, int bank) {
    if (!addressesBank(show.project(), bank)) {
        return;
    }
    show.editProject(
        [bank](ProjectData& project) {
            auto& target = project.banks[std::size_t(bank)];
            target.name = "BANK " + std::to_string(bank + 1);
            for (std::size_t s = 0; s < target.slots.size(); ++s) {
                clearSlot(project, bank, int(s));
            }
        },
        /*marksUnsaved=*/true);
}

std::vector<std::string> DialogHost::importableExtensions() {
    std::vector<std::string> extensions;
    for (const auto& list :
         {std::vector<std::string_view>(ProjectManager::videoExtensions.begin(),
                                        ProjectManager::videoExtensions.end()),
          std::vector<std::string_view>(ProjectManager::imageExtensions.begin(),
                                        ProjectManager::imageExtensions.end()),
          std::vector<std::string_view>(ProjectManager::audioExtensions.begin(),
                                        ProjectManager::audioExtensions.end())}) {
        for (const auto extension : list) {
            extensions.emplace_back(extension);
        }
    }
    return extensions;
}

DialogHost::DialogHost(platform::RunLoop& loop, ShowController& show, DialogPresenter& dialogs,
                       std::function<void()> stopMonitor)
    : loop_(loop), show_(show), dialogs_(dialogs), stopMonitor_(std::move(stopMonitor)) {
    auto watch = [this](auto& published) {
        subscriptions_.push_back(published.subscribe([this](const auto&) { scheduleLook(); }));
    };
    watch(show_.showNoProjectAlert);
    watch(show_.confirmClearBank);
    watch(show_.confirmUnassignBank);
    watch(show_.showingFileImporter);
    watch(show_.importAlert);
    watch(show_.confirmImportWhilePlaying);
    watch(show_.confirmStopMonitor);
    watch(show_.confirmReWarmUp);
    scheduleLook();
}

DialogHost::~DialogHost() = default;

void DialogHost::scheduleLook() {
    if (lookScheduled_ || presenting_) {
        return;
    }
    lookScheduled_ = true;
    loop_.post([weak = std::weak_ptr<DialogHost*>(lifetime_)] {
        if (auto self = weak.lock()) {
            (*self)->look();
        }
    });
}

void DialogHost::look() {
    lookScheduled_ = false;
    if (presenting_) {
        return;
    }
    presenting_ = true;
    const bool presented = presentNext();
    presenting_ = false;
    if (presented) {
        // Another question may have been raised meanwhile, or was waiting behind this one.
        scheduleLook();
    }
}

bool DialogHost::presentNext() {
    using Role = DialogPresenter::ButtonRole;
    const DialogPresenter::AlertButton cancel(L("キャンセル", "Cancel"), Role::cancel);
    const auto warning = DialogPresenter::AlertStyle::warning;

    if (show_.showNoProjectAlert.get()) {
        const int answer = dialogs_.alert(
            warning, L("プロジェクト未作成", "No Project"),
            L("ファイルを読み込む前に「File Save」でプロジェクトを保存してください。\n"
              "サムネイルの保存先フォルダが作成されます。",
              "Please save the project with \"File Save\" before loading files.\n"
              "This creates the folder used to store thumbnails."),
            {L("File Save で作成", "Create with File Save"), cancel});
        show_.showNoProjectAlert = false;
        std::optional<PendingImport> pending = std::move(pendingImport_);
        pendingImport_.reset();
        if (answer == 0 && pending) {
            show_.projectIO().saveProject([weak = std::weak_ptr<DialogHost*>(lifetime_),
                                           pending = std::move(*pending)](bool saved) {
                if (auto self = weak.lock(); self && saved) {
                    (*self)->show_.showImport().handleDrop(pending.urls, pending.bank,
                                                           pending.slot);
                }
            });
        } else if (answer == 0) {
            show_.projectIO().saveProject();
        }
        return true;
    }
    if (const auto bank = show_.confirmClearBank.get()) {
        const int answer = dialogs_.alert(
            warning,
            L("このBANKの内容をすべてクリアしますか？", "Clear all contents of this BANK?"), "",
            {{L("クリア", "Clear"), Role::destructive}, cancel});
        if (answer == 0) {
            clearBank(show_, *bank);
        }
        clear(show_.confirmClearBank);
        return true;
    }
    if (show_.confirmUnassignBank.get()) {
        const int answer =
            dialogs_.alert(warning, L("このクリップを削除しますか？", "Delete this clip?"), "",
                           {{L("削除", "Delete"), Role::destructive}, cancel});
        // Read after the answer: the states may have changed while the dialog was open.
        const auto bank = show_.confirmUnassignBank.get();
        const auto slot = show_.confirmUnassignSlot.get();
        if (answer == 0 && bank && slot) {
            show_.deleteClip(*bank, *slot);
        }
        clear(show_.confirmUnassignBank);
        clear(show_.confirmUnassignSlot);
        return true;
    }
    if (show_.showingFileImporter.get()) {
        const auto urls =
            dialogs_.openFiles(L("ファイルを読み込む", "Import Files"),
                               L("メディアファイル", "Media Files"), importableExtensions());
        show_.showingFileImporter = false;
        if (!urls.empty()) {
            const int bank = show_.assignBank.get().value_or(show_.currentBank.get());
            const int slot = show_.assignSlot.get().value_or(0);
            if (show_.currentProjectURL.get()) {
                show_.showImport().handleDrop(urls, bank, slot);
            } else {
                pendingImport_ = PendingImport{urls, bank, slot};
                show_.showNoProjectAlert = true;
            }
        }
        return true;
    }
    if (const auto text = show_.importAlert.get()) {
        dialogs_.alert(DialogPresenter::AlertStyle::informational, L("インポート", "Import"), *text,
                       {"OK"});
        show_.showImport().importAlertShown(*text);
        return true;
    }
    if (show_.confirmImportWhilePlaying.get()) {
        const int answer = dialogs_.alert(
            warning, L("再生中です", "Playback in Progress"),
            L("再生中にファイルを取り込むと影響が出る場合があります。\n取り込みますか？",
              "Importing a file while something is playing may cause issues.\nImport anyway?"),
            {{L("取り込む", "Import"), Role::destructive}, cancel});
        auto action = show_.confirmImportWhilePlaying.get();
        show_.confirmImportWhilePlaying = std::function<void()>{};
        if (answer == 0 && action) {
            action();
        }
        return true;
    }
    if (show_.confirmStopMonitor.get()) {
        const int answer = dialogs_.alert(
            warning, L("外部モニター出力を停止しますか？", "Stop external monitor output?"), "",
            {{L("停止", "Stop"), Role::destructive}, cancel});
        show_.confirmStopMonitor = false;
        if (answer == 0 && stopMonitor_) {
            stopMonitor_();
        }
        return true;
    }
    if (show_.confirmReWarmUp.get()) {
        const int answer = dialogs_.alert(
            DialogPresenter::AlertStyle::informational,
            L("ウォームアップを実行しますか？", "Run warm-up?"),
            L("全スロットのデコーダを起動します。\n再生中のクリップは停止します。",
              "This will start the decoder for every slot.\nAny clip currently playing will be "
              "stopped."),
            {L("実行", "Run"), cancel});
        show_.confirmReWarmUp = false;
        if (answer == 0) {
            show_.startWarmUp(show_.project());
        }
        return true;
    }
    return false;
}

}  // namespace kestio::app

#include "app/app_delegate.h"

#include <memory>

#include "model/localization_manager.h"
#include "platform/storage/notification_center.h"
#include "platform/ui/dialog_presenter.h"

namespace kestio::app {

using platform::DialogPresenter;

AppDelegate::AppDelegate(DialogPresenter& dialogs, platform::NotificationCenter& notifications)
    : dialogs_(dialogs), notifications_(notifications) {}

void AppDelegate::confirmQuit(std::function<void(Reply)> reply) {
    if (!hasOpenProject) {
        reply(Reply::terminateNow);
        return;
    }
    const int answer =
        dialogs_.alert(DialogPresenter::AlertStyle::warning, L("終了しますか？", "Quit?"),
                       L("プロジェクトを保存してから終了しますか？",
                         "Do you want to save the project before quitting?"),
                       {L("保存して終了", "Save and Quit"),
                        {L("保存せず終了", "Don't Save"), DialogPresenter::ButtonRole::destructive},
                        {L("キャンセル", "Cancel"), DialogPresenter::ButtonRole::cancel}});
    switch (answer) {
        case 0: {
            // The save may finish later (its writing runs off the main thread); the reply waits
            // for it. Nobody listening counts as a save that did not happen.
            auto answered = std::make_shared<bool>(false);
            auto shared = std::make_shared<std::function<void(Reply)>>(std::move(reply));
            notifications_.post(kSaveProjectNotification,
                                SaveCompletion{[answered, shared](bool saved) {
                                    if (*answered) {
                                        return;
                                    }
                                    *answered = true;
                                    (*shared)(saved ? Reply::terminateNow : Reply::terminateCancel);
                                }});
            if (notifications_.observerCount(kSaveProjectNotification) == 0 && !*answered) {
                *answered = true;
                (*shared)(Reply::terminateCancel);
            }
            return;
        }
        case 1:
            reply(Reply::terminateNow);
            return;
        default:
            reply(Reply::terminateCancel);
            return;
    }
}

}  // namespace kestio::app

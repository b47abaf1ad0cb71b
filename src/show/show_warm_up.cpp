#include "show/show_warm_up.h"

#include <string>
#include <utility>

#include "model/localization_manager.h"
#include "platform/ui/dialog_presenter.h"
#include "show/hidden_plays.h"
#include "show/loading_count.h"
#include "show/show_playback.h"
#include "show/show_project.h"
#include "show/slot_display_name.h"
#include "show/warm_up_list.h"

namespace kestio {

using platform::DialogPresenter;

struct ShowWarmUp::Session {
    std::vector<std::pair<int, int>> list;
    std::size_t index = 0;  // the entry being warmed
    // Ends the run's turn among the hidden plays (empty until its turn has come).
    HiddenPlays::Done done;
    std::uint64_t generation = 0;  // of the project the list was taken from
    bool ended = false;

    int total() const { return static_cast<int>(list.size()); }
};

void ShowWarmUp::step(const std::shared_ptr<Session>& session) {
    while (!session->ended) {
        if (session->generation != show_.project.generation() ||
            session->index >= session->list.size()) {
            // Done, or the project the list belongs to was replaced: its indices mean nothing
            // in the new one.
            end(session);
            return;
        }
        const auto [bank, slot] = session->list[session->index];
        const SlotData* data = show_.project.slotAt(bank, slot);
        if (data == nullptr) {
            finishEntry(session);
            continue;
        }
        if (!data->isFileMissing) {
            actions_.playSlot(bank, slot);
            const std::weak_ptr<Session> weak = session;
            const std::weak_ptr<ShowWarmUp*> alive = alive_;
            // The next entry starts on a later turn of the run loop, also when the answer
            // comes at once, so that a long list never deepens the stack.
            show_.playback.waitForWarmReady(kDisplayTimeout, [this, weak, alive](bool) {
                if (!alive.lock()) {
                    return;
                }
                show_.loop.post([this, weak, alive] {
                    const auto running = weak.lock();
                    if (!alive.lock() || !running || running->ended) {
                        return;
                    }
                    finishEntry(running);
                    step(running);
                });
            });
            return;
        }
        const WarmUpMissingChoice choice = askMissingFile(bank, slot);
        if (session->ended) {
            return;  // ended while the alert was open
        }
        switch (choice) {
            case WarmUpMissingChoice::searchFolder: {
                // The same entry again afterwards: a relinked slot is then played, one still
                // missing asks again.
                const std::weak_ptr<Session> weak = session;
                actions_.relinkFromFolder([this, weak] {
                    if (const auto running = weak.lock(); running && !running->ended) {
                        step(running);
                    }
                });
                return;
            }
            case WarmUpMissingChoice::skip:
                finishEntry(session);
                continue;
            case WarmUpMissingChoice::cancel:
                end(session);
                return;
        }
    }
}

void ShowWarmUp::finishEntry(const std::shared_ptr<Session>& session) {
    ++session->index;
    show_.playback.warmDone() = static_cast<int>(session->index);
}

void ShowWarmUp::end(const std::shared_ptr<Session>& session) {
    session->ended = true;
    if (running_ == session) {
        running_.reset();
    }
    // The output goes black and the playback controller lets go of the last warmed clip, so
    // that none of its timers fires a post-roll after the run.
    if (const auto done = std::exchange(session->done, nullptr)) {
        ShowPlayback& playback = show_.playback;
        done([&playback] {
            playback.clearSurface();
            playback.handlePostRoll(PostRollMode::black);
        });
    }
    show_.playback.warmDone() = 0;
    show_.playback.warmTotal() = 0;
    // A run that stopped short (cancelled, or its project replaced or closed) says how far it
    // got and nothing of completion.
    if (session->index >= session->list.size()) {
        show_.playback.log("ウォームアップ完了 (" + std::to_string(session->total()) + "件)");
    } else {
        show_.playback.log("ウォームアップ中止（" + std::to_string(session->index) + "/" +
                           std::to_string(session->total()) + "件処理済み）");
    }
    loading_.end();
    // The unsaved mark is left as it is: warming changes nothing in the project.
}

void ShowWarmUp::startWarmUp(const ProjectData& project) {
    auto list = warmUpList(project);
    if (list.empty()) {
        return;
    }
    if (running_) {
        if (running_->generation == show_.project.generation()) {
            // One run at a time: a second run would take the first one's mute as the state
            // to restore and leave the output muted for good.
            show_.playback.log("ウォームアップ実行中のため、新たなウォームアップは開始しません");
            return;
        }
        // The running one belongs to a project that was replaced: end it first (through a
        // copy of the pointer, as the end lets go of the member).
        const auto previous = running_;
        end(previous);
    }
    auto session = std::make_shared<Session>();
    session->list = std::move(list);
    session->generation = show_.project.generation();
    show_.playback.log("ウォームアップ開始: " + std::to_string(session->total()) + "件");
    show_.playback.warmDone() = 0;
    show_.playback.warmTotal() = session->total();
    loading_.begin();
    running_ = session;
    const std::weak_ptr<Session> weak = session;
    const std::weak_ptr<ShowWarmUp*> alive = alive_;
    hiddenPlays_.enqueue([this, weak, alive](HiddenPlays::Done done) {
        const auto running = weak.lock();
        if (!alive.lock() || !running || running->ended) {
            done({});
            return;
        }
        running->done = std::move(done);
        show_.loop.post([this, weak, alive] {
            if (const auto current = weak.lock(); alive.lock() && current && !current->ended) {
                step(current);
            }
        });
    });
}

WarmUpMissingChoice ShowWarmUp::askMissingFile(int bank, int slot) {
    const SlotData* data = show_.project.slotAt(bank, slot);
    if (data == nullptr) {
        return WarmUpMissingChoice::skip;
    }
    const std::string name = slotDisplayName(data->name);
    const int answer = show_.dialogs.alert(
        DialogPresenter::AlertStyle::warning, L("ファイルが見つかりません", "File Not Found"),
        L("「" + name +
              "」の元ファイルが見つからないため、ウォームアップできません。\n\n"
              "フォルダを指定して再リンクするか、このクリップをスキップして続行できます。",
          "Can't warm up \"" + name +
              "\" because its source file could not be found.\n\nYou can choose a folder to "
              "relink it, or skip this clip and continue."),
        {L("フォルダを検索...", "Search Folder..."), L("スキップ", "Skip"),
         L("ウォームアップを中止", "Cancel Warm-Up")});
    switch (answer) {
        case 0:
            return WarmUpMissingChoice::searchFolder;
        case 1:
            return WarmUpMissingChoice::skip;
        default:
            return WarmUpMissingChoice::cancel;
    }
}

}  // namespace kestio

#include "platform/storage/notification_center.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/runloop/console.h"

namespace kestio::platform {

struct NotificationCenter::State {
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Observer> fn;
    };
    std::uint64_t nextId = 0;
    std::map<std::string, std::vector<Entry>> observers;
    std::atomic<RunLoop*> mainLoop{nullptr};
};

NotificationCenter::NotificationCenter(RunLoop* mainLoop)
    : state_(std::make_shared<State>()), mainThread_(std::this_thread::get_id()) {
    state_->mainLoop = mainLoop;
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::setMainLoop(RunLoop* mainLoop) {
    state_->mainLoop = mainLoop;
}

Subscription NotificationCenter::addObserver(const std::string& name, Observer observer) {
    const auto id = state_->nextId++;
    state_->observers[name].push_back({id, std::make_shared<Observer>(std::move(observer))});
    std::weak_ptr<State> weak = state_;
    return Subscription([weak, name, id] {
        if (auto state = weak.lock()) {
            auto it = state->observers.find(name);
            if (it != state->observers.end()) {
                std::erase_if(it->second, [id](const State::Entry& e) { return e.id == id; });
                if (it->second.empty()) {
                    state->observers.erase(it);
                }
            }
        }
    });
}

void NotificationCenter::post(const std::string& name, std::any object) {
    Notification notification{name, std::move(object)};
    if (std::this_thread::get_id() == mainThread_) {
        deliver(notification);
        return;
    }
    RunLoop* loop = state_->mainLoop.load();
    if (loop == nullptr) {
        Console::log("Notification " + name + " posted off the main thread was dropped");
        return;
    }
    std::weak_ptr<State> weak = state_;
    loop->post([this, weak, notification = std::move(notification)] {
        if (weak.lock()) {
            deliver(notification);
        }
    });
}

void NotificationCenter::deliver(const Notification& notification) {
    auto keepAlive = state_;
    auto it = keepAlive->observers.find(notification.name);
    if (it == keepAlive->observers.end()) {
        return;
    }
    const auto snapshot = it->second;
    for (const auto& entry : snapshot) {
        auto current = keepAlive->observers.find(notification.name);
        if (current == keepAlive->observers.end()) {
            return;
        }
        const bool stillObserving =
            std::any_of(current->second.begin(), current->second.end(),
                        [&](const State::Entry& e) { return e.id == entry.id; });
        if (stillObserving) {
            (*entry.fn)(notification);
        }
    }
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
    auto it = state_->observers.find(name);
    return it == state_->observers.end() ? 0 : it->second.size();
}

}  // namespace kestio::platform

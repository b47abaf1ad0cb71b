#include "platform/runloop/manual_run_loop.h"

#include <algorithm>
#include <chrono>

namespace kestio::platform {

namespace {
struct Later {
    template <class T>
    bool operator()(const T& a, const T& b) const {
        return a.due != b.due ? a.due > b.due : a.seq > b.seq;
    }
};
}  // namespace

ManualRunLoop::~ManualRunLoop() {
    // Work never run is dropped here, and dropping it destroys what it holds, whose destructor
    // may post or schedule more on this loop. So the work is taken out of the list before it is
    // dropped, until no more comes.
    for (;;) {
        std::vector<Item> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(items_);
        }
        if (dropped.empty()) {
            return;
        }
    }
}

void ManualRunLoop::pushLocked(Item item) {
    items_.push_back(std::move(item));
    std::push_heap(items_.begin(), items_.end(), Later{});
}

void ManualRunLoop::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        pushLocked(Item{clock_->now().seconds(), nextSeq_++, 0.0,
                        std::make_shared<detail::TimerState>(),
                        std::make_shared<std::function<void()>>(std::move(fn))});
        ++postsSeen_;
    }
    posted_.notify_all();
}

TimerHandle ManualRunLoop::schedule(double delay, double interval, std::function<void()> fn) {
    auto state = std::make_shared<detail::TimerState>();
    std::lock_guard lock(mutex_);
    pushLocked(Item{clock_->now().seconds() + std::max(0.0, delay), nextSeq_++, interval, state,
                    std::make_shared<std::function<void()>>(std::move(fn))});
    return TimerHandle(state);
}

TimerHandle ManualRunLoop::after(double seconds, std::function<void()> fn) {
    return schedule(seconds, 0.0, std::move(fn));
}

TimerHandle ManualRunLoop::every(double seconds, std::function<void()> fn) {
    // A zero or negative interval would spin forever inside advance(); treat it as 1 ms.
    const double interval = seconds > 0.0 ? seconds : 0.001;
    return schedule(interval, interval, std::move(fn));
}

int ManualRunLoop::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(mutex_);
        target = clock_->now().seconds() + std::max(0.0, seconds);
    }
    int ran = 0;
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            target = std::max(target, clock_->now().seconds());
            if (items_.empty() || items_.front().due > target) {
                clock_->advanceTo(HostTime(target));
                break;
            }
            std::pop_heap(items_.begin(), items_.end(), Later{});
            item = std::move(items_.back());
            items_.pop_back();
            if (item.state->cancelled.load()) {
                continue;
            }
            clock_->advanceTo(HostTime(item.due));
            const double now = clock_->now().seconds();
            if (item.interval > 0.0) {
                // Reschedule before running, so a cancel from inside the callback wins and a
                // callback that stalls finds its next tick already due.
                pushLocked(Item{detail::nextTickDue(item.due, item.interval, now), nextSeq_++,
                                item.interval, item.state, item.fn});
            }
        }
        (*item.fn)();
        ++ran;
    }
    return ran;
}

void ManualRunLoop::stall(double seconds) {
    std::lock_guard lock(mutex_);
    clock_->advance(seconds);
}

bool ManualRunLoop::waitForPosted(double wallSeconds) {
    {
        std::unique_lock lock(mutex_);
        const auto seen = postsSeen_;
        const bool duePending = std::any_of(items_.begin(), items_.end(), [&](const Item& item) {
            return item.due <= clock_->now().seconds() && !item.state->cancelled.load();
        });
        if (!duePending && !posted_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                                             [&] { return postsSeen_ != seen; })) {
            return false;
        }
    }
    runPending();
    return true;
}

std::size_t ManualRunLoop::pendingCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        items_.begin(), items_.end(), [](const Item& i) { return !i.state->cancelled.load(); }));
}

}  // namespace kestio::platform

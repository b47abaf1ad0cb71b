#include "platform/graphics/presenter.h"

#include <pthread.h>
#include <chrono>
#include <cmath>

namespace kestio::platform {

namespace {

constexpr std::size_t kRecordLimit = 4096;
// How long one rest lasts at most: any length will do, as a rest ends when something changes.
constexpr double kRestSeconds = 3600.0;

double validRate(double hz) {
    return hz > 0.0 && std::isfinite(hz) ? hz : 60.0;
}

}  // namespace

Presenter::Presenter(std::shared_ptr<const HostClock> clock, WorkerPool& pool)
    : clock_(std::move(clock)), compositor_(pool) {}

Presenter::~Presenter() {
    stop();
    setSource(nullptr);
}

void Presenter::setSource(std::shared_ptr<const SnapshotSlot> slot,
                          std::shared_ptr<SharedCompositions> shared) {
    {
        std::lock_guard lock(mutex_);
        if (slot_ != slot) {
            if (slot_) {
                slot_->unwatch(slotWatch_);
            }
            slotWatch_ = slot ? slot->watch([this] {
                stored_ = true;
                wake();
            })
                              : 0;
        }
        slot_ = std::move(slot);
        shared_ = std::move(shared);
    }
    stored_ = true;
    wake();
}

void Presenter::setSize(QSize pixels) {
    {
        std::lock_guard lock(mutex_);
        size_ = pixels;
    }
    wake();
}

void Presenter::setRefreshRate(double hz) {
    rate_.store(validRate(hz));
    wake();
}

void Presenter::wake() const {
    woken_ = true;
    clock_->wake();
}

double Presenter::refreshRate() const {
    return rate_.load();
}

void Presenter::setFrameReady(std::function<void()> frameReady) {
    if (!isRunning()) {
        frameReady_ = std::move(frameReady);
    }
}

void Presenter::start() {
    if (isRunning()) {
        return;
    }
    stopping_ = false;
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "presenter");
        run();
    });
}

void Presenter::stop() {
    if (!isRunning()) {
        return;
    }
    stopping_ = true;
    stored_ = true;
    wake();
    thread_.join();
}

PresentedFrame Presenter::newestFrame() const {
    std::lock_guard lock(mutex_);
    return newest_;
}

std::vector<RefreshRecord> Presenter::takeRecords() {
    std::lock_guard lock(mutex_);
    std::vector<RefreshRecord> taken(records_.begin(), records_.end());
    records_.clear();
    return taken;
}

namespace {

// Keeps a presenter from resting while someone waits for its refreshes.
class Waiting {
  public:
    Waiting(std::atomic<int>& waiters, const std::function<void()>& wake) : waiters_(waiters) {
        ++waiters_;
        wake();
    }
    ~Waiting() { --waiters_; }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

  private:
    std::atomic<int>& waiters_;
};

}  // namespace

bool Presenter::waitForRefresh(std::uint64_t refresh, double wallSeconds) const {
    const Waiting waiting(waiters_, [this] { wake(); });
    std::unique_lock lock(mutex_);
    return composed_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                              [&] { return newest_.refresh >= refresh; });
}

bool Presenter::waitForComposition(std::uint64_t composition, double wallSeconds) const {
    const Waiting waiting(waiters_, [this] { wake(); });
    std::unique_lock lock(mutex_);
    return composed_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                              [&] { return newest_.composition > composition; });
}

bool Presenter::waitForNewFrame(double wallSeconds) const {
    const Waiting waiting(waiters_, [this] { wake(); });
    std::unique_lock lock(mutex_);
    // The composing under way may have begun before; the one after it has not.
    const std::uint64_t wanted = compositions_ + 2;
    return composed_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                              [&] { return compositions_ >= wanted; });
}

void Presenter::run() {
    std::uint64_t base = 0;  // refreshes numbered before the current anchor
    {
        std::lock_guard lock(mutex_);
        base = newest_.refresh;
    }
    double period = 1.0 / rate_.load();
    HostTime anchor = clock_->now();  // refresh base + k is presented at anchor + k * period
    std::uint64_t k = 1;
    while (!stopping_) {
        if (const double wanted = 1.0 / rate_.load(); wanted != period) {
            // A new pace starts from the last refresh presented.
            anchor += double(k - 1) * period;
            base += k - 1;
            k = 1;
            period = wanted;
        }
        clock_->waitUntil(anchor + double(k - 1) * period, stopping_);
        if (stopping_) {
            break;
        }
        const HostTime now = clock_->now();
        if (now > anchor + double(k) * period) {
            // Too late for this refresh: compose for the next one still ahead.
            k = static_cast<std::uint64_t>(std::floor((now - anchor) / period)) + 1;
        }
        const HostTime target = anchor + double(k) * period;
        bool still = compose(base + k, target, false);
        // Until the refresh's time (or while resting), a snapshot stored meanwhile is composed
        // for it at once, once, when there is time left to draw it.
        bool again = true;
        while (!stopping_) {
            if (still && waiters_.load() == 0) {
                clock_->waitUntil(clock_->now() + kRestSeconds, woken_);
            } else if (again) {
                clock_->waitUntil(target, stored_);
            } else {
                break;
            }
            if (stopping_ || !again || !stored_ || clock_->now() + drawSeconds_ >= target) {
                break;
            }
            still = compose(base + k, target, true);
            // One that showed the same picture again (a change nothing in the picture shows)
            // leaves the refresh its one composing again for a change that does.
            again = reusedLast_;
        }
        ++k;
    }
}

QImage* Presenter::freeBuffer() {
    for (auto& candidate : buffers_) {
        if (candidate.isNull() || candidate.isDetached()) {
            return &candidate;
        }
    }
    // Every buffer is still held elsewhere: let the holders keep theirs.
    for (auto& candidate : buffers_) {
        if (candidate.cacheKey() != newest_.image.cacheKey()) {
            candidate = QImage();
            return &candidate;
        }
    }
    return nullptr;
}

bool Presenter::compose(std::uint64_t refresh, HostTime target, bool again) {
    // A change from here on wakes the rest that may follow this composing, and a snapshot
    // stored from here on is one this composing may not have seen.
    woken_ = false;
    stored_ = false;
    begun_.fetch_add(1);
    const HostTime began = clock_->now();
    std::shared_ptr<const LayerSnapshot> snapshot;
    std::shared_ptr<SharedCompositions> shared;
    QSize size;
    {
        std::lock_guard lock(mutex_);
        snapshot = slot_ ? slot_->load() : nullptr;
        shared = shared_;
        size = size_;
    }
    bool reused = false;
    bool drawn = false;
    bool provisional = false;
    std::vector<PictureName> pictures;
    std::shared_ptr<const DrawnPicture> shown;
    if (snapshot && !size.isEmpty()) {
        Composition composition = compositor_.compose(*snapshot, target, size);
        pictures = composition.pictures;
        provisional = composition.provisional;
        if (lastDrawn_ && composition.drawsTheSameAs(lastDrawn_->composition)) {
            shown = lastDrawn_;
            reused = true;
        } else {
            std::shared_ptr<SharedCompositions::Claim> claim;
            if (shared) {
                shown = shared->find(composition, claim);
            }
            if (!shown) {
                QImage* buffer = nullptr;
                {
                    std::lock_guard lock(mutex_);
                    buffer = freeBuffer();
                }
                if (buffer) {
                    compositor_.draw(composition, *buffer);
                    drawSeconds_ = clock_->now() - began;
                    shown = std::make_shared<const DrawnPicture>(
                        DrawnPicture{std::move(composition), *buffer});
                    drawn = true;
                }
                if (shared) {
                    shared->finish(claim, shown);
                }
            }
        }
    }
    lastDrawn_ = shown;
    reusedLast_ = reused;
    // Nothing to show stays so; a picture stays while nothing in it moves (one not drawn, for
    // want of a free buffer, is tried again at the next refresh, and one showing a still whose
    // new colours are being made, until they are).
    const bool still =
        !snapshot || size.isEmpty() || (shown && !provisional && !snapshot->movesAfter(target));
    QImage picture = shown ? shown->image : QImage();
    // The snapshot is let go here, on this thread: what it holds is safe to release anywhere.
    snapshot.reset();
    const HostTime composedAt = clock_->now();
    {
        std::lock_guard lock(mutex_);
        ++compositions_;
        newest_ = {std::move(picture), refresh, target, compositions_};
        records_.push_back(
            {refresh, target, composedAt, std::move(pictures), reused, drawn, again});
        if (records_.size() > kRecordLimit) {
            records_.pop_front();
        }
    }
    composed_.notify_all();
    if (frameReady_) {
        frameReady_();
    }
    return still;
}

}  // namespace kestio::platform

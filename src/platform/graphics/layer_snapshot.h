#pragma once

#include <QColor>
#include <QImage>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/graphics/contents_filter.h"
#include "platform/graphics/frame_source.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/gravity.h"
#include "platform/graphics/opacity_animation.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio::platform {

class Layer;

// One layer and its subtree as the compositor needs them, frozen at the time it was taken
// (Layer::snapshot()). Snapshots are handed out as shared_ptr<const LayerSnapshot> and never
// change, so any thread may read them; unchanged subtrees are shared between snapshots.
// Presentation opacity is evaluated from the running animation, so a snapshot shows an
// animation at any time without the main thread.
struct LayerSnapshot {
    struct Animation {
        OpacityAnimation animation;
        HostTime beginTime{};
    };

    RectF frame;
    double zPosition = 0.0;
    bool hidden = false;
    float opacity = 1.0f;
    std::optional<QColor> background;
    bool masksToBounds = false;
    QImage contents;
    Gravity contentsGravity = Gravity::Resize;
    std::shared_ptr<const ContentsFilter> contentsFilter;  // applied where contents are composed
    std::shared_ptr<const FrameSource> frameSource;
    Gravity videoGravity = Gravity::ResizeAspect;
    std::optional<Animation> animation;                           // the most recently added one
    std::vector<std::shared_ptr<const LayerSnapshot>> sublayers;  // in drawing order

    RectF bounds() const;
    float presentationOpacity(HostTime time) const;
    // True when what the subtree shows may change after `time` without a new snapshot: a shown
    // layer has a frame source, or an animation that has not ended by then. Hidden and fully
    // transparent subtrees without such an animation count for nothing, since showing them takes
    // a new snapshot.
    bool movesAfter(HostTime time) const;
};

// The latest snapshot of a tree, for other threads: stored by the main thread, loaded by
// presenters. The lock is held only to copy or swap the pointer, never while a snapshot is built,
// read or released, so neither side waits on the other's work. (ThreadSanitizer reports GCC 12's
// std::atomic<std::shared_ptr> as racing between a load and the next store.)
//
// Readers that rest while nothing changes (presenters of a still picture) are told of each store
// through a watch: a quick, thread-safe call made on the storing thread.
class SnapshotSlot {
  public:
    void store(std::shared_ptr<const LayerSnapshot> snapshot) {
        {
            std::lock_guard lock(mutex_);
            latest_.swap(snapshot);
            for (const auto& [id, onStore] : watches_) {
                onStore();
            }
        }
        // The snapshot replaced is let go here, outside the lock.
    }
    std::shared_ptr<const LayerSnapshot> load() const {
        std::lock_guard lock(mutex_);
        return latest_;
    }

    // Calls `onStore` after each store until unwatch(id); once unwatch() returns, no call of it
    // is under way.
    int watch(std::function<void()> onStore) const {
        std::lock_guard lock(mutex_);
        watches_.emplace_back(++lastWatch_, std::move(onStore));
        return lastWatch_;
    }
    void unwatch(int id) const {
        std::lock_guard lock(mutex_);
        std::erase_if(watches_, [id](const auto& watch) { return watch.first == id; });
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const LayerSnapshot> latest_;
    mutable std::vector<std::pair<int, std::function<void()>>> watches_;
    mutable int lastWatch_ = 0;
};

// Keeps a slot up to date with a layer tree on the main thread: it publishes a snapshot when
// the root is set and, after any change in the tree, once on a posted step of the run loop,
// so all the changes of one turn arrive together.
class SnapshotPublisher {
  public:
    explicit SnapshotPublisher(RunLoop& loop);
    ~SnapshotPublisher();
    SnapshotPublisher(const SnapshotPublisher&) = delete;
    SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;

    // Publishes the tree's snapshot at once; null publishes nothing to show.
    void setRoot(std::shared_ptr<Layer> root);
    // Publishes now the changes not yet published, if any.
    void publish();

    const std::shared_ptr<SnapshotSlot>& slot() const { return slot_; }

  private:
    RunLoop& loop_;
    std::shared_ptr<Layer> root_;
    std::shared_ptr<SnapshotSlot> slot_ = std::make_shared<SnapshotSlot>();
    Subscription treeObserver_;
    bool pending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestio::platform

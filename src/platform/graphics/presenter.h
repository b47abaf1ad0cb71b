#pragma once

#include <QImage>
#include <QSize>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/graphics/compositor.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/shared_compositions.h"
#include "platform/graphics/worker_pool.h"
#include "platform/runloop/host_clock.h"

namespace kestio::platform {

// The picture last composed by a presenter.
struct PresentedFrame {
    QImage image;               // null before the first refresh or without a tree to show
    std::uint64_t refresh = 0;  // the refresh it was composed for (0: none yet)
    HostTime targetTime{};      // that refresh's presentation time
    // Counts this presenter's composings (0: none yet): a refresh composed again has a higher
    // number than its first picture.
    std::uint64_t composition = 0;
};

// What a presenter did for one composing; a refresh it never composed has no record. A refresh
// composed again (see Presenter) has further records right after its first, marked `recomposed`
// (more than one only when one showed the same picture again): counting refreshes, skipped or
// late ones, takes the first records only, while the last one tells what the refresh shows.
struct RefreshRecord {
    std::uint64_t refresh = 0;  // consecutive from first record to first record while no
                                // refresh is skipped; a recomposed record repeats the refresh
    HostTime targetTime{};      // the refresh's presentation time
    HostTime composedAt{};      // when its picture was ready; late when after targetTime
    // The frame sources' pictures the refresh shows, in drawing order (say, the first frame of
    // a clip, so that its cue can be timed to the refresh that first showed it).
    std::vector<PictureName> pictures;
    // True when nothing had changed since the refresh before, whose picture was shown again.
    bool reused = false;
    // True when this presenter drew the picture; false when it showed its last one again or one
    // that another view of the same tree drew.
    bool drawn = false;
    // True when this composing replaced the refresh's picture composed from an older snapshot.
    bool recomposed = false;
};

// Composes the pictures of one output view on its own thread, so that nothing the main thread
// does (a dialog, a save) delays them. The thread keeps the display's pace with a deadline
// loop on the host clock: refresh k is presented at start + k / rate, and its picture is
// composed during the period before it, from the latest published snapshot of the tree and
// the frame sources' pictures for that presentation time. A refresh whose time has already
// passed when its turn comes is skipped rather than composed late.
//
// A snapshot stored after refresh k was composed and before its presentation time (a cut, a
// cue going on air) is composed for refresh k at once, rather than one period later with
// refresh k + 1: the newest picture for that presentation time then shows it, with a record of
// its own (RefreshRecord::recomposed) and a frame-ready call. Each refresh is composed again at
// most once for a snapshot that changes its picture, so a burst of snapshots (one per turn of
// the main thread while something animates) costs at most two drawings per period; later ones
// wait for the next refresh. A snapshot whose picture is the one shown (a change to something
// hidden, say a cue being readied) costs no drawing and does not count. A refresh is
// not composed again when the last drawing took longer than the time left before its
// presentation, since the picture would miss it and hold up the next refresh.
//
// A refresh whose drawing would be the same as the last one's (same snapshot content, opacities,
// size and frame-source pictures: see Composition) shows the last picture again without drawing
// a pixel, so a paused or still program costs next to nothing. Presenters of one tree that are
// given the same SharedCompositions also show each other's pictures: views of one size draw
// each picture once between them, and each keeps its own records.
//
// A presenter whose picture cannot change by itself (no frame source and no animation still
// running in what it shows) rests after composing it, without waking each refresh, until a new
// snapshot is stored, its source, size or rate is set, or someone waits for a refresh; it then
// composes for the next refresh on its pace. An unchanged still picture thus costs nothing at all.
//
// Pictures go to three buffers in turn: the newest one is handed out (newestFrame(), an
// implicitly shared image, cheap to copy), and a buffer is drawn into again only when no one
// holds it any more. After each refresh the frame-ready call runs on the presenter thread.
//
// Configure from one thread (the view's); newestFrame(), takeRecords() and waitForRefresh()
// may be called from any thread. Several presenters may share a worker pool.
class Presenter {
  public:
    // `clock` is the host clock the refreshes are paced and timed by (the run loop's).
    explicit Presenter(std::shared_ptr<const HostClock> clock,
                       WorkerPool& pool = WorkerPool::shared());
    ~Presenter();  // stops
    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

    // Where the tree's snapshots are published; null shows nothing. `shared`, when given, is
    // where the presenters of that tree find the pictures the others drew.
    void setSource(std::shared_ptr<const SnapshotSlot> slot,
                   std::shared_ptr<SharedCompositions> shared = nullptr);
    // The picture size in device pixels.
    void setSize(QSize pixels);
    // Refreshes per second; zero, negative or not finite: 60. Takes effect on the next refresh.
    void setRefreshRate(double hz);
    double refreshRate() const;
    // Called on the presenter thread after each composed refresh; quick and thread-safe.
    // Set while stopped.
    void setFrameReady(std::function<void()> frameReady);

    void start();
    void stop();
    bool isRunning() const { return thread_.joinable(); }

    PresentedFrame newestFrame() const;
    // The records of the refreshes composed since the last call (the latest few thousand).
    std::vector<RefreshRecord> takeRecords();
    // Blocks until a refresh numbered `refresh` or later is composed, at most `wallSeconds`
    // of real time. Returns false on time-out.
    bool waitForRefresh(std::uint64_t refresh, double wallSeconds) const;
    // Blocks until a picture composed after the one numbered `composition`
    // (PresentedFrame::composition) is ready: a later refresh, or the same one composed again.
    // At most `wallSeconds` of real time; false on time-out. Keeps the presenter composing each
    // refresh while it waits, as waitForRefresh() does.
    bool waitForComposition(std::uint64_t composition, double wallSeconds) const;
    // Blocks until a picture whose composing began after this call is ready, at most
    // `wallSeconds` of real time. Returns false on time-out.
    bool waitForNewFrame(double wallSeconds) const;
    // The number (PresentedFrame::composition) of the composing under way, or of the last one
    // when none is: a picture numbered higher began after this call.
    std::uint64_t compositionsBegun() const { return begun_.load(); }

  private:
    void run();
    // Returns true when the picture composed cannot change until something wakes the presenter.
    // `again`: the refresh was composed before, from an older snapshot.
    bool compose(std::uint64_t refresh, HostTime target, bool again);
    // Ends a rest (or the next one before it begins).
    void wake() const;
    QImage* freeBuffer();  // under mutex_

    std::shared_ptr<const HostClock> clock_;
    Compositor compositor_;  // used on the presenter thread only
    // The newest picture and what it shows, while it can be shown again (presenter thread only).
    std::shared_ptr<const DrawnPicture> lastDrawn_;
    std::function<void()> frameReady_;
    std::atomic<double> rate_{60.0};
    std::atomic<bool> stopping_{false};
    mutable std::atomic<bool> woken_{false};  // cleared as each composing begins
    // Set when a snapshot is stored or the source set (and to stop); cleared as each composing
    // begins. Ends the wait for the presentation time of the refresh just composed.
    std::atomic<bool> stored_{false};
    // How long the last drawing took on the host clock (presenter thread only).
    double drawSeconds_ = 0.0;
    bool reusedLast_ = false;              // the last composing showed the picture before it again
    std::atomic<std::uint64_t> begun_{0};  // composings begun (presenter thread writes)
    mutable std::atomic<int> waiters_{0};  // threads in one of the wait...() calls
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable composed_;
    std::shared_ptr<const SnapshotSlot> slot_;
    int slotWatch_ = 0;
    std::shared_ptr<SharedCompositions> shared_;
    QSize size_;
    std::array<QImage, 3> buffers_;  // drawn into outside the mutex by the presenter thread
    PresentedFrame newest_;
    std::uint64_t compositions_ = 0;
    std::deque<RefreshRecord> records_;
};

}  // namespace kestio::platform

#pragma once

#include <QWindow>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/graphics/geometry.h"
#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/presenter.h"
#include "platform/runloop/run_loop.h"
#include "platform/ui/layer_presentation.h"
#include "platform/ui/present_path_choice.h"

namespace kestio::platform {

// A top-level window that shows a layer tree and puts each picture on the screen through OpenGL
// from a thread of its own, so that nothing the main thread does delays what the window shows.
//
// As in a LayerView, a Presenter composes the tree on its thread once per display refresh at the
// window's device pixel size, from the snapshots published after each change of the tree. The
// window's present thread, which owns the window's OpenGL context, waits for each newly composed
// picture, uploads it to a texture, draws that into the window's back buffer and swaps: no step
// of it passes through the main thread. The main thread only edits the tree and follows the
// window's size and exposure.
//
// Only for platforms with threaded OpenGL (isAvailable()); never under the offscreen platform.
// Main thread only, but for presenter(), takePresentRecords() and waitForPresent().
class OpenGLLayerWindow final : public QWindow {
  public:
    // One picture put on the screen. A refresh the presenter composed again has two, the
    // second with the newer picture.
    struct PresentRecord {
        std::uint64_t refresh = 0;    // the presenter's refresh it was composed for
        HostTime targetTime{};        // that refresh's presentation time
        HostTime presentedAt{};       // when the swap was issued, on the host clock
        double presentSeconds = 0.0;  // upload, copy and swap, in steady-clock seconds
    };

    // What the platform's OpenGL is: threaded when a thread other than the main one can draw to a
    // window through it (not the offscreen platform, threaded OpenGL supported, and a context of
    // OpenGL 3.0 or OpenGL ES 3.0 or later, for the drawing program, can be made), and the
    // renderer's name. Asked once per process.
    static const OpenGLSupport& support();
    static bool isAvailable();

    // The presenter paces itself by the loop's host clock.
    OpenGLLayerWindow(RunLoop& loop, QScreen* screen);
    ~OpenGLLayerWindow() override;

    // A tree of this window's own, whose root takes the window's size.
    void setRootLayer(std::shared_ptr<Layer> root);
    const std::shared_ptr<Layer>& rootLayer() const { return presentation_.rootLayer(); }
    // Where the window's presenter finds the drawings of other views of the same picture and
    // leaves its own (see SharedCompositions); null: a set of the window's own.
    void setSharedCompositions(std::shared_ptr<SharedCompositions> shared);
    const std::shared_ptr<SharedCompositions>& sharedCompositions() const {
        return presentation_.sharedCompositions();
    }
    // The window's layout pass: called after each size change, once the root's frame has been
    // set to the new size.
    std::function<void(SizeF)> onLayout;
    // Refreshes per second while shown; 0 (the default) follows the screen's refresh rate.
    void setFrameRate(double hz);
    double frameRate() const;

    // Called on the main thread, once per showing, with the present times (PresentRecord's
    // presentSeconds) of the first kMeasuredPresents pictures put on the screen. It may destroy
    // the window.
    std::function<void(const std::vector<double>&)> onFirstPresents;

    Presenter& presenter() { return presentation_.presenter(); }
    // The pictures put on the screen since the last call (the latest few thousand).
    std::vector<PresentRecord> takePresentRecords();
    // Blocks until a picture of refresh `refresh` or later has been put on the screen, at most
    // `wallSeconds` of real time. False on time-out.
    bool waitForPresent(std::uint64_t refresh, double wallSeconds) const;

  protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QSize devicePixels() const;
    void startPresenting();
    void stopPresenting();
    void presentLoop();
    void reportFirstCosts(std::vector<double> costs);

    RunLoop& loop_;
    LayerPresentation presentation_;

    std::atomic<bool> exposed_{false};
    std::atomic<int> pixelWidth_{0};
    std::atomic<int> pixelHeight_{0};
    std::atomic<bool> stopping_{false};
    std::thread presentThread_;

    mutable std::mutex recordsMutex_;
    mutable std::condition_variable presented_;
    std::deque<PresentRecord> records_;
    std::uint64_t lastPresented_ = 0;
    // Lets the costs posted from the present thread find the window, or find it gone.
    std::shared_ptr<OpenGLLayerWindow*> alive_ = std::make_shared<OpenGLLayerWindow*>(this);
};

}  // namespace kestio::platform

// A still through its layer's contents filter: corrected where it is composed, once per still
// and filter however many views compose it, the same image while nothing changes, and shown as
// it is when the step fails.

#include "platform/graphics/contents_filter.h"

#include <gtest/gtest.h>

#include <QColor>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

QImage solid(QColor colour) {
    QImage image(16, 9, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

class ContentsFilterTest : public ::testing::Test {
  protected:
    // A view of its own: a root of `size` with one still layer filling it.
    struct View {
        std::shared_ptr<Layer> root;
        std::shared_ptr<Layer> still;
        QSize size;
        Compositor compositor;
    };
    void build(View& view, QSize size) {
        view.size = size;
        view.root = Layer::create(loop);
        view.root->setFrame({0, 0, double(size.width()), double(size.height())});
        view.still = Layer::create(loop);
        view.still->setFrame(view.root->bounds());
        view.root->addSublayer(view.still);
    }
    static Composition composed(View& view, HostTime time) {
        return view.compositor.compose(*view.root->snapshot(), time, view.size);
    }
    static QColor centre(View& view, HostTime time) {
        QImage out;
        view.compositor.draw(composed(view, time), out);
        return out.pixelColor(out.width() / 2, out.height() / 2);
    }
    // A step that swaps red and blue and counts its runs.
    std::shared_ptr<const ContentsFilter> swapping() {
        return std::make_shared<const ContentsFilter>(FrameFilter([this](const QImage& still) {
            ++steps;
            return still.rgbSwapped();
        }));
    }

    ManualRunLoop loop;
    std::atomic<int> steps = 0;
};

// The program's view and a mirror at another size show one still through one filter: the step
// runs once for both, also across new snapshots of the tree (a fade), and a view composed again
// draws the very same thing; a new filter or a new still runs it once more.
TEST_F(ContentsFilterTest, AStillIsFilteredOncePerStillAndFilterForEveryView) {
    View program;
    View mirror;
    build(program, {64, 36});
    build(mirror, {32, 18});
    const QImage red = solid(Qt::red);
    auto filter = swapping();
    for (View* view : {&program, &mirror}) {
        view->still->setContents(red);
        view->still->setContentsFilter(filter);
    }
    EXPECT_EQ(centre(program, loop.now()), QColor(Qt::blue));
    EXPECT_EQ(centre(mirror, loop.now()), QColor(Qt::blue));
    EXPECT_EQ(steps, 1);

    const Composition before = composed(program, loop.now());
    program.still->setOpacity(0.5f);
    program.still->setOpacity(1.0f);
    EXPECT_TRUE(composed(program, loop.now()).drawsTheSameAs(before))
        << "an unchanged still must compose as the same picture";
    EXPECT_EQ(steps, 1);

    for (View* view : {&program, &mirror}) {
        view->still->setContentsFilter(nullptr);
    }
    EXPECT_EQ(centre(program, loop.now()), QColor(Qt::red)) << "no filter: the still as it is";
    EXPECT_EQ(steps, 1);

    auto next = swapping();
    for (View* view : {&program, &mirror}) {
        view->still->setContentsFilter(next);
    }
    EXPECT_EQ(centre(program, loop.now()), QColor(Qt::blue));
    EXPECT_EQ(centre(mirror, loop.now()), QColor(Qt::blue));
    EXPECT_EQ(steps, 2);

    const QImage green = solid(Qt::green);
    for (View* view : {&program, &mirror}) {
        view->still->setContents(green);
    }
    EXPECT_EQ(centre(program, loop.now()), QColor(Qt::green));  // swapped red and blue: none
    EXPECT_EQ(centre(mirror, loop.now()), QColor(Qt::green));
    EXPECT_EQ(steps, 3);
}

// Swapping the filter is a change of the layer that observers of it hear of, and touches
// neither the still nor any picture on the calling thread.
TEST_F(ContentsFilterTest, SwappingTheFilterIsObservedAndRunsNoStep) {
    auto layer = Layer::create(loop);
    const QImage red = solid(Qt::red);
    layer->setContents(red);
    int told = 0;
    auto observation = layer->observe(LayerProperty::ContentsFilter, [&] { ++told; });
    const auto filter = swapping();
    layer->setContentsFilter(filter);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(layer->contentsFilter(), filter);
    EXPECT_EQ(layer->snapshot()->contentsFilter, filter);
    EXPECT_EQ(layer->contents().cacheKey(), red.cacheKey());
    EXPECT_EQ(steps, 0);
}

// A step that throws, gives nothing or changes the size leaves the still shown as it is.
TEST_F(ContentsFilterTest, AFailingStepShowsTheStillAsItIs) {
    const QImage red = solid(Qt::red);
    const FrameFilter failures[] = {
        FrameFilter([](const QImage&) -> QImage { throw std::runtime_error("no memory"); }),
        FrameFilter([](const QImage&) { return QImage(); }),
        FrameFilter([](const QImage& still) { return still.scaled(4, 4).rgbSwapped(); }),
    };
    for (const auto& step : failures) {
        const ContentsFilter filter(step);
        const QImage shown = filter.apply(red);
        EXPECT_EQ(shown.cacheKey(), red.cacheKey());
    }
    EXPECT_TRUE(ContentsFilter(failures[0]).apply(QImage()).isNull());
}

// New values for a still shown: the filter that takes over makes its picture through its runner,
// and until that has run, every view composes the picture before, marked provisional; a filter
// replaced before its turn makes nothing, and a new still is made at once, never shown as the
// one before.
TEST_F(ContentsFilterTest, ANewVersionIsMadeInTheBackgroundWhileThePictureBeforeStays) {
    std::vector<std::function<void()>> jobs;
    const ContentsFilter::Runner runner = [&](std::function<void()> job) {
        jobs.push_back(std::move(job));
    };
    const auto tinting = [this](QColor colour) {
        return FrameFilter([this, colour](const QImage& still) {
            ++steps;
            QImage out(still.size(), still.format());
            out.fill(colour);
            return out;
        });
    };
    const auto shown = [](const std::shared_ptr<const ContentsFilter>& filter, const QImage& still,
                          bool provisional) {
        bool marked = !provisional;
        const QColor colour = filter->apply(still, &marked).pixelColor(0, 0);
        EXPECT_EQ(marked, provisional);
        return colour;
    };
    const QImage red = solid(Qt::red);

    // Shown as it is, then through a filter: the picture before stands in.
    auto first = std::make_shared<const ContentsFilter>(tinting(Qt::blue),
                                                        ContentsFilter::asIs(red), runner);
    EXPECT_EQ(shown(first, red, true), QColor(Qt::red));
    EXPECT_EQ(shown(first, red, true), QColor(Qt::red));
    ASSERT_EQ(jobs.size(), 1u) << "one job, however often it is composed";
    EXPECT_EQ(steps, 0);
    jobs[0]();
    EXPECT_EQ(shown(first, red, false), QColor(Qt::blue));
    EXPECT_EQ(steps, 1);

    // Two steps of a slider before the worker's turn: the second stands in with what the first
    // stood in with, and the first, let go, makes nothing.
    auto second = std::make_shared<const ContentsFilter>(tinting(Qt::green), first, runner);
    EXPECT_EQ(shown(second, red, true), QColor(Qt::blue));
    auto third = std::make_shared<const ContentsFilter>(tinting(Qt::yellow), second, runner);
    EXPECT_EQ(shown(third, red, true), QColor(Qt::blue));
    second.reset();
    ASSERT_EQ(jobs.size(), 3u);
    jobs[1]();
    EXPECT_EQ(steps, 1);
    jobs[2]();
    EXPECT_EQ(shown(third, red, false), QColor(Qt::yellow));
    EXPECT_EQ(steps, 2);

    // A still the filter before never showed is made where it is composed.
    const QImage white = solid(Qt::white);
    auto fourth = std::make_shared<const ContentsFilter>(tinting(Qt::cyan), third, runner);
    EXPECT_EQ(shown(fourth, white, false), QColor(Qt::cyan));
    EXPECT_EQ(jobs.size(), 3u);
    EXPECT_EQ(steps, 3);
}

}  // namespace
}  // namespace kestio::platform

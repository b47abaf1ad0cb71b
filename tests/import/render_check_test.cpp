// The render check: a picture through the playback path within a time-out, raced on the run
// loop; the time-out is a run-loop timer, driven here in virtual time.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "importer_harness.h"
#include "platform/runloop/console.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"

namespace kestio::test {
namespace {

namespace media = platform::media;

// Picture requests that the test answers, or that never answer until they are cancelled.
class ScriptedPictures {
  public:
    enum class Mode { answerAtOnce, failAtOnce, neverAnswer };

    explicit ScriptedPictures(Mode mode) : state_(std::make_shared<State>()) {
        state_->mode = mode;
    }

    ImportBackend backend() const {
        ImportBackend backend = ImportBackend::standard();
        backend.grabFrame = [state = state_](const std::filesystem::path&, double time, double,
                                             QSize, JobControl& control) {
            {
                std::lock_guard lock(state->mutex);
                state->times.push_back(time);
            }
            state->changed.notify_all();
            if (state->mode == Mode::neverAnswer) {
                control.waitUntilCancelled();
                {
                    std::lock_guard lock(state->mutex);
                    ++state->cancelledRequests;
                }
                state->changed.notify_all();
            }
            if (state->mode == Mode::answerAtOnce) {
                QImage picture(4, 4, QImage::Format_ARGB32_Premultiplied);
                picture.fill(Qt::white);
                return media::Loaded<QImage>(picture);
            }
            return media::Loaded<QImage>::failure("scripted failure");
        };
        return backend;
    }

    // Waits (on a generous guard) until `count` requests have arrived.
    bool waitForRequests(std::size_t count) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(60),
                                        [&] { return state_->times.size() >= count; });
    }
    bool waitForCancellations(int count) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(60),
                                        [&] { return state_->cancelledRequests >= count; });
    }
    std::vector<double> times() const {
        std::lock_guard lock(state_->mutex);
        return state_->times;
    }

  private:
    struct State {
        Mode mode = Mode::answerAtOnce;
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<double> times;
        int cancelledRequests = 0;
    };
    std::shared_ptr<State> state_;
};

const char* const kTimeoutLine = "⚠️ verifyRenderablePipeline: タイムアウト（5.0秒）";

TEST(RenderCheck, APictureThatNeverComesFailsAfterTheTimeOutAndIsAbandoned) {
    ScriptedPictures pictures(ScriptedPictures::Mode::neverAnswer);
    ImporterHarness harness(pictures.backend());
    platform::Console::Capture console;
    std::optional<bool> answer;
    harness.importer.verifyRenderablePipeline("/clips/hang.mp4", 0.0, 5.0,
                                              [&](bool ok) { answer = ok; });
    ASSERT_TRUE(pictures.waitForRequests(1));

    harness.loop.advance(4.999);
    EXPECT_FALSE(answer.has_value());
    EXPECT_FALSE(console.contains("タイムアウト"));

    harness.loop.advance(0.001);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(*answer);
    EXPECT_EQ(console.lines(), std::vector<std::string>{kTimeoutLine});
    // The worker is given back.
    EXPECT_TRUE(pictures.waitForCancellations(1));
    harness.loop.waitForPosted(0.0);
    harness.loop.advance(10.0);
    EXPECT_EQ(console.lines().size(), 1u);
}

TEST(RenderCheck, TheTimeOutIsPrintedInItsShortestForm) {
    ScriptedPictures pictures(ScriptedPictures::Mode::neverAnswer);
    ImporterHarness harness(pictures.backend());
    platform::Console::Capture console;
    std::optional<bool> answer;
    harness.importer.verifyRenderablePipeline("/clips/hang.mp4", 0.0, 2.5,
                                              [&](bool ok) { answer = ok; });
    harness.loop.advance(2.5);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(console.lines(),
              std::vector<std::string>{
                  "⚠️ verifyRenderablePipeline: タイムアウト（2.5秒）"});
}

TEST(RenderCheck, AnAnswerBeforeTheTimeOutWinsAndTheTimerIsGone) {
    ScriptedPictures pictures(ScriptedPictures::Mode::answerAtOnce);
    ImporterHarness harness(pictures.backend());
    platform::Console::Capture console;
    std::optional<bool> answer;
    int answers = 0;
    harness.importer.verifyRenderablePipeline("/clips/a.mp4", 0.0, 5.0, [&](bool ok) {
        answer = ok;
        ++answers;
    });
    ASSERT_TRUE(waitUntilFilled(harness.loop, answer));
    EXPECT_TRUE(*answer);
    harness.loop.advance(10.0);
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(console.lines().empty());
    EXPECT_EQ(harness.loop.pendingCount(), 0u);
}

TEST(RenderCheck, AFailedPictureAnswersFalseWithoutALine) {
    ScriptedPictures pictures(ScriptedPictures::Mode::failAtOnce);
    ImporterHarness harness(pictures.backend());
    platform::Console::Capture console;
    EXPECT_FALSE(harness.renders("/clips/a.mp4", 0.0));
    EXPECT_TRUE(console.lines().empty());
}

TEST(RenderCheck, NegativeOrUnknownTimesAskForTheStartAndTimesFallOnThe600Grid) {
    ScriptedPictures pictures(ScriptedPictures::Mode::answerAtOnce);
    ImporterHarness harness(pictures.backend());
    EXPECT_TRUE(harness.renders("/clips/a.mp4", -1.0));
    EXPECT_TRUE(harness.renders("/clips/a.mp4", std::nan("")));
    EXPECT_TRUE(harness.renders("/clips/a.mp4", 1.2345));
    EXPECT_EQ(pictures.times(), (std::vector<double>{0.0, 0.0, 741.0 / 600.0}));
}

TEST(RenderCheck, AFailedCheckRefusesTheClipAsNotPlayable) {
    ScriptedPictures pictures(ScriptedPictures::Mode::neverAnswer);
    ImporterHarness harness(pictures.backend());
    platform::Console::Capture console;
    const auto clip = mediaFixtures().video("mp4").path;
    std::optional<ImportOutcome> outcome;
    harness.importer.importMeta(clip, 0.0, [&](ImportOutcome o) { outcome = std::move(o); });
    // The probe runs on a worker and hands back to the loop, which then asks for the picture.
    ASSERT_TRUE(harness.loop.waitForPosted(kWallGuardSeconds));
    ASSERT_TRUE(pictures.waitForRequests(1));
    harness.loop.runPending();
    EXPECT_FALSE(outcome.has_value());
    harness.loop.advance(ClipImporter::kRenderCheckTimeout);
    ASSERT_TRUE(outcome.has_value());
    const ImportError* error = errorOf(*outcome);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(*error, ImportError::notPlayable(clip));
    EXPECT_TRUE(console.contains(kTimeoutLine));
    EXPECT_TRUE(console.contains(
        "❌ importMeta: 映像コンポジション経由のレンダリング検証に失敗: rate_29.97.mp4"));
}

TEST(RenderCheck, RealClipsRenderAtTheirStartAndWithinButNotPastTheirEnd) {
    ImporterHarness harness;
    const auto& fixtures = mediaFixtures();
    EXPECT_TRUE(harness.renders(fixtures.video("mp4").path, 0.0));
    EXPECT_TRUE(harness.renders(fixtures.video("mp4").path, 1.5));
    EXPECT_TRUE(harness.renders(fixtures.video("ts").path, 1.0));
    EXPECT_TRUE(harness.renders(fixtures.video("mxf").path, -1.0));
    EXPECT_FALSE(harness.renders(fixtures.video("mp4").path, 10.0));
    EXPECT_FALSE(harness.renders(fixtures.audio("m4a").path, 0.0));
}

TEST(RenderCheck, TheRealPictureRequestStopsWithItsCancelledJob) {
    // The time-out cancels the job; the picture request must hear it and give the worker back.
    const ImportBackend backend = ImportBackend::standard();
    const auto clip = mediaFixtures().video("ts").path;
    JobControl running;
    const auto picture = backend.grabFrame(clip, 1.0, 0.5, QSize(), running);
    ASSERT_TRUE(picture.ok()) << picture.error();
    EXPECT_EQ(readFrameNumber(*picture), 30);

    JobControl cancelled;
    cancelled.cancel();
    const auto stopped = backend.grabFrame(clip, 1.0, 0.5, QSize(), cancelled);
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error(), "Cancelled");
}

TEST(RenderCheck, AnInPointPastTheEndOfAClipRefusesIt) {
    ImporterHarness harness;
    const auto clip = mediaFixtures().video("mov").path;
    const ImportOutcome outcome = harness.importMeta(clip, 30.0);
    ASSERT_NE(errorOf(outcome), nullptr);
    EXPECT_EQ(*errorOf(outcome), ImportError::notPlayable(clip));
}

}  // namespace
}  // namespace kestio::test

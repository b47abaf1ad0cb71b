#include "model/thumbnail_store.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <map>

#include "platform/runloop/manual_run_loop.h"
#include "support/driven_worker.h"

namespace kestio {
namespace {

using Bytes = ThumbnailStore::Bytes;
using Image = ThumbnailStore::Image;

Bytes pngOf(QColor colour) {
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(encoded.begin(), encoded.end());
}

// The store on a worker the test drives: nothing is decoded until the test runs the worker,
// and nothing lands until the run loop turns.
class ThumbnailStoreTest : public ::testing::Test {
  protected:
    platform::ManualRunLoop loop;
    test::DrivenWorker worker{loop};
    int decodes = 0;
    std::unique_ptr<ThumbnailStore> store = makeStore();
    Bytes red = pngOf(Qt::red);
    Bytes blue = pngOf(Qt::blue);

    std::unique_ptr<ThumbnailStore> makeStore(std::size_t kept = ThumbnailStore::kKeptImages) {
        return std::make_unique<ThumbnailStore>(
            [this](std::function<Image()> work, std::function<void(Image)> done) {
                worker.run<Image>(std::move(work), std::move(done));
            },
            [this](const Bytes& data) {
                ++decodes;
                return ThumbnailStore::decodeWithQt(data);
            },
            kept);
    }
    // Runs the worker and delivers its answers.
    void settle() {
        worker.runAll();
        loop.runPending();
    }
    // The image the key gives once its decode has landed.
    Image decoded(const std::string& key, const Bytes& data) {
        EXPECT_FALSE(store->image(key, data));
        settle();
        return store->image(key, data);
    }
};

TEST_F(ThumbnailStoreTest, AMissGivesNoneAndDecodesOnTheWorkerThenLandsOnALaterTurn) {
    std::uint64_t seen = 0;
    auto watch = store->landed.subscribe([&](std::uint64_t count) { seen = count; });
    EXPECT_FALSE(store->image("0-0", red));
    EXPECT_EQ(decodes, 0);  // not on the asking thread
    EXPECT_EQ(store->decodesPending(), 1u);
    worker.runAll();
    EXPECT_EQ(decodes, 1);
    EXPECT_FALSE(store->image("0-0", red));  // decoded, not landed: the loop has not turned
    EXPECT_EQ(seen, 0u);
    loop.runPending();
    EXPECT_EQ(seen, 1u);
    EXPECT_EQ(store->decodesPending(), 0u);
    const Image first = store->image("0-0", red);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(store->image("0-0", Bytes(red)), first);  // the same object for equal bytes
    EXPECT_EQ(decodes, 1);
}

TEST_F(ThumbnailStoreTest, AsksWhileADecodeIsUnderWayHandOverNoSecondDecode) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(store->image("0-0", red));
    }
    EXPECT_EQ(worker.queued(), 1u);
    settle();
    EXPECT_TRUE(store->image("0-0", red));
    EXPECT_EQ(decodes, 1);
}

// What the key is asked for after the decode was handed over, and whether the late answer
// may land.
TEST_F(ThumbnailStoreTest, AnAnswerForBytesTheSlotNoLongerHoldsIsDropped) {
    struct Case {
        const char* name;
        std::optional<Bytes> askedMeanwhile;
        bool runWorkerFirst;  // decoded before the change (else skipped in the queue)
    };
    const Case cases[] = {
        {"other bytes, queued", blue, false},
        {"other bytes, decoded", blue, true},
        {"no bytes, queued", std::nullopt, false},
        {"no bytes, decoded", std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store = nullptr;
        decodes = 0;
        worker.runAll();
        loop.runPending();
        store = makeStore();
        std::uint64_t landings = 0;
        auto watch = store->landed.subscribe([&](std::uint64_t) { ++landings; });

        EXPECT_FALSE(store->image("2-7", red));
        if (c.runWorkerFirst) {
            worker.runNext();
        }
        EXPECT_FALSE(store->image("2-7", c.askedMeanwhile));
        settle();
        EXPECT_EQ(decodes, (c.runWorkerFirst ? 1 : 0) + (c.askedMeanwhile ? 1 : 0));
        if (c.askedMeanwhile) {
            const Image now = store->image("2-7", blue);
            ASSERT_TRUE(now);
            EXPECT_EQ(now->pixelColor(0, 0), QColor(Qt::blue));
            EXPECT_EQ(landings, 1u);
        } else {
            EXPECT_EQ(landings, 0u);
        }
        EXPECT_EQ(store->decodesPending(), 0u);
        // The red answer left nothing behind: red is decoded afresh when asked again.
        EXPECT_FALSE(store->image("2-7", red));
    }
}

TEST_F(ThumbnailStoreTest, NewBytesDrawNoneUntilTheirImageLandsThenReplaceTheOld) {
    const Image redImage = decoded("0-0", red);
    ASSERT_TRUE(redImage);
    EXPECT_FALSE(store->image("0-0", blue));  // the old picture is not the slot's any more
    settle();
    const Image blueImage = store->image("0-0", blue);
    ASSERT_TRUE(blueImage);
    EXPECT_NE(blueImage, redImage);
    EXPECT_EQ(blueImage->pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(decodes, 2);
}

TEST_F(ThumbnailStoreTest, BytesThatAreNoImageGiveNoneOnceDecodedAndKeepTheEntry) {
    const Image redImage = decoded("1-2", red);
    Bytes truncated(red.begin(), red.begin() + 20);
    EXPECT_FALSE(decoded("1-2", truncated));
    EXPECT_FALSE(store->image("1-2", truncated));  // not handed over again
    EXPECT_EQ(worker.queued(), 0u);
    EXPECT_FALSE(decoded("1-2", Bytes{}));
    EXPECT_EQ(store->image("1-2", red), redImage);
    EXPECT_EQ(decodes, 3);
    EXPECT_EQ(store->landed.get(), 1u);  // failures land nothing to draw
}

TEST_F(ThumbnailStoreTest, NoBytesForgetTheKey) {
    const Image redImage = decoded("0-5", red);
    EXPECT_FALSE(store->image("0-5", std::nullopt));
    const Image again = decoded("0-5", red);
    ASSERT_TRUE(again);
    EXPECT_NE(again, redImage);
    EXPECT_EQ(decodes, 2);
}

TEST_F(ThumbnailStoreTest, KeysWithEqualBytesHoldSeparateImages) {
    EXPECT_FALSE(store->image("0-0", red));
    EXPECT_FALSE(store->image("0-1", red));
    settle();
    const Image a = store->image("0-0", red);
    const Image b = store->image("0-1", red);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(decodes, 2);
}

TEST_F(ThumbnailStoreTest, AStoreGoneSkipsItsQueuedDecodesAndDropsTheirAnswers) {
    EXPECT_FALSE(store->image("0-0", red));
    EXPECT_FALSE(store->image("0-1", blue));
    worker.runNext();  // one decoded, its answer on the loop
    store = nullptr;
    worker.runAll();
    loop.runPending();  // the answer finds no store and does nothing
    EXPECT_EQ(decodes, 1);
}

TEST_F(ThumbnailStoreTest, OnlyTheImagesOfTheKeysAskedForLastAreKept) {
    // Three banks of two slots, four images kept: looking through the banks keeps the two seen
    // last decoded (the very images given before), and decodes a bank seen before that again.
    store = makeStore(4);
    const Bytes pictures[] = {
        red, blue, pngOf(Qt::green), pngOf(Qt::yellow), pngOf(Qt::cyan), pngOf(Qt::magenta)};
    std::map<int, Image> shown;  // by bank * 2 + slot
    const std::pair<int, int> looks[] = {{0, 2}, {1, 4}, {0, 4}, {2, 6}, {0, 6}, {1, 8}, {2, 10}};
    for (const auto& [bank, decodesAfter] : looks) {
        SCOPED_TRACE("bank " + std::to_string(bank));
        for (int i = bank * 2; i < bank * 2 + 2; ++i) {
            const std::string key = std::to_string(bank) + "-" + std::to_string(i % 2);
            Image image = store->image(key, pictures[i]);
            EXPECT_TRUE(!image || image == shown[i]);
            shown[i] = image ? image : decoded(key, pictures[i]);
        }
        EXPECT_EQ(decodes, decodesAfter);
        EXPECT_TRUE(shown[bank * 2] && shown[bank * 2 + 1]);
    }
}

}  // namespace
}  // namespace kestio

// How the importer hands work to its threads and answers back: never inside the call, once per
// request, nothing after it is gone.

#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "importer_harness.h"
#include "platform/runloop/console.h"
#include "support/media_fixtures.h"

namespace kestio::test {
namespace {

TEST(ImporterAnswers, NeverInsideTheCallEvenWhenNothingIsToBeRead) {
    ImporterHarness harness;
    int answers = 0;
    harness.importer.importMeta("/shows/cue.txt", 0.0, [&](ImportOutcome) { ++answers; });
    EXPECT_EQ(answers, 0);
    harness.loop.runPending();
    EXPECT_EQ(answers, 1);
}

TEST(ImporterAnswers, ManyImportsAtOnceEachAnswerOnce) {
    ImporterHarness harness(ImportBackend::standard(), 4);
    std::map<std::filesystem::path, int> answers;
    std::size_t expected = 0;
    for (const MediaFile* file : mediaFixtures().all()) {
        harness.importer.importMeta(file->path, 0.0,
                                    [&answers, path = file->path](ImportOutcome outcome) {
                                        EXPECT_NE(resultOf(outcome), nullptr) << path;
                                        ++answers[path];
                                    });
        ++expected;
    }
    std::optional<bool> allIn;
    while (!allIn) {
        if (!harness.loop.waitForPosted(kWallGuardSeconds)) {
            FAIL() << answers.size() << " of " << expected << " answered";
        }
        if (answers.size() == expected) {
            allIn = true;
        }
    }
    for (const auto& [path, count] : answers) {
        EXPECT_EQ(count, 1) << path;
    }
}

TEST(ImporterAnswers, NothingArrivesOnceTheImporterIsGoneAndItsWorkersStop) {
    std::atomic<int> cancelledGrabs{0};
    ImportBackend backend = ImportBackend::standard();
    backend.grabFrame = [&cancelledGrabs](const std::filesystem::path&, double, double, QSize,
                                          JobControl& control) {
        control.waitUntilCancelled();
        ++cancelledGrabs;
        return platform::media::Loaded<QImage>::failure("cancelled");
    };
    platform::ManualRunLoop loop;
    platform::BookmarkService bookmarks([](const std::filesystem::path&, bool) { return true; });
    int answers = 0;
    {
        ClipImporter importer(loop, bookmarks, backend, 2);
        importer.verifyRenderablePipeline("/clips/a.mp4", 0.0, 5.0, [&](bool) { ++answers; });
        importer.videoThumbnail("/clips/a.mp4", 0.0, [&](auto) { ++answers; });
        importer.importMeta(mediaFixtures().audio("wav").path, 0.0, [&](auto) { ++answers; });
        importer.generateWaveform(mediaFixtures().audio("flac").path, 500,
                                  [&](auto) { ++answers; });
        // The destructor cancels the two picture requests stuck on their workers and joins.
    }
    EXPECT_LE(cancelledGrabs.load(), 2);
    loop.waitForPosted(0.0);
    loop.advance(10.0);
    EXPECT_EQ(answers, 0);
}

TEST(ImporterAnswers, ARefusedSecurityScopeStillImportsWithABookmark) {
    platform::ManualRunLoop loop;
    platform::BookmarkService noAccess([](const std::filesystem::path&, bool) { return false; });
    ClipImporter importer(loop, noAccess);
    std::optional<ImportOutcome> outcome;
    importer.importMeta(mediaFixtures().video("mov").path, 0.0,
                        [&](ImportOutcome o) { outcome = std::move(o); });
    ASSERT_TRUE(waitUntilFilled(loop, outcome));
    const ImportResult* result = resultOf(*outcome);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->bookmark.has_value());
}

TEST(ImporterAnswers, StillsAndSoundsGiveTheSameThroughEitherEntry) {
    ImporterHarness harness;
    for (const auto& file :
         {mediaFixtures().still("gif").path, mediaFixtures().audio("aif").path}) {
        platform::Console::Capture console;
        const ImportOutcome viaMeta = harness.importMeta(file, 7.5);
        const ImportOutcome viaFile = harness.importFile(file);
        ASSERT_NE(resultOf(viaMeta), nullptr);
        ASSERT_NE(resultOf(viaFile), nullptr);
        EXPECT_EQ(resultOf(viaMeta)->clipInfo, resultOf(viaFile)->clipInfo);
        EXPECT_EQ(resultOf(viaMeta)->thumbnail, resultOf(viaFile)->thumbnail);
        EXPECT_EQ(resultOf(viaMeta)->waveformData, resultOf(viaFile)->waveformData);
        EXPECT_EQ(resultOf(viaMeta)->bookmark, resultOf(viaFile)->bookmark);
        EXPECT_TRUE(console.lines().empty());
    }
}

}  // namespace
}  // namespace kestio::test

#pragma once

// An importer on a manual run loop, with helpers that start an operation and wait (on a
// wall-clock guard, never a fixed sleep) for its answer to be handed back to the test thread.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>

#include "import/clip_importer.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/bookmark_service.h"

namespace kestio::test {

// How long a real decode may take before a test gives up on it.
inline constexpr double kWallGuardSeconds = 60.0;

// Runs the loop's posted work until `slot` is filled or the guard runs out.
template <typename T>
bool waitUntilFilled(platform::ManualRunLoop& loop, const std::optional<T>& slot,
                     double guardSeconds = kWallGuardSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(guardSeconds));
    loop.runPending();
    while (!slot) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0.0) {
            return false;
        }
        loop.waitForPosted(left);
    }
    return true;
}

class ImporterHarness {
  public:
    explicit ImporterHarness(ImportBackend backend = ImportBackend::standard(), int workers = 2)
        : importer(loop, bookmarks, std::move(backend), workers) {}

    ImportOutcome importMeta(const std::filesystem::path& url, double time = 0.0) {
        std::optional<ImportOutcome> outcome;
        importer.importMeta(url, time, [&](ImportOutcome o) { outcome = std::move(o); });
        return wait(outcome, url);
    }

    ImportOutcome importFile(const std::filesystem::path& url) {
        std::optional<ImportOutcome> outcome;
        importer.importFile(url, 0.0, [&](ImportOutcome o) { outcome = std::move(o); });
        return wait(outcome, url);
    }

    std::optional<ClipImporter::Waveform> waveform(const std::filesystem::path& url, int points) {
        std::optional<std::optional<ClipImporter::Waveform>> answer;
        importer.generateWaveform(url, points, [&](auto w) { answer = std::move(w); });
        return wait(answer, url);
    }

    std::optional<ClipImporter::Bytes> videoThumbnail(const std::filesystem::path& url,
                                                      double seconds) {
        std::optional<std::optional<ClipImporter::Bytes>> answer;
        importer.videoThumbnail(url, seconds, [&](auto png) { answer = std::move(png); });
        return wait(answer, url);
    }

    bool renders(const std::filesystem::path& url, double seconds) {
        std::optional<bool> answer;
        importer.verifyRenderablePipeline(url, seconds, ClipImporter::kRenderCheckTimeout,
                                          [&](bool ok) { answer = ok; });
        return wait(answer, url);
    }

    ClipImporter::Preview regeneratePreview(const std::filesystem::path& url, double time) {
        std::optional<ClipImporter::Preview> answer;
        importer.regeneratePreview(url, time, [&](auto p) { answer = std::move(p); });
        return wait(answer, url);
    }

    platform::ManualRunLoop loop;
    platform::BookmarkService bookmarks{[](const std::filesystem::path&, bool) { return true; }};
    ClipImporter importer;

  private:
    template <typename T>
    T wait(std::optional<T>& slot, const std::filesystem::path& url) {
        if (!waitUntilFilled(loop, slot)) {
            ADD_FAILURE() << "no answer for " << url << " within " << kWallGuardSeconds << " s";
            throw std::runtime_error("no answer");
        }
        return std::move(*slot);
    }
};

// The success of an outcome; a test failure naming the error otherwise.
inline const ImportResult* resultOf(const ImportOutcome& outcome) {
    if (const auto* error = std::get_if<ImportError>(&outcome)) {
        ADD_FAILURE() << "import failed: " << error->description() << "\n" << error->message();
        return nullptr;
    }
    return &std::get<ImportResult>(outcome);
}

inline const ImportError* errorOf(const ImportOutcome& outcome) {
    return std::get_if<ImportError>(&outcome);
}

}  // namespace kestio::test

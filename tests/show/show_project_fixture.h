#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "model/localization_manager.h"
#include "show/project_io.h"
#include "show_fixture.h"
#include "support/temporary_folder.h"

namespace kestio::test {

// The show fixture with a folder for packages and media, and waits for the show's disk work
// (real threads) by what it leads to.
class ShowProjectFixture : public ShowFixture {
  protected:
    TemporaryFolder folder;

    // Runs the loop until `done` holds, for 30 s at most; the disk worker's answers arrive from
    // its thread. (A count of turns would run out early: each answer ends a turn's wait.)
    template <typename Done>
    bool waitFor(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            loop.runPending();
            if (done()) {
                return true;
            }
            loop.waitForPosted(0.05);
        }
        return done();
    }

    bool logged(const std::string& line) const {
        return std::find(playback.logLines.begin(), playback.logLines.end(), line) !=
               playback.logLines.end();
    }
    long logCount(const std::string& line) const {
        return std::count(playback.logLines.begin(), playback.logLines.end(), line);
    }
    bool alerted(const std::string& message) const {
        const auto alerts = dialogs.callsOf("alert");
        return std::any_of(alerts.begin(), alerts.end(),
                           [&](const auto& call) { return call.texts.at(0) == message; });
    }
    bool recentFirst(const std::filesystem::path& package) {
        const auto entries = recentProjects.load();
        return !entries.empty() && entries.front().path == package.string();
    }

    std::filesystem::path writePackage(const ProjectData& project, const std::string& name) {
        return projectManager.save(project, folder / name);
    }

    // Opens the package and waits until the load has run its last step (the recent list).
    void open(const std::filesystem::path& package) {
        show->projectIO().loadProject(package);
        ASSERT_TRUE(waitFor([&] { return recentFirst(package); })) << package;
    }

    // A media file in the folder (its content does not matter to the fakes).
    std::filesystem::path media(const std::string& relative) {
        std::filesystem::create_directories((folder / relative).parent_path());
        return folder.write(relative, "media bytes of " + relative);
    }

    // A slot record referring to `file` as the importer leaves it.
    SlotData slotFor(const std::filesystem::path& file) {
        SlotData slot;
        slot.name = file.stem().string();
        slot.bookmarkData = bookmarks.bookmarkData(file);
        slot.videoURL = file;
        return slot;
    }
};

}  // namespace kestio::test

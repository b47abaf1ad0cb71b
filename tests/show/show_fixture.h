#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <filesystem>
#include <string>

#include "support/show_rig.h"

namespace kestio::test {

// A show controller on a manual run loop with recorded playback, a scripted importer and
// scripted dialogs, in-memory defaults and MIDI through the loopback system.
class ShowFixture : public ::testing::Test, public RecordedShow {
  protected:
    // The slot of the current project (for setting up a case).
    SlotData& slot(int bank, int index) {
        return const_cast<ProjectData&>(show->project())
            .banks[static_cast<std::size_t>(bank)]
            .slots[static_cast<std::size_t>(index)];
    }
    ProjectData& project() { return const_cast<ProjectData&>(show->project()); }
    // Gives the slot a file location, as a loaded project has.
    void load(int bank, int index, const std::string& file) {
        slot(bank, index).videoURL = std::filesystem::path("/media") / file;
        slot(bank, index).name = std::filesystem::path(file).stem().string();
    }
};

}  // namespace kestio::test

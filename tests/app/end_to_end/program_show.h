#pragma once

// What the real kestio program is given when tests and benchmarks start it: settings, data and
// cache folders of its own, and shows whose cues are generated clips, written as the importer
// leaves them.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/project_data.h"
#include "platform/storage/bookmark_service.h"
#include "support/media_fixtures.h"
#include "support/temporary_folder.h"

namespace kestio::test {

// Points the program's settings, data and caches at folders under `folder` (made here), its
// language at C.UTF-8 and its windows at the X server, for as long as the result lives.
inline std::vector<std::unique_ptr<ScopedEnvironment>> programEnvironment(
    const std::filesystem::path& folder) {
    std::vector<std::unique_ptr<ScopedEnvironment>> environment;
    for (const char* name : {"config", "data", "cache"}) {
        std::filesystem::create_directories(folder / name);
    }
    const std::pair<const char*, std::string> variables[] = {
        {"XDG_CONFIG_HOME", (folder / "config").string()},
        {"XDG_DATA_HOME", (folder / "data").string()},
        {"XDG_CACHE_HOME", (folder / "cache").string()},
        {"LANG", "C.UTF-8"},
        // The program draws on the X server, whatever platform the calling process uses.
        {"QT_QPA_PLATFORM", "xcb"},
    };
    for (const auto& [name, value] : variables) {
        environment.push_back(std::make_unique<ScopedEnvironment>(name, value));
    }
    return environment;
}

// Makes `slot` a looping cue named `name` of `clip`, read from `file` (a copy or a link of the
// clip under the cue's own name), with the clip's facts as the importer finds them. The slot's
// other settings stay as they are.
inline void makeLoopingClipCue(SlotData& slot, const MediaFile& clip,
                               const std::filesystem::path& file, const std::string& name,
                               platform::BookmarkService& bookmarks) {
    slot.name = name;
    slot.bookmarkData = bookmarks.bookmarkData(file);
    slot.postRollMode = PostRollMode::loop;
    slot.mediaType = clip.kind == MediaKind::still ? MediaType::still : MediaType::video;
    ClipInfo info;
    info.codec = clip.videoCodec;
    info.resolution = std::to_string(clip.width) + "x" + std::to_string(clip.height);
    info.fps = clip.frameRate.value();
    info.duration = clip.duration;
    slot.clipInfo = info;
}

}  // namespace kestio::test

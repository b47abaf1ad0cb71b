#pragma once

// The folder search of the relink: every media file under a folder, by its name without
// extension, and the matching of missing slots against it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/project_data.h"

namespace kestio {

// Name without extension → every file of that name, in sorted path order. Built on a worker;
// it touches the disk.
using RelinkIndex = std::map<std::string, std::vector<std::filesystem::path>>;

// Indexes the regular files under `folder`, at any depth, whose extension names a supported
// video, still or audio kind. Hidden files and folders (names beginning with ".") are skipped,
// symbolic links are neither indexed nor followed, and unreadable entries are passed over.
// Paths are visited in sorted order, so that files of one name are listed in that order, the
// same on every run. A folder that cannot be read gives an empty index.
RelinkIndex buildRelinkIndex(const std::filesystem::path& folder);

// A slot marked missing, copied out of the project for the search.
struct MissingSlot {
    int bank = 0;
    int slot = 0;
    std::string name;
    std::string bankName;
    // The extension of the file the slot last referred to, in lower case with its dot (".png");
    // empty when unknown.
    std::string extension;
};

// Every slot marked missing, banks and slots in index order. The extension is read from the
// slot's file location, else from the path its bookmark recorded; the disk is not touched.
std::vector<MissingSlot> collectMissingSlots(const ProjectData& project);

// A missing slot, the file found for it and the new bookmark of that file.
struct RelinkMatch {
    int bank = 0;
    int slot = 0;
    std::string name;  // the slot's name the file was found by
    std::filesystem::path file;
    std::vector<std::uint8_t> bookmark;
    // The file is of another extension than the slot's own (or the slot's was unknown): what
    // the slot knows of its clip (facts, picture, kind) must be probed again.
    bool otherFormat = false;
};

struct RelinkPlan {
    std::vector<RelinkMatch> matches;   // in bank and slot order
    std::vector<std::string> notFound;  // list entries of the slots left missing, in order
};

// Makes a bookmark of a found file; none when it cannot be made.
using MakeBookmark =
    std::function<std::optional<std::vector<std::uint8_t>>(const std::filesystem::path&)>;

// Matches every missing slot against the index by its exact name (case and all). Of several
// files of that name, the one with the slot's own extension (in any case) wins, else the first.
// A slot whose name is not in the index, or whose file cannot be bookmarked, is listed as not
// found.
RelinkPlan planRelink(const std::vector<MissingSlot>& missing, const RelinkIndex& index,
                      const MakeBookmark& makeBookmark);

}  // namespace kestio

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/bookmark_service.h"
#include "platform/storage/user_defaults.h"

namespace kestio {

// A project package opened or saved lately.
struct RecentProjectEntry {
    std::string path;
    std::optional<std::vector<std::uint8_t>> bookmark;

    bool operator==(const RecentProjectEntry&) const = default;
};

// The last five projects opened or saved, newest first, kept in the user defaults under
// "recentProjects" as one data value: a compact JSON array of {"path", "bookmark"} objects
// ("bookmark" Base64, left out when there is none). Main thread only.
class RecentProjects {
  public:
    static constexpr const char* kDefaultsKey = "recentProjects";
    static constexpr std::size_t kMaxEntries = 5;

    // Both services are borrowed and must outlive this object.
    RecentProjects(platform::UserDefaults& defaults, const platform::BookmarkService& bookmarks);

    // Over the standard user defaults and bookmark service.
    static RecentProjects standard();

    // The stored list; empty when nothing is stored or the value does not read as a list
    // (the stored value is then left as it is).
    std::vector<RecentProjectEntry> load() const;

    // Replaces the stored list. A list that cannot be encoded removes the key.
    void save(const std::vector<RecentProjectEntry>& entries);

    // Puts the package first with a fresh bookmark (none when one cannot be made), removes
    // other entries of exactly the same path and keeps the first five. A path that is not
    // valid UTF-8 cannot be listed and leaves the list unchanged.
    void add(const std::filesystem::path& package);

    // The JSON form of a list, and the list of a JSON form (none when it does not read).
    static std::string encode(const std::vector<RecentProjectEntry>& entries);
    static std::optional<std::vector<RecentProjectEntry>> decode(std::string_view json);

  private:
    platform::UserDefaults& defaults_;
    const platform::BookmarkService& bookmarks_;
};

}  // namespace kestio

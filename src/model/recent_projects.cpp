#include "model/recent_projects.h"

#include <nlohmann/json.hpp>

#include "model/base64.h"
#include "model/json_text.h"
#include "platform/runloop/console.h"

namespace kestio {

RecentProjects::RecentProjects(platform::UserDefaults& defaults,
                               const platform::BookmarkService& bookmarks)
    : defaults_(defaults), bookmarks_(bookmarks) {}

RecentProjects RecentProjects::standard() {
    return RecentProjects(platform::UserDefaults::standard(),
                          platform::BookmarkService::standard());
}

std::string RecentProjects::encode(const std::vector<RecentProjectEntry>& entries) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto& entry : entries) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        object["path"] = entry.path;
        if (entry.bookmark) {
            object["bookmark"] = base64Encode(*entry.bookmark);
        }
        array.push_back(std::move(object));
    }
    return array.dump();  // throws for text that is not UTF-8
}

std::optional<std::vector<RecentProjectEntry>> RecentProjects::decode(std::string_view json) {
    nlohmann::json value;
    try {
        value = parseJsonText(json);
    } catch (const ModelCodingError&) {
        return std::nullopt;
    }
    if (!value.is_array()) {
        return std::nullopt;
    }
    std::vector<RecentProjectEntry> entries;
    for (const auto& element : value) {
        if (!element.is_object()) {
            return std::nullopt;
        }
        const auto path = element.find("path");
        if (path == element.end() || !path->is_string()) {
            return std::nullopt;
        }
        RecentProjectEntry entry{path->get<std::string>(), std::nullopt};
        const auto bookmark = element.find("bookmark");
        if (bookmark != element.end() && !bookmark->is_null()) {
            if (!bookmark->is_string()) {
                return std::nullopt;
            }
            entry.bookmark = base64Decode(bookmark->get<std::string>());
            if (!entry.bookmark) {
                return std::nullopt;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<RecentProjectEntry> RecentProjects::load() const {
    const auto data = defaults_.data(kDefaultsKey);
    if (!data) {
        return {};
    }
    const std::string_view json(reinterpret_cast<const char*>(data->data()), data->size());
    return decode(json).value_or(std::vector<RecentProjectEntry>{});
}

void RecentProjects::save(const std::vector<RecentProjectEntry>& entries) {
    std::string json;
    try {
        json = encode(entries);
    } catch (const nlohmann::json::exception&) {
        defaults_.remove(kDefaultsKey);
        return;
    }
    defaults_.setData(kDefaultsKey, platform::Bytes(json.begin(), json.end()));
}

void RecentProjects::add(const std::filesystem::path& package) {
    std::string path = package.string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (!isValidUtf8(path)) {
        platform::Console::log("Recent projects: path is not UTF-8, not listed: " + path);
        return;
    }
    RecentProjectEntry entry{path, std::nullopt};
    try {
        entry.bookmark = bookmarks_.bookmarkData(path, platform::BookmarkOption::withSecurityScope);
    } catch (const platform::BookmarkError&) {
    }
    std::vector<RecentProjectEntry> entries = load();
    std::erase_if(entries, [&](const RecentProjectEntry& e) { return e.path == path; });
    entries.insert(entries.begin(), std::move(entry));
    if (entries.size() > kMaxEntries) {
        entries.resize(kMaxEntries);
    }
    save(entries);
}

}  // namespace kestio

#pragma once

#include <filesystem>

namespace kestio::platform {
class NotificationCenter;
}

namespace kestio::app {

// True when the path names a project package: its extension is "ktshow" in any letter case.
bool isProjectPackage(const std::filesystem::path& url);

// A document opened from outside the application (a path given on the command line): a project
// package is posted as "openProjectURL" carrying the path; anything else is ignored. Returns
// whether it was posted.
bool handleOpenURL(platform::NotificationCenter& notifications, const std::filesystem::path& url);

}  // namespace kestio::app

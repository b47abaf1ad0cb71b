#include "app/open_url.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "app/app_delegate.h"
#include "platform/storage/notification_center.h"

namespace kestio::app {

bool isProjectPackage(const std::filesystem::path& url) {
    std::string extension = url.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".ktshow";
}

bool handleOpenURL(platform::NotificationCenter& notifications, const std::filesystem::path& url) {
    if (!isProjectPackage(url)) {
        return false;
    }
    notifications.post(kOpenProjectURLNotification, url);
    return true;
}

}  // namespace kestio::app

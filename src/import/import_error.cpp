#include "import/import_error.h"

#include "import/url_parts.h"

namespace kestio {

ImportError ImportError::unsupportedFormat(std::filesystem::path url) {
    return {Kind::unsupportedFormat, std::move(url), std::nullopt};
}

ImportError ImportError::loadFailed(std::filesystem::path url, std::optional<std::string> reason) {
    return {Kind::loadFailed, std::move(url), std::move(reason)};
}

ImportError ImportError::notPlayable(std::filesystem::path url) {
    return {Kind::notPlayable, std::move(url), std::nullopt};
}

std::string ImportError::message() const {
    const std::string fileName = lastPathComponent(url_);
    switch (kind_) {
        case Kind::unsupportedFormat:
            return "非対応の形式です: " + fileName;
        case Kind::loadFailed: {
            std::string text = "読み込みに失敗しました: " + fileName;
            if (asciiLowercase(pathExtension(url_)) == "mxf") {
                text += "\n\n";
                text += kMxfHint;
            } else if (reason_ && !reason_->empty()) {
                text += "\n(" + *reason_ + ")";
            }
            return text;
        }
        case Kind::notPlayable:
            return "再生できない形式です: " + fileName + "\n" + kCodecHint;
    }
    return {};
}

std::string ImportError::description() const {
    switch (kind_) {
        case Kind::unsupportedFormat:
            return "unsupportedFormat(" + url_.string() + ")";
        case Kind::loadFailed:
            return "loadFailed(" + url_.string() +
                   ", reason: " + (reason_ ? "\"" + *reason_ + "\"" : std::string("nil")) + ")";
        case Kind::notPlayable:
            return "notPlayable(" + url_.string() + ")";
    }
    return {};
}

}  // namespace kestio

#include "import/url_parts.h"

#include <algorithm>

namespace kestio {

std::string lastPathComponent(const std::filesystem::path& url) {
    std::string text = url.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text.substr(text.find_last_of('/') + 1);
}

std::string pathExtension(const std::filesystem::path& url) {
    const std::string last = lastPathComponent(url);
    const auto dot = last.find_last_of('.');
    return dot == std::string::npos ? std::string() : last.substr(dot + 1);
}

std::string nameWithoutExtension(const std::filesystem::path& url) {
    const std::string last = lastPathComponent(url);
    const auto dot = last.find_last_of('.');
    if (dot == std::string::npos || dot == 0) {
        return last;
    }
    return last.substr(0, dot);
}

std::string asciiLowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

}  // namespace kestio

#pragma once

// The parts of a file location that import texts and slot names are made from.

#include <filesystem>
#include <string>

namespace kestio {

// The last component of the path, extension included ("clip.mov"); trailing slashes ignored.
std::string lastPathComponent(const std::filesystem::path& url);

// The text after the last dot of the last component, as written ("MOV"); empty without a dot.
std::string pathExtension(const std::filesystem::path& url);

// The last component without its extension ("a.b.mov" gives "a.b"). A component that is only
// an extension (".mov") is kept whole.
std::string nameWithoutExtension(const std::filesystem::path& url);

// Lower-case ASCII letters of `text`.
std::string asciiLowercase(std::string text);

}  // namespace kestio

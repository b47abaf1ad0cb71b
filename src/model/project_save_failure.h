#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "model/app_language.h"

namespace kestio {

// What the operator is told when a package cannot be saved: the package's path, then why, in
// the operator's words and language (the disk is full, not allowed to write, the disk is
// read-only, something else is in the way, or the disk failed), judged from `error` (what
// saving threw). The library's own wording is for the console. Any thread.
std::string projectSaveFailureText(const std::filesystem::path& package,
                                   const std::exception& error, AppLanguage language);

// What the operator is told when the show was saved but its slot pictures were not (`error`
// says why): the show is safe, the pictures are missing until the next save that can write
// them.
std::string picturesNotSavedText(const std::filesystem::path& package, std::error_code error,
                                 AppLanguage language);

}  // namespace kestio

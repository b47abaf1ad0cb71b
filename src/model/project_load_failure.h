#pragma once

#include <exception>
#include <filesystem>
#include <string>

#include "model/app_language.h"

namespace kestio {

// What the operator is told when a package cannot be opened: the package's path, then why, in
// the operator's words and language (not found, not a project package, not allowed to read,
// damaged, unreadable), judged from `error` (what reading it threw) and from what is at the
// path now. The library's own wording is for the console. Any thread.
std::string projectLoadFailureText(const std::filesystem::path& package,
                                   const std::exception& error, AppLanguage language);

}  // namespace kestio

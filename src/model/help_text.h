#pragma once

#include <string_view>

#include "model/app_language.h"

namespace kestio {

// The help panel's text in the given language (a literal; ends with a line feed).
std::string_view helpText(AppLanguage language);

}  // namespace kestio

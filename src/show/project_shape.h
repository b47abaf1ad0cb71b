#pragma once

#include <optional>
#include <string>

#include "model/app_language.h"
#include "model/project_data.h"

namespace kestio {

// Why a loaded project cannot be shown: fewer than one row or column, or no bank. None when
// its grid is usable. The text is the "Load Failed" alert's informative text, in the language
// given.
std::optional<std::string> projectShapeProblem(const ProjectData& project, AppLanguage language);

}  // namespace kestio

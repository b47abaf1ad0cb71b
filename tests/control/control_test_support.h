#pragma once

#include <filesystem>
#include <string>

#include "model/app_language.h"

namespace kestio::test {

// Sets the language of the shared localisation manager.
void setLanguage(AppLanguage language);

// The folder where tests leave files for a person to look at (screenshots).
std::filesystem::path testOutputDir();

// The private configuration folder of this test process ($XDG_CONFIG_HOME).
std::filesystem::path configHome();

}  // namespace kestio::test

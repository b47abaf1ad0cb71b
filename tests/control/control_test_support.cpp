#include "control_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "model/localization_manager.h"

namespace kestio::test {

namespace {

// Points $XDG_CONFIG_HOME at a private folder before anything reads the user defaults, so
// tests never touch the user's settings; removes it at the end.
class PrivateConfigHome : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestio-control-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            FAIL() << "cannot make a temporary folder";
        }
        folder() = pattern;
        setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder(), ignored);
    }
    static std::filesystem::path& folder() {
        static std::filesystem::path path;
        return path;
    }
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PrivateConfigHome);

}  // namespace

void setLanguage(AppLanguage language) {
    LocalizationManager::shared().language = language;
}

std::filesystem::path testOutputDir() {
    std::filesystem::path dir = KESTIO_TEST_OUTPUT_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

std::filesystem::path configHome() {
    return PrivateConfigHome::folder();
}

}  // namespace kestio::test

// The main of every test binary: a user-defaults folder of its own, one QApplication (offscreen
// unless told otherwise), then GoogleTest.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// Points $XDG_CONFIG_HOME at a folder of this process's own before anything reads the user
// defaults, and removes it at the end: tests never touch the user's settings, nor each other's
// when test processes run side by side (a language one test stores would be read by another).
class PrivateConfigHome {
  public:
    PrivateConfigHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestio-config-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) {
            folder_ = pattern;
            setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
        }
    }
    ~PrivateConfigHome() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivateConfigHome(const PrivateConfigHome&) = delete;
    PrivateConfigHome& operator=(const PrivateConfigHome&) = delete;

  private:
    std::filesystem::path folder_;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const PrivateConfigHome configHome;
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

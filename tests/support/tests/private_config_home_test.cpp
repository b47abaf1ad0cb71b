// Test processes run side by side: each keeps its user defaults (the language among them) in a
// folder of its own, so that what one test stores is never read by another.

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <filesystem>
#include <string>

namespace {

TEST(TestProcess, KeepsItsUserDefaultsInAFolderOfItsOwn) {
    const std::filesystem::path config =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    EXPECT_EQ(config.parent_path(), std::filesystem::temp_directory_path());
    EXPECT_EQ(config.filename().string().rfind("kestio-config-", 0), 0u) << config;
    EXPECT_TRUE(std::filesystem::is_directory(config)) << config;
}

}  // namespace

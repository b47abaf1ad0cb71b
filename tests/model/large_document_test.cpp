// Documents far larger than any project, refused by a streaming pass before they are read
// whole. Each load runs in a child process under an address-space limit, so that a reader that
// builds the whole tree first fails the test instead of taking the machine's memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "model/model_coding_error.h"
#include "model/project_coding.h"
#include "model/project_manager.h"
#include "support/limited_child.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

// Refusing any document must take less than this beyond what the child inherits.
constexpr long long kRefusalBytes = 100LL * 1024 * 1024;

// Writes a package whose data.json is made by `write`, in pieces.
std::filesystem::path package(const TemporaryFolder& folder, const std::string& name,
                              const std::function<void(std::ofstream&)>& write) {
    const auto dir = folder.path() / name;
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / ProjectManager::kDataFileName, std::ios::binary);
    write(out);
    return dir;
}

void repeat(std::ofstream& out, const std::string& text, std::size_t times) {
    for (std::size_t i = 0; i < times; ++i) {
        out << text;
    }
}

// The key path of the refusal, read in a limited child and handed back through a file.
std::string refusalInChild(const std::filesystem::path& dir) {
    const auto answer = dir.parent_path() / (dir.filename().string() + ".answer");
    const ChildResult child = runLimited(kRefusalBytes, 20, [&] {
        try {
            ProjectManager::shared().load(dir);
            std::ofstream(answer) << "loaded";
        } catch (const ModelCodingError& error) {
            std::ofstream(answer) << "refused at '" << error.keyPath() << "'";
        }
    });
    EXPECT_TRUE(child.exited) << "killed by signal " << child.code;
    std::ifstream in(answer);
    std::string text;
    std::getline(in, text);
    return text;
}

TEST(LargeDocument, DocumentsBeyondTheLimitsAreRefusedWithinTheMemoryBound) {
    TemporaryFolder folder;
    struct Case {
        std::string name;
        std::function<void(std::ofstream&)> write;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"ninety megabytes of empty slots",
         [](std::ofstream& out) {
             out << R"({"banks": [)";
             for (int b = 0; b < 20; ++b) {
                 out << (b ? "," : "") << R"({"name": "B", "slots": [{})";
                 repeat(out, ", {}", 1'125'000);
                 out << "]}";
             }
             out << "]}";
         },
         "refused at 'banks[0].slots'"},
        {"a bank too many",
         [](std::ofstream& out) {
             out << R"({"banks": [{"name": "B", "slots": []})";
             repeat(out, R"(, {"name": "B", "slots": []})", 1000);
             out << "]}";
         },
         "refused at 'banks'"},
        {"slots over the total in banks within their own limit",
         [](std::ofstream& out) {
             out << R"({"banks": [)";
             for (int b = 0; b < 21; ++b) {
                 out << (b ? "," : "") << R"({"name": "B", "slots": [{})";
                 repeat(out, ",{}", 9999);
                 out << "]}";
             }
             out << "]}";
         },
         "refused at 'banks'"},
        {"a name of forty megabytes",
         [](std::ofstream& out) {
             out << R"({"banks": [{"name": ")";
             repeat(out, std::string(1 << 20, 'n'), 40);
             out << R"(", "slots": []}]})";
         },
         "refused at ''"},
        {"text cut short after many slots",
         [](std::ofstream& out) {
             out << R"({"banks": [{"name": "B", "slots": [{})";
             repeat(out, R"(, {"name": "a slot of some length to fill the file"})", 9000);
         },
         "refused at ''"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusalInChild(package(folder, "case", c.write)), c.refusal);
        std::filesystem::remove_all(folder.path() / "case");
    }
}

TEST(LargeDocument, AFileLargerThanTheLargestProjectIsRefusedUnread) {
    TemporaryFolder folder;
    const auto dir = package(folder, "sparse", [](std::ofstream& out) { out << "{"; });
    // A sparse file: its size is what counts, and it takes no disk space.
    std::filesystem::resize_file(dir / ProjectManager::kDataFileName, kMaxDocumentBytes + 1);
    EXPECT_EQ(refusalInChild(dir), "refused at ''");
}

}  // namespace
}  // namespace kestio::test

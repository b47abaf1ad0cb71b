// Documents at the limits and far beyond them. Those beyond are refused by a streaming pass
// before they are read whole; those at the limits are saved and reopened slot by slot. Each
// memory case runs in a child process under an address-space limit, so that a reader or writer
// that builds the whole tree fails the test instead of taking the machine's memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "model/json_text.h"
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

// The project in the package, less the thumbnails folder's bookmark that saving adds.
ProjectData reopened(const std::filesystem::path& dir) {
    ProjectData project = ProjectManager::shared().load(dir);
    project.thumbnailsFolderBookmark.reset();
    return project;
}

// Text the reader would refuse for its length as written is refused by the writer, naming its
// key, and the package keeps its previous document; text just within the length is saved and
// opens again.
TEST(LargeDocument, ASavedShowAlwaysOpensAgain) {
    TemporaryFolder folder;
    const auto dir = folder.path() / "show.ktshow";
    const std::size_t limit = kMaxJsonStringBytes;
    struct Case {
        std::string name;
        std::function<void(ProjectData&)> change;
        std::string refusedAt;  // empty when the project is saved and opens again
    };
    const std::vector<Case> cases = {
        {"a slot name of the longest length",
         [&](ProjectData& p) { p.banks[0].slots[0].name = std::string(limit, 'n'); }, ""},
        {"a slot name a byte longer",
         [&](ProjectData& p) { p.banks[0].slots[0].name = std::string(limit + 1, 'n'); },
         "banks[0].slots[0].name"},
        {"a bank name of control characters, six bytes each as written",
         [&](ProjectData& p) { p.banks[1].name = std::string(limit / 6 + 1, '\x01'); },
         "banks[1].name"},
        {"a shortcut key of quotation marks, two bytes each as written",
         [&](ProjectData& p) { p.banks[2].slots[0].shortcutKey = std::string(limit / 2 + 1, '"'); },
         "banks[2].slots[0].shortcutKey"},
        {"a bookmark whose Base64 text is of the longest length",
         [&](ProjectData& p) {
             p.banks[0].slots[0].bookmarkData = std::vector<std::uint8_t>(limit / 4 * 3, 7);
         },
         ""},
        {"a bookmark whose Base64 text is longer",
         [&](ProjectData& p) {
             p.banks[0].slots[0].bookmarkData = std::vector<std::uint8_t>(limit / 4 * 3 + 1, 7);
         },
         "banks[0].slots[0].bookmarkData"},
        {"a MIDI assignment target a byte longer",
         [&](ProjectData& p) {
             p.midiControlAssignments = {{std::string(limit + 1, 't'), 1, 1}};
         },
         "midiControlAssignments[0].target"},
    };
    const ProjectData previous(1, 1);
    ProjectManager::shared().save(previous, dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectData project(1, 1);
        c.change(project);
        if (c.refusedAt.empty()) {
            ProjectManager::shared().save(project, dir);
            EXPECT_EQ(reopened(dir), project);
            ProjectManager::shared().save(previous, dir);
            continue;
        }
        try {
            ProjectManager::shared().save(project, dir);
            ADD_FAILURE() << "saved";
        } catch (const ModelCodingError& error) {
            EXPECT_EQ(error.keyPath(), c.refusedAt);
        }
        EXPECT_EQ(reopened(dir), previous);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              2);  // the document and the thumbnails folder, no temporary file
}

// Saving and reopening must stay far below what the tree of the whole document takes (about
// 1.7 GB to save and 1.2 GB to reopen these 200,000 slots): the child holds the project and
// the one it reads back, and may take this much beyond what it inherits.
constexpr long long kSaveAndReopenBytes = 500LL * 1024 * 1024;

TEST(LargeDocument, AShowAtTheLimitsIsSavedAndReopenedWithinTheMemoryBound) {
    TemporaryFolder folder;
    const auto dir = folder.path() / "limits.ktshow";
    const ChildResult child = runLimited(kSaveAndReopenBytes, 300, [&] {
        ProjectManager::shared().save(ProjectData(100, 100), dir);
        const ProjectData reopened = ProjectManager::shared().load(dir);
        const bool whole = reopened.banks.size() == 20 &&
                           std::all_of(reopened.banks.begin(), reopened.banks.end(),
                                       [](const BankData& b) { return b.slots.size() == 10000; }) &&
                           reopened.banks[19].slots[9999].name == "200000" &&
                           reopened.rows == 100 && reopened.columns == 100;
        _exit(whole ? 0 : 3);
    });
    EXPECT_TRUE(child.exited) << "killed by signal " << child.code;
    EXPECT_EQ(child.code, 0);
}

}  // namespace
}  // namespace kestio::test

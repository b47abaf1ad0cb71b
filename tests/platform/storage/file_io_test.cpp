#include "platform/storage/file_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "platform/storage/forked_child.h"
#include "support/temporary_folder.h"

namespace kestio::platform {
namespace {

namespace fs = std::filesystem;
using kestio::test::runInChild;
using kestio::test::TemporaryFolder;

std::string contentOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class AtomicWriteTest : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    fs::path file = folder / "data.json";
};

TEST_F(AtomicWriteTest, WritesANewFileAndReplacesAnOldOneKeepingItsPermissions) {
    writeFileAtomically(file, std::string_view("first"));
    EXPECT_EQ(contentOf(file), "first");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(file).permissions(),
              static_cast<fs::perms>(0666 & ~mask) & fs::perms::all);

    fs::permissions(file, static_cast<fs::perms>(0640));
    writeFileAtomically(file, std::string_view("second, longer than the first"));
    EXPECT_EQ(contentOf(file), "second, longer than the first");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, static_cast<fs::perms>(0640));

    writeFileAtomically(file, std::string_view(""));
    EXPECT_EQ(contentOf(file), "");
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"data.json"});
}

TEST_F(AtomicWriteTest, AFailedReplaceLeavesTheOldContentAndNoTemporaryFile) {
    fs::create_directories(folder / "data.json" / "inside");  // a folder where the file goes
    EXPECT_THROW(writeFileAtomically(file, std::string_view("x")), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(folder / "data.json" / "inside"));
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"data.json"});

    EXPECT_THROW(writeFileAtomically(folder / "missing" / "data.json", std::string_view("x")),
                 fs::filesystem_error);
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

// Content handed over whole, and the same content put out to a stream in pieces.
const std::vector<std::pair<const char*, std::function<void(const fs::path&, const std::string&)>>>
    kWriteForms = {
        {"whole", [](const fs::path& f, const std::string& c) { writeFileAtomically(f, c); }},
        {"streamed",
         [](const fs::path& f, const std::string& c) {
             writeFileAtomically(f, [&](std::ostream& out) {
                 for (std::size_t at = 0, piece = 1; at < c.size(); at += piece, piece += 997) {
                     out << std::string_view(c).substr(at, piece);
                 }
             });
         }},
};

TEST_F(AtomicWriteTest, AWriteThatRunsOutOfSpaceLeavesTheOldContentAndNoTemporaryFile) {
    for (const auto& [form, write] : kWriteForms) {
        SCOPED_TRACE(form);
        writeFileAtomically(file, std::string_view("old content"));
        // A file size limit makes write() fail part way, as a full disk would.
        auto child = runInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                write(file, std::string(1000000, 'n'));
            } catch (const fs::filesystem_error& e) {
                if (e.code().value() == EFBIG) {
                    _exit(42);
                }
            }
        });
        ASSERT_TRUE(child.exited);
        EXPECT_EQ(child.code, 42);
        EXPECT_EQ(contentOf(file), "old content");
        EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"data.json"});
    }
}

TEST_F(AtomicWriteTest, StreamedContentArrivesWholeInPiecesOfAnySize) {
    std::string content(3 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 31 + i / 4096);
    }
    kWriteForms[1].second(file, content);
    EXPECT_EQ(contentOf(file), content);
    writeFileAtomically(file, [](std::ostream&) {});
    EXPECT_EQ(contentOf(file), "");
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"data.json"});
}

TEST_F(AtomicWriteTest, AStreamWriterThatThrowsLeavesTheOldContentAndNoTemporaryFile) {
    writeFileAtomically(file, std::string_view("old content"));
    const auto failing = [](std::ostream& out) {
        out << std::string(1 << 20, 'x');  // more than is held before it goes to the file
        throw std::runtime_error("the content cannot be made");
    };
    EXPECT_THROW(writeFileAtomically(file, failing), std::runtime_error);
    EXPECT_EQ(contentOf(file), "old content");
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"data.json"});
}

TEST_F(AtomicWriteTest, AProcessKilledWhileWritingLeavesOneWholeVersion) {
    const std::string a(1 << 20, 'a');
    const std::string b(1 << 20, 'b');
    writeFileAtomically(file, a);
    for (int round = 0; round < 20; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = kestio::test::startChild([&] {
            ::close(pipeFds[0]);
            for (int i = 0;; ++i) {
                writeFileAtomically(file, i % 2 ? a : b);
                const char tick = 1;
                if (::write(pipeFds[1], &tick, 1) != 1) {
                    return;
                }
            }
        });
        ::close(pipeFds[1]);
        // Wait for a few complete writes, then kill while the next one is under way.
        char ticks[1 + 3];
        std::size_t got = 0;
        const std::size_t want = 1 + static_cast<std::size_t>(round % 3);
        while (got < want) {
            const ssize_t n = ::read(pipeFds[0], ticks, want - got);
            ASSERT_GT(n, 0);
            got += static_cast<std::size_t>(n);
        }
        ::kill(pid, SIGKILL);
        kestio::test::waitForChild(pid);
        ::close(pipeFds[0]);
        const std::string now = contentOf(file);
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
        // What a kill leaves beside the file is known as the write's own temporary file.
        for (const auto& name : entriesOf(folder.path())) {
            EXPECT_TRUE(name == "data.json" || isTemporaryFileName(name, "data.json")) << name;
        }
    }
}

TEST(ReadFileTest, ReadsWholeFilesAndFailsOnFoldersAndMissingFiles) {
    TemporaryFolder folder;
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7);
    }
    std::ofstream(folder / "f", std::ios::binary) << big;
    const Bytes read = readFile(folder / "f");
    EXPECT_EQ(std::string(read.begin(), read.end()), big);
    EXPECT_THROW(readFile(folder / "missing"), fs::filesystem_error);
    EXPECT_THROW(readFile(folder.path()), fs::filesystem_error);
}

TEST(ReadRegularFileTest, AcceptsOnlyARegularFileOfBoundedSize) {
    TemporaryFolder folder;
    std::ofstream(folder / "ok.png") << "12345";
    fs::create_symlink(folder / "ok.png", folder / "link.png");
    fs::create_directory(folder / "dir.png");
    ASSERT_EQ(::mkfifo((folder / "fifo.png").c_str(), 0600), 0);

    EXPECT_EQ(readRegularFile(folder / "ok.png", 5), (Bytes{'1', '2', '3', '4', '5'}));
    EXPECT_FALSE(readRegularFile(folder / "ok.png", 4));
    EXPECT_FALSE(readRegularFile(folder / "link.png", 100));
    EXPECT_FALSE(readRegularFile(folder / "dir.png", 100));
    EXPECT_FALSE(readRegularFile(folder / "fifo.png", 100));  // must not block
    EXPECT_FALSE(readRegularFile("/dev/zero", 100));
    EXPECT_FALSE(readRegularFile(folder / "missing.png", 100));
}

}  // namespace
}  // namespace kestio::platform

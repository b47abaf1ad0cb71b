#include "platform/storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace kestio::platform {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes and reports the error of close() (a delayed write error on some file systems).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

int writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// A stream buffer that writes to a descriptor in pieces of 256 KiB and keeps the first error.
class DescriptorOutput : public std::streambuf {
  public:
    explicit DescriptorOutput(int fd) : fd_(fd), buffer_(std::size_t(256) << 10) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    int error() const { return error_; }

  protected:
    int_type overflow(int_type c) override {
        if (!drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

  private:
    bool drain() {
        if (error_ == 0) {
            const auto size = static_cast<std::size_t>(pptr() - pbase());
            error_ = writeAll(fd_, std::span(reinterpret_cast<const std::uint8_t*>(pbase()), size));
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    int fd_;
    int error_ = 0;
    std::vector<char> buffer_;
};

// Puts the content into the descriptor; returns the error of the writes, 0 when all went out.
using Fill = std::function<int(int fd)>;

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kTemporaryDigits = 16;

std::string temporaryName(const std::string& name) {
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid())};
    const std::uint64_t value = random() ^ (counter.fetch_add(1) << 48);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(value));
    return "." + name + std::string(kTemporaryMark) + suffix;
}

// Gives the new file the permissions of the file it replaces, if there is one.
void keepPermissions(int dirFd, const std::string& name, int fd) {
    struct stat old {};
    if (::fstatat(dirFd, name.c_str(), &old, 0) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd, old.st_mode & 07777);
    }
}

// Creates an unnamed file in the folder and gives it a temporary name once its content is
// on disk, so that a process killed while writing leaves nothing behind. Returns the name,
// or an empty string when the file system cannot do this (then a named file is used).
std::string writeUnnamed(int dirFd, const std::string& name, const Fill& fill,
                         Durability durability, const fs::path& file) {
    FileDescriptor fd(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!fd) {
        return {};
    }
    keepPermissions(dirFd, name, fd.get());
    if (const int error = fill(fd.get())) {
        fail("cannot write", file, error);
    }
    if (durability == Durability::flushed && ::fsync(fd.get()) != 0) {
        fail("cannot flush", file, errno);
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd.get());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string tmp = temporaryName(name);
        if (::linkat(AT_FDCWD, procPath.c_str(), dirFd, tmp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (const int error = fd.close()) {
                ::unlinkat(dirFd, tmp.c_str(), 0);
                fail("cannot write", file, error);
            }
            return tmp;
        }
        if (errno != EEXIST) {
            return {};  // no /proc, or the link is refused: fall back to a named file
        }
    }
    return {};
}

std::string writeNamed(int dirFd, const std::string& name, const Fill& fill, Durability durability,
                       const fs::path& file) {
    std::string tmp;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        tmp = temporaryName(name);
        fd.reset(::openat(dirFd, tmp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST) {
            fail("cannot create a temporary file for", file, errno);
        }
    }
    if (!fd) {
        fail("cannot create a temporary file for", file, EEXIST);
    }
    keepPermissions(dirFd, name, fd.get());
    int error = 0;
    try {
        error = fill(fd.get());
    } catch (...) {
        fd.reset();
        ::unlinkat(dirFd, tmp.c_str(), 0);
        throw;
    }
    if (error == 0 && durability == Durability::flushed && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (const int closeError = fd.close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        ::unlinkat(dirFd, tmp.c_str(), 0);
        fail("cannot write", file, error);
    }
    return tmp;
}

void writeAtomically(const fs::path& file, const Fill& fill, Durability durability) {
    const std::string name = file.filename().string();
    if (name.empty() || name == "." || name == "..") {
        fail("not a file name", file, EINVAL);
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    FileDescriptor dir(::open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    if (!dir) {
        fail("cannot open the folder of", file, errno);
    }
    std::string tmp = writeUnnamed(dir.get(), name, fill, durability, file);
    if (tmp.empty()) {
        tmp = writeNamed(dir.get(), name, fill, durability, file);
    }
    if (::renameat(dir.get(), tmp.c_str(), dir.get(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(dir.get(), tmp.c_str(), 0);
        fail("cannot replace", file, error);
    }
    if (durability == Durability::flushed) {
        ::fsync(dir.get());  // makes the new name itself durable; the content already is
    }
}

}  // namespace

void flushFiles(std::span<const fs::path> files) {
    std::vector<FileDescriptor> open(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        open[i].reset(::open(files[i].c_str(), O_RDONLY | O_CLOEXEC));
        if (!open[i]) {
            fail("cannot flush", files[i], errno);
        }
        ::sync_file_range(open[i].get(), 0, 0, SYNC_FILE_RANGE_WRITE);  // starts the writes
    }
    std::vector<fs::path> folders;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (::fdatasync(open[i].get()) != 0) {
            fail("cannot flush", files[i], errno);
        }
        const fs::path folder = files[i].has_parent_path() ? files[i].parent_path() : ".";
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    for (const auto& folder : folders) {
        FileDescriptor dir(::open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC));
        if (!dir || ::fsync(dir.get()) != 0) {
            fail("cannot flush the folder of", folder, errno);
        }
    }
}

bool isTemporaryFileName(std::string_view name, std::string_view target) {
    const std::size_t suffix = kTemporaryMark.size() + kTemporaryDigits;
    if (name.size() < 2 + suffix || name.front() != '.') {
        return false;
    }
    const std::string_view digits = name.substr(name.size() - kTemporaryDigits);
    const std::string_view mark = name.substr(name.size() - suffix, kTemporaryMark.size());
    const std::string_view named = name.substr(1, name.size() - 1 - suffix);
    return mark == kTemporaryMark && (target.empty() || named == target) &&
           digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

void writeFileAtomically(const fs::path& file, std::span<const std::uint8_t> bytes,
                         Durability durability) {
    writeAtomically(
        file, [bytes](int fd) { return writeAll(fd, bytes); }, durability);
}

void writeFileAtomically(const fs::path& file, const std::function<void(std::ostream&)>& write,
                         Durability durability) {
    writeAtomically(
        file,
        [&write](int fd) {
            DescriptorOutput output(fd);
            std::ostream out(&output);
            write(out);
            out.flush();
            if (output.error() != 0) {
                return output.error();
            }
            return out.good() ? 0 : EIO;
        },
        durability);
}

void writeFileAtomically(const fs::path& file, std::string_view bytes, Durability durability) {
    writeFileAtomically(
        file, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        durability);
}

namespace {

int readAll(int fd, Bytes& out, std::size_t limit) {
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        if (out.size() + static_cast<std::size_t>(n) > limit) {
            return EFBIG;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
}

}  // namespace

Bytes readFile(const fs::path& file) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        fail("cannot open", file, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot read", file, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        fail("cannot read", file, EISDIR);
    }
    Bytes out;
    if (S_ISREG(info.st_mode)) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
    if (const int error = readAll(fd.get(), out, SIZE_MAX)) {
        fail("cannot read", file, error);
    }
    return out;
}

std::optional<Bytes> readRegularFile(const fs::path& file, std::size_t maxBytes) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(static_cast<std::size_t>(info.st_size));
    if (readAll(fd.get(), out, maxBytes) != 0) {
        return std::nullopt;
    }
    return out;
}

}  // namespace kestio::platform

#include "platform/storage/bookmark_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/file_identity.h"

namespace kestio::platform {

namespace fs = std::filesystem;

namespace {

// Layout (integers little-endian):
//   "KTBM", version (1 byte), flags (1 byte), path length (u32), path bytes,
//   device (u64), inode (u64), size (u64), modification time in ns (i64), CRC-32 of all
//   the bytes before it (u32).
constexpr std::array<std::uint8_t, 4> kMagic = {'K', 'T', 'B', 'M'};
constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kFlagSecurityScope = 0x01;
constexpr std::uint8_t kFlagDirectory = 0x02;
constexpr std::uint8_t kKnownFlags = kFlagSecurityScope | kFlagDirectory;
constexpr std::size_t kFixedSize = 4 + 1 + 1 + 4 + 8 + 8 + 8 + 8 + 4;
constexpr std::size_t kMaxPathBytes = 1 << 16;
// Entries of a folder looked at when searching for a renamed file.
constexpr int kScanLimit = 100000;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

struct Record {
    bool securityScope = false;
    std::string path;  // raw bytes of an absolute path
    FileIdentity identity;
};

class Writer {
  public:
    void bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void u8(std::uint8_t v) { out.push_back(v); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    Bytes out;
};

class Reader {
  public:
    explicit Reader(const Bytes& in) : in_(in) {}
    std::uint8_t u8() { return in_[pos_++]; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(in_[pos_++]) << (8 * i);
        }
        return v;
    }
    std::uint64_t u64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) {
            v |= static_cast<std::uint64_t>(in_[pos_++]) << (8 * i);
        }
        return v;
    }
    std::string text(std::size_t n) {
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    std::size_t position() const { return pos_; }

  private:
    const Bytes& in_;
    std::size_t pos_ = 0;
};

Bytes encode(const Record& r) {
    Writer w;
    w.bytes(kMagic.data(), kMagic.size());
    w.u8(kVersion);
    w.u8(static_cast<std::uint8_t>((r.securityScope ? kFlagSecurityScope : 0) |
                                   (r.identity.isDirectory ? kFlagDirectory : 0)));
    w.u32(static_cast<std::uint32_t>(r.path.size()));
    w.bytes(r.path.data(), r.path.size());
    w.u64(r.identity.device);
    w.u64(r.identity.inode);
    w.u64(r.identity.size);
    w.u64(static_cast<std::uint64_t>(r.identity.modifiedNs));
    w.u32(crc32(w.out.data(), w.out.size()));
    return std::move(w.out);
}

[[noreturn]] void malformed(const char* why) {
    throw BookmarkError(BookmarkError::Kind::malformed, std::string("damaged bookmark: ") + why);
}

Record decode(const Bytes& data) {
    if (data.size() < kMagic.size() ||
        std::memcmp(data.data(), kMagic.data(), kMagic.size()) != 0) {
        throw BookmarkError(BookmarkError::Kind::notOurs, "not a bookmark of this system");
    }
    if (data.size() < kFixedSize) {
        malformed("truncated");
    }
    const std::size_t body = data.size() - 4;
    Reader crcReader(data);
    for (std::size_t i = 0; i < body; ++i) {
        crcReader.u8();
    }
    if (crcReader.u32() != crc32(data.data(), body)) {
        malformed("checksum");
    }
    Reader in(data);
    in.text(kMagic.size());
    if (in.u8() != kVersion) {
        malformed("unknown version");
    }
    const std::uint8_t flags = in.u8();
    if ((flags & ~kKnownFlags) != 0) {
        malformed("unknown flags");
    }
    const std::uint32_t length = in.u32();
    if (length == 0 || length > kMaxPathBytes || length != data.size() - kFixedSize) {
        malformed("path length");
    }
    Record r;
    r.securityScope = (flags & kFlagSecurityScope) != 0;
    r.path = in.text(length);
    if (r.path.front() != '/' || r.path.find('\0') != std::string::npos) {
        malformed("path");
    }
    r.identity.isDirectory = (flags & kFlagDirectory) != 0;
    r.identity.device = in.u64();
    r.identity.inode = in.u64();
    r.identity.size = in.u64();
    r.identity.modifiedNs = static_cast<std::int64_t>(in.u64());
    return r;
}

fs::path normalised(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) {
        p = path;
    }
    p = p.lexically_normal();
    std::string s = p.native();
    while (s.size() > 1 && s.back() == '/') {
        s.pop_back();
    }
    return fs::path(s);
}

// The entry of `folder` that is the recorded file, unchanged, under another name. Of
// several (hard links), the first by name.
std::optional<fs::path> findRenamed(const fs::path& folder, const FileIdentity& wanted) {
    const int dirFd = ::open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    if (dirFd < 0) {
        return std::nullopt;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return std::nullopt;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    std::optional<std::string> best;
    int seen = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++seen > kScanLimit) {
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, 0) != 0) {
            continue;
        }
        if (FileIdentity::of(fs::path(), st).sameFileUnchanged(wanted) && (!best || name < *best)) {
            best = name;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return folder / *best;
}

}  // namespace

BookmarkService::BookmarkService() : BookmarkService(&BookmarkService::systemAccessCheck) {}

BookmarkService::BookmarkService(AccessCheck accessCheck) : accessCheck_(std::move(accessCheck)) {}

const BookmarkService& BookmarkService::standard() {
    static const BookmarkService instance;
    return instance;
}

bool BookmarkService::systemAccessCheck(const fs::path& path, bool isDirectory) {
    const int mode = R_OK | (isDirectory ? X_OK : 0);
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

Bytes BookmarkService::bookmarkData(const fs::path& path, BookmarkOption option) const {
    const fs::path target = normalised(path);
    struct stat st {};
    if (target.empty() || ::stat(target.c_str(), &st) != 0) {
        const int error = errno;
        throw BookmarkError(
            BookmarkError::Kind::unreachable,
            "cannot make a bookmark of " + path.string() + ": " + std::strerror(error));
    }
    Record r;
    r.securityScope = option == BookmarkOption::withSecurityScope;
    r.path = target.native();
    r.identity = FileIdentity::of(fs::path(), st);
    return encode(r);
}

ResolvedBookmark BookmarkService::resolveBookmarkData(const Bytes& data,
                                                      BookmarkOption option) const {
    const Record r = decode(data);
    const fs::path recorded(r.path);
    std::optional<ResolvedBookmark> found;
    bool foundIsDirectory = r.identity.isDirectory;
    if (const auto now = FileIdentity::of(recorded)) {
        if (now->sameFile(r.identity)) {
            found = ResolvedBookmark{recorded, false, now->size != r.identity.size};
        } else if (now->isDirectory == r.identity.isDirectory) {
            found = ResolvedBookmark{recorded, true, true};  // replaced under the same name
        }
    }
    if (!found) {
        if (auto renamed = findRenamed(recorded.parent_path(), r.identity)) {
            found = ResolvedBookmark{*renamed, true};
        }
    }
    if (!found) {
        throw BookmarkError(BookmarkError::Kind::notFound, "file not found: " + r.path);
    }
    if (option == BookmarkOption::withSecurityScope &&
        !accessCheck_(found->path, foundIsDirectory)) {
        throw BookmarkError(BookmarkError::Kind::noPermission,
                            "no permission to read " + found->path.string());
    }
    return *found;
}

std::optional<fs::path> BookmarkService::recordedPath(const Bytes& data) {
    try {
        return fs::path(decode(data).path);
    } catch (const BookmarkError&) {
        return std::nullopt;
    }
}

bool BookmarkService::startAccessingSecurityScopedResource(const fs::path& path) const {
    const auto id = FileIdentity::of(path);
    return id && accessCheck_(path, id->isDirectory);
}

void BookmarkService::stopAccessingSecurityScopedResource(const fs::path&) const {}

}  // namespace kestio::platform

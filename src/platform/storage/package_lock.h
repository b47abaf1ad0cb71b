#pragma once

#include <filesystem>
#include <optional>

namespace kestio::platform {

// Marks a show package as open in this process: an advisory lock (flock) on the package's
// folder, held while the object lives. The system drops it when the process ends, so a crash
// leaves nothing stale, and nothing is written into the package.
class PackageLock {
  public:
    enum class State { free, heldElsewhere };

    // Locks `package`; none when another open of it holds the lock or the folder cannot be
    // opened (then no one can hold it either).
    static std::optional<PackageLock> acquire(const std::filesystem::path& package);
    // Whether some other open of the package (another process, or another lock of this one)
    // holds its lock now.
    static State probe(const std::filesystem::path& package);

    PackageLock(PackageLock&& other) noexcept;
    PackageLock& operator=(PackageLock&& other) noexcept;
    PackageLock(const PackageLock&) = delete;
    PackageLock& operator=(const PackageLock&) = delete;
    ~PackageLock();

    const std::filesystem::path& package() const { return package_; }

  private:
    PackageLock(int fd, std::filesystem::path package) : fd_(fd), package_(std::move(package)) {}

    int fd_ = -1;
    std::filesystem::path package_;
};

}  // namespace kestio::platform

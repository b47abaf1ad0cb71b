#include "platform/storage/package_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestio::platform {

namespace {

int openFolder(const std::filesystem::path& package) {
    return ::open(package.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool lockNow(int fd) {
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

std::optional<PackageLock> PackageLock::acquire(const std::filesystem::path& package) {
    const int fd = openFolder(package);
    if (fd < 0) {
        return std::nullopt;
    }
    if (!lockNow(fd)) {
        ::close(fd);
        return std::nullopt;
    }
    return PackageLock(fd, package);
}

PackageLock::State PackageLock::probe(const std::filesystem::path& package) {
    const int fd = openFolder(package);
    if (fd < 0) {
        return State::free;
    }
    const bool free = lockNow(fd);
    ::close(fd);  // drops the probe's own lock
    return free ? State::free : State::heldElsewhere;
}

PackageLock::PackageLock(PackageLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), package_(std::move(other.package_)) {}

PackageLock& PackageLock::operator=(PackageLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        package_ = std::move(other.package_);
    }
    return *this;
}

PackageLock::~PackageLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace kestio::platform

#include "core/trash/OperationLock.hpp"

#include "core/common/FileError.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace varnok {
namespace {
std::atomic<bool> held{false};
} // namespace

Url OperationLock::lockFile(const Url& historyFolder) {
    return Url::file(PathText::standardize(historyFolder.path()) + ".lock", false);
}

OperationLock::OperationLock(const Url& historyFolder) {
    if (held.exchange(true, std::memory_order_acquire)) {
        return;
    }
    const std::string path = lockFile(historyFolder).path();
    // Read-only: the lock needs no write access, and a file open for writing would keep the
    // history's file system from being remounted read-only.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        const int error = errno;
        held.store(false, std::memory_order_release);
        throw FileError::fromWriteErrno(error, path);
    }
    // flock belongs to the open file description: another process, or another open of the file,
    // is refused, and the lock goes with the last descriptor when the process ends.
    int result = 0;
    do {
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        held.store(false, std::memory_order_release);
        if (error != EWOULDBLOCK) {
            throw FileError::fromWriteErrno(error, path);
        }
        return;
    }
    owns_ = true;
}

OperationLock::~OperationLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (owns_) {
        held.store(false, std::memory_order_release);
    }
}

} // namespace varnok

#pragma once

#include "core/common/Url.hpp"

namespace varnok {

// The single-operation lock shared by moves to Trash and restores. It is only ever tried, never
// waited for, and it is not recursive: a second try fails even on the thread that holds it. It
// holds within the process and, through an advisory lock on a file beside the history folder,
// across every process that uses that history; the kernel drops it when a process dies.
class OperationLock {
public:
    // Takes the lock when it is free; `owns()` tells whether it did. Throws FileError when the
    // lock file cannot be opened or created (its folder must exist).
    explicit OperationLock(const Url& historyFolder);
    ~OperationLock();
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;

    bool owns() const { return owns_; }

    // "<history folder>.lock", beside the history folder.
    static Url lockFile(const Url& historyFolder);

private:
    bool owns_ = false;
    int fd_ = -1;
};

} // namespace varnok

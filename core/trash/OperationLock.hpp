#pragma once

namespace varnok {

// The process-wide single-operation lock shared by moves to Trash and restores. It is only ever
// tried, never waited for, and it is not recursive: a second try fails even on the thread that
// holds it.
class OperationLock {
public:
    // Takes the lock when it is free; `owns()` tells whether it did.
    OperationLock();
    ~OperationLock();
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;

    bool owns() const { return owns_; }

private:
    bool owns_;
};

} // namespace varnok

#include "core/trash/OperationLock.hpp"

#include <atomic>

namespace varnok {
namespace {
std::atomic<bool> held{false};
} // namespace

OperationLock::OperationLock() : owns_(!held.exchange(true, std::memory_order_acquire)) {}

OperationLock::~OperationLock() {
    if (owns_) {
        held.store(false, std::memory_order_release);
    }
}

} // namespace varnok

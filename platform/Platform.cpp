#include "platform/Platform.hpp"

#include "platform/linux/LinuxPlatform.hpp"

#include <atomic>

namespace varnok {
namespace {
std::atomic<Platform*> installed{nullptr};
} // namespace

Platform& Platform::current() {
    if (Platform* platform = installed.load(std::memory_order_acquire)) {
        return *platform;
    }
    static LinuxPlatform system;
    return system;
}

void Platform::setCurrent(Platform* platform) {
    installed.store(platform, std::memory_order_release);
}

} // namespace varnok

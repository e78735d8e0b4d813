#include "platform/RunningApplications.hpp"

#include "platform/linux/LinuxRunningApplications.hpp"

#include <memory>
#include <mutex>

namespace varnok {
namespace {

std::mutex sourceLock;
// Shared so that a call in progress keeps its source alive while another thread replaces it.
std::shared_ptr<const RunningApplications::Source> installedSource;

} // namespace

std::vector<RunningApplication> RunningApplications::current() {
    std::shared_ptr<const Source> source;
    {
        std::lock_guard lock(sourceLock);
        source = installedSource;
    }
    return source ? (*source)() : system();
}

std::vector<RunningApplication> RunningApplications::system() {
    return LinuxRunningApplications::list();
}

std::vector<OpenFile> RunningApplications::openFiles() {
    return LinuxRunningApplications::openFiles("/proc");
}

void RunningApplications::setSource(Source source) {
    std::lock_guard lock(sourceLock);
    installedSource = source ? std::make_shared<const Source>(std::move(source)) : nullptr;
}

} // namespace varnok

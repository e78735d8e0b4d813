#pragma once

#include "platform/RunningApplications.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace varnok {

// One process of the current user that belongs to a known application.
struct LinuxProcessRecord {
    int pid = 0;
    int parentPid = 0;
    // Clock ticks after boot; with the pid it names one process, even after the pid is reused.
    std::uint64_t startTime = 0;
    std::string bundleIdentifier;
    std::string name;
    bool isRegular = false;
};

// Running applications on Linux, read from /proc. Processes are recognised by a small table that
// maps Flatpak ids, Snap names, executable and process names to the identifiers the cleanup rules
// use. An application's main process is regular; its helpers (processes with a Chromium "--type="
// argument, or started by the application) are reported as background processes with an
// identifier extending the application's own.
class LinuxRunningApplications {
public:
    // The recognised processes of the current user below `procRoot`, in pid order.
    static std::vector<LinuxProcessRecord> processes(const std::string& procRoot);
    // The regular files held open by the processes below `procRoot` whose descriptors this
    // process may read; the others are passed over.
    static std::vector<OpenFile> openFiles(const std::string& procRoot);
    // The live list, each entry holding a pidfd so that quitting and the terminated test cannot
    // reach a process that later reuses the pid.
    static std::vector<RunningApplication> list();
};

} // namespace varnok

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// One running application as the platform reports it. Copies share the process they describe.
struct RunningApplication {
    // Reverse-DNS identifier; auxiliary processes extend their application's own
    // ("com.tinyspeck.slackmacgap.helper"). Missing for processes no one recognises.
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    // An ordinary application with a user interface; helpers and background agents are not.
    bool isRegular = false;
    // Politely asks it to quit, never forcing it. True when the request was delivered.
    std::function<bool()> terminate;
    // Whether it has quit by now. Never mistakes a new process with a reused id for this one.
    std::function<bool()> isTerminated;
};

// A file some process holds open, as stat reports it.
struct OpenFile {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// The list of running applications. The system's list is the default; tests and the application
// may install a fixed source instead.
class RunningApplications {
public:
    using Source = std::function<std::vector<RunningApplication>()>;

    // The installed source's list, or the system's.
    static std::vector<RunningApplication> current();
    // The system's list, whatever source is installed.
    static std::vector<RunningApplication> system();
    // Installs `source` for the whole process; an empty function restores the system's list.
    static void setSource(Source source);
    // The regular files that the processes this user may inspect hold open: every process of
    // the user, and every process at all for root.
    static std::vector<OpenFile> openFiles();
};

// Installs a source of running applications for the lifetime of the scope.
class ScopedRunningApplications {
public:
    explicit ScopedRunningApplications(RunningApplications::Source source) {
        RunningApplications::setSource(std::move(source));
    }
    ~ScopedRunningApplications() { RunningApplications::setSource({}); }
    ScopedRunningApplications(const ScopedRunningApplications&) = delete;
    ScopedRunningApplications& operator=(const ScopedRunningApplications&) = delete;
};

} // namespace varnok

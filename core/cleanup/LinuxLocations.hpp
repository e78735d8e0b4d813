#pragma once

#include "core/cleanup/CleanupCategory.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// The caches, logs and crash reports of a Linux home folder, as data. ConsumerCleanup scans them
// after the macOS Library table.
namespace LinuxLocations {

// One cache folder: a path relative to the home, and who owns it.
struct Cache {
    std::string path;
    std::string title;
    CleanupCategory category;
    // Identifiers of the desktop applications that write it; empty for command-line tools.
    std::vector<std::string> owners;
    // Only to be chosen by hand.
    bool manualOnly = false;
};

// The cache folders in the order they are scanned.
const std::vector<Cache>& caches();

// A folder where old logs or crash reports collect. "*" in a pattern stands for any one folder
// name, so that every Electron application's Crashpad folder is covered.
struct LogFolder {
    enum class Kind { logs, crashDumps, firefoxPending, firefoxSubmitted };
    std::string_view pattern;
    Kind kind;
};

const std::vector<LogFolder>& logFolders();

// The log folder kind for a path relative to the home ("a/b/c.log") whose file lies anywhere
// below a matching folder, and whether its name is one that kind collects. Null when the path is
// in no log folder or the name does not qualify.
std::optional<LogFolder::Kind> logKind(std::string_view relativePath);

// True for names of log files, rotated ones included: "x.log", "x.log.1", "x.log.2.gz",
// "x.log.gz", "x.log.old". Case-insensitive.
bool isLogName(std::string_view lowercasedName);

} // namespace LinuxLocations
} // namespace varnok

#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Date.hpp"
#include "platform/RunningApplications.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnok {

// The cleanup scan of a home folder: the caches of known applications and browsers, and old logs
// and crash reports, in a macOS Library folder and in a Linux home. Read-only; everything it finds
// becomes a CleanupCandidate.
class ConsumerCleanup {
public:
    // One known location.
    struct Rule {
        // Relative to the home folder, separators "/".
        std::string path;
        std::string title;
        CleanupCategory category;
        // The applications that own the location; empty for a command-line tool's cache.
        std::vector<std::string> bundleIDs;
        // A location of a Linux home (~/.cache, ~/.config/<App>/Cache) rather than of Library.
        // Below ".cache" it lies in $XDG_CACHE_HOME, and in each snap's own cache folder.
        bool linuxHome = false;
        // Suggested only to be chosen by hand (see CleanupCandidate::manualOnly).
        bool manualOnly = false;
    };

    struct Result {
        // Largest first; equal sizes in the order found.
        std::vector<CleanupCandidate> candidates;
        // Locations that failed, then the unreadable paths met inside scanned locations.
        std::vector<std::string> unreadable;
        std::int64_t checkedLocations = 0;
        std::int64_t checkedFiles = 0;
    };

    // A location title and the files checked so far. Called on the scanning thread.
    using ProgressHandler = std::function<void(const std::string& title, std::int64_t files)>;

    // The known locations in the order they are scanned: the macOS Library table, then the Linux
    // one.
    static const std::vector<Rule>& rules();
    static const std::array<CleanupCategory, 5>& categories();
    static bool isConsumer(CleanupCategory category);

    // The first rule whose location under `home` is `url`: exactly, or a cache subfolder of a
    // Linux location that holds private data beside its caches, or, for a folder of the cache
    // folder that no rule names, the rule for those. Null when none is.
    static const Rule* rule(const Url& url, const Url& home);
    // The cache folder of `home`: $XDG_CACHE_HOME when `home` is the user's own and the variable
    // names a usable absolute folder outside the system's folders, else home/.cache.
    static std::string cacheHome(const Url& home);
    // The rule's title, or the last path component of `url`.
    static std::string title(const Url& url, const Url& home);
    // Display names of the running applications that own the candidate's location, sorted;
    // empty when it is no known location.
    static std::vector<std::string> runningApps(const CleanupCandidate& candidate, const Url& home);
    static std::vector<std::string> runningApps(const CleanupCandidate& candidate, const Url& home,
                                                const std::vector<RunningApplication>& running);
    // Whether a scanned node may be suggested, or still cleaned, under `category`. `now` is the
    // reference time of the age test for logs. A log that a running process holds open never is.
    static bool eligible(const FileNode& node, CleanupCategory category, const Url& home, Date now);
    // Scans every known location and the log folder below `home`. Throws CleanupProblem when the
    // home folder is reached through a symbolic link, and CancellationError.
    static Result scan(const Url& home, const ProgressHandler& progress);
};

} // namespace varnok

#include "core/cleanup/ConsumerCleanup.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/scan/FilePolicy.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <sys/stat.h>

namespace varnok {
namespace {

// The known locations of a macOS home folder, as data. Cache folders of single applications:
struct FixedLocation {
    std::string_view path;
    std::string_view title;
    CleanupCategory category;
    std::string_view bundleID;
};

constexpr std::array<FixedLocation, 9> fixedLocations = {{
    {"Library/Caches/com.figma.Desktop", "Figma cache", CleanupCategory::appCaches,
     "com.figma.Desktop"},
    {"Library/Caches/com.spotify.client", "Spotify cache", CleanupCategory::appCaches,
     "com.spotify.client"},
    {"Library/Caches/org.videolan.vlc", "VLC cache", CleanupCategory::appCaches,
     "org.videolan.vlc"},
    {"Library/Caches/us.zoom.xos", "Zoom cache", CleanupCategory::appCaches, "us.zoom.xos"},
    {"Library/Caches/Google/Chrome", "Chrome cache", CleanupCategory::browserCaches,
     "com.google.Chrome"},
    {"Library/Caches/com.apple.Safari", "Safari cache", CleanupCategory::browserCaches,
     "com.apple.Safari"},
    {"Library/Caches/Firefox", "Firefox cache", CleanupCategory::browserCaches,
     "org.mozilla.firefox"},
    {"Library/Caches/Microsoft Edge", "Edge cache", CleanupCategory::browserCaches,
     "com.microsoft.edgemac"},
    {"Library/Caches/BraveSoftware/Brave-Browser", "Brave cache", CleanupCategory::browserCaches,
     "com.brave.Browser"},
}};

// Multi-process desktop applications keep their caches in their Application Support folder.
struct ApplicationSupportFolder {
    std::string_view folder;
    CleanupCategory category;
    std::string_view bundleID;
};

constexpr std::array<ApplicationSupportFolder, 4> applicationSupportFolders = {{
    {"Figma", CleanupCategory::appCaches, "com.figma.Desktop"},
    {"Claude", CleanupCategory::aiCaches, "com.anthropic.claudefordesktop"},
    {"Slack", CleanupCategory::communicationCaches, "com.tinyspeck.slackmacgap"},
    {"discord", CleanupCategory::communicationCaches, "com.hnc.Discord"},
}};

constexpr std::array<std::string_view, 3> applicationSupportCaches = {"Cache", "Code Cache",
                                                                      "GPUCache"};

constexpr std::string_view logFolder = "Library/Logs";
constexpr std::array<std::string_view, 4> logSuffixes = {".log", ".log.gz", ".ips", ".crash"};

// Names that mark personal data or secrets inside a cache folder.
constexpr std::array<std::string_view, 10> privateNames = {
    ".git",      ".ssh",    ".env",          "cookies",   "login data",
    "bookmarks", "history", "local storage", "indexeddb", "sessions"};

constexpr double thirtyDays = 2'592'000;

std::vector<ConsumerCleanup::Rule> buildRules() {
    std::vector<ConsumerCleanup::Rule> rules;
    for (const FixedLocation& location : fixedLocations) {
        rules.push_back({std::string(location.path),
                         std::string(location.title),
                         location.category,
                         {std::string(location.bundleID)}});
    }
    for (const ApplicationSupportFolder& app : applicationSupportFolders) {
        for (std::string_view cache : applicationSupportCaches) {
            rules.push_back({"Library/Application Support/" + std::string(app.folder) + "/" +
                                 std::string(cache),
                             std::string(app.folder) + " \u00B7 " + std::string(cache),
                             app.category,
                             {std::string(app.bundleID)}});
        }
    }
    return rules;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string under(const Url& home, std::string_view relative) {
    return PathText::standardize(home.path() + "/" + std::string(relative));
}

bool isRegularWithOneLink(const FileIdentity& identity) {
    return identity.isRegularFile() && identity.linkCount == 1;
}

bool isOldLog(const FileNode& node, const Url& home, Date now) {
    const std::string logs = under(home, logFolder);
    std::string name = FilePolicy::lowercased(node.id.lastPathComponentView());
    if (std::none_of(logSuffixes.begin(), logSuffixes.end(),
                     [&](std::string_view suffix) { return endsWith(name, suffix); })) {
        return false;
    }
    if (!startsWith(node.id.path(), logs + "/")) {
        return false;
    }
    if (!node.identity || !isRegularWithOneLink(*node.identity)) {
        return false;
    }
    double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    return nowSeconds - thirtyDays > static_cast<double>(node.identity->modifiedSeconds);
}

// Every node of the folder, itself included, is a plain folder or a single-link regular file with
// a readable identity, and none is named like private data.
bool holdsOnlyPlainCacheFiles(const FileNode& folder) {
    std::vector<const FileNode*> stack{&folder};
    while (!stack.empty()) {
        const FileNode* node = stack.back();
        stack.pop_back();
        if (node->isSymbolicLink || node->hasReadErrors || !node->identity) {
            return false;
        }
        if (!node->identity->isDirectory() && !isRegularWithOneLink(*node->identity)) {
            return false;
        }
        std::string name = FilePolicy::lowercased(node->id.lastPathComponentView());
        if (std::find(privateNames.begin(), privateNames.end(), name) != privateNames.end() ||
            endsWith(name, ".photoslibrary")) {
            return false;
        }
        for (const FileNode& child : node->children) {
            stack.push_back(&child);
        }
    }
    return true;
}

enum class LocationState { ready, skipped, failed };

// Applies the location rule: absent is silent, any other failure is listed, cancellation ends
// the scan.
template <typename Body>
LocationState guarded(const Url& location, ConsumerCleanup::Result& result, Body&& body) {
    try {
        return body();
    } catch (const CancellationError&) {
        throw;
    } catch (const FileError& error) {
        if (error.code == FileError::noSuchFile || error.code == FileError::readNoSuchFile) {
            return LocationState::skipped;
        }
        result.unreadable.push_back(location.path());
    } catch (const std::exception&) {
        result.unreadable.push_back(location.path());
    }
    return LocationState::failed;
}

// A real folder at exactly this path: not a link, and no link on the way to it.
LocationState checkLocation(const Url& location) {
    Platform& platform = Platform::current();
    ResourceValues values = platform.resourceValues(location);
    if (!values.isDirectory.value_or(false) || values.isSymbolicLink.value_or(true)) {
        return LocationState::skipped;
    }
    if (!PathText::equal(platform.resolvingSymlinks(location).path(), location.path())) {
        return LocationState::skipped;
    }
    return LocationState::ready;
}

} // namespace

const std::vector<ConsumerCleanup::Rule>& ConsumerCleanup::rules() {
    static const std::vector<Rule> table = buildRules();
    return table;
}

const std::array<CleanupCategory, 5>& ConsumerCleanup::categories() {
    static const std::array<CleanupCategory, 5> consumer = {
        CleanupCategory::appCaches, CleanupCategory::browserCaches, CleanupCategory::oldLogs,
        CleanupCategory::aiCaches, CleanupCategory::communicationCaches};
    return consumer;
}

bool ConsumerCleanup::isConsumer(CleanupCategory category) {
    const auto& consumer = categories();
    return std::find(consumer.begin(), consumer.end(), category) != consumer.end();
}

const ConsumerCleanup::Rule* ConsumerCleanup::rule(const Url& url, const Url& home) {
    if (!url.isFileUrl() || !home.isFileUrl()) {
        return nullptr;
    }
    // Paths are compared, so the folder and file forms of one location name the same rule.
    const std::string target = url.standardized().path();
    for (const Rule& candidate : rules()) {
        if (PathText::equal(under(home, candidate.path), target)) {
            return &candidate;
        }
    }
    return nullptr;
}

std::string ConsumerCleanup::title(const Url& url, const Url& home) {
    const Rule* found = rule(url, home);
    return found ? found->title : url.lastPathComponent();
}

std::vector<std::string> ConsumerCleanup::runningApps(const CleanupCandidate& candidate,
                                                      const Url& home) {
    if (rule(candidate.id(), home) == nullptr) {
        return {};
    }
    return runningApps(candidate, home, RunningApplications::current());
}

std::vector<std::string>
ConsumerCleanup::runningApps(const CleanupCandidate& candidate, const Url& home,
                             const std::vector<RunningApplication>& running) {
    const Rule* owner = rule(candidate.id(), home);
    if (owner == nullptr) {
        return {};
    }
    std::vector<std::string> names;
    for (const RunningApplication& app : running) {
        if (!app.bundleIdentifier) {
            continue;
        }
        const std::string& id = *app.bundleIdentifier;
        bool owns = std::any_of(
            owner->bundleIDs.begin(), owner->bundleIDs.end(), [&](const std::string& bundleID) {
                return id == bundleID || (startsWith(id, bundleID) && id.size() > bundleID.size() &&
                                          id[bundleID.size()] == '.');
            });
        if (owns) {
            names.push_back(app.localizedName.value_or(id));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ConsumerCleanup::eligible(const FileNode& node, CleanupCategory category, const Url& home,
                               Date now) {
    if (!node.id.isFileUrl() || !home.isFileUrl()) {
        return false;
    }
    const Url standardized = node.id.standardized();
    const std::string homePath = home.standardized().path();
    if (!startsWith(standardized.path(), homePath + "/Library/")) {
        return false;
    }
    if (node.isSymbolicLink || node.hasReadErrors || node.logicalSize < 1 || !node.identity) {
        return false;
    }
    if (category == CleanupCategory::oldLogs) {
        // The cheap tests first: the log walk asks this of every file.
        if (!isOldLog(node, home, now)) {
            return false;
        }
    } else {
        const Rule* owner = rule(standardized, home);
        if (owner == nullptr || !(owner->category == category) || !node.isDirectory) {
            return false;
        }
    }
    // No symbolic link anywhere on the way to the node.
    if (!PathText::equal(Platform::current().resolvingSymlinks(standardized).path(),
                         standardized.path())) {
        return false;
    }
    if (category == CleanupCategory::oldLogs) {
        return true;
    }
    return !CleanupAnalysis::containsProtectedData(node) && holdsOnlyPlainCacheFiles(node);
}

ConsumerCleanup::Result ConsumerCleanup::scan(const Url& home, const ProgressHandler& progress) {
    Platform& platform = Platform::current();
    const Url homeUrl = home.standardized().withDirectoryForm(true);
    if (!homeUrl.isFileUrl() ||
        !PathText::equal(platform.resolvingSymlinks(homeUrl).path(), homeUrl.path())) {
        throw CleanupProblem("The scan location must not be a symbolic link.");
    }
    const Date now = std::chrono::system_clock::now();
    auto report = [&](const std::string& title, std::int64_t files) {
        if (progress) {
            progress(title, files);
        }
    };

    Result result;
    // Scans one location; null when it was absent, not a real folder, or failed.
    auto scanLocation = [&](const Url& location,
                            const std::string& title) -> std::optional<ScanResult> {
        std::optional<ScanResult> scanned;
        LocationState state = guarded(location, result, [&] {
            LocationState checked = checkLocation(location);
            if (checked != LocationState::ready) {
                return checked;
            }
            const std::int64_t before = result.checkedFiles;
            scanned = ScanEngine::scan(location, [&](const ScanProgress& step) {
                report(title, before + step.fileCount);
            });
            return LocationState::ready;
        });
        if (state != LocationState::ready) {
            return std::nullopt;
        }
        result.checkedLocations += 1;
        result.checkedFiles += scanned->root.fileCount;
        result.unreadable.insert(result.unreadable.end(), scanned->inaccessiblePaths.begin(),
                                 scanned->inaccessiblePaths.end());
        return scanned;
    };

    for (const Rule& known : rules()) {
        Task::checkCancellation();
        const Url location = Url::file(under(homeUrl, known.path), true);
        report(known.title, result.checkedFiles);
        auto scanned = scanLocation(location, known.title);
        if (scanned && eligible(scanned->root, known.category, homeUrl, now)) {
            result.candidates.emplace_back(std::move(scanned->root), known.category, homeUrl.path(),
                                           "Known cache location: " + known.path +
                                               ". Close the related app before removal.");
        }
    }

    const std::string logsTitle(CleanupCategory(CleanupCategory::oldLogs).rawValue());
    const Url logs = Url::file(under(homeUrl, logFolder), true);
    report(logsTitle, result.checkedFiles);
    if (auto scanned = scanLocation(logs, logsTitle)) {
        std::vector<const FileNode*> stack;
        for (const FileNode& child : scanned->root.children) {
            stack.push_back(&child);
        }
        while (!stack.empty()) {
            const FileNode* node = stack.back();
            stack.pop_back();
            Task::checkCancellation();
            if (node->isDirectory) {
                for (const FileNode& child : node->children) {
                    stack.push_back(&child);
                }
            } else if (eligible(*node, CleanupCategory::oldLogs, homeUrl, now)) {
                result.candidates.emplace_back(
                    *node, CleanupCategory::oldLogs, homeUrl.path(),
                    "Log or crash report in your Library, last modified over 30 days ago.");
            }
        }
    }

    std::stable_sort(result.candidates.begin(), result.candidates.end(),
                     [](const CleanupCandidate& a, const CleanupCandidate& b) {
                         return a.node.logicalSize > b.node.logicalSize;
                     });
    return result;
}

} // namespace varnok

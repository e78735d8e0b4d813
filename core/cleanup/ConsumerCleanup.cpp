#include "core/cleanup/ConsumerCleanup.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/LinuxLocations.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/scan/FilePolicy.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <utility>

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

// Names that mark personal data or secrets inside a cache folder: what browsers and Electron
// applications keep in a profile (cookies, history, saved logins and form data, site storage,
// keys), with their SQLite journals.
constexpr std::array<std::string_view, 19> privateNames = {".git",
                                                           ".ssh",
                                                           ".env",
                                                           "cookies",
                                                           "login data",
                                                           "web data",
                                                           "bookmarks",
                                                           "history",
                                                           "local storage",
                                                           "session storage",
                                                           "indexeddb",
                                                           "sessions",
                                                           "keys",
                                                           "key3.db",
                                                           "key4.db",
                                                           "logins.json",
                                                           "cert9.db",
                                                           "top sites",
                                                           "login data for account"};

// Parts of names of the same: "Extension Cookies", "Account Web Data", Firefox's session store,
// and the favicons, visited links and shortcuts that tell where a browser went.
constexpr std::array<std::string_view, 7> privateNameParts = {
    "cookies", "login data", "web data", "sessionstore", "favicons", "visited links", "shortcuts"};

constexpr std::array<std::string_view, 4> journalSuffixes = {"-journal", "-wal", "-shm", "-lock"};

bool endsWithText(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A lower-cased name of private data, its SQLite journal included ("cookies-journal",
// "places.sqlite-wal").
bool isPrivateName(std::string_view name) {
    for (std::string_view suffix : journalSuffixes) {
        if (endsWithText(name, suffix) && name.size() > suffix.size()) {
            std::string_view base = name.substr(0, name.size() - suffix.size());
            if (isPrivateName(base) || endsWithText(base, ".sqlite")) {
                return true;
            }
        }
    }
    return std::find(privateNames.begin(), privateNames.end(), name) != privateNames.end() ||
           endsWithText(name, ".sqlite") || endsWithText(name, ".sqlite3") ||
           endsWithText(name, ".key") || endsWithText(name, ".pem") ||
           std::any_of(privateNameParts.begin(), privateNameParts.end(),
                       [&](std::string_view part) { return name.find(part) != name.npos; });
}

// Names of the folders a narrower suggestion may be: caches by name ("Cache", "Code Cache",
// "GPUCache", "cache2", "startupCache", "Cache_Data") and Firefox's page thumbnails.
bool isCacheFolderName(std::string_view name) {
    std::string lowered = FilePolicy::lowercased(name);
    return lowered.find("cache") != std::string::npos || lowered == "thumbnails";
}

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
    for (const LinuxLocations::Cache& cache : LinuxLocations::caches()) {
        rules.push_back(
            {cache.path, cache.title, cache.category, cache.owners, true, cache.manualOnly});
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

bool isOldFile(const FileNode& node, Date now) {
    if (!node.identity || !isRegularWithOneLink(*node.identity)) {
        return false;
    }
    double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    return nowSeconds - thirtyDays > static_cast<double>(node.identity->modifiedSeconds);
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
    return isOldFile(node, now);
}

// The path of `path` below the home folder path, or null when it is not below it.
std::optional<std::string_view> belowHome(std::string_view path, const std::string& homePath) {
    if (!startsWith(path, homePath) || path.size() <= homePath.size() + 1 ||
        path[homePath.size()] != '/') {
        return std::nullopt;
    }
    return path.substr(homePath.size() + 1);
}

// A quick test of the name alone, before the full test: log folders such as ~/.cache hold many
// files and few logs.
bool mayBeLog(std::string_view name) {
    std::string lowered = FilePolicy::lowercased(name);
    return LinuxLocations::isLogName(lowered) ||
           std::any_of(logSuffixes.begin(), logSuffixes.end(),
                       [&](std::string_view suffix) { return endsWith(lowered, suffix); }) ||
           endsWith(lowered, ".dmp") || endsWith(lowered, ".extra") || endsWith(lowered, ".txt");
}

// Files held open by running processes, by the device and inode their identities record.
class OpenFiles {
public:
    bool holds(const FileIdentity& identity) {
        if (!keys_) {
            keys_.emplace();
            for (const OpenFile& file : RunningApplications::openFiles()) {
                keys_->emplace(static_cast<std::uint32_t>(file.device), file.inode);
            }
        }
        return keys_->count({static_cast<std::uint32_t>(identity.device), identity.inode}) > 0;
    }

private:
    // Read on first use: most scans find no old log at all.
    std::optional<std::set<std::pair<std::uint32_t, std::uint64_t>>> keys_;
};

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
        if (isPrivateName(name) || endsWith(name, ".photoslibrary")) {
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

// The entries of folders that log-folder patterns list, each folder listed once per scan; an
// absent, unexpected or failed folder has none.
using Listings = std::map<std::string, std::vector<std::string>>;

// The folders a log-folder pattern names under the home, each "*" expanded by listing the real
// folder above it. Absent or unexpected folders drop out silently; a folder that cannot be listed
// is reported unreadable.
std::vector<std::string> expand(const std::string& homePath, std::string_view pattern,
                                Listings& listings, ConsumerCleanup::Result& result) {
    Platform& platform = Platform::current();
    std::vector<std::string> folders{homePath};
    for (std::string_view part : PathText::components(pattern)) {
        std::vector<std::string> next;
        for (const std::string& folder : folders) {
            if (part != "*") {
                next.push_back(folder + "/" + std::string(part));
                continue;
            }
            auto [listed, isNew] = listings.try_emplace(folder);
            if (isNew) {
                const Url url = Url::file(folder, true);
                guarded(url, result, [&] {
                    LocationState checked = checkLocation(url);
                    if (checked == LocationState::ready) {
                        std::vector<std::string> names;
                        for (const Url& entry : platform.contentsOfDirectory(url)) {
                            names.push_back(PathText::standardize(entry.path()));
                        }
                        std::sort(names.begin(), names.end());
                        listed->second = std::move(names);
                    }
                    return checked;
                });
            }
            next.insert(next.end(), listed->second.begin(), listed->second.end());
        }
        folders = std::move(next);
    }
    return folders;
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

std::string ConsumerCleanup::cacheHome(const Url& home) {
    Platform& platform = Platform::current();
    const std::string homePath = PathText::standardize(home.path());
    const std::string fallback = homePath + "/.cache";
    const char* configured = std::getenv("XDG_CACHE_HOME");
    if (configured == nullptr || configured[0] != '/') {
        return fallback;
    }
    // Only the user's own home has it, named as configured or at its real place.
    const Url userHome = platform.homeDirectory();
    if (!PathText::equal(PathText::standardize(userHome.path()), homePath) &&
        !PathText::equal(PathText::standardize(platform.resolvingSymlinks(userHome).path()),
                         homePath)) {
        return fallback;
    }
    // Used at its real place, as nothing below a link is ever offered.
    const std::string path = PathText::standardize(
        platform.resolvingSymlinks(Url::file(PathText::standardize(configured), true)).path());
    // Every folder in it may be offered, so it must not be the home itself or hold it, nor one
    // of the system's folders.
    if (path == "/" || PathText::isInside(homePath, path) || PathText::equal(homePath, path) ||
        FilePolicy::isSystemFolder(Url::file(path, true))) {
        return fallback;
    }
    return path;
}

namespace {

constexpr std::string_view cacheFolder = ".cache";
constexpr std::string_view otherCacheFolders = ".cache/*";

// Where a path of a Linux home lies, as the rules spell it: relative to the home, with the cache
// folder ($XDG_CACHE_HOME, or a snap's own ~/snap/<name>/<revision or common>/.cache) spelt
// ".cache". Null for a path outside all of them, and for ~/.cache when the cache folder is
// elsewhere.
struct LinuxPlace {
    std::string relative;
    bool inSnap = false;
};

std::optional<LinuxPlace> linuxPlace(std::string_view path, const Url& home) {
    const std::string homePath = PathText::standardize(home.path());
    const std::string cache = ConsumerCleanup::cacheHome(home);
    if (path == cache) {
        return LinuxPlace{std::string(cacheFolder)};
    }
    if (auto below = belowHome(path, cache)) {
        return LinuxPlace{std::string(cacheFolder) + "/" + std::string(*below)};
    }
    auto relative = belowHome(path, homePath);
    if (!relative) {
        return std::nullopt;
    }
    std::vector<std::string_view> parts = PathText::components(*relative);
    if (parts.size() >= 4 && parts[0] == "snap" && parts[3] == cacheFolder) {
        std::string inside(cacheFolder);
        for (size_t i = 4; i < parts.size(); ++i) {
            inside += "/" + std::string(parts[i]);
        }
        return LinuxPlace{inside, true};
    }
    if (!parts.empty() && parts[0] == cacheFolder && cache != homePath + "/.cache") {
        return std::nullopt;
    }
    return LinuxPlace{std::string(*relative)};
}

// How a path matched a rule: exactly, or as a cache subfolder ("Default/Cache") of it.
struct Match {
    const ConsumerCleanup::Rule* rule = nullptr;
    std::string subfolder;
    bool inSnap = false;
};

Match match(const Url& url, const Url& home) {
    if (!url.isFileUrl() || !home.isFileUrl()) {
        return {};
    }
    // Paths are compared, so the folder and file forms of one location name the same rule.
    const std::string target = url.standardized().path();
    const auto& rules = ConsumerCleanup::rules();
    for (const auto& candidate : rules) {
        if (!candidate.linuxHome && PathText::equal(under(home, candidate.path), target)) {
            return {&candidate, "", false};
        }
    }
    auto place = linuxPlace(target, home);
    if (!place) {
        return {};
    }
    const std::string& relative = place->relative;
    // A snap's cache folder holds only what the cache rows name.
    auto applies = [&](const ConsumerCleanup::Rule& rule) {
        return rule.linuxHome && rule.path != otherCacheFolders &&
               (!place->inSnap || startsWith(rule.path, std::string(cacheFolder) + "/"));
    };
    for (const auto& candidate : rules) {
        if (applies(candidate) && relative == candidate.path) {
            return {&candidate, "", place->inSnap};
        }
    }
    for (const auto& candidate : rules) {
        if (applies(candidate) && startsWith(relative, candidate.path + "/") &&
            isCacheFolderName(PathText::lastComponent(relative))) {
            return {&candidate, relative.substr(candidate.path.size() + 1), place->inSnap};
        }
    }
    // A folder of the cache folder that no row names. A name that any row uses for a folder
    // ("mozilla", "discord", "Code") belongs to an application whose caches the rows handle
    // more narrowly, so it is never offered whole.
    std::vector<std::string_view> parts = PathText::components(relative);
    if (parts.size() != 2 || parts[0] != cacheFolder || parts[1].front() == '.') {
        return {};
    }
    const std::string name = FilePolicy::lowercased(parts[1]);
    const ConsumerCleanup::Rule* other = nullptr;
    for (const auto& candidate : rules) {
        if (candidate.path == otherCacheFolders) {
            other = &candidate;
            continue;
        }
        for (std::string_view part : PathText::components(candidate.path)) {
            if (FilePolicy::lowercased(part) == name) {
                return {};
            }
        }
    }
    return {other, "", place->inSnap};
}

} // namespace

const ConsumerCleanup::Rule* ConsumerCleanup::rule(const Url& url, const Url& home) {
    return match(url, home).rule;
}

std::string ConsumerCleanup::title(const Url& url, const Url& home) {
    const Match found = match(url, home);
    if (found.rule == nullptr || found.rule->path == otherCacheFolders) {
        return url.lastPathComponent();
    }
    std::string title = found.rule->title + (found.inSnap ? " (snap)" : "");
    return found.subfolder.empty() ? title : title + " \u00B7 " + found.subfolder;
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

namespace {

// Everything but the open-file test, which reads every process's descriptors and is therefore
// made once per scan.
bool eligibleAsScanned(const FileNode& node, CleanupCategory category, const Url& home, Date now) {
    if (!node.id.isFileUrl() || !home.isFileUrl()) {
        return false;
    }
    const Url standardized = node.id.standardized();
    const std::string homePath = home.standardized().path();
    // A macOS location lies in Library; a Linux one is exactly a row of the Linux table, or a
    // file in one of the Linux log folders.
    const std::string path = standardized.path();
    const bool inLibrary = startsWith(path, homePath + "/Library/");
    const std::optional<LinuxPlace> place = linuxPlace(path, home);
    if (!inLibrary && !place) {
        return false;
    }
    if (node.isSymbolicLink || node.hasReadErrors || node.logicalSize < 1 || !node.identity) {
        return false;
    }
    if (category == CleanupCategory::oldLogs) {
        // The cheap tests first: the log walk asks this of every file.
        // An old log or crash report in one of a Linux home's log folders.
        const bool linuxLog = place && !place->inSnap && LinuxLocations::logKind(place->relative) &&
                              isOldFile(node, now);
        if (inLibrary ? !isOldLog(node, home, now) : !linuxLog) {
            return false;
        }
    } else {
        const ConsumerCleanup::Rule* owner = ConsumerCleanup::rule(standardized, home);
        if (owner == nullptr || (!inLibrary && !owner->linuxHome) ||
            !(owner->category == category) || !node.isDirectory) {
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

// No file of the tree is held open by a running process.
bool heldByNone(const FileNode& root, OpenFiles& openFiles) {
    std::vector<const FileNode*> stack{&root};
    while (!stack.empty()) {
        const FileNode* node = stack.back();
        stack.pop_back();
        if (node->identity && !node->isDirectory && openFiles.holds(*node->identity)) {
            return false;
        }
        for (const FileNode& child : node->children) {
            stack.push_back(&child);
        }
    }
    return true;
}

} // namespace

bool ConsumerCleanup::eligible(const FileNode& node, CleanupCategory category, const Url& home,
                               Date now) {
    if (!eligibleAsScanned(node, category, home, now)) {
        return false;
    }
    if (category == CleanupCategory::oldLogs) {
        return !OpenFiles().holds(*node.identity);
    }
    // No application claims a folder of the cache folder that no row names, so whether one uses
    // it is told by its open files.
    const Rule* owner = rule(node.id, home);
    OpenFiles openFiles;
    return owner == nullptr || !owner->manualOnly || heldByNone(node, openFiles);
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
    // The locations scanned so far: ~/.cache is walked for its logs after its cache folders, and
    // their files are counted once.
    std::vector<std::string> scannedRoots;
    auto filesNotCountedYet = [&](const FileNode& root) -> std::int64_t {
        const std::string rootPath = PathText::standardize(root.id.path());
        std::vector<std::string> within;
        for (const std::string& earlier : scannedRoots) {
            if (PathText::equal(rootPath, earlier) || PathText::isInside(rootPath, earlier)) {
                return 0;
            }
            if (PathText::isInside(earlier, rootPath)) {
                within.push_back(earlier);
            }
        }
        scannedRoots.push_back(rootPath);
        std::int64_t files = root.fileCount;
        std::vector<const FileNode*> stack{&root};
        while (!stack.empty() && !within.empty()) {
            const FileNode* node = stack.back();
            stack.pop_back();
            for (const FileNode& child : node->children) {
                if (!child.isDirectory) {
                    continue;
                }
                const std::string path = PathText::standardize(child.id.path());
                if (std::find(within.begin(), within.end(), path) != within.end()) {
                    files -= child.fileCount;
                } else if (std::any_of(within.begin(), within.end(), [&](const std::string& p) {
                               return PathText::isInside(p, path);
                           })) {
                    stack.push_back(&child);
                }
            }
        }
        return files;
    };
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
        result.checkedFiles += filesNotCountedYet(scanned->root);
        result.unreadable.insert(result.unreadable.end(), scanned->inaccessiblePaths.begin(),
                                 scanned->inaccessiblePaths.end());
        return scanned;
    };

    const std::string homePath = homeUrl.standardized().path();
    Listings listings;
    // The cache folder, then every snap's own, each once.
    const std::string cache = cacheHome(homeUrl);
    std::vector<std::string> cacheFolders{cache};
    for (std::string_view pattern : {"snap/*/*/.cache"}) {
        for (std::string& folder : expand(homePath, pattern, listings, result)) {
            if (std::find(cacheFolders.begin(), cacheFolders.end(), folder) == cacheFolders.end()) {
                cacheFolders.push_back(std::move(folder));
            }
        }
    }
    // A place as the user knows it: relative to the home, or absolute outside it.
    auto shownPlace = [&](const std::string& path) {
        return std::string(belowHome(path, homePath).value_or(path));
    };

    // Cache folders already suggested whole; the log walk leaves their files to them.
    std::set<std::string> suggested;
    auto suggest = [&](FileNode node, const Rule& known, const std::string& evidence) {
        suggested.insert(node.id.standardized().path());
        CleanupCandidate candidate(std::move(node), known.category, homeUrl.path(), evidence);
        candidate.manualOnly = known.manualOnly;
        result.candidates.push_back(std::move(candidate));
    };
    auto knownEvidence = [&](const Rule& known, const std::string& path) {
        // A location chosen by hand also holds what cannot be fetched again (Maven's holds what
        // `mvn install` put there from the user's own projects).
        if (known.manualOnly) {
            return "Known cache location: " + shownPlace(path) +
                   ". Mostly downloads, but it may also hold what your own builds installed "
                   "there; choose it by hand.";
        }
        return "Known cache location: " + shownPlace(path) +
               (known.bundleIDs.empty() ? ". It is downloaded or rebuilt again when needed."
                                        : ". Close the related app before removal.");
    };
    // The cache subfolders of a location that also holds private data, each as narrow as needed:
    // a folder named as a cache that holds only cache files, else its own cache subfolders.
    auto narrowed = [&](const FileNode& root, const Rule& known) {
        std::vector<const FileNode*> stack;
        for (const FileNode& child : root.children) {
            stack.push_back(&child);
        }
        while (!stack.empty()) {
            const FileNode* node = stack.back();
            stack.pop_back();
            if (!node->isDirectory || node->isSymbolicLink) {
                continue;
            }
            if (isCacheFolderName(node->id.lastPathComponentView()) &&
                eligible(*node, known.category, homeUrl, now)) {
                suggest(*node, known, knownEvidence(known, node->id.standardized().path()));
                continue;
            }
            for (const FileNode& child : node->children) {
                stack.push_back(&child);
            }
        }
    };

    for (const Rule& known : rules()) {
        Task::checkCancellation();
        if (known.path == otherCacheFolders) {
            continue;
        }
        std::vector<std::string> locations;
        if (known.linuxHome && startsWith(known.path, std::string(cacheFolder) + "/")) {
            const std::string inside = known.path.substr(cacheFolder.size());
            for (const std::string& folder : cacheFolders) {
                locations.push_back(folder + inside);
            }
        } else {
            locations.push_back(under(homeUrl, known.path));
        }
        for (const std::string& path : locations) {
            const Url location = Url::file(path, true);
            report(known.title, result.checkedFiles);
            auto scanned = scanLocation(location, known.title);
            if (!scanned) {
                continue;
            }
            if (eligible(scanned->root, known.category, homeUrl, now)) {
                suggest(std::move(scanned->root), known, knownEvidence(known, location.path()));
            } else if (known.linuxHome) {
                narrowed(scanned->root, known);
            }
        }
    }

    const std::string logsTitle(CleanupCategory(CleanupCategory::oldLogs).rawValue());
    OpenFiles openFiles;
    // Every file below the root (not the root itself) that qualifies as an old log.
    auto collectLogs = [&](const FileNode& root, const auto& evidence) {
        std::vector<const FileNode*> stack;
        for (const FileNode& child : root.children) {
            stack.push_back(&child);
        }
        while (!stack.empty()) {
            const FileNode* node = stack.back();
            stack.pop_back();
            Task::checkCancellation();
            if (node->isDirectory) {
                if (suggested.empty() || suggested.count(node->id.path()) == 0) {
                    for (const FileNode& child : node->children) {
                        stack.push_back(&child);
                    }
                }
            } else if (mayBeLog(node->id.lastPathComponentView()) &&
                       eligibleAsScanned(*node, CleanupCategory::oldLogs, homeUrl, now) &&
                       !openFiles.holds(*node->identity)) {
                result.candidates.emplace_back(*node, CleanupCategory::oldLogs, homeUrl.path(),
                                               evidence(*node));
            }
        }
    };

    const Url logs = Url::file(under(homeUrl, logFolder), true);
    report(logsTitle, result.checkedFiles);
    if (auto scanned = scanLocation(logs, logsTitle)) {
        collectLogs(scanned->root, [](const FileNode&) {
            return std::string(
                "Log or crash report in your Library, last modified over 30 days ago.");
        });
    }

    // The X session's logs lie in the home folder itself, which is never walked whole.
    for (std::string_view name : {".xsession-errors", ".xsession-errors.old"}) {
        const Url url = homeUrl.appendingPathComponent(std::string(name), false);
        std::optional<FileIdentity> identity;
        try {
            identity = FileIdentity::capture(url);
        } catch (const std::exception&) {
            continue;
        }
        FileNode node(url.standardized(), false, identity->size, identity->size, {}, 1, 0,
                      identity->isSymbolicLink(), false, true, *identity);
        result.checkedFiles += 1;
        if (eligibleAsScanned(node, CleanupCategory::oldLogs, homeUrl, now) &&
            !openFiles.holds(*identity)) {
            result.candidates.emplace_back(
                std::move(node), CleanupCategory::oldLogs, homeUrl.path(),
                "Log of an earlier desktop session, last modified over 30 days ago.");
        }
    }

    for (const LinuxLocations::LogFolder& folder : LinuxLocations::logFolders()) {
        // Logs in the cache folder are looked for wherever it lies.
        std::vector<std::string> paths = folder.pattern == cacheFolder
                                             ? std::vector<std::string>{cache}
                                             : expand(homePath, folder.pattern, listings, result);
        for (const std::string& path : paths) {
            Task::checkCancellation();
            report(logsTitle, result.checkedFiles);
            if (auto scanned = scanLocation(Url::file(path, true), logsTitle)) {
                collectLogs(scanned->root, [&](const FileNode& node) {
                    const std::string where = shownPlace(PathText::parent(node.id.path()));
                    return "Log or crash report in " + where + ", last modified over 30 days ago.";
                });
            }
        }
    }

    // The other folders of each cache folder, chosen by hand only.
    for (const std::string& folder : cacheFolders) {
        auto [listed, isNew] = listings.try_emplace(folder);
        if (isNew) {
            const Url url = Url::file(folder, true);
            guarded(url, result, [&] {
                LocationState checked = checkLocation(url);
                if (checked == LocationState::ready) {
                    for (const Url& entry : platform.contentsOfDirectory(url)) {
                        listed->second.push_back(PathText::standardize(entry.path()));
                    }
                    std::sort(listed->second.begin(), listed->second.end());
                }
                return checked;
            });
        }
        for (const std::string& path : listed->second) {
            Task::checkCancellation();
            const Url location = Url::file(path, true);
            const Rule* other = rule(location, homeUrl);
            if (other == nullptr || other->path != otherCacheFolders ||
                !platform.resourceValues(location).isDirectory.value_or(false)) {
                continue;
            }
            const std::string title = location.lastPathComponent();
            report(title, result.checkedFiles);
            // A folder where old logs were found is left to them, so no two suggestions overlap.
            const std::string inside = location.standardized().path() + "/";
            if (std::any_of(result.candidates.begin(), result.candidates.end(),
                            [&](const CleanupCandidate& candidate) {
                                return startsWith(candidate.node.id.path(), inside);
                            })) {
                continue;
            }
            auto scanned = scanLocation(location, title);
            // The open files are read once for the whole scan.
            if (scanned && eligibleAsScanned(scanned->root, other->category, homeUrl, now) &&
                heldByNone(scanned->root, openFiles)) {
                suggest(std::move(scanned->root), *other,
                        "Folder in the cache folder (" + shownPlace(location.path()) +
                            "). By the freedesktop.org base directory rules its application "
                            "rebuilds it when needed; choose it by hand.");
            }
        }
    }

    // ~/.cache is read for its logs after its cache folders: a path unreadable in both is one.
    std::set<std::string> seen;
    std::erase_if(result.unreadable,
                  [&](const std::string& path) { return !seen.insert(path).second; });

    std::stable_sort(result.candidates.begin(), result.candidates.end(),
                     [](const CleanupCandidate& a, const CleanupCandidate& b) {
                         return a.node.logicalSize > b.node.logicalSize;
                     });
    return result;
}

} // namespace varnok

#include "core/scan/FilePolicy.hpp"

#include "platform/Platform.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_set>
#include <utf8proc.h>
#include <vector>

namespace varnok {
namespace {

constexpr std::array<std::string_view, 11> protectedNames = {
    ".git",   ".hg",  ".svn",   ".trash", ".trashes", ".ssh",
    ".gnupg", ".aws", ".azure", ".kube",  ".config",
};

// Folders that macOS keeps for itself, protected only where macOS puts them: in a home folder
// (the user's own, or /Users/<name> of a Mac disk) and at the top of a Mac volume. Elsewhere a
// folder of that name is the user's own (~/Music/Library, ~/Applications for AppImages).
constexpr std::array<std::string_view, 2> macOSPlaceNames = {"library", "applications"};

constexpr std::array<std::string_view, 2> dependencyFolderNames = {"node_modules", "pods"};

constexpr std::array<std::string_view, 8> bundleSuffixes = {
    ".app",       ".photoslibrary", ".bundle",       ".framework",
    ".xcodeproj", ".xcworkspace",   ".backupbundle", ".sparsebundle",
};

constexpr std::array<std::string_view, 10> systemRoots = {
    "/system",  "/library", "/bin",          "/sbin", "/usr",
    "/private", "/dev",     "/applications", "/etc",  "/var",
};

// The operating system's own folders on Linux that the table above does not name: boot files,
// libraries, add-on software (/opt, like /Applications), data the system serves (/srv, like /var),
// kernel and runtime file systems. Refused after the table's roots. Drives mounted for the user
// are ordinary places: /media and /mnt are not listed, and /run/media/<user> is let through.
constexpr std::array<std::string_view, 12> linuxSystemRoots = {
    "/boot", "/lib", "/lib32", "/lib64", "/libx32", "/opt",
    "/proc", "/sys", "/run",   "/srv",   "/snap",   "/lost+found",
};

constexpr std::array<std::string_view, 19> projectFileNames = {
    "package.json",
    "package-lock.json",
    "npm-shrinkwrap.json",
    "yarn.lock",
    "pnpm-lock.yaml",
    "bun.lock",
    "bun.lockb",
    "cargo.lock",
    "gemfile",
    "gemfile.lock",
    "podfile",
    "podfile.lock",
    "makefile",
    "dockerfile",
    "requirements.txt",
    "cmakelists.txt",
    "id_rsa",
    "id_ed25519",
    "id_ecdsa",
};

constexpr std::array<std::string_view, 2> journalSuffixes = {"-wal", "-shm"};

constexpr std::array<std::string_view, 37> refusedExtensions = {
    "key",  "pem", "p12", "pfx", "keychain", "keychain-db", "sqlite", "sqlite3", "db", "swift",
    "js",   "mjs", "cjs", "jsx", "ts",       "tsx",         "py",     "pyw",     "rb", "rs",
    "go",   "c",   "h",   "cpp", "hpp",      "java",        "kt",     "kts",     "sh", "zsh",
    "bash", "ps1", "php", "sql", "toml",     "yaml",        "yml",
};

template <size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view s) {
    return std::find(table.begin(), table.end(), s) != table.end();
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// "/" followed by the components of an absolute path, in order.
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty()) {
        return parts;
    }
    parts.push_back("/");
    for (std::string_view part : PathText::components(path)) {
        parts.push_back(part);
    }
    return parts;
}

bool isAtOrBelow(std::string_view path, std::string_view root) {
    return path == root ||
           (startsWith(path, root) && path.size() > root.size() && path[root.size()] == '/');
}

bool isSystemRoot(std::string_view lowered) {
    return contains(systemRoots, lowered) || contains(linuxSystemRoots, lowered);
}

bool isSystemRootOrBelow(std::string_view lowered) {
    constexpr std::string_view userMedia = "/run/media/";
    if (startsWith(lowered, userMedia) && lowered.size() > userMedia.size()) {
        return false;
    }
    // Homes of image-based systems (Fedora Silverblue and its family) live in /var/home.
    if (isAtOrBelow(lowered, "/var/home")) {
        return false;
    }
    auto atOrBelow = [&](std::string_view root) { return isAtOrBelow(lowered, root); };
    return std::any_of(systemRoots.begin(), systemRoots.end(), atOrBelow) ||
           std::any_of(linuxSystemRoots.begin(), linuxSystemRoots.end(), atOrBelow);
}

bool isAtOrInside(std::string_view path, std::string_view folder) {
    if (folder.empty() || folder == "/") {
        return false;
    }
    return path == folder ||
           (startsWith(path, folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// The lower-cased, standardised path of a URL that the policy may judge at all.
std::optional<std::string> judgedPath(const Url& url) {
    if (!url.isFileUrl()) {
        return std::nullopt;
    }
    std::string raw = url.path();
    if (raw.empty() || raw.front() != '/') {
        return std::nullopt;
    }
    return FilePolicy::lowercased(PathText::standardize(raw));
}

// The temporary folder and the home Trash folders with their links resolved. Resolving costs a
// dozen system calls, and the duplicate finder asks about every file, so the answer is kept per
// thread while the environment that names those folders and the platform stay the same, and for
// at most a second, so that links changed on disk are seen soon.
struct ResolvedLocations {
    std::string temporary;
    std::vector<std::string> homeTrashes;
    // The home folder as configured and with its links resolved.
    std::vector<std::string> homes;
};

const ResolvedLocations& resolvedLocations() {
    struct Cache {
        const Platform* platform = nullptr;
        std::array<std::optional<std::string>, 3> environment;
        std::chrono::steady_clock::time_point resolvedAt;
        ResolvedLocations locations;
    };
    thread_local Cache cache;
    Platform& platform = Platform::current();
    std::array<std::optional<std::string>, 3> environment;
    const char* const names[] = {"TMPDIR", "HOME", "XDG_DATA_HOME"};
    for (size_t i = 0; i < environment.size(); ++i) {
        if (const char* value = std::getenv(names[i])) {
            environment[i] = value;
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (cache.platform != &platform || cache.environment != environment ||
        now - cache.resolvedAt > std::chrono::seconds(1)) {
        cache.platform = &platform;
        cache.environment = environment;
        cache.resolvedAt = now;
        cache.locations.temporary = FilePolicy::lowercased(PathText::standardize(
            platform.resolvingSymlinks(platform.temporaryDirectory()).path()));
        cache.locations.homeTrashes = FilePolicy::homeTrashPaths();
        const Url home = platform.homeDirectory();
        cache.locations.homes.clear();
        for (const Url& form : {home, platform.resolvingSymlinks(home)}) {
            std::string path = FilePolicy::lowercased(PathText::standardize(form.path()));
            if (!path.empty() && path.front() == '/') {
                cache.locations.homes.push_back(std::move(path));
            }
        }
    }
    return cache.locations;
}

// A lower-cased, standardised path in the operating system's own folders. The temporary folder
// and the user's home may lie below a system root (/private/var, /var/tmp, a service account's
// home in /var/lib); they stay the user's own places. One that is a system root itself, or "/",
// would open the whole root, so it is ignored.
bool isSystemPath(std::string_view lowered) {
    if (!isSystemRootOrBelow(lowered)) {
        return false;
    }
    const ResolvedLocations& places = resolvedLocations();
    auto opens = [](const std::string& place) { return place != "/" && !isSystemRoot(place); };
    const std::string& temporary = places.temporary;
    if (opens(temporary) && startsWith(lowered, temporary + "/")) {
        return false;
    }
    return std::none_of(places.homes.begin(), places.homes.end(), [&](const std::string& home) {
        return opens(home) && isAtOrBelow(lowered, home);
    });
}

// Outside the operating system's own folders and outside every Trash.
bool isAllowedLocation(const Url& url) {
    auto lowered = judgedPath(url);
    if (!lowered || *lowered == "/" || FilePolicy::isInTrash(url)) {
        return false;
    }
    return !isSystemPath(*lowered);
}

// True when the folder at `index` of a path's components is a macOS place: named like one and
// directly in a Mac disk's home (/Users/<name>) or at the top of a mounted Mac volume
// (/Volumes/<disk>); in this user's home only Library is one (a home copied from a Mac keeps its
// application data there), while ~/Applications is where Linux users keep their AppImages.
bool isMacOSPlace(const std::vector<std::string_view>& parts, size_t index) {
    if (!contains(macOSPlaceNames, parts[index])) {
        return false;
    }
    if (index >= 3 && (parts[index - 2] == "users" || parts[index - 2] == "volumes")) {
        return true;
    }
    std::string parent = "/";
    for (size_t i = 1; i < index; ++i) {
        parent += (parent.size() > 1 ? "/" : "") + std::string(parts[i]);
    }
    const auto& homes = resolvedLocations().homes;
    return parts[index] == "library" &&
           std::find(homes.begin(), homes.end(), parent) != homes.end();
}

bool isRefusedFolderComponent(const std::vector<std::string_view>& parts, size_t index) {
    std::string_view lowered = parts[index];
    return FilePolicy::isProtectedName(lowered) || contains(dependencyFolderNames, lowered) ||
           FilePolicy::hasBundleSuffix(lowered) || isMacOSPlace(parts, index);
}

} // namespace

std::string FilePolicy::lowercased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool ascii = std::all_of(text.begin(), text.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        for (char c : text) {
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return out;
    }
    std::string composed = PathText::canonical(text);
    auto data = reinterpret_cast<const utf8proc_uint8_t*>(composed.data());
    auto remaining = static_cast<utf8proc_ssize_t>(composed.size());
    while (remaining > 0) {
        utf8proc_int32_t codepoint = 0;
        utf8proc_ssize_t used = utf8proc_iterate(data, remaining, &codepoint);
        if (used <= 0) {
            char c = static_cast<char>(*data);
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            used = 1;
        } else {
            utf8proc_uint8_t encoded[4];
            utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_tolower(codepoint), encoded);
            out.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
        }
        data += used;
        remaining -= used;
    }
    return out;
}

// $XDG_DATA_HOME and the default under the home folder, each as configured and resolved.
std::vector<std::string> FilePolicy::homeTrashPaths() {
    Platform& platform = Platform::current();
    std::vector<std::string> paths;
    for (const Url& base :
         {platform.applicationSupportDirectory(), platform.homeDirectory()
                                                      .appendingPathComponent(".local", true)
                                                      .appendingPathComponent("share", true)}) {
        Url trash = base.appendingPathComponent("Trash", true);
        paths.push_back(FilePolicy::lowercased(PathText::standardize(trash.path())));
        paths.push_back(FilePolicy::lowercased(
            PathText::standardize(platform.resolvingSymlinks(trash).path())));
    }
    return paths;
}

bool FilePolicy::isProtectedName(std::string_view lowercasedName) {
    // Built once on first use; function-local statics are initialised exactly once across threads.
    static const std::unordered_set<std::string_view> names(protectedNames.begin(),
                                                            protectedNames.end());
    return names.count(lowercasedName) > 0;
}

bool FilePolicy::hasBundleSuffix(std::string_view lowercasedName) {
    return std::any_of(bundleSuffixes.begin(), bundleSuffixes.end(),
                       [&](std::string_view suffix) { return endsWith(lowercasedName, suffix); });
}

bool FilePolicy::isSystemFolder(const Url& url) {
    auto lowered = judgedPath(url);
    return lowered && isSystemPath(*lowered);
}

bool FilePolicy::isMacOSPlaceName(std::string_view lowercasedName) {
    return contains(macOSPlaceNames, lowercasedName);
}

bool FilePolicy::isVolumeTrashName(std::string_view name) {
    std::string lowered = lowercased(name);
    constexpr std::string_view prefix = ".trash-";
    if (!startsWith(lowered, prefix) || lowered.size() == prefix.size()) {
        return false;
    }
    return std::all_of(lowered.begin() + prefix.size(), lowered.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool FilePolicy::isInTrash(const Url& url) {
    auto lowered = judgedPath(url);
    if (!lowered) {
        return false;
    }
    for (std::string_view part : components(*lowered)) {
        if (part == ".trash" || part == ".trashes" || isVolumeTrashName(part)) {
            return true;
        }
    }
    for (const std::string& trash : resolvedLocations().homeTrashes) {
        if (isAtOrInside(*lowered, trash)) {
            return true;
        }
    }
    return false;
}

bool FilePolicy::allowsCleanupFolder(const Url& url, const Url& home) {
    if (!isAllowedLocation(url)) {
        return false;
    }
    std::string path = PathText::standardize(url.path());
    if (home.isFileUrl() && !home.path().empty() && home.path().front() == '/') {
        std::string derivedData =
            PathText::standardize(home.path() + "/Library/Developer/Xcode/DerivedData");
        if (PathText::equal(path, derivedData)) {
            return true;
        }
    }
    std::string parent = lowercased(PathText::parent(path));
    const std::vector<std::string_view> parts = components(parent);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (isRefusedFolderComponent(parts, i)) {
            return false;
        }
    }
    return true;
}

bool FilePolicy::allowsUserFile(const Url& url) {
    if (!isAllowedLocation(url)) {
        return false;
    }
    std::string lowered = lowercased(PathText::standardize(url.path()));
    std::string name = PathText::lastComponent(lowered);
    if (contains(projectFileNames, name) ||
        std::any_of(journalSuffixes.begin(), journalSuffixes.end(),
                    [&](std::string_view suffix) { return endsWith(name, suffix); })) {
        return false;
    }
    const std::vector<std::string_view> parts = components(lowered);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].front() == '.' || isRefusedFolderComponent(parts, i)) {
            return false;
        }
    }
    auto dot = name.rfind('.');
    std::string_view extension =
        dot == std::string::npos ? std::string_view() : std::string_view(name).substr(dot + 1);
    return !contains(refusedExtensions, extension);
}

} // namespace varnok

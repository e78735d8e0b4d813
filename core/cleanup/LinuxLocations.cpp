#include "core/cleanup/LinuxLocations.hpp"

#include "core/common/Url.hpp"
#include "core/scan/FilePolicy.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace varnok::LinuxLocations {
namespace {

using Category = CleanupCategory;

// Identifiers of the owners, as the running-application list reports them.
constexpr const char* chrome = "com.google.Chrome";
constexpr const char* chromium = "org.chromium.Chromium";
constexpr const char* edge = "com.microsoft.edgemac";
constexpr const char* brave = "com.brave.Browser";
constexpr const char* vivaldi = "com.vivaldi.Vivaldi";
constexpr const char* opera = "com.operasoftware.Opera";
constexpr const char* firefox = "org.mozilla.firefox";
constexpr const char* spotify = "com.spotify.client";
constexpr const char* vlc = "org.videolan.vlc";
// Every JetBrains IDE reports an identifier below this one.
constexpr const char* jetbrains = "com.jetbrains";

struct Row {
    const char* path;
    const char* title;
    CleanupCategory::Case category;
    const char* owner; // null: no desktop application
    bool manualOnly = false;
};

// Browsers keep only their disk cache under $XDG_CACHE_HOME; profiles, cookies and history live
// in ~/.config or ~/.mozilla. Everything here is fetched again from the web. A Flatpak browser
// has its own $XDG_CACHE_HOME under ~/.var/app/<app id>/cache.
constexpr std::array<Row, 14> browserRows = {{
    {".cache/google-chrome", "Chrome cache", Category::browserCaches, chrome},
    {".cache/chromium", "Chromium cache", Category::browserCaches, chromium},
    {".cache/microsoft-edge", "Edge cache", Category::browserCaches, edge},
    {".cache/BraveSoftware/Brave-Browser", "Brave cache", Category::browserCaches, brave},
    {".cache/vivaldi", "Vivaldi cache", Category::browserCaches, vivaldi},
    {".cache/opera", "Opera cache", Category::browserCaches, opera},
    // cache2, startupCache and thumbnails of each profile; the profile is in ~/.mozilla.
    {".cache/mozilla/firefox", "Firefox cache", Category::browserCaches, firefox},
    {".var/app/com.google.Chrome/cache/google-chrome", "Chrome (Flatpak) cache",
     Category::browserCaches, chrome},
    {".var/app/org.chromium.Chromium/cache/chromium", "Chromium (Flatpak) cache",
     Category::browserCaches, chromium},
    {".var/app/com.microsoft.Edge/cache/microsoft-edge", "Edge (Flatpak) cache",
     Category::browserCaches, edge},
    {".var/app/com.brave.Browser/cache/BraveSoftware/Brave-Browser", "Brave (Flatpak) cache",
     Category::browserCaches, brave},
    {".var/app/com.vivaldi.Vivaldi/cache/vivaldi", "Vivaldi (Flatpak) cache",
     Category::browserCaches, vivaldi},
    {".var/app/com.opera.Opera/cache/opera", "Opera (Flatpak) cache", Category::browserCaches,
     opera},
    {".var/app/org.mozilla.firefox/cache/mozilla/firefox", "Firefox (Flatpak) cache",
     Category::browserCaches, firefox},
}};

// Chromium-based browsers keep GPU shader caches and the service workers' response cache in
// the profile, beside its cookies and history; only those subfolders are rows. Opera's folder is
// its profile, the others hold a "Default" profile folder.
struct ChromiumProfile {
    const char* profile;
    const char* title;
    const char* owner;
};

constexpr std::array<ChromiumProfile, 6> chromiumProfiles = {{
    {".config/google-chrome/Default/", "Chrome", chrome},
    {".config/chromium/Default/", "Chromium", chromium},
    {".config/microsoft-edge/Default/", "Edge", edge},
    {".config/BraveSoftware/Brave-Browser/Default/", "Brave", brave},
    {".config/vivaldi/Default/", "Vivaldi", vivaldi},
    {".config/opera/", "Opera", opera},
}};

constexpr std::array<std::pair<const char*, const char*>, 2> chromiumProfileCaches = {{
    {"GPUCache", "GPUCache"},
    {"Service Worker/CacheStorage", "Service Worker cache"},
}};

// Electron applications keep everything in ~/.config/<folder>: Cookies, Local Storage and
// IndexedDB sit beside their caches, so only the cache subfolders are rows, one each.
struct ElectronApp {
    const char* folder;
    const char* title;
    CleanupCategory::Case category;
    const char* owner;
    const char* flatpakId; // null: no Flatpak build
};

constexpr std::array<ElectronApp, 5> electronApps = {{
    {"Slack", "Slack", Category::communicationCaches, "com.tinyspeck.slackmacgap",
     "com.slack.Slack"},
    {"discord", "Discord", Category::communicationCaches, "com.hnc.Discord",
     "com.discordapp.Discord"},
    {"Claude", "Claude", Category::aiCaches, "com.anthropic.claudefordesktop", nullptr},
    // The community Figma client; Figma itself ships no Linux build.
    {"figma-linux", "Figma", Category::appCaches, "com.figma.Desktop",
     "io.github.Figma_Linux.figma_linux"},
    {"Code", "VS Code", Category::appCaches, "com.microsoft.VSCode", "com.visualstudio.code"},
}};

// Chromium's HTTP cache, compiled-script cache, GPU shader caches (GPUCache, and the Dawn caches
// of newer releases) and the service workers' response cache: all rebuilt on use.
struct Subfolder {
    const char* path;
    const char* title;
};

constexpr std::array<Subfolder, 7> electronCaches = {{
    {"Cache", "Cache"},
    {"Code Cache", "Code Cache"},
    {"GPUCache", "GPUCache"},
    {"DawnCache", "DawnCache"},
    {"DawnGraphiteCache", "DawnGraphiteCache"},
    {"DawnWebGPUCache", "DawnWebGPUCache"},
    {"Service Worker/CacheStorage", "Service Worker cache"},
}};

// VS Code's own: compiled workbench code per release, and extension packages kept after
// installing them. Both are made again by the next start or extension install.
constexpr std::array<Subfolder, 2> vsCodeCaches = {{
    {"CachedData", "CachedData"},
    {"CachedExtensionVSIXs", "Extension downloads"},
}};

constexpr std::array<Row, 19> otherRows = {{
    // Streamed tracks and artwork, downloaded again when played.
    {".cache/spotify", "Spotify cache", Category::appCaches, spotify},
    {".var/app/com.spotify.Client/cache/spotify", "Spotify (Flatpak) cache", Category::appCaches,
     spotify},
    // Album art fetched for the media library.
    {".cache/vlc", "VLC cache", Category::appCaches, vlc},
    {".var/app/org.videolan.VLC/cache/vlc", "VLC (Flatpak) cache", Category::appCaches, vlc},
    // Indexes and caches of every JetBrains IDE, rebuilt when a project is opened. Settings and
    // plugins live in ~/.config/JetBrains and ~/.local/share/JetBrains.
    {".cache/JetBrains", "JetBrains IDE caches", Category::appCaches, jetbrains},
    // Thumbnails of the freedesktop.org convention, drawn again by the file manager.
    {".cache/thumbnails", "Thumbnail cache", Category::appCaches, nullptr},
    // Package managers' download caches: packages come from the registry again when needed.
    {".cache/pip", "pip download cache", Category::appCaches, nullptr},
    {".npm/_cacache", "npm download cache", Category::appCaches, nullptr},
    {".cache/yarn", "Yarn download cache", Category::appCaches, nullptr},
    // pnpm's metadata and dlx cache. Its store (~/.local/share/pnpm/store) is not a cache:
    // projects hard-link into it, so moving it would free nothing.
    {".cache/pnpm", "pnpm cache", Category::appCaches, nullptr},
    // Go's compiled-package cache; `go build` fills it again.
    {".cache/go-build", "Go build cache", Category::appCaches, nullptr},
    // Downloaded .crate archives; the unpacked sources beside them stay.
    {".cargo/registry/cache", "Cargo download cache", Category::appCaches, nullptr},
    // Downloaded dependencies and transformed artifacts.
    {".gradle/caches", "Gradle cache", Category::appCaches, nullptr},
    // Gradle releases the wrapper downloaded; fetched again by the next build that needs one.
    {".gradle/wrapper/dists", "Gradle wrapper downloads", Category::appCaches, nullptr},
    // Module archives Go downloaded; the unpacked modules beside them stay.
    {"go/pkg/mod/cache/download", "Go module downloads", Category::appCaches, nullptr},
    // Cabal's downloaded package archives and package index; `cabal update` fetches them again.
    {".cabal/packages", "Cabal download cache", Category::appCaches, nullptr},
    // Ivy's resolution cache (sbt, Ant); what `publishLocal` installs lives in ~/.ivy2/local.
    {".ivy2/cache", "Ivy cache", Category::appCaches, nullptr},
    // Composer's downloaded package archives and repository metadata.
    {".cache/composer", "Composer cache", Category::appCaches, nullptr},
    // Maven's downloads. Chosen by hand only: the same folder holds what `mvn install` put there
    // from the user's own projects, which no server can give back.
    {".m2/repository", "Maven repository", Category::appCaches, nullptr, true},
}};

// The folders of the cache folder that no row names: the freedesktop.org base directory rules
// make whatever an application keeps there disposable, but the application may miss it, so each
// is chosen by hand.
constexpr Row otherCacheFolders = {".cache/*", "App caches", Category::appCaches, nullptr, true};

std::vector<std::string> ownersOf(const char* owner) {
    return owner ? std::vector<std::string>{owner} : std::vector<std::string>{};
}

std::vector<Cache> buildCaches() {
    std::vector<Cache> rows;
    for (const Row& row : browserRows) {
        rows.push_back({row.path, row.title, row.category, ownersOf(row.owner)});
    }
    for (const ChromiumProfile& browser : chromiumProfiles) {
        for (const auto& [folder, title] : chromiumProfileCaches) {
            rows.push_back({std::string(browser.profile) + folder,
                            std::string(browser.title) + " \u00B7 " + title,
                            CleanupCategory::browserCaches, ownersOf(browser.owner)});
        }
    }
    auto addElectron = [&](const ElectronApp& app, const std::string& base,
                           const std::string& title) {
        for (const Subfolder& cache : electronCaches) {
            rows.push_back({base + cache.path, title + " \u00B7 " + cache.title, app.category,
                            ownersOf(app.owner)});
        }
        if (std::string_view(app.folder) == "Code") {
            for (const Subfolder& cache : vsCodeCaches) {
                rows.push_back({base + cache.path, title + " \u00B7 " + cache.title, app.category,
                                ownersOf(app.owner)});
            }
        }
    };
    for (const ElectronApp& app : electronApps) {
        addElectron(app, std::string(".config/") + app.folder + "/", app.title);
    }
    // A Flatpak application's ~/.config is ~/.var/app/<app id>/config.
    for (const ElectronApp& app : electronApps) {
        if (app.flatpakId != nullptr) {
            addElectron(app,
                        std::string(".var/app/") + app.flatpakId + "/config/" + app.folder + "/",
                        std::string(app.title) + " (Flatpak)");
        }
    }
    for (const Row& row : otherRows) {
        rows.push_back({row.path, row.title, row.category, ownersOf(row.owner), row.manualOnly});
    }
    rows.push_back(
        {otherCacheFolders.path, otherCacheFolders.title, otherCacheFolders.category, {}, true});
    return rows;
}

using Kind = LogFolder::Kind;

// Logs that applications write into their cache and state folders, and the crash dumps that
// Crashpad (Chromium, Electron) and Firefox keep until they are sent.
const std::vector<LogFolder> logFolderTable = {
    {".cache", Kind::logs},
    {".local/state", Kind::logs},
    // The rootless X server's logs.
    {".local/share/xorg", Kind::logs},
    {".var/app/*/cache", Kind::logs},
    {".var/app/*/.local/state", Kind::logs},
    {".config/*/Crashpad/completed", Kind::crashDumps},
    {".config/*/Crashpad/pending", Kind::crashDumps},
    {".config/*/Crash Reports/completed", Kind::crashDumps},
    {".config/*/Crash Reports/pending", Kind::crashDumps},
    {".config/BraveSoftware/Brave-Browser/Crash Reports/completed", Kind::crashDumps},
    {".config/BraveSoftware/Brave-Browser/Crash Reports/pending", Kind::crashDumps},
    {".var/app/*/config/*/Crashpad/completed", Kind::crashDumps},
    {".var/app/*/config/*/Crashpad/pending", Kind::crashDumps},
    {".var/app/*/config/*/Crash Reports/completed", Kind::crashDumps},
    {".var/app/*/config/*/Crash Reports/pending", Kind::crashDumps},
    // Minidumps with their annotations, and the receipts of reports already sent.
    {".mozilla/firefox/Crash Reports/pending", Kind::firefoxPending},
    {".mozilla/firefox/Crash Reports/submitted", Kind::firefoxSubmitted},
    {".var/app/org.mozilla.firefox/.mozilla/firefox/Crash Reports/pending", Kind::firefoxPending},
    {".var/app/org.mozilla.firefox/.mozilla/firefox/Crash Reports/submitted",
     Kind::firefoxSubmitted},
};

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool matchesPrefix(const std::vector<std::string_view>& path, std::string_view pattern) {
    std::vector<std::string_view> parts = PathText::components(pattern);
    // The file itself lies below the folder.
    if (path.size() <= parts.size()) {
        return false;
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] != "*" && parts[i] != path[i]) {
            return false;
        }
    }
    return true;
}

bool collects(Kind kind, std::string_view name) {
    // The X session's log stays open for the whole session, wherever a setup puts it.
    if (name.find("xsession-errors") != std::string_view::npos) {
        return false;
    }
    switch (kind) {
    case Kind::logs:
        return isLogName(name) || endsWith(name, ".crash");
    case Kind::crashDumps:
        return endsWith(name, ".dmp");
    case Kind::firefoxPending:
        return endsWith(name, ".dmp") || endsWith(name, ".extra");
    case Kind::firefoxSubmitted:
        return endsWith(name, ".txt");
    }
    return false;
}

} // namespace

const std::vector<Cache>& caches() {
    static const std::vector<Cache> table = buildCaches();
    return table;
}

const std::vector<LogFolder>& logFolders() {
    return logFolderTable;
}

bool isLogName(std::string_view name) {
    if (endsWith(name, ".gz")) {
        name.remove_suffix(3);
    } else if (endsWith(name, ".old")) {
        name.remove_suffix(4);
    }
    // A rotation number: "x.log.1".
    size_t digits = 0;
    while (digits < name.size() && name[name.size() - 1 - digits] >= '0' &&
           name[name.size() - 1 - digits] <= '9') {
        ++digits;
    }
    if (digits > 0 && digits < name.size() && name[name.size() - 1 - digits] == '.') {
        name.remove_suffix(digits + 1);
    }
    return name.size() > 4 && endsWith(name, ".log");
}

std::optional<LogFolder::Kind> logKind(std::string_view relativePath) {
    std::vector<std::string_view> path = PathText::components(relativePath);
    if (path.empty()) {
        return std::nullopt;
    }
    // The X session's log and the previous session's, in the home folder itself.
    if (path.size() == 1) {
        if (path[0] == ".xsession-errors" || path[0] == ".xsession-errors.old") {
            return Kind::logs;
        }
        return std::nullopt;
    }
    const std::string name = FilePolicy::lowercased(path.back());
    for (const LogFolder& folder : logFolderTable) {
        if (matchesPrefix(path, folder.pattern)) {
            // The first matching folder decides, so a folder is never read with two kinds.
            if (collects(folder.kind, name)) {
                return folder.kind;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace varnok::LinuxLocations

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/cleanup/LinuxLocations.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

constexpr double day = 86400;

// A Linux home as a user with browsers, Electron and Flatpak applications, package managers and a
// few projects has it, with personal data beside every cache and old and new logs.
struct LinuxHome : ScratchHome {
    // Relative path of each expected suggestion to its category and size.
    std::map<std::string, std::pair<CleanupCategory, std::int64_t>> expected;

    std::string at(const std::string& relative) const { return home + "/" + relative; }
    std::string put(const std::string& relative, size_t bytes, double daysAgo = 1) const {
        std::string path = writeFile(at(relative), std::string(bytes, 'x'));
        setModifiedSecondsAgo(path, daysAgo * day);
        return path;
    }
    // A cache location made of the given files, expected as a suggestion.
    void cache(const std::string& location, CleanupCategory category,
               const std::vector<std::pair<std::string, size_t>>& files) {
        std::int64_t total = 0;
        for (const auto& [file, bytes] : files) {
            put(location + "/" + file, bytes);
            total += static_cast<std::int64_t>(bytes);
        }
        expected.emplace(location, std::make_pair(category, total));
    }
    void oldLog(const std::string& relative, size_t bytes) {
        put(relative, bytes, 45);
        expected.emplace(relative, std::make_pair(CleanupCategory(CleanupCategory::oldLogs),
                                                  static_cast<std::int64_t>(bytes)));
    }

    LinuxHome() {
        using C = CleanupCategory;
        // Browsers: caches under ~/.cache, profiles with personal data elsewhere.
        cache(".cache/google-chrome", C::browserCaches,
              {{"Default/Cache/Cache_Data/data_0", 4000}, {"Default/Code Cache/js/index", 700}});
        for (const char* file : {"Cookies", "History", "Local Storage/leveldb/000003.log",
                                 "Login Data", "Bookmarks"}) {
            put(std::string(".config/google-chrome/Default/") + file, 300, 60);
        }
        cache(".config/google-chrome/Default/GPUCache", C::browserCaches, {{"data_0", 100}});
        cache(".cache/mozilla/firefox", C::browserCaches,
              {{"k1.default-release/cache2/entries/A1", 3000},
               {"k1.default-release/startupCache/scriptCache.bin", 500}});
        put(".mozilla/firefox/k1.default-release/cookies.sqlite", 200, 60);
        put(".mozilla/firefox/k1.default-release/places.sqlite", 900, 60);
        // A cache holding a Cookies file is never suggested whole: only its cache subfolders.
        cache(".cache/chromium/Default/Cache", C::browserCaches, {{"data_0", 800}});
        put(".cache/chromium/Default/Cookies", 50);

        // Electron applications: only the cache subfolders, never Local Storage or IndexedDB.
        cache(".config/Slack/Cache", C::communicationCaches, {{"Cache_Data/f_000001", 2500}});
        cache(".config/Slack/Code Cache", C::communicationCaches, {{"js/0a1b", 600}});
        cache(".config/Slack/Service Worker/CacheStorage", C::communicationCaches,
              {{"4f2e/0a/entry", 1500}});
        put(".config/Slack/Service Worker/Database/000001.log", 40);
        put(".config/Slack/Local Storage/leveldb/000005.ldb", 300, 60);
        put(".config/Slack/IndexedDB/https_app.slack.com_0.indexeddb.leveldb/000003.log", 300, 60);
        put(".config/Slack/Cookies", 100, 60);
        cache(".config/discord/Cache", C::communicationCaches, {{"Cache_Data/data_1", 1800}});
        // A hard-linked file keeps discord's GPU cache out.
        std::string linked = put(".config/discord/GPUCache/data_0", 100);
        EXPECT_EQ(::link(linked.c_str(), at(".config/discord/linked").c_str()), 0);
        cache(".config/Claude/Code Cache", C::aiCaches, {{"wasm/index", 400}});
        cache(".config/Code/CachedData", C::appCaches, {{"1a2b3c/main.js.cache", 1200}});
        cache(".config/Code/CachedExtensionVSIXs", C::appCaches, {{"ms-python.python-2024", 900}});
        put(".config/Code/User/settings.json", 80, 60);
        put(".config/Code/logs/20240101T000000/main.log", 70, 60);

        // Flatpak homes, one with an unexpected layout and one reached through a link.
        cache(".var/app/com.slack.Slack/config/Slack/GPUCache", C::communicationCaches,
              {{"data_0", 350}});
        cache(".var/app/com.spotify.Client/cache/spotify", C::appCaches,
              {{"Data/ab/track.file", 2200}});
        put(".var/app/com.discordapp.Discord/config/discord/Cache", 500);
        put("elsewhere/firefox/cache2/x", 600);
        makeFolder(at(".var/app/org.mozilla.firefox/cache/mozilla"));
        makeSymlink(at("elsewhere/firefox"),
                    at(".var/app/org.mozilla.firefox/cache/mozilla/firefox"));

        // Other applications and the package managers' download caches.
        cache(".cache/spotify", C::appCaches, {{"Data/0f/abc.file", 2600}, {"Storage/index", 90}});
        cache(".cache/thumbnails", C::appCaches,
              {{"normal/5e8f.png", 300}, {"large/5e8f.png", 700}});
        cache(".cache/JetBrains", C::appCaches,
              {{"IntelliJIdea2024.1/caches/content.dat", 1600},
               {"IntelliJIdea2024.1/index/stubs/data", 800}});
        // Its own log goes with the folder, not as a second suggestion.
        put(".cache/JetBrains/IntelliJIdea2024.1/log/idea.log", 100, 90);
        expected.at(".cache/JetBrains").second += 100;
        cache(".cache/pip", C::appCaches, {{"http-v2/a/b/c/d/e/f00d", 1900}});
        cache(".npm/_cacache", C::appCaches, {{"content-v2/sha512/aa/bb", 1700}});
        put(".npm/_logs/2024-01-01T00_00_00_000Z-debug-0.log", 60, 60);
        cache(".cache/yarn", C::appCaches, {{"v6/npm-left-pad-1.3.0/package.json", 300}});
        cache(".cache/go-build", C::appCaches, {{"0a/0a1b-d", 1300}});
        cache(".cargo/registry/cache", C::appCaches,
              {{"index.crates.io-6f17d22bba15001f/serde-1.0.200.crate", 1400}});
        put(".cargo/registry/src/index.crates.io-6f17d22bba15001f/serde-1.0.200/lib.rs", 500);
        cache(".gradle/caches", C::appCaches, {{"modules-2/files-2.1/guava/guava.jar", 1500}});
        // Offered, but only to be chosen by hand.
        cache(".m2/repository", C::appCaches, {{"org/example/app/1.0/app-1.0.jar", 1500}});
        cache(".gradle/wrapper/dists", C::appCaches,
              {{"gradle-8.5-bin/5t9/gradle-8.5-bin.zip", 990}});
        cache("go/pkg/mod/cache/download", C::appCaches,
              {{"golang.org/x/text/@v/v0.14.0.zip", 880}});
        put("go/pkg/mod/golang.org/x/text@v0.14.0/doc.go", 870);
        cache(".cabal/packages", C::appCaches,
              {{"hackage.haskell.org/text/2.0/text-2.0.tar.gz", 860}});
        cache(".ivy2/cache", C::appCaches, {{"org.scala-lang/scala-library/jars/s.jar", 850}});
        put(".ivy2/local/org.example/app/1.0/jars/app.jar", 840);

        // Logs and crash reports.
        oldLog(".cache/some-tool/tool.log", 210);
        oldLog(".cache/some-tool/tool.LOG.1", 220);
        oldLog(".cache/some-tool/tool.log.2.gz", 230);
        put(".cache/some-tool/recent.log", 240, 2);
        put(".cache/some-tool/tool.logger", 250, 60);
        oldLog(".local/state/app/core.crash", 260);
        oldLog(".local/state/wireplumber/wireplumber.log", 270);
        put(".local/state/app/history.txt", 280, 60);
        put(".local/state/lightdm/xsession-errors.log", 290, 60);
        oldLog(".xsession-errors", 300);
        put(".xsession-errors.old", 300, 2);
        oldLog(".config/Slack/Crashpad/completed/6d1c.dmp", 310);
        put(".config/Slack/Crashpad/pending/new.dmp", 320, 2);
        put(".config/Slack/Crashpad/settings.dat", 40, 60);
        oldLog(".config/google-chrome/Crash Reports/completed/9e2a.dmp", 330);
        put(".config/google-chrome/Crash Reports/completed/9e2a.meta", 20, 60);
        oldLog(".mozilla/firefox/Crash Reports/pending/41b2.dmp", 340);
        oldLog(".mozilla/firefox/Crash Reports/pending/41b2.extra", 350);
        oldLog(".mozilla/firefox/Crash Reports/submitted/bp-41b2.txt", 360);
        oldLog(".var/app/com.slack.Slack/config/Slack/Crashpad/completed/77aa.dmp", 370);
        // A hard-linked old log, and one whose name only looks like one through a link.
        std::string twice = put(".cache/other/twice.log", 380, 60);
        EXPECT_EQ(::link(twice.c_str(), at(".cache/other/again.log").c_str()), 0);
        makeSymlink(at(".local/state/app/history.txt"), at(".cache/other/alias.log"));
    }
};

std::string relative(const LinuxHome& h, const CleanupCandidate& candidate) {
    return candidate.node.id.path().substr(h.home.size() + 1);
}

TEST(LinuxHome, FindsEachCacheAndOldLogWithItsSizeAndNothingElse) {
    LinuxHome h;
    // A session's log that is still open is left alone however old it is.
    std::string open = h.put(".local/state/daemon/daemon.log", 400, 60);
    int held = ::open(open.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ConsumerCleanup::Result result = ConsumerCleanup::scan(Url::file(h.home, true), {});
    ::close(held);

    const Url homeUrl = Url::file(h.home, true);
    std::map<std::string, std::pair<CleanupCategory, std::int64_t>> found;
    for (const CleanupCandidate& candidate : result.candidates) {
        std::string path = relative(h, candidate);
        found.emplace(path, std::make_pair(candidate.category, candidate.node.logicalSize));
        // Every suggestion is exactly a Linux table location or a file in a Linux log folder.
        const ConsumerCleanup::Rule* rule = ConsumerCleanup::rule(candidate.id(), homeUrl);
        if (candidate.category == CleanupCategory::oldLogs) {
            EXPECT_EQ(rule, nullptr) << path;
            EXPECT_TRUE(LinuxLocations::logKind(path).has_value()) << path;
            EXPECT_FALSE(candidate.node.isDirectory) << path;
        } else {
            ASSERT_NE(rule, nullptr) << path;
            EXPECT_TRUE(rule->linuxHome) << path;
            EXPECT_TRUE(candidate.node.isDirectory) << path;
        }
    }
    EXPECT_EQ(found, h.expected);
    EXPECT_TRUE(result.unreadable.empty()) << ::testing::PrintToString(result.unreadable);

    auto evidence = [&](const std::string& path) {
        for (const CleanupCandidate& candidate : result.candidates) {
            if (relative(h, candidate) == path) {
                return candidate.evidence;
            }
        }
        return std::string("(not found)");
    };
    EXPECT_EQ(evidence(".config/Slack/Cache"),
              "Known cache location: .config/Slack/Cache. Close the related app before removal.");
    EXPECT_EQ(evidence(".cache/pip"), "Known cache location: .cache/pip. It is downloaded or "
                                      "rebuilt again when needed.");
    EXPECT_EQ(evidence(".mozilla/firefox/Crash Reports/pending/41b2.dmp"),
              "Log or crash report in .mozilla/firefox/Crash Reports/pending, last modified over "
              "30 days ago.");
    EXPECT_EQ(ConsumerCleanup::title(
                  Url::file(h.at(".config/Slack/Service Worker/CacheStorage"), true), homeUrl),
              "Slack \u00B7 Service Worker cache");
    EXPECT_EQ(ConsumerCleanup::title(Url::file(h.at(".cache/pip"), true), homeUrl),
              "pip download cache");
}

// ~/.cache is read for its cache folders and again for its logs.
TEST(LinuxHome, AFolderUnreadableInACacheIsListedOnceAndKeepsTheCacheOut) {
    ScratchHome h;
    writeFile(h.home + "/.cache/pip/http/data", "cached");
    setMode(makeFolder(h.home + "/.cache/pip/locked"), 0);
    writeFile(h.home + "/.config/Slack/Cache/data", "cached");
    setMode(makeFolder(h.home + "/.config/Slack/Crashpad"), 0);
    auto outcome = runUnprivileged([&] {
        auto result = ConsumerCleanup::scan(Url::file(h.home, true), {});
        std::string out = ::testing::PrintToString(result.unreadable);
        for (const auto& candidate : result.candidates) {
            out += " " + candidate.node.id.lastPathComponent();
        }
        return out;
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output,
              ::testing::PrintToString(std::vector<std::string>{
                  h.home + "/.cache/pip/locked", h.home + "/.config/Slack/Crashpad/completed",
                  h.home + "/.config/Slack/Crashpad/pending"}) +
                  " Cache");
}

TEST(LinuxHome, RowsStayExactLocationsAndAskTheirOwnersToClose) {
    LinuxHome h;
    const Url homeUrl = Url::file(h.home, true);
    const Date now = std::chrono::system_clock::now();
    auto scanned = [&](const std::string& path) {
        return ScanEngine::scan(Url::file(h.at(path), true), {}).root;
    };
    // A folder inside a location is that location's only when named as a cache; one above it
    // never is.
    EXPECT_FALSE(ConsumerCleanup::eligible(scanned(".config/Slack/Service Worker"),
                                           CleanupCategory::communicationCaches, homeUrl, now));
    EXPECT_FALSE(ConsumerCleanup::eligible(scanned(".cache/chromium/Default"),
                                           CleanupCategory::browserCaches, homeUrl, now));
    EXPECT_TRUE(ConsumerCleanup::eligible(scanned(".cache/chromium/Default/Cache"),
                                          CleanupCategory::browserCaches, homeUrl, now));
    EXPECT_FALSE(
        ConsumerCleanup::eligible(scanned(".cache"), CleanupCategory::appCaches, homeUrl, now));
    EXPECT_TRUE(
        ConsumerCleanup::eligible(scanned(".cache/pip"), CleanupCategory::appCaches, homeUrl, now));
    EXPECT_FALSE(ConsumerCleanup::eligible(scanned(".cache/pip"), CleanupCategory::browserCaches,
                                           homeUrl, now));
    // Logs qualify only in the log folders.
    ScanResult codeLogs = ScanEngine::scan(Url::file(h.at(".config/Code/logs"), true), {});
    const FileNode& log = codeLogs.root.children.at(0).children.at(0);
    EXPECT_FALSE(ConsumerCleanup::eligible(log, CleanupCategory::oldLogs, homeUrl, now));

    auto candidate = [&](const std::string& path) {
        FileNode node;
        node.id = Url::file(h.at(path), true);
        node.isDirectory = true;
        return CleanupCandidate(node, CleanupCategory::appCaches, h.home, "");
    };
    auto running = [](std::string id, std::string name) {
        return RunningApplication{std::move(id), std::move(name), false, {}, {}};
    };
    const std::vector<RunningApplication> apps = {
        running("com.microsoft.VSCode", "Visual Studio Code"),
        running("com.microsoft.VSCode.helper", "Visual Studio Code Helper"),
        running("com.jetbrains.PyCharm", "PyCharm"), running("com.google.Chrome", "Google Chrome"),
        running("com.tinyspeck.slackmacgap", "Slack")};
    using Names = std::vector<std::string>;
    EXPECT_EQ(ConsumerCleanup::runningApps(candidate(".config/Code/CachedData"), homeUrl, apps),
              Names({"Visual Studio Code", "Visual Studio Code Helper"}));
    EXPECT_EQ(ConsumerCleanup::runningApps(candidate(".cache/JetBrains"), homeUrl, apps),
              Names({"PyCharm"}));
    EXPECT_EQ(ConsumerCleanup::runningApps(
                  candidate(".var/app/com.slack.Slack/config/Slack/GPUCache"), homeUrl, apps),
              Names({"Slack"}));
    EXPECT_TRUE(ConsumerCleanup::runningApps(candidate(".cache/pip"), homeUrl, apps).empty());
}

const CleanupCandidate& find(const ConsumerCleanup::Result& result, const std::string& path) {
    for (const CleanupCandidate& candidate : result.candidates) {
        if (candidate.node.id.path() == path) {
            return candidate;
        }
    }
    throw std::runtime_error("not suggested: " + path);
}

TEST(LinuxHome, ACacheGoesToTheTrashAndComesBackAndAChangedOneIsRefused) {
    LinuxHome h;
    const Url homeUrl = Url::file(h.home, true);
    const Url history = Url::file(h.dir.at("history"), true);
    ConsumerCleanup::Result result = ConsumerCleanup::scan(homeUrl, {});
    const std::string pip = h.at(".cache/pip");
    const std::string slack = h.at(".config/Slack/Cache");
    const std::string log = h.at(".local/state/app/core.crash");

    CleanupPlan plan = TrashService::prepare({find(result, pip), find(result, log)}, homeUrl);
    TrashReport report = TrashService::execute(plan, history);
    EXPECT_EQ(report.movedCount(), 2);
    EXPECT_FALSE(exists(pip));
    EXPECT_FALSE(exists(log));
    TrashService::restore(report.id, Url::file(pip, true), history);
    EXPECT_EQ(readText(pip + "/http-v2/a/b/c/d/e/f00d"), std::string(1900, 'x'));

    // A new entry deep inside the cache leaves the folder's own identity alone. No Slack runs
    // here, whatever stand-ins other tests start meanwhile.
    writeFile(slack + "/Cache_Data/f_000002", "new");
    {
        ScopedRunningApplications none([] { return std::vector<RunningApplication>{}; });
        EXPECT_EQ(problemOf([&] { TrashService::validate(find(result, slack), homeUrl); }),
                  "Cache contents changed since the scan. Close the related app and scan again.");
    }
    // The application holding it must be closed first.
    const CleanupCandidate& chrome = find(result, h.at(".cache/google-chrome"));
    {
        ScopedRunningApplications fixed([] {
            return std::vector<RunningApplication>{
                {"com.google.Chrome", "Google Chrome", true, {}, {}}};
        });
        EXPECT_EQ(problemOf([&] { TrashService::validate(chrome, homeUrl); }),
                  "Close Google Chrome and scan again before cleaning its cache.");
    }
    // A cookies file appearing in a cache makes it a place of personal data.
    writeFile(h.at(".cache/spotify/Cookies"), "session");
    EXPECT_EQ(
        problemOf([&] { TrashService::validate(find(result, h.at(".cache/spotify")), homeUrl); }),
        "This cache or log changed or no longer matches the cleanup rule. Scan again.");
}

// The suggestions of a scan by path relative to the home, with their titles.
std::map<std::string, std::string> suggestions(const ScratchHome& h,
                                               const ConsumerCleanup::Result& result) {
    std::map<std::string, std::string> found;
    for (const CleanupCandidate& candidate : result.candidates) {
        found.emplace(candidate.node.id.path().substr(h.home.size() + 1),
                      ConsumerCleanup::title(candidate.id(), Url::file(h.home, true)));
    }
    return found;
}

// Names browsers and Electron applications give to what a user would miss.
bool looksPrivate(const std::string& name) {
    for (const char* part : {"Cookies", "History", "Login Data", "Web Data", "Local Storage",
                             "IndexedDB", "Session Storage", ".sqlite", "key4.db", "Favicons"}) {
        if (name.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(LinuxHome, PrivateDataInsideACacheNarrowsTheSuggestionToItsCacheFolders) {
    ScratchHome h;
    auto put = [&](const std::string& relative, size_t bytes = 100) {
        writeFile(h.home + "/" + relative, std::string(bytes, 'c'));
    };
    // Chrome left its cookies journal beside the disk cache.
    put(".cache/google-chrome/Default/Cache/Cache_Data/data_1");
    put(".cache/google-chrome/Default/Code Cache/js/index");
    put(".cache/google-chrome/Default/Cookies-journal");
    put(".config/google-chrome/Default/Cookies");
    put(".config/google-chrome/Default/GPUCache/data_0");
    // A Firefox profile whose places database sits in the cache folder.
    put(".cache/mozilla/firefox/k1.default-release/cache2/entries/A1");
    put(".cache/mozilla/firefox/k1.default-release/startupCache/scriptCache.bin");
    put(".cache/mozilla/firefox/k1.default-release/places.sqlite-wal");
    // Electron: cookies inside the HTTP cache leave only its data folder; site storage inside
    // the code cache, which has no cache folder of its own, drops it.
    put(".config/Slack/Cache/Cache_Data/f_000001");
    put(".config/Slack/Cache/Cookies");
    put(".config/discord/Code Cache/js/0a1b");
    put(".config/discord/Code Cache/Local Storage/leveldb/000005.ldb");
    put(".config/discord/Cache/Cache_Data/data_1");
    // Chromium's other profile files that tell where the browser went.
    put(".cache/chromium/Default/Cache/Cache_Data/data_1");
    put(".cache/chromium/Default/Code Cache/js/index");
    put(".cache/chromium/Default/Code Cache/Extension Cookies");
    put(".cache/chromium/Default/Favicons-journal");
    // Snaps: Firefox's cache is clean, Chromium's holds the profile's cookies.
    put("snap/firefox/common/.cache/mozilla/firefox/ab12.default/cache2/entries/77AA");
    put("snap/firefox/common/.mozilla/firefox/ab12.default/cookies.sqlite");
    put("snap/chromium/2345/.cache/chromium/Default/Cache/Cache_Data/data_1");
    put("snap/chromium/2345/.cache/chromium/Default/Cookies");
    // A snap's cache folder is one like ~/.cache; its other folders are not a Linux home's.
    put("snap/firefox/common/.cache/fontconfig/abc-le64.cache-8");
    put("snap/firefox/common/.local/state/old.log");
    setModifiedSecondsAgo(h.home + "/snap/firefox/common/.local/state/old.log", 45 * day);

    ConsumerCleanup::Result result = ConsumerCleanup::scan(Url::file(h.home, true), {});
    const std::map<std::string, std::string> expected = {
        {".cache/google-chrome/Default/Cache", "Chrome cache \u00B7 Default/Cache"},
        {".cache/google-chrome/Default/Code Cache", "Chrome cache \u00B7 Default/Code Cache"},
        {".config/google-chrome/Default/GPUCache", "Chrome \u00B7 GPUCache"},
        {".cache/mozilla/firefox/k1.default-release/cache2",
         "Firefox cache \u00B7 k1.default-release/cache2"},
        {".cache/mozilla/firefox/k1.default-release/startupCache",
         "Firefox cache \u00B7 k1.default-release/startupCache"},
        {".config/Slack/Cache/Cache_Data", "Slack \u00B7 Cache \u00B7 Cache_Data"},
        {".config/discord/Cache", "Discord \u00B7 Cache"},
        {".cache/chromium/Default/Cache", "Chromium cache \u00B7 Default/Cache"},
        {"snap/firefox/common/.cache/mozilla/firefox", "Firefox cache (snap)"},
        {"snap/firefox/common/.cache/fontconfig", "fontconfig"},
        {"snap/chromium/2345/.cache/chromium/Default/Cache",
         "Chromium cache (snap) \u00B7 Default/Cache"},
    };
    EXPECT_EQ(suggestions(h, result), expected);

    // Nothing offered holds a private file, however deep.
    for (const CleanupCandidate& candidate : result.candidates) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(candidate.node.id.path())) {
            EXPECT_FALSE(looksPrivate(entry.path().filename().string())) << entry.path();
        }
    }
    // A narrowed folder that gains a cookies file is refused before it moves (with no Slack
    // running, whatever stand-ins other tests start meanwhile).
    const std::string narrowed = h.home + "/.config/Slack/Cache/Cache_Data";
    ScopedRunningApplications none([] { return std::vector<RunningApplication>{}; });
    for (const CleanupCandidate& candidate : result.candidates) {
        if (candidate.node.id.path() == narrowed) {
            EXPECT_EQ(
                problemOf([&] { TrashService::validate(candidate, Url::file(h.home, true)); }),
                "(accepted)");
            writeFile(narrowed + "/Cookies-journal", "session");
            EXPECT_NE(
                problemOf([&] { TrashService::validate(candidate, Url::file(h.home, true)); }),
                "(accepted)");
        }
    }
}

TEST(LinuxHome, TheCacheFolderIsWhereXdgCacheHomePutsIt) {
    ScratchHome h;
    const std::string elsewhere = makeFolder(h.dir.at("fast-disk/cache"));
    writeFile(elsewhere + "/pip/http-v2/a/wheel", "wheel");
    writeFile(elsewhere + "/mesa_shader_cache/ab/cdef", "shader");
    writeFile(elsewhere + "/tool/tool.log", "old log");
    setModifiedSecondsAgo(elsewhere + "/tool/tool.log", 45 * day);
    // No longer the cache folder: what is in ~/.cache is the user's own business.
    writeFile(h.home + "/.cache/pip/http-v2/b/wheel", "wheel");
    writeFile(h.home + "/.cache/leftover/data", "data");
    {
        ScopedEnv cacheVariable("XDG_CACHE_HOME", elsewhere);
        ConsumerCleanup::Result result = ConsumerCleanup::scan(Url::file(h.home, true), {});
        std::set<std::string> found;
        for (const CleanupCandidate& candidate : result.candidates) {
            found.insert(candidate.node.id.path());
        }
        EXPECT_EQ(found,
                  (std::set<std::string>{elsewhere + "/pip", elsewhere + "/mesa_shader_cache",
                                         elsewhere + "/tool/tool.log"}));
    }
    // Reached through a link, it is used at its real place.
    makeSymlink(h.dir.at("fast-disk"), h.dir.at("linked"));
    {
        ScopedEnv cacheVariable("XDG_CACHE_HOME", h.dir.at("linked/cache"));
        EXPECT_EQ(ConsumerCleanup::cacheHome(Url::file(h.home, true)), elsewhere);
    }
    // A relative value, or one naming the home itself or a system folder, is not used.
    for (const std::string& value : {std::string("rel/cache"), h.home, std::string("/usr")}) {
        ScopedEnv cacheVariable("XDG_CACHE_HOME", value);
        EXPECT_EQ(ConsumerCleanup::cacheHome(Url::file(h.home, true)), h.home + "/.cache") << value;
    }
}

TEST(LinuxHome, OtherFoldersOfTheCacheFolderAreOfferedOnlyToBeChosenByHand) {
    ScratchHome h;
    auto put = [&](const std::string& relative) {
        return writeFile(h.home + "/.cache/" + relative, std::string(200, 'c'));
    };
    put("mesa_shader_cache/ab/cdef");
    put("tracker3/files/meta.db");
    put("gnome-software/odrs/ratings.json");
    put("pip/http-v2/a/wheel");
    // Never offered: a folder named like one the table handles more narrowly, one holding
    // private data, a hidden one, one a running program holds, a plain file.
    put("mozilla/extensions/x.xpi");
    put("Slack/blob");
    put("webapp/Cookies");
    put(".fr-Xyz12/part");
    const std::string busy = put("indexer/journal");
    put("loose-file");
    int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ConsumerCleanup::Result result = ConsumerCleanup::scan(Url::file(h.home, true), {});
    ::close(held);

    std::map<std::string, bool> found;
    for (const CleanupCandidate& candidate : result.candidates) {
        const std::string path = candidate.node.id.path().substr(h.home.size() + 1);
        found.emplace(path, candidate.manualOnly);
        EXPECT_EQ(candidate.category, CleanupCategory::appCaches) << path;
        if (candidate.manualOnly) {
            EXPECT_EQ(candidate.evidence,
                      "Folder in the cache folder (" + path +
                          "). By the freedesktop.org base directory rules its application "
                          "rebuilds it when needed; choose it by hand.");
        }
    }
    EXPECT_EQ(found, (std::map<std::string, bool>{{".cache/gnome-software", true},
                                                  {".cache/mesa_shader_cache", true},
                                                  {".cache/pip", false},
                                                  {".cache/tracker3", true}}));
}

TEST(LinuxHome, DeveloperOutputOnEvidenceAndNeverBesideSourceOrSecrets) {
    LinuxHome h;
    auto file = [&](const std::string& path, const std::string& text = "x") {
        writeFile(h.at("Projects/" + path), text);
    };
    const std::string tag = "Signature: 8a477f597d28d172789f06886806bc55\n# cache\n";
    file("rust/Cargo.toml");
    file("rust/src/main.rs");
    file("rust/target/debug/app", std::string(5000, 'r'));
    file("py/pyproject.toml");
    file("py/.venv/pyvenv.cfg", "home = /usr/bin");
    file("py/.venv/lib/python3.11/site-packages/req/__pycache__/api.cpython-311.pyc");
    file("py/pkg/mod.py");
    file("py/pkg/__pycache__/mod.cpython-311.pyc", std::string(300, 'p'));
    file("py/.pytest_cache/v/cache/nodeids", "[]");
    file("py/.mypy_cache/3.11/pkg.meta.json", "{}");
    file("py/.ruff_cache/0.4.0/123", "r");
    file("py/.tox/py311/pyvenv.cfg", "home = /usr/bin");
    file("cmake/CMakeLists.txt");
    file("cmake/build/CMakeCache.txt", "CMAKE_HOME_DIRECTORY=..");
    file("cmake/build/CMakeFiles/app.dir/main.o", std::string(900, 'o'));
    file("gradle/build.gradle.kts");
    file("gradle/build/libs/app.jar", std::string(700, 'j'));
    file("gradle/.gradle/8.5/checksums.lock");
    file("maven/pom.xml");
    file("maven/target/classes/App.class", std::string(600, 'c'));
    file("web/package.json", "{}");
    file("web/vite.config.ts");
    file("web/dist/index.js", std::string(400, 'w'));
    file("tagged/output/CACHEDIR.TAG", tag);
    file("tagged/output/blob", "b");

    // Left alone: the build of an in-source project, a venv holding secrets, a target whose
    // manifest is a link, a tag without the signature, bytecode beside other files.
    file("insource/CMakeLists.txt");
    file("insource/CMakeCache.txt");
    file("insource/CMakeFiles/x.o");
    file("secret/.venv/pyvenv.cfg");
    file("secret/.venv/.env", "TOKEN=1");
    file("linked/real.toml");
    makeSymlink(h.at("Projects/linked/real.toml"), h.at("Projects/linked/Cargo.toml"));
    file("linked/target/debug/app");
    file("untagged/cache/CACHEDIR.TAG", "not the signature");
    file("mixed/__pycache__/mod.pyc");
    file("mixed/__pycache__/notes.txt");
    file("vcs/.venv/pyvenv.cfg");
    file("vcs/.venv/src/pkg/.git/HEAD");

    ScanResult scanned = ScanEngine::scan(Url::file(h.at("Projects"), true), {});
    std::map<std::string, std::pair<CleanupCategory, std::string>> found;
    for (const CleanupCandidate& candidate : CleanupAnalysis::detect(scanned.root, h.dir.url())) {
        found.emplace(candidate.node.id.path().substr(h.at("Projects/").size()),
                      std::make_pair(candidate.category, candidate.evidence));
    }
    using C = CleanupCategory;
    std::map<std::string, std::pair<CleanupCategory, std::string>> expected = {
        {"rust/target", {C::builds, "Adjacent Cargo.toml and Cargo build output."}},
        {"py/.venv", {C::dependencies, "pyvenv.cfg inside: a Python virtual environment."}},
        {"py/pkg/__pycache__", {C::builds, "Compiled Python bytecode (.pyc files only)."}},
        {"py/.pytest_cache", {C::builds, "pytest's cache folder, rebuilt on the next test run."}},
        {"py/.mypy_cache", {C::builds, "mypy's cache folder, rebuilt on the next type check."}},
        {"py/.ruff_cache", {C::builds, "Ruff's cache folder, rebuilt on the next lint."}},
        {"py/.tox", {C::dependencies, "Adjacent pyproject.toml: tox test environments."}},
        {"cmake/build", {C::builds, "CMakeCache.txt inside: a CMake build folder."}},
        {"gradle/build", {C::builds, "Adjacent build.gradle.kts: Gradle build output."}},
        {"gradle/.gradle", {C::builds, "Adjacent build.gradle.kts: Gradle build output."}},
        {"maven/target", {C::builds, "Adjacent pom.xml: Maven build output."}},
        {"web/dist", {C::builds, "Adjacent package.json and Vite configuration."}},
        {"tagged/output",
         {C::builds, "CACHEDIR.TAG inside: its program marked it as a cache folder."}},
    };
    EXPECT_EQ(found, expected);

    // Before a move each is looked at again beside its current markers.
    const Url root = Url::file(h.at("Projects"), true);
    auto candidates = CleanupAnalysis::detect(scanned.root, h.dir.url());
    for (const CleanupCandidate& candidate : candidates) {
        EXPECT_EQ(problemOf([&] { TrashService::validate(candidate, root); }), "(accepted)")
            << candidate.node.id.path();
    }
    ::unlink(h.at("Projects/maven/pom.xml").c_str());
    writeFile(h.at("Projects/tagged/output/CACHEDIR.TAG"), "edited");
    for (const CleanupCandidate& candidate : candidates) {
        std::string path = candidate.node.id.path();
        if (path == h.at("Projects/maven/target") || path == h.at("Projects/tagged/output")) {
            EXPECT_EQ(problemOf([&] { TrashService::validate(candidate, root); }),
                      "Project markers changed or the cleanup rule no longer matches. Scan again.")
                << path;
        }
    }
}

} // namespace

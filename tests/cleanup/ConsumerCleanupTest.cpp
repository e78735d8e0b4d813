#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/TestSupport.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace varnok;
using namespace varnok::testing;

namespace {

constexpr double day = 86400;

// A home folder in a scratch folder, with the macOS Library layout of the known locations.
class FakeHome {
public:
    std::string home() const { return dir.at("home"); }
    std::string at(const std::string& relative) const { return dir.at("home/" + relative); }
    Url url() const { return Url::file(home(), true); }

    // A cache folder at a known location holding one file of `bytes` bytes.
    std::string cache(const std::string& location, size_t bytes = 10,
                      const std::string& file = "data") const {
        return writeFile(at(location + "/" + file), std::string(bytes, 'c'));
    }
    std::string log(const std::string& relative, double daysAgo, size_t bytes = 10) const {
        std::string path = writeFile(at("Library/Logs/" + relative), std::string(bytes, 'l'));
        setModifiedSecondsAgo(path, daysAgo * day);
        return path;
    }
    ConsumerCleanup::Result scan() const { return ConsumerCleanup::scan(url(), {}); }

    TempDir dir;
};

const std::string firefox = "Library/Caches/Firefox";

std::vector<std::string> paths(const ConsumerCleanup::Result& result) {
    std::vector<std::string> out;
    for (const auto& candidate : result.candidates) {
        out.push_back(candidate.node.id.path());
    }
    return out;
}

using Paths = std::vector<std::string>;

TEST(ConsumerCleanupRules, GeneratedRowsAndLookupByStandardisedLocation) {
    const auto& rules = ConsumerCleanup::rules();
    // The macOS Library table comes first, then the Linux one.
    ASSERT_GT(rules.size(), 21u);
    for (size_t i = 0; i < rules.size(); ++i) {
        EXPECT_EQ(rules[i].linuxHome, i >= 21) << rules[i].path;
        EXPECT_EQ(rules[i].path.rfind("Library/", 0) == 0, i < 21) << rules[i].path;
    }
    EXPECT_TRUE(ConsumerCleanup::isConsumer(CleanupCategory::oldLogs));
    EXPECT_FALSE(ConsumerCleanup::isConsumer(CleanupCategory::dependencies));

    const Url home = Url::file("/Users/morvel", true);
    auto rule = [&](const std::string& path) {
        return ConsumerCleanup::rule(Url::file("/Users/" + path, true), home);
    };
    ASSERT_NE(rule("morvel/Library/Caches/Firefox/"), nullptr);
    EXPECT_EQ(rule("morvel/Library/Caches/Firefox/")->title, "Firefox cache");
    EXPECT_EQ(rule("morvel/x/../Library/Caches/Firefox"), rule("morvel/Library/Caches/Firefox"));
    EXPECT_EQ(rule("morvel/Library/Caches/firefox"), nullptr);
    EXPECT_EQ(rule("other/Library/Caches/Firefox"), nullptr);
    auto title = [&](const std::string& path, bool isDirectory) {
        return ConsumerCleanup::title(Url::file("/Users/morvel/" + path, isDirectory), home);
    };
    EXPECT_EQ(title("Library/Application Support/Slack/GPUCache", true), "Slack \u00B7 GPUCache");
    EXPECT_EQ(title("Library/Logs/a.log", false), "a.log");
}

TEST(ConsumerCleanupScan, CandidatesLargestFirstThenInDiscoveryOrderWithProgress) {
    FakeHome h;
    h.cache("Library/Application Support/Slack/Cache", 10);
    h.log("a.log", 40, 10);
    h.cache("Library/Caches/com.spotify.client", 10);
    h.cache("Library/Caches/com.figma.Desktop", 10);
    h.cache(firefox, 100);
    h.cache(firefox, 50, "entries/x");
    std::mutex lock;
    std::vector<std::string> titles;
    std::int64_t last = 0;
    bool backwards = false;
    auto result = ConsumerCleanup::scan(h.url(), [&](const std::string& title, std::int64_t files) {
        std::lock_guard guard(lock);
        if (titles.empty() || titles.back() != title) {
            titles.push_back(title);
        }
        backwards = backwards || files < last;
        last = files;
    });
    EXPECT_EQ(paths(result),
              Paths({h.at(firefox), h.at("Library/Caches/com.figma.Desktop"),
                     h.at("Library/Caches/com.spotify.client"),
                     h.at("Library/Application Support/Slack/Cache"), h.at("Library/Logs/a.log")}));
    EXPECT_EQ(result.checkedLocations, 5);
    EXPECT_EQ(result.checkedFiles, 6);
    EXPECT_TRUE(result.unreadable.empty());
    const auto& candidate = result.candidates.at(0);
    EXPECT_EQ(candidate.node.logicalSize, 150);
    EXPECT_EQ(candidate.category, CleanupCategory::browserCaches);
    EXPECT_EQ(candidate.evidence, "Known cache location: Library/Caches/Firefox. Close the related "
                                  "app before removal.");
    // Progress names every location in turn and never counts backwards; the rule for the cache
    // folder's other folders names each such folder, and this home has none.
    ASSERT_EQ(titles.size(), ConsumerCleanup::rules().size());
    EXPECT_EQ(titles.front(), "Figma cache");
    EXPECT_EQ(titles.back(), "Old logs & crash reports");
    EXPECT_FALSE(backwards);
    // The log folder's own report may or may not arrive before its scan ends.
    EXPECT_GE(last, 5);
    EXPECT_LE(last, 6);
}

TEST(ConsumerCleanupScan, OnlyCachesOfPlainFilesAtRealLocationsAreSuggested) {
    FakeHome h;
    // One qualifying cache, and one reason against at every other location.
    h.cache(firefox);
    std::string linked = h.cache("Library/Caches/com.figma.Desktop");
    ASSERT_EQ(::link(linked.c_str(), h.at("elsewhere").c_str()), 0);
    h.cache("Library/Caches/com.spotify.client");
    makeSymlink("data", h.at("Library/Caches/com.spotify.client/alias"));
    h.cache("Library/Caches/org.videolan.vlc", 10, "x/Cookies");
    h.cache("Library/Caches/us.zoom.xos", 10, "LOCAL STORAGE/leveldb");
    h.cache("Library/Caches/Google/Chrome", 10, "sub/.git/HEAD");
    h.cache("Library/Caches/com.apple.Safari", 10, "Old.PhotosLibrary/db");
    h.cache("Library/Caches/Microsoft Edge", 10, ".env.local");
    h.cache("Library/Caches/BraveSoftware/Brave-Browser", 10, "local storage");
    h.cache("Library/Application Support/Figma/Cache", 0);
    h.cache("Library/Application Support/Claude/Cache");
    ASSERT_EQ(::mkfifo(h.at("Library/Application Support/Claude/Cache/pipe").c_str(), 0644), 0);
    // A location that is a link, or lies below one, is skipped silently and not counted.
    h.cache("outside/GPUCache");
    makeFolder(h.at("Library/Application Support/discord"));
    makeSymlink(h.at("outside/GPUCache"), h.at("Library/Application Support/discord/GPUCache"));
    h.cache("outside/Slack/Cache");
    makeSymlink(h.at("outside/Slack"), h.at("Library/Application Support/Slack"));
    auto result = h.scan();
    EXPECT_EQ(paths(result), Paths({h.at(firefox)}));
    EXPECT_TRUE(result.unreadable.empty());
    EXPECT_EQ(result.checkedLocations, 11);
    EXPECT_EQ(result.checkedFiles, 13);
}

TEST(ConsumerCleanupScan, LinkedHomeIsRefusedBeforeReadingAndCancelledScanFails) {
    FakeHome h;
    h.cache(firefox);
    makeSymlink(h.home(), h.dir.at("link"));
    int reports = 0;
    try {
        ConsumerCleanup::scan(Url::file(h.dir.at("link"), true),
                              [&](const std::string&, std::int64_t) { ++reports; });
        FAIL() << "the scan went on";
    } catch (const CleanupProblem& problem) {
        EXPECT_STREQ(problem.what(), "The scan location must not be a symbolic link.");
    }
    EXPECT_EQ(reports, 0);
    // A link higher up counts as well.
    makeSymlink(h.dir.path(), h.dir.at("top"));
    EXPECT_THROW(ConsumerCleanup::scan(Url::file(h.dir.at("top/home"), true), {}), CleanupProblem);
    // A cancelled scan fails rather than returning part of a result.
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(h.scan(), CancellationError);
}

TEST(ConsumerCleanupScan, UnreadableLocationsAreListedAndTheScanGoesOn) {
    FakeHome h;
    h.cache(firefox);
    setMode(h.at(firefox), 0);
    h.cache("Library/Caches/com.spotify.client");
    h.cache("Library/Application Support/Slack/Cache");
    makeFolder(h.at("Library/Application Support/Slack/Cache/locked"));
    setMode(h.at("Library/Application Support/Slack/Cache/locked"), 0);
    auto outcome = runUnprivileged([&] {
        auto result = h.scan();
        return ::testing::PrintToString(result.unreadable) + " checked " +
               std::to_string(result.checkedLocations) + " suggested " +
               std::to_string(result.candidates.size());
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output,
              ::testing::PrintToString(
                  Paths({h.at(firefox), h.at("Library/Application Support/Slack/Cache/locked")})) +
                  " checked 2 suggested 1");
}

TEST(ConsumerCleanupScan, OldLogsByAgeNameAndLinkCount) {
    FakeHome h;
    std::vector<std::string> expected = {h.log("App/old.LOG", 31), h.log("Crash.ips", 40),
                                         h.log("deep/er/rotated.log.gz", 90),
                                         h.log("Tool.crash", 31)};
    h.log("App/recent.log", 29);
    h.log("App/old.txt", 90);
    h.log("App/old.log.1", 90);
    std::string target = h.log("App/target.txt", 90);
    makeSymlink(target, h.at("Library/Logs/App/link.log"));
    std::string linked = h.log("App/linked.log", 90);
    ASSERT_EQ(::link(linked.c_str(), h.at("Library/Logs/App/second.log").c_str()), 0);
    setModifiedSecondsAgo(h.at("Library/Logs"), 90 * day);

    auto result = h.scan();
    auto found = paths(result);
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    for (const auto& candidate : result.candidates) {
        EXPECT_EQ(candidate.category, CleanupCategory::oldLogs);
        EXPECT_EQ(candidate.evidence,
                  "Log or crash report in your Library, last modified over 30 days ago.");
        EXPECT_EQ(candidate.projectPath, h.home());
    }
    EXPECT_EQ(result.checkedLocations, 1);
}

TEST(ConsumerCleanupScan, EligibilityByAgeBorderAndRuleCategory) {
    FakeHome h;
    h.log("border.log", 10);
    ScanResult scanned = ScanEngine::scan(Url::file(h.at("Library/Logs"), true), {});
    ASSERT_EQ(scanned.root.children.size(), 1u);
    const FileNode& node = scanned.root.children[0];
    Date modified{std::chrono::seconds(node.identity->modifiedSeconds)};
    Date border = modified + std::chrono::seconds(2'592'000);
    EXPECT_FALSE(ConsumerCleanup::eligible(node, CleanupCategory::oldLogs, h.url(), border));
    EXPECT_TRUE(ConsumerCleanup::eligible(node, CleanupCategory::oldLogs, h.url(),
                                          border + std::chrono::milliseconds(1)));
    // The log test answers only for the log category, a cache rule only for its own.
    EXPECT_FALSE(ConsumerCleanup::eligible(node, CleanupCategory::appCaches, h.url(),
                                           border + std::chrono::hours(1)));
    h.cache(firefox);
    ScanResult cache = ScanEngine::scan(Url::file(h.at(firefox), true), {});
    EXPECT_TRUE(
        ConsumerCleanup::eligible(cache.root, CleanupCategory::browserCaches, h.url(), border));
    EXPECT_FALSE(
        ConsumerCleanup::eligible(cache.root, CleanupCategory::appCaches, h.url(), border));
    EXPECT_FALSE(ConsumerCleanup::eligible(cache.root, CleanupCategory::browserCaches,
                                           Url::file(h.dir.at("other"), true), border));

    // An old log elsewhere in the Library, or reached through a link, is not an old log: the
    // move step's recheck relies on this answer.
    const Date later = border + std::chrono::hours(1);
    auto oldFileIn = [&](const std::string& folder) {
        writeFile(h.at(folder + "/stray.log"), "old lines");
        setModifiedSecondsAgo(h.at(folder + "/stray.log"), 40 * day);
        return ScanEngine::scan(Url::file(h.at(folder), true), {}).root.children.at(0);
    };
    EXPECT_FALSE(ConsumerCleanup::eligible(oldFileIn("Library/Application Support"),
                                           CleanupCategory::oldLogs, h.url(), later));
    FileNode linked = oldFileIn("Library/Logs/real");
    makeSymlink("real", h.at("Library/Logs/link"));
    EXPECT_TRUE(ConsumerCleanup::eligible(linked, CleanupCategory::oldLogs, h.url(), later));
    linked.id = Url::file(h.at("Library/Logs/link/stray.log"));
    EXPECT_FALSE(ConsumerCleanup::eligible(linked, CleanupCategory::oldLogs, h.url(), later));
}

RunningApplication app(std::optional<std::string> id, std::optional<std::string> name) {
    return {std::move(id), std::move(name), false, {}, {}};
}

TEST(ConsumerCleanupRunningApps, OwnersByExactIdentifierOrDottedExtension) {
    const Url home = Url::file("/Users/morvel", true);
    FileNode node;
    node.id = Url::file("/Users/morvel/Library/Application Support/Slack/Cache", true);
    node.isDirectory = true;
    CleanupCandidate slack(node, CleanupCategory::communicationCaches, "/Users/morvel", "");
    const std::vector<RunningApplication> running = {
        app("com.tinyspeck.slackmacgap.helper", "Slack Helper"),
        app("com.tinyspeck.slackmacgap", "Slack"),
        app("com.tinyspeck.slackmacgapx", "Impostor"),
        app("com.tinyspeck", "Prefix"),
        app(std::nullopt, "No identifier"),
        app("com.tinyspeck.slackmacgap.helper.gpu", std::nullopt),
        app("com.tinyspeck.slackmacgap", "Slack"),
        app("com.hnc.Discord", "Discord")};
    EXPECT_EQ(ConsumerCleanup::runningApps(slack, home, running),
              std::vector<std::string>(
                  {"Slack", "Slack", "Slack Helper", "com.tinyspeck.slackmacgap.helper.gpu"}));

    // The platform's list is used when none is given.
    ScopedRunningApplications fixed([&] { return running; });
    EXPECT_EQ(ConsumerCleanup::runningApps(slack, home).size(), 4u);

    CleanupCandidate unknown = slack;
    unknown.node.id = Url::file("/Users/morvel/Library/Application Support/Slack/Other", true);
    EXPECT_TRUE(ConsumerCleanup::runningApps(unknown, home).empty());
    EXPECT_TRUE(ConsumerCleanup::runningApps(slack, Url::file("/Users/other", true)).empty());
}

} // namespace

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/RunningApplications.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

const std::string noLongerEligible =
    "The selected path is no longer eligible. Scan and review it again.";
const std::string cacheChanged =
    "This cache or log changed or no longer matches the cleanup rule. Scan again.";
const std::string cacheContentsChanged =
    "Cache contents changed since the scan. Close the related app and scan again.";
const std::string keptCopy =
    "The kept copy is missing, changed or no longer identical. Find duplicates again.";
const std::string overlapping =
    "The selection contains overlapping or invalid items. Review it again.";
const std::string keepSelected = "A copy marked Keep is also selected for cleanup. Remove it or "
                                 "its parent folder from the queue.";

template <typename Body> std::string problemOf(Body body) {
    try {
        body();
    } catch (const CleanupProblem& problem) {
        return problem.message;
    } catch (const std::exception& error) {
        return std::string("other error: ") + error.what();
    }
    return "(accepted)";
}

FileNode fileNode(const std::string& path) {
    auto identity = FileIdentity::capture(Url::file(path));
    return FileNode(Url::file(path, false), false, identity.size, identity.size, {}, 1, 0, false,
                    false, true, identity);
}

// A home with a known cache and an old log, and a project with dependencies, in one scratch
// folder.
struct Fixture {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    ScopedEnvironment environment{{{"HOME", home}, {"XDG_DATA_HOME", home + "/.local/share"}}};
    ScopedRunningApplications nothingRuns{[] { return std::vector<RunningApplication>{}; }};
    std::string cache = home + "/Library/Caches/com.spotify.client";
    std::string log = home + "/Library/Logs/old.log";
    std::string project = home + "/code/site";
    std::string modules = project + "/node_modules";

    Fixture() {
        writeFile(cache + "/top.bin", "top level data");
        writeFile(cache + "/sub/deep.bin", "deeper data");
        writeFile(log, "an old log line");
        setModifiedSecondsAgo(log, 40 * 86400.0);
        writeFile(project + "/package.json", "{}");
        writeFile(project + "/package-lock.json", "{}");
        writeFile(modules + "/left-pad/index.js", "module.exports = 1;");
    }

    Url homeUrl() const { return Url::file(home, true); }

    CleanupCandidate known(const std::string& path) const {
        for (auto& candidate : ConsumerCleanup::scan(homeUrl(), nullptr).candidates) {
            if (candidate.node.id.path() == path) {
                return candidate;
            }
        }
        ADD_FAILURE() << "not found by the cleanup scan: " << path;
        return {};
    }

    CleanupCandidate dependencies() const {
        auto tree = ScanEngine::scan(Url::file(home + "/code", true), nullptr);
        for (auto& candidate : CleanupAnalysis::detect(tree.root, homeUrl())) {
            if (candidate.node.id.path() == modules) {
                return candidate;
            }
        }
        ADD_FAILURE() << "node_modules not detected";
        return {};
    }

    CleanupCandidate duplicate(const std::string& name, const std::string& keeperName) const {
        std::string copy = writeFile(home + "/docs/" + name, "same bytes");
        std::string kept = writeFile(home + "/docs/" + keeperName, "same bytes");
        return CleanupCandidate(fileNode(copy), CleanupCategory::duplicates, home + "/docs", "",
                                false, fileNode(kept));
    }

    std::string validate(const CleanupCandidate& candidate) const {
        return problemOf([&] { TrashService::validate(candidate, homeUrl()); });
    }
};

} // namespace

TEST(TrashValidate, EveryItemMustStillBeAPlainEligibleItemInsideTheRoot) {
    Fixture fixture;
    CleanupCandidate cache = fixture.known(fixture.cache);
    EXPECT_EQ(fixture.validate(cache), "(accepted)");

    CleanupCandidate example = cache;
    example.isExample = true;
    EXPECT_EQ(fixture.validate(example), noLongerEligible);

    CleanupCandidate file = CleanupCandidate(fileNode(fixture.cache + "/top.bin"),
                                             CleanupCategory::appCaches, fixture.home, "");
    EXPECT_EQ(fixture.validate(file), noLongerEligible);

    CleanupCandidate empty = cache;
    empty.node.logicalSize = 0;
    EXPECT_EQ(fixture.validate(empty), noLongerEligible);

    CleanupCandidate noIdentity = cache;
    noIdentity.node.identity.reset();
    EXPECT_EQ(fixture.validate(noIdentity), noLongerEligible);

    EXPECT_EQ(problemOf([&] {
                  TrashService::validate(cache, Url::file(fixture.home + "/Library/Cach", true));
              }),
              noLongerEligible);

    // A path that leads through a link, even to a real folder.
    makeSymlink(fixture.home + "/Library", fixture.home + "/Lib");
    CleanupCandidate throughLink = cache;
    throughLink.node.id = Url::file(fixture.home + "/Lib/Caches/com.spotify.client", true);
    EXPECT_EQ(fixture.validate(throughLink), noLongerEligible);

    // The root itself counts as inside the root.
    CleanupCandidate deps = fixture.dependencies();
    EXPECT_EQ(problemOf([&] { TrashService::validate(deps, deps.node.id); }), "(accepted)");

    // Cancellation is checked first.
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(TrashService::validate(cache, fixture.homeUrl()), CancellationError);
}

TEST(TrashValidate, CachesAndLogsMustBeUnchangedAndTheirAppsClosed) {
    Fixture fixture;
    CleanupCandidate cache = fixture.known(fixture.cache);
    CleanupCandidate log = fixture.known(fixture.log);
    EXPECT_EQ(fixture.validate(log), "(accepted)");

    {
        ScopedRunningApplications spotify([] {
            RunningApplication app;
            app.bundleIdentifier = "com.spotify.client";
            app.localizedName = "Spotify";
            app.isRegular = true;
            RunningApplication helper = app;
            helper.bundleIdentifier = "com.spotify.client.helper";
            helper.localizedName = "Spotify Helper";
            return std::vector<RunningApplication>{app, helper};
        });
        EXPECT_EQ(fixture.validate(cache),
                  "Close Spotify, Spotify Helper and scan again before cleaning its cache.");
    }

    // A file written deep inside leaves the folder's own identity alone.
    writeFile(fixture.cache + "/sub/new.bin", "fresh");
    EXPECT_EQ(fixture.validate(cache), cacheContentsChanged);
    // One written directly inside changes the folder itself.
    writeFile(fixture.cache + "/new.bin", "fresh");
    EXPECT_EQ(fixture.validate(cache), cacheChanged);

    // A log that became recent no longer matches its rule.
    setModifiedSecondsAgo(fixture.log, 60);
    EXPECT_EQ(fixture.validate(log), cacheChanged);
}

TEST(TrashValidate, UnreadableContentsAreRefusedForTheCurrentUser) {
    Fixture fixture;
    CleanupCandidate log = fixture.known(fixture.log);
    CleanupCandidate cache = fixture.known(fixture.cache);
    setMode(fixture.log, 0600);
    setMode(fixture.cache + "/sub/deep.bin", 0600);
    // Identities are unchanged by chmod only in mode and change time, so re-read them.
    log = fixture.known(fixture.log);
    cache = fixture.known(fixture.cache);
    auto outcome = runUnprivileged([&] { return fixture.validate(log); });
    EXPECT_EQ(outcome.output, "This log cannot be read. It was not moved.");
    outcome = runUnprivileged([&] { return fixture.validate(cache); });
    EXPECT_EQ(outcome.output,
              "A file inside this folder is unreadable. Review its permissions before cleanup.");
}

TEST(TrashValidate, SignaturesCoverEveryNodeAndNeedEveryIdentity) {
    Fixture fixture;
    auto tree = ScanEngine::scan(Url::file(fixture.cache, true), nullptr);
    auto signature = TrashService::signature(tree.root);
    EXPECT_EQ(signature.size(), 4u);
    EXPECT_EQ(signature.at(fixture.cache + "/sub/deep.bin"),
              FileIdentity::capture(Url::file(fixture.cache + "/sub/deep.bin")));
    FileNode incomplete = tree.root;
    incomplete.children.back().identity.reset();
    EXPECT_EQ(problemOf([&] { TrashService::signature(incomplete); }),
              "This folder could not be fully verified. Scan it again.");
}

TEST(TrashValidate, DuplicatesNeedTheirKeptCopyIdenticalInsideTheRoot) {
    Fixture fixture;
    CleanupCandidate duplicate = fixture.duplicate("a.txt", "b.txt");
    EXPECT_EQ(fixture.validate(duplicate), "(accepted)");

    CleanupCandidate noKeeper = duplicate;
    noKeeper.keeper.reset();
    EXPECT_EQ(fixture.validate(noKeeper), keptCopy);
    CleanupCandidate self = duplicate;
    self.keeper = self.node;
    EXPECT_EQ(fixture.validate(self), keptCopy);
    EXPECT_EQ(problemOf([&] {
                  TrashService::validate(duplicate, Url::file(fixture.home + "/docs/a.txt"));
              }),
              keptCopy);

    writeFile(fixture.home + "/docs/b.txt", "other bytes");
    CleanupCandidate changed = duplicate;
    changed.keeper = fileNode(fixture.home + "/docs/b.txt");
    EXPECT_EQ(fixture.validate(changed), keptCopy);

    ASSERT_EQ(::unlink((fixture.home + "/docs/b.txt").c_str()), 0);
    EXPECT_EQ(fixture.validate(duplicate), keptCopy);
}

TEST(TrashValidate, ProjectOutputMustStillBeDetectedAndUnchanged) {
    Fixture fixture;
    CleanupCandidate deps = fixture.dependencies();
    EXPECT_EQ(fixture.validate(deps), "(accepted)");

    writeFile(fixture.modules + "/left-pad/index.js", "module.exports = 2;");
    EXPECT_EQ(fixture.validate(deps),
              "Files inside node_modules changed since the scan. Stop related tools and scan "
              "again.");

    deps = fixture.dependencies();
    ASSERT_EQ(::rename((fixture.project + "/package.json").c_str(),
                       (fixture.project + "/package.json.bak").c_str()),
              0);
    EXPECT_EQ(fixture.validate(deps),
              "Project markers changed or the cleanup rule no longer matches. Scan again.");
    ASSERT_EQ(::rename((fixture.project + "/package.json.bak").c_str(),
                       (fixture.project + "/package.json").c_str()),
              0);

    std::filesystem::rename(fixture.modules, fixture.project + "/old_modules");
    writeFile(fixture.modules + "/left-pad/index.js", "module.exports = 2;");
    EXPECT_EQ(fixture.validate(deps),
              "node_modules changed since the scan. Scan again before moving it.");

    deps = fixture.dependencies();
    deps.node.children.push_back(fileNode(fixture.project + "/package.json"));
    deps.node.children.back().id = Url::file(fixture.modules + "/.env");
    EXPECT_EQ(fixture.validate(deps), "This item contains protected data or is inside a "
                                      "protected location. Review it manually.");
}

TEST(TrashPrepare, RefusesEmptyOverlappingAndKeptSelections) {
    Fixture fixture;
    const Url root = fixture.homeUrl();
    auto prepare = [&](const std::vector<CleanupCandidate>& items) {
        return problemOf([&] { TrashService::prepare(items, root); });
    };
    EXPECT_EQ(prepare({}), "Select at least one item.");

    CleanupCandidate cache = fixture.known(fixture.cache);
    CleanupCandidate deps = fixture.dependencies();
    CleanupCandidate spelledOtherwise = cache;
    spelledOtherwise.node.id = Url::file(fixture.home + "/Library/./Caches/com.spotify.client");
    EXPECT_EQ(prepare({cache, cache}), overlapping);
    EXPECT_EQ(prepare({cache, spelledOtherwise}), overlapping);

    CleanupCandidate inner = cache;
    inner.node = fileNode(fixture.cache + "/top.bin");
    EXPECT_EQ(prepare({cache, inner}), overlapping);
    EXPECT_EQ(prepare({inner, cache}), overlapping);

    CleanupCandidate link = deps;
    link.node.isSymbolicLink = true;
    EXPECT_EQ(prepare({link}), overlapping);

    CleanupCandidate a = fixture.duplicate("a", "keep-a");
    CleanupCandidate ab = fixture.duplicate("ab", "keep-ab");
    EXPECT_EQ(prepare({a, ab}), "(accepted)");

    CleanupCandidate keeper = fixture.duplicate("keep-a", "a");
    EXPECT_EQ(prepare({a, keeper}), keepSelected);
    CleanupCandidate inFolder = fixture.duplicate("x.txt", "y.txt");
    inFolder.keeper = fileNode(fixture.modules + "/left-pad/index.js");
    EXPECT_EQ(prepare({inFolder, deps}), keepSelected);
}

TEST(TrashPrepare, StopsAtTheFirstItemThatFailsAndKeepsTheGivenOrder) {
    Fixture fixture;
    const Url root = fixture.homeUrl();
    CleanupCandidate cache = fixture.known(fixture.cache);
    CleanupCandidate log = fixture.known(fixture.log);
    CleanupCandidate deps = fixture.dependencies();
    CleanupCandidate first = fixture.duplicate("1.txt", "k1.txt");
    CleanupCandidate fifth = fixture.duplicate("5.txt", "k5.txt");

    CleanupPlan plan = TrashService::prepare({deps, cache, first, log, fifth}, root);
    CleanupPlan again = TrashService::prepare({deps, cache, first, log, fifth}, root);
    EXPECT_NE(plan.id, again.id);
    ASSERT_EQ(plan.items.size(), 5u);
    EXPECT_EQ(plan.items[0].node.id, deps.node.id);
    EXPECT_EQ(plan.items[4].node.id, fifth.node.id);
    EXPECT_EQ(plan.scanRoot, root);
    EXPECT_EQ(plan.totalSize(), deps.node.logicalSize + cache.node.logicalSize +
                                    first.node.logicalSize + log.node.logicalSize +
                                    fifth.node.logicalSize);
    EXPECT_LT(secondsBetween(plan.createdAt, std::chrono::system_clock::now()), 60);

    // The third fails; the fourth would fail differently, but is never looked at.
    writeFile(fixture.home + "/docs/k1.txt", "changed bytes");
    setModifiedSecondsAgo(fixture.log, 60);
    EXPECT_EQ(problemOf([&] {
                  TrashService::prepare({deps, cache, first, log, fifth}, root);
              }),
              "k1.txt changed or cannot be verified. Scan again.");
}

TEST(TrashExecute, FoldersThatChangeAfterReviewAreNotMoved) {
    Fixture fixture;
    const Url root = fixture.homeUrl();
    const Url history = Url::file(fixture.dir.at("history"), true);
    CleanupPlan plan =
        TrashService::prepare({fixture.known(fixture.cache), fixture.dependencies()}, root);

    // Changed between review and confirmation: the run does not start.
    writeFile(fixture.cache + "/sub/late.bin", "written after the review");
    EXPECT_EQ(problemOf([&] { TrashService::execute(plan, history); }), cacheContentsChanged);
    EXPECT_TRUE(std::filesystem::exists(fixture.cache + "/sub/deep.bin"));
    EXPECT_FALSE(std::filesystem::exists(history.path()));

    // Changed while the run is under way: the second item is refused and stays.
    plan = TrashService::prepare({fixture.known(fixture.cache), fixture.dependencies()}, root);
    TrashReport report = TrashService::execute(plan, history, [&](const Url& url) {
        std::filesystem::remove(fixture.project + "/package-lock.json");
        return TrashService::moveToTrash(url);
    });
    ASSERT_EQ(report.outcomes.size(), 2u);
    EXPECT_EQ(report.outcomes[0].status, TrashStatus::moved);
    EXPECT_TRUE(report.outcomes[0].trashURL->hasDirectoryPath());
    EXPECT_EQ(report.outcomes[1].status, TrashStatus::failed);
    EXPECT_EQ(report.outcomes[1].message,
              "Project markers changed or the cleanup rule no longer matches. Scan again.");
    EXPECT_TRUE(std::filesystem::exists(fixture.modules + "/left-pad/index.js"));
    EXPECT_FALSE(std::filesystem::exists(fixture.cache));
    EXPECT_TRUE(std::filesystem::exists(report.outcomes[0].trashURL->path() + "/sub/late.bin"));
}

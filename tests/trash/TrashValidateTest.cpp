#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/Task.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/RunningApplications.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <fcntl.h>
#include <filesystem>
#include <random>
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
const std::string keepSelected = "A copy marked Keep is also selected for cleanup. Remove it or "
                                 "its parent folder from the queue.";

// A home with a known cache and an old log, and a project with dependencies.
struct Fixture : ScratchHome {
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

    std::string validate(const CleanupCandidate& candidate, std::optional<Url> root = {}) const {
        return problemOf([&] { TrashService::validate(candidate, root.value_or(homeUrl())); });
    }
};

} // namespace

TEST(TrashValidate, EveryItemMustStillBeAPlainEligibleItemInsideTheRoot) {
    Fixture fixture;
    CleanupCandidate cache = fixture.known(fixture.cache);
    EXPECT_EQ(fixture.validate(cache), "(accepted)");
    makeSymlink(fixture.home + "/Library", fixture.home + "/Lib");
    const std::vector<std::function<void(CleanupCandidate&)>> spoilers{
        [](CleanupCandidate& c) { c.isExample = true; },
        [](CleanupCandidate& c) { c.node.logicalSize = 0; },
        [](CleanupCandidate& c) { c.node.identity.reset(); },
        [](CleanupCandidate& c) { c.node.hasReadErrors = true; },
        // Only duplicates and old logs may be single files.
        [&](CleanupCandidate& c) { c.node = fileNode(fixture.cache + "/top.bin"); },
        // A path through a link, even to the real folder.
        [&](CleanupCandidate& c) {
            c.node.id = Url::file(fixture.home + "/Lib/Caches/com.spotify.client", true);
        }};
    for (const auto& spoil : spoilers) {
        CleanupCandidate spoiled = cache;
        spoil(spoiled);
        EXPECT_EQ(fixture.validate(spoiled), noLongerEligible);
    }
    // Inside the root means below it by whole components; the root itself counts as inside.
    EXPECT_EQ(fixture.validate(cache, Url::file(fixture.home + "/Library/Cach", true)),
              noLongerEligible);
    CleanupCandidate deps = fixture.dependencies();
    EXPECT_EQ(fixture.validate(deps, deps.node.id), "(accepted)");

    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(TrashService::validate(cache, fixture.homeUrl()), CancellationError);
}

TEST(TrashValidate, CachesAndLogsMustBeUnchangedReadableAndTheirAppsClosed) {
    Fixture fixture;
    CleanupCandidate cache = fixture.known(fixture.cache);
    CleanupCandidate log = fixture.known(fixture.log);
    EXPECT_EQ(fixture.validate(log), "(accepted)");
    {
        ScopedRunningApplications spotify([] {
            RunningApplication app{"com.spotify.client", "Spotify", true, {}, {}};
            RunningApplication helper{"com.spotify.client.helper", "Spotify Helper", false, {}, {}};
            return std::vector<RunningApplication>{app, helper};
        });
        EXPECT_EQ(fixture.validate(cache),
                  "Close Spotify, Spotify Helper and scan again before cleaning its cache.");
    }
    // Unreadable for the user who runs the check.
    setMode(fixture.log, 0);
    setMode(fixture.cache + "/sub/deep.bin", 0);
    CleanupCandidate privateLog = fixture.known(fixture.log);
    CleanupCandidate privateCache = fixture.known(fixture.cache);
    EXPECT_EQ(runUnprivileged([&] { return fixture.validate(privateLog); }).output,
              "This log cannot be read. It was not moved.");
    EXPECT_EQ(runUnprivileged([&] { return fixture.validate(privateCache); }).output,
              "A file inside this folder is unreadable. Review its permissions before cleanup.");

    // Readable again for the checks below, which run as the current user.
    setMode(fixture.log, 0644);
    setMode(fixture.cache + "/sub/deep.bin", 0644);
    privateLog = fixture.known(fixture.log);
    privateCache = fixture.known(fixture.cache);

    // A file written deep inside leaves the folder's own identity alone; one written directly
    // inside changes it.
    writeFile(fixture.cache + "/sub/new.bin", "fresh");
    EXPECT_EQ(fixture.validate(privateCache), cacheContentsChanged);
    writeFile(fixture.cache + "/new.bin", "fresh");
    EXPECT_EQ(fixture.validate(privateCache), cacheChanged);
    // A log that became recent no longer matches its rule.
    setModifiedSecondsAgo(fixture.log, 60);
    EXPECT_EQ(fixture.validate(privateLog), cacheChanged);

    FileNode incomplete = ScanEngine::scan(Url::file(fixture.cache, true), nullptr).root;
    EXPECT_EQ(TrashService::signature(incomplete).size(), 6u);
    incomplete.children.back().identity.reset();
    EXPECT_EQ(problemOf([&] { TrashService::signature(incomplete); }),
              "This folder could not be fully verified. Scan it again.");
}

TEST(TrashValidate, DuplicatesNeedTheirKeptCopyIdenticalInsideTheRoot) {
    Fixture fixture;
    CleanupCandidate duplicate = fixture.duplicate("a.txt", "b.txt");
    EXPECT_EQ(fixture.validate(duplicate), "(accepted)");
    // With the scan root narrowed to the copy, the kept one lies outside.
    EXPECT_EQ(fixture.validate(duplicate, Url::file(fixture.home + "/docs/a.txt")), keptCopy);
    const std::string kept = fixture.home + "/docs/b.txt";
    const std::vector<std::function<void(CleanupCandidate&)>> spoilers{
        [](CleanupCandidate& c) { c.keeper.reset(); },
        [](CleanupCandidate& c) { c.keeper = c.node; },
        [&](CleanupCandidate& c) { writeFile(kept, "other bytes"), c.keeper = fileNode(kept); },
        [&](CleanupCandidate&) { std::filesystem::remove(kept); }};
    for (const auto& spoil : spoilers) {
        CleanupCandidate spoiled = duplicate;
        spoil(spoiled);
        EXPECT_EQ(fixture.validate(spoiled), keptCopy);
    }
}

TEST(TrashValidate, ProjectOutputMustStillBeDetectedAndUnchanged) {
    Fixture fixture;
    CleanupCandidate deps = fixture.dependencies();
    EXPECT_EQ(fixture.validate(deps), "(accepted)");
    writeFile(fixture.modules + "/left-pad/index.js", "module.exports = 2;");
    EXPECT_EQ(fixture.validate(deps), "Files inside node_modules changed since the scan. Stop "
                                      "related tools and scan again.");

    deps = fixture.dependencies();
    std::filesystem::rename(fixture.project + "/package.json", fixture.project + "/package.bak");
    EXPECT_EQ(fixture.validate(deps),
              "Project markers changed or the cleanup rule no longer matches. Scan again.");
    std::filesystem::rename(fixture.project + "/package.bak", fixture.project + "/package.json");

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

TEST(TrashPrepare, RefusesEmptyOverlappingKeptAndChangedSelections) {
    Fixture fixture;
    auto prepare = [&](const std::vector<CleanupCandidate>& items) {
        return problemOf([&] { TrashService::prepare(items, fixture.homeUrl()); });
    };
    EXPECT_EQ(prepare({}), "Select at least one item.");
    CleanupCandidate cache = fixture.known(fixture.cache);
    CleanupCandidate deps = fixture.dependencies();
    // Overlaps and kept copies inside selected folders are checked on random selections below;
    // real items show the plain cases.
    EXPECT_EQ(prepare({cache, cache}),
              "The selection contains overlapping or invalid items. Review it again.");
    CleanupCandidate a = fixture.duplicate("a", "keep-a");
    CleanupCandidate ab = fixture.duplicate("ab", "keep-ab");
    EXPECT_EQ(prepare({a, ab}), "(accepted)");
    EXPECT_EQ(prepare({a, fixture.duplicate("keep-a", "a")}), keepSelected);

    // Each plan is new; the first item that fails stops the check, the fourth (which would fail
    // differently) is never looked at.
    std::vector<CleanupCandidate> items{deps, cache, fixture.duplicate("1.txt", "k1.txt"),
                                        fixture.known(fixture.log)};
    CleanupPlan plan = TrashService::prepare(items, fixture.homeUrl());
    EXPECT_NE(plan.id, TrashService::prepare(items, fixture.homeUrl()).id);
    EXPECT_EQ(plan.items.size(), 4u);
    writeFile(fixture.home + "/docs/k1.txt", "changed bytes");
    setModifiedSecondsAgo(fixture.log, 60);
    EXPECT_EQ(prepare(items), "k1.txt changed or cannot be verified. Scan again.");
}

// The overlap and keeper rules written out plainly, every item against every other.
std::string plainRefusal(const std::vector<CleanupCandidate>& items) {
    std::vector<std::string> working;
    for (const auto& item : items) {
        if (item.node.isSymbolicLink) {
            continue;
        }
        const std::string path = PathText::standardize(item.node.id.path());
        if (std::any_of(working.begin(), working.end(), [&](const std::string& listed) {
                return PathText::equivalent(path, listed) ||
                       PathText::isInsideEquivalent(path, listed);
            })) {
            continue;
        }
        std::erase_if(working, [&](const std::string& listed) {
            return PathText::isInsideEquivalent(listed, path);
        });
        working.push_back(path);
    }
    if (working.size() != items.size()) {
        return "The selection contains overlapping or invalid items. Review it again.";
    }
    for (const auto& holder : items) {
        for (const auto& item : items) {
            if (holder.keeper &&
                (holder.keeper->id == item.node.id ||
                 PathText::isInsideEquivalent(holder.keeper->id.path(), item.node.id.path()))) {
                return keepSelected;
            }
        }
    }
    return "";
}

TEST(TrashPrepare, RandomSelectionsAreRefusedExactlyAsByPairwiseChecks) {
    std::mt19937 random(31);
    // Names that nest, share prefixes, or are one name in two Unicode spellings.
    const std::vector<std::string> names = {
        "a", "ab", "a b", "caf\xC3\xA9", "cafe\xCC\x81", "\xE2\x84\xAA", "K"};
    std::uniform_int_distribution<size_t> name(0, names.size() - 1), depth(1, 3), count(1, 12),
        odd(0, 19);
    auto randomPath = [&] {
        std::string path = "/h";
        for (size_t d = depth(random); d > 0; --d) {
            path += "/" + names[name(random)];
        }
        return path;
    };
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<CleanupCandidate> items;
        for (size_t i = count(random); i > 0; --i) {
            FileNode node;
            node.id = Url::file(randomPath() + (odd(random) == 0 ? "/." : ""), odd(random) < 10);
            node.isSymbolicLink = odd(random) == 0 && odd(random) < 5;
            FileNode keeper;
            keeper.id = Url::file(randomPath() + "/kept");
            items.emplace_back(node, CleanupCategory::duplicates, "/h", "", false, keeper);
        }
        const std::string expected = plainRefusal(items);
        const std::string got =
            problemOf([&] { TrashService::prepare(items, Url::file("/h", true)); });
        if (expected.empty()) {
            // Past the selection checks, the made-up items fail their revalidation.
            EXPECT_NE(got, keepSelected);
            EXPECT_EQ(got.find("overlapping"), std::string::npos) << got;
        } else {
            ++refused;
            ASSERT_EQ(got, expected) << "round " << round;
        }
    }
    EXPECT_GT(refused, 300);
    EXPECT_LT(refused, 2700);
}

TEST(TrashExecute, FoldersThatChangeAfterReviewAreNotMoved) {
    Fixture fixture;
    const Url history = Url::file(fixture.dir.at("history"), true);
    auto prepare = [&] {
        return TrashService::prepare({fixture.known(fixture.cache), fixture.dependencies()},
                                     fixture.homeUrl());
    };
    CleanupPlan plan = prepare();
    // Changed between review and confirmation: the run does not start.
    writeFile(fixture.cache + "/sub/late.bin", "written after the review");
    EXPECT_EQ(problemOf([&] { TrashService::execute(plan, history); }), cacheContentsChanged);
    EXPECT_FALSE(exists(history.path()));

    // Changed while the run is under way: the second item is refused and stays.
    TrashReport report = TrashService::execute(prepare(), history, [&](const Url& url) {
        std::filesystem::remove(fixture.project + "/package-lock.json");
        return TrashService::moveToTrash(url);
    });
    ASSERT_EQ(report.outcomes.size(), 2u);
    EXPECT_EQ(report.outcomes[0].status, TrashStatus::moved);
    EXPECT_TRUE(report.outcomes[0].trashURL->hasDirectoryPath());
    EXPECT_TRUE(exists(report.outcomes[0].trashURL->path() + "/sub/late.bin"));
    EXPECT_EQ(report.outcomes[1].status, TrashStatus::failed);
    EXPECT_EQ(report.outcomes[1].message,
              "Project markers changed or the cleanup rule no longer matches. Scan again.");
    EXPECT_TRUE(exists(fixture.modules + "/left-pad/index.js"));
}

TEST(TrashExecute, AChangeJustBeforeTheMoveStopsIt) {
    // Runs a hook once, right after the item is marked as moving: every earlier check has passed.
    struct MarkingPlatform : LinuxPlatform {
        std::function<void()> afterMarking;
        void appendRecord(const Url& file, std::string_view bytes, bool create,
                          bool flush) override {
            Platform::appendRecord(file, bytes, create, flush);
            if (afterMarking && bytes.find("\"moving\"") != std::string_view::npos) {
                std::exchange(afterMarking, nullptr)();
            }
        }
    };
    for (bool keptCopyChanges : {true, false}) {
        Fixture fixture;
        const std::string docs = fixture.home + "/docs";
        const std::string kept = writeFile(fixture.home + "/kept/b.txt", "same bytes");
        CleanupCandidate duplicate(fileNode(writeFile(docs + "/a.txt", "same bytes")),
                                   CleanupCategory::duplicates, docs, "", false, fileNode(kept));
        CleanupPlan plan = TrashService::prepare({duplicate}, fixture.homeUrl());
        MarkingPlatform platform;
        platform.afterMarking = [&] {
            if (keptCopyChanges) {
                writeFile(kept, "other bytes");
            } else {
                // The same folder, now reached through a link.
                ASSERT_EQ(::rename(docs.c_str(), (docs + "-real").c_str()), 0);
                makeSymlink(docs + "-real", docs);
            }
        };
        ScopedPlatform scope(platform);
        int moves = 0;
        TrashReport report = TrashService::execute(plan, Url::file(fixture.dir.at("history"), true),
                                                   [&](const Url& url) {
                                                       ++moves;
                                                       return TrashService::moveToTrash(url);
                                                   });
        EXPECT_EQ(moves, 0) << "the item is never handed to the Trash";
        ASSERT_EQ(report.outcomes.size(), 1u);
        EXPECT_EQ(report.outcomes[0].status, TrashStatus::failed);
        EXPECT_EQ(readText(docs + "/a.txt"), "same bytes");
    }
}

TEST(TrashExecute, AnOldLogOpenedAfterTheScanIsNotMoved) {
    Fixture fixture;
    const std::string second = writeFile(fixture.home + "/Library/Logs/older.log", "old lines");
    setModifiedSecondsAgo(second, 50 * 86400.0);
    const Url history = Url::file(fixture.dir.at("history"), true);
    auto prepare = [&] {
        return TrashService::prepare({fixture.known(fixture.log), fixture.known(second)},
                                     fixture.homeUrl());
    };
    auto holdOpen = [](const std::string& path) {
        const int held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(held, 0);
        return held;
    };
    // Opened between the review and the start: nothing moves and nothing is written.
    CleanupPlan plan = prepare();
    int held = holdOpen(second);
    EXPECT_EQ(problemOf([&] { TrashService::execute(plan, history); }), cacheChanged);
    ::close(held);
    EXPECT_FALSE(exists(history.path()));

    // Opened while the first log is moved: the second is checked again, refused and stays.
    held = -1;
    TrashReport report = TrashService::execute(prepare(), history, [&](const Url& url) {
        if (held < 0) {
            held = holdOpen(second);
        }
        return TrashService::moveToTrash(url);
    });
    ::close(held);
    ASSERT_EQ(report.outcomes.size(), 2u);
    EXPECT_EQ(report.outcomes[0].status, TrashStatus::moved);
    EXPECT_EQ(report.outcomes[1].status, TrashStatus::failed);
    EXPECT_EQ(report.outcomes[1].message.value_or("(none)"), cacheChanged);
    EXPECT_EQ(readText(second), "old lines");
}

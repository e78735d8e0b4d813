#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "platform/Platform.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

constexpr TrashStatus moved = TrashStatus::moved, failed = TrashStatus::failed,
                      moving = TrashStatus::moving, notAttempted = TrashStatus::notAttempted;

// Duplicate photos under a scan root, the kept copies in keep/ and the extra ones in copies/.
struct Fixture : ScratchHome {
    std::string root = makeFolder(dir.at("photos"));
    Url history = Url::file(dir.at("history"), true);

    std::string copy(size_t i) const { return root + "/copies/" + std::to_string(i) + ".jpg"; }

    CleanupPlan plan(size_t count) {
        CleanupPlan plan{
            Uuid::random(), std::chrono::system_clock::now(), {}, Url::file(root, true)};
        for (size_t i = 1; i <= count; ++i) {
            std::string body = "picture " + std::to_string(i);
            std::string kept = writeFile(root + "/keep/" + std::to_string(i) + ".jpg", body);
            plan.items.emplace_back(fileNode(writeFile(copy(i), body)), CleanupCategory::duplicates,
                                    root, "", false, fileNode(kept));
        }
        return plan;
    }

    std::string reportPath(const CleanupPlan& plan) const {
        return TrashService::reportFile(history, plan.id).path();
    }

    // Checks that the report on disk is, byte for byte, the returned one.
    void expectOnDisk(const TrashReport& returned) const {
        EXPECT_TRUE(returned.finishedAt);
        Url copy = Url::file(dir.at("returned.json"));
        TrashService::save(returned, copy);
        EXPECT_EQ(readText(copy.path()),
                  readText(TrashService::reportFile(history, returned.id).path()));
    }
};

std::vector<TrashStatus> statuses(const TrashReport& report) {
    std::vector<TrashStatus> result;
    for (const auto& outcome : report.outcomes) {
        result.push_back(outcome.status);
    }
    return result;
}

} // namespace

TEST(TrashExecute, ACompleteRunMovesEveryItemAloneAndRecordsWhereItWent) {
    Fixture fixture;
    CleanupPlan plan = fixture.plan(2);
    CleanupPlan other = fixture.plan(0);
    // Meanwhile no other run may start, from this thread or another.
    std::vector<std::string> refusals;
    TrashReport report = TrashService::execute(plan, fixture.history, [&](const Url& url) {
        refusals.push_back(problemOf([&] { TrashService::execute(other, fixture.history); }));
        TaskHandle::start([&] {
            refusals.push_back(problemOf([&] { TrashService::execute(other, fixture.history); }));
        }).wait();
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(refusals, std::vector<std::string>(4, "Another file operation is running."));
    EXPECT_FALSE(exists(fixture.reportPath(other)));

    EXPECT_EQ(report.id, plan.id);
    EXPECT_EQ(statuses(report), (std::vector{moved, moved}));
    EXPECT_FALSE(report.logWarning);
    for (size_t i = 0; i < 2; ++i) {
        const TrashOutcome& outcome = report.outcomes[i];
        EXPECT_EQ(outcome.originalURL, Url::file(fixture.copy(i + 1), false));
        ASSERT_TRUE(outcome.trashURL && outcome.trashIdentity && outcome.originalParentIdentity);
        EXPECT_TRUE(Platform::current().isInTrash(*outcome.trashURL));
        EXPECT_TRUE(outcome.trashIdentity->sameObject(*plan.items[i].node.identity));
        EXPECT_FALSE(exists(fixture.copy(i + 1)));
    }
    std::string text = readText(fixture.reportPath(plan));
    EXPECT_LT(text.find("\n  \"finishedAt\""), text.find("\n  \"id\"")) << text;
    fixture.expectOnDisk(report);

    // A plan with no items still leaves a complete, empty report.
    EXPECT_TRUE(TrashService::execute(other, fixture.history).outcomes.empty());
    EXPECT_TRUE(exists(fixture.reportPath(other)));
}

TEST(TrashExecute, RefusesToStartWithoutMovingOrWritingAnything) {
    Fixture fixture;
    CleanupPlan plan = fixture.plan(2);
    auto refusal = [&](const CleanupPlan& plan, const Url& history) {
        std::string problem = problemOf([&] { TrashService::execute(plan, history); });
        EXPECT_FALSE(exists(fixture.reportPath(plan)));
        EXPECT_TRUE(exists(fixture.copy(1)) && exists(fixture.copy(2)));
        return problem;
    };
    CleanupPlan old = plan;
    old.createdAt -= std::chrono::seconds(300);
    EXPECT_EQ(refusal(old, fixture.history), "This review expired. Review your selection again.");

    // The history must not travel to the Trash with an item, however its folder is spelled.
    makeSymlink(fixture.root + "/copies", fixture.dir.at("link"));
    for (const std::string& inside :
         {fixture.copy(2), fixture.copy(2) + "/./x/../history", fixture.dir.at("link/1.jpg/h")}) {
        EXPECT_EQ(refusal(plan, Url::file(inside, true)),
                  "Cleanup history cannot be stored inside a selected item.");
    }
    // An item that changed before the run started refuses the whole run.
    writeFile(fixture.copy(2), "picture 2, edited");
    EXPECT_EQ(refusal(plan, fixture.history), "2.jpg changed or cannot be verified. Scan again.");

    // A report of the same name is never replaced.
    CleanupPlan again = fixture.plan(1);
    writeFile(fixture.reportPath(again), "someone's notes");
    EXPECT_THROW(TrashService::execute(again, fixture.history), FileError);
    EXPECT_EQ(readText(fixture.reportPath(again)), "someone's notes");
    EXPECT_TRUE(exists(fixture.copy(1)));

    // Every refusal released the lock; a plan 299 seconds old, or from the future, still runs.
    CleanupPlan fresh = fixture.plan(1);
    fresh.createdAt -= std::chrono::seconds(299);
    EXPECT_EQ(TrashService::execute(fresh, fixture.history).movedCount(), 1);
    CleanupPlan future = fixture.plan(1);
    future.createdAt += std::chrono::hours(1);
    EXPECT_EQ(TrashService::execute(future, fixture.history).movedCount(), 1);
}

TEST(TrashExecute, TheFirstProblemStopsTheRunAndIsRecorded) {
    Fixture fixture;
    auto run = [&](const TrashMover& mover) {
        return TrashService::execute(fixture.plan(3), fixture.history, mover);
    };
    // The second item changes while the first one moves.
    TrashReport report = run([&](const Url& url) {
        writeFile(fixture.copy(2), "picture 2, edited");
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved, failed, notAttempted}));
    EXPECT_EQ(report.outcomes[1].message, "2.jpg changed or cannot be verified. Scan again.");
    EXPECT_TRUE(exists(fixture.copy(2)) && exists(fixture.copy(3)));
    fixture.expectOnDisk(report);

    // Cancelled while the first item moves.
    auto token = std::make_shared<CancellationToken>();
    {
        CancellationScope scope(token);
        report = run([&](const Url& url) {
            token->cancel();
            return TrashService::moveToTrash(url);
        });
    }
    EXPECT_EQ(statuses(report), (std::vector{moved, failed, notAttempted}));
    EXPECT_EQ(report.outcomes[1].message, "Stopped before moving this item.");
    fixture.expectOnDisk(report);

    // A mover that refuses before acting leaves the item provably in place.
    report = run([](const Url&) -> std::optional<Url> {
        throw FileError(FileError::writeVolumeReadOnly, "/somewhere/1.jpg");
    });
    EXPECT_EQ(statuses(report), (std::vector{failed, notAttempted, notAttempted}));
    EXPECT_EQ(report.outcomes[0].message,
              "The file \u201c1.jpg\u201d couldn\u2019t be saved because the volume is read only.");

    // Whatever a mover throws is recorded; the run still returns its report.
    report = run([](const Url&) -> std::optional<Url> { throw 42; });
    EXPECT_EQ(statuses(report), (std::vector{failed, notAttempted, notAttempted}));
    EXPECT_EQ(report.outcomes[0].message, "The item could not be moved to the Trash.");
    fixture.expectOnDisk(report);

    // One that throws after the item left cannot say where it is: the move stays "moving".
    report = run([&](const Url& url) -> std::optional<Url> {
        std::filesystem::rename(url.path(), fixture.dir.at("away.jpg"));
        throw CleanupProblem("The mover lost track.");
    });
    EXPECT_EQ(statuses(report), (std::vector{moving, notAttempted, notAttempted}));
    EXPECT_EQ(report.outcomes[0].message, "The mover lost track.");
    fixture.expectOnDisk(report);
}

TEST(TrashExecute, AnUnverifiedDestinationStopsTheRunWithAWarning) {
    Fixture fixture;
    std::string decoy = writeFile(fixture.dir.at("decoy.jpg"), "picture 1");
    const std::vector<TrashMover> movers{
        // Moved, but could not say where.
        [](const Url& url) { return TrashService::moveToTrash(url), std::optional<Url>(); },
        // Claimed success, but left the item where it was.
        [](const Url& url) { return std::optional<Url>(url); },
        // Named some other object as the destination.
        [&](const Url& url) {
            TrashService::moveToTrash(url);
            return std::optional<Url>(Url::file(decoy));
        }};
    for (const TrashMover& mover : movers) {
        TrashReport report = TrashService::execute(fixture.plan(2), fixture.history, mover);
        EXPECT_EQ(statuses(report), (std::vector{moved, notAttempted}));
        EXPECT_FALSE(report.outcomes[0].trashIdentity);
        EXPECT_EQ(report.logWarning,
                  "Moved, but the Trash destination could not be verified. "
                  "Remaining items were stopped; check Trash in your file manager.");
        EXPECT_TRUE(exists(fixture.copy(2)));
        fixture.expectOnDisk(report);
    }
}

TEST(TrashExecute, FailedHistorySavesAreReportedAndLoseNothing) {
    Fixture fixture;
    TmpfsMount mount(makeFolder(fixture.dir.at("small")), "64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    Url history = Url::file(mount.path() + "/history", true);

    // The disk fills up while the first item moves: the small records of each step still fit,
    // the whole report at the end does not.
    TrashReport report = TrashService::execute(fixture.plan(2), history, [&](const Url& url) {
        if (!exists(mount.path() + "/filler")) {
            mount.fill("filler");
        }
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved, moved}));
    ASSERT_TRUE(report.logWarning && report.outcomes[0].trashURL);
    EXPECT_EQ(report.logWarning->rfind("History could not be saved completely: ", 0), 0u);
    EXPECT_CONTAINS(*report.logWarning, "enough space");
    EXPECT_EQ(readText(report.outcomes[0].trashURL->path()), "picture 1");
    // What reached the disk says where every item went.
    auto disk = TrashService::history(history);
    ASSERT_EQ(disk.size(), 1u);
    EXPECT_EQ(statuses(disk[0]), (std::vector{moved, moved}));
    ASSERT_EQ(::unlink((mount.path() + "/filler").c_str()), 0);

    // The disk turns read-only while the first item moves.
    report = TrashService::execute(fixture.plan(1), history, [&](const Url& url) {
        EXPECT_TRUE(mount.setReadOnly(true));
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved}));
    EXPECT_CONTAINS(report.logWarning.value_or(""), "read only");
    EXPECT_TRUE(exists(report.outcomes[0].trashURL->path()));

    // A read-only history refuses the run before anything moves.
    EXPECT_THROW(TrashService::execute(fixture.plan(1), history), FileError);
    EXPECT_TRUE(exists(fixture.copy(1)));
}

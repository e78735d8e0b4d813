#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool exists(const std::string& path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0;
}

FileNode fileNode(const std::string& path) {
    auto identity = FileIdentity::capture(Url::file(path));
    return FileNode(Url::file(path, false), false, identity.size, identity.size, {}, 1, 0, false,
                    false, true, identity);
}

// A scratch home with a scan root holding duplicate photos: the kept copies in keep/, the extra
// copies in copies/.
struct DuplicateFixture {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = makeFolder(dir.at("home/.local/share"));
    ScopedEnvironment environment{{{"HOME", home}, {"XDG_DATA_HOME", data}}};
    std::string root = makeFolder(dir.at("photos"));
    Url history = Url::file(dir.at("history"), true);

    std::string copyPath(int i) const {
        return root + "/copies/photo" + std::to_string(i) + ".jpg";
    }

    CleanupCandidate duplicate(int i, const std::string& contents = "") {
        std::string body = contents.empty() ? "picture number " + std::to_string(i) : contents;
        std::string kept = writeFile(root + "/keep/photo" + std::to_string(i) + ".jpg", body);
        std::string copy = writeFile(copyPath(i), body);
        return CleanupCandidate(fileNode(copy), CleanupCategory::duplicates, root + "/copies",
                                "Identical contents.", false, fileNode(kept));
    }

    CleanupPlan plan(int count) {
        CleanupPlan plan;
        plan.id = Uuid::random();
        plan.createdAt = std::chrono::system_clock::now();
        plan.scanRoot = Url::file(root, true);
        for (int i = 1; i <= count; ++i) {
            plan.items.push_back(duplicate(i));
        }
        return plan;
    }

    std::string reportPath(const CleanupPlan& plan) const {
        return TrashService::reportFile(history, plan.id).path();
    }

    // The report as the history store reads it back.
    TrashReport onDisk(const CleanupPlan& plan) const {
        for (auto& report : TrashService::history(history)) {
            if (report.id == plan.id) {
                return report;
            }
        }
        ADD_FAILURE() << "no report on disk";
        return {};
    }
};

std::vector<TrashStatus> statuses(const TrashReport& report) {
    std::vector<TrashStatus> result;
    for (const auto& outcome : report.outcomes) {
        result.push_back(outcome.status);
    }
    return result;
}

// The disk must tell what the returned report tells.
void expectSameOnDisk(const TrashReport& returned, const TrashReport& disk) {
    EXPECT_EQ(statuses(disk), statuses(returned));
    EXPECT_EQ(disk.logWarning, returned.logWarning);
    EXPECT_EQ(disk.finishedAt.has_value(), returned.finishedAt.has_value());
    ASSERT_EQ(disk.outcomes.size(), returned.outcomes.size());
    for (size_t i = 0; i < disk.outcomes.size(); ++i) {
        EXPECT_EQ(disk.outcomes[i].message, returned.outcomes[i].message);
        EXPECT_EQ(disk.outcomes[i].trashURL, returned.outcomes[i].trashURL);
        EXPECT_EQ(disk.outcomes[i].trashIdentity, returned.outcomes[i].trashIdentity);
    }
}

template <typename Body> std::string problemOf(Body body) {
    try {
        body();
    } catch (const CleanupProblem& problem) {
        return problem.message;
    }
    return "(no problem)";
}

const TrashStatus moved = TrashStatus::moved;
const TrashStatus failed = TrashStatus::failed;
const TrashStatus moving = TrashStatus::moving;
const TrashStatus notAttempted = TrashStatus::notAttempted;

} // namespace

TEST(TrashExecute, ACompleteRunMovesEveryItemAndRecordsWhereItWent) {
    DuplicateFixture fixture;
    CleanupPlan plan = fixture.plan(3);
    TrashReport report = TrashService::execute(plan, fixture.history);

    EXPECT_EQ(report.id, plan.id);
    EXPECT_EQ(statuses(report), (std::vector{moved, moved, moved}));
    EXPECT_EQ(report.movedCount(), 3);
    EXPECT_TRUE(report.finishedAt);
    EXPECT_FALSE(report.logWarning);
    for (int i = 1; i <= 3; ++i) {
        const TrashOutcome& outcome = report.outcomes[static_cast<size_t>(i - 1)];
        EXPECT_EQ(outcome.originalURL, Url::file(fixture.copyPath(i), false));
        ASSERT_TRUE(outcome.trashURL);
        EXPECT_TRUE(Platform::current().isInTrash(*outcome.trashURL));
        EXPECT_EQ(readText(outcome.trashURL->path()), "picture number " + std::to_string(i));
        ASSERT_TRUE(outcome.trashIdentity);
        EXPECT_TRUE(outcome.trashIdentity->sameObject(*plan.items[i - 1].node.identity));
        EXPECT_TRUE(outcome.originalParentIdentity);
        EXPECT_FALSE(exists(fixture.copyPath(i)));
        EXPECT_TRUE(exists(fixture.root + "/keep/photo" + std::to_string(i) + ".jpg"));
    }
    std::string text = readText(fixture.reportPath(plan));
    EXPECT_NE(text.find("\n  \"finishedAt\""), std::string::npos) << text;
    EXPECT_LT(text.find("\"finishedAt\""), text.find("\"id\""));
    expectSameOnDisk(report, fixture.onDisk(plan));
}

TEST(TrashExecute, RefusesToStartWithoutMovingOrWritingAnything) {
    DuplicateFixture fixture;
    auto expectNothingHappened = [&](const CleanupPlan& plan) {
        EXPECT_FALSE(exists(fixture.reportPath(plan)));
        for (size_t i = 1; i <= plan.items.size(); ++i) {
            EXPECT_TRUE(exists(fixture.copyPath(static_cast<int>(i))));
        }
    };

    CleanupPlan old = fixture.plan(1);
    old.createdAt -= std::chrono::seconds(300);
    EXPECT_EQ(problemOf([&] { TrashService::execute(old, fixture.history); }),
              "This review expired. Review your selection again.");
    expectNothingHappened(old);

    // The history folder must not travel to the Trash with an item, even through a link.
    CleanupPlan plan = fixture.plan(2);
    for (const Url& inside :
         {Url::file(fixture.copyPath(2), true), Url::file(fixture.copyPath(2) + "/history", true),
          Url::file(fixture.copyPath(2) + "/./x/../history", true)}) {
        EXPECT_EQ(problemOf([&] { TrashService::execute(plan, inside); }),
                  "Cleanup history cannot be stored inside a selected item.");
    }
    makeSymlink(fixture.root + "/copies", fixture.dir.at("link"));
    EXPECT_EQ(problemOf([&] {
                  TrashService::execute(plan, Url::file(fixture.dir.at("link/photo1.jpg/h"), true));
              }),
              "Cleanup history cannot be stored inside a selected item.");
    expectNothingHappened(plan);

    // An item that changed before the run started refuses the whole run.
    writeFile(fixture.copyPath(2), "picture number 2, edited");
    EXPECT_NE(problemOf([&] { TrashService::execute(plan, fixture.history); }), "(no problem)");
    expectNothingHappened(plan);

    // A report of the same name is never replaced.
    CleanupPlan again = fixture.plan(1);
    makeFolder(fixture.history.path());
    writeFile(fixture.reportPath(again), "someone's notes");
    try {
        TrashService::execute(again, fixture.history);
        ADD_FAILURE() << "ran";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code, FileError::writeFileExists);
    }
    EXPECT_EQ(readText(fixture.reportPath(again)), "someone's notes");
    EXPECT_TRUE(exists(fixture.copyPath(1)));

    // The lock was released by every refusal; a plan 299 seconds old still runs.
    CleanupPlan fresh = fixture.plan(1);
    fresh.createdAt -= std::chrono::seconds(299);
    EXPECT_EQ(TrashService::execute(fresh, fixture.history).movedCount(), 1);
    // So does one from the future, after a clock change.
    CleanupPlan future = fixture.plan(1);
    future.createdAt += std::chrono::hours(1);
    EXPECT_EQ(TrashService::execute(future, fixture.history).movedCount(), 1);
}

TEST(TrashExecute, OnlyOneFileOperationRunsAtATime) {
    DuplicateFixture fixture;
    CleanupPlan plan = fixture.plan(2);
    CleanupPlan other = fixture.plan(0);
    std::string secondRun;
    std::string otherThread;
    TrashReport report = TrashService::execute(plan, fixture.history, [&](const Url& url) {
        if (secondRun.empty()) {
            secondRun = problemOf([&] { TrashService::execute(other, fixture.history); });
            auto handle = TaskHandle::start([&] {
                otherThread = problemOf([&] { TrashService::execute(other, fixture.history); });
            });
            handle.wait();
        }
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(secondRun, "Another file operation is running.");
    EXPECT_EQ(otherThread, "Another file operation is running.");
    EXPECT_EQ(statuses(report), (std::vector{moved, moved}));
    EXPECT_FALSE(exists(fixture.reportPath(other)));

    // A plan with no items still leaves a complete, empty report.
    TrashReport empty = TrashService::execute(other, fixture.history);
    EXPECT_TRUE(empty.outcomes.empty());
    EXPECT_TRUE(fixture.onDisk(other).finishedAt);
}

TEST(TrashExecute, AProblemDuringTheRunStopsItAndIsRecorded) {
    DuplicateFixture fixture;
    CleanupPlan plan = fixture.plan(3);
    // The second item changes while the first one is being moved.
    TrashReport report = TrashService::execute(plan, fixture.history, [&](const Url& url) {
        writeFile(fixture.copyPath(2), "picture number 2 but different");
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved, failed, notAttempted}));
    ASSERT_TRUE(report.outcomes[1].message);
    EXPECT_FALSE(report.outcomes[1].message->empty());
    EXPECT_FALSE(report.outcomes[1].trashURL);
    EXPECT_TRUE(report.finishedAt);
    EXPECT_TRUE(exists(fixture.copyPath(2)));
    EXPECT_TRUE(exists(fixture.copyPath(3)));
    expectSameOnDisk(report, fixture.onDisk(plan));
}

TEST(TrashExecute, CancellingBetweenItemsStopsBeforeTheNextMove) {
    DuplicateFixture fixture;
    CleanupPlan plan = fixture.plan(3);
    auto token = std::make_shared<CancellationToken>();
    TrashReport report;
    {
        CancellationScope scope(token);
        report = TrashService::execute(plan, fixture.history, [&](const Url& url) {
            token->cancel();
            return TrashService::moveToTrash(url);
        });
    }
    EXPECT_EQ(statuses(report), (std::vector{moved, failed, notAttempted}));
    EXPECT_EQ(report.outcomes[1].message, "Stopped before moving this item.");
    EXPECT_TRUE(report.finishedAt);
    EXPECT_TRUE(exists(fixture.copyPath(2)));
    expectSameOnDisk(report, fixture.onDisk(plan));
}

TEST(TrashExecute, WhatAMoverDidDecidesBetweenMovingAndFailed) {
    DuplicateFixture fixture;
    // Refused before acting: the item is provably in place.
    CleanupPlan refused = fixture.plan(2);
    TrashReport report =
        TrashService::execute(refused, fixture.history, [](const Url&) -> std::optional<Url> {
            throw FileError(FileError::writeVolumeReadOnly, "/somewhere/photo1.jpg");
        });
    EXPECT_EQ(statuses(report), (std::vector{failed, notAttempted}));
    EXPECT_EQ(
        report.outcomes[0].message,
        "The file \u201cphoto1.jpg\u201d couldn\u2019t be saved because the volume is read only.");
    expectSameOnDisk(report, fixture.onDisk(refused));

    // Threw after the item had left: it may be anywhere, so it stays "moving".
    CleanupPlan acted = fixture.plan(2);
    std::string away = fixture.dir.at("away.jpg");
    report =
        TrashService::execute(acted, fixture.history, [&](const Url& url) -> std::optional<Url> {
            std::filesystem::rename(url.path(), away);
            throw CleanupProblem("The mover lost track.");
        });
    EXPECT_EQ(statuses(report), (std::vector{moving, notAttempted}));
    EXPECT_EQ(report.outcomes[0].message, "The mover lost track.");
    EXPECT_EQ(readText(away), "picture number 1");
    expectSameOnDisk(report, fixture.onDisk(acted));
}

TEST(TrashExecute, AnUnverifiedDestinationStopsTheRunWithAWarning) {
    DuplicateFixture fixture;
    const std::string warning = "Moved, but the Trash destination could not be verified. Remaining "
                                "items were stopped; check Trash in Finder.";
    // The item went to the Trash, but the mover could not say where.
    CleanupPlan silent = fixture.plan(2);
    TrashReport report = TrashService::execute(silent, fixture.history, [](const Url& url) {
        TrashService::moveToTrash(url);
        return std::optional<Url>();
    });
    EXPECT_EQ(statuses(report), (std::vector{moved, notAttempted}));
    EXPECT_FALSE(report.outcomes[0].trashURL);
    EXPECT_FALSE(report.outcomes[0].trashIdentity);
    EXPECT_EQ(report.logWarning, warning);
    EXPECT_TRUE(exists(fixture.copyPath(2)));
    expectSameOnDisk(report, fixture.onDisk(silent));

    // A mover that claims success but left the item where it was has not moved it.
    CleanupPlan lying = fixture.plan(1);
    report = TrashService::execute(lying, fixture.history,
                                   [](const Url& url) { return std::optional<Url>(url); });
    EXPECT_FALSE(report.outcomes[0].trashIdentity);
    EXPECT_EQ(report.logWarning, warning);

    // A URL that holds some other object is not the item's destination either.
    CleanupPlan elsewhere = fixture.plan(1);
    std::string decoy = writeFile(fixture.dir.at("decoy.jpg"), "picture number 1");
    report = TrashService::execute(elsewhere, fixture.history, [&](const Url& url) {
        TrashService::moveToTrash(url);
        return std::optional<Url>(Url::file(decoy));
    });
    EXPECT_FALSE(report.outcomes[0].trashIdentity);
    EXPECT_EQ(report.logWarning, warning);
}

TEST(TrashExecute, FailedHistorySavesAreReportedAndLoseNothing) {
    DuplicateFixture fixture;
    std::string mountPoint = makeFolder(fixture.dir.at("small"));
    TmpfsMount mount(mountPoint, "64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    Url history = Url::file(mountPoint + "/history", true);

    // The disk fills up while the first item moves.
    CleanupPlan full = fixture.plan(2);
    TrashReport report = TrashService::execute(full, history, [&](const Url& url) {
        mount.fill("filler");
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved, notAttempted}));
    ASSERT_TRUE(report.logWarning);
    EXPECT_EQ(report.logWarning->rfind("History could not be saved completely: ", 0), 0u)
        << *report.logWarning;
    EXPECT_NE(report.logWarning->find("enough space"), std::string::npos) << *report.logWarning;
    EXPECT_TRUE(report.finishedAt);
    ASSERT_TRUE(report.outcomes[0].trashURL);
    EXPECT_EQ(readText(report.outcomes[0].trashURL->path()), "picture number 1");
    EXPECT_TRUE(exists(fixture.copyPath(2)));
    // The last version that reached the disk says the first item was on its way.
    auto disk = TrashService::history(history);
    ASSERT_EQ(disk.size(), 1u);
    EXPECT_EQ(statuses(disk[0]), (std::vector{moving, notAttempted}));
    EXPECT_TRUE(disk[0].outcomes[0].originalParentIdentity);
    ASSERT_EQ(::unlink((mountPoint + "/filler").c_str()), 0);

    // The disk turns read-only while the first item moves.
    CleanupPlan readOnly = fixture.plan(1);
    report = TrashService::execute(readOnly, history, [&](const Url& url) {
        EXPECT_TRUE(mount.setReadOnly(true));
        return TrashService::moveToTrash(url);
    });
    EXPECT_EQ(statuses(report), (std::vector{moved}));
    ASSERT_TRUE(report.logWarning);
    EXPECT_NE(report.logWarning->find("read only"), std::string::npos) << *report.logWarning;
    EXPECT_TRUE(exists(report.outcomes[0].trashURL->path()));

    // A read-only history refuses the run before anything moves.
    CleanupPlan refused = fixture.plan(1);
    try {
        TrashService::execute(refused, history);
        ADD_FAILURE() << "ran";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code, FileError::writeVolumeReadOnly);
    }
    EXPECT_TRUE(exists(fixture.copyPath(1)));
}

#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/trash/OperationLock.hpp"
#include "core/trash/RecoveryAvailability.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "tests/support/TestSupport.hpp"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

using State = RecoveryAvailability::State;

// A cleanup that moved docs/a.txt into a stand-in Trash folder, with its history file written.
struct MovedItem {
    explicit MovedItem(const std::string& trashRoot = {}) {
        const std::string trashFolder =
            trashRoot.empty() ? dir.at("Trash/files") : makeFolder(trashRoot + "/files");
        makeFolder(trashFolder);
        original = Url::file(writeFile(dir.at("docs/a.txt"), "precious"));
        trash = Url::file(trashFolder + "/a.txt");
        TrashOutcome outcome;
        outcome.originalURL = original;
        outcome.logicalSize = 8;
        outcome.originalParentIdentity = FileIdentity::capture(Url::file(dir.at("docs"), true));
        if (::rename(original.path().c_str(), trash.path().c_str()) != 0) {
            // Another file system: the stand-in Trash gets its own copy of the bytes.
            writeFile(trash.path(), "precious");
            ::unlink(original.path().c_str());
        }
        outcome.trashURL = trash;
        outcome.trashIdentity = FileIdentity::capture(trash);
        outcome.status = TrashStatus::moved;
        report.id = Uuid::random();
        report.startedAt = std::chrono::system_clock::now();
        report.finishedAt = report.startedAt;
        report.outcomes.push_back(outcome);
        history = Url::file(makeFolder(dir.at("history")), true);
        save();
    }

    void save() { TrashService::save(report, reportFile()); }
    Url reportFile() const { return TrashService::reportFile(history, report.id); }
    std::string reportText() const { return contents(reportFile().path()); }
    TrashOutcome stored() const { return TrashService::history(history).at(0).outcomes.at(0); }
    TrashReport restore() {
        return TrashService::restore(report.id, original, history, isInStandInTrash);
    }
    RecoveryAvailability availability() const {
        return RecoveryAvailability::inspect(stored(), isInStandInTrash);
    }

    TrashLocationCheck isInStandInTrash = [this](const Url& url) {
        return PathText::isInside(url.path(), trash.deletingLastPathComponent().path());
    };
    TempDir dir;
    Url original;
    Url trash;
    Url history;
    TrashReport report;
};

std::string refusal(const std::function<void()>& action) {
    try {
        action();
    } catch (const CleanupProblem& problem) {
        return problem.message;
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
    return "no refusal";
}

// Fails a chosen call of a chosen platform service, or runs a hook inside it.
class FaultyPlatform : public LinuxPlatform {
public:
    int writesBeforeFailure = -1;
    std::function<void(const Url&)> onResolve;

    void writeAtomically(const Url& file, std::string_view bytes) override {
        if (writesBeforeFailure == 0) {
            throw FileError(FileError::writeOutOfSpace, file.path(), ENOSPC);
        }
        --writesBeforeFailure;
        LinuxPlatform::writeAtomically(file, bytes);
    }
    Url resolvingSymlinks(const Url& url) override {
        if (onResolve) {
            onResolve(url);
        }
        return LinuxPlatform::resolvingSymlinks(url);
    }
};

} // namespace

TEST(Restore, PutsTheItemBackAndRecordsIt) {
    MovedItem item;
    EXPECT_EQ(item.availability().state, State::available);
    EXPECT_TRUE(item.availability().canRestore());
    EXPECT_EQ(item.availability().message, "Ready to restore to the original location.");

    TrashReport updated = item.restore();
    EXPECT_EQ(contents(item.original.path()), "precious");
    EXPECT_FALSE(LinuxPlatform().fileExists(item.trash));
    EXPECT_EQ(updated.outcomes[0].status, TrashStatus::restored);
    EXPECT_TRUE(updated.outcomes[0].restoredAt.has_value());
    EXPECT_EQ(item.stored().status, TrashStatus::restored);

    EXPECT_EQ(item.availability(), (RecoveryAvailability{State::alreadyRestored, false,
                                                         "This item was already restored."}));
    EXPECT_EQ(refusal([&] { item.restore(); }),
              "This history entry cannot be restored automatically. Check Trash in Finder.");
}

TEST(Restore, EntriesThatCannotBeRestoredAutomatically) {
    for (TrashStatus status : {TrashStatus::failed, TrashStatus::notAttempted,
                               TrashStatus::restored, TrashStatus::moving}) {
        MovedItem item;
        item.report.outcomes[0].status = status;
        item.save();
        EXPECT_EQ(refusal([&] { item.restore(); }),
                  "This history entry cannot be restored automatically. Check Trash in Finder.");
    }
    MovedItem older;
    older.report.outcomes[0].originalParentIdentity.reset();
    older.save();
    const std::string before = older.reportText();
    EXPECT_EQ(refusal([&] { older.restore(); }),
              "This history entry cannot be restored automatically. Check Trash in Finder.");
    EXPECT_EQ(older.availability().message,
              "This older entry cannot be verified for automatic recovery. Check Trash in Finder.");
    EXPECT_EQ(older.reportText(), before);

    MovedItem other;
    EXPECT_EQ(refusal([&] {
                  TrashService::restore(other.report.id, Url::file(other.dir.at("docs/b.txt")),
                                        other.history, other.isInStandInTrash);
              }),
              "This history entry cannot be restored automatically. Check Trash in Finder.");
}

TEST(Restore, NeverOverwritesAnItemAtTheOriginalPath) {
    MovedItem item;
    writeFile(item.original.path(), "newer work");
    const std::string before = item.reportText();
    EXPECT_EQ(item.availability().state, State::originalOccupied);
    EXPECT_TRUE(item.availability().canRevealInTrash);
    EXPECT_EQ(refusal([&] { item.restore(); }),
              "An item already exists at the original path. Nothing will be overwritten.");
    EXPECT_EQ(contents(item.original.path()), "newer work");
    EXPECT_EQ(item.reportText(), before) << "a refusal before marking writes nothing";
    EXPECT_EQ(contents(item.trash.path()), "precious");
}

TEST(Restore, AFileThatAppearsJustBeforeTheRenameIsLeftAlone) {
    MovedItem item;
    FaultyPlatform platform;
    // Something takes the original name after every check has passed.
    int calls = 0;
    platform.onResolve = [&](const Url& url) {
        if (url.path() == item.dir.at("docs") && ++calls == 3) {
            writeFile(item.original.path(), "appeared");
        }
    };
    ScopedPlatform scope(platform);
    std::string message = refusal([&] { item.restore(); });
    EXPECT_EQ(message.rfind("Restore was refused (system error 17).", 0), 0u) << message;
    EXPECT_EQ(contents(item.original.path()), "appeared");
    EXPECT_EQ(contents(item.trash.path()), "precious");
    auto stored = item.stored();
    EXPECT_EQ(stored.status, TrashStatus::moved);
    EXPECT_EQ(*stored.message, "Restore did not finish: " + message);
}

TEST(Restore, ChangedParentOrTrashItemIsRefused) {
    {
        MovedItem item;
        ASSERT_EQ(::rename(item.dir.at("docs").c_str(), item.dir.at("docs-old").c_str()), 0);
        makeFolder(item.dir.at("docs"));
        EXPECT_EQ(item.availability().message,
                  "The original folder is unavailable or has changed. You can find the item in "
                  "Trash and recover it manually.");
        EXPECT_TRUE(item.availability().canRevealInTrash);
        EXPECT_EQ(refusal([&] { item.restore(); }),
                  "The original parent folder is missing or changed. Restore manually in Finder.");
    }
    {
        MovedItem item;
        writeFile(item.trash.path(), "edited in the Trash");
        EXPECT_EQ(item.availability().state, State::changed);
        EXPECT_EQ(refusal([&] { item.restore(); }),
                  "The item in Trash was changed, replaced or removed. Check it in Finder.");
    }
    {
        MovedItem item;
        ASSERT_EQ(::unlink(item.trash.path().c_str()), 0); // the Trash was emptied
        auto availability = item.availability();
        EXPECT_EQ(availability.state, State::unavailable);
        EXPECT_FALSE(availability.canRevealInTrash);
        EXPECT_EQ(availability.message,
                  "The saved Trash item is unavailable. It may have been moved, Trash may have "
                  "been emptied, or access may be restricted.");
        EXPECT_NE(refusal([&] { item.restore(); }), "no refusal");
    }
    {
        MovedItem item;
        auto outside = [](const Url&) { return false; };
        EXPECT_EQ(RecoveryAvailability::inspect(item.stored(), outside).message,
                  "The saved item is no longer in a verified Trash location. Check it in Finder.");
        auto broken = [](const Url&) -> bool { throw std::runtime_error("no answer"); };
        EXPECT_EQ(RecoveryAvailability::inspect(item.stored(), broken).message,
                  "Ombrelo could not verify access to this Trash item. Check it in Finder.");
    }
}

TEST(Restore, ItemPutBackByHandIsAlreadyRestored) {
    MovedItem item;
    ASSERT_EQ(::rename(item.trash.path().c_str(), item.original.path().c_str()), 0);
    EXPECT_EQ(item.availability(),
              (RecoveryAvailability{State::alreadyRestored, false,
                                    "This item is already at its original location."}));
}

TEST(Restore, CrossVolumeMoveIsRefusedAndTheOutcomeStaysMoved) {
    TempDir shm; // the temporary folder's file system
    char pattern[] = "/dev/shm/varnok-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    struct stat a {
    }, b{};
    ::stat(pattern, &a);
    ::stat(shm.path().c_str(), &b);
    ASSERT_NE(a.st_dev, b.st_dev) << "/dev/shm must be another file system for this test";
    MovedItem item(pattern);
    std::string message = refusal([&] { item.restore(); });
    EXPECT_EQ(message, "Restore was refused (system error 18). An existing destination is never "
                       "overwritten; cross-volume or unsupported moves require Finder.");
    EXPECT_EQ(item.stored().status, TrashStatus::moved);
    EXPECT_EQ(*item.stored().message, "Restore did not finish: " + message);
    EXPECT_EQ(contents(item.trash.path()), "precious");
    ::unlink(item.trash.path().c_str());
    ::rmdir((std::string(pattern) + "/files").c_str());
    ::rmdir(pattern);
}

TEST(Restore, OnlyOneFileOperationAtATime) {
    MovedItem item;
    std::string message;
    {
        OperationLock moveInProgress;
        ASSERT_TRUE(moveInProgress.owns());
        std::thread([&] { message = refusal([&] { item.restore(); }); }).join();
    }
    EXPECT_EQ(message, "Another file operation is running.");
    EXPECT_NO_THROW(item.restore());
}

TEST(Restore, HistorySaveFailures) {
    {
        MovedItem item;
        FaultyPlatform platform;
        platform.writesBeforeFailure = 1; // marking is saved; the final save fails
        ScopedPlatform scope(platform);
        TrashReport report = item.restore();
        EXPECT_EQ(contents(item.original.path()), "precious");
        EXPECT_EQ(report.outcomes[0].status, TrashStatus::restored);
        EXPECT_EQ(*report.outcomes[0].message,
                  "Restored, but history could not be updated. Check the original folder before "
                  "retrying.");
        EXPECT_EQ(item.stored().status, TrashStatus::restoring);
        EXPECT_EQ(RecoveryAvailability::inspect(item.stored()).state, State::interrupted);
    }
    {
        MovedItem item;
        FaultyPlatform platform;
        platform.writesBeforeFailure = 0; // marking cannot be saved: nothing moves
        ScopedPlatform scope(platform);
        EXPECT_THROW(item.restore(), FileError);
        EXPECT_EQ(contents(item.trash.path()), "precious");
        EXPECT_EQ(item.stored().status, TrashStatus::moved);
    }
}

TEST(Restore, CancelledBeforeMarkingWritesNothing) {
    MovedItem item;
    const std::string before = item.reportText();
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(item.restore(), CancellationError);
    EXPECT_EQ(item.reportText(), before);
    EXPECT_TRUE(LinuxPlatform().fileExists(item.trash));
}

TEST(RecoveryAvailability, StatusesThatNeedNoLook) {
    TrashOutcome outcome;
    outcome.originalURL = Url::file("/nowhere/x");
    auto verdict = [&](TrashStatus status) {
        outcome.status = status;
        return RecoveryAvailability::inspect(outcome, [](const Url&) { return true; });
    };
    EXPECT_EQ(verdict(TrashStatus::failed).message,
              "This item was not moved to Trash by this cleanup.");
    EXPECT_EQ(verdict(TrashStatus::notAttempted).state, State::notMoved);
    EXPECT_EQ(verdict(TrashStatus::moving).message,
              "This action was interrupted. Check the original location and Trash in Finder.");
    EXPECT_EQ(verdict(TrashStatus::restoring).state, State::interrupted);

    outcome.trashURL = Url::file("/nowhere/x");
    outcome.trashIdentity = FileIdentity{};
    outcome.originalParentIdentity = FileIdentity{};
    EXPECT_EQ(verdict(TrashStatus::moved).message,
              "The saved recovery locations cannot be verified. Check them in Finder.");
}

TEST(RecoveryAvailability, UnexaminableOriginalLocation) {
    MovedItem item;
    setMode(item.dir.at("docs"), 0700);
    auto outcome = item.stored();
    auto check = item.isInStandInTrash;
    auto result = runUnprivileged([&] {
        auto verdict = RecoveryAvailability::inspect(outcome, check);
        return verdict.message + (verdict.canRevealInTrash ? " [reveal]" : "");
    });
    ASSERT_TRUE(result.succeeded) << result.output;
    // As nobody the parent folder is still found, but its entries cannot be looked up.
    EXPECT_EQ(result.output, "Ombrelo could not check the original location. Review its access "
                             "before recovering this item. [reveal]");
}

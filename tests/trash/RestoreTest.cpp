#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/trash/RecoveryAvailability.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxPlatform.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <filesystem>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

using State = RecoveryAvailability::State;
const std::string notAutomatic =
    "This history entry cannot be restored automatically. Check Trash in your file manager.";

// Moves `item` with the platform's Trash and saves, in `history`, a finished report whose only
// outcome is that move.
TrashReport recordMove(const Url& item, const Url& history) {
    TrashOutcome outcome;
    outcome.originalURL = item;
    outcome.originalParentIdentity = FileIdentity::capture(item.deletingLastPathComponent());
    outcome.trashURL = Platform::current().moveToTrash(item);
    outcome.trashIdentity = FileIdentity::capture(*outcome.trashURL);
    outcome.status = TrashStatus::moved;
    TrashReport report;
    report.id = Uuid::random();
    report.startedAt = std::chrono::system_clock::now();
    report.finishedAt = report.startedAt;
    report.outcomes.push_back(outcome);
    Platform::current().createDirectory(history, true);
    TrashService::save(report, TrashService::reportFile(history, report.id));
    return report;
}

// docs/a.txt moved to the Trash of a scratch home, the move saved in history/.
struct MovedItem : ScratchHome {
    Url original = Url::file(writeFile(dir.at("docs/a.txt"), "precious"));
    Url history = Url::file(dir.at("history"), true);
    TrashReport report = recordMove(original, history);
    Url trashed = *report.outcomes[0].trashURL;

    void save() const { TrashService::save(report, TrashService::reportFile(history, report.id)); }
    std::string reportText() const {
        return readText(TrashService::reportFile(history, report.id).path());
    }
    TrashOutcome stored() const { return TrashService::history(history).at(0).outcomes.at(0); }
    TrashReport restore() const { return TrashService::restore(report.id, original, history); }
    RecoveryAvailability availability() const { return RecoveryAvailability::inspect(stored()); }
};

// Fails a chosen call of a chosen platform service, or runs a hook inside it.
class FaultyPlatform : public LinuxPlatform {
public:
    int writesBeforeFailure = -1;
    std::function<void(const Url&)> onResolve;

    // Counts the writes of history: whole reports and journal records.
    void writeAtomically(const Url& file, std::string_view bytes) override {
        failOnCount(file);
        LinuxPlatform::writeAtomically(file, bytes);
    }
    void appendRecord(const Url& file, std::string_view bytes, bool create, bool flush) override {
        failOnCount(file);
        Platform::appendRecord(file, bytes, create, flush);
    }
    void failOnCount(const Url& file) {
        if (writesBeforeFailure == 0) {
            throw FileError(FileError::writeOutOfSpace, file.path(), ENOSPC);
        }
        --writesBeforeFailure;
    }
    Url resolvingSymlinks(const Url& url) override {
        if (onResolve) {
            onResolve(url);
        }
        return LinuxPlatform::resolvingSymlinks(url);
    }
};

} // namespace

TEST(Restore, PutsTheItemBackOnceAndLeavesNothingInTrashList) {
    MovedItem item;
    EXPECT_EQ(item.availability(),
              (RecoveryAvailability{State::available, true,
                                    "Ready to restore to the original location."}));
    EXPECT_CONTAINS(item.trashCli("trash-list").output, item.original.path());
    EXPECT_EQ(problemOf([&] {
                  TrashService::restore(item.report.id, Url::file(item.dir.at("docs/b.txt")),
                                        item.history);
              }),
              notAutomatic);

    TrashReport updated = item.restore();
    EXPECT_EQ(readText(item.original.path()), "precious");
    EXPECT_FALSE(exists(item.trashed.path()));
    EXPECT_EQ(updated.outcomes[0].status, TrashStatus::restored);
    EXPECT_TRUE(updated.outcomes[0].restoredAt.has_value());
    EXPECT_EQ(item.stored().status, TrashStatus::restored);
    // trash-list reads every mount's Trash, where tests running beside this one may have items.
    EXPECT_EQ(item.trashCli("trash-list").output.find(item.original.path()), std::string::npos)
        << "no ghost entry is left behind";

    EXPECT_EQ(item.availability(), (RecoveryAvailability{State::alreadyRestored, false,
                                                         "This item was already restored."}));
    EXPECT_EQ(problemOf([&] { item.restore(); }), notAutomatic);
}

TEST(Restore, EntriesThatCannotBeRestoredAutomatically) {
    for (TrashStatus status : {TrashStatus::failed, TrashStatus::notAttempted,
                               TrashStatus::restored, TrashStatus::moving}) {
        MovedItem item;
        item.report.outcomes[0].status = status;
        item.save();
        EXPECT_EQ(problemOf([&] { item.restore(); }), notAutomatic);
    }
    MovedItem older;
    older.report.outcomes[0].originalParentIdentity.reset();
    older.save();
    const std::string before = older.reportText();
    EXPECT_EQ(problemOf([&] { older.restore(); }), notAutomatic);
    EXPECT_EQ(older.availability().message, "This older entry cannot be verified for automatic "
                                            "recovery. Check Trash in your file manager.");
    EXPECT_EQ(older.reportText(), before);
}

TEST(Restore, NeverOverwritesAnItemAtTheOriginalPath) {
    MovedItem item;
    writeFile(item.original.path(), "newer work");
    const std::string before = item.reportText();
    EXPECT_EQ(item.availability().state, State::originalOccupied);
    EXPECT_TRUE(item.availability().canRevealInTrash);
    EXPECT_EQ(problemOf([&] { item.restore(); }),
              "An item already exists at the original path. Nothing will be overwritten.");
    EXPECT_EQ(readText(item.original.path()), "newer work");
    EXPECT_EQ(item.reportText(), before) << "a refusal before marking writes nothing";
    EXPECT_EQ(readText(item.trashed.path()), "precious");
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
    std::string message = problemOf([&] { item.restore(); });
    EXPECT_EQ(message.rfind("Restore was refused (system error 17).", 0), 0u) << message;
    EXPECT_EQ(readText(item.original.path()), "appeared");
    EXPECT_EQ(readText(item.trashed.path()), "precious");
    EXPECT_EQ(item.stored().status, TrashStatus::moved);
    EXPECT_EQ(item.stored().message.value_or("(none)"), "Restore did not finish: " + message);
}

TEST(Restore, APathSwappedAfterTheLastCheckIsNeverRenamedInto) {
    const std::string parentChanged =
        "The original parent folder is missing or changed. Restore manually in your file manager.";
    for (bool swapParent : {true, false}) {
        MovedItem item;
        FaultyPlatform platform;
        // Between the last check by path and the opening of the folders.
        int calls = 0;
        platform.onResolve = [&](const Url& url) {
            if (url.path() != item.dir.at("docs") || ++calls != 2) {
                return;
            }
            if (swapParent) {
                ASSERT_EQ(::rename(item.dir.at("docs").c_str(), item.dir.at("old").c_str()), 0);
                makeFolder(item.dir.at("docs"));
            } else {
                ASSERT_EQ(::rename(item.trashed.path().c_str(), item.dir.at("kept").c_str()), 0);
                writeFile(item.trashed.path(), "impostor");
            }
        };
        ScopedPlatform scope(platform);
        EXPECT_EQ(problemOf([&] { item.restore(); }),
                  "A restore path changed. Nothing was restored.");
        EXPECT_FALSE(exists(item.original.path()));
        EXPECT_EQ(item.stored().status, TrashStatus::moved);
    }

    // A folder now reached through a link, even to the same folder, is not the original one.
    ScratchHome scratch;
    Url history = Url::file(scratch.dir.at("history"), true);
    Url original = Url::file(writeFile(scratch.dir.at("a/docs/x.txt"), "precious"));
    TrashReport report = recordMove(original, history);
    ASSERT_EQ(::rename(scratch.dir.at("a").c_str(), scratch.dir.at("b").c_str()), 0);
    makeSymlink("b", scratch.dir.at("a"));
    EXPECT_EQ(RecoveryAvailability::inspect(report.outcomes[0]).state, State::unavailable);
    EXPECT_EQ(problemOf([&] { TrashService::restore(report.id, original, history); }),
              parentChanged);

    // A history entry whose parent was recorded as a plain file.
    MovedItem item;
    std::string plain = writeFile(item.dir.at("plain"), "not a folder");
    TrashOutcome& outcome = item.report.outcomes[0];
    outcome.originalURL = Url::file(plain + "/a.txt");
    outcome.originalParentIdentity = FileIdentity::capture(Url::file(plain));
    item.save();
    const std::string before = item.reportText();
    EXPECT_EQ(problemOf([&] {
                  TrashService::restore(item.report.id, outcome.originalURL, item.history);
              }),
              parentChanged);
    EXPECT_EQ(item.reportText(), before);
}

TEST(Restore, ChangesMadeOutsideAreSeenAndNeverOverwritten) {
    {
        // Put back by trash-restore.
        MovedItem item;
        auto restored = item.trashCli("cd '" + item.dir.at("docs") + "' && trash-restore", "0\n");
        ASSERT_EQ(restored.status, 0) << restored.output;
        EXPECT_EQ(readText(item.original.path()), "precious");
        EXPECT_EQ(item.availability(),
                  (RecoveryAvailability{State::alreadyRestored, false,
                                        "This item is already at its original location."}));
    }
    {
        MovedItem item;
        ASSERT_EQ(::rename(item.dir.at("docs").c_str(), item.dir.at("docs-old").c_str()), 0);
        makeFolder(item.dir.at("docs"));
        EXPECT_EQ(item.availability(),
                  (RecoveryAvailability{State::unavailable, true,
                                        "The original folder is unavailable or has changed. You "
                                        "can find the item in Trash and recover it manually."}));
        EXPECT_EQ(problemOf([&] { item.restore(); }),
                  "The original parent folder is missing or changed. Restore manually in your file "
                  "manager.");
    }
    for (bool replace : {false, true}) {
        MovedItem item;
        if (replace) {
            // Another file with the same bytes under the same name is still another file.
            ASSERT_EQ(::rename(item.trashed.path().c_str(), item.dir.at("moved-away").c_str()), 0);
            writeFile(item.trashed.path(), "precious");
        } else {
            writeFile(item.trashed.path(), "edited in the Trash");
        }
        EXPECT_EQ(item.availability().state, State::changed);
        EXPECT_EQ(
            problemOf([&] { item.restore(); }),
            "The item in Trash was changed, replaced or removed. Check it in your file manager.");
        EXPECT_FALSE(exists(item.original.path()));
    }
    {
        MovedItem item;
        // The user empties the Trash. Only this scratch Trash: trash-empty would also purge the
        // Trash of every mounted volume.
        std::filesystem::remove_all(item.trash + "/files");
        std::filesystem::remove_all(item.trash + "/info");
        EXPECT_EQ(item.availability(),
                  (RecoveryAvailability{State::unavailable, false,
                                        "The saved Trash item is unavailable. It may have been "
                                        "moved, Trash may have been emptied, or access may be "
                                        "restricted."}));
        EXPECT_NE(problemOf([&] { item.restore(); }), "(accepted)");
        EXPECT_EQ(item.stored().status, TrashStatus::moved);
    }
    {
        MovedItem item;
        auto outside = [](const Url&) { return false; };
        EXPECT_EQ(RecoveryAvailability::inspect(item.stored(), outside).message,
                  "The saved item is no longer in a verified Trash location. Check it in your file "
                  "manager.");
        auto broken = [](const Url&) -> bool { throw std::runtime_error("no answer"); };
        EXPECT_EQ(
            RecoveryAvailability::inspect(item.stored(), broken).message,
            "Ombrelo could not verify access to this Trash item. Check it in your file manager.");
    }
}

TEST(Restore, ATrashOnAnotherFileSystemIsRefusedAndTheOutcomeStaysMoved) {
    MovedItem item;
    TmpfsMount mount(makeFolder(item.dir.at("other")), "1m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    TrashOutcome& outcome = item.report.outcomes[0];
    outcome.trashURL = Url::file(writeFile(mount.path() + "/a.txt", "precious"));
    outcome.trashIdentity = FileIdentity::capture(*outcome.trashURL);
    item.save();
    std::string message = problemOf([&] {
        TrashService::restore(item.report.id, item.original, item.history,
                              [](const Url&) { return true; });
    });
    EXPECT_EQ(message, "Restore was refused (system error 18). An existing destination is never "
                       "overwritten; cross-volume or unsupported moves require your file manager.");
    EXPECT_EQ(item.stored().status, TrashStatus::moved);
    EXPECT_EQ(item.stored().message.value_or("(none)"), "Restore did not finish: " + message);
    EXPECT_EQ(readText(outcome.trashURL->path()), "precious");
    EXPECT_FALSE(exists(item.original.path()));
}

TEST(Restore, HistorySaveFailuresAndCancellation) {
    {
        MovedItem item;
        FaultyPlatform platform;
        platform.writesBeforeFailure = 1; // marking is saved; the final save fails
        ScopedPlatform scope(platform);
        TrashReport report = item.restore();
        EXPECT_EQ(readText(item.original.path()), "precious");
        EXPECT_EQ(report.outcomes[0].status, TrashStatus::restored);
        EXPECT_EQ(report.outcomes[0].message.value_or("(none)"),
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
        EXPECT_EQ(readText(item.trashed.path()), "precious");
        EXPECT_EQ(item.stored().status, TrashStatus::moved);
    }
    MovedItem item;
    const std::string before = item.reportText();
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_THROW(item.restore(), CancellationError);
    EXPECT_EQ(item.reportText(), before) << "cancelled before marking, nothing is written";
    EXPECT_TRUE(exists(item.trashed.path()));
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
    EXPECT_EQ(
        verdict(TrashStatus::moving).message,
        "This action was interrupted. Check the original location and Trash in your file manager.");
    EXPECT_EQ(verdict(TrashStatus::restoring).state, State::interrupted);

    outcome.trashURL = Url::file("/nowhere/x");
    outcome.trashIdentity = FileIdentity{};
    outcome.originalParentIdentity = FileIdentity{};
    EXPECT_EQ(verdict(TrashStatus::moved).message,
              "The saved recovery locations cannot be verified. Check them in your file manager.");
}

TEST(RecoveryAvailability, UnexaminableOriginalLocation) {
    MovedItem item;
    setMode(item.dir.at("docs"), 0);
    setMode(item.trash, 0755); // the Trash item itself stays within the child's reach
    setMode(item.trash + "/files", 0755);
    auto outcome = item.stored();
    auto result = runUnprivileged([&] {
        auto verdict = RecoveryAvailability::inspect(outcome);
        return verdict.message + (verdict.canRevealInTrash ? " [reveal]" : "");
    });
    ASSERT_TRUE(result.succeeded) << result.output;
    // As nobody the parent folder is still found, but its entries cannot be looked up.
    EXPECT_EQ(result.output, "Ombrelo could not check the original location. Review its access "
                             "before recovering this item. [reveal]");
}

TEST(Restore, WorksWhenTheDataFolderIsReachedThroughALink) {
    // Dotfile managers often make ~/.local/share a link; the Trash then lies behind it.
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    makeFolder(dir.at("dotfiles/share"));
    makeFolder(home + "/.local");
    makeSymlink(dir.at("dotfiles/share"), home + "/.local/share");
    ScopedEnv homeVariable{"HOME", home};
    ScopedEnv dataVariable{"XDG_DATA_HOME", home + "/.local/share"};
    Url original = Url::file(writeFile(dir.at("docs/a.txt"), "precious"));
    Url history = Url::file(dir.at("history"), true);
    TrashReport report = recordMove(original, history);

    EXPECT_EQ(report.outcomes[0].trashURL->path(), dir.at("dotfiles/share/Trash/files/a.txt"));
    EXPECT_TRUE(RecoveryAvailability::inspect(report.outcomes[0]).canRestore());
    TrashService::restore(report.id, original, history);
    EXPECT_EQ(readText(original.path()), "precious");
}

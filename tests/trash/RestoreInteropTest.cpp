#include "core/trash/RecoveryAvailability.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <gtest/gtest.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// A home whose Trash is on the same file system as the items, with one file moved there by the
// platform's Trash and the move recorded in a history file.
struct TrashedWithHistory {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = makeFolder(dir.at("home/.local/share"));
    ScopedEnv homeVariable{"HOME", home};
    ScopedEnv dataVariable{"XDG_DATA_HOME", data};
    std::string work = makeFolder(dir.at("work"));
    Url original = Url::file(writeFile(work + "/r\xC3\xA9sum\xC3\xA9 #1.txt", "cv"));
    Url history = Url::file(makeFolder(dir.at("history")), true);
    TrashReport report;

    TrashedWithHistory() {
        TrashOutcome outcome;
        outcome.originalURL = original;
        outcome.logicalSize = 2;
        outcome.originalParentIdentity = FileIdentity::capture(Url::file(work, true));
        outcome.trashURL = Platform::current().moveToTrash(original);
        outcome.trashIdentity = FileIdentity::capture(*outcome.trashURL);
        outcome.status = TrashStatus::moved;
        report.id = Uuid::random();
        report.startedAt = std::chrono::system_clock::now();
        report.outcomes.push_back(outcome);
        TrashService::save(report, TrashService::reportFile(history, report.id));
    }

    std::string trashCli(const std::string& command) const {
        return "HOME='" + home + "' XDG_DATA_HOME='" + data + "' " + command;
    }
    RecoveryAvailability availability() const {
        return RecoveryAvailability::inspect(TrashService::history(history).at(0).outcomes.at(0));
    }
};

} // namespace

TEST(RestoreInterop, RestoredItemsLeaveNothingInTrashList) {
    TrashedWithHistory item;
    ASSERT_EQ(runShell("command -v trash-list").status, 0) << "trash-cli is needed";
    auto before = runShell(item.trashCli("trash-list"));
    EXPECT_NE(before.output.find(item.original.path()), std::string::npos) << before.output;
    EXPECT_TRUE(item.availability().canRestore()) << item.availability().message;

    TrashService::restore(item.report.id, item.original, item.history);
    EXPECT_TRUE(Platform::current().fileExists(item.original));
    auto after = runShell(item.trashCli("trash-list"));
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.output, "") << "no ghost entry is left behind";
}

TEST(RestoreInterop, ItemPutBackByTrashRestoreIsAtItsOriginalLocation) {
    TrashedWithHistory item;
    ASSERT_EQ(runShell("command -v trash-restore").status, 0) << "trash-cli is needed";
    auto restored = runShell(item.trashCli("cd '" + item.work + "' && trash-restore"), "0\n");
    ASSERT_EQ(restored.status, 0) << restored.output;
    ASSERT_TRUE(Platform::current().fileExists(item.original));
    EXPECT_EQ(item.availability().message, "This item is already at its original location.");
}

TEST(RestoreInterop, EmptiedTrashMakesTheItemUnavailable) {
    TrashedWithHistory item;
    ASSERT_EQ(runShell("command -v trash-empty").status, 0) << "trash-cli is needed";
    auto emptied = runShell(item.trashCli("trash-empty"));
    ASSERT_EQ(emptied.status, 0) << emptied.output;
    auto availability = item.availability();
    EXPECT_EQ(availability.message,
              "The saved Trash item is unavailable. It may have been moved, Trash may have been "
              "emptied, or access may be restricted.");
    EXPECT_FALSE(availability.canRevealInTrash);
    EXPECT_THROW(TrashService::restore(item.report.id, item.original, item.history),
                 std::exception);
    EXPECT_EQ(TrashService::history(item.history).at(0).outcomes.at(0).status, TrashStatus::moved);
}

#include "core/trash/OperationLock.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <csignal>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

const std::string busy = "Another file operation is running.";

nlohmann::json storedOutcome(const CleanedHome& h) {
    return nlohmann::json::parse(readText(h.reportPath())).at("outcomes").at(0);
}

} // namespace

TEST(HistoryLock, HeldByAnotherProcessRefusesCleanupAndRestoreThere) {
    CleanedHome h;
    const std::string other =
        writeFile(h.home + "/Library/Caches/Google/Chrome/Default/data_1", "browser bytes");
    {
        OperationLock held(h.history);
        ASSERT_TRUE(held.owns());
        CliRun restore = h.run({"restore", h.id, h.cache});
        EXPECT_EQ(restore.exitCode, 1);
        EXPECT_CONTAINS(restore.err, busy);
        CliRun clean = h.run({"clean", "--yes", h.home + "/Library/Caches/Google/Chrome"});
        EXPECT_EQ(clean.exitCode, 1);
        EXPECT_CONTAINS(clean.err, busy);
        EXPECT_TRUE(exists(other));
        EXPECT_EQ(nlohmann::json::parse(h.run({"history", "--json"}).out).at("reports").size(), 1u);
        EXPECT_EQ(storedOutcome(h).at("status"), "moved");
    }
    // A process that dies holding the lock leaves it free.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OperationLock lock(h.history);
        ::raise(lock.owns() ? SIGKILL : SIGTERM);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    CliRun restore = h.run({"restore", h.id, h.cache});
    EXPECT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(readText(h.cache + "/data.bin"), "cached bytes");
}

TEST(HistoryLock, RestoresStartedTogetherPutTheItemBackOnce) {
    CleanedHome h;
    constexpr int count = 8;
    std::string script = "export HOME='" + h.home + "' XDG_DATA_HOME='" + h.data + "'; ";
    for (int i = 0; i < count; ++i) {
        const std::string out = h.dir.at("run" + std::to_string(i));
        script += "( '" OMBRELO_CLI_PATH "' restore " + h.id + " '" + h.cache + "' >'" + out +
                  ".err' 2>&1; echo $? >'" + out + ".code' ) & ";
    }
    runShell(script + "wait");
    int winners = 0;
    for (int i = 0; i < count; ++i) {
        const std::string out = h.dir.at("run" + std::to_string(i));
        if (readText(out + ".code") == "0\n") {
            ++winners;
            continue;
        }
        // A loser either met the running restore or came after it.
        const std::string err = readText(out + ".err");
        EXPECT_TRUE(err.find(busy) != std::string::npos ||
                    err.find("This item was already restored.") != std::string::npos)
            << err;
    }
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(readText(h.cache + "/data.bin"), "cached bytes");
    EXPECT_EQ(storedOutcome(h).at("status"), "restored");
    EXPECT_FALSE(storedOutcome(h).contains("message"));
}

TEST(HistoryLock, RestoreSaysWhatWentWrongAroundIt) {
    CleanedHome h;
    // A damaged report is named as such, not in the JSON reader's words.
    const std::string id = "01234567-89AB-CDEF-0123-456789ABCDEF";
    writeFile(h.history.path() + "/" + id + ".json", "{\"id\": \"" + id + "\", ");
    CliRun damaged = h.run({"restore", id, h.cache});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_CONTAINS(damaged.err, "The cleanup report is damaged and cannot be read: it is not "
                                 "valid JSON");
    EXPECT_EQ(damaged.err.find("json.exception"), std::string::npos) << damaged.err;

    // The Trash's record of the item cannot be removed: the item is back all the same, and the
    // user hears that the Trash may still list it.
    const std::string info = h.trash + "/info";
    ASSERT_EQ(::rename(info.c_str(), (info + "-real").c_str()), 0);
    makeSymlink(info + "-real", info);
    CliRun restored = h.run({"restore", h.id, h.cache});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_CONTAINS(restored.out, "Restored, but the Trash still lists this item");
    EXPECT_EQ(readText(h.cache + "/data.bin"), "cached bytes");
    EXPECT_EQ(storedOutcome(h).at("status"), "restored");
}

TEST(HistoryLock, TheHistoryIsCheckedCreatedAndWrittenAtOnePath) {
    ScratchHome scratch;
    // ".." after a link names the link's own folder here, as the check reads it.
    makeFolder(scratch.dir.at("deep/inner"));
    makeSymlink(scratch.dir.at("deep/inner"), scratch.dir.at("link"));
    const Url spelled = Url::file(scratch.dir.at("link/../history"), true);
    CleanupPlan plan{Uuid::random(), std::chrono::system_clock::now(), {}, scratch.dir.url()};
    TrashService::execute(plan, spelled);
    EXPECT_TRUE(exists(scratch.dir.at("history/" + plan.id.uuidString() + ".json")));
    EXPECT_FALSE(exists(scratch.dir.at("deep/history")));
}

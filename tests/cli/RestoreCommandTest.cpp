#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok;
using namespace varnok::testing;

TEST(RestoreCommand, RestoresByPathOnceAndExplainsRefusals) {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = makeFolder(dir.at("home/.local/share"));
    ScopedEnv homeVariable{"HOME", home};
    ScopedEnv dataVariable{"XDG_DATA_HOME", data};
    std::string folder = makeFolder(dir.at("work/node_modules"));
    writeFile(folder + "/pkg/index.js", "js");

    TrashOutcome outcome;
    outcome.originalURL = Url::file(folder, true);
    outcome.originalParentIdentity = FileIdentity::capture(Url::file(dir.at("work"), true));
    outcome.trashURL = Platform::current().moveToTrash(outcome.originalURL);
    outcome.trashIdentity = FileIdentity::capture(*outcome.trashURL);
    outcome.status = TrashStatus::moved;
    TrashReport report;
    report.id = Uuid::random();
    report.startedAt = std::chrono::system_clock::now();
    report.outcomes.push_back(outcome);
    Url history = TrashService::defaultHistoryFolder();
    Platform::current().createDirectory(history, true);
    TrashService::save(report, TrashService::reportFile(history, report.id));

    const std::vector<std::string> env = {"HOME=" + home, "XDG_DATA_HOME=" + data};
    auto usage = runCli({"restore", "not-an-id", folder}, env);
    EXPECT_EQ(usage.exitCode, 2);

    auto listed = runCli({"history", "--json"}, env);
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    auto availability = nlohmann::json::parse(listed.out)[0]["outcomes"][0]["availability"];
    EXPECT_EQ(availability["state"], "available");
    EXPECT_EQ(availability["canRestore"], true);
    EXPECT_EQ(availability["canRevealInTrash"], true);
    EXPECT_EQ(availability["message"], "Ready to restore to the original location.");

    // The path is given without the trailing slash the stored folder URL has.
    auto run = runCli({"restore", report.id.uuidString(), folder}, env);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Restored " + folder), std::string::npos) << run.out;
    EXPECT_TRUE(Platform::current().fileExists(Url::file(folder + "/pkg/index.js")));

    auto again =
        runCli({"restore", report.id.uuidString(), outcome.originalURL.absoluteString()}, env);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("This history entry cannot be restored automatically. Check Trash "
                             "in Finder."),
              std::string::npos)
        << again.err;

    auto text = runCli({"history"}, env);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Recovery: This item was already restored."), std::string::npos)
        << text.out;
}

#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

using namespace varnok::testing;

namespace {

// Every path below `root` with its size and modification time, to show nothing was written.
std::set<std::string> snapshot(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string line = entry.path().string();
        if (entry.is_regular_file() && !entry.is_symlink()) {
            line += " " + std::to_string(entry.file_size()) + " " +
                    std::to_string(entry.last_write_time().time_since_epoch().count());
        }
        entries.insert(line);
    }
    return entries;
}

// A copy of /bin/sleep named `name` ("slack" by default), so the running-application list reports
// that application. The spawn returns once the program is running, so /proc already shows the new
// name.
class FakeSlack {
public:
    explicit FakeSlack(const TempDir& dir, const std::string& name = "slack") {
        std::string path = dir.at(name), seconds = "60";
        std::filesystem::copy_file("/bin/sleep", path);
        char* argv[] = {path.data(), seconds.data(), nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
            pid_ = 0;
        }
    }
    ~FakeSlack() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL); // the test's own child
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = 0;
};

TEST(CleanupScanCommand, ListsCandidatesWithTheirRunningAppsAndWritesNothing) {
    TempDir dir;
    const std::string home = dir.at("home");
    writeFile(home + "/Library/Caches/Firefox/data", std::string(2000, 'f'));
    writeFile(home + "/Library/Application Support/Slack/Cache/data", std::string(100, 's'));
    setModifiedSecondsAgo(writeFile(home + "/Library/Logs/old.log", "log"), 40 * 86400.0);
    const auto before = snapshot(home);
    // Two instances of one app: one app to close.
    TempDir other;
    FakeSlack slack(dir);
    FakeSlack secondSlack(other);

    auto run = runCli({"cleanup-scan", "--json", "--home", home});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["checkedLocations"], 3);
    EXPECT_EQ(json["checkedFiles"], 3);
    EXPECT_EQ(json["unreadable"], nlohmann::json::array());
    const auto& candidates = json["candidates"];
    ASSERT_EQ(candidates.size(), 3u);
    // One flat record per suggestion; the scanned tree only when asked for.
    const auto& firefox = candidates[0];
    EXPECT_EQ(firefox["path"], home + "/Library/Caches/Firefox");
    EXPECT_EQ(firefox["title"], "Firefox cache");
    EXPECT_EQ(firefox["category"], "Browser caches");
    EXPECT_EQ(firefox["logicalSize"], 2000);
    EXPECT_GE(firefox["allocatedSize"].get<std::int64_t>(), 2000);
    EXPECT_EQ(firefox["evidence"], "Known cache location: Library/Caches/Firefox. Close the "
                                   "related app before removal.");
    EXPECT_EQ(firefox["keeper"], nullptr);
    EXPECT_EQ(firefox["runningApps"], nlohmann::json::array());
    EXPECT_FALSE(firefox.contains("tree"));
    EXPECT_EQ(candidates[1]["path"], home + "/Library/Application Support/Slack/Cache");
    EXPECT_EQ(candidates[1]["category"], "Chat app caches");
    EXPECT_EQ(candidates[1]["runningApps"], nlohmann::json::array({"Slack"}));
    EXPECT_EQ(candidates[2]["category"], "Old logs & crash reports");
    EXPECT_EQ(candidates[2]["path"], home + "/Library/Logs/old.log");
    EXPECT_LT(run.out.size(), 4000u);

    auto tree = runCli({"cleanup-scan", "--json", "--tree", "--home", home});
    const auto withTree = nlohmann::json::parse(tree.out)["candidates"][0];
    EXPECT_EQ(withTree["tree"]["id"], "file://" + home + "/Library/Caches/Firefox/");
    EXPECT_EQ(withTree["tree"]["children"][0]["logicalSize"], 2000);
    EXPECT_EQ(runCli({"cleanup-scan", "--tree", "--home", home}).exitCode, 2);

    // As text, grouped by category, in the user's home folder when none is given.
    auto text = runCli({"cleanup-scan"}, {"HOME=" + home});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* line :
         {"Browser caches: 1 item, 2.0 kB", "Firefox cache", "Chat app caches: 1 item",
          "Slack \u00B7 Cache", "Open now, close first: Slack",
          "3 supported folders checked, 3 files."}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    }
    EXPECT_EQ(snapshot(home), before);
}

TEST(CleanupScanCommand, CountsAFileOnceWhenTwoLocationsHoldIt) {
    TempDir dir;
    const std::string home = dir.at("home");
    // ~/.cache is read for old logs after its cache folders are read as caches.
    writeFile(home + "/.cache/thumbnails/normal/a.png", "png");
    writeFile(home + "/.cache/thumbnails/normal/b.png", "png");
    setModifiedSecondsAgo(writeFile(home + "/.cache/tool/old.log", "log"), 40 * 86400.0);
    writeFile(home + "/.cache/other", "x");

    auto json = nlohmann::json::parse(runCli({"cleanup-scan", "--json", "--home", home}).out);
    EXPECT_EQ(json["checkedFiles"], 4);
    std::set<std::string> paths;
    for (const auto& candidate : json["candidates"]) {
        paths.insert(candidate["path"].get<std::string>());
    }
    EXPECT_EQ(paths,
              (std::set<std::string>{home + "/.cache/thumbnails", home + "/.cache/tool/old.log"}));
}

TEST(CleanCommand, AllSaysWhatItLeftOutBecauseItsApplicationIsRunning) {
    TempDir dir;
    const std::string home = dir.at("home");
    writeFile(home + "/Library/Caches/Firefox/data", std::string(2000, 'f'));
    writeFile(home + "/Library/Application Support/Slack/Cache/data", std::string(100, 's'));
    FakeSlack slack(dir);
    // Without --yes and a terminal nothing moves; the plan is shown all the same.
    auto run =
        runCli({"clean", "--all"}, {"HOME=" + home, "XDG_DATA_HOME=" + home + "/.local/share"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Left out while their applications are running:\n"
                           "   100 bytes  Slack \u00B7 Cache (close Slack first)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Cleanup plan: 1 item, 2.0 kB"), std::string::npos) << run.out;
}

TEST(CleanCommand, AllLeavesWhatIsChosenOnlyByHandAndNamingItMovesIt) {
    TempDir dir;
    const std::string home = dir.at("home");
    const std::vector<std::string> env = {"HOME=" + home,
                                          "XDG_DATA_HOME=" + home + "/.local/share"};
    writeFile(home + "/.cache/pip/http-v2/a/wheel", std::string(2000, 'p'));
    writeFile(home + "/.cache/mesa_shader_cache/ab/cdef", std::string(300, 'm'));
    writeFile(home + "/.m2/repository/org/app/1.0/app-1.0.jar", std::string(400, 'j'));

    auto scan = runCli({"cleanup-scan", "--json", "--home", home}, env);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    const auto json = nlohmann::json::parse(scan.out);
    std::map<std::string, bool> byHand;
    for (const auto& candidate : json["candidates"]) {
        byHand[candidate["url"].get<std::string>()] = candidate.value("manualOnly", false);
    }
    EXPECT_EQ(byHand,
              (std::map<std::string, bool>{{"file://" + home + "/.cache/pip/", false},
                                           {"file://" + home + "/.cache/mesa_shader_cache/", true},
                                           {"file://" + home + "/.m2/repository/", true}}));

    auto all = runCli({"clean", "--all", "--yes"}, env);
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_NE(all.out.find("Left out of --all, to be named one by one if you want them:\n"),
              std::string::npos)
        << all.out;
    EXPECT_FALSE(std::filesystem::exists(home + "/.cache/pip"));
    EXPECT_TRUE(std::filesystem::exists(home + "/.cache/mesa_shader_cache/ab/cdef"));
    EXPECT_TRUE(std::filesystem::exists(home + "/.m2/repository/org/app/1.0/app-1.0.jar"));

    auto named = runCli({"clean", "--yes", home + "/.cache/mesa_shader_cache"}, env);
    ASSERT_EQ(named.exitCode, 0) << named.err;
    EXPECT_FALSE(std::filesystem::exists(home + "/.cache/mesa_shader_cache"));
    EXPECT_TRUE(
        std::filesystem::exists(home + "/.local/share/Trash/files/mesa_shader_cache/ab/cdef"));
}

TEST(CleanCommand, ARefusedPlanNamesEveryItemThatCannotBeCleaned) {
    TempDir dir;
    const std::string home = dir.at("home");
    const std::string slackCache = home + "/.config/Slack/Cache";
    const std::string discordCache = home + "/.config/discord/Cache";
    const std::string thumbnails = home + "/.cache/thumbnails";
    writeFile(slackCache + "/data", "s");
    writeFile(discordCache + "/data", "d");
    writeFile(thumbnails + "/data", "t");
    const auto before = snapshot(home);
    FakeSlack slack(dir);
    // No other test cleans Discord's cache, so this process cannot refuse their plans.
    FakeSlack discord(dir, "discord");

    const std::vector<std::string> environment = {"HOME=" + home,
                                                  "XDG_DATA_HOME=" + home + "/.local/share"};
    auto run = runCli({"clean", "--yes", thumbnails, slackCache, discordCache}, environment);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.err, "nothing was moved; 2 items cannot be cleaned now:\n  " + slackCache +
                                 "\n      Close Slack");
    EXPECT_CONTAINS(run.err, "\n  " + discordCache + "\n      Close Discord");
    EXPECT_EQ(run.err.find(thumbnails), std::string::npos) << run.err;
    EXPECT_EQ(snapshot(home), before);

    auto one = runCli({"clean", "--yes", slackCache}, environment);
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_CONTAINS(one.err,
                    "nothing was moved; this item cannot be cleaned now:\n  " + slackCache);
}

TEST(DetectCommand, ReportsDependencyFoldersWithTheirProject) {
    TempDir dir;
    writeFile(dir.at("code/site/package.json"), "{}");
    writeFile(dir.at("code/site/yarn.lock"), "lock");
    writeFile(dir.at("code/site/node_modules/x/index.js"), "1");
    writeFile(dir.at("code/other/node_modules/x/index.js"), "1");

    auto run = runCli({"detect", "--json", "--home", dir.at("home"), dir.at("code")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json["candidates"].size(), 1u);
    EXPECT_EQ(json["candidates"][0]["category"], "Project dependencies");
    EXPECT_EQ(json["candidates"][0]["projectPath"], dir.at("code/site"));
    EXPECT_EQ(json["candidates"][0]["evidence"], "Adjacent package.json and dependency lockfile.");

    // Reached through a link, results name the real location.
    makeSymlink(dir.at("code"), dir.at("link"));
    auto linked = runCli({"detect", "--json", dir.at("link")});
    EXPECT_EQ(nlohmann::json::parse(linked.out)["candidates"][0]["projectPath"],
              dir.at("code/site"));

    auto text = runCli({"detect", dir.at("code")});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Project dependencies: 1 item"), std::string::npos) << text.out;
}

} // namespace

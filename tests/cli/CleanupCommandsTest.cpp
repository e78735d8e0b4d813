#include "tests/support/TestSupport.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace varnok::testing;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the command-line tool through the shell; `prefix` may set environment variables.
CliRun runCli(const TempDir& scratch, const std::string& arguments,
              const std::string& prefix = "") {
    const std::string errPath = scratch.at("stderr.txt");
    std::string command =
        prefix + " '" + std::string(OMBRELO_CLI_PATH) + "' " + arguments + " 2>'" + errPath + "'";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, got);
    }
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

// Every path below `root` with its size and modification time, to show nothing was written.
std::set<std::string> snapshot(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        auto status = entry.symlink_status();
        std::string line = entry.path().string();
        if (std::filesystem::is_regular_file(status)) {
            line += " " + std::to_string(entry.file_size()) + " " +
                    std::to_string(entry.last_write_time().time_since_epoch().count());
        }
        entries.insert(line);
    }
    return entries;
}

// A copy of /bin/sleep named "slack", so the running-application list reports Slack.
class FakeSlack {
public:
    explicit FakeSlack(const TempDir& dir) {
        std::string path = dir.at("slack");
        std::filesystem::copy_file("/bin/sleep", path);
        std::string seconds = "60";
        char* argv[] = {path.data(), seconds.data(), nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
            pid_ = 0;
        }
        // Let the exec finish so /proc shows the new name.
        for (int i = 0; i < 500; ++i) {
            char target[4096];
            ssize_t length = ::readlink(("/proc/" + std::to_string(pid_) + "/exe").c_str(), target,
                                        sizeof target);
            if (length > 0 && std::string(target, static_cast<size_t>(length)) == path) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

const nlohmann::json* candidateAt(const nlohmann::json& json, const std::string& path) {
    for (const auto& candidate : json["candidates"]) {
        if (candidate["node"]["id"] == "file://" + path + "/" ||
            candidate["node"]["id"] == "file://" + path) {
            return &candidate;
        }
    }
    return nullptr;
}

TEST(CleanupScanCommand, JsonListsCandidatesWithTheirRunningApps) {
    TempDir dir;
    const std::string home = dir.at("home");
    writeFile(home + "/Library/Caches/Firefox/data", std::string(200, 'f'));
    writeFile(home + "/Library/Application Support/Slack/Cache/data", std::string(100, 's'));
    std::string log = writeFile(home + "/Library/Logs/old.log", "log");
    setModifiedSecondsAgo(log, 40 * 86400.0);
    const auto before = snapshot(home);
    FakeSlack slack(dir);

    auto run = runCli(dir, "cleanup-scan --json --home '" + home + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json["candidates"].size(), 3u);
    EXPECT_EQ(json["checkedLocations"], 3);
    EXPECT_EQ(json["checkedFiles"], 3);
    EXPECT_EQ(json["unreadable"], nlohmann::json::array());

    const auto* firefox = candidateAt(json, home + "/Library/Caches/Firefox");
    ASSERT_NE(firefox, nullptr);
    EXPECT_EQ((*firefox)["category"], "Browser caches");
    EXPECT_EQ((*firefox)["projectPath"], home);
    EXPECT_EQ((*firefox)["isExample"], false);
    EXPECT_FALSE(firefox->contains("keeper"));
    EXPECT_EQ((*firefox)["runningApps"], nlohmann::json::array());
    const auto* cache = candidateAt(json, home + "/Library/Application%20Support/Slack/Cache");
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ((*cache)["category"], "Chat app caches");
    EXPECT_EQ((*cache)["runningApps"], nlohmann::json::array({"Slack"}));
    EXPECT_EQ(json["candidates"][2]["category"], "Old logs & crash reports");

    EXPECT_EQ(snapshot(home), before);
}

TEST(CleanupScanCommand, TextGroupsByCategoryAndDefaultsToTheHomeFolder) {
    TempDir dir;
    const std::string home = dir.at("home");
    writeFile(home + "/Library/Caches/Firefox/data", std::string(2000, 'f'));
    writeFile(home + "/Library/Caches/com.spotify.client/data", "s");
    writeFile(home + "/Library/Application Support/Slack/Cache/data", "s");

    auto run = runCli(dir, "cleanup-scan", "HOME='" + home + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Browser caches: 1 item, 2.0 kB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Firefox cache"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("App caches: 1 item"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Slack \u00B7 Cache"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 supported folders checked, 3 files."), std::string::npos) << run.out;
}

TEST(CleanupScanCommand, BadHomeFoldersAreRefused) {
    TempDir dir;
    makeFolder(dir.at("home/Library/Caches/Firefox"));
    makeSymlink(dir.at("home"), dir.at("link"));
    auto linked = runCli(dir, "cleanup-scan --home '" + dir.at("link") + "'");
    EXPECT_EQ(linked.status, 1);
    EXPECT_NE(linked.err.find("The scan location must not be a symbolic link."), std::string::npos)
        << linked.err;
    EXPECT_TRUE(linked.out.empty());

    auto missing = runCli(dir, "cleanup-scan --home '" + dir.at("nothing") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;

    EXPECT_EQ(runCli(dir, "cleanup-scan '" + dir.at("home") + "'").status, 2);
    EXPECT_EQ(runCli(dir, "cleanup-scan --home").status, 2);
}

TEST(DetectCommand, ReportsDependencyFoldersWithTheirProject) {
    TempDir dir;
    writeFile(dir.at("code/site/package.json"), "{}");
    writeFile(dir.at("code/site/yarn.lock"), "lock");
    writeFile(dir.at("code/site/node_modules/x/index.js"), "1");
    writeFile(dir.at("code/other/node_modules/x/index.js"), "1");

    auto run =
        runCli(dir, "detect --json --home '" + dir.at("home") + "' '" + dir.at("code") + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json["candidates"].size(), 1u);
    EXPECT_EQ(json["candidates"][0]["category"], "Project dependencies");
    EXPECT_EQ(json["candidates"][0]["projectPath"], dir.at("code/site"));
    EXPECT_EQ(json["candidates"][0]["evidence"], "Adjacent package.json and dependency lockfile.");

    // Reached through a link, results name the real location.
    makeSymlink(dir.at("code"), dir.at("link"));
    auto linked = runCli(dir, "detect --json '" + dir.at("link") + "'");
    EXPECT_EQ(nlohmann::json::parse(linked.out)["candidates"][0]["projectPath"],
              dir.at("code/site"));

    auto text = runCli(dir, "detect '" + dir.at("code") + "'");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("Project dependencies: 1 item"), std::string::npos) << text.out;

    EXPECT_EQ(runCli(dir, "detect").status, 2);
    EXPECT_EQ(runCli(dir, "detect '" + dir.at("nothing") + "'").status, 1);
}

} // namespace

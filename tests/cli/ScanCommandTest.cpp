#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

TEST(ScanCommand, DotDotAfterALinkIsTheParentOfItsTarget) {
    TempDir dir;
    writeFile(dir.at("a/b/target/inside.txt"), "1234");
    writeFile(dir.at("a/b/beside.txt"), "12");
    makeSymlink(dir.at("a/b/target"), dir.at("link"));
    // As `cd link/.. && pwd -P` finds it: a/b, not the folder that holds the link.
    for (const std::string& spelled : {dir.at("link/.."), dir.at("link/../.") + "/"}) {
        auto run = runCli({"scan", "--json", spelled});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        auto json = nlohmann::json::parse(run.out);
        EXPECT_EQ(json["root"]["id"], "file://" + dir.path() + "/a/b/") << spelled;
        EXPECT_EQ(json["root"]["logicalSize"], 6) << spelled;
    }
}

TEST(ScanCommand, HumanSummaryQuietAndHelp) {
    TempDir dir;
    writeFile(dir.at("big/file.mp4"), std::string(3000, 'x'));
    writeFile(dir.at("small.txt"), "12");
    auto run = runCli({"scan", dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("3.0 kB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 files, 1 folder\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("big/"), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << "no progress when stderr is not a terminal";

    auto quiet = runCli({"scan", "--quiet", dir.path()});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.out.empty());

    auto help = runCli({"scan", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: ombrelo-cli scan"), std::string::npos);
}

TEST(CommandLine, BadInputEndsWithAMessageAndTheRightCode) {
    TempDir dir;
    writeFile(dir.at("file"), "x");
    makeFolder(dir.at("home/Library/Caches/Firefox"));
    makeSymlink("loop", dir.at("loop"));
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = dir.at("sock");
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::string root = dir.path();
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"scan", dir.at("missing")}, 1, "does not exist"},
             {{"scan", dir.at("file")}, 1, "is not a folder"},
             {{"scan", socketPath}, 1, "is not a folder"},
             {{"scan", dir.at("loop")}, 1, "symbolic link loop"},
             {{"scan", "a", "b"}, 2, "at most one folder"},
             {{"scan", "--json", "--quiet", root}, 2, "cannot be used together"},
             {{"find", root, "--kind", "Pictures"},
              2,
              "Files, Folders, Videos, Archives, Applications"},
             {{"find", root, "--sort", "Smallest"}, 2, ""},
             {{"find", root, "--limit", "-1"}, 2, ""},
             {{"find", root, "--exclude", "/abs"}, 2, "leave out the leading '/'"},
             {{"map", root, "--mode", "pie"}, 2, ""},
             {{"map", root, "--width", "wide"}, 2, ""},
             {{"map", root, "--height", "nan"}, 2, ""},
             {{"map", root, "--depth", "5"}, 2, ""},
             {{"map", root, "--svg", root + "/missing/dir/x.svg"},
              1,
              root + "/missing/dir does not exist"},
             {{"duplicates", dir.at("file")}, 1, "is not a folder"},
             {{"duplicates", "--exclude", "", root}, 2, "needs a pattern"},
             {{"duplicates", "--jobs", "0", root}, 2, ""},
             {{"cleanup-scan", "--home", dir.at("missing")}, 1, "does not exist"},
             {{"cleanup-scan", dir.at("home")}, 2, ""},
             {{"cleanup-scan", "--home"}, 2, ""},
             {{"detect"}, 2, ""},
             {{"detect", dir.at("missing")}, 1, ""},
         }) {
        auto run = runCli(c.args);
        const std::string shown = c.args.empty() ? "(nothing)" : c.args.front();
        EXPECT_EQ(run.exitCode, c.code) << shown << " " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << shown << " " << run.out;
    }
    ::close(sock);

    makeFolder(dir.at("private"));
    setMode(dir.at("private"), 0);
    auto outcome = runUnprivileged([&] {
        auto run = runCli({"scan", dir.at("private")});
        return std::to_string(run.exitCode) + " " + run.err;
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output.substr(0, 2), "1 ");
    EXPECT_NE(outcome.output.find("permission"), std::string::npos) << outcome.output;
}

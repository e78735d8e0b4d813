#include "core/scan/FileNodeJson.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

TEST(ScanCommand, JsonIsTheWholeScanResult) {
    TempDir dir;
    writeFile(dir.at("Microsoft Edge/cache.bin"), std::string(2000, 'x'));
    writeFile(dir.at("notes.md"), "hello");
    auto run = runCli({"scan", "--json", dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["root"]["id"], "file://" + dir.path() + "/");
    EXPECT_EQ(json["root"]["logicalSize"], 2005);
    auto& edge = json["root"]["children"][0];
    EXPECT_EQ(edge["id"], "file://" + dir.path() + "/Microsoft%20Edge/");
    EXPECT_EQ(edge["children"][0]["identity"].size(), 9u);
    EXPECT_EQ(json["typeSizes"], nlohmann::json({0, 0, 5, 2000}));
    EXPECT_EQ(json["skippedCount"], 0);
    EXPECT_TRUE(json["duration"].is_number());

    // The streamed text is the same document as the library's JSON form.
    auto result = ScanEngine::scan(dir.url(), {});
    nlohmann::json expected = result;
    json.erase("duration");
    expected.erase("duration");
    EXPECT_EQ(json, expected);
}

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

TEST(ScanCommand, HumanSummaryAndQuiet) {
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
}

TEST(ScanCommand, BadInputEndsWithAMessageAndTheRightCode) {
    TempDir dir;
    writeFile(dir.at("file"), "x");
    makeSymlink("loop", dir.at("loop"));
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = dir.at("sock");
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

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
             {{"scan", "--bogus", dir.path()}, 2, "unknown option"},
             {{"scan", "--json", "--quiet", dir.path()}, 2, "cannot be used together"},
             {{"nonsense"}, 2, "unknown command"},
         }) {
        auto run = runCli(c.args);
        EXPECT_EQ(run.exitCode, c.code) << c.args.back() << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
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

TEST(ScanCommand, HelpTellsEveryCommand) {
    auto tool = runCli({"--help"});
    EXPECT_EQ(tool.exitCode, 0);
    EXPECT_NE(tool.out.find("scan"), std::string::npos);
    auto scan = runCli({"scan", "--help"});
    EXPECT_EQ(scan.exitCode, 0);
    EXPECT_NE(scan.out.find("Usage: ombrelo-cli scan"), std::string::npos);
    EXPECT_NE(runCli({}).exitCode, 0);
}

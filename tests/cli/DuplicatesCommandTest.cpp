#include "tests/support/TestSupport.hpp"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

using namespace varnok::testing;

namespace {

struct CliRun {
    int status = -1;
    std::string output;
};

// Runs the command line tool with `arguments` (already quoted); stdout and stderr together.
CliRun runCli(const std::string& arguments) {
    CliRun run;
    std::string command = std::string(OMBRELO_CLI_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer{};
    while (std::size_t count = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        run.output.append(buffer.data(), count);
    }
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

TEST(DuplicatesCommand, ListsSetsLargestFirstWithTotals) {
    TempDir dir;
    writeFile(dir.at("b.txt"), "small");
    writeFile(dir.at("a/c.txt"), "small");
    writeFile(dir.at("big1.txt"), "a larger copy");
    writeFile(dir.at("big2.txt"), "a larger copy");
    writeFile(dir.at("other.txt"), "a larger cop!");
    makeSymlink(dir.path(), dir.at("../" + dir.url().lastPathComponent() + "-link"));

    // Given through a link, the folder is searched at its real location.
    CliRun run = runCli("duplicates '" + dir.path() + "-link'");
    ::unlink((dir.path() + "-link").c_str());
    ASSERT_EQ(run.status, 0) << run.output;
    auto big = run.output.find(dir.at("big1.txt") + "\n    " + dir.at("big2.txt"));
    auto small = run.output.find(dir.at("a/c.txt") + "\n    " + dir.at("b.txt"));
    ASSERT_NE(big, std::string::npos) << run.output;
    ASSERT_NE(small, std::string::npos) << run.output;
    EXPECT_LT(big, small);
    EXPECT_NE(run.output.find("2 sets of identical files; 18 bytes could be freed"),
              std::string::npos);
    EXPECT_NE(run.output.find("Hashed:  5 files, 49 bytes"), std::string::npos) << run.output;
}

TEST(DuplicatesCommand, PrintsTheResultAsJson) {
    TempDir dir;
    writeFile(dir.at("one"), "same");
    writeFile(dir.at("two"), "same");
    CliRun run = runCli("duplicates --json --jobs 2 '" + dir.path() + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    auto json = nlohmann::json::parse(run.output);
    ASSERT_EQ(json["groups"].size(), 1u);
    EXPECT_EQ(json["groups"][0]["id"], "file://" + dir.at("one"));
    EXPECT_EQ(json["groups"][0]["extraSize"], 4);
    EXPECT_EQ(json["groups"][0]["files"][1]["id"], "file://" + dir.at("two"));
    EXPECT_EQ(json["hashedFiles"], 2);
    EXPECT_EQ(json["bytesHashed"], 8);
    EXPECT_EQ(json["skippedFiles"], nlohmann::json::array());
    EXPECT_EQ(json["extraSize"], 4);
    EXPECT_TRUE(json["duration"].is_number());
}

TEST(DuplicatesCommand, ExplainsBadInput) {
    TempDir dir;
    CliRun missing = runCli("duplicates '" + dir.at("nothing") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("does not exist"), std::string::npos) << missing.output;
    CliRun file = runCli("duplicates '" + writeFile(dir.at("f"), "x") + "'");
    EXPECT_EQ(file.status, 1);
    EXPECT_NE(file.output.find("is not a folder"), std::string::npos) << file.output;
    EXPECT_EQ(runCli("duplicates").status, 2);
    EXPECT_EQ(runCli("duplicates --jobs 0 '" + dir.path() + "'").status, 2);
}

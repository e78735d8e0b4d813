#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

using namespace varnok::testing;

TEST(DuplicatesCommand, ListsSetsLargestFirstWithTotals) {
    TempDir dir;
    writeFile(dir.at("b.txt"), "small");
    writeFile(dir.at("a/c.txt"), "small");
    writeFile(dir.at("big1.txt"), "a larger copy");
    writeFile(dir.at("big2.txt"), "a larger copy");
    writeFile(dir.at("other.txt"), "a larger cop!");
    makeSymlink(dir.path(), dir.path() + "-link");

    // Given through a link, the folder is searched at its real location.
    CliRun run = runCli({"duplicates", dir.path() + "-link"});
    ::unlink((dir.path() + "-link").c_str());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto big = run.out.find(dir.at("big1.txt") + "\n    " + dir.at("big2.txt"));
    auto small = run.out.find(dir.at("a/c.txt") + "\n    " + dir.at("b.txt"));
    ASSERT_NE(big, std::string::npos) << run.out;
    ASSERT_NE(small, std::string::npos) << run.out;
    EXPECT_LT(big, small);
    EXPECT_NE(run.out.find("2 sets of identical files; 18 bytes could be freed"),
              std::string::npos);
    EXPECT_NE(run.out.find("Hashed:  5 files, 49 bytes"), std::string::npos) << run.out;
}

TEST(DuplicatesCommand, PrintsTheResultAsJson) {
    TempDir dir;
    writeFile(dir.at("one"), "same");
    writeFile(dir.at("two"), "same");
    CliRun run = runCli({"duplicates", "--json", "--jobs", "2", dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
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

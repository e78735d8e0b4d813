#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok::testing;

namespace {

// data/
//   Movies/holiday.MP4 3000      Movies/a&b<c>.txt 20
//   backup.zip 1000              notes.txt 10
//   Tool.app/ (folder) run 400   big -> Movies/holiday.MP4 (link)
struct Sample {
    TempDir scratch;
    std::string root = scratch.at("data");
    Sample() {
        writeFile(root + "/Movies/holiday.MP4", std::string(3000, 'v'));
        writeFile(root + "/Movies/a&b<c>.txt", std::string(20, 't'));
        writeFile(root + "/backup.zip", std::string(1000, 'z'));
        writeFile(root + "/notes.txt", std::string(10, 'n'));
        writeFile(root + "/Tool.app/run", std::string(400, 'r'));
        makeSymlink(root + "/Movies/holiday.MP4", root + "/big");
    }
};

std::vector<std::string> names(const nlohmann::json& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
        out.push_back(item.at("name").get<std::string>());
    }
    return out;
}

nlohmann::json findJson(const Sample& sample, std::vector<std::string> options) {
    options.insert(options.begin(), {"find", sample.root, "--json"});
    CliRun run = runCli(options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return nlohmann::json::parse(run.out);
}

} // namespace

TEST(FindCommand, ListsMatchesAndHighlightsAsJson) {
    Sample sample;
    auto all = findJson(sample, {});
    EXPECT_EQ(all["matchCount"], 7) << "two folders and five files; the link is left out";
    EXPECT_EQ(all["items"][0]["name"], "Movies");
    EXPECT_EQ(all["highlights"]["fileCount"], 5);
    EXPECT_EQ(all["highlights"]["largeFileCount"], 0);

    EXPECT_EQ(names(findJson(sample, {"--kind", "applications"})["items"]),
              (std::vector<std::string>{"Tool.app"}));
    EXPECT_EQ(names(findJson(sample, {"--kind=Files", "--direct", "--sort", "Type"})["items"]),
              (std::vector<std::string>{"notes.txt", "backup.zip"}));
    auto found = findJson(sample, {"--search", "MOVIES", "--limit", "1"});
    EXPECT_EQ(found["matchCount"], 3) << "the folder and both files below it";
    EXPECT_EQ(names(found["items"]), (std::vector<std::string>{"Movies"}));
}

TEST(FindCommand, TextListingShowsSizeDateAndPath) {
    Sample sample;
    auto listed = runCli({"find", sample.root, "--kind", "Archives"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("1.0 kB"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(sample.root + "/backup.zip"), std::string::npos);
    EXPECT_NE(listed.out.find("Highlights: 5 files; 0 large files"), std::string::npos);

    auto none = runCli({"find", sample.root, "--search", "no such thing"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_NE(none.out.find("No items match."), std::string::npos);
}

TEST(MapCommand, JsonPlacementsCarryEachModesGeometry) {
    Sample sample;
    struct Expect {
        const char* mode;
        std::vector<std::string> keys;
    };
    for (const Expect& expect :
         {Expect{"treemap", {"rect", "expanded"}}, Expect{"sunburst", {"start", "end"}},
          Expect{"flame", {"rect"}}, Expect{"bubbles", {"circle", "expanded"}}}) {
        auto run = runCli({"map", sample.root, "--mode", expect.mode, "--json"});
        ASSERT_EQ(run.exitCode, 0) << expect.mode << run.err;
        auto placements = nlohmann::json::parse(run.out).at("placements");
        ASSERT_FALSE(placements.empty()) << expect.mode;
        const auto& first = placements[0];
        EXPECT_EQ(first["name"], "Movies") << expect.mode;
        EXPECT_EQ(first["id"], "file://" + sample.root + "/Movies/");
        EXPECT_EQ(first["logicalSize"], 3020);
        EXPECT_EQ(first["depth"], 1);
        EXPECT_TRUE(first["ancestors"].empty());
        for (const auto& key : expect.keys) {
            EXPECT_TRUE(first.contains(key)) << expect.mode << " " << key;
        }
        if (first.contains("circle")) {
            EXPECT_TRUE(first["circle"]["center"].contains("x"));
            EXPECT_GT(first["circle"]["radius"].get<double>(), 0);
        }
        // Movies opens at the default depth of 2: its children follow with it as ancestor.
        EXPECT_EQ(placements[1]["ancestors"], nlohmann::json::array({first["id"]})) << expect.mode;
    }
}

TEST(MapCommand, SvgPictureIsWrittenOnceAndEscapesNames) {
    Sample sample;
    std::string picture = sample.scratch.at("map.svg");
    auto run = runCli({"map", sample.root, "--mode", "treemap", "--svg", picture});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string svg = readText(picture);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.txt"), std::string::npos) << "names are escaped";
    EXPECT_EQ(svg.find("a&b<c>"), std::string::npos);
    EXPECT_EQ(svg.find("url(#more)\""), std::string::npos) << "no group without a limit";
    // A tooltip keeps its line break between path and size, and nothing is replaced.
    EXPECT_NE(svg.find("<title>" + sample.root + "/Movies/&#10;3.0 kB in 2 files</title>"),
              std::string::npos)
        << svg;
    EXPECT_EQ(svg.find("\xEF\xBF\xBD"), std::string::npos);

    std::string limited = sample.scratch.at("limited.svg");
    ASSERT_EQ(runCli({"map", sample.root, "--svg", limited, "--limit", "3", "--mode", "sunburst"})
                  .exitCode,
              0);
    EXPECT_NE(readText(limited).find("fill=\"url(#more)\""), std::string::npos)
        << "a group is drawn hatched";

    auto again = runCli({"map", sample.root, "--svg", picture, "--mode", "flame"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos);
    EXPECT_EQ(readText(picture), svg) << "an existing file is never written over";
}

#include "tests/support/TestSupport.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/wait.h>

using namespace varnok::testing;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome cli(const TempDir& scratch, const std::vector<std::string>& args) {
    std::string command = shellQuoted(OMBRELO_CLI_PATH);
    for (const auto& arg : args) {
        command += " " + shellQuoted(arg);
    }
    std::string out = scratch.at(".out"), err = scratch.at(".err");
    command += " >" + shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
    int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = slurp(out);
    outcome.err = slurp(err);
    return outcome;
}

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

} // namespace

TEST(FindCommand, ListsMatchesAndHighlightsAsJson) {
    Sample sample;
    auto all = cli(sample.scratch, {"find", sample.root, "--json"});
    ASSERT_EQ(all.status, 0) << all.err;
    auto document = nlohmann::json::parse(all.out);
    EXPECT_EQ(document["matchCount"], 7) << "two folders and five files; the link is left out";
    EXPECT_EQ(document["items"][0]["name"], "Movies");
    EXPECT_EQ(document["highlights"]["fileCount"], 5);
    EXPECT_EQ(document["highlights"]["largeFileCount"], 0);

    auto videos = cli(sample.scratch, {"find", sample.root, "--kind", "Videos", "--json"});
    ASSERT_EQ(videos.status, 0) << videos.err;
    EXPECT_EQ(names(nlohmann::json::parse(videos.out)["items"]),
              (std::vector<std::string>{"holiday.MP4"}));

    auto apps = cli(sample.scratch, {"find", sample.root, "--kind", "applications", "--json"});
    EXPECT_EQ(names(nlohmann::json::parse(apps.out)["items"]),
              (std::vector<std::string>{"Tool.app"}));

    auto direct = cli(sample.scratch, {"find", sample.root, "--kind=Files", "--direct", "--sort",
                                       "Type", "--json"});
    EXPECT_EQ(names(nlohmann::json::parse(direct.out)["items"]),
              (std::vector<std::string>{"notes.txt", "backup.zip"}));

    auto search =
        cli(sample.scratch, {"find", sample.root, "--search", "MOVIES", "--limit", "1", "--json"});
    auto found = nlohmann::json::parse(search.out);
    EXPECT_EQ(found["matchCount"], 3) << "the folder and both files below it";
    EXPECT_EQ(names(found["items"]), (std::vector<std::string>{"Movies"}));
}

TEST(FindCommand, TextListingShowsSizeDateAndPath) {
    Sample sample;
    auto listed = cli(sample.scratch, {"find", sample.root, "--kind", "Archives"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("1.0 kB"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(sample.root + "/backup.zip"), std::string::npos);
    EXPECT_NE(listed.out.find("Highlights: 5 files; 0 large files"), std::string::npos);

    auto none = cli(sample.scratch, {"find", sample.root, "--search", "no such thing"});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("No items match."), std::string::npos);
}

TEST(FindCommand, BadInputIsExplained) {
    Sample sample;
    auto kind = cli(sample.scratch, {"find", sample.root, "--kind", "Pictures"});
    EXPECT_EQ(kind.status, 2);
    EXPECT_NE(kind.err.find("Files, Folders, Videos, Archives, Applications"), std::string::npos);
    EXPECT_EQ(cli(sample.scratch, {"find", sample.root, "--sort", "Smallest"}).status, 2);
    EXPECT_EQ(cli(sample.scratch, {"find", sample.root, "--limit", "-1"}).status, 2);
    auto missing = cli(sample.scratch, {"find", sample.root + "/nowhere"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos);
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
        auto run = cli(sample.scratch, {"map", sample.root, "--mode", expect.mode, "--json"});
        ASSERT_EQ(run.status, 0) << expect.mode << run.err;
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
        // Movies opens at the default depth of 2: its children follow with it as ancestor.
        EXPECT_EQ(placements[1]["ancestors"], nlohmann::json::array({first["id"]})) << expect.mode;
    }
    auto bubbles = cli(sample.scratch, {"map", sample.root, "--mode", "bubbles", "--json"});
    auto circle = nlohmann::json::parse(bubbles.out)["placements"][0]["circle"];
    EXPECT_TRUE(circle["center"].contains("x"));
    EXPECT_GT(circle["radius"].get<double>(), 0);
}

TEST(MapCommand, SvgPictureIsWrittenOnceAndEscapesNames) {
    Sample sample;
    std::string picture = sample.scratch.at("map.svg");
    auto run = cli(sample.scratch, {"map", sample.root, "--mode", "treemap", "--svg", picture});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string svg = slurp(picture);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.txt"), std::string::npos) << "names are escaped";
    EXPECT_EQ(svg.find("a&b<c>"), std::string::npos);
    EXPECT_EQ(svg.find("url(#more)\""), std::string::npos) << "no group without a limit";

    std::string limited = sample.scratch.at("limited.svg");
    ASSERT_EQ(cli(sample.scratch,
                  {"map", sample.root, "--svg", limited, "--limit", "3", "--mode", "sunburst"})
                  .status,
              0);
    EXPECT_NE(slurp(limited).find("fill=\"url(#more)\""), std::string::npos)
        << "a group is drawn hatched";

    auto again = cli(sample.scratch, {"map", sample.root, "--svg", picture, "--mode", "flame"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos);
    EXPECT_EQ(slurp(picture), svg) << "an existing file is never written over";
}

TEST(MapCommand, BadOptionsAreUsageErrors) {
    Sample sample;
    EXPECT_EQ(cli(sample.scratch, {"map", sample.root, "--mode", "pie"}).status, 2);
    EXPECT_EQ(cli(sample.scratch, {"map", sample.root, "--width", "wide"}).status, 2);
    EXPECT_EQ(cli(sample.scratch, {"map", sample.root, "--height", "nan"}).status, 2);
    EXPECT_EQ(cli(sample.scratch, {"map", sample.root, "--depth", "5"}).status, 2);
    EXPECT_EQ(cli(sample.scratch, {"map"}).status, 2);
}

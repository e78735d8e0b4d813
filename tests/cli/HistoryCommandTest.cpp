#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>

using namespace varnok::testing;

namespace {

// Seconds since 1970 of an ISO 8601 time with a "+hh:mm" or "-hh:mm" offset, as GNU date reads
// it; -1 when the text is not one.
long long secondsOfIso(const std::string& text) {
    static const std::regex iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$)");
    const CommandResult date = runShell("date -d '" + text + "' +%s");
    return std::regex_match(text, iso) && date.status == 0 ? std::stoll(date.output) : -1;
}

} // namespace

TEST(HistoryCommand, JsonTimesAreIsoWithTheirOffsetWhileTheStoredFileKeepsItsFormat) {
    CleanedHome h;
    const long long now = static_cast<long long>(std::time(nullptr));
    for (const char* zone : {"TZ=UTC", "TZ=Asia/Kolkata", "TZ=America/New_York"}) {
        CliRun history = h.run({"history", "--json"}, {zone});
        ASSERT_EQ(history.exitCode, 0) << history.err;
        const auto json = nlohmann::json::parse(history.out);
        EXPECT_EQ(json.at("version"), 1);
        EXPECT_EQ(json.at("folder"), h.folder);
        EXPECT_EQ(json.at("unreadable"), nlohmann::json::array());
        const auto& report = json.at("reports").at(0);
        for (const char* field : {"startedAt", "finishedAt"}) {
            const std::string text = report.at(field);
            const long long seconds = secondsOfIso(text);
            EXPECT_NEAR(static_cast<double>(seconds), static_cast<double>(now), 120.0)
                << zone << " " << field << " " << text;
        }
        if (std::string(zone) == "TZ=Asia/Kolkata") {
            EXPECT_NE(report.at("startedAt").get<std::string>().find("+05:30"), std::string::npos);
        }
    }
    const auto stored = nlohmann::json::parse(readText(h.reportPath()));
    EXPECT_TRUE(stored.at("startedAt").is_number()) << stored.at("startedAt");
}

TEST(HistoryCommand, NamesTheReportsItCannotReadAndStillListsTheOthers) {
    CleanedHome h;
    const std::string text = readText(h.reportPath());
    writeFile(h.folder + "/0A000000-0000-4000-8000-000000000000.json",
              text.substr(0, text.size() / 2));
    writeFile(h.folder + "/notes.json", "[1, 2, 3]");
    writeFile(h.folder + "/README", "not a report, not looked at");

    CliRun listing = h.run({"history"});
    EXPECT_EQ(listing.exitCode, 1);
    EXPECT_CONTAINS(listing.out, "1 of 1 item moved");
    EXPECT_CONTAINS(listing.err, "could not read the cleanup report " + h.folder +
                                     "/0A000000-0000-4000-8000-000000000000.json: not JSON, or "
                                     "cut short");
    EXPECT_CONTAINS(listing.err, h.folder + "/notes.json: not a cleanup report");
    EXPECT_EQ(listing.err.find("README"), std::string::npos);

    CliRun json = h.run({"history", "--json"});
    EXPECT_EQ(json.exitCode, 1);
    const auto document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document.at("reports").size(), 1u);
    ASSERT_EQ(document.at("unreadable").size(), 2u);
    EXPECT_EQ(document.at("unreadable")[1].at("path"), h.folder + "/notes.json");
}

TEST(HistoryCommand, AHistoryFolderGivenMustBeAFolder) {
    CleanedHome h;
    const std::string file = writeFile(h.dir.at("plain-file"), "x");
    for (const auto& [args, message] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"history", "--history", h.dir.at("missing")},
              h.dir.at("missing") + " does not exist"},
             {{"history", "--history", file}, file + " is not a folder"},
             {{"restore", "--history", h.dir.at("missing"), h.id, h.cache},
              h.dir.at("missing") + " does not exist"},
         }) {
        CliRun run = h.run(args);
        EXPECT_EQ(run.exitCode, 1) << args[0];
        EXPECT_CONTAINS(run.err, message);
        EXPECT_EQ(run.out.find("No cleanups recorded"), std::string::npos);
    }
    // The default folder may not be there yet: nothing has been cleaned.
    ScratchHome fresh;
    CliRun none = runCli({"history"}, fresh.environment());
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_CONTAINS(none.out, "No cleanups recorded");
}

TEST(RestoreCommand, AFullIdHeldByTwoFilesIsTheFileNamedAfterIt) {
    CleanedHome h;
    // A copy of the report kept beside it, as a backup tool or a file manager may leave one.
    writeFile(h.folder + "/copy of report.json", readText(h.reportPath()));
    CliRun restored = h.run({"restore", h.id, h.cache});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_CONTAINS(restored.out, "Restored " + h.cache);
    EXPECT_EQ(readText(h.cache + "/data.bin"), "cached bytes");
}

TEST(RestoreCommand, TwoFilesWithTheSameIdNeitherNamedAfterItAreRefusedByName) {
    CleanedHome h;
    const std::string text = readText(h.reportPath());
    ASSERT_EQ(std::rename(h.reportPath().c_str(), (h.folder + "/a.json").c_str()), 0);
    writeFile(h.folder + "/b.json", text);
    for (const std::string& given : {h.id, h.id.substr(0, 8)}) {
        CliRun run = h.run({"restore", given, h.cache});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_CONTAINS(run.err, "2 files hold the report " + h.id);
        EXPECT_CONTAINS(run.err, "\n  " + h.folder + "/a.json\n  " + h.folder + "/b.json\n");
        EXPECT_EQ(run.err.find("give more of it"), std::string::npos);
        EXPECT_FALSE(exists(h.cache));
    }
}

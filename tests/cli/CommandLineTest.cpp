#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <nlohmann/json.hpp>
#include <regex>

using namespace varnok::testing;

namespace {

bool isIsoTime(const nlohmann::json& value) {
    static const std::regex iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$)");
    return value.is_string() && std::regex_match(value.get<std::string>(), iso);
}

} // namespace

TEST(CommandLine, AUsageErrorShowsTheUsageLineAndAHintRatherThanTheWholeHelp) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    for (
        const Case& c : std::vector<Case>{
            {{"scan", "--bogus"},
             "ombrelo-cli scan: unknown option '--bogus'\n"
             "Usage: ombrelo-cli scan [--json | --quiet] [--disk-usage] [--bytes] [--jobs N] [-x]\n"
             "                        [--exclude PATTERN]... [--save FILE] [DIR]\n"
             "       ombrelo-cli scan --load FILE [--save FILE] [--json | --quiet] [--disk-usage]\n"
             "Try 'ombrelo-cli scan --help' for more information.\n"},
            {{"history", "extra"},
             "ombrelo-cli history: history takes no operands\n"
             "Usage: ombrelo-cli history [--json] [--history DIR]\n"
             "Try 'ombrelo-cli history --help' for more information.\n"},
            {{},
             "ombrelo-cli: no command given\n"
             "Usage: ombrelo-cli COMMAND [OPTIONS]\n"
             "Try 'ombrelo-cli --help' for more information.\n"},
            {{"frob"},
             "ombrelo-cli: unknown command 'frob'\n"
             "Usage: ombrelo-cli COMMAND [OPTIONS]\n"
             "Try 'ombrelo-cli --help' for more information.\n"},
            {{"--completion", "fish"},
             "ombrelo-cli: --completion takes bash or zsh\n"
             "Usage: ombrelo-cli COMMAND [OPTIONS]\n"
             "Try 'ombrelo-cli --help' for more information.\n"},
            {{"cleanup-scan", "--tree"},
             "ombrelo-cli cleanup-scan: --tree goes with --json\n"
             "Usage: ombrelo-cli cleanup-scan [--home DIR] [--json [--tree]]\n"
             "Try 'ombrelo-cli cleanup-scan --help' for more information.\n"},
        }) {
        CliRun run = runCli(c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, c.expected);
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandLine, HelpAndManualTellEveryExitStatusTheEnvironmentAndExamples) {
    CliRun help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_CONTAINS(help.out, "Exit status: 0 success, 1 refused or failed, 2 usage error, 4 a "
                              "cleanup\nthat stopped before every item moved, 130 interrupted.");

    CliRun manual = runCli({"--man-page"});
    ASSERT_EQ(manual.exitCode, 0);
    const std::string& page = manual.out;
    EXPECT_EQ(page.rfind(".TH OMBRELO-CLI 1", 0), 0u);
    EXPECT_CONTAINS(page, ".SS restore\n");
    EXPECT_CONTAINS(page, "\\-x, \\-\\-one\\-file\\-system\n");
    std::vector<size_t> sections;
    for (const char* section : {".SH COMMANDS", ".SH EXIT STATUS", ".SH ENVIRONMENT",
                                ".SH JSON OUTPUT", ".SH FILES", ".SH EXAMPLES", ".SH SEE ALSO"}) {
        sections.push_back(page.find(std::string("\n") + section + "\n"));
        EXPECT_NE(sections.back(), std::string::npos) << section;
    }
    EXPECT_TRUE(std::is_sorted(sections.begin(), sections.end()));
    const std::string status = page.substr(sections[1], sections[2] - sections[1]);
    for (const char* code : {"0", "1", "2", "4", "130"}) {
        EXPECT_CONTAINS(status, std::string(".TP\n.B ") + code + "\n");
    }
    const std::string environment = page.substr(sections[2], sections[3] - sections[2]);
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR", "TZ"}) {
        EXPECT_CONTAINS(environment, name);
    }
}

TEST(CommandLine, EveryJsonOutputCarriesItsVersionAndIsoTimes) {
    ScratchHome h;
    writeFile(h.home + "/.cache/thumbnails/normal/a.png", "same");
    writeFile(h.home + "/code/site/package.json", "{}");
    writeFile(h.home + "/code/site/package-lock.json", "{}");
    writeFile(h.home + "/code/site/node_modules/x/index.js", "same");
    ASSERT_EQ(runCli({"clean", "--yes", h.home + "/.cache/thumbnails"}, h.environment()).exitCode,
              0);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"scan", "--json", h.home},
             {"find", "--json", h.home},
             {"map", "--json", h.home},
             {"duplicates", "--json", h.home},
             {"detect", "--json", h.home + "/code"},
             {"cleanup-scan", "--json", "--home", h.home},
             {"history", "--json"},
         }) {
        CliRun run = runCli(args, h.environment());
        ASSERT_EQ(run.exitCode, 0) << args[0] << run.err;
        const auto json = nlohmann::json::parse(run.out);
        EXPECT_EQ(json.at("version"), 1) << args[0];
    }

    const auto found = nlohmann::json::parse(runCli({"find", "--json", h.home}).out);
    ASSERT_FALSE(found.at("items").empty());
    for (const auto& item : found.at("items")) {
        EXPECT_TRUE(isIsoTime(item.at("modified"))) << item;
        EXPECT_FALSE(item.contains("modifiedSeconds"));
    }
    const auto detected = nlohmann::json::parse(runCli({"detect", "--json", h.home + "/code"}).out);
    ASSERT_EQ(detected.at("candidates").size(), 1u);
    EXPECT_TRUE(isIsoTime(detected.at("candidates")[0].at("modified")));
    EXPECT_EQ(detected.at("candidates")[0].at("path"), h.home + "/code/site/node_modules");
    const auto history = nlohmann::json::parse(runCli({"history", "--json"}, h.environment()).out);
    const auto& outcome = history.at("reports").at(0).at("outcomes").at(0);
    EXPECT_TRUE(isIsoTime(history.at("reports")[0].at("startedAt")));
    EXPECT_EQ(outcome.at("status"), "moved");
}

TEST(CommandLine, AFileErrorNamesTheWholePathAndCallsAFolderAFolder) {
    TempDir dir;
    // A folder the unprivileged child may fill, and one it may only read.
    const std::string open = makeFolder(dir.at("open"));
    setMode(open, 0777);
    const std::string locked = makeFolder(dir.at("locked"));
    setMode(locked, 0555);
    const std::string picture = dir.at("locked/map.svg");
    auto outcome = runUnprivileged([&] {
        const std::string home = open + "/home";
        writeFile(home + "/.cache/thumbnails/a.png", "png");
        CliRun clean = runCli({"clean", "--yes", home + "/.cache/thumbnails"},
                              {"HOME=" + home, "XDG_DATA_HOME=" + locked + "/data"});
        CliRun map = runCli({"map", "--svg", picture, home});
        return std::to_string(clean.exitCode) + " " + clean.err + std::to_string(map.exitCode) +
               " " + map.err + (exists(home + "/.cache/thumbnails/a.png") ? "kept" : "moved");
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output,
              "1 ombrelo-cli: " + locked +
                  "/data: You don\u2019t have permission to save the folder \u201cdata\u201d. "
                  "(Permission denied)\n"
                  "1 ombrelo-cli: " +
                  picture +
                  ": You don\u2019t have permission to save the file \u201cmap.svg\u201d. "
                  "(Permission denied)\n"
                  "kept");
}

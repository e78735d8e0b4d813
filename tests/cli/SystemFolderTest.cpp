#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok::testing;

namespace {

TEST(SystemFolders, EveryCommandThatSearchesRefusesThemAndSaysWhy) {
    TempDir scratch;
    makeSymlink("/usr/share", scratch.at("shared"));
    makeFolder(scratch.at("home"));
    const std::vector<std::vector<std::string>> commands = {
        {"scan", "/usr"},
        {"find", "/etc"},
        {"map", "/var/lib"},
        {"duplicates", "/usr/share/doc"},
        {"detect", "/opt"},
        {"cleanup-scan", "--home", "/var/lib"},
        {"clean", "--source", "duplicates", "--all", "--in", "/usr/share"},
        // A link into a system folder is judged where it leads.
        {"duplicates", scratch.at("shared")},
    };
    for (const auto& args : commands) {
        CliRun run = runCli(args, {"HOME=" + scratch.at("home")});
        const std::string& folder = args.back();
        EXPECT_EQ(run.exitCode, 1) << args[0] << " " << folder;
        EXPECT_EQ(run.err,
                  "ombrelo-cli: " + folder + " is a system folder; Ombrelo does not search it.\n")
            << args[0];
        EXPECT_EQ(run.out, "") << args[0];
    }
}

TEST(SystemFolders, AUsersOwnLibraryAndApplicationsAreSearched) {
    TempDir scratch;
    const std::string home = scratch.at("ana");
    writeFile(home + "/Music/Library/a.flac", "the same album");
    writeFile(home + "/Music/Library/copy/a.flac", "the same album");
    writeFile(home + "/Applications/tool.AppImage", "an image");
    writeFile(home + "/Applications/old/tool.AppImage", "an image");
    // Never offered: hidden files and this home's macOS Library.
    writeFile(home + "/.local/share/a.flac", "the same album");
    writeFile(home + "/Library/Mail/a.flac", "the same album");
    writeFile(home + "/.cache/big/x", "123");

    CliRun run = runCli({"duplicates", "--json", home}, {"HOME=" + home});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json["groups"].size(), 2u) << run.out;
    EXPECT_EQ(json["groups"][0]["files"].size(), 2u);
    // The hidden folders' files and the Library's copy.
    EXPECT_EQ(json["leftOutByPolicy"], 3);

    run = runCli({"duplicates", home}, {"HOME=" + home});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("2 sets of identical files"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Left out: 3 files never offered for removal"), std::string::npos)
        << run.out;

    // A search that the policy empties says so rather than only "nothing found".
    run = runCli({"duplicates", home + "/.local"}, {"HOME=" + home});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("No identical files found."), std::string::npos);
    EXPECT_NE(run.out.find("Left out: 1 file never"), std::string::npos) << run.out;
}

TEST(SystemFolders, DetectCountsWhatThePolicyKeptOut) {
    TempDir scratch;
    const std::string home = scratch.at("ana");
    auto project = [&](const std::string& folder) {
        writeFile(folder + "/package.json", "{}");
        writeFile(folder + "/package-lock.json", "{}");
        writeFile(folder + "/node_modules/x/index.js", "module.exports = 1;");
    };
    project(home + "/Applications/site");
    project(home + "/.config/editor/site");
    project(home + "/Library/site");

    CliRun run = runCli({"detect", "--json", "--home", home, home}, {"HOME=" + home});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json["candidates"].size(), 1u) << run.out;
    EXPECT_EQ(json["candidates"][0]["projectPath"], home + "/Applications/site");
    // ~/.config is never searched (three files); ~/Library's node_modules is refused (one file).
    EXPECT_EQ(json["leftOutByPolicy"], 4);

    run = runCli({"detect", "--home", home, home}, {"HOME=" + home});
    EXPECT_NE(run.out.find("4 files left out"), std::string::npos) << run.out;
}

} // namespace

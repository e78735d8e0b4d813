#include "core/cleanup/CleanupCategory.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

using namespace varnok::testing;

namespace {

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

TEST(RestoreCommand, AShortIdAndAllPutBackWhatCanBeAndCountWhatTheRunDid) {
    CliHome fixture;
    CliRun clean =
        fixture.run({"clean", "--source", "duplicates", "--in", fixture.photos, "--all", "--yes"});
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_CONTAINS(clean.out, "Ombrelo's cleanups hold 24 bytes in the Trash.");
    EXPECT_CONTAINS(clean.out, "trash-empty");
    const std::string id = fixture.onlyReportId();
    const std::string shortId = id.substr(0, 8);

    // The original place of one copy is taken again, so that copy cannot come back.
    writeFile(fixture.photos + "/c.jpg", "a new picture");
    CliRun partly = fixture.run({"restore", shortId, "--all"});
    EXPECT_EQ(partly.exitCode, 1) << partly.err;
    EXPECT_CONTAINS(partly.out, "Restored " + fixture.photos + "/b/a.jpg\n");
    EXPECT_CONTAINS(partly.out, "Not restored:\n  " + fixture.photos +
                                    "/c.jpg\n      Another item is already at the original "
                                    "location.");
    CliRun history = fixture.run({"history"});
    EXPECT_CONTAINS(history.out, "2 of 2 items moved, 1 restored since");
    EXPECT_CONTAINS(history.out, "Ombrelo's cleanups hold 12 bytes in the Trash.");

    ASSERT_EQ(std::rename((fixture.photos + "/c.jpg").c_str(), fixture.dir.at("elsewhere").c_str()),
              0);
    CliRun rest = fixture.run({"restore", id.substr(0, 4), "--all"});
    EXPECT_EQ(rest.exitCode, 0) << rest.err;
    EXPECT_CONTAINS(rest.out, "Already back: " + fixture.photos + "/b/a.jpg\n");
    EXPECT_CONTAINS(rest.out, "Restored " + fixture.photos + "/c.jpg\n");
    EXPECT_EQ(readText(fixture.photos + "/c.jpg"), "same picture");
    history = fixture.run({"history"});
    EXPECT_CONTAINS(history.out, "2 of 2 items moved, 2 restored since");
    EXPECT_CONTAINS(history.out, "Nothing that Ombrelo moved is still in the Trash.");

    // A second report whose id starts as the first one's makes the short id ambiguous.
    const std::string folder = fixture.folder + "/";
    std::string twin = id.substr(0, 4) + (id[4] == '0' ? "1" : "0") + id.substr(5);
    std::string text = readText(folder + id + ".json");
    text.replace(text.find(id), id.size(), twin);
    writeFile(folder + twin + ".json", text);
    CliRun ambiguous = fixture.run({"restore", id.substr(0, 4), "--all"});
    EXPECT_EQ(ambiguous.exitCode, 1);
    EXPECT_CONTAINS(ambiguous.err, "is the start of 2 report ids; give more of it:\n  ");
    EXPECT_CONTAINS(ambiguous.err, twin);

    for (const auto& [args, code, message] :
         std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"restore", id.substr(0, 3), "--all"}, 2, "at least 4 characters"},
             {{"restore", "not-an-id", "--all"}, 2, "is not a report id"},
             {{"restore", id, "--all", fixture.photos + "/c.jpg"}, 2, "without a path"},
             {{"restore", id}, 2, "or --all"},
             {{"restore", "ffff0000", "--all"}, 1, "no cleanup report has the id ffff0000"},
         }) {
        CliRun run = fixture.run(args);
        EXPECT_EQ(run.exitCode, code) << args[1] << run.err;
        EXPECT_CONTAINS(run.err, message);
    }
}

TEST(RestoreCommand, AnItemPutBackByTrashRestoreIsToldAsBack) {
    CliHome fixture;
    ASSERT_EQ(fixture.run({"clean", "--yes", fixture.cache}).exitCode, 0);
    const std::string id = fixture.onlyReportId();
    auto put = fixture.trashCli("cd '" + fixture.home + "/Library/Caches' && trash-restore", "0\n");
    ASSERT_EQ(put.status, 0) << put.output;
    ASSERT_EQ(readText(fixture.cache + "/data.bin"), "cached bytes");

    CliRun restore = fixture.run({"restore", id, fixture.cache});
    EXPECT_EQ(restore.exitCode, 1);
    EXPECT_CONTAINS(restore.err, "This item is already at its original location.");
    EXPECT_EQ(restore.err.find("couldn"), std::string::npos) << restore.err;
}

TEST(CleanCommand, KeepRulesChooseTheCopyEachSetKeeps) {
    CliHome fixture;
    const std::string p = makeFolder(fixture.dir.at("pictures"));
    // Set one: the oldest copy is first by path, the newest in b/, the shortest path z.jpg.
    setModifiedSecondsAgo(writeFile(p + "/a/long-name/one.jpg", "one"), 900 * 86400.0);
    setModifiedSecondsAgo(writeFile(p + "/b/one.jpg", "one"), 60);
    setModifiedSecondsAgo(writeFile(p + "/z.jpg", "one"), 30 * 86400.0);
    // Set two: the oldest in b/, the newest first by path, one in keep/.
    setModifiedSecondsAgo(writeFile(p + "/a/two.jpg", "two"), 60);
    setModifiedSecondsAgo(writeFile(p + "/b/two.jpg", "two"), 500 * 86400.0);
    setModifiedSecondsAgo(writeFile(p + "/keep/two.jpg", "two"), 10 * 86400.0);
    makeFolder(p + "/empty");

    auto plan = [&](std::vector<std::string> rules) {
        std::vector<std::string> args{"clean", "--source", "duplicates", "--in", p, "--all"};
        args.insert(args.end(), rules.begin(), rules.end());
        return fixture.run(args);
    };
    auto keeps = [&](const CliRun& run, const std::string& one, const std::string& two) {
        EXPECT_EQ(run.exitCode, 1) << "nothing moves without --yes: " << run.err;
        EXPECT_CONTAINS(run.out, "Keeps: " + p + "/" + one + "\n");
        EXPECT_CONTAINS(run.out, "Keeps: " + p + "/" + two + "\n");
    };
    // Without a rule, the original: the oldest of the unmarked names.
    CliRun first = plan({});
    keeps(first, "a/long-name/one.jpg", "b/two.jpg");
    // The category is explained once, above all four copies.
    EXPECT_CONTAINS(first.out, "Duplicate files: 4 items, 12 bytes\n");
    EXPECT_EQ(occurrences(
                  first.out,
                  std::string(
                      varnok::CleanupCategory(varnok::CleanupCategory::duplicates).explanation())),
              1u);

    keeps(plan({"--keep-rule", "oldest"}), "a/long-name/one.jpg", "b/two.jpg");
    keeps(plan({"--keep-rule", "newest"}), "b/one.jpg", "a/two.jpg");
    keeps(plan({"--keep-rule", "shortest-path"}), "z.jpg", "a/two.jpg");
    keeps(plan({"--keep-rule", "in:" + p + "/keep", "--keep-rule", "newest"}), "b/one.jpg",
          "keep/two.jpg");
    // "~" stands for the home folder, as the shell does not expand it there.
    ASSERT_EQ(std::rename(p.c_str(), (fixture.home + "/pictures").c_str()), 0);
    const std::string inHome = fixture.home + "/pictures";
    CliRun home = fixture.run({"clean", "--source", "duplicates", "--in", inHome, "--all",
                               "--keep-rule", "in:~/pictures/keep"});
    EXPECT_CONTAINS(home.out, "Keeps: " + inHome + "/keep/two.jpg\n");
    ASSERT_EQ(std::rename(inHome.c_str(), p.c_str()), 0);
    keeps(plan({"--keep-rule", "in:" + p + "/keep", "--keep", p + "/b/two.jpg"}),
          "a/long-name/one.jpg", "b/two.jpg");

    for (const auto& [folder, message] : std::vector<std::pair<std::string, std::string>>{
             {p + "/nothing", "does not exist"},
             {fixture.home, "is not inside " + p},
             {p + "/empty", "no copy of any set of duplicates lies in " + p + "/empty"},
         }) {
        CliRun refused = plan({"--keep-rule", "in:" + folder, "--yes"});
        EXPECT_EQ(refused.exitCode, 1) << folder;
        EXPECT_CONTAINS(refused.err, message);
    }

    CliRun moved = plan({"--keep-rule", "shortest-path", "--yes"});
    ASSERT_EQ(moved.exitCode, 0) << moved.err << moved.out;
    EXPECT_TRUE(exists(p + "/z.jpg") && exists(p + "/a/two.jpg"));
    EXPECT_FALSE(exists(p + "/b/one.jpg") || exists(p + "/keep/two.jpg"));
}

TEST(CleanCommand, ItemsAndTheHomeAreMatchedThroughLinkedFolders) {
    CliHome fixture;
    // Named through a linked folder, as the folder is given.
    makeSymlink(fixture.photos, fixture.dir.at("linked"));
    CliRun named = fixture.run({"clean", "--source", "duplicates", "--in", fixture.dir.at("linked"),
                                fixture.dir.at("linked/c.jpg")});
    EXPECT_EQ(named.exitCode, 1);
    EXPECT_CONTAINS(named.err, "use --yes");
    EXPECT_CONTAINS(named.out, fixture.photos + "/c.jpg\n");

    // The user's own home under a linked parent, as /home -> /var/home.
    makeSymlink(fixture.dir.path(), fixture.dir.at("up"));
    const std::string linkedHome = fixture.dir.at("up/home");
    CliRun scan = runCli({"cleanup-scan"}, {"HOME=" + linkedHome, "XDG_DATA_HOME=" + fixture.data});
    EXPECT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_CONTAINS(scan.out, fixture.cache);
    CliRun clean = runCli({"clean", linkedHome + "/Library/Caches/com.spotify.client"},
                          {"HOME=" + linkedHome, "XDG_DATA_HOME=" + fixture.data});
    EXPECT_EQ(clean.exitCode, 1);
    EXPECT_CONTAINS(clean.err, "use --yes");
    CliRun given = fixture.run({"cleanup-scan", "--home", linkedHome});
    EXPECT_EQ(given.exitCode, 1);
    EXPECT_CONTAINS(given.err, "The scan location must not be a symbolic link.");

    // --in defaults to the current folder.
    CliRun here =
        runCli({"clean", "--source", "duplicates", "--all"}, fixture.environment(), fixture.photos);
    EXPECT_CONTAINS(here.out, "Keeps: " + fixture.photos + "/a.jpg\n");
}

TEST(RestoreCommand, CleanAndRestoreShowProgressOnlyOnATerminal) {
    CliHome fixture;
    const std::string cli = OMBRELO_CLI_PATH;
    // `script` gives the tool a terminal; its output is what the terminal showed.
    CommandResult clean =
        fixture.trashCli("script -qec '" + cli + " clean --source duplicates --in " +
                         fixture.photos + " --all --yes' /dev/null");
    ASSERT_EQ(clean.status, 0) << clean.output;
    // The line is cut to the terminal's width, so the item's path may not show whole.
    EXPECT_CONTAINS(clean.output,
                    "\r\033[KMoving to the Trash: 0 of 2 items, 0 bytes of 24 bytes  /");
    CommandResult restore = fixture.trashCli("script -qec '" + cli + " restore " +
                                             fixture.onlyReportId() + " --all' /dev/null");
    ASSERT_EQ(restore.status, 0) << restore.output;
    EXPECT_CONTAINS(restore.output, "\r\033[KRestoring: 0 of 2 items, 0 bytes of 24 bytes  ");
    EXPECT_CONTAINS(restore.output, "Restored " + fixture.photos);

    // Without a terminal, stderr holds no progress line.
    CliRun again =
        fixture.run({"clean", "--source", "duplicates", "--in", fixture.photos, "--all", "--yes"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err, "");
}

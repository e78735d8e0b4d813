#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <nlohmann/json.hpp>
#include <set>

using namespace varnok::testing;

namespace {

std::set<std::string> itemPaths(const std::string& output, const std::string& root) {
    std::set<std::string> paths;
    const auto json = nlohmann::json::parse(output);
    for (const auto& item : json["items"]) {
        paths.insert(item["path"].get<std::string>().substr(root.size() + 1));
    }
    return paths;
}

} // namespace

TEST(ScanOptions, ExcludedNamesAndPathsAreLeftOutWithWhatIsBelowThem) {
    TempDir dir;
    const std::string root = dir.path();
    writeFile(root + "/node_modules/x.js", "x");
    writeFile(root + "/app/node_modules/y.js", "y");
    writeFile(root + "/logs/app.log", "log");
    writeFile(root + "/logs/keep.txt", "keep");
    writeFile(root + "/app/build/out.o", "o");
    writeFile(root + "/build/z", "z");

    CliRun find = runCli({"find", root, "--json", "--limit", "0", "--exclude", "node_modules",
                          "--exclude", "logs/*.log", "--exclude", "app/build/"});
    ASSERT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(itemPaths(find.out, root),
              (std::set<std::string>{"app", "logs", "logs/keep.txt", "build", "build/z"}));
    EXPECT_EQ(nlohmann::json::parse(find.out)["excludedCount"], 4);

    CliRun scan = runCli({"scan", root, "--exclude=*.log"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_CONTAINS(scan.out, "Contents:   5 files, 6 folders");
    EXPECT_CONTAINS(scan.out, "Excluded: 1 entry");

    // Copies left out are not offered as duplicates.
    writeFile(root + "/photos/a.jpg", "same picture");
    writeFile(root + "/photos/old/a.jpg", "same picture");
    CliRun all = runCli({"duplicates", root});
    EXPECT_CONTAINS(all.out, "1 set of identical files");
    CliRun some = runCli({"duplicates", root, "--exclude", "photos/old"});
    EXPECT_CONTAINS(some.out, "No identical files found.");
}

TEST(ScanOptions, OneFileSystemDoesNotEnterOtherMounts) {
    TempDir dir;
    writeFile(dir.at("here.txt"), "here");
    const std::string mountPoint = makeFolder(dir.at("media"));
    TmpfsMount mount(mountPoint, "1m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    writeFile(mountPoint + "/there.txt", "there");

    CliRun everything = runCli({"find", dir.path(), "--json"});
    EXPECT_EQ(itemPaths(everything.out, dir.path()),
              (std::set<std::string>{"here.txt", "media", "media/there.txt"}));

    CliRun one = runCli({"find", "-x", dir.path(), "--json"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    auto json = nlohmann::json::parse(one.out);
    EXPECT_EQ(itemPaths(one.out, dir.path()), (std::set<std::string>{"here.txt"}));
    EXPECT_EQ(json["otherFileSystems"], nlohmann::json::array({mountPoint}));

    CliRun scan = runCli({"scan", "--one-file-system", dir.path()});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_CONTAINS(scan.out, "Other file systems, not entered:\n    " + mountPoint + "\n");
    EXPECT_CONTAINS(scan.out, "Contents:   1 file, 0 folders");

    // "-x" after "--" is a folder name, not the option.
    EXPECT_EQ(runCli({"scan", "--", "-x"}, {}, dir.path()).exitCode, 1);
}

TEST(CommandLine, ScanningCommandsDefaultToTheCurrentFolder) {
    TempDir dir;
    writeFile(dir.at("one.txt"), "same");
    writeFile(dir.at("two.txt"), "same");
    CliRun scan = runCli({"scan", "--json"}, {}, dir.path());
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_EQ(nlohmann::json::parse(scan.out)["root"]["id"], "file://" + dir.path() + "/");
    CliRun find = runCli({"find"}, {}, dir.path());
    EXPECT_CONTAINS(find.out, dir.at("two.txt"));
    CliRun map = runCli({"map"}, {}, dir.path());
    EXPECT_CONTAINS(map.out, "one.txt");
    CliRun duplicates = runCli({"duplicates"}, {}, dir.path());
    EXPECT_CONTAINS(duplicates.out, dir.at("one.txt") + "\n    " + dir.at("two.txt"));
}

TEST(CommandLine, OddNamesArePrintedSoThatTheyCanBePastedBack) {
    TempDir dir;
    writeFile(dir.at("two\nlines.txt"), "same");
    writeFile(dir.at("bad\xFF.txt"), "same");
    writeFile(dir.at("it's plain.txt"), "same");
    CliRun run = runCli({"duplicates", dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_CONTAINS(run.out, "    $'" + dir.path() + "/bad\\xFF.txt'\n");
    EXPECT_CONTAINS(run.out, "    " + dir.path() + "/it's plain.txt\n");
    EXPECT_CONTAINS(run.out, "    $'" + dir.path() + "/two\\nlines.txt'\n");

    // The commands that list a folder's items quote them the same way, name by name.
    makeFolder(dir.at("sub\ndir"));
    writeFile(dir.at("sub\ndir/big"), std::string(5000, 'x'));
    CliRun scan = runCli({"scan", dir.path()});
    EXPECT_CONTAINS(scan.out, "  $'sub\\ndir'/\n");
    EXPECT_CONTAINS(scan.out, "  $'bad\\xFF.txt'\n");
    CliRun map = runCli({"map", dir.path()});
    EXPECT_CONTAINS(map.out, "  $'sub\\ndir'/  [");
    EXPECT_CONTAINS(map.out, "  $'two\\nlines.txt'  [");
    for (const CliRun* listing : {&scan, &map}) {
        EXPECT_EQ(listing->out.find("\xEF\xBF\xBD"), std::string::npos) << listing->out;
        EXPECT_EQ(listing->out.find("sub\ndir"), std::string::npos) << listing->out;
    }

    // What is printed names the file again in a shell.
    auto line = run.out.find("$'" + dir.path() + "/two");
    std::string quoted = run.out.substr(line, run.out.find('\n', line) - line);
    writeFile(dir.at("paste.sh"), "cat " + quoted + "\n");
    auto shell = runShell("bash " + dir.at("paste.sh"));
    EXPECT_EQ(shell.status, 0);
    EXPECT_EQ(shell.output, "same");
}

#include "tests/support/CliRunner.hpp"
#include "tests/support/TestSupport.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using namespace varnok::testing;

namespace {

// A scratch home with a Spotify cache and a folder of duplicates; the tool runs with it as HOME.
struct CliFixture {
    TempDir dir;
    std::string home = makeFolder(dir.at("home"));
    std::string data = home + "/.local/share";
    std::string cache = home + "/Library/Caches/com.spotify.client";
    std::string photos = makeFolder(dir.at("photos"));

    CliFixture() {
        writeFile(cache + "/sub/data.bin", "cached bytes");
        writeFile(photos + "/a.jpg", "same picture");
        writeFile(photos + "/b/a.jpg", "same picture");
        writeFile(photos + "/c.jpg", "same picture");
    }

    CliRun run(const std::vector<std::string>& args) const {
        return runCli(args, {"HOME=" + home, "XDG_DATA_HOME=" + data});
    }
};

} // namespace

TEST(CleanCommand, MovesConfirmedSuggestionsAndRecordsThem) {
    CliFixture fixture;
    // Without a terminal and without --yes, nothing moves.
    CliRun declined = fixture.run({"clean", "--all"});
    EXPECT_EQ(declined.exitCode, 1);
    EXPECT_NE(declined.err.find("use --yes"), std::string::npos) << declined.err;
    EXPECT_NE(declined.out.find("Spotify cache (App caches)"), std::string::npos) << declined.out;
    EXPECT_TRUE(exists(fixture.cache));

    CliRun moved = fixture.run({"clean", "--yes", fixture.cache});
    EXPECT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_NE(moved.out.find("Sent to Trash"), std::string::npos) << moved.out;
    EXPECT_NE(moved.out.find(fixture.data + "/Trash/files/com.spotify.client"), std::string::npos);
    EXPECT_FALSE(exists(fixture.cache));

    CliRun history = fixture.run({"history", "--json"});
    ASSERT_EQ(history.exitCode, 0) << history.err;
    auto reports = nlohmann::json::parse(history.out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["outcomes"][0]["status"], "moved");
    EXPECT_EQ(reports[0]["outcomes"][0]["originalURL"], "file://" + fixture.cache + "/");
    EXPECT_TRUE(reports[0].contains("finishedAt"));

    CliRun listing = fixture.run({"history"});
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_NE(listing.out.find("Sent to Trash"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("1 of 1 item moved"), std::string::npos) << listing.out;
}

TEST(CleanCommand, RefusalsMoveNothing) {
    CliFixture fixture;
    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"clean"},
          {"clean", "--all", fixture.cache},
          {"clean", "--in", fixture.photos, "--all"},
          {"clean", "--source", "photos", "--all"},
          {"clean", "--source", "projects", "--all"},
          {"clean", "--keep", fixture.cache, "--all"},
          {"clean", "--source", "duplicates", "--in", fixture.photos, "--keep", fixture.photos,
           "--all", "--yes"}}) {
        EXPECT_EQ(fixture.run(usage).exitCode, 2) << usage.back();
    }
    CliRun unknown = fixture.run({"clean", "--yes", fixture.home + "/Library"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("is not a cleanup suggestion"), std::string::npos);

    CliRun twice = fixture.run({"clean", "--yes", fixture.cache, fixture.cache + "/"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("The selection contains overlapping or invalid items. Review it "
                             "again."),
              std::string::npos)
        << twice.err;
    EXPECT_TRUE(exists(fixture.cache + "/sub/data.bin"));

    CliRun empty = fixture.run({"history", "--json"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(empty.out), nlohmann::json::array());
}

TEST(CleanCommand, ARunThatStopsEarlyExitsWithFourAndSavesItsReport) {
    CliFixture fixture;
    // The second copy lies on a read-only file system that has no Trash to rename it into.
    std::string mountPoint = makeFolder(fixture.photos + "/b");
    TmpfsMount mount(mountPoint, "1m");
    if (!mount.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    writeFile(mountPoint + "/a.jpg", "same picture");
    writeFile(fixture.photos + "/d.jpg", "same picture");
    ASSERT_TRUE(mount.setReadOnly(true));
    CliRun run = fixture.run({"clean", "--source", "duplicates", "--in", fixture.photos, "--keep",
                              fixture.photos + "/c.jpg", "--all", "--yes"});
    EXPECT_EQ(run.exitCode, 4) << run.err << run.out;
    EXPECT_NE(run.out.find("Keeps: " + fixture.photos + "/c.jpg"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Not moved"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Not attempted"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("no usable Trash folder"), std::string::npos) << run.out;
    EXPECT_TRUE(exists(mountPoint + "/a.jpg"));
    EXPECT_FALSE(exists(fixture.photos + "/a.jpg"));
    EXPECT_TRUE(exists(fixture.photos + "/c.jpg") && exists(fixture.photos + "/d.jpg"));

    auto reports = nlohmann::json::parse(fixture.run({"history", "--json"}).out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["outcomes"][0]["status"], "moved");
    EXPECT_EQ(reports[0]["outcomes"][1]["status"], "failed");
    EXPECT_EQ(reports[0]["outcomes"][2]["status"], "notAttempted");
}

#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <nlohmann/json.hpp>

using namespace varnok::testing;

TEST(CleanCommand, MovesConfirmedSuggestionsRecordsThemAndRestoresThemOnce) {
    CliHome fixture;
    // Without a terminal and without --yes, nothing moves.
    CliRun declined = fixture.run({"clean", "--all"});
    EXPECT_EQ(declined.exitCode, 1);
    EXPECT_CONTAINS(declined.err, "use --yes");
    EXPECT_CONTAINS(declined.out, "App caches: 1 item, 12 bytes\n  Temporary cache files only.");
    EXPECT_CONTAINS(declined.out, "Spotify cache\n              " + fixture.cache);
    EXPECT_TRUE(exists(fixture.cache));

    CliRun moved = fixture.run({"clean", "--yes", fixture.cache});
    EXPECT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_CONTAINS(moved.out, "Sent to Trash");
    EXPECT_CONTAINS(moved.out, fixture.data + "/Trash/files/com.spotify.client");
    EXPECT_FALSE(exists(fixture.cache));

    CliRun history = fixture.run({"history", "--json"});
    ASSERT_EQ(history.exitCode, 0) << history.err;
    auto reports = nlohmann::json::parse(history.out).at("reports");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["outcomes"][0]["status"], "moved");
    const std::string url = "file://" + fixture.cache + "/";
    EXPECT_EQ(reports[0]["outcomes"][0]["originalURL"], url);
    EXPECT_TRUE(reports[0].contains("finishedAt"));
    EXPECT_EQ(reports[0]["outcomes"][0]["availability"],
              (nlohmann::json{{"state", "available"},
                              {"canRestore", true},
                              {"canRevealInTrash", true},
                              {"message", "Ready to restore to the original location."}}));

    CliRun listing = fixture.run({"history"});
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_CONTAINS(listing.out, "Sent to Trash");
    EXPECT_CONTAINS(listing.out, "1 of 1 item moved");

    // Restored by path, without the trailing slash of the stored folder URL, then by that URL.
    const std::string id = reports[0]["id"];
    EXPECT_EQ(fixture.run({"restore", "not-an-id", fixture.cache}).exitCode, 2);
    CliRun restored = fixture.run({"restore", id, fixture.cache});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_CONTAINS(restored.out, "Restored " + fixture.cache);
    EXPECT_EQ(readText(fixture.cache + "/data.bin"), "cached bytes");
    // Restored once, the item is refused with the state history shows for it.
    CliRun again = fixture.run({"restore", id, url});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_CONTAINS(again.err, fixture.cache + ": This item was already restored.");
    EXPECT_CONTAINS(fixture.run({"history"}).out, "Recovery: This item was already restored.");
}

TEST(CleanCommand, RefusalsMoveNothing) {
    CliHome fixture;
    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"clean"},
          {"clean", "--all", fixture.cache},
          {"clean", "--in", fixture.photos, "--all"},
          {"clean", "--source", "photos", "--all"},
          {"clean", "--keep-rule", "oldest", "--all"},
          {"clean", "--source", "duplicates", "--in", fixture.photos, "--keep-rule", "biggest",
           "--all"},
          {"clean", "--source", "duplicates", "--in", fixture.photos, "--keep-rule",
           "in:", "--all"},
          {"clean", "--source", "duplicates", "--in", fixture.photos, "--keep-rule", "oldest",
           "--keep-rule", "newest", "--all"},
          {"clean", "--keep", fixture.cache, "--all"},
          {"clean", "--source", "duplicates", "--in", fixture.photos, "--keep", fixture.photos,
           "--all", "--yes"}}) {
        EXPECT_EQ(fixture.run(usage).exitCode, 2) << usage.back();
    }
    CliRun unknown = fixture.run({"clean", "--yes", fixture.home + "/Library"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_CONTAINS(unknown.err, "is not a cleanup suggestion");

    CliRun twice = fixture.run({"clean", "--yes", fixture.cache, fixture.cache + "/"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_CONTAINS(twice.err, "The selection contains overlapping or invalid items. Review it "
                               "again.");
    EXPECT_TRUE(exists(fixture.cache + "/data.bin"));

    CliRun empty = fixture.run({"history", "--json"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(empty.out).at("reports"), nlohmann::json::array());
}

TEST(CleanCommand, TheNamedFileIsTheOneThatMovesWhateverItsSpelling) {
    CliHome fixture;
    // Two files side by side whose names differ only in how "é" is encoded.
    const std::string composed = "caf\xC3\xA9.log";
    const std::string decomposed = "cafe\xCC\x81.log";
    const std::string logs = fixture.home + "/Library/Logs/";
    for (const std::string& name : {composed, decomposed}) {
        writeFile(logs + name, name);
        setModifiedSecondsAgo(logs + name, 40 * 86400.0);
    }
    // Both are suggested, so --all cannot pick one of them silently: it refuses.
    CliRun all = fixture.run({"clean", "--yes", "--all"});
    EXPECT_EQ(all.exitCode, 1);
    EXPECT_CONTAINS(all.err, "overlapping or invalid items");
    EXPECT_TRUE(exists(logs + composed) && exists(logs + decomposed));

    CliRun one = fixture.run({"clean", "--yes", logs + composed});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_FALSE(exists(logs + composed));
    EXPECT_EQ(readText(logs + decomposed), decomposed);
    CliRun other = fixture.run({"clean", "--yes", logs + decomposed});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_FALSE(exists(logs + decomposed));

    // By path the decomposed copy sorts first and is kept: naming it moves nothing, and naming the
    // composed one moves that one.
    const std::string folder = makeFolder(fixture.dir.at("names"));
    writeFile(folder + "/" + composed, "same bytes");
    writeFile(folder + "/" + decomposed, "same bytes");
    const std::vector<std::string> duplicates{"clean", "--source",    "duplicates", "--in",
                                              folder,  "--keep-rule", "first",      "--yes"};
    auto named = [&](const std::string& name) {
        std::vector<std::string> args = duplicates;
        args.push_back(folder + "/" + name);
        return fixture.run(args);
    };
    CliRun kept = named(decomposed);
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_CONTAINS(kept.err, "is not a cleanup suggestion");
    EXPECT_TRUE(exists(folder + "/" + composed));
    CliRun copy = named(composed);
    EXPECT_EQ(copy.exitCode, 0) << copy.err;
    EXPECT_FALSE(exists(folder + "/" + composed));
    EXPECT_TRUE(exists(folder + "/" + decomposed));
}

TEST(CleanCommand, ARunThatStopsEarlyExitsWithFourAndSavesItsReport) {
    CliHome fixture;
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
    EXPECT_CONTAINS(run.out, "Keeps: " + fixture.photos + "/c.jpg");
    EXPECT_CONTAINS(run.out, "Not moved");
    EXPECT_CONTAINS(run.out, "Not attempted");
    EXPECT_CONTAINS(run.out, "no usable Trash folder");
    EXPECT_TRUE(exists(mountPoint + "/a.jpg"));
    EXPECT_FALSE(exists(fixture.photos + "/a.jpg"));
    EXPECT_TRUE(exists(fixture.photos + "/c.jpg") && exists(fixture.photos + "/d.jpg"));

    auto reports = nlohmann::json::parse(fixture.run({"history", "--json"}).out).at("reports");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["outcomes"][0]["status"], "moved");
    EXPECT_EQ(reports[0]["outcomes"][1]["status"], "failed");
    EXPECT_EQ(reports[0]["outcomes"][2]["status"], "notAttempted");
}

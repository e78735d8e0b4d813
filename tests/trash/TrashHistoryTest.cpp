#include "core/common/FileError.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "tests/support/TestSupport.hpp"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

FileIdentity sampleIdentity(std::uint64_t inode) {
    FileIdentity identity;
    identity.device = 2049;
    identity.inode = inode;
    identity.mode = S_IFDIR | 0755;
    identity.linkCount = 3;
    identity.size = 4096;
    identity.modifiedSeconds = 1700000000;
    identity.modifiedNanoseconds = 123456789;
    identity.changedSeconds = 1700000001;
    identity.changedNanoseconds = 5;
    return identity;
}

TrashReport fullReport() {
    TrashReport report;
    report.id = Uuid::random();
    report.startedAt = std::chrono::system_clock::now();
    report.finishedAt = report.startedAt + std::chrono::milliseconds(1500);
    report.logWarning = "Files were moved, but the history could not be updated: disk full";

    TrashOutcome moved;
    moved.originalURL = Url::file("/home/morvel/.cache/Caf\xC3\xA9 data", true);
    moved.logicalSize = 123456789012;
    moved.status = TrashStatus::moved;
    moved.trashURL = Url::file("/home/morvel/.local/share/Trash/files/Caf\xC3\xA9 data", true);
    moved.trashIdentity = sampleIdentity(77);
    moved.originalParentIdentity = sampleIdentity(12);
    moved.restoredAt = report.startedAt + std::chrono::seconds(60);

    TrashOutcome notAttempted;
    notAttempted.originalURL = Url::file("/home/morvel/old.log", false);
    notAttempted.logicalSize = 10;

    TrashOutcome failed;
    failed.originalURL = Url::file("/home/morvel/x", true);
    failed.logicalSize = 1;
    failed.status = TrashStatus::failed;
    failed.message = "Stopped before moving this item.";
    report.outcomes = {moved, notAttempted, failed};
    return report;
}

std::string reportJson(const std::string& id, double startedAt, const std::string& outcomes) {
    return "{\"id\":\"" + id + "\",\"startedAt\":" + std::to_string(startedAt) + ",\"outcomes\":[" +
           outcomes + "]}";
}

const char* const plainOutcome =
    R"({"originalURL":"file:///h/a/","logicalSize":5,"status":"notAttempted"})";

} // namespace

TEST(TrashHistory, SavedReportReadsBackEqualAndSavesByteForByteTheSame) {
    TempDir dir;
    TrashReport report = fullReport();
    Url file = TrashService::reportFile(dir.url(), report.id);
    EXPECT_EQ(file.lastPathComponent(), report.id.uuidString() + ".json");
    EXPECT_EQ(report.id.uuidString().size(), 36u);
    EXPECT_EQ(report.id.uuidString(), [&] {
        std::string upper = report.id.uuidString();
        for (auto& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return upper;
    }());

    TrashService::save(report, file);
    std::string first = readText(file.path());
    TrashService::save(report, file);
    EXPECT_EQ(readText(file.path()), first);
    EXPECT_EQ(first.find("null"), std::string::npos);

    auto history = TrashService::history(dir.url());
    ASSERT_EQ(history.size(), 1u);
    const TrashReport& loaded = history[0];
    EXPECT_EQ(loaded.id, report.id);
    EXPECT_NEAR(secondsBetween(report.startedAt, loaded.startedAt), 0, 1e-5);
    ASSERT_TRUE(loaded.finishedAt);
    EXPECT_EQ(loaded.logWarning, report.logWarning);
    ASSERT_EQ(loaded.outcomes.size(), 3u);
    EXPECT_EQ(loaded.outcomes[0].originalURL, report.outcomes[0].originalURL);
    EXPECT_TRUE(loaded.outcomes[0].originalURL.hasDirectoryPath());
    EXPECT_EQ(loaded.outcomes[0].trashURL, report.outcomes[0].trashURL);
    EXPECT_EQ(loaded.outcomes[0].trashIdentity, report.outcomes[0].trashIdentity);
    EXPECT_EQ(loaded.outcomes[0].originalParentIdentity, report.outcomes[0].originalParentIdentity);
    EXPECT_EQ(loaded.outcomes[0].logicalSize, 123456789012);
    ASSERT_TRUE(loaded.outcomes[0].restoredAt);
    EXPECT_EQ(loaded.outcomes[1].status, TrashStatus::notAttempted);
    EXPECT_FALSE(loaded.outcomes[1].trashURL || loaded.outcomes[1].message ||
                 loaded.outcomes[1].trashIdentity || loaded.outcomes[1].restoredAt ||
                 loaded.outcomes[1].originalParentIdentity);
    EXPECT_EQ(loaded.outcomes[2].message, "Stopped before moving this item.");
    EXPECT_EQ(loaded.movedCount(), 1);

    // Saving what was read gives the same bytes again: nothing is lost in a round trip.
    TrashService::save(loaded, file);
    auto reloaded = TrashService::history(dir.url());
    ASSERT_EQ(reloaded.size(), 1u);
    EXPECT_EQ(reloaded[0].outcomes[0].trashIdentity, report.outcomes[0].trashIdentity);
}

TEST(TrashHistory, FilesLoadWithPythonsJsonModuleWithTheDocumentedKeys) {
    TempDir dir;
    TrashReport report = fullReport();
    Url file = TrashService::reportFile(dir.url(), report.id);
    TrashService::save(report, file);

    std::string script = dir.at("check.py");
    writeFile(script, R"PY(
import json, sys, time
with open(sys.argv[1], encoding="utf-8") as f:
    r = json.load(f)
assert set(r) == {"id", "startedAt", "finishedAt", "outcomes", "logWarning"}, sorted(r)
assert r["id"] == r["id"].upper() and len(r["id"]) == 36
# Seconds since 2001-01-01 UTC, not the Unix epoch.
assert abs(r["startedAt"] + 978307200 - time.time()) < 600, r["startedAt"]
o = r["outcomes"]
assert set(o[0]) == {"originalURL", "logicalSize", "status", "trashURL", "trashIdentity",
                     "restoredAt", "originalParentIdentity"}, sorted(o[0])
assert o[0]["originalURL"] == "file:///home/morvel/.cache/Caf%C3%A9%20data/", o[0]["originalURL"]
assert isinstance(o[0]["logicalSize"], int) and o[0]["status"] == "moved"
assert set(o[0]["trashIdentity"]) == {"device", "inode", "mode", "linkCount", "size",
    "modifiedSeconds", "modifiedNanoseconds", "changedSeconds", "changedNanoseconds"}
assert all(isinstance(v, int) for v in o[0]["trashIdentity"].values())
assert set(o[1]) == {"originalURL", "logicalSize", "status"}, sorted(o[1])
assert o[2]["message"] == "Stopped before moving this item."
print("ok")
)PY");
    std::string command = "python3 " + script + " " + file.path() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    std::string output;
    while (size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, count);
    }
    EXPECT_EQ(::pclose(pipe), 0) << output;
    EXPECT_EQ(output, "ok\n");
}

TEST(TrashHistory, ReadsOnlyDecodableJsonFilesNewestFirst) {
    TempDir dir;
    EXPECT_TRUE(TrashService::history(Url::file(dir.at("missing"), true)).empty());

    const std::string older = "11111111-1111-4111-8111-111111111111";
    const std::string newer = "00000000-0000-4000-8000-000000000000";
    const std::string tie = "22222222-2222-4222-8222-222222222222";
    // Names sort the other way round from the dates.
    writeFile(dir.at(older + ".json"), reportJson(older, 100.5, plainOutcome));
    writeFile(dir.at(newer + ".json"),
              reportJson(newer, 900, plainOutcome).insert(1, R"("futureKey":[1,2],)"));
    writeFile(dir.at(tie + ".json"), reportJson(tie, 100.5, ""));
    writeFile(dir.at("notes.txt"), reportJson(Uuid::random().uuidString(), 5, ""));
    writeFile(dir.at("CAPS.JSON"), reportJson(Uuid::random().uuidString(), 5, ""));
    writeFile(dir.at(".json"), reportJson(Uuid::random().uuidString(), 5, ""));
    writeFile(dir.at("half.json"), reportJson(Uuid::random().uuidString(), 5, "").substr(0, 30));
    writeFile(dir.at("status.json"),
              reportJson(Uuid::random().uuidString(), 5,
                         R"({"originalURL":"file:///a","logicalSize":5,"status":"Moved"})"));
    writeFile(dir.at("identity.json"),
              reportJson(Uuid::random().uuidString(), 5,
                         R"({"originalURL":"file:///a","logicalSize":5,"status":"moved",)"
                         R"("trashIdentity":{"device":1,"inode":2,"mode":3,"linkCount":1,)"
                         R"("size":0,"modifiedSeconds":0,"modifiedNanoseconds":0,)"
                         R"("changedSeconds":0}})"));
    writeFile(dir.at("nosize.json"), reportJson(Uuid::random().uuidString(), 5,
                                                R"({"originalURL":"file:///a","status":"moved"})"));
    writeFile(dir.at("noid.json"), R"({"startedAt":5,"outcomes":[]})");
    writeFile(dir.at("badid.json"), reportJson("not-a-uuid", 5, ""));
    writeFile(dir.at("array.json"), "[]");
    makeFolder(dir.at("folder.json"));

    auto history = TrashService::history(dir.url());
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0].id.uuidString(), newer);
    // Equal start times keep the folder's listing order, whichever it is.
    EXPECT_NE(history[1].id, history[2].id);
    for (const auto& report : {history[1], history[2]}) {
        EXPECT_TRUE(report.id.uuidString() == older || report.id.uuidString() == tie);
        EXPECT_FALSE(report.finishedAt);
    }
    ASSERT_EQ(history[0].outcomes.size(), 1u);
    EXPECT_FALSE(history[0].outcomes[0].originalParentIdentity);
    EXPECT_EQ(history[0].outcomes[0].originalURL, Url::file("/h/a", true));
}

TEST(TrashHistory, AnUnlistableFolderIsAnErrorNotAnEmptyHistory) {
    TempDir dir;
    std::string folder = makeFolder(dir.at("history"));
    writeFile(folder + "/a.json", reportJson(Uuid::random().uuidString(), 5, ""));
    setMode(folder, 0311);
    auto outcome = runUnprivileged([&] {
        TrashService::history(Url::file(folder, true));
        return std::string("listed");
    });
    EXPECT_FALSE(outcome.succeeded) << outcome.output;
}

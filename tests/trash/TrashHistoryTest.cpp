#include "core/common/DecodingError.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <sys/stat.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

FileIdentity sampleIdentity(std::uint64_t inode) {
    return FileIdentity{.inode = inode,
                        .size = 4096,
                        .modifiedSeconds = 1700000000,
                        .changedSeconds = 1700000001,
                        .modifiedNanoseconds = 123456789,
                        .changedNanoseconds = 5,
                        .device = 2049,
                        .mode = S_IFDIR | 0755,
                        .linkCount = 3};
}

TrashReport fullReport() {
    TrashReport report;
    report.id = Uuid::random();
    report.startedAt = std::chrono::system_clock::now();
    report.finishedAt = report.startedAt + std::chrono::milliseconds(1500);
    report.logWarning = "History could not be saved completely: disk full";
    TrashOutcome moved;
    moved.originalURL = Url::file("/home/morvel/.cache/Caf\xC3\xA9 data", true);
    moved.logicalSize = 123456789012;
    moved.status = TrashStatus::moved;
    moved.trashURL = Url::file("/home/morvel/.local/share/Trash/files/Caf\xC3\xA9 data", true);
    moved.trashIdentity = sampleIdentity(77);
    moved.originalParentIdentity = sampleIdentity(12);
    moved.restoredAt = report.startedAt + std::chrono::seconds(60);
    TrashOutcome plain;
    plain.originalURL = Url::file("/home/morvel/old.log", false);
    plain.logicalSize = 10;
    TrashOutcome failed = plain;
    failed.status = TrashStatus::failed;
    failed.message = "Stopped before moving this item.";
    report.outcomes = {moved, plain, failed};
    return report;
}

std::string reportJson(const std::string& id, double startedAt, const std::string& outcomes) {
    return "{\"id\":\"" + id + "\",\"startedAt\":" + std::to_string(startedAt) + ",\"outcomes\":[" +
           outcomes + "]}";
}

} // namespace

TEST(TrashHistory, SavedReportsReadBackWholeAndLoadInPython) {
    TempDir dir;
    TrashReport report = fullReport();
    Url file = TrashService::reportFile(dir.url(), report.id);
    EXPECT_EQ(file.lastPathComponent(), report.id.uuidString() + ".json");

    TrashService::save(report, file);
    const std::string saved = readText(file.path());
    EXPECT_EQ(saved.find("null"), std::string::npos);
    // What is read back saves to the same bytes: every field survives the trip unchanged.
    auto history = TrashService::history(dir.url());
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].movedCount(), 1);
    TrashService::save(history[0], file);
    EXPECT_EQ(readText(file.path()), saved);

    // Other programs read the same file with Python's json module.
    writeFile(dir.at("check.py"), R"PY(
import json, sys, time
r = json.load(open(sys.argv[1], encoding="utf-8"))
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
assert set(o[1]) == {"originalURL", "logicalSize", "status"}, sorted(o[1])
print("ok")
)PY");
    auto result = runShell("python3 " + dir.at("check.py") + " " + file.path());
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "ok\n");
}

TEST(TrashHistory, ReadsOnlyDecodableJsonFilesNewestFirst) {
    TempDir dir;
    EXPECT_TRUE(TrashService::history(Url::file(dir.at("missing"), true)).empty());
    const char* const outcome =
        R"({"originalURL":"file:///h/a/","logicalSize":5,"status":"notAttempted"})";
    const std::string older = "11111111-1111-4111-8111-111111111111";
    const std::string newer = "00000000-0000-4000-8000-000000000000";
    // File names sort the other way round from the dates; unknown keys are ignored.
    writeFile(dir.at(older + ".json"), reportJson(older, 100.5, outcome));
    writeFile(dir.at(newer + ".json"),
              reportJson(newer, 900, outcome).insert(1, R"("futureKey":[1,2],)"));
    // Skipped: other names, broken JSON, unknown statuses, incomplete identities, missing keys.
    const std::string id = Uuid::random().uuidString();
    const std::string entry = R"({"originalURL":"file:///a","logicalSize":5,"status":)";
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"notes.txt", reportJson(id, 5, "")},
             {"CAPS.JSON", reportJson(id, 5, "")},
             {"half.json", reportJson(id, 5, "").substr(0, 30)},
             {"status.json", reportJson(id, 5, entry + R"("Moved"})")},
             {"identity.json",
              reportJson(id, 5,
                         entry + R"("moved","trashIdentity":{"device":1,"inode":2,"mode":3,)"
                                 R"("linkCount":1,"size":0,"modifiedSeconds":0,)"
                                 R"("modifiedNanoseconds":0,"changedSeconds":0}})")},
             {"nosize.json", reportJson(id, 5, R"({"originalURL":"file:///a","status":"moved"})")},
             // Places that are not files are damage, refused when read rather than later.
             {"web.json", reportJson(id, 5,
                                     R"({"originalURL":"https://h/a","logicalSize":5,)"
                                     R"("status":"notAttempted"})")},
             {"webtrash.json", reportJson(id, 5, entry + R"("moved","trashURL":"ftp://h/a"})")},
             {"relative.json", reportJson(id, 5,
                                          R"({"originalURL":"h/a","logicalSize":5,)"
                                          R"("status":"notAttempted"})")},
             {"noid.json", R"({"startedAt":5,"outcomes":[]})"},
             {"badid.json", reportJson("not-a-uuid", 5, "")}}) {
        writeFile(dir.at(name), text);
    }
    makeFolder(dir.at("folder.json"));
    // Neither a FIFO nor a link to a device may hang the reader or feed it without end.
    ASSERT_EQ(::mkfifo(dir.at("fifo.json").c_str(), 0644), 0);
    makeSymlink("/dev/zero", dir.at("zero.json"));

    for (const char* name : {"web.json", "webtrash.json", "relative.json"}) {
        EXPECT_THROW(TrashReport::decode(readText(dir.at(name))), DecodingError) << name;
    }

    auto history = TrashService::history(dir.url());
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].id.uuidString(), newer);
    EXPECT_EQ(history[1].id.uuidString(), older);
    EXPECT_FALSE(history[1].finishedAt);
    EXPECT_FALSE(history[0].outcomes.at(0).originalParentIdentity);
    EXPECT_EQ(history[0].outcomes[0].originalURL, Url::file("/h/a", true));

    // A folder that cannot be listed is an error, not an empty history.
    setMode(dir.path(), 0311);
    auto listed =
        runUnprivileged([&] { return std::to_string(TrashService::history(dir.url()).size()); });
    setMode(dir.path(), 0755);
    EXPECT_FALSE(listed.succeeded) << listed.output;
}

#include "tests/app/model/ModelTestSupport.hpp"

#include "core/snapshot/ScanArchive.hpp"

#include <sys/stat.h>
#include <utime.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

std::vector<std::string> idsOf(const std::vector<RememberedScan>& scans) {
    std::vector<std::string> ids;
    for (const auto& scan : scans) {
        ids.push_back(scan.id);
    }
    return ids;
}

// A one-file tree of `folder` as a scan would build it.
ScanResult treeOf(const std::string& folder, std::int64_t bytes) {
    ScanResult result;
    FileNode file(Url::file(folder + "/data.bin", false), false, bytes, bytes, {}, 0, 0, false,
                  false, true);
    result.root = FileNode(Url::file(folder, true), true, bytes, bytes, {std::move(file)}, 1, 0,
                           false, false, true);
    return result;
}

FileNode fileAt(const std::string& path, std::int64_t bytes) {
    return FileNode(Url::file(path, false), false, bytes, bytes, {}, 0, 0, false, false, true);
}

// A folder of 4096 bytes of its own holding `children`, sized as a scan sizes it.
FileNode folderAt(const std::string& path, std::vector<FileNode> children) {
    std::int64_t bytes = 4096;
    for (const auto& child : children) {
        bytes += child.allocatedSize;
    }
    return FileNode(Url::file(path, true), true, bytes, bytes, std::move(children), 0, 0, false,
                    false, true);
}

// A home with 1 MB of documents, `extra` inside it and the store holding `stored` bytes.
FileNode homeTree(std::int64_t stored, std::vector<FileNode> extra = {}) {
    const std::string h = "/home/kim";
    std::vector<FileNode> children = std::move(extra);
    children.push_back(folderAt(h + "/Documents", {fileAt(h + "/Documents/a.pdf", 1000000)}));
    children.push_back(
        folderAt(h + "/.local",
                 {folderAt(h + "/.local/state",
                           {folderAt(h + "/.local/state/ombrelo",
                                     {folderAt(h + "/.local/state/ombrelo/scans",
                                               {fileAt(h + "/.local/state/ombrelo/scans/x.json.gz",
                                                       stored)})})})}));
    return folderAt(h, std::move(children));
}

void backdate(const std::string& path, int days) {
    struct utimbuf times {};
    times.actime = times.modtime = ::time(nullptr) - static_cast<time_t>(days) * 86400;
    ::utime(path.c_str(), &times);
}

} // namespace

class RememberFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void completedFolderScansAreRememberedFiveAtMostPerFolder() {
        ScratchHome h;
        const std::string top = h.home + "/top";
        writeFile(top + "/notes/a.txt", std::string(5000, 'a'));
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(model.remembered().rememberedScans().empty());

        QVERIFY(f.explore(top));
        auto scans = model.remembered().scansOf(Url::file(top, true));
        QCOMPARE(scans.size(), size_t(1));
        QVERIFY(scans[0].file.rfind(h.scanStore() + "/", 0) == 0);
        QVERIFY(exists(scans[0].file) && scans[0].sizeOnDisk > 0);
        struct stat store {};
        QCOMPARE(::stat(h.scanStore().c_str(), &store), 0);
        QCOMPARE(store.st_mode & 0777, mode_t(0700)); // it lists every name scanned
        QCOMPARE(scans[0].folder, top);
        QCOMPARE(scans[0].takenAt, ScanArchive::load(scans[0].file).takenAt);
        QCOMPARE(ScanArchive::load(scans[0].file).result.root.allocatedSize,
                 model.explore().root().allocatedSize);

        // A scan opened from a file is not a new scan of the folder.
        model.explore().loadScan(scans[0].file);
        QVERIFY(f.settle());
        QCOMPARE(model.remembered().rememberedScans().size(), size_t(1));

        const std::string first = scans[0].id;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(f.explore(top));
        }
        scans = model.remembered().scansOf(Url::file(top, true));
        QCOMPARE(scans.size(), size_t(5));
        const auto ids = idsOf(scans);
        QVERIFY(std::find(ids.begin(), ids.end(), first) == ids.end());
        QVERIFY(!exists(h.scanStore() + "/" + first + ".json.gz"));
        QVERIFY(!exists(h.scanStore() + "/" + first + ".scan"));
        for (size_t i = 1; i < scans.size(); ++i) {
            QVERIFY(scans[i - 1].takenAt >= scans[i].takenAt);
        }

        // Another folder keeps its own five; the list holds both, newest first.
        QVERIFY(f.explore(top + "/notes"));
        QCOMPARE(model.remembered().scansOf(Url::file(top + "/notes", true)).size(), size_t(1));
        QCOMPARE(model.remembered().rememberedScans().size(), size_t(6));
        QCOMPARE(model.remembered().rememberedScans().front().folder, top + "/notes");

        // Removing one, as Settings does: its files go, the rest stay.
        const RememberedScan removed = model.remembered().rememberedScans().back();
        model.remembered().forget(removed.id);
        QCOMPARE(model.remembered().rememberedScans().size(), size_t(5));
        QVERIFY(!exists(removed.file) && !exists(h.scanStore() + "/" + removed.id + ".scan"));
        model.remembered().forget("../top");
        model.remembered().forget(removed.id);
        QCOMPARE(model.remembered().rememberedScans().size(), size_t(5));
        QCOMPARE(model.error(), std::nullopt);
        QCOMPARE(model.note(), std::nullopt);
    }

    void theCapacityDropsTheOldestAndForeignFilesStay() {
        ScratchHome h;
        const std::string store = h.scanStore();
        // What is not ours, or not whole: ignored by the list and never removed.
        const std::vector<std::string> foreign = {
            writeFile(store + "/notes.txt", "mine"),
            writeFile(store + "/0123456789abcdef.scan", "garbage"),
            writeFile(store + "/0123456789abcdef.json.gz", std::string(9000, 'z')),
            writeFile(store + "/1111111111111111.scan",
                      "ombrelo remembered scan 1\ntaken 5\nsize 5\nfolder relative/path"),
            writeFile(store + "/1111111111111111.json.gz", "z"),
            writeFile(store + "/ABCDEF0123456789.scan",
                      "ombrelo remembered scan 1\ntaken 5\nsize 5\nfolder /x"),
            writeFile(store + "/ABCDEF0123456789.json.gz", "z"),
            writeFile(store + "/2222222222222222.json.gz.partial-x7", "half"),
        };
        std::filesystem::create_directories(store + "/3333333333333333.json.gz");
        writeFile(store + "/3333333333333333.scan",
                  "ombrelo remembered scan 1\ntaken 5\nsize 5\nfolder /y");
        std::filesystem::create_symlink(store + "/notes.txt", store + "/4444444444444444.scan");
        for (const auto& path : foreign) {
            backdate(path, 3);
        }
        // What a save that stopped midway left: its record, its partial scan and a partial growth
        // summary, cleared once old, whatever order the folder lists them in.
        const std::vector<std::string> leftovers = {
            writeFile(store + "/5555555555555555.scan",
                      "ombrelo remembered scan 1\ntaken 5\nsize 5\nfolder /z"),
            writeFile(store + "/5555555555555555.json.gz.partial-12345", "half"),
            writeFile(store + "/7777777777777777.json.gz.partial-9", "half"),
            writeFile(store + "/home-growth.partial-8888888888888888", "half"),
        };
        for (const auto& path : leftovers) {
            backdate(path, 3);
        }
        const std::string fresh =
            writeFile(store + "/6666666666666666.scan",
                      "ombrelo remembered scan 1\ntaken 5\nsize 5\nfolder /z");

        ScanMemory memory{store, 5, ScanMemory::defaultCapacity};
        QVERIFY(memory.all().empty());
        // A folder name that is not UTF-8 comes back byte for byte.
        const RememberedScan a =
            memory.remember(treeOf("/data/caf\xe9", 100), "/data/caf\xe9", 1000);
        QVERIFY(a.sizeOnDisk > 0);
        QCOMPARE(memory.scansOf("/data/caf\xe9/").size(), size_t(1));
        for (const auto& path : leftovers) {
            QVERIFY2(!exists(path), path.c_str());
        }
        QVERIFY(exists(fresh));

        // Room for two and a half such scans: the oldest folders' scans go first.
        memory.capacity = a.sizeOnDisk * 5 / 2;
        memory.remember(treeOf("/data/b", 100), "/data/b/", 2000);
        memory.remember(treeOf("/data/c", 100), "/data/c", 3000);
        memory.remember(treeOf("/data/d", 100), "/data/d", 4000);
        std::vector<std::string> folders;
        std::int64_t total = 0;
        for (const auto& scan : memory.all()) {
            folders.push_back(scan.folder);
            total += scan.sizeOnDisk;
        }
        QCOMPARE(folders, (std::vector<std::string>{"/data/d", "/data/c"}));
        QVERIFY(total <= memory.capacity);
        QVERIFY(!exists(a.file));

        // A scan over the capacity on its own is not kept either.
        memory.capacity = 1;
        memory.remember(treeOf("/data/e", 100), "/data/e", 5000);
        QVERIFY(memory.all().empty());

        for (const auto& path : foreign) {
            QVERIFY2(exists(path), path.c_str());
        }
        QVERIFY(exists(store + "/3333333333333333.json.gz") &&
                exists(store + "/3333333333333333.scan") &&
                exists(store + "/4444444444444444.scan") && exists(fresh));
        QVERIFY(!memory.forget("0123456789abcdef") && exists(store + "/0123456789abcdef.json.gz"));
        QVERIFY(!memory.forget("4444444444444444") && exists(store + "/notes.txt"));

        // A window started over such a store lists nothing and says nothing.
        ModelFixture f;
        QVERIFY(f.model->remembered().rememberedScans().empty());
        QCOMPARE(f.model->remembered().homeGrowth(), std::nullopt);
    }

    void growthLeavesOutTheStoreAndFollowsTheFolderThatHoldsIt() {
        const std::string h = "/home/kim";
        const std::string store = h + "/.local/state/ombrelo/scans";
        const FileNode before = homeTree(1000);
        // Only the remembered scans grew: nothing to say.
        QCOMPARE(ScanMemory::growthOf(before, homeTree(90000000), 7, h, store), std::nullopt);
        // The same, with the store elsewhere, is growth in the state folder.
        QCOMPARE(ScanMemory::growthOf(before, homeTree(90000000), 7, h, "/var/tmp/s")->folder,
                 h + "/.local/state/ombrelo/scans");

        // A new folder: the way down goes on inside it while one folder holds most of it.
        const auto grown = ScanMemory::growthOf(
            before,
            homeTree(90000000,
                     {folderAt(h + "/Games",
                               {folderAt(h + "/Games/Big", {fileAt(h + "/Games/Big/d", 9000000)}),
                                fileAt(h + "/Games/readme", 1000)})}),
            7, h + "/", store);
        QVERIFY(grown.has_value());
        QCOMPARE(grown->since, std::int64_t(7));
        QCOMPARE(grown->folder, h + "/Games/Big");
        QCOMPARE(grown->size, std::int64_t(9000000 + 4096));

        // Two folders sharing it: the home holds it; under the floor: nothing.
        const auto shared = ScanMemory::growthOf(
            before,
            homeTree(1000, {folderAt(h + "/A", {fileAt(h + "/A/f", 3000000)}),
                            folderAt(h + "/B", {fileAt(h + "/B/f", 2000000)})}),
            7, h, store);
        QCOMPARE(shared->folder, h);
        QCOMPARE(ScanMemory::growthOf(
                     before, homeTree(1000, {folderAt(h + "/A", {fileAt(h + "/A/f", 900000)})}), 7,
                     h, store),
                 std::nullopt);
    }

    void aScanOfTheHomeTellsWhereItGrew() {
        ScratchHome h;
        writeFile(h.home + "/Documents/letter.txt", std::string(2000, 'l'));
        writeFile(h.home + "/Projects/app/main.cpp", std::string(2000, 'c'));
        {
            ModelFixture f;
            AppModel& model = *f.model;
            QVERIFY(f.explore(h.home));
            QCOMPARE(model.remembered().homeGrowth(), std::nullopt); // nothing to weigh against
            const std::int64_t since = model.remembered().rememberedScans().front().takenAt;

            // Nearly all of it in one folder two levels down.
            writeFile(h.home + "/Projects/app/build/out.bin", std::string(3000000, 'o'));
            QVERIFY(f.explore(h.home));
            auto growth = model.remembered().homeGrowth();
            QVERIFY(growth.has_value());
            QCOMPARE(growth->since, since);
            QCOMPARE(growth->folder, h.home + "/Projects/app/build");
            QVERIFY(growth->size >= 3000000 && growth->size < 3100000);
            QCOMPARE(model.note(), std::nullopt);
        }
        {
            // Kept for the next start, without loading a scan.
            ModelFixture f;
            AppModel& model = *f.model;
            const auto growth = model.remembered().homeGrowth();
            QVERIFY(growth.has_value());
            QCOMPARE(growth->folder, h.home + "/Projects/app/build");

            // A damaged earlier scan of the home leaves the summary as it was, and the new scan
            // is remembered all the same.
            writeFile(h.home + "/Documents/more.pdf", std::string(2000000, 'm'));
            const auto earlier = model.remembered().scansOf(h.url());
            writeFile(earlier.front().file, "not a scan");
            QVERIFY(f.explore(h.home));
            QCOMPARE(model.remembered().homeGrowth(), growth);
            QCOMPARE(model.remembered().scansOf(h.url()).size(), earlier.size() + 1);

            // Shrinking says nothing.
            std::filesystem::remove(h.home + "/Documents/more.pdf");
            QVERIFY(f.explore(h.home));
            QCOMPARE(model.remembered().homeGrowth(), std::nullopt);
            QCOMPARE(model.note(), std::nullopt);
        }
    }
};

QTEST_GUILESS_MAIN(RememberFlowTest)
#include "RememberFlowTest.moc"

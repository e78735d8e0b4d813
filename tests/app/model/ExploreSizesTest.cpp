#include "tests/app/model/ModelTestSupport.hpp"

#include "core/scan/ItemIndex.hpp"

#include <QSignalSpy>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

bool settleExplore(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.explore().activeScanURL(); }, 20000);
}

// What `du -sB1` reports for `path`: the reference the explorer's disk usage must match.
std::int64_t duBytes(const std::string& path) {
    const std::string command = "du -sB1 '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    long long bytes = -1;
    if (std::fscanf(pipe, "%lld", &bytes) != 1) {
        bytes = -1;
    }
    ::pclose(pipe);
    return bytes;
}

const FileNode* childNamed(const FileNode& folder, const std::string& name) {
    for (const auto& child : folder.children) {
        if (child.name() == name) {
            return &child;
        }
    }
    return nullptr;
}

// A 1 MB file with two more links (one beside it, one in another folder), a 64 MB sparse file
// holding a single block and a few small files.
struct LinkedTree {
    explicit LinkedTree(const ScratchHome& h) : top(h.home + "/top") {
        photo = writeFile(top + "/Pictures/photo.jpg", std::string(1000000, 'p'));
        writeFile(top + "/Pictures/note.txt", "n");
        writeFile(top + "/Backup/keep.txt", "k");
        ::link(photo.c_str(), (top + "/Pictures/photo copy.jpg").c_str());
        ::link(photo.c_str(), (top + "/Backup/photo.jpg").c_str());
        const std::string sparse = top + "/Videos/empty.mkv";
        writeFile(sparse, "");
        const int fd = ::open(sparse.c_str(), O_WRONLY);
        if (fd >= 0) {
            if (::ftruncate(fd, 64 << 20) != 0 || ::pwrite(fd, "x", 1, 0) != 1) {
                sparseFailed = true;
            }
            ::close(fd);
        }
    }
    std::string top;
    std::string photo;
    bool sparseFailed = false;
};

} // namespace

class ExploreSizesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void theExplorerCountsDiskUsageAsDuDoesUnlessAskedForApparentSizes() {
        ScratchHome h;
        LinkedTree tree(h);
        QVERIFY(!tree.sparseFailed);
        ModelFixture f;
        AppModel& model = *f.model;
        ExploreFlow& explore = model.explore();
        QVERIFY(!explore.apparentSize());
        explore.scanFolder(Url::file(tree.top, true));
        QVERIFY(settleExplore(model));
        QCOMPARE(model.error(), std::nullopt);

        // Disk usage by default, as du says. The photo's blocks count in one of its two folders,
        // whichever the walk meets first, so only their sum is fixed.
        const FileNode& shown = explore.shownTree();
        QCOMPARE(shown.logicalSize, duBytes(tree.top));
        QCOMPARE(childNamed(shown, "Videos")->logicalSize, duBytes(tree.top + "/Videos"));
        std::int64_t children = 0;
        for (const auto& child : shown.children) {
            children += child.logicalSize;
        }
        QVERIFY(children < shown.logicalSize); // the folder's own blocks
        QVERIFY(childNamed(shown, "Pictures")->logicalSize +
                    childNamed(shown, "Backup")->logicalSize <
                2000000);
        QCOMPARE(&explore.currentFolder(), &shown);
        // Largest first by what they take on disk: the folder holding the photo's blocks, not
        // the sparse video.
        QVERIFY(shown.children.front().logicalSize > 1000000);
        QVERIFY(shown.logicalSize < 8 << 20);
        // Home's charts sum to the files' blocks, far below the 67 MB the files claim.
        std::int64_t ages = 0;
        std::int64_t types = 0;
        for (int i = 0; i < 4; ++i) {
            ages += explore.ages()[i];
            types += explore.types()[i];
        }
        QCOMPARE(ages, types);
        QVERIFY(ages > 1000000 && ages <= shown.logicalSize);

        // Largest lists the photo once, whatever its links, with its blocks.
        const auto files =
            ItemIndex::find(shown, ItemKind::files, ItemSort::largest, "", ItemScope::descendants);
        int photos = 0;
        for (const FileNode* file : files) {
            photos += file->name().find("photo") == 0 ? 1 : 0;
        }
        QCOMPARE(photos, 1);
        QCOMPARE(files.front()->name().substr(0, 5), std::string("photo"));
        QVERIFY(files.front()->logicalSize >= 1000000);

        // Opening a folder and selecting in it keeps the chosen measure.
        explore.openFolder(*childNamed(shown, "Videos"));
        QCOMPARE(explore.currentFolder().logicalSize, duBytes(tree.top + "/Videos"));
        explore.setSelected(*childNamed(*childNamed(explore.root(), "Videos"), "empty.mkv"));
        QVERIFY(explore.selected() && explore.selected()->logicalSize < 1 << 20);

        // Apparent sizes: every path's bytes; the views hear of the new tree before they read.
        QSignalSpy spy(&explore, &ExploreFlow::changed);
        explore.setApparentSize(true);
        QVERIFY(spy.contains({QVariant::fromValue(ExploreFlow::Field::shownTree)}));
        const std::int64_t apparent = 3 * 1000000 + 2 + (64 << 20);
        QCOMPARE(explore.shownTree().logicalSize, apparent);
        QCOMPARE(&explore.shownTree(), &explore.root());
        QCOMPARE(explore.currentFolder().name(), std::string("Videos"));
        QCOMPARE(explore.currentFolder().logicalSize, std::int64_t(64 << 20));
        QCOMPARE(explore.selected()->logicalSize, std::int64_t(64 << 20));
        QCOMPARE(explore.shownTree().children.front().name(), std::string("Videos"));

        // And back: the same figures as du again, selection included.
        explore.setApparentSize(false);
        QCOMPARE(explore.shownTree().logicalSize, duBytes(tree.top));
        QVERIFY(explore.selected()->logicalSize < 1 << 20);
    }

    void theSampleShowsTheSameFiguresEitherWay() {
        ModelFixture f;
        ExploreFlow& explore = f.model->explore();
        const std::int64_t onDisk = explore.shownTree().logicalSize;
        const auto ages = explore.ages();
        explore.setApparentSize(true);
        QCOMPARE(explore.shownTree().logicalSize, onDisk);
        QCOMPARE(explore.ages(), ages);
        QVERIFY(onDisk > 0);
    }
};

QTEST_GUILESS_MAIN(ExploreSizesTest)
#include "ExploreSizesTest.moc"

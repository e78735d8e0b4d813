#include "tests/app/model/ModelTestSupport.hpp"

#include "core/trash/TrashStatus.hpp"

using namespace varnok;
using namespace varnok::testing;

namespace {

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

bool settleExplore(AppModel& model) {
    return QTest::qWaitFor(
        [&] {
            return !model.activeScanURL() && !model.isFindingDuplicates() &&
                   !model.isWorkingCleanup();
        },
        20000);
}

std::vector<std::string> namesOf(const FileNode& node) {
    std::vector<std::string> names;
    for (const auto& child : node.children) {
        names.push_back(child.name());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Three identical photos and two identical notes under one folder, plus a file of its own.
std::string makeDuplicates(const ScratchHome& h) {
    const std::string folder = h.home + "/Pictures";
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        writeFile(folder + "/" + name, std::string(4096, 'p'));
    }
    writeFile(folder + "/notes/one.txt", std::string(100, 'n'));
    writeFile(folder + "/notes/two.txt", std::string(100, 'n'));
    writeFile(folder + "/single.txt", "unique");
    return folder;
}

const DuplicateGroup* groupOf(const AppModel& model, const std::string& path) {
    for (const auto& group : model.duplicateResult()->groups) {
        for (const auto& file : group.files) {
            if (file.id.path() == path) {
                return &group;
            }
        }
    }
    return nullptr;
}

} // namespace

class ExploreFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void folderScanPublishesTheTreeAndNavigates() {
        ScratchHome h;
        const std::string top = h.home + "/top";
        writeFile(top + "/Projects/app/main.cpp", std::string(3000, 'c'));
        writeFile(top + "/Projects/app/notes.txt", "n");
        writeFile(top + "/Movies/clip.mov", std::string(9000, 'm'));
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(model.isDemo());

        model.scanFolder(Url::file(top, true));
        QVERIFY(model.activeScanURL().has_value());
        QVERIFY(settleExplore(model));
        QCOMPARE(model.error(), std::nullopt);
        QVERIFY(!model.isDemo());
        QCOMPARE(model.scanURL(), std::optional<Url>(Url::file(top, true)));
        QCOMPARE(namesOf(model.root()), (std::vector<std::string>{"Movies", "Projects"}));
        QCOMPARE(model.scanHighlights().fileCount, std::int64_t(3));
        QCOMPARE(model.ages()[0], std::int64_t(12001));
        QCOMPARE(model.types()[0] + model.types()[1] + model.types()[2] + model.types()[3],
                 std::int64_t(12001));
        QVERIFY(model.types()[1] >= 9000); // the movie counts as media

        // Opening a folder two levels down keeps each level on the way back.
        const FileNode* app = &model.root();
        for (const char* step : {"Projects", "app"}) {
            app = &*std::find_if(app->children.begin(), app->children.end(),
                                 [&](const FileNode& n) { return n.name() == step; });
        }
        model.openFolder(*app);
        QCOMPARE(model.history().size(), size_t(2));
        QCOMPARE(model.currentFolder().name(), std::string("app"));
        QCOMPARE(model.currentFolder().children.size(), size_t(2));
        model.openFolder(model.currentFolder().children[0]); // a file: nothing happens
        QCOMPARE(model.history().size(), size_t(2));
        model.navigateTo(1);
        QCOMPARE(model.currentFolder().name(), std::string("Projects"));
        model.navigateTo(0);
        QCOMPARE(model.currentFolder().id, model.root().id);
    }

    void folderScanRefusalsAndFailuresAreMessages() {
        ScratchHome h;
        std::filesystem::create_directories(h.home + "/real");
        std::filesystem::create_directory_symlink(h.home + "/real", h.home + "/link");
        ModelFixture f;
        AppModel& model = *f.model;

        model.scanFolder(Url::file(h.home + "/link", true));
        QCOMPARE(model.error(), text("The scan location must not be a symbolic link."));
        QVERIFY(!model.activeScanURL());
        model.setError(std::nullopt);

        model.scanFolder(Url::file(h.home + "/missing", true));
        QVERIFY(settleExplore(model));
        QVERIFY(model.error().has_value() && !model.error()->isEmpty());
        QVERIFY(model.isDemo()); // the sample tree is still shown
    }

    void staleAndStoppedFolderScansChangeNothing() {
        ScratchHome h;
        writeFile(h.home + "/slow/big.bin", std::string(500, 's'));
        writeFile(h.home + "/fast/small.bin", "f");
        ModelFixture f;
        AppModel& model = *f.model;

        // A scan stopped while it walks publishes nothing, not even once the walk goes on.
        gate().close(h.home + "/slow");
        model.scanFolder(Url::file(h.home + "/slow", true));
        QVERIFY(gate().waitUntilReached());
        QSignalSpy spy(&model, &AppModel::changed);
        model.stopFolderScan();
        QVERIFY(!model.activeScanURL());
        spy.clear();
        gate().open();
        QTest::qWait(300);
        QCOMPARE(spy.count(), 0);
        QVERIFY(model.isDemo());

        // A run superseded by a newer one: only the newer one's tree lands.
        gate().close(h.home + "/slow");
        model.scanFolder(Url::file(h.home + "/slow", true));
        QVERIFY(gate().waitUntilReached());
        model.stopFolderScan();
        model.scanFolder(Url::file(h.home + "/fast", true));
        gate().open();
        QVERIFY(settleExplore(model));
        QTest::qWait(300);
        QCOMPARE(model.root().name(), std::string("fast"));
    }

    void duplicateChoicesSurviveOnlyAnUnchangedSet() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;
        const Url url = Url::file(folder, true);

        model.findDuplicates(url);
        QVERIFY(model.isFindingDuplicates());
        QVERIFY(model.isBusy());
        QVERIFY(settleExplore(model));
        QCOMPARE(model.duplicateResult()->groups.size(), size_t(2));
        // The largest waste first; the first copy by path is kept until the user chooses.
        const DuplicateGroup& photos = model.duplicateResult()->groups[0];
        QCOMPARE(photos.extraSize(), std::int64_t(8192));
        QCOMPARE(model.duplicateKeeper(photos).name(), std::string("a.jpg"));
        QVERIFY(model.duplicateSelection().empty());

        model.chooseDuplicateKeeper(photos.id(), Url::file(folder + "/c.jpg", false));
        model.selectAllDuplicates(true);
        QCOMPARE(
            model.duplicateSelection(),
            (std::set<Url>{Url::file(folder + "/a.jpg", false), Url::file(folder + "/b.jpg", false),
                           Url::file(folder + "/notes/two.txt", false)}));
        // The keeper cannot be selected; choosing a selected copy as keeper deselects it.
        model.toggleDuplicate(Url::file(folder + "/c.jpg", false));
        QCOMPARE(model.duplicateSelection().size(), size_t(3));
        model.chooseDuplicateKeeper(model.duplicateResult()->groups[1].id(),
                                    Url::file(folder + "/notes/two.txt", false));
        QCOMPARE(model.duplicateSelection().size(), size_t(2));

        // Searching again: the photos are unchanged and keep their choices; the notes gained a
        // copy and start over.
        writeFile(folder + "/notes/three.txt", std::string(100, 'n'));
        model.findDuplicates(url);
        QVERIFY(settleExplore(model));
        const DuplicateGroup* photosAgain = groupOf(model, folder + "/a.jpg");
        const DuplicateGroup* notesAgain = groupOf(model, folder + "/notes/one.txt");
        QVERIFY(photosAgain && notesAgain);
        QCOMPARE(model.duplicateKeeper(*photosAgain).name(), std::string("c.jpg"));
        QCOMPARE(model.duplicateKeeper(*notesAgain).name(), std::string("one.txt"));
        QCOMPARE(model.duplicateSelection(), (std::set<Url>{Url::file(folder + "/a.jpg", false),
                                                            Url::file(folder + "/b.jpg", false)}));
    }

    void staleAndStoppedDuplicateSearchesChangeNothing() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;

        gate().close(folder);
        model.findDuplicates(Url::file(folder, true));
        QVERIFY(gate().waitUntilReached());
        model.stopFindingDuplicates();
        QVERIFY(!model.isFindingDuplicates());
        QVERIFY(!model.isBusy());
        QSignalSpy spy(&model, &AppModel::changed);
        gate().open();
        QTest::qWait(300);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(model.duplicateResult(), std::nullopt);

        // Only the newest search lands.
        gate().close(folder);
        model.findDuplicates(Url::file(folder, true));
        QVERIFY(gate().waitUntilReached());
        model.stopFindingDuplicates();
        model.findDuplicates(Url::file(folder + "/notes", true));
        gate().open();
        QVERIFY(settleExplore(model));
        QTest::qWait(300);
        QCOMPARE(model.duplicateFolder(), std::optional<Url>(Url::file(folder + "/notes", true)));
        QCOMPARE(model.duplicateResult()->groups.size(), size_t(1));
    }

    void duplicatesMoveToTrashAfterReviewAndComeBack() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;
        model.findDuplicates(Url::file(folder, true));
        QVERIFY(settleExplore(model));
        model.selectAllDuplicates(true);

        // A copy changed after the search is refused when the plan is prepared.
        writeFile(folder + "/b.jpg", std::string(4096, 'q'));
        model.prepareDuplicateCleanup();
        QVERIFY(model.isWorkingCleanup());
        QVERIFY(settleExplore(model));
        QVERIFY(!model.cleanupPlan());
        QVERIFY(model.error().has_value());
        QVERIFY(exists(folder + "/b.jpg"));
        model.setError(std::nullopt);

        model.findDuplicates(Url::file(folder, true));
        QVERIFY(settleExplore(model));
        model.selectAllDuplicates(true);
        QCOMPARE(model.duplicateSelection().size(), size_t(2)); // c.jpg and notes/two.txt
        model.prepareDuplicateCleanup();
        QVERIFY(settleExplore(model));
        QVERIFY(model.cleanupPlan().has_value());
        QCOMPARE(model.cleanupPlan()->items.size(), size_t(2));
        for (const auto& item : model.cleanupPlan()->items) {
            QCOMPARE(item.category, CleanupCategory::duplicates);
            QVERIFY(item.keeper.has_value());
        }

        model.confirmCleanup(*model.cleanupPlan());
        QVERIFY(settleExplore(model));
        QVERIFY(model.cleanupReport().has_value());
        QVERIFY(!exists(folder + "/c.jpg"));
        QVERIFY(!exists(folder + "/notes/two.txt"));
        QVERIFY(exists(folder + "/a.jpg") && exists(folder + "/notes/one.txt"));
        QVERIFY(model.duplicateResult()->groups.empty());
        QVERIFY(model.duplicateSelection().empty());
        // The cleanup screen's suggestions are not made stale by a duplicate move.
        QVERIFY(!model.needsRescan());

        const TrashReport report = *model.cleanupReport();
        bool done = false;
        std::optional<QString> failure;
        model.restoreItem(report.id, Url::file(folder + "/c.jpg", false),
                          [&](std::optional<QString> error) {
                              done = true;
                              failure = error;
                          });
        QTRY_VERIFY(done);
        QCOMPARE(failure, std::nullopt);
        QVERIFY(exists(folder + "/c.jpg"));
        QVERIFY(!exists(folder + "/notes/two.txt"));
    }

    void aChangedSelectionIsNotMoved() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;
        model.findDuplicates(Url::file(folder, true));
        QVERIFY(settleExplore(model));
        model.selectAllDuplicates(true);
        model.prepareDuplicateCleanup();
        QVERIFY(settleExplore(model));
        const CleanupPlan plan = *model.cleanupPlan();
        // The selection cannot change under an open review; a plan from elsewhere is refused.
        model.toggleDuplicate(Url::file(folder + "/b.jpg", false));
        QCOMPARE(model.duplicateSelection().size(), size_t(3));
        model.setCleanupPlan(std::nullopt);
        model.toggleDuplicate(Url::file(folder + "/b.jpg", false));
        model.setCleanupPlan(plan);
        model.confirmCleanup(plan);
        QVERIFY(!model.isWorkingCleanup());
        QVERIFY(model.error().has_value());
        QVERIFY(exists(folder + "/b.jpg") && exists(folder + "/c.jpg"));
    }

    void volumeFiguresComeFromTheHomeVolume() {
        ScratchHome h;
        ModelFixture f;
        f.model->refreshVolume();
        QVERIFY(f.model->volumeTotal() > 0);
        QVERIFY(f.model->volumeFree() >= 0 && f.model->volumeFree() <= f.model->volumeTotal());
    }
};

QTEST_GUILESS_MAIN(ExploreFlowTest)
#include "ExploreFlowTest.moc"

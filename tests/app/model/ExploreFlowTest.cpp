#include "tests/app/model/ModelTestSupport.hpp"

#include "core/trash/TrashStatus.hpp"

using namespace varnok;
using namespace varnok::testing;

namespace {

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
    for (const auto& group : model.duplicates().duplicateResult()->groups) {
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
        QVERIFY(model.explore().isSample());

        model.explore().scanFolder(Url::file(top, true));
        QVERIFY(model.explore().activeScanURL().has_value());
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        QVERIFY(!model.explore().isSample() && model.cleanup().isDemo());
        QVERIFY(model.explore().duration() > 0);
        QCOMPARE(model.explore().scanURL(), std::optional<Url>(Url::file(top, true)));
        QCOMPARE(namesOf(model.explore().root()), (std::vector<std::string>{"Movies", "Projects"}));
        QCOMPARE(model.explore().scanHighlights().fileCount, std::int64_t(3));
        model.explore().setApparentSize(true); // the bytes the files hold
        QCOMPARE(model.explore().ages()[0], std::int64_t(12001));
        QCOMPARE(model.explore().types()[0] + model.explore().types()[1] +
                     model.explore().types()[2] + model.explore().types()[3],
                 std::int64_t(12001));
        QVERIFY(model.explore().types()[1] >= 9000); // the movie counts as media

        // Opening a folder two levels down keeps each level on the way back.
        model.explore().openFolder(
            childNamed(childNamed(model.explore().root(), "Projects"), "app"));
        QCOMPARE(model.explore().history().size(), size_t(2));
        QCOMPARE(model.explore().currentFolder().name(), std::string("app"));
        QCOMPARE(model.explore().currentFolder().children.size(), size_t(2));
        model.explore().openFolder(
            model.explore().currentFolder().children[0]); // a file: nothing happens
        QCOMPARE(model.explore().history().size(), size_t(2));
        model.explore().navigateTo(1);
        QCOMPARE(model.explore().currentFolder().name(), std::string("Projects"));
        model.explore().navigateTo(0);
        QCOMPARE(model.explore().currentFolder().id, model.explore().root().id);
    }

    void aSavedScanComesBackAsTheScanShowedIt() {
        ScratchHome h;
        const std::string top = h.home + "/top";
        writeFile(top + "/Projects/app/main.cpp", std::string(3000, 'c'));
        writeFile(top + "/Movies/clip.mov", std::string(9000, 'm'));
        const std::string saved = h.home + "/top-scan.json.gz";
        {
            ModelFixture f;
            AppModel& model = *f.model;
            model.explore().saveScan(saved); // the sample is not a scan
            QVERIFY(!exists(saved));
            QVERIFY(f.explore(top));
            model.explore().saveScan(saved);
            QTRY_VERIFY(model.note().has_value());
            QCOMPARE(model.error(), std::nullopt);
        }

        ModelFixture f;
        AppModel& model = *f.model;
        writeFile(h.home + "/not-a-scan.json", "{\"files\": 3}");
        model.explore().loadScan(h.home + "/not-a-scan.json");
        QVERIFY(f.settle());
        QVERIFY(model.error().has_value() && model.explore().isSample());
        model.setError(std::nullopt);

        model.explore().loadScan(saved);
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        QCOMPARE(model.explore().scanURL()->withDirectoryForm(false).path(), top);
        QCOMPARE(model.explore().savedScanFile(), std::optional(QString::fromStdString(saved)));
        QCOMPARE(namesOf(model.explore().root()), (std::vector<std::string>{"Movies", "Projects"}));
        model.explore().setApparentSize(true);
        QCOMPARE(model.explore().shownTree().logicalSize, std::int64_t(12000));

        // A scan made here forgets the file again.
        QVERIFY(f.explore(top));
        QCOMPARE(model.explore().savedScanFile(), std::nullopt);
    }

    void folderScanRefusalsAndFailuresAreMessages() {
        ScratchHome h;
        std::filesystem::create_directories(h.home + "/real");
        std::filesystem::create_directory_symlink(h.home + "/real", h.home + "/link");
        ModelFixture f;
        AppModel& model = *f.model;

        model.explore().scanFolder(Url::file(h.home + "/link", true));
        QCOMPARE(model.error(), text("The scan location must not be a symbolic link."));
        QVERIFY(!model.explore().activeScanURL());
        model.setError(std::nullopt);

        QVERIFY(f.explore(h.home + "/missing"));
        QVERIFY(model.error().has_value() && !model.error()->isEmpty());
        QVERIFY(model.cleanup().isDemo()); // the sample tree is still shown
    }

    void staleAndStoppedFolderScansChangeNothing() {
        ScratchHome h;
        writeFile(h.home + "/slow/big.bin", std::string(500, 's'));
        writeFile(h.home + "/fast/small.bin", "f");
        ModelFixture f;
        AppModel& model = *f.model;

        // A scan stopped while it walks publishes nothing, not even once the walk goes on.
        gate().close(h.home + "/slow");
        model.explore().scanFolder(Url::file(h.home + "/slow", true));
        QVERIFY(gate().waitUntilReached());
        QSignalSpy spy(&model.explore(), &ExploreFlow::changed);
        model.explore().stopFolderScan();
        QVERIFY(!model.explore().activeScanURL());
        spy.clear();
        gate().open();
        QTest::qWait(300);
        QCOMPARE(spy.count(), 0);
        QVERIFY(model.cleanup().isDemo());

        // A run superseded by a newer one: only the newer one's tree lands.
        gate().close(h.home + "/slow");
        model.explore().scanFolder(Url::file(h.home + "/slow", true));
        QVERIFY(gate().waitUntilReached());
        model.explore().stopFolderScan();
        model.explore().scanFolder(Url::file(h.home + "/fast", true));
        gate().open();
        QVERIFY(f.settle());
        QTest::qWait(300);
        QCOMPARE(model.explore().root().name(), std::string("fast"));
    }

    void duplicateChoicesSurviveOnlyAnUnchangedSet() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;
        const Url url = Url::file(folder, true);

        model.duplicates().findDuplicates(url);
        QVERIFY(model.duplicates().isFindingDuplicates());
        QVERIFY(model.isBusy());
        QVERIFY(f.settle());
        QCOMPARE(model.duplicates().duplicateResult()->groups.size(), size_t(2));
        // The largest waste first; the original is kept until the user chooses.
        const DuplicateGroup& photos = model.duplicates().duplicateResult()->groups[0];
        QCOMPARE(photos.extraSize(), std::int64_t(8192));
        QCOMPARE(model.duplicates().duplicateKeeper(photos).name(), std::string("a.jpg"));
        QVERIFY(model.duplicates().duplicateSelection().empty());

        model.duplicates().chooseDuplicateKeeper(photos.id(), Url::file(folder + "/c.jpg", false));
        model.duplicates().selectAllDuplicates(true);
        QCOMPARE(
            model.duplicates().duplicateSelection(),
            (std::set<Url>{Url::file(folder + "/a.jpg", false), Url::file(folder + "/b.jpg", false),
                           Url::file(folder + "/notes/two.txt", false)}));
        // The keeper cannot be selected; choosing a selected copy as keeper deselects it.
        model.duplicates().toggleDuplicate(Url::file(folder + "/c.jpg", false));
        QCOMPARE(model.duplicates().duplicateSelection().size(), size_t(3));
        model.duplicates().chooseDuplicateKeeper(
            model.duplicates().duplicateResult()->groups[1].id(),
            Url::file(folder + "/notes/two.txt", false));
        QCOMPARE(model.duplicates().duplicateSelection().size(), size_t(2));

        // Searching again: the photos are unchanged and keep their choices; the notes gained a
        // copy and start over.
        writeFile(folder + "/notes/three.txt", std::string(100, 'n'));
        model.duplicates().findDuplicates(url);
        QVERIFY(f.settle());
        const DuplicateGroup* photosAgain = groupOf(model, folder + "/a.jpg");
        const DuplicateGroup* notesAgain = groupOf(model, folder + "/notes/one.txt");
        QVERIFY(photosAgain && notesAgain);
        QCOMPARE(model.duplicates().duplicateKeeper(*photosAgain).name(), std::string("c.jpg"));
        QCOMPARE(model.duplicates().duplicateKeeper(*notesAgain).name(), std::string("one.txt"));
        QCOMPARE(model.duplicates().duplicateSelection(),
                 (std::set<Url>{Url::file(folder + "/a.jpg", false),
                                Url::file(folder + "/b.jpg", false)}));
    }

    // A copy named as one is never kept over its original, even when it is older and sorts
    // first; the user may still pick another rule or copy.
    void theOriginalIsKeptUnlessTheUserChoosesOtherwise() {
        ScratchHome h;
        const std::string copy = writeFile(h.home + "/Desktop/IMG_0005 (copy).jpg", "photo");
        const std::string original = writeFile(h.home + "/Pictures/2023/IMG_0005.jpg", "photo");
        std::filesystem::last_write_time(copy, std::filesystem::last_write_time(original) -
                                                   std::chrono::hours(24));
        ModelFixture f;
        AppModel& model = *f.model;
        DuplicatesFlow& duplicates = model.duplicates();
        duplicates.findDuplicates(h.url());
        QVERIFY(f.settle());
        QCOMPARE(duplicates.duplicateResult()->groups.size(), size_t(1));
        const DuplicateGroup& set = duplicates.duplicateResult()->groups[0];
        QCOMPARE(duplicates.keepRule(), KeepRule::original);
        QCOMPARE(duplicates.duplicateKeeper(set).id.path(), original);
        duplicates.selectAllDuplicates(true);
        QCOMPARE(duplicates.duplicateSelection(), std::set<Url>{Url::file(copy, false)});

        // Another rule keeps the first by path, which leaves the selection.
        duplicates.setKeepRule(KeepRule::first);
        QCOMPARE(duplicates.duplicateKeeper(set).id.path(), copy);
        QVERIFY(duplicates.duplicateSelection().empty());
        duplicates.chooseDuplicateKeeper(set.id(), Url::file(original, false));
        QCOMPARE(duplicates.duplicateKeeper(set).id.path(), original);
        // Picking a rule again forgets the hand-made choice.
        duplicates.setKeepRule(KeepRule::oldest);
        QCOMPARE(duplicates.duplicateKeeper(set).id.path(), copy);
    }

    void staleAndStoppedDuplicateSearchesChangeNothing() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;

        gate().close(folder);
        model.duplicates().findDuplicates(Url::file(folder, true));
        QVERIFY(gate().waitUntilReached());
        model.duplicates().stopFindingDuplicates();
        QVERIFY(!model.duplicates().isFindingDuplicates());
        QVERIFY(!model.isBusy());
        QSignalSpy spy(&model.duplicates(), &DuplicatesFlow::changed);
        gate().open();
        QTest::qWait(300);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(model.duplicates().duplicateResult(), std::nullopt);

        // Only the newest search lands.
        gate().close(folder);
        model.duplicates().findDuplicates(Url::file(folder, true));
        QVERIFY(gate().waitUntilReached());
        model.duplicates().stopFindingDuplicates();
        model.duplicates().findDuplicates(Url::file(folder + "/notes", true));
        gate().open();
        QVERIFY(f.settle());
        QTest::qWait(300);
        QCOMPARE(model.duplicates().duplicateFolder(),
                 std::optional<Url>(Url::file(folder + "/notes", true)));
        QCOMPARE(model.duplicates().duplicateResult()->groups.size(), size_t(1));
    }

    void duplicatesMoveOnlyAsReviewedAndComeBack() {
        ScratchHome h;
        const std::string folder = makeDuplicates(h);
        ModelFixture f;
        AppModel& model = *f.model;
        model.duplicates().findDuplicates(Url::file(folder, true));
        QVERIFY(f.settle());
        model.duplicates().selectAllDuplicates(true);

        // A copy changed after the search is refused when the plan is prepared.
        writeFile(folder + "/b.jpg", std::string(4096, 'q'));
        model.duplicates().prepareDuplicateCleanup();
        QVERIFY(model.cleanup().isWorkingCleanup());
        QVERIFY(f.settle());
        QVERIFY(!model.cleanup().cleanupPlan() && model.error().has_value());
        QVERIFY(exists(folder + "/b.jpg"));
        model.setError(std::nullopt);

        model.duplicates().findDuplicates(Url::file(folder, true));
        QVERIFY(f.settle());
        model.duplicates().selectAllDuplicates(true);
        QCOMPARE(model.duplicates().duplicateSelection().size(),
                 size_t(2)); // c.jpg and notes/two.txt
        model.duplicates().prepareDuplicateCleanup();
        QVERIFY(f.settle());
        const CleanupPlan plan = model.cleanup().cleanupPlan().value();
        QCOMPARE(plan.items.size(), size_t(2));
        for (const auto& item : plan.items) {
            QCOMPARE(item.category, CleanupCategory::duplicates);
            QVERIFY(item.keeper.has_value());
        }

        // The selection cannot change under an open review; a plan it no longer matches is
        // refused and moves nothing.
        const Url c = Url::file(folder + "/c.jpg", false);
        model.duplicates().toggleDuplicate(c);
        QCOMPARE(model.duplicates().duplicateSelection().size(), size_t(2));
        model.cleanup().setCleanupPlan(std::nullopt);
        model.duplicates().toggleDuplicate(c);
        model.cleanup().setCleanupPlan(plan);
        model.cleanup().confirmCleanup(plan);
        QVERIFY(!model.cleanup().isWorkingCleanup() && model.error().has_value());
        QVERIFY(exists(folder + "/c.jpg") && exists(folder + "/notes/two.txt"));
        model.setError(std::nullopt);
        model.duplicates().selectAllDuplicates(true);
        model.duplicates().prepareDuplicateCleanup();
        QVERIFY(f.settle());
        model.cleanup().confirmCleanup(*model.cleanup().cleanupPlan());
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupReport().has_value());
        QVERIFY(!exists(folder + "/c.jpg") && !exists(folder + "/notes/two.txt"));
        QVERIFY(exists(folder + "/a.jpg") && exists(folder + "/notes/one.txt"));
        QVERIFY(model.duplicates().duplicateResult()->groups.empty());
        QVERIFY(model.duplicates().duplicateSelection().empty());
        // The cleanup screen's suggestions are not made stale by a duplicate move.
        QVERIFY(!model.cleanup().needsRescan());

        const TrashReport report = *model.cleanup().cleanupReport();
        bool done = false;
        std::optional<QString> failure;
        model.recovery().restoreItem(report.id, c, [&](std::optional<QString> error) {
            done = true;
            failure = error;
        });
        QTRY_VERIFY(done);
        QCOMPARE(failure, std::nullopt);
        QVERIFY(exists(folder + "/c.jpg") && !exists(folder + "/notes/two.txt"));
    }

    // The explorer and the cleanup each keep their own tree: exploring a folder between a cleanup
    // scan and its review, or while its confirmation is open, never makes the plan look stale,
    // and a cleanup scan never empties the explorer.
    void theExplorerAndTheCleanupNeverShareATree() {
        ScratchHome h;
        const std::string pip = h.cache(".cache/pip");
        const std::string projects = h.home + "/Projects";
        writeFile(projects + "/app/main.cpp", std::string(5000, 'c'));
        const std::string music = h.home + "/Music";
        writeFile(music + "/song.ogg", std::string(7000, 's'));
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.scan(h.url()));
        QVERIFY(f.candidate(pip) != nullptr);
        QVERIFY(model.explore().isSample());

        QVERIFY(f.explore(projects));
        model.cleanup().toggleQueue(*f.candidate(pip));
        model.cleanup().prepareCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupPlan().has_value());
        QCOMPARE(model.cleanup().cleanupPlan()->scanRoot, h.url());

        // A folder scan that ends while the confirmation is open.
        QVERIFY(f.explore(music));
        model.cleanup().confirmCleanup(*model.cleanup().cleanupPlan());
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        QVERIFY(model.cleanup().cleanupReport().has_value());
        QCOMPARE(model.cleanup().cleanupReport()->outcomes.at(0).status, TrashStatus::moved);
        QVERIFY(!exists(pip));

        // A cleanup scan leaves the explorer's folder, counts and duration as they were.
        const double duration = model.explore().duration();
        model.cleanup().setCleanupReport(std::nullopt);
        QVERIFY(f.scan(h.url()));
        QCOMPARE(model.explore().scanURL(), std::optional<Url>(Url::file(music, true)));
        QCOMPARE(model.explore().root().fileCount, std::int64_t(1));
        QCOMPARE(model.explore().root().logicalSize, std::int64_t(7000));
        QCOMPARE(model.explore().duration(), duration);
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

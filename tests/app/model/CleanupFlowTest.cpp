#include "tests/app/model/ModelTestSupport.hpp"

#include "core/trash/TrashStatus.hpp"

#include <algorithm>
#include <vector>

using namespace varnok;
using namespace varnok::testing;

namespace {

const std::string spotify = "Library/Caches/com.spotify.client";
const std::string firefox = "Library/Caches/Firefox";
const std::string figma = "Library/Caches/com.figma.Desktop";

TrashStatus statusOf(const TrashReport& report, const std::string& path) {
    for (const auto& outcome : report.outcomes) {
        if (outcome.originalURL.path() == path) {
            return outcome.status;
        }
    }
    return TrashStatus::notAttempted;
}

} // namespace

class CleanupFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { gate().reset(); }

    void preparingNeedsARealFreshSelection() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        ModelFixture f;
        AppModel& model = *f.model;
        QSignalSpy spy(&model.cleanup(), &CleanupFlow::changed);

        // Demo data is never moved.
        model.cleanup().toggleQueue(model.cleanup().candidates()[0]);
        QCOMPARE(model.cleanup().queue().items().size(), size_t(1));
        spy.clear();
        model.cleanup().prepareCleanup();
        QCOMPARE(spy.count(), 0);

        QVERIFY(f.scan(h.url()));
        spy.clear();
        model.cleanup().prepareCleanup(); // empty queue
        QCOMPARE(spy.count(), 0);

        // A selection whose file changed since the scan is refused with the core's reason.
        model.cleanup().toggleQueue(*f.candidate(spotifyPath));
        writeFile(spotifyPath + "/data.bin", "grown since the scan");
        model.cleanup().prepareCleanup();
        QVERIFY(model.cleanup().isWorkingCleanup());
        QCOMPARE(model.cleanup().cleanupStage(), QString("Checking selected items"));
        QVERIFY(f.settle());
        QCOMPARE(model.cleanup().cleanStatus(),
                 text("The selected files need to be checked again."));
        QVERIFY(model.error().has_value() && !model.cleanup().cleanupPlan());
        QVERIFY(model.cleanup().needsRescan() && model.cleanup().queue().items().empty());

        spy.clear();
        model.cleanup().prepareCleanup(); // stale suggestions
        QCOMPARE(spy.count(), 0);

        // Once the message is dismissed a new scan brings fresh suggestions.
        model.setError(std::nullopt);
        model.cleanup().setCleanStatus(std::nullopt);
        QVERIFY(f.scan(h.url()));
        QVERIFY(!model.cleanup().needsRescan());
        model.cleanup().toggleQueue(*f.candidate(spotifyPath));
        model.cleanup().prepareCleanup();
        QVERIFY(f.settle());
        QCOMPARE(model.cleanup().cleanupPlan()->items.size(), size_t(1));
    }

    void confirmingAChangedSelectionIsRefused() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        const std::string firefoxPath = h.cache(firefox);
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.scan(h.url()));
        model.cleanup().toggleQueue(*f.candidate(spotifyPath));
        model.cleanup().toggleQueue(*f.candidate(firefoxPath));
        model.cleanup().prepareCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupPlan().has_value());
        const CleanupPlan plan = *model.cleanup().cleanupPlan();

        model.cleanup().toggleQueue(*f.candidate(firefoxPath));
        model.cleanup().confirmCleanup(plan);
        QCOMPARE(model.error(), text("Your selection changed. Scan again and review the files "
                                     "before cleaning."));
        QVERIFY(!model.cleanup().cleanupPlan() && model.cleanup().queue().items().empty());
        QVERIFY(exists(spotifyPath) && exists(firefoxPath));
    }

    void aPartialMoveKeepsTheFailedItemsQueued() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify, 300);
        const std::string firefoxPath = h.cache(firefox, 200);
        const std::string figmaPath = h.cache(figma, 100);
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.scan(h.url()));
        model.cleanup().selectAvailableCleanItems();
        QCOMPARE(model.cleanup().queue().items().size(), size_t(3));
        model.cleanup().prepareCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupPlan().has_value());

        // The scan root written differently still names the same folder.
        CleanupPlan plan = *model.cleanup().cleanupPlan();
        plan.scanRoot = *Url::parse("file://" + h.home + "/./");
        model.cleanup().setCleanupPlan(plan);
        gate().failingMoves.insert(firefoxPath);
        std::vector<CleanupFlow::MoveProgress> told;
        QObject receiver;
        QObject::connect(&model.cleanup(), &CleanupFlow::changed, &receiver,
                         [&](CleanupFlow::Field field) {
                             const auto& progress = model.cleanup().cleanupProgress();
                             if (field == CleanupFlow::Field::cleanupProgress && progress) {
                                 told.push_back(*progress);
                             }
                         });
        model.cleanup().confirmCleanup(plan);
        QCOMPARE(model.cleanup().cleanupPlan(), std::nullopt);
        QVERIFY(model.cleanup().isWorkingCleanup());
        QCOMPARE(model.cleanup().cleanupStage(), QString("Moving selected items to Trash"));
        QVERIFY(f.settle());
        // The move told how far it came, from the first item on, and the figure goes with it.
        QVERIFY(!told.empty());
        QCOMPARE(told.front().done, size_t(0));
        QCOMPARE(told.front().total, size_t(3));
        QVERIFY(told.front().bytesTotal > 0);
        QVERIFY(std::is_sorted(told.begin(), told.end(),
                               [](const auto& a, const auto& b) { return a.done < b.done; }));
        QVERIFY(!model.cleanup().cleanupProgress().has_value());

        QVERIFY(model.cleanup().cleanupReport().has_value());
        const TrashReport& report = *model.cleanup().cleanupReport();
        QCOMPARE(statusOf(report, spotifyPath), TrashStatus::moved);
        QCOMPARE(statusOf(report, firefoxPath), TrashStatus::failed);
        QVERIFY(!exists(spotifyPath) && exists(firefoxPath));
        QVERIFY(!f.candidate(spotifyPath) && !f.queued(spotifyPath));
        QVERIFY(f.candidate(firefoxPath) && f.queued(firefoxPath));
        QVERIFY(model.cleanup().needsRescan());
        QVERIFY(exists(h.historyFolder() + "/" + report.id.uuidString() + ".json"));

        // Closing the result scans again.
        model.cleanup().setCleanupReport(std::nullopt);
        model.cleanup().refreshAfterCleanup();
        QVERIFY(model.cleanup().isScanning());
        QVERIFY(f.settle());
        QVERIFY(f.candidate(spotifyPath) == nullptr && f.candidate(firefoxPath) != nullptr);
    }

    void restoringUpdatesHistoryAndTheOpenReport() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        h.cache(firefox); // gives a later scan something to walk
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.scan(h.url()));
        model.cleanup().toggleQueue(*f.candidate(spotifyPath));
        model.cleanup().prepareCleanup();
        QVERIFY(f.settle());
        model.cleanup().confirmCleanup(*model.cleanup().cleanupPlan());
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupReport().has_value());
        const Uuid reportID = model.cleanup().cleanupReport()->id;
        const Url original = model.cleanup().cleanupReport()->outcomes[0].originalURL;

        model.recovery().loadCleanupHistory();
        QVERIFY(model.recovery().showRecovery());
        QCOMPARE(model.recovery().cleanupHistory().size(), size_t(1));
        const QUuid revision = model.recovery().recoveryRevision();

        // Refused at once while a scan runs, changing nothing.
        model.recovery().setShowRecovery(false);
        model.cleanup().setCleanupReport(std::nullopt);
        gate().close(h.home);
        model.cleanup().scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        QSignalSpy spy(&model.recovery(), &RecoveryFlow::changed);
        std::optional<QString> refusal;
        model.recovery().restoreItem(reportID, original,
                                     [&](std::optional<QString> error) { refusal = error; });
        QCOMPARE(refusal, text("Another operation is still running."));
        QCOMPARE(spy.count(), 0);
        gate().open();
        QVERIFY(f.settle());
        model.cleanup().setCleanupReport(model.recovery().cleanupHistory()[0]);

        bool done = false;
        std::optional<QString> failure;
        model.recovery().restoreItem(reportID, original, [&](std::optional<QString> error) {
            done = true;
            failure = error;
        });
        QVERIFY(model.recovery().isRestoring() && model.isBusy());
        QTRY_VERIFY(done);
        QCOMPARE(failure, std::nullopt);
        QVERIFY(!model.recovery().isRestoring());
        QVERIFY(exists(spotifyPath + "/data.bin"));
        QCOMPARE(statusOf(model.recovery().cleanupHistory()[0], spotifyPath),
                 TrashStatus::restored);
        QCOMPARE(statusOf(*model.cleanup().cleanupReport(), spotifyPath), TrashStatus::restored);
        QVERIFY(model.recovery().recoveryRevision() != revision);
        QVERIFY(model.cleanup().needsRescan());

        // A second restore is refused by the core; its message reaches the caller.
        done = false;
        const auto before = model.recovery().cleanupHistory()[0].outcomes[0].restoredAt;
        model.recovery().restoreItem(reportID, original, [&](std::optional<QString> error) {
            done = true;
            failure = error;
        });
        QTRY_VERIFY(done);
        QVERIFY(failure.has_value() && !failure->isEmpty());
        QVERIFY(!model.isBusy());
        QCOMPARE(model.recovery().cleanupHistory()[0].outcomes[0].restoredAt, before);
    }

    // Build output found under a folder moves through the same review, history and restore, and
    // a plan whose selection changed moves nothing.
    void projectOutputMovesAndComesBack() {
        ScratchHome h;
        const std::string site = h.home + "/Projects/site";
        writeFile(site + "/package.json", "{}");
        writeFile(site + "/package-lock.json", "{}");
        const std::string modules = writeFile(site + "/node_modules/pad/index.js", "x");
        const std::string engine = h.home + "/Projects/engine";
        writeFile(engine + "/Cargo.toml", "[package]");
        writeFile(engine + "/target/debug/engine", std::string(4000, 'b'));
        ModelFixture f;
        AppModel& model = *f.model;
        ProjectsFlow& projects = model.projects();
        projects.setProjectFolder(Url::file(h.home + "/Projects", true));
        projects.detectProjects();
        QVERIFY(projects.isDetecting() && model.isBusy());
        QVERIFY(f.settle());
        QCOMPARE(projects.projectCandidates()->size(), size_t(2));
        // Largest first: the Rust build output, then the dependencies.
        QCOMPARE(projects.projectCandidates()->at(0).id().path(), engine + "/target");

        // The selection is fixed while its plan is shown.
        projects.selectProject(engine, true);
        projects.prepareProjectCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanup().cleanupPlan().has_value());
        projects.toggleProject(Url::file(engine + "/target", true));
        QCOMPARE(projects.projectSelection().size(), size_t(1));
        model.cleanup().setCleanupPlan(std::nullopt);
        projects.selectAll(false);
        projects.selectProject(site, true);
        projects.prepareProjectCleanup();
        QVERIFY(f.settle());
        const CleanupPlan plan = *model.cleanup().cleanupPlan();
        QCOMPARE(plan.items.size(), size_t(1));
        QCOMPARE(plan.scanRoot, Url::file(h.home + "/Projects", true));
        model.cleanup().confirmCleanup(plan);
        QVERIFY(f.settle());
        QCOMPARE(model.error(), std::nullopt);
        const TrashReport report = *model.cleanup().cleanupReport();
        QCOMPARE(report.outcomes.at(0).status, TrashStatus::moved);
        QVERIFY(!exists(site + "/node_modules") && exists(engine + "/target"));
        QCOMPARE(projects.projectCandidates()->size(), size_t(1));
        QVERIFY(projects.projectSelection().empty());

        model.cleanup().setCleanupReport(std::nullopt);
        model.recovery().loadCleanupHistory();
        bool done = false;
        model.recovery().restoreItem(report.id, report.outcomes[0].originalURL,
                                     [&](std::optional<QString> error) {
                                         QCOMPARE(error, std::nullopt);
                                         done = true;
                                     });
        QTRY_VERIFY(done);
        QVERIFY(exists(modules));

        // A detection that ends while the confirmation is open starts a new selection: the plan
        // no longer matches it and moves nothing.
        projects.detectProjects();
        QVERIFY(f.settle());
        projects.selectProject(site, true);
        projects.prepareProjectCleanup();
        QVERIFY(f.settle());
        const CleanupPlan stale = *model.cleanup().cleanupPlan();
        projects.detectProjects();
        QVERIFY(f.settle());
        model.cleanup().confirmCleanup(stale);
        QVERIFY(f.settle());
        QCOMPARE(model.error(),
                 text("Your selection changed. Review the folders again before moving them."));
        QVERIFY(exists(modules));
    }

    void anUnreadableHistoryIsReported() {
        ScratchHome h;
        ModelFixture f;
        AppModel& model = *f.model;
        // Something that is not a folder where the history folder belongs.
        writeFile(h.historyFolder(), "not a folder");
        model.recovery().loadCleanupHistory();
        QVERIFY(model.error().has_value());
        QVERIFY(!model.recovery().showRecovery());
        QVERIFY(model.recovery().cleanupHistory().empty());
        QVERIFY(!model.canStartCleanScan());
        model.setError(std::nullopt);
        QVERIFY(model.canStartCleanScan());
    }
};

QTEST_GUILESS_MAIN(CleanupFlowTest)
#include "CleanupFlowTest.moc"

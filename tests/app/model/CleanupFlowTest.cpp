#include "tests/app/model/ModelTestSupport.hpp"

#include "core/trash/TrashStatus.hpp"

using namespace varnok;
using namespace varnok::testing;

namespace {

const std::string spotify = "Library/Caches/com.spotify.client";
const std::string firefox = "Library/Caches/Firefox";
const std::string figma = "Library/Caches/com.figma.Desktop";

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

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
        QSignalSpy spy(&model, &AppModel::changed);

        // Demo data is never moved.
        model.toggleQueue(model.candidates()[0]);
        QCOMPARE(model.queue().items().size(), size_t(1));
        spy.clear();
        model.prepareCleanup();
        QCOMPARE(spy.count(), 0);

        QVERIFY(f.scan(h.url()));
        spy.clear();
        model.prepareCleanup(); // empty queue
        QCOMPARE(spy.count(), 0);

        // A selection whose file changed since the scan is refused with the core's reason.
        model.toggleQueue(*f.candidate(spotifyPath));
        writeFile(spotifyPath + "/data.bin", "grown since the scan");
        model.prepareCleanup();
        QVERIFY(model.isWorkingCleanup());
        QCOMPARE(model.cleanupStage(), QString("Checking selected items"));
        QVERIFY(f.settle());
        QCOMPARE(model.cleanStatus(), text("The selected files need to be checked again."));
        QVERIFY(model.error().has_value() && !model.cleanupPlan());
        QVERIFY(model.needsRescan() && model.queue().items().empty());

        spy.clear();
        model.prepareCleanup(); // stale suggestions
        QCOMPARE(spy.count(), 0);

        // Once the message is dismissed a new scan brings fresh suggestions.
        model.setError(std::nullopt);
        model.setCleanStatus(std::nullopt);
        QVERIFY(f.scan(h.url()));
        QVERIFY(!model.needsRescan());
        model.toggleQueue(*f.candidate(spotifyPath));
        model.prepareCleanup();
        QVERIFY(f.settle());
        QCOMPARE(model.cleanupPlan()->items.size(), size_t(1));
    }

    void confirmingAChangedSelectionIsRefused() {
        ScratchHome h;
        const std::string spotifyPath = h.cache(spotify);
        const std::string firefoxPath = h.cache(firefox);
        ModelFixture f;
        AppModel& model = *f.model;
        QVERIFY(f.scan(h.url()));
        model.toggleQueue(*f.candidate(spotifyPath));
        model.toggleQueue(*f.candidate(firefoxPath));
        model.prepareCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanupPlan().has_value());
        const CleanupPlan plan = *model.cleanupPlan();

        model.toggleQueue(*f.candidate(firefoxPath));
        model.confirmCleanup(plan);
        QCOMPARE(model.error(), text("Your selection changed. Scan again and review the files "
                                     "before cleaning."));
        QVERIFY(!model.cleanupPlan() && model.queue().items().empty());
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
        model.selectAvailableCleanItems();
        QCOMPARE(model.queue().items().size(), size_t(3));
        model.prepareCleanup();
        QVERIFY(f.settle());
        QVERIFY(model.cleanupPlan().has_value());

        // The scan root written differently still names the same folder.
        CleanupPlan plan = *model.cleanupPlan();
        plan.scanRoot = *Url::parse("file://" + h.home + "/./");
        model.setCleanupPlan(plan);
        gate().failingMoves.insert(firefoxPath);
        model.confirmCleanup(plan);
        QCOMPARE(model.cleanupPlan(), std::nullopt);
        QVERIFY(model.isWorkingCleanup());
        QCOMPARE(model.cleanupStage(), QString("Moving selected items to Trash"));
        QVERIFY(f.settle());

        QVERIFY(model.cleanupReport().has_value());
        const TrashReport& report = *model.cleanupReport();
        QCOMPARE(statusOf(report, spotifyPath), TrashStatus::moved);
        QCOMPARE(statusOf(report, firefoxPath), TrashStatus::failed);
        QVERIFY(!exists(spotifyPath) && exists(firefoxPath));
        QVERIFY(!f.candidate(spotifyPath) && !f.queued(spotifyPath));
        QVERIFY(f.candidate(firefoxPath) && f.queued(firefoxPath));
        QVERIFY(model.needsRescan());
        QVERIFY(exists(h.historyFolder() + "/" + report.id.uuidString() + ".json"));

        // Closing the result scans again.
        model.setCleanupReport(std::nullopt);
        model.refreshAfterCleanup();
        QVERIFY(model.isScanning());
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
        model.toggleQueue(*f.candidate(spotifyPath));
        model.prepareCleanup();
        QVERIFY(f.settle());
        model.confirmCleanup(*model.cleanupPlan());
        QVERIFY(f.settle());
        QVERIFY(model.cleanupReport().has_value());
        const Uuid reportID = model.cleanupReport()->id;
        const Url original = model.cleanupReport()->outcomes[0].originalURL;

        model.setSearch("cache");
        model.loadCleanupHistory();
        QVERIFY(model.showRecovery());
        QCOMPARE(model.search(), QString());
        QCOMPARE(model.cleanupHistory().size(), size_t(1));
        const QUuid revision = model.recoveryRevision();

        // Refused at once while a scan runs, changing nothing.
        model.setShowRecovery(false);
        model.setCleanupReport(std::nullopt);
        gate().close(h.home);
        model.scanForCleanup(h.url());
        QVERIFY(gate().waitUntilReached());
        QSignalSpy spy(&model, &AppModel::changed);
        std::optional<QString> refusal;
        model.restoreItem(reportID, original,
                          [&](std::optional<QString> error) { refusal = error; });
        QCOMPARE(refusal, text("Another operation is still running."));
        QCOMPARE(spy.count(), 0);
        gate().open();
        QVERIFY(f.settle());
        model.setCleanupReport(model.cleanupHistory()[0]);

        bool done = false;
        std::optional<QString> failure;
        model.restoreItem(reportID, original, [&](std::optional<QString> error) {
            done = true;
            failure = error;
        });
        QVERIFY(model.isWorkingCleanup());
        QCOMPARE(model.cleanupStage(), QString("Restoring the original item"));
        QTRY_VERIFY(done);
        QCOMPARE(failure, std::nullopt);
        QVERIFY(!model.isWorkingCleanup());
        QVERIFY(exists(spotifyPath + "/data.bin"));
        QCOMPARE(statusOf(model.cleanupHistory()[0], spotifyPath), TrashStatus::restored);
        QCOMPARE(statusOf(*model.cleanupReport(), spotifyPath), TrashStatus::restored);
        QVERIFY(model.recoveryRevision() != revision);
        QVERIFY(model.needsRescan());

        // A second restore is refused by the core; its message reaches the caller.
        done = false;
        const auto before = model.cleanupHistory()[0].outcomes[0].restoredAt;
        model.restoreItem(reportID, original, [&](std::optional<QString> error) {
            done = true;
            failure = error;
        });
        QTRY_VERIFY(done);
        QVERIFY(failure.has_value() && !failure->isEmpty());
        QVERIFY(!model.isWorkingCleanup());
        QCOMPARE(model.cleanupHistory()[0].outcomes[0].restoredAt, before);
    }

    void anUnreadableHistoryIsReported() {
        ScratchHome h;
        ModelFixture f;
        AppModel& model = *f.model;
        // Something that is not a folder where the history folder belongs.
        writeFile(h.historyFolder(), "not a folder");
        model.loadCleanupHistory();
        QVERIFY(model.error().has_value());
        QVERIFY(!model.showRecovery());
        QVERIFY(model.cleanupHistory().empty());
        QVERIFY(!model.canStartCleanScan());
        model.setError(std::nullopt);
        QVERIFY(model.canStartCleanScan());
    }
};

QTEST_GUILESS_MAIN(CleanupFlowTest)
#include "CleanupFlowTest.moc"

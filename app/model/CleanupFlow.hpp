#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/cleanup/CleanupCategory.hpp"
#include "core/cleanup/CleanupQueue.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/trash/CleanupPlan.hpp"
#include "core/trash/TrashReport.hpp"
#include "platform/Workspace.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace varnok {

class AppModel;

// The cleanup scan of the home folder's known locations, the user's queue, and the one review
// every cleanup goes through: plan, confirmation, move to Trash and report. The duplicates and
// projects flows hand their selections to `review`; each plan is checked at confirmation against
// the scan root and selection of the flow it came from, never against another flow's tree.
class CleanupFlow : public QObject {
    Q_OBJECT

public:
    // Every published field, in declaration order.
    enum class Field {
        showCloseAppsConfirmation,
        cleanStatus,
        cleanRunning,
        cleanResult,
        cleanScanPath,
        cleanScanCount,
        isWaitingForApps,
        showCleanAccess,
        cleanHome,
        scanRevision,
        isWorkingCleanup,
        cleanupStage,
        cleanupProgress,
        cleanupPlan,
        cleanupReport,
        needsRescan,
        candidates,
        queue,
        candidateFilter,
        showQueuedOnly,
        isDemo,
        isScanning,
    };
    Q_ENUM(Field)

    using AppProvider = std::function<std::vector<CleanupAppSession>()>;

    // Where a plan under review came from. At confirmation the plan must still match `selection`
    // (nothing when the source can no longer be trusted) and `scanRoot`, or `changedMessage` goes
    // to `refused`; a failure's message goes there too, and a report to `applied`.
    struct Origin {
        Url scanRoot;
        std::function<std::optional<std::set<Url>>()> selection;
        std::function<void(const TrashReport&)> applied;
        std::function<void(const QString&)> refused;
        QString changedMessage;
    };

    explicit CleanupFlow(AppModel& shell);
    ~CleanupFlow() override;

    // The three illustrative candidates of the demo state.
    static std::vector<CleanupCandidate> exampleCandidates();

    // ---- Published state, in declaration order ----
    bool showCloseAppsConfirmation() const { return showCloseAppsConfirmation_; }
    const std::optional<QString>& cleanStatus() const { return cleanStatus_; }
    // Candidate URL -> display names of running applications that own it.
    const std::map<Url, QStringList>& cleanRunning() const { return cleanRunning_; }
    int closeWaitAttempts() const { return closeWaitAttempts_; }
    // Nanoseconds before each check of the applications asked to quit.
    std::uint64_t closeWaitInterval() const { return closeWaitInterval_; }
    const std::optional<ConsumerCleanup::Result>& cleanResult() const { return cleanResult_; }
    const QString& cleanScanPath() const { return cleanScanPath_; }
    std::int64_t cleanScanCount() const { return cleanScanCount_; }
    bool isWaitingForApps() const { return isWaitingForApps_; }
    bool showCleanAccess() const { return showCleanAccess_; }
    // The home folder of the last cleanup scan: the root its plans are checked against.
    const Url& cleanHome() const { return cleanHome_; }
    const QUuid& cleanRunToken() const { return cleanRunToken_; }
    // Replaced after each completed cleanup scan so screens reset their per-result state.
    const QUuid& scanRevision() const { return scanRevision_; }
    bool isWorkingCleanup() const { return isWorkingCleanup_; }
    const QString& cleanupStage() const { return cleanupStage_; }
    // How far the running move to the Trash has come; empty before its first item.
    struct MoveProgress {
        std::size_t done = 0;
        std::size_t total = 0;
        std::int64_t bytesDone = 0;
        std::int64_t bytesTotal = 0;
        bool operator==(const MoveProgress&) const = default;
    };
    const std::optional<MoveProgress>& cleanupProgress() const { return cleanupProgress_; }
    const std::optional<CleanupPlan>& cleanupPlan() const { return cleanupPlan_; }
    const std::optional<TrashReport>& cleanupReport() const { return cleanupReport_; }
    bool needsRescan() const { return needsRescan_; }
    const std::vector<CleanupCandidate>& candidates() const { return candidates_; }
    const CleanupQueue& queue() const { return queue_; }
    const std::optional<CleanupCategory>& candidateFilter() const { return candidateFilter_; }
    bool showQueuedOnly() const { return showQueuedOnly_; }
    // The suggestions are the illustrative examples, not a real scan.
    bool isDemo() const { return isDemo_; }
    bool isScanning() const { return isScanning_; }

    void setShowCloseAppsConfirmation(bool value);
    void setCleanStatus(std::optional<QString> value);
    // An empty provider restores the running-application list.
    void setCleanupAppProvider(AppProvider provider);
    void setCloseWaitAttempts(int attempts);
    void setCloseWaitInterval(std::uint64_t nanoseconds);
    void setShowCleanAccess(bool value);
    void setCleanupPlan(std::optional<CleanupPlan> value);
    void setCleanupReport(std::optional<TrashReport> value);
    void setQueue(CleanupQueue value);
    void setCandidateFilter(std::optional<CleanupCategory> value);
    void setShowQueuedOnly(bool value);
    // For tests and the screenshot command: suggestions as if a scan had found them.
    void setCandidates(std::vector<CleanupCandidate> value);

    // Sum of the candidates' logical sizes.
    std::int64_t candidateTotal() const;
    // Whether a prepare or move task is held (the progress view's "Stop" applies).
    bool hasCleanupWorker() const;

    // ---- The cleanup scan ----
    // The main button and the "Scan for cleanup" command: the access introduction first, once.
    void beginCleanScan();
    // The access introduction's "Scan with current access".
    void continueCleanAccess();
    void scanForCleanup(const Url& home);
    void stopCleanScan();
    // Where the background scan's progress reports land, one queued call each. A report of
    // another run than `cleanRunToken`, or after the scan ended, is dropped; counts never go
    // backwards, since reports may be taken up out of order.
    void scanProgressArrived(const QUuid& token, const QString& title, std::int64_t count);
    void refreshCleanRunningApps();
    // The running applications, from `from` or else the provider, that own any of `items`.
    std::vector<CleanupAppSession>
    appsForCleanup(const std::vector<CleanupCandidate>& items,
                   const std::optional<std::vector<CleanupAppSession>>& from = std::nullopt) const;
    void quitAppsAndRescan(const std::vector<CleanupAppSession>& apps);
    void selectAvailableCleanItems();
    void toggleQueue(const CleanupCandidate& candidate);
    // Queues or unqueues several suggestions at once (a group's Select), publishing once.
    void setQueued(const std::vector<CleanupCandidate>& items, bool queued);
    void invalidateCleanReview(const QString& message);
    // When the result sheet or the history has closed: scans again if the suggestions are stale.
    void refreshAfterCleanup();
    // Something outside the scan changed the files (a restore): the suggestions must be scanned
    // again before anything can be selected.
    void markStale();
    void reveal(const CleanupCandidate& candidate);

    // ---- Review, move and report ----
    // Plans the queue against the cleanup scan's own home folder.
    void prepareCleanup();
    // Plans `items` for another flow; its `origin` decides at confirmation.
    void review(std::vector<CleanupCandidate> items, Origin origin);
    void confirmCleanup(const CleanupPlan& plan);
    // The progress view's "Stop": cancels the running prepare or move. The move stops before its
    // next item; what it did stays recorded, and its report is shown like any other.
    void stopCleanup();

signals:
    void changed(varnok::CleanupFlow::Field field);

private:
    struct RunState;

    template <typename T> void publish(T& member, T value, Field field);
    void finishScan(const Url& home, std::optional<ConsumerCleanup::Result> result,
                    std::optional<QString> failure, bool cancelled);
    void checkClosedApps(const QUuid& token);
    void applyCleanupReport(const TrashReport& report);
    void cancelWorker();
    bool canSelect() const;
    std::vector<CleanupAppSession> runningSessions() const;

    AppModel& shell_;
    bool showCloseAppsConfirmation_ = false;
    std::optional<QString> cleanStatus_;
    std::map<Url, QStringList> cleanRunning_;
    AppProvider cleanupAppProvider_;
    int closeWaitAttempts_ = 120;
    std::uint64_t closeWaitInterval_ = 250000000;
    std::optional<ConsumerCleanup::Result> cleanResult_;
    QString cleanScanPath_;
    std::int64_t cleanScanCount_ = 0;
    bool isWaitingForApps_ = false;
    bool showCleanAccess_ = false;
    Url cleanHome_;
    QUuid cleanRunToken_;
    QUuid scanRevision_;
    bool isWorkingCleanup_ = false;
    QString cleanupStage_;
    std::optional<MoveProgress> cleanupProgress_;
    std::optional<CleanupPlan> cleanupPlan_;
    std::optional<TrashReport> cleanupReport_;
    bool needsRescan_ = false;
    std::optional<TaskHandle> cleanupWorker_;
    // Identifies the running prepare or move; a stale one's result is dropped.
    QUuid cleanupToken_;
    std::vector<CleanupCandidate> candidates_;
    CleanupQueue queue_;
    std::optional<CleanupCategory> candidateFilter_;
    bool showQueuedOnly_ = false;
    bool isDemo_ = true;
    bool isScanning_ = false;
    // The current cleanup scan's task, or the timer of the wait for applications.
    std::unique_ptr<RunState> worker_;
    // Where the plan awaiting confirmation came from.
    std::optional<Origin> origin_;
};

} // namespace varnok

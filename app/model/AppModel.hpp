#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/cleanup/CleanupCategory.hpp"
#include "core/cleanup/CleanupQueue.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/FileNode.hpp"
#include "core/scan/ScanHighlights.hpp"
#include "core/scan/ScanResult.hpp"
#include "core/trash/CleanupPlan.hpp"
#include "core/trash/TrashReport.hpp"
#include "core/trash/Uuid.hpp"
#include "platform/Workspace.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

class QTimer;

namespace varnok {

// The pages of the window's navigation.
enum class AppPage { home, explore, cleanup, duplicates, largest, history, settings };

// Folder map styles. The raw value is also the label.
enum class FolderMapMode { treemap, sunburst, flame, bubbles, list };
std::string_view rawValue(FolderMapMode mode);
// Exactly one of the five raw values; nothing otherwise.
std::optional<FolderMapMode> folderMapModeFromRawValue(std::string_view rawValue);

// The single owner of the application's state. Lives on the GUI thread; every operation returns at
// once and long work runs on background tasks whose results come back as queued calls.
//
// Observing: every published field has a getter named as the field and a setter `setX`. Any change
// emits `changed(Field)` naming the field (values with an equality test only when they really
// change). Derived values (isBusy, canStartCleanScan, candidateTotal) have no field of their own:
// re-read them on any change.
//
// Screens show the state and call the operations; the setters exist for the screens' own state
// (page, search, filters, map settings, dismissing a message or a sheet) and for tests.
class AppModel : public QObject {
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
        showRecovery,
        cleanHome,
        scanRevision,
        scanHighlights,
        root,
        isWorkingCleanup,
        cleanupStage,
        cleanupPlan,
        cleanupReport,
        recoveryRevision,
        cleanupHistory,
        needsRescan,
        duplicateResult,
        duplicateKeepers,
        duplicateSelection,
        isFindingDuplicates,
        duplicateProgress,
        page,
        homeScanLocation,
        candidates,
        queue,
        candidateFilter,
        showQueuedOnly,
        activeScanURL,
        showPathScan,
        selected,
        history,
        isDemo,
        isScanning,
        progress,
        ages,
        types,
        searchFocusRequest,
        search,
        mapMode,
        mapDepth,
        mapExpanded,
        error,
        note,
        skippedPaths,
        duration,
        scanURL,
        volumeTotal,
        volumeFree,
    };
    Q_ENUM(Field)

    using AppProvider = std::function<std::vector<CleanupAppSession>()>;
    // Called on the GUI thread when a restore has ended: nothing on success, otherwise the message
    // to show. Not called when the model is destroyed first.
    using RestoreCompletion = std::function<void(std::optional<QString> errorMessage)>;

    // The desktop's services: QSettings for the defaults, D-Bus and the URL opener for the
    // workspace.
    explicit AppModel(QObject* parent = nullptr);
    // Given services, for tests and other desktops. Neither may be null.
    AppModel(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<Workspace> workspace,
             QObject* parent = nullptr);
    // Drops the task handles without cancelling them; their late results are ignored.
    ~AppModel() override;

    // The demo tree rooted at /home/morvel and the three illustrative candidates.
    static FileNode sample();
    static std::vector<CleanupCandidate> exampleCandidates();

    // ---- Published state, in declaration order ----
    bool showCloseAppsConfirmation() const { return showCloseAppsConfirmation_; }
    const std::optional<QString>& cleanStatus() const { return cleanStatus_; }
    // Candidate URL -> display names of running applications that own it.
    const std::map<Url, QStringList>& cleanRunning() const { return cleanRunning_; }
    const AppProvider& cleanupAppProvider() const { return cleanupAppProvider_; }
    int closeWaitAttempts() const { return closeWaitAttempts_; }
    // Nanoseconds before each check of the applications asked to quit.
    std::uint64_t closeWaitInterval() const { return closeWaitInterval_; }
    const std::optional<ConsumerCleanup::Result>& cleanResult() const { return cleanResult_; }
    const QString& cleanScanPath() const { return cleanScanPath_; }
    std::int64_t cleanScanCount() const { return cleanScanCount_; }
    bool isWaitingForApps() const { return isWaitingForApps_; }
    bool showCleanAccess() const { return showCleanAccess_; }
    bool showRecovery() const { return showRecovery_; }
    const Url& cleanHome() const { return cleanHome_; }
    const QUuid& cleanRunToken() const { return cleanRunToken_; }
    const QUuid& scanRevision() const { return scanRevision_; }
    const ScanHighlights& scanHighlights() const { return scanHighlights_; }
    const FileNode& root() const { return root_; }
    bool isWorkingCleanup() const { return isWorkingCleanup_; }
    const QString& cleanupStage() const { return cleanupStage_; }
    const std::optional<CleanupPlan>& cleanupPlan() const { return cleanupPlan_; }
    const std::optional<TrashReport>& cleanupReport() const { return cleanupReport_; }
    const QUuid& recoveryRevision() const { return recoveryRevision_; }
    const std::vector<TrashReport>& cleanupHistory() const { return cleanupHistory_; }
    bool needsRescan() const { return needsRescan_; }
    const std::optional<DuplicateResult>& duplicateResult() const { return duplicateResult_; }
    const std::map<Url, Url>& duplicateKeepers() const { return duplicateKeepers_; }
    const std::set<Url>& duplicateSelection() const { return duplicateSelection_; }
    bool isFindingDuplicates() const { return isFindingDuplicates_; }
    const DuplicateProgress& duplicateProgress() const { return duplicateProgress_; }
    const QUuid& duplicateRunToken() const { return duplicateRunToken_; }
    AppPage page() const { return page_; }
    const Url& homeScanLocation() const { return homeScanLocation_; }
    const std::vector<CleanupCandidate>& candidates() const { return candidates_; }
    const CleanupQueue& queue() const { return queue_; }
    const std::optional<CleanupCategory>& candidateFilter() const { return candidateFilter_; }
    bool showQueuedOnly() const { return showQueuedOnly_; }
    const std::optional<Url>& activeScanURL() const { return activeScanURL_; }
    bool showPathScan() const { return showPathScan_; }
    const QUuid& scanToken() const { return scanToken_; }
    const std::optional<FileNode>& selected() const { return selected_; }
    const std::vector<FileNode>& history() const { return history_; }
    bool isDemo() const { return isDemo_; }
    bool isScanning() const { return isScanning_; }
    const ScanProgress& progress() const { return progress_; }
    const std::array<std::int64_t, 4>& ages() const { return ages_; }
    const std::array<std::int64_t, 4>& types() const { return types_; }
    int searchFocusRequest() const { return searchFocusRequest_; }
    const QString& search() const { return search_; }
    FolderMapMode mapMode() const { return mapMode_; }
    int mapDepth() const { return mapDepth_; }
    bool mapExpanded() const { return mapExpanded_; }
    const std::optional<QString>& error() const { return error_; }
    const std::optional<QString>& note() const { return note_; }
    const QStringList& skippedPaths() const { return skippedPaths_; }
    double duration() const { return duration_; }
    const std::optional<Url>& scanURL() const { return scanURL_; }
    std::int64_t volumeTotal() const { return volumeTotal_; }
    std::int64_t volumeFree() const { return volumeFree_; }

    void setShowCloseAppsConfirmation(bool value);
    void setCleanStatus(std::optional<QString> value);
    void setCleanRunning(std::map<Url, QStringList> value);
    // An empty provider restores the running-application list.
    void setCleanupAppProvider(AppProvider provider);
    void setCloseWaitAttempts(int attempts);
    void setCloseWaitInterval(std::uint64_t nanoseconds);
    void setCleanResult(std::optional<ConsumerCleanup::Result> value);
    void setCleanScanPath(QString value);
    void setCleanScanCount(std::int64_t value);
    void setIsWaitingForApps(bool value);
    void setShowCleanAccess(bool value);
    void setShowRecovery(bool value);
    void setCleanHome(Url value);
    void setScanRevision(QUuid value);
    void setScanHighlights(ScanHighlights value);
    void setRoot(FileNode value);
    void setIsWorkingCleanup(bool value);
    void setCleanupStage(QString value);
    void setCleanupPlan(std::optional<CleanupPlan> value);
    void setCleanupReport(std::optional<TrashReport> value);
    void setRecoveryRevision(QUuid value);
    void setCleanupHistory(std::vector<TrashReport> value);
    void setNeedsRescan(bool value);
    void setDuplicateResult(std::optional<DuplicateResult> value);
    void setDuplicateKeepers(std::map<Url, Url> value);
    void setDuplicateSelection(std::set<Url> value);
    void setIsFindingDuplicates(bool value);
    void setDuplicateProgress(DuplicateProgress value);
    void setPage(AppPage value);
    void setHomeScanLocation(Url value);
    void setCandidates(std::vector<CleanupCandidate> value);
    void setQueue(CleanupQueue value);
    void setCandidateFilter(std::optional<CleanupCategory> value);
    void setShowQueuedOnly(bool value);
    void setActiveScanURL(std::optional<Url> value);
    void setShowPathScan(bool value);
    void setSelected(std::optional<FileNode> value);
    void setHistory(std::vector<FileNode> value);
    void setIsDemo(bool value);
    void setIsScanning(bool value);
    void setProgress(ScanProgress value);
    void setAges(std::array<std::int64_t, 4> value);
    void setTypes(std::array<std::int64_t, 4> value);
    void setSearchFocusRequest(int value);
    void setSearch(QString value);
    void setMapMode(FolderMapMode value);
    void setMapDepth(int value);
    void setMapExpanded(bool value);
    void setError(std::optional<QString> value);
    void setNote(std::optional<QString> value);
    void setSkippedPaths(QStringList value);
    void setDuration(double value);
    void setScanURL(std::optional<Url> value);
    void setVolumeTotal(std::int64_t value);
    void setVolumeFree(std::int64_t value);

    // ---- Derived ----
    bool isBusy() const;
    bool canStartCleanScan() const;
    std::int64_t candidateTotal() const;
    // Whether a prepare, move or restore task is held (the progress view's "Stop" applies).
    bool hasCleanupWorker() const;

    // ---- Cleanup scan flow ----
    // The main button and the "Scan for cleanup" command.
    void beginCleanScan();
    // The access introduction's "Scan with current access".
    void continueCleanAccess();
    // Does nothing where the desktop has no such settings page.
    // Whether the desktop has a page for granting access; none on an ordinary Linux desktop.
    bool canOpenAccessSettings() const;
    void openCleanAccessSettings();
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
    void invalidateCleanReview(const QString& message);
    // When the result sheet or the history has closed (after clearing cleanupReport or
    // showRecovery): scans again if the suggestions are stale.
    void refreshAfterCleanup();
    void reveal(const FileNode& node);
    // Shows a file (a Trash item, for one) in the file manager without the checks of reveal().
    void revealURL(const Url& url);
    // Opens the user's own Trash folder (the home Trash's files) in the file manager.
    void openTrash();

    // ---- Cleanup, history and restore ----
    void prepareCleanup();
    void confirmCleanup(const CleanupPlan& plan);
    // The progress view's "Stop": cancels the running prepare or move. The move stops before its
    // next item; what it did stays recorded in the history, and its report, when one came back,
    // is shown like any other.
    void stopCleanup();
    void loadCleanupHistory();
    // Refused at once (completion called before this returns) while the model is busy.
    void restoreItem(const Uuid& reportID, const Url& originalURL, RestoreCompletion completion);

    // Every published field as JSON text (UTF-8), for tests and the screenshot command.
    QByteArray stateJson() const;

    // ---- Folder explorer, duplicates and volume (AppModelExplore.cpp) ----
    // Scans `folder` in the background for the explorer. Refused while another folder scan runs.
    // `activeScanURL` is set while it runs; `progress` follows it a few times a second. The result
    // replaces `root`, `scanURL`, `ages`, `types`, `scanHighlights`, `skippedPaths` and
    // `duration`, and resets the explorer's navigation.
    void scanFolder(const Url& folder);
    // Cancels the running folder scan; nothing of it is published afterwards.
    void stopFolderScan();
    // Where the background folder scan's reports land; a report of another run is dropped.
    void folderScanProgressArrived(const QUuid& token, const ScanProgress& progress);
    // The folder the explorer shows: the last entry of `history` found again in `root`, else
    // `root`.
    const FileNode& currentFolder() const;
    // Opens a folder below the current one (double click); files and map groups are ignored.
    void openFolder(const FileNode& node);
    // Goes back to a breadcrumb level: 0 is `root`, n the n-th entry of `history`.
    void navigateTo(int level);

    // Scans `folder` and finds byte-identical files in it in the background. Refused while busy.
    void findDuplicates(const Url& folder);
    void stopFindingDuplicates();
    // Where the background search's reports land; a report of another run is dropped.
    void duplicateProgressArrived(const QUuid& token, const DuplicateProgress& progress);
    // The folder of the last completed duplicate search, if any.
    const std::optional<Url>& duplicateFolder() const { return duplicateFolder_; }
    // Keeps `keeper` of the set whose first file is `groupID`; the keeper leaves the selection.
    void chooseDuplicateKeeper(const Url& groupID, const Url& keeper);
    // Selects or deselects one copy; a keeper cannot be selected.
    void toggleDuplicate(const Url& copy);
    // Selects every copy but the keepers, or nothing.
    void selectAllDuplicates(bool all);
    // The kept copy of a set: the chosen one, else the first by path.
    const FileNode& duplicateKeeper(const DuplicateGroup& group) const;
    // Reviews the selected copies as a cleanup plan (`cleanupPlan`); confirming it moves them.
    void prepareDuplicateCleanup();
    // Capacity and free space of the volume holding the home folder.
    void refreshVolume();
    // Whether the full-disk-access introduction was seen; forgetting it shows it before the next
    // cleanup scan again.
    bool accessIntroSeen() const;
    void forgetAccessIntro();

signals:
    void changed(varnok::AppModel::Field field);

private:
    struct RunState;

    template <typename T> void assign(T& member, T value, Field field);
    void startScan(const Url& home, const QUuid& token);
    void finishScan(const QUuid& token, const Url& home,
                    std::optional<ConsumerCleanup::Result> result, std::optional<QString> failure,
                    bool cancelled);
    void checkClosedApps(const QUuid& token);
    void applyCleanupReport(const TrashReport& report);
    // Moves a confirmed plan on a background task. Its report, also of a stopped move, goes to
    // `applied`; the message of a move that could not run goes to `failed`.
    void startMove(const CleanupPlan& plan, void (AppModel::*applied)(const TrashReport&),
                   std::function<void(AppModel&, const QString&)> failed);
    void applyRestoredReport(const Uuid& reportID, const TrashReport& report);
    void cancelWorker();
    Url userHome() const;
    std::vector<CleanupAppSession> runningSessions() const;

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<Workspace> workspace_;

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
    bool showRecovery_ = false;
    Url cleanHome_;
    QUuid cleanRunToken_;
    QUuid scanRevision_;
    ScanHighlights scanHighlights_;
    FileNode root_;
    bool isWorkingCleanup_ = false;
    QString cleanupStage_;
    std::optional<CleanupPlan> cleanupPlan_;
    std::optional<TrashReport> cleanupReport_;
    QUuid recoveryRevision_;
    std::vector<TrashReport> cleanupHistory_;
    bool needsRescan_ = false;
    std::optional<TaskHandle> cleanupWorker_;
    std::optional<DuplicateResult> duplicateResult_;
    std::map<Url, Url> duplicateKeepers_;
    std::set<Url> duplicateSelection_;
    bool isFindingDuplicates_ = false;
    DuplicateProgress duplicateProgress_;
    std::optional<TaskHandle> duplicateWorker_;
    QUuid duplicateRunToken_;
    AppPage page_ = AppPage::home;
    Url homeScanLocation_;
    std::vector<CleanupCandidate> candidates_;
    CleanupQueue queue_;
    std::optional<CleanupCategory> candidateFilter_;
    bool showQueuedOnly_ = false;
    std::optional<Url> activeScanURL_;
    bool showPathScan_ = false;
    QUuid scanToken_;
    std::optional<FileNode> selected_;
    std::vector<FileNode> history_;
    bool isDemo_ = true;
    bool isScanning_ = false;
    ScanProgress progress_;
    std::array<std::int64_t, 4> ages_{24000000000, 36000000000, 18000000000, 42000000000};
    std::array<std::int64_t, 4> types_{48000000000, 36000000000, 24000000000, 12000000000};
    int searchFocusRequest_ = 0;
    QString search_;
    FolderMapMode mapMode_ = FolderMapMode::treemap;
    int mapDepth_ = 2;
    bool mapExpanded_ = false;
    std::optional<QString> error_;
    std::optional<QString> note_;
    QStringList skippedPaths_;
    double duration_ = 0;
    std::optional<Url> scanURL_;
    std::int64_t volumeTotal_ = 512000000000;
    std::int64_t volumeFree_ = 134000000000;
    // The current cleanup scan's task, or the timer of the wait for applications.
    std::unique_ptr<RunState> worker_;

    // ---- Folder explorer and duplicates (AppModelExplore.cpp) ----
    void finishFolderScan(const QUuid& token, const Url& folder, std::optional<ScanResult> result,
                          std::optional<ScanHighlights> highlights, std::optional<QString> failure);
    void finishDuplicates(const QUuid& token, const Url& folder,
                          std::optional<DuplicateResult> result, std::optional<QString> failure);
    void confirmDuplicateCleanup(const CleanupPlan& plan);
    void applyDuplicateReport(const TrashReport& report);
    std::optional<TaskHandle> folderScanWorker_;
    std::optional<Url> duplicateFolder_;
    // The plan prepared from the duplicate selection; confirming it moves duplicates.
    std::optional<Uuid> duplicatePlanID_;
};

} // namespace varnok

#include "app/model/AppModel.hpp"

#include "app/model/DesktopServices.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxTrash.hpp"

#include <type_traits>
#include <utility>

namespace varnok {

std::string_view rawValue(FolderMapMode mode) {
    switch (mode) {
    case FolderMapMode::treemap:
        return "Treemap";
    case FolderMapMode::sunburst:
        return "Sunburst";
    case FolderMapMode::flame:
        return "Flame";
    case FolderMapMode::bubbles:
        return "Bubbles";
    case FolderMapMode::list:
        return "List";
    }
    return "Treemap";
}

std::optional<FolderMapMode> folderMapModeFromRawValue(std::string_view text) {
    for (FolderMapMode mode : {FolderMapMode::treemap, FolderMapMode::sunburst,
                               FolderMapMode::flame, FolderMapMode::bubbles, FolderMapMode::list}) {
        if (rawValue(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

struct AppModel::RunState {};

AppModel::AppModel(QObject* parent)
    : AppModel(std::make_shared<SettingsDefaults>(), std::make_shared<DesktopWorkspace>(), parent) {
}

AppModel::AppModel(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<Workspace> workspace,
                   QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), workspace_(std::move(workspace)),
      cleanupAppProvider_(&CleanupAppSession::current), cleanHome_(userHome()),
      cleanRunToken_(QUuid::createUuid()), scanRevision_(QUuid::createUuid()), root_(sample()),
      recoveryRevision_(QUuid::createUuid()), duplicateRunToken_(QUuid::createUuid()),
      homeScanLocation_(Platform::current().homeDirectory()), candidates_(exampleCandidates()),
      scanToken_(QUuid::createUuid()) {}

AppModel::~AppModel() = default;

namespace {

// Values compared before publishing, so that setting the same value notifies no one. Trees, lists
// of candidates and reports are published on every assignment: comparing them costs more than a
// redraw.
template <typename T>
struct Compared : std::bool_constant<std::is_arithmetic_v<T> || std::is_enum_v<T>> {};
template <typename T> struct Compared<std::optional<T>> : Compared<T> {};
template <> struct Compared<QString> : std::true_type {};
template <> struct Compared<QStringList> : std::true_type {};
template <> struct Compared<QUuid> : std::true_type {};
template <> struct Compared<Url> : std::true_type {};
template <> struct Compared<CleanupCategory> : std::true_type {};
template <> struct Compared<ScanHighlights> : std::true_type {};
template <> struct Compared<std::array<std::int64_t, 4>> : std::true_type {};
template <> struct Compared<std::map<Url, QStringList>> : std::true_type {};
template <> struct Compared<std::map<Url, Url>> : std::true_type {};
template <> struct Compared<std::set<Url>> : std::true_type {};

} // namespace

template <typename T> void AppModel::assign(T& member, T value, Field field) {
    if constexpr (Compared<T>::value) {
        if (member == value) {
            return;
        }
    }
    member = std::move(value);
    emit changed(field);
}

FileNode AppModel::sample() {
    return {};
}
std::vector<CleanupCandidate> AppModel::exampleCandidates() {
    return {};
}

Url AppModel::userHome() const {
    return Platform::current().homeDirectory().standardized();
}

void AppModel::setCleanupAppProvider(AppProvider provider) {
    cleanupAppProvider_ = provider ? std::move(provider) : AppProvider(&CleanupAppSession::current);
}
void AppModel::setCloseWaitAttempts(int attempts) {
    closeWaitAttempts_ = std::max(0, attempts);
}
void AppModel::setCloseWaitInterval(std::uint64_t nanoseconds) {
    closeWaitInterval_ = nanoseconds;
}

void AppModel::setShowCloseAppsConfirmation(bool value) {
    assign(showCloseAppsConfirmation_, std::move(value), Field::showCloseAppsConfirmation);
}

void AppModel::setCleanStatus(std::optional<QString> value) {
    assign(cleanStatus_, std::move(value), Field::cleanStatus);
}

void AppModel::setCleanRunning(std::map<Url, QStringList> value) {
    assign(cleanRunning_, std::move(value), Field::cleanRunning);
}

void AppModel::setCleanResult(std::optional<ConsumerCleanup::Result> value) {
    assign(cleanResult_, std::move(value), Field::cleanResult);
}

void AppModel::setCleanScanPath(QString value) {
    assign(cleanScanPath_, std::move(value), Field::cleanScanPath);
}

void AppModel::setCleanScanCount(std::int64_t value) {
    assign(cleanScanCount_, std::move(value), Field::cleanScanCount);
}

void AppModel::setIsWaitingForApps(bool value) {
    assign(isWaitingForApps_, std::move(value), Field::isWaitingForApps);
}

void AppModel::setShowCleanAccess(bool value) {
    assign(showCleanAccess_, std::move(value), Field::showCleanAccess);
}

void AppModel::setShowRecovery(bool value) {
    assign(showRecovery_, std::move(value), Field::showRecovery);
}

void AppModel::setCleanHome(Url value) {
    assign(cleanHome_, std::move(value), Field::cleanHome);
}

void AppModel::setScanRevision(QUuid value) {
    assign(scanRevision_, std::move(value), Field::scanRevision);
}

void AppModel::setScanHighlights(ScanHighlights value) {
    assign(scanHighlights_, std::move(value), Field::scanHighlights);
}

void AppModel::setRoot(FileNode value) {
    assign(root_, std::move(value), Field::root);
}

void AppModel::setIsWorkingCleanup(bool value) {
    assign(isWorkingCleanup_, std::move(value), Field::isWorkingCleanup);
}

void AppModel::setCleanupStage(QString value) {
    assign(cleanupStage_, std::move(value), Field::cleanupStage);
}

void AppModel::setCleanupPlan(std::optional<CleanupPlan> value) {
    assign(cleanupPlan_, std::move(value), Field::cleanupPlan);
}

void AppModel::setCleanupReport(std::optional<TrashReport> value) {
    assign(cleanupReport_, std::move(value), Field::cleanupReport);
}

void AppModel::setRecoveryRevision(QUuid value) {
    assign(recoveryRevision_, std::move(value), Field::recoveryRevision);
}

void AppModel::setCleanupHistory(std::vector<TrashReport> value) {
    assign(cleanupHistory_, std::move(value), Field::cleanupHistory);
}

void AppModel::setNeedsRescan(bool value) {
    assign(needsRescan_, std::move(value), Field::needsRescan);
}

void AppModel::setDuplicateResult(std::optional<DuplicateResult> value) {
    assign(duplicateResult_, std::move(value), Field::duplicateResult);
}

void AppModel::setDuplicateKeepers(std::map<Url, Url> value) {
    assign(duplicateKeepers_, std::move(value), Field::duplicateKeepers);
}

void AppModel::setDuplicateSelection(std::set<Url> value) {
    assign(duplicateSelection_, std::move(value), Field::duplicateSelection);
}

void AppModel::setIsFindingDuplicates(bool value) {
    assign(isFindingDuplicates_, std::move(value), Field::isFindingDuplicates);
}

void AppModel::setDuplicateProgress(DuplicateProgress value) {
    assign(duplicateProgress_, std::move(value), Field::duplicateProgress);
}

void AppModel::setPage(AppPage value) {
    assign(page_, std::move(value), Field::page);
}

void AppModel::setHomeScanLocation(Url value) {
    assign(homeScanLocation_, std::move(value), Field::homeScanLocation);
}

void AppModel::setCandidates(std::vector<CleanupCandidate> value) {
    assign(candidates_, std::move(value), Field::candidates);
}

void AppModel::setQueue(CleanupQueue value) {
    assign(queue_, std::move(value), Field::queue);
}

void AppModel::setCandidateFilter(std::optional<CleanupCategory> value) {
    assign(candidateFilter_, std::move(value), Field::candidateFilter);
}

void AppModel::setShowQueuedOnly(bool value) {
    assign(showQueuedOnly_, std::move(value), Field::showQueuedOnly);
}

void AppModel::setActiveScanURL(std::optional<Url> value) {
    assign(activeScanURL_, std::move(value), Field::activeScanURL);
}

void AppModel::setShowPathScan(bool value) {
    assign(showPathScan_, std::move(value), Field::showPathScan);
}

void AppModel::setSelected(std::optional<FileNode> value) {
    assign(selected_, std::move(value), Field::selected);
}

void AppModel::setHistory(std::vector<FileNode> value) {
    assign(history_, std::move(value), Field::history);
}

void AppModel::setIsDemo(bool value) {
    assign(isDemo_, std::move(value), Field::isDemo);
}

void AppModel::setIsScanning(bool value) {
    assign(isScanning_, std::move(value), Field::isScanning);
}

void AppModel::setProgress(ScanProgress value) {
    assign(progress_, std::move(value), Field::progress);
}

void AppModel::setAges(std::array<std::int64_t, 4> value) {
    assign(ages_, std::move(value), Field::ages);
}

void AppModel::setTypes(std::array<std::int64_t, 4> value) {
    assign(types_, std::move(value), Field::types);
}

void AppModel::setSearchFocusRequest(int value) {
    assign(searchFocusRequest_, std::move(value), Field::searchFocusRequest);
}

void AppModel::setSearch(QString value) {
    assign(search_, std::move(value), Field::search);
}

void AppModel::setMapMode(FolderMapMode value) {
    assign(mapMode_, std::move(value), Field::mapMode);
}

void AppModel::setMapDepth(int value) {
    assign(mapDepth_, std::move(value), Field::mapDepth);
}

void AppModel::setMapExpanded(bool value) {
    assign(mapExpanded_, std::move(value), Field::mapExpanded);
}

void AppModel::setError(std::optional<QString> value) {
    assign(error_, std::move(value), Field::error);
}

void AppModel::setNote(std::optional<QString> value) {
    assign(note_, std::move(value), Field::note);
}

void AppModel::setSkippedPaths(QStringList value) {
    assign(skippedPaths_, std::move(value), Field::skippedPaths);
}

void AppModel::setDuration(double value) {
    assign(duration_, std::move(value), Field::duration);
}

void AppModel::setScanURL(std::optional<Url> value) {
    assign(scanURL_, std::move(value), Field::scanURL);
}

void AppModel::setVolumeTotal(std::int64_t value) {
    assign(volumeTotal_, std::move(value), Field::volumeTotal);
}

void AppModel::setVolumeFree(std::int64_t value) {
    assign(volumeFree_, std::move(value), Field::volumeFree);
}

bool AppModel::isBusy() const {
    return isScanning_ || isWorkingCleanup_ || isFindingDuplicates_;
}
bool AppModel::canStartCleanScan() const {
    return false;
}
std::int64_t AppModel::candidateTotal() const {
    return 0;
}
bool AppModel::hasCleanupWorker() const {
    return cleanupWorker_.has_value();
}
void AppModel::beginCleanScan() {}
void AppModel::continueCleanAccess() {}
void AppModel::openCleanAccessSettings() {}
void AppModel::scanForCleanup(const Url&) {}
void AppModel::stopCleanScan() {}
void AppModel::refreshCleanRunningApps() {}
std::vector<CleanupAppSession>
AppModel::appsForCleanup(const std::vector<CleanupCandidate>&,
                         const std::optional<std::vector<CleanupAppSession>>&) const {
    return {};
}
void AppModel::quitAppsAndRescan(const std::vector<CleanupAppSession>&) {}
void AppModel::selectAvailableCleanItems() {}
void AppModel::toggleQueue(const CleanupCandidate&) {}
void AppModel::invalidateCleanReview(const QString&) {}
void AppModel::refreshAfterCleanup() {}
void AppModel::reveal(const FileNode&) {}
void AppModel::revealURL(const Url&) {}
void AppModel::prepareCleanup() {}
void AppModel::confirmCleanup(const CleanupPlan&) {}
void AppModel::stopCleanup() {}
void AppModel::loadCleanupHistory() {}
void AppModel::restoreItem(const Uuid&, const Url&, RestoreCompletion) {}
QByteArray AppModel::stateJson() const {
    return "{}";
}

void AppModel::openTrash() {
    workspace_->open(Url::file(LinuxTrash::homeTrashPath() + "/files", true));
}

} // namespace varnok

#include "app/model/AppModel.hpp"
#include "app/model/ModelSupport.hpp"

#include "app/model/DesktopServices.hpp"
#include "core/duplicates/DuplicateResultJson.hpp"
#include "core/scan/FileNodeJson.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxTrash.hpp"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <utility>

namespace varnok {

using model::failureText;
using model::post;
using model::qText;

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

constexpr const char* accessIntroSeenKey = "cleanAccessIntroSeen";

bool terminated(const CleanupAppSession& app) {
    return app.hasTerminated && app.hasTerminated();
}

bool owns(const std::string& bundleID, const std::set<std::string>& owners) {
    for (const std::string& owner : owners) {
        if (bundleID == owner ||
            (bundleID.size() > owner.size() && bundleID.compare(0, owner.size(), owner) == 0 &&
             bundleID[owner.size()] == '.')) {
            return true;
        }
    }
    return false;
}

bool sameFolder(const Url& a, const Url& b) {
    return a.isFileUrl() && b.isFileUrl() &&
           PathText::equal(a.standardized().path(), b.standardized().path());
}

std::set<Url> urlsOf(const std::vector<CleanupCandidate>& items) {
    std::set<Url> urls;
    for (const auto& item : items) {
        urls.insert(item.id());
    }
    return urls;
}

// The wait for applications that were asked to quit: a timer, so the GUI thread never sleeps.
int waitMilliseconds(std::uint64_t nanoseconds) {
    const std::uint64_t ms = (nanoseconds + 999999) / 1000000;
    return static_cast<int>(std::min<std::uint64_t>(ms, std::numeric_limits<int>::max()));
}

} // namespace

// The current cleanup scan's background task, or the wait for applications. Dropping it cancels
// neither: a superseded run is silenced by the token, and a stop cancels explicitly.
struct AppModel::RunState {
    QUuid token;
    std::optional<TaskHandle> task;
    // Owned by the model so it dies with it; deleted later because it may end inside its own
    // timeout.
    QPointer<QTimer> timer;
    std::vector<CleanupAppSession> apps;
    int remaining = 0;

    ~RunState() {
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
    }
};

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

template <typename T> void AppModel::assign(T& member, T value, Field field) {
    if constexpr (Compared<T>::value) {
        if (member == value) {
            return;
        }
    }
    member = std::move(value);
    emit changed(field);
}

// ---- Demo data ----

namespace {

constexpr const char* samplePath = "/home/morvel";

FileNode folder(const std::string& path, std::int64_t size, std::vector<FileNode> children = {}) {
    return FileNode(Url::file(path, true), true, size, 0, std::move(children), 0, 0, false, false,
                    true);
}

FileNode file(const std::string& path, std::int64_t size) {
    return FileNode(Url::file(path, false), false, size, 0, {}, 0, 0, false, false, true);
}

} // namespace

FileNode AppModel::sample() {
    const std::string r = samplePath;
    const std::string local = r + "/.local";
    const std::string share = local + "/share";
    const std::string engine = local + "/src/engine";
    const std::string finance = r + "/Projects/FinanceApp";
    const std::string portfolio = r + "/Projects/Portfolio";
    FileNode root =
        folder(r, 120000000000,
               {
                   folder(local, 60000000000,
                          {
                              folder(share, 32000000000,
                                     {folder(share + "/Steam", 20000000000),
                                      folder(share + "/flatpak", 12000000000)}),
                              folder(local + "/src", 20000000000,
                                     {folder(engine, 20000000000,
                                             {folder(engine + "/build", 18200000000),
                                              folder(engine + "/src", 1800000000)})}),
                              folder(local + "/state", 8000000000),
                          }),
                   folder(r + "/Projects", 30000000000,
                          {
                              folder(finance, 12000000000,
                                     {folder(finance + "/node_modules", 7400000000),
                                      folder(finance + "/.next", 3200000000),
                                      folder(finance + "/Source & assets", 1400000000)}),
                              folder(portfolio, 10000000000,
                                     {folder(portfolio + "/node_modules", 6000000000),
                                      folder(portfolio + "/.next", 3600000000),
                                      folder(portfolio + "/Source & assets", 400000000)}),
                              folder(r + "/Projects/Other projects", 8000000000),
                          }),
                   folder(r + "/Downloads", 15000000000,
                          {folder(r + "/Downloads/Archives", 9000000000),
                           folder(r + "/Downloads/Installers", 4000000000),
                           folder(r + "/Downloads/Documents", 2000000000)}),
                   folder(r + "/Documents", 9000000000,
                          {folder(r + "/Documents/Work", 6000000000),
                           folder(r + "/Documents/Personal", 3000000000)}),
                   folder(r + "/Videos", 6000000000,
                          {file(r + "/Videos/Clips.mkv", 4200000000),
                           file(r + "/Videos/Export.mp4", 1800000000)}),
               });
    root.fileCount = 742351;
    root.folderCount = 38204;
    return root;
}

std::vector<CleanupCandidate> AppModel::exampleCandidates() {
    const std::string r = samplePath;
    const struct {
        std::string path;
        std::int64_t size;
        CleanupCategory category;
    } examples[] = {
        {r + "/.local/src/engine/build", 18200000000, CleanupCategory::builds},
        {r + "/Projects/FinanceApp/node_modules", 7400000000, CleanupCategory::dependencies},
        {r + "/Projects/Portfolio/.next", 3600000000, CleanupCategory::builds},
    };
    std::vector<CleanupCandidate> candidates;
    for (const auto& example : examples) {
        candidates.emplace_back(
            folder(example.path, example.size), example.category, PathText::parent(example.path),
            "Illustrative sample candidate; no real files were inspected.", true);
    }
    return candidates;
}

// ---- Services and settings ----

Url AppModel::userHome() const {
    return Platform::current().homeDirectory().standardized();
}

std::vector<CleanupAppSession> AppModel::runningSessions() const {
    return cleanupAppProvider_ ? cleanupAppProvider_() : std::vector<CleanupAppSession>{};
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

// ---- Published state ----

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

// ---- Derived ----

bool AppModel::isBusy() const {
    return isScanning_ || isWorkingCleanup_ || isFindingDuplicates_;
}

bool AppModel::canStartCleanScan() const {
    return !isBusy() && !cleanupPlan_ && !cleanupReport_ && !showRecovery_ && !showCleanAccess_ &&
           !showPathScan_ && !showCloseAppsConfirmation_ && !note_ && !error_;
}

std::int64_t AppModel::candidateTotal() const {
    std::int64_t total = 0;
    for (const auto& candidate : candidates_) {
        total += candidate.node.logicalSize;
    }
    return total;
}

bool AppModel::hasCleanupWorker() const {
    return cleanupWorker_.has_value();
}

// ---- Cleanup scan ----

void AppModel::beginCleanScan() {
    if (!canStartCleanScan()) {
        return;
    }
    if (defaults_->boolValue(accessIntroSeenKey)) {
        scanForCleanup(userHome());
    } else {
        setShowCleanAccess(true);
    }
}

void AppModel::continueCleanAccess() {
    defaults_->setBoolValue(accessIntroSeenKey, true);
    setShowCleanAccess(false);
    scanForCleanup(cleanResult_ ? cleanHome_ : userHome());
}

bool AppModel::canOpenAccessSettings() const {
    return workspace_->accessSettingsAddress().has_value();
}

void AppModel::openCleanAccessSettings() {
    if (auto address = workspace_->accessSettingsAddress()) {
        workspace_->open(*address);
    }
}

void AppModel::scanForCleanup(const Url& home) {
    if (!canStartCleanScan()) {
        return;
    }
    const Url standardized = home.standardized();
    const QUuid token = QUuid::createUuid();
    cleanRunToken_ = token;
    setIsScanning(true);
    setIsWaitingForApps(false);
    setCleanScanPath(tr("Checking temporary files"));
    setCleanScanCount(0);
    setCleanStatus(std::nullopt);
    if (cleanResult_) {
        setNeedsRescan(true);
    }
    setQueue({});
    startScan(standardized, token);
}

void AppModel::startScan(const Url& home, const QUuid& token) {
    QPointer<AppModel> self(this);
    auto run = std::make_unique<RunState>();
    run->token = token;
    run->task = TaskHandle::start([self, home, token] {
        auto progress = [self, token](const std::string& title, std::int64_t files) {
            post(self, [token, title = qText(title), files](AppModel& model) {
                model.scanProgressArrived(token, title, files);
            });
        };
        std::optional<ConsumerCleanup::Result> result;
        std::optional<QString> failure;
        bool cancelled = false;
        try {
            result = ConsumerCleanup::scan(home, progress);
            cancelled = Task::isCancelled();
        } catch (const CancellationError&) {
            cancelled = true;
        } catch (...) {
            failure = failureText();
        }
        post(self, [token, home, result = std::move(result), failure, cancelled](AppModel& model) {
            model.finishScan(token, home, std::move(result), failure, cancelled);
        });
    });
    worker_ = std::move(run);
}

void AppModel::scanProgressArrived(const QUuid& token, const QString& title, std::int64_t count) {
    if (!isScanning_ || cleanRunToken_ != token) {
        return;
    }
    setCleanScanPath(title);
    setCleanScanCount(std::max(cleanScanCount_, count));
}

void AppModel::finishScan(const QUuid& token, const Url& home,
                          std::optional<ConsumerCleanup::Result> result,
                          std::optional<QString> failure, bool cancelled) {
    if (cleanRunToken_ != token) {
        return;
    }
    if (result && !cancelled) {
        auto candidates = result->candidates;
        setCleanResult(std::move(result));
        setCandidates(std::move(candidates));
        setCleanHome(home);
        setRoot(FileNode(home, true, 0, 0, {}, 0, 0, false, false, true));
        setScanURL(home);
        setIsDemo(false);
        setNeedsRescan(false);
        setScanRevision(QUuid::createUuid());
        refreshCleanRunningApps();
    } else if (failure && !cancelled) {
        setCleanStatus(tr("Scan did not finish. Scan again to get current suggestions."));
        setError(failure);
    }
    // Publishing may have started another run.
    if (cleanRunToken_ == token) {
        worker_.reset();
        setIsScanning(false);
    }
}

void AppModel::cancelWorker() {
    if (worker_ && worker_->task) {
        worker_->task->cancel();
    }
    worker_.reset();
}

void AppModel::stopCleanScan() {
    cancelWorker();
    cleanRunToken_ = QUuid::createUuid();
    setIsScanning(false);
    setIsWaitingForApps(false);
    setCleanStatus(cleanResult_
                       ? tr("Scan canceled. Previous results need a fresh scan before cleaning.")
                       : tr("Scan canceled. No files were removed."));
}

std::vector<CleanupAppSession>
AppModel::appsForCleanup(const std::vector<CleanupCandidate>& items,
                         const std::optional<std::vector<CleanupAppSession>>& from) const {
    std::set<std::string> owners;
    for (const auto& item : items) {
        if (const auto* rule = ConsumerCleanup::rule(item.id(), cleanHome_)) {
            owners.insert(rule->bundleIDs.begin(), rule->bundleIDs.end());
        }
    }
    std::vector<CleanupAppSession> apps = from ? *from : runningSessions();
    std::vector<CleanupAppSession> owning;
    for (auto& app : apps) {
        if (!terminated(app) && owns(app.bundleID, owners)) {
            owning.push_back(std::move(app));
        }
    }
    return owning;
}

void AppModel::refreshCleanRunningApps() {
    if (isWorkingCleanup_ || cleanupPlan_) {
        return;
    }
    const std::vector<CleanupAppSession> running = runningSessions();
    std::map<std::pair<CleanupCategory, std::string>, QStringList> cache;
    std::map<Url, QStringList> lists;
    for (const auto& candidate : candidates_) {
        const auto* rule = ConsumerCleanup::rule(candidate.id(), cleanHome_);
        if (rule == nullptr) {
            lists[candidate.id()] = {};
            continue;
        }
        std::string owners;
        for (const auto& id : rule->bundleIDs) {
            owners += (owners.empty() ? "" : ",") + id;
        }
        const auto key = std::make_pair(candidate.category, owners);
        auto cached = cache.find(key);
        if (cached == cache.end()) {
            // The owners of this one candidate, without copying its scanned tree.
            const std::set<std::string> ids(rule->bundleIDs.begin(), rule->bundleIDs.end());
            QStringList names;
            for (const auto& app : running) {
                if (app.isRegular && !terminated(app) && owns(app.bundleID, ids)) {
                    names.append(qText(app.name));
                }
            }
            names.removeDuplicates();
            std::sort(names.begin(), names.end());
            cached = cache.emplace(key, names).first;
        }
        lists[candidate.id()] = cached->second;
    }
    setCleanRunning(std::move(lists));

    CleanupQueue queue = queue_;
    bool removed = false;
    for (const auto& item : queue_.items()) {
        auto found = cleanRunning_.find(item.id());
        if (found != cleanRunning_.end() && !found->second.isEmpty()) {
            queue.remove(item.id());
            removed = true;
        }
    }
    if (removed) {
        setQueue(std::move(queue));
        setCleanStatus(tr("An app reopened. Its caches were deselected; close the app and scan "
                          "again to clean them."));
    }
}

void AppModel::quitAppsAndRescan(const std::vector<CleanupAppSession>& apps) {
    if (!canStartCleanScan()) {
        return;
    }
    std::vector<CleanupAppSession> open;
    for (const auto& app : apps) {
        if (app.isRegular && !terminated(app)) {
            open.push_back(app);
        }
    }
    if (open.empty()) {
        if (std::all_of(apps.begin(), apps.end(), terminated)) {
            scanForCleanup(cleanHome_);
        } else {
            setNote(tr("A background process is still using these caches. Quit the related app "
                       "completely, then scan again."));
        }
        return;
    }
    const QUuid token = QUuid::createUuid();
    cleanRunToken_ = token;
    setIsScanning(true);
    setIsWaitingForApps(true);
    setNeedsRescan(cleanResult_.has_value());
    setQueue({});
    QStringList names;
    for (const auto& app : open) {
        names.append(qText(app.name));
    }
    setCleanScanPath(tr("Save your work in ") + names.join(QStringLiteral(", ")));
    for (const auto& app : open) {
        if (app.requestQuit) {
            app.requestQuit();
        }
    }

    auto run = std::make_unique<RunState>();
    run->token = token;
    run->apps = apps;
    run->remaining = closeWaitAttempts_;
    run->timer = new QTimer(this);
    run->timer->setInterval(run->remaining == 0 ? 0 : waitMilliseconds(closeWaitInterval_));
    connect(run->timer, &QTimer::timeout, this, [this, token] { checkClosedApps(token); });
    run->timer->start();
    worker_ = std::move(run);
}

void AppModel::checkClosedApps(const QUuid& token) {
    if (!worker_ || worker_->token != token || cleanRunToken_ != token) {
        if (worker_ && worker_->token == token) {
            worker_.reset();
        }
        return;
    }
    if (worker_->remaining > 0) {
        worker_->remaining -= 1;
        if (std::all_of(worker_->apps.begin(), worker_->apps.end(), terminated)) {
            worker_.reset();
            setIsScanning(false);
            setIsWaitingForApps(false);
            scanForCleanup(cleanHome_);
            return;
        }
        if (worker_->remaining > 0) {
            return;
        }
    }
    worker_.reset();
    setIsScanning(false);
    setIsWaitingForApps(false);
    setNote(tr("An app is still open. Save your work and close it, then choose Scan again. Nothing "
               "was force-closed or removed."));
}

void AppModel::selectAvailableCleanItems() {
    if (isScanning_ || isWorkingCleanup_ || isFindingDuplicates_ || needsRescan_ || cleanupPlan_) {
        return;
    }
    refreshCleanRunningApps();
    CleanupQueue queue = queue_;
    for (const auto& candidate : candidates_) {
        auto found = cleanRunning_.find(candidate.id());
        if (found == cleanRunning_.end() || found->second.isEmpty()) {
            queue.add(candidate);
        }
    }
    setQueue(std::move(queue));
}

void AppModel::toggleQueue(const CleanupCandidate& candidate) {
    if (isScanning_ || isWorkingCleanup_ || isFindingDuplicates_ || needsRescan_) {
        return;
    }
    CleanupQueue queue = queue_;
    const auto& items = queue.items();
    if (std::any_of(items.begin(), items.end(),
                    [&](const CleanupCandidate& item) { return item.id() == candidate.id(); })) {
        queue.remove(candidate.id());
    } else {
        queue.add(candidate);
    }
    setQueue(std::move(queue));
}

void AppModel::invalidateCleanReview(const QString& message) {
    setCleanupPlan(std::nullopt);
    setQueue({});
    if (cleanResult_) {
        setNeedsRescan(true);
    }
    setCleanStatus(tr("The selected files need to be checked again."));
    setError(message);
}

void AppModel::refreshAfterCleanup() {
    if (cleanResult_ && needsRescan_ && canStartCleanScan()) {
        scanForCleanup(cleanHome_);
    }
}

void AppModel::reveal(const FileNode& node) {
    if (!node.id.isFileUrl()) {
        setNote(tr("This is a visual group of smaller items. Open it to inspect the individual "
                   "files."));
    } else if (isDemo_) {
        setNote(tr(
            "Sample paths are illustrative. Scan a real folder to use file manager integration."));
    } else {
        workspace_->reveal(node.id);
    }
}

void AppModel::revealURL(const Url& url) {
    if (url.isFileUrl()) {
        workspace_->reveal(url);
    }
}

// ---- Cleanup, history and restore ----

void AppModel::prepareCleanup() {
    if (isScanning_ || isWorkingCleanup_ || isFindingDuplicates_ || isDemo_ || needsRescan_ ||
        queue_.items().empty()) {
        return;
    }
    std::vector<CleanupCandidate> items = queue_.items();
    Url scanRoot = root_.id;
    setIsWorkingCleanup(true);
    setCleanupStage(tr("Checking selected items"));
    QPointer<AppModel> self(this);
    cleanupWorker_ = TaskHandle::start([self, items = std::move(items), scanRoot] {
        std::optional<CleanupPlan> plan;
        std::optional<QString> failure;
        try {
            plan = TrashService::prepare(items, scanRoot);
            if (Task::isCancelled()) {
                plan.reset();
            }
        } catch (const CancellationError&) {
        } catch (...) {
            failure = failureText();
        }
        post(self, [plan = std::move(plan), failure](AppModel& model) {
            model.cleanupWorker_.reset();
            model.setIsWorkingCleanup(false);
            if (plan) {
                model.setCleanupPlan(plan);
            } else if (failure) {
                model.invalidateCleanReview(*failure);
            }
        });
    });
}

void AppModel::confirmCleanup(const CleanupPlan& shownPlan) {
    // A copy: the caller may pass the model's own plan, which is cleared below.
    const CleanupPlan plan = shownPlan;
    if (duplicatePlanID_ && *duplicatePlanID_ == plan.id) {
        confirmDuplicateCleanup(plan);
        return;
    }
    const bool accepted = !isBusy() && !isDemo_ && !needsRescan_ && cleanupPlan_ &&
                          cleanupPlan_->id == plan.id && sameFolder(root_.id, plan.scanRoot) &&
                          urlsOf(queue_.items()) == urlsOf(plan.items);
    if (!accepted) {
        if (!isBusy()) {
            invalidateCleanReview(
                tr("Your selection changed. Scan again and review the files before cleaning."));
        }
        return;
    }
    setCleanupPlan(std::nullopt);
    startMove(plan, &AppModel::applyCleanupReport, [](AppModel& model, const QString& failure) {
        model.invalidateCleanReview(failure);
    });
}

void AppModel::startMove(const CleanupPlan& plan, void (AppModel::*applied)(const TrashReport&),
                         std::function<void(AppModel&, const QString&)> failed) {
    setIsWorkingCleanup(true);
    setCleanupStage(tr("Moving selected items to Trash"));
    const Url historyFolder = TrashService::defaultHistoryFolder();
    QPointer<AppModel> self(this);
    cleanupWorker_ =
        TaskHandle::start([self, plan, historyFolder, applied, failed = std::move(failed)] {
            std::optional<TrashReport> report;
            std::optional<QString> failure;
            try {
                report = TrashService::execute(plan, historyFolder);
            } catch (const CancellationError&) {
            } catch (...) {
                failure = failureText();
            }
            post(self, [report = std::move(report), failure, applied, failed](AppModel& model) {
                model.cleanupWorker_.reset();
                if (report) {
                    // A stopped move still returns what it did.
                    (model.*applied)(*report);
                    return;
                }
                model.setIsWorkingCleanup(false);
                if (failure) {
                    failed(model, *failure);
                }
            });
        });
}

void AppModel::applyCleanupReport(const TrashReport& report) {
    std::set<Url> moved;
    for (const auto& outcome : report.outcomes) {
        if (outcome.status == TrashStatus::moved) {
            moved.insert(outcome.originalURL);
        }
    }
    std::vector<CleanupCandidate> kept;
    CleanupQueue queue = queue_;
    for (const auto& candidate : candidates_) {
        if (moved.count(candidate.id()) != 0) {
            queue.remove(candidate.id());
        } else {
            kept.push_back(candidate);
        }
    }
    setCandidates(std::move(kept));
    setQueue(std::move(queue));
    setNeedsRescan(true);
    setIsWorkingCleanup(false);
    setCleanupReport(report);
}

void AppModel::stopCleanup() {
    if (cleanupWorker_) {
        cleanupWorker_->cancel();
    }
}

void AppModel::loadCleanupHistory() {
    if (isScanning_ || isWorkingCleanup_ || isFindingDuplicates_) {
        return;
    }
    std::vector<TrashReport> reports;
    try {
        reports = TrashService::history(TrashService::defaultHistoryFolder());
    } catch (...) {
        setError(failureText());
        return;
    }
    setCleanupHistory(std::move(reports));
    setRecoveryRevision(QUuid::createUuid());
    setShowRecovery(true);
    setSearch(QString());
}

void AppModel::restoreItem(const Uuid& reportID, const Url& originalURL,
                           RestoreCompletion completion) {
    if (isBusy()) {
        if (completion) {
            completion(tr("Another operation is still running."));
        }
        return;
    }
    setIsWorkingCleanup(true);
    setCleanupStage(tr("Restoring the original item"));
    const Url historyFolder = TrashService::defaultHistoryFolder();
    QPointer<AppModel> self(this);
    cleanupWorker_ = TaskHandle::start([self, reportID, originalURL, historyFolder,
                                        completion = std::move(completion)] {
        std::optional<TrashReport> report;
        std::optional<QString> failure;
        try {
            report = TrashService::restore(reportID, originalURL, historyFolder);
        } catch (...) {
            failure = failureText();
        }
        post(self, [reportID, report = std::move(report), failure, completion](AppModel& model) {
            model.cleanupWorker_.reset();
            if (report) {
                model.applyRestoredReport(reportID, *report);
            } else {
                model.setIsWorkingCleanup(false);
            }
            if (completion) {
                completion(failure);
            }
        });
    });
}

void AppModel::applyRestoredReport(const Uuid& reportID, const TrashReport& report) {
    std::vector<TrashReport> history = cleanupHistory_;
    for (auto& entry : history) {
        if (entry.id == reportID) {
            entry = report;
        }
    }
    setCleanupHistory(std::move(history));
    if (cleanupReport_ && cleanupReport_->id == reportID) {
        setCleanupReport(report);
    }
    setNeedsRescan(true);
    setRecoveryRevision(QUuid::createUuid());
    setIsWorkingCleanup(false);
}

// ---- Debug dump ----

namespace {

using nlohmann::json;

json text(const QString& value) {
    return value.toStdString();
}

template <typename T, typename F> json optional(const std::optional<T>& value, F&& convert) {
    return value ? convert(*value) : json(nullptr);
}

json urlText(const Url& url) {
    return url.absoluteString();
}

json planJson(const CleanupPlan& plan) {
    return {{"id", plan.id.uuidString()},
            {"createdAt", referenceSeconds(plan.createdAt)},
            {"items", plan.items},
            {"scanRoot", plan.scanRoot.absoluteString()}};
}

json cleanResultJson(const ConsumerCleanup::Result& result) {
    return {{"candidates", result.candidates},
            {"unreadable", result.unreadable},
            {"checkedLocations", result.checkedLocations},
            {"checkedFiles", result.checkedFiles}};
}

const char* pageName(AppPage page) {
    switch (page) {
    case AppPage::home:
        return "home";
    case AppPage::explore:
        return "explore";
    case AppPage::cleanup:
        return "cleanup";
    case AppPage::duplicates:
        return "duplicates";
    case AppPage::largest:
        return "largest";
    case AppPage::history:
        return "history";
    case AppPage::settings:
        return "settings";
    }
    return "home";
}

} // namespace

QByteArray AppModel::stateJson() const {
    json state = json::object();
    auto texts = [](const QStringList& list) {
        json array = json::array();
        for (const auto& item : list) {
            array.push_back(item.toStdString());
        }
        return array;
    };
    auto token = [](const QUuid& uuid) {
        return uuid.toString(QUuid::WithoutBraces).toStdString();
    };

    state["showCloseAppsConfirmation"] = showCloseAppsConfirmation_;
    state["cleanStatus"] = optional(cleanStatus_, text);
    json running = json::object();
    for (const auto& [url, names] : cleanRunning_) {
        running[url.absoluteString()] = texts(names);
    }
    state["cleanRunning"] = running;
    state["cleanResult"] = optional(cleanResult_, cleanResultJson);
    state["cleanScanPath"] = text(cleanScanPath_);
    state["cleanScanCount"] = cleanScanCount_;
    state["isWaitingForApps"] = isWaitingForApps_;
    state["showCleanAccess"] = showCleanAccess_;
    state["showRecovery"] = showRecovery_;
    state["cleanHome"] = urlText(cleanHome_);
    state["scanRevision"] = token(scanRevision_);
    state["scanHighlights"] = {{"fileCount", scanHighlights_.fileCount},
                               {"largeFileCount", scanHighlights_.largeFileCount},
                               {"largeFileBytes", scanHighlights_.largeFileBytes}};
    state["root"] = root_;
    state["isWorkingCleanup"] = isWorkingCleanup_;
    state["cleanupStage"] = text(cleanupStage_);
    state["cleanupPlan"] = optional(cleanupPlan_, planJson);
    state["cleanupReport"] = optional(cleanupReport_, [](const TrashReport& r) { return json(r); });
    state["recoveryRevision"] = token(recoveryRevision_);
    state["cleanupHistory"] = cleanupHistory_;
    state["needsRescan"] = needsRescan_;
    state["duplicateResult"] =
        optional(duplicateResult_, [](const DuplicateResult& r) { return json(r); });
    json keepers = json::object();
    for (const auto& [group, keeper] : duplicateKeepers_) {
        keepers[group.absoluteString()] = keeper.absoluteString();
    }
    state["duplicateKeepers"] = keepers;
    json selection = json::array();
    for (const auto& url : duplicateSelection_) {
        selection.push_back(url.absoluteString());
    }
    state["duplicateSelection"] = selection;
    state["isFindingDuplicates"] = isFindingDuplicates_;
    state["duplicateProgress"] = {{"phase", duplicateProgress_.phase},
                                  {"checked", duplicateProgress_.checked},
                                  {"total", duplicateProgress_.total},
                                  {"bytesRead", duplicateProgress_.bytesRead}};
    state["page"] = pageName(page_);
    state["homeScanLocation"] = urlText(homeScanLocation_);
    state["candidates"] = candidates_;
    state["queue"] = queue_.items();
    state["candidateFilter"] = optional(
        candidateFilter_, [](CleanupCategory c) { return json(std::string(c.rawValue())); });
    state["showQueuedOnly"] = showQueuedOnly_;
    state["activeScanURL"] = optional(activeScanURL_, urlText);
    state["showPathScan"] = showPathScan_;
    state["selected"] = optional(selected_, [](const FileNode& n) { return json(n); });
    state["history"] = history_;
    state["isDemo"] = isDemo_;
    state["isScanning"] = isScanning_;
    state["progress"] = {{"fileCount", progress_.fileCount},
                         {"folderCount", progress_.folderCount},
                         {"logicalSize", progress_.logicalSize},
                         {"currentPath", progress_.currentPath},
                         {"phase", progress_.phase}};
    state["ages"] = ages_;
    state["types"] = types_;
    state["searchFocusRequest"] = searchFocusRequest_;
    state["search"] = text(search_);
    state["mapMode"] = std::string(rawValue(mapMode_));
    state["mapDepth"] = mapDepth_;
    state["mapExpanded"] = mapExpanded_;
    state["error"] = optional(error_, text);
    state["note"] = optional(note_, text);
    state["skippedPaths"] = texts(skippedPaths_);
    state["duration"] = duration_;
    state["scanURL"] = optional(scanURL_, urlText);
    state["volumeTotal"] = volumeTotal_;
    state["volumeFree"] = volumeFree_;
    // Derived values, for checks that read only the dump.
    state["isBusy"] = isBusy();
    state["canStartCleanScan"] = canStartCleanScan();
    state["candidateTotal"] = candidateTotal();
    const std::string dumped = state.dump(2, ' ', false, json::error_handler_t::replace);
    return QByteArray(dumped.data(), static_cast<qsizetype>(dumped.size()));
}

void AppModel::openTrash() {
    workspace_->open(Url::file(LinuxTrash::homeTrashPath() + "/files", true));
}

} // namespace varnok

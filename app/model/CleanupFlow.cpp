#include "app/model/CleanupFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <utility>

namespace varnok {

using model::post;
using model::qText;

namespace model {
template <> struct Compared<CleanupCategory> : std::true_type {};
} // namespace model

namespace {

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

Url userHome() {
    return Platform::current().homeDirectory().standardized();
}

constexpr const char* samplePath = "/home/morvel";

} // namespace

// The current cleanup scan's background task, or the wait for applications. Dropping it cancels
// neither: a superseded run is silenced by the token, and a stop cancels explicitly.
struct CleanupFlow::RunState {
    QUuid token;
    std::optional<TaskHandle> task;
    // Owned by the flow so it dies with it; deleted later because it may end inside its own
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

CleanupFlow::CleanupFlow(AppModel& shell)
    : shell_(shell), cleanupAppProvider_(&CleanupAppSession::current), cleanHome_(userHome()),
      cleanRunToken_(QUuid::createUuid()), scanRevision_(QUuid::createUuid()),
      cleanupToken_(QUuid::createUuid()), candidates_(exampleCandidates()) {}

CleanupFlow::~CleanupFlow() = default;

template <typename T> void CleanupFlow::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

std::vector<CleanupCandidate> CleanupFlow::exampleCandidates() {
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
        candidates.emplace_back(FileNode(Url::file(example.path, true), true, example.size, 0, {},
                                         0, 0, false, false, true),
                                example.category, PathText::parent(example.path),
                                "Illustrative sample candidate; no real files were inspected.",
                                true);
    }
    return candidates;
}

// ---- Published state ----

void CleanupFlow::setShowCloseAppsConfirmation(bool value) {
    publish(showCloseAppsConfirmation_, value, Field::showCloseAppsConfirmation);
}

void CleanupFlow::setCleanStatus(std::optional<QString> value) {
    publish(cleanStatus_, std::move(value), Field::cleanStatus);
}

void CleanupFlow::setCleanupAppProvider(AppProvider provider) {
    cleanupAppProvider_ = provider ? std::move(provider) : AppProvider(&CleanupAppSession::current);
}

void CleanupFlow::setCloseWaitAttempts(int attempts) {
    closeWaitAttempts_ = std::max(0, attempts);
}

void CleanupFlow::setCloseWaitInterval(std::uint64_t nanoseconds) {
    closeWaitInterval_ = nanoseconds;
}

void CleanupFlow::setShowCleanAccess(bool value) {
    publish(showCleanAccess_, value, Field::showCleanAccess);
}

void CleanupFlow::setCleanupPlan(std::optional<CleanupPlan> value) {
    if (!value) {
        origin_.reset();
    }
    publish(cleanupPlan_, std::move(value), Field::cleanupPlan);
}

void CleanupFlow::setCleanupReport(std::optional<TrashReport> value) {
    publish(cleanupReport_, std::move(value), Field::cleanupReport);
}

void CleanupFlow::setQueue(CleanupQueue value) {
    publish(queue_, std::move(value), Field::queue);
}

void CleanupFlow::setCandidateFilter(std::optional<CleanupCategory> value) {
    publish(candidateFilter_, std::move(value), Field::candidateFilter);
}

void CleanupFlow::setShowQueuedOnly(bool value) {
    publish(showQueuedOnly_, value, Field::showQueuedOnly);
}

void CleanupFlow::setCandidates(std::vector<CleanupCandidate> value) {
    publish(candidates_, std::move(value), Field::candidates);
}

std::int64_t CleanupFlow::candidateTotal() const {
    std::int64_t total = 0;
    for (const auto& candidate : candidates_) {
        total += candidate.node.logicalSize;
    }
    return total;
}

bool CleanupFlow::hasCleanupWorker() const {
    return cleanupWorker_.has_value();
}

std::vector<CleanupAppSession> CleanupFlow::runningSessions() const {
    return cleanupAppProvider_ ? cleanupAppProvider_() : std::vector<CleanupAppSession>{};
}

// ---- The cleanup scan ----

void CleanupFlow::beginCleanScan() {
    if (!shell_.canStartCleanScan()) {
        return;
    }
    if (shell_.accessIntroSeen()) {
        scanForCleanup(userHome());
    } else {
        setShowCleanAccess(true);
    }
}

void CleanupFlow::continueCleanAccess() {
    shell_.setAccessIntroSeen(true);
    setShowCleanAccess(false);
    scanForCleanup(cleanResult_ ? cleanHome_ : userHome());
}

void CleanupFlow::scanForCleanup(const Url& home) {
    if (!shell_.canStartCleanScan()) {
        return;
    }
    const Url standardized = home.standardized();
    const QUuid token = QUuid::createUuid();
    cleanRunToken_ = token;
    publish(isScanning_, true, Field::isScanning);
    publish(isWaitingForApps_, false, Field::isWaitingForApps);
    publish(cleanScanPath_, tr("Checking temporary files"), Field::cleanScanPath);
    publish(cleanScanCount_, std::int64_t{0}, Field::cleanScanCount);
    setCleanStatus(std::nullopt);
    if (cleanResult_) {
        publish(needsRescan_, true, Field::needsRescan);
    }
    setQueue({});

    QPointer<CleanupFlow> self(this);
    auto run = std::make_unique<RunState>();
    run->token = token;
    run->task = model::runInBackground(
        this, &CleanupFlow::cleanRunToken_, token,
        [self, standardized, token] {
            return ConsumerCleanup::scan(
                standardized, [self, token](const std::string& title, std::int64_t files) {
                    post(self, [token, title = qText(title), files](CleanupFlow& flow) {
                        flow.scanProgressArrived(token, title, files);
                    });
                });
        },
        [standardized](CleanupFlow& flow, model::Outcome<ConsumerCleanup::Result> outcome) {
            flow.finishScan(standardized, std::move(outcome.value), outcome.failure,
                            outcome.cancelled);
        });
    worker_ = std::move(run);
}

void CleanupFlow::scanProgressArrived(const QUuid& token, const QString& title,
                                      std::int64_t count) {
    if (!isScanning_ || cleanRunToken_ != token) {
        return;
    }
    publish(cleanScanPath_, title, Field::cleanScanPath);
    publish(cleanScanCount_, std::max(cleanScanCount_, count), Field::cleanScanCount);
}

void CleanupFlow::finishScan(const Url& home, std::optional<ConsumerCleanup::Result> result,
                             std::optional<QString> failure, bool cancelled) {
    const QUuid token = cleanRunToken_;
    if (result && !cancelled) {
        auto candidates = result->candidates;
        publish(cleanResult_, std::move(result), Field::cleanResult);
        setCandidates(std::move(candidates));
        publish(cleanHome_, home, Field::cleanHome);
        publish(isDemo_, false, Field::isDemo);
        publish(needsRescan_, false, Field::needsRescan);
        publish(scanRevision_, QUuid::createUuid(), Field::scanRevision);
        refreshCleanRunningApps();
    } else if (failure && !cancelled) {
        setCleanStatus(tr("Scan did not finish. Scan again to get current suggestions."));
        shell_.setError(failure);
    }
    // Publishing may have started another run.
    if (cleanRunToken_ == token) {
        worker_.reset();
        publish(isScanning_, false, Field::isScanning);
    }
}

void CleanupFlow::cancelWorker() {
    if (worker_ && worker_->task) {
        worker_->task->cancel();
    }
    worker_.reset();
}

void CleanupFlow::stopCleanScan() {
    cancelWorker();
    cleanRunToken_ = QUuid::createUuid();
    publish(isScanning_, false, Field::isScanning);
    publish(isWaitingForApps_, false, Field::isWaitingForApps);
    setCleanStatus(cleanResult_
                       ? tr("Scan canceled. Previous results need a fresh scan before cleaning.")
                       : tr("Scan canceled. No files were removed."));
}

std::vector<CleanupAppSession>
CleanupFlow::appsForCleanup(const std::vector<CleanupCandidate>& items,
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

void CleanupFlow::refreshCleanRunningApps() {
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
    publish(cleanRunning_, std::move(lists), Field::cleanRunning);

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

void CleanupFlow::quitAppsAndRescan(const std::vector<CleanupAppSession>& apps) {
    if (!shell_.canStartCleanScan()) {
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
            shell_.setNote(tr("A background process is still using these caches. Quit the "
                              "related app completely, then scan again."));
        }
        return;
    }
    const QUuid token = QUuid::createUuid();
    cleanRunToken_ = token;
    publish(isScanning_, true, Field::isScanning);
    publish(isWaitingForApps_, true, Field::isWaitingForApps);
    publish(needsRescan_, cleanResult_.has_value(), Field::needsRescan);
    setQueue({});
    QStringList names;
    for (const auto& app : open) {
        names.append(qText(app.name));
    }
    publish(cleanScanPath_, tr("Save your work in ") + names.join(QStringLiteral(", ")),
            Field::cleanScanPath);
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

void CleanupFlow::checkClosedApps(const QUuid& token) {
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
            publish(isScanning_, false, Field::isScanning);
            publish(isWaitingForApps_, false, Field::isWaitingForApps);
            scanForCleanup(cleanHome_);
            return;
        }
        if (worker_->remaining > 0) {
            return;
        }
    }
    worker_.reset();
    publish(isScanning_, false, Field::isScanning);
    publish(isWaitingForApps_, false, Field::isWaitingForApps);
    shell_.setNote(tr("An app is still open. Save your work and close it, then choose Scan again. "
                      "Nothing was force-closed or removed."));
}

bool CleanupFlow::canSelect() const {
    return !shell_.isBusy() && !needsRescan_;
}

void CleanupFlow::selectAvailableCleanItems() {
    if (!canSelect() || cleanupPlan_) {
        return;
    }
    refreshCleanRunningApps();
    CleanupQueue queue = queue_;
    for (const auto& candidate : candidates_) {
        // Folders offered only by the base-directory rule are chosen one by one.
        if (candidate.manualOnly) {
            continue;
        }
        auto found = cleanRunning_.find(candidate.id());
        if (found == cleanRunning_.end() || found->second.isEmpty()) {
            queue.add(candidate);
        }
    }
    setQueue(std::move(queue));
}

void CleanupFlow::toggleQueue(const CleanupCandidate& candidate) {
    if (!canSelect()) {
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

void CleanupFlow::setQueued(const std::vector<CleanupCandidate>& items, bool queued) {
    if (!canSelect()) {
        return;
    }
    CleanupQueue queue = queue_;
    for (const auto& item : items) {
        if (queued) {
            queue.add(item);
        } else {
            queue.remove(item.id());
        }
    }
    setQueue(std::move(queue));
}

void CleanupFlow::invalidateCleanReview(const QString& message) {
    setCleanupPlan(std::nullopt);
    setQueue({});
    if (cleanResult_) {
        publish(needsRescan_, true, Field::needsRescan);
    }
    setCleanStatus(tr("The selected files need to be checked again."));
    shell_.setError(message);
}

void CleanupFlow::refreshAfterCleanup() {
    if (cleanResult_ && needsRescan_ && shell_.canStartCleanScan()) {
        scanForCleanup(cleanHome_);
    }
}

void CleanupFlow::markStale() {
    if (cleanResult_) {
        publish(needsRescan_, true, Field::needsRescan);
    }
}

void CleanupFlow::reveal(const CleanupCandidate& candidate) {
    shell_.reveal(candidate.node, candidate.isExample);
}

// ---- Review, move and report ----

void CleanupFlow::prepareCleanup() {
    if (isDemo_ || needsRescan_ || queue_.items().empty()) {
        return;
    }
    review(queue_.items(),
           Origin{cleanHome_,
                  [this]() -> std::optional<std::set<Url>> {
                      if (isDemo_ || needsRescan_) {
                          return std::nullopt;
                      }
                      return urlsOf(queue_.items());
                  },
                  [this](const TrashReport& report) { applyCleanupReport(report); },
                  [this](const QString& message) { invalidateCleanReview(message); },
                  tr("Your selection changed. Scan again and review the files before cleaning.")});
}

void CleanupFlow::review(std::vector<CleanupCandidate> items, Origin origin) {
    if (shell_.isBusy() || cleanupPlan_ || items.empty()) {
        return;
    }
    const Url scanRoot = origin.scanRoot;
    const QUuid token = QUuid::createUuid();
    cleanupToken_ = token;
    publish(isWorkingCleanup_, true, Field::isWorkingCleanup);
    publish(cleanupStage_, tr("Checking selected items"), Field::cleanupStage);
    cleanupWorker_ = model::runInBackground(
        this, &CleanupFlow::cleanupToken_, token,
        [items = std::move(items), scanRoot] { return TrashService::prepare(items, scanRoot); },
        [origin = std::move(origin)](CleanupFlow& flow, model::Outcome<CleanupPlan> outcome) {
            flow.cleanupWorker_.reset();
            flow.publish(flow.isWorkingCleanup_, false, Field::isWorkingCleanup);
            if (outcome.value && !outcome.cancelled) {
                flow.origin_ = origin;
                flow.publish(flow.cleanupPlan_, std::move(outcome.value), Field::cleanupPlan);
            } else if (outcome.failure && !outcome.cancelled) {
                origin.refused(*outcome.failure);
            }
        });
}

void CleanupFlow::confirmCleanup(const CleanupPlan& shownPlan) {
    // Copies: the caller may pass the flow's own plan, which is cleared below.
    const CleanupPlan plan = shownPlan;
    if (shell_.isBusy()) {
        return;
    }
    const std::optional<Origin> origin = origin_;
    std::optional<std::set<Url>> selection;
    if (origin) {
        selection = origin->selection();
    }
    const bool accepted = origin && cleanupPlan_ && cleanupPlan_->id == plan.id &&
                          sameFolder(origin->scanRoot, plan.scanRoot) && selection &&
                          *selection == urlsOf(plan.items);
    setCleanupPlan(std::nullopt);
    if (!accepted) {
        if (origin) {
            origin->refused(origin->changedMessage);
        } else {
            invalidateCleanReview(
                tr("Your selection changed. Scan again and review the files before cleaning."));
        }
        return;
    }
    const QUuid token = QUuid::createUuid();
    cleanupToken_ = token;
    publish(isWorkingCleanup_, true, Field::isWorkingCleanup);
    publish(cleanupStage_, tr("Moving selected items to Trash"), Field::cleanupStage);
    publish(cleanupProgress_, std::optional<MoveProgress>(), Field::cleanupProgress);
    const Url historyFolder = TrashService::defaultHistoryFolder();
    // Told at most a few times a second: thousands of small items would flood the event loop.
    auto lastTold = std::make_shared<std::chrono::steady_clock::time_point>();
    QPointer<CleanupFlow> self(this);
    TrashProgressHandler progress = [self, token, lastTold](const TrashProgress& step) {
        const auto now = std::chrono::steady_clock::now();
        if (step.done != 0 && step.done != step.total &&
            now - *lastTold < std::chrono::milliseconds(150)) {
            return;
        }
        *lastTold = now;
        const MoveProgress value{step.done, step.total, step.bytesDone, step.bytesTotal};
        model::post(self, [token, value](CleanupFlow& flow) {
            if (flow.cleanupToken_ == token && flow.isWorkingCleanup_) {
                flow.publish(flow.cleanupProgress_, std::optional(value), Field::cleanupProgress);
            }
        });
    };
    cleanupWorker_ = model::runInBackground(
        this, &CleanupFlow::cleanupToken_, token,
        [plan, historyFolder, progress] {
            return TrashService::execute(plan, historyFolder, &TrashService::moveToTrash, progress);
        },
        [origin = *origin](CleanupFlow& flow, model::Outcome<TrashReport> outcome) {
            flow.cleanupWorker_.reset();
            flow.publish(flow.cleanupProgress_, std::optional<MoveProgress>(),
                         Field::cleanupProgress);
            // A stopped move still returns what it did: its report is shown like any other.
            if (outcome.value) {
                origin.applied(*outcome.value);
            }
            flow.publish(flow.isWorkingCleanup_, false, Field::isWorkingCleanup);
            if (outcome.value) {
                flow.setCleanupReport(std::move(outcome.value));
            } else if (outcome.failure && !outcome.cancelled) {
                origin.refused(*outcome.failure);
            }
        });
}

void CleanupFlow::applyCleanupReport(const TrashReport& report) {
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
    markStale();
}

void CleanupFlow::stopCleanup() {
    if (cleanupWorker_) {
        cleanupWorker_->cancel();
    }
}

} // namespace varnok

#include "app/model/AppModel.hpp"

#include "app/model/Background.hpp"
#include "app/model/DesktopServices.hpp"
#include "core/duplicates/DuplicateResultJson.hpp"
#include "core/scan/FileNodeJson.hpp"
#include "platform/Platform.hpp"
#include "platform/linux/LinuxTrash.hpp"

#include <sys/statvfs.h>

#include <nlohmann/json.hpp>

namespace varnok {

namespace {
constexpr const char* accessIntroSeenKey = "cleanAccessIntroSeen";
} // namespace

AppModel::AppModel(QObject* parent)
    : AppModel(std::make_shared<SettingsDefaults>(), std::make_shared<DesktopWorkspace>(), parent) {
}

AppModel::AppModel(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<Workspace> workspace,
                   QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), workspace_(std::move(workspace)),
      homeScanLocation_(Platform::current().homeDirectory()),
      cleanup_(std::make_unique<CleanupFlow>(*this)),
      recovery_(std::make_unique<RecoveryFlow>(*this)),
      explore_(std::make_unique<ExploreFlow>(*this)),
      duplicates_(std::make_unique<DuplicatesFlow>(*this)),
      projects_(std::make_unique<ProjectsFlow>(*this)),
      remembered_(std::make_unique<RememberFlow>(*this)) {
    connect(cleanup_.get(), &CleanupFlow::changed, this, [this](CleanupFlow::Field field) {
        if (field == CleanupFlow::Field::isScanning ||
            field == CleanupFlow::Field::isWorkingCleanup) {
            emit busyChanged();
        }
    });
    connect(recovery_.get(), &RecoveryFlow::changed, this, [this](RecoveryFlow::Field field) {
        if (field == RecoveryFlow::Field::isRestoring) {
            emit busyChanged();
        }
    });
    connect(duplicates_.get(), &DuplicatesFlow::changed, this, [this](DuplicatesFlow::Field field) {
        if (field == DuplicatesFlow::Field::isFindingDuplicates) {
            emit busyChanged();
        }
    });
    connect(projects_.get(), &ProjectsFlow::changed, this, [this](ProjectsFlow::Field field) {
        if (field == ProjectsFlow::Field::isDetecting) {
            emit busyChanged();
        }
    });
}

AppModel::~AppModel() = default;

template <typename T> void AppModel::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

void AppModel::setPage(AppPage value) {
    publish(page_, value, Field::page);
}

void AppModel::setHomeScanLocation(Url value) {
    publish(homeScanLocation_, std::move(value), Field::homeScanLocation);
}

void AppModel::setShowPathScan(bool value) {
    publish(showPathScan_, value, Field::showPathScan);
}

void AppModel::setSearchFocusRequest(int value) {
    publish(searchFocusRequest_, value, Field::searchFocusRequest);
}

void AppModel::setError(std::optional<QString> value) {
    publish(error_, std::move(value), Field::error);
}

void AppModel::setNote(std::optional<QString> value) {
    publish(note_, std::move(value), Field::note);
}

void AppModel::setVolumeTotal(std::int64_t value) {
    publish(volumeTotal_, value, Field::volumeTotal);
}

void AppModel::setVolumeFree(std::int64_t value) {
    publish(volumeFree_, value, Field::volumeFree);
}

bool AppModel::isBusy() const {
    return cleanup_->isScanning() || cleanup_->isWorkingCleanup() || recovery_->isRestoring() ||
           duplicates_->isFindingDuplicates() || projects_->isDetecting();
}

bool AppModel::canStartCleanScan() const {
    return !isBusy() && !cleanup_->cleanupPlan() && !cleanup_->cleanupReport() &&
           !recovery_->showRecovery() && !cleanup_->showCleanAccess() && !showPathScan_ &&
           !cleanup_->showCloseAppsConfirmation() && !note_ && !error_;
}

void AppModel::reveal(const FileNode& node, bool illustrative) {
    if (!node.id.isFileUrl()) {
        setNote(tr("This is a visual group of smaller items. Open it to inspect the individual "
                   "files."));
    } else if (illustrative) {
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

void AppModel::openTrash() {
    workspace_->open(Url::file(LinuxTrash::homeTrashPath() + "/files", true));
}

bool AppModel::canOpenAccessSettings() const {
    return workspace_->accessSettingsAddress().has_value();
}

void AppModel::openCleanAccessSettings() {
    if (auto address = workspace_->accessSettingsAddress()) {
        workspace_->open(*address);
    }
}

bool AppModel::accessIntroSeen() const {
    return defaults_->boolValue(accessIntroSeenKey);
}

void AppModel::setAccessIntroSeen(bool seen) {
    defaults_->setBoolValue(accessIntroSeenKey, seen);
}

void AppModel::refreshVolume() {
    struct statvfs figures {};
    const std::string home = Platform::current().homeDirectory().path();
    if (::statvfs(home.c_str(), &figures) != 0) {
        return;
    }
    const auto unit = static_cast<std::int64_t>(figures.f_frsize);
    setVolumeTotal(static_cast<std::int64_t>(figures.f_blocks) * unit);
    setVolumeFree(static_cast<std::int64_t>(figures.f_bavail) * unit);
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

json texts(const QStringList& list) {
    json array = json::array();
    for (const auto& item : list) {
        array.push_back(item.toStdString());
    }
    return array;
}

json token(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toStdString();
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

json progressJson(const ScanProgress& progress) {
    return {{"fileCount", progress.fileCount},
            {"folderCount", progress.folderCount},
            {"logicalSize", progress.logicalSize},
            {"currentPath", progress.currentPath},
            {"phase", progress.phase}};
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
    case AppPage::projects:
        return "projects";
    }
    return "home";
}

} // namespace

QByteArray AppModel::stateJson() const {
    json state = json::object();
    const CleanupFlow& c = *cleanup_;
    const RecoveryFlow& r = *recovery_;
    const ExploreFlow& e = *explore_;
    const DuplicatesFlow& d = *duplicates_;
    const ProjectsFlow& p = *projects_;

    state["showCloseAppsConfirmation"] = c.showCloseAppsConfirmation();
    state["cleanStatus"] = optional(c.cleanStatus(), text);
    json running = json::object();
    for (const auto& [url, names] : c.cleanRunning()) {
        running[url.absoluteString()] = texts(names);
    }
    state["cleanRunning"] = running;
    state["cleanResult"] = optional(c.cleanResult(), cleanResultJson);
    state["cleanScanPath"] = text(c.cleanScanPath());
    state["cleanScanCount"] = c.cleanScanCount();
    state["isWaitingForApps"] = c.isWaitingForApps();
    state["showCleanAccess"] = c.showCleanAccess();
    state["showRecovery"] = r.showRecovery();
    state["cleanHome"] = urlText(c.cleanHome());
    state["scanRevision"] = token(c.scanRevision());
    state["scanHighlights"] = {{"fileCount", e.scanHighlights().fileCount},
                               {"largeFileCount", e.scanHighlights().largeFileCount},
                               {"largeFileBytes", e.scanHighlights().largeFileBytes}};
    state["root"] = e.root();
    state["isWorkingCleanup"] = c.isWorkingCleanup();
    state["cleanupStage"] = text(c.cleanupStage());
    state["cleanupPlan"] = optional(c.cleanupPlan(), planJson);
    state["cleanupReport"] =
        optional(c.cleanupReport(), [](const TrashReport& report) { return json(report); });
    state["recoveryRevision"] = token(r.recoveryRevision());
    state["cleanupHistory"] = r.cleanupHistory();
    state["needsRescan"] = c.needsRescan();
    state["duplicateResult"] =
        optional(d.duplicateResult(), [](const DuplicateResult& result) { return json(result); });
    json keepers = json::object();
    for (const auto& [group, keeper] : d.duplicateKeepers()) {
        keepers[group.absoluteString()] = keeper.absoluteString();
    }
    state["duplicateKeepers"] = keepers;
    json selection = json::array();
    for (const auto& url : d.duplicateSelection()) {
        selection.push_back(url.absoluteString());
    }
    state["duplicateSelection"] = selection;
    state["isFindingDuplicates"] = d.isFindingDuplicates();
    state["duplicateProgress"] = {{"phase", d.duplicateProgress().phase},
                                  {"checked", d.duplicateProgress().checked},
                                  {"total", d.duplicateProgress().total},
                                  {"bytesRead", d.duplicateProgress().bytesRead}};
    state["page"] = pageName(page_);
    state["homeScanLocation"] = urlText(homeScanLocation_);
    state["candidates"] = c.candidates();
    state["queue"] = c.queue().items();
    state["candidateFilter"] = optional(
        c.candidateFilter(), [](CleanupCategory cat) { return json(std::string(cat.rawValue())); });
    state["showQueuedOnly"] = c.showQueuedOnly();
    state["activeScanURL"] = optional(e.activeScanURL(), urlText);
    state["showPathScan"] = showPathScan_;
    state["selected"] = optional(e.selected(), [](const FileNode& node) { return json(node); });
    state["history"] = e.history();
    state["isDemo"] = c.isDemo();
    state["isScanning"] = c.isScanning();
    state["progress"] = progressJson(e.progress());
    state["ages"] = e.ages();
    state["types"] = e.types();
    state["searchFocusRequest"] = searchFocusRequest_;
    state["search"] = text(e.search());
    state["mapMode"] = std::string(rawValue(e.mapMode()));
    state["mapDepth"] = e.mapDepth();
    state["mapExpanded"] = e.mapExpanded();
    state["error"] = optional(error_, text);
    state["note"] = optional(note_, text);
    state["skippedPaths"] = texts(e.skippedPaths());
    state["duration"] = e.duration();
    state["scanURL"] = optional(e.scanURL(), urlText);
    state["volumeTotal"] = volumeTotal_;
    state["volumeFree"] = volumeFree_;
    // The flows' own additions.
    state["isRestoring"] = r.isRestoring();
    state["keepRule"] = std::string(rawValue(d.keepRule()));
    state["projectFolder"] = urlText(p.projectFolder());
    state["projectCandidates"] =
        optional(p.projectCandidates(),
                 [](const std::vector<CleanupCandidate>& list) { return json(list); });
    json chosen = json::array();
    for (const auto& url : p.projectSelection()) {
        chosen.push_back(url.absoluteString());
    }
    state["projectSelection"] = chosen;
    state["isDetecting"] = p.isDetecting();
    state["projectProgress"] = progressJson(p.projectProgress());
    state["projectUnreadable"] = texts(p.projectUnreadable());
    json remembered = json::array();
    for (const RememberedScan& scan : remembered_->rememberedScans()) {
        remembered.push_back({{"folder", scan.folder},
                              {"takenAt", scan.takenAt},
                              {"file", scan.file},
                              {"sizeOnDisk", scan.sizeOnDisk}});
    }
    state["rememberedScans"] = remembered;
    state["homeGrowth"] = optional(remembered_->homeGrowth(), [](const HomeGrowth& growth) {
        return json{{"since", growth.since}, {"size", growth.size}, {"folder", growth.folder}};
    });
    state["isRemembering"] = remembered_->isRemembering();
    // Derived values, for checks that read only the dump.
    state["isBusy"] = isBusy();
    state["canStartCleanScan"] = canStartCleanScan();
    state["candidateTotal"] = c.candidateTotal();
    const std::string dumped = state.dump(2, ' ', false, json::error_handler_t::replace);
    return QByteArray(dumped.data(), static_cast<qsizetype>(dumped.size()));
}

} // namespace varnok

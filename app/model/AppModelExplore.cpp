// The folder explorer, the duplicate search and the volume figures of the model. Both background
// runs follow the cleanup scan's rule: every start and stop replaces the run's token, and a result
// or report carrying another token changes nothing.
#include "app/model/AppModel.hpp"
#include "app/model/ModelSupport.hpp"

#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <QCoreApplication>
#include <QPointer>

#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace varnok {

using model::failureText;
using model::post;
using model::qText;

namespace {

// Reports come from a tight loop; the window only needs a few a second.
class Throttle {
public:
    bool due() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(80)) {
            return false;
        }
        last_ = now;
        return true;
    }

private:
    std::chrono::steady_clock::time_point last_{};
};

// A symbolic link as the folder to look in is refused before anything is read, as everywhere.
std::optional<QString> refusedLocation(const Url& folder) {
    std::error_code code;
    if (std::filesystem::is_symlink(folder.path(), code)) {
        return QObject::tr("The scan location must not be a symbolic link.");
    }
    return std::nullopt;
}

// A node as kept on the navigation list: without its subtree, found again in the tree by id.
FileNode withoutChildren(const FileNode& node) {
    FileNode copy(node.id, node.isDirectory, node.logicalSize, node.allocatedSize, {},
                  node.fileCount, node.folderCount, node.isSymbolicLink, node.hasReadErrors,
                  node.allocatedSizeComplete, node.identity);
    return copy;
}

std::set<Url> urlsOf(const DuplicateGroup& group) {
    std::set<Url> urls;
    for (const auto& file : group.files) {
        urls.insert(file.id);
    }
    return urls;
}

} // namespace

// ---- Folder explorer ----

void AppModel::scanFolder(const Url& folder) {
    if (activeScanURL_) {
        return;
    }
    const Url target = folder.standardized();
    if (auto refusal = refusedLocation(target)) {
        setError(refusal);
        return;
    }
    const QUuid token = QUuid::createUuid();
    scanToken_ = token;
    setProgress(ScanProgress{});
    setActiveScanURL(target);
    QPointer<AppModel> self(this);
    folderScanWorker_ = TaskHandle::start([self, target, token] {
        Throttle throttle;
        auto report = [&](const ScanProgress& progress) {
            if (throttle.due()) {
                post(self, [token, progress](AppModel& model) {
                    model.folderScanProgressArrived(token, progress);
                });
            }
        };
        std::optional<ScanResult> result;
        std::optional<ScanHighlights> highlights;
        std::optional<QString> failure;
        try {
            result = ScanEngine::scan(target, report);
            highlights = ScanHighlights::summarize(result->root);
            Task::checkCancellation();
        } catch (const CancellationError&) {
            return;
        } catch (...) {
            failure = failureText();
        }
        post(self, [token, target, result = std::move(result), highlights,
                    failure](AppModel& model) mutable {
            model.finishFolderScan(token, target, std::move(result), highlights, failure);
        });
    });
}

void AppModel::folderScanProgressArrived(const QUuid& token, const ScanProgress& progress) {
    if (!activeScanURL_ || scanToken_ != token) {
        return;
    }
    setProgress(progress);
}

void AppModel::finishFolderScan(const QUuid& token, const Url& folder,
                                std::optional<ScanResult> result,
                                std::optional<ScanHighlights> highlights,
                                std::optional<QString> failure) {
    if (scanToken_ != token) {
        return;
    }
    folderScanWorker_.reset();
    setActiveScanURL(std::nullopt);
    if (!result) {
        setError(failure.value_or(tr("The scan did not finish.")));
        return;
    }
    QStringList skipped;
    for (const auto& path : result->inaccessiblePaths) {
        skipped << qText(path);
    }
    setSelected(std::nullopt);
    setHistory({});
    setRoot(std::move(result->root));
    setScanURL(folder);
    setIsDemo(false);
    setAges(result->ageSizes);
    setTypes(result->typeSizes);
    setScanHighlights(highlights.value_or(ScanHighlights{}));
    setSkippedPaths(std::move(skipped));
    setDuration(result->duration);
}

void AppModel::stopFolderScan() {
    if (folderScanWorker_) {
        folderScanWorker_->cancel();
    }
    folderScanWorker_.reset();
    scanToken_ = QUuid::createUuid();
    setActiveScanURL(std::nullopt);
}

const FileNode& AppModel::currentFolder() const {
    if (history_.empty()) {
        return root_;
    }
    if (auto path = root_.navigationPath(history_.back().id); path && !path->empty()) {
        return *path->back();
    }
    return root_;
}

void AppModel::openFolder(const FileNode& node) {
    if (!node.isDirectory || !node.id.isFileUrl() || node.isSymbolicLink) {
        return;
    }
    auto path = root_.navigationPath(node.id);
    if (!path || path->empty()) {
        return;
    }
    // Every folder on the way down becomes a breadcrumb level, so a tile two levels deep opens
    // with its parent on the way back.
    std::vector<FileNode> levels;
    for (const FileNode* step : *path) {
        levels.push_back(withoutChildren(*step));
    }
    setSelected(std::nullopt);
    setHistory(std::move(levels));
}

void AppModel::navigateTo(int level) {
    if (level < 0 || static_cast<size_t>(level) >= history_.size() + 1) {
        return;
    }
    std::vector<FileNode> kept(history_.begin(), history_.begin() + level);
    setSelected(std::nullopt);
    setHistory(std::move(kept));
}

// ---- Duplicates ----

void AppModel::findDuplicates(const Url& folder) {
    if (isBusy()) {
        return;
    }
    const Url target = folder.standardized();
    if (auto refusal = refusedLocation(target)) {
        setError(refusal);
        return;
    }
    const QUuid token = QUuid::createUuid();
    duplicateRunToken_ = token;
    setDuplicateProgress(DuplicateProgress{tr("Reading files").toStdString(), 0, 0, 0});
    setIsFindingDuplicates(true);
    QPointer<AppModel> self(this);
    duplicateWorker_ = TaskHandle::start([self, target, token] {
        Throttle throttle;
        auto report = [&](const DuplicateProgress& progress) {
            if (throttle.due()) {
                post(self, [token, progress](AppModel& model) {
                    model.duplicateProgressArrived(token, progress);
                });
            }
        };
        std::optional<DuplicateResult> result;
        std::optional<QString> failure;
        try {
            ScanResult scan = ScanEngine::scan(target, [&](const ScanProgress& progress) {
                report(
                    DuplicateProgress{tr("Reading files").toStdString(), progress.fileCount, 0, 0});
            });
            const unsigned threads =
                std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
            result = DuplicateEngine::find(scan.root, report, threads);
            Task::checkCancellation();
        } catch (const CancellationError&) {
            return;
        } catch (...) {
            failure = failureText();
        }
        post(self, [token, target, result = std::move(result), failure](AppModel& model) mutable {
            model.finishDuplicates(token, target, std::move(result), failure);
        });
    });
}

void AppModel::duplicateProgressArrived(const QUuid& token, const DuplicateProgress& progress) {
    if (!isFindingDuplicates_ || duplicateRunToken_ != token) {
        return;
    }
    setDuplicateProgress(progress);
}

void AppModel::finishDuplicates(const QUuid& token, const Url& folder,
                                std::optional<DuplicateResult> result,
                                std::optional<QString> failure) {
    if (duplicateRunToken_ != token) {
        return;
    }
    duplicateWorker_.reset();
    setIsFindingDuplicates(false);
    if (!result) {
        setError(failure.value_or(tr("The search did not finish.")));
        return;
    }
    // A choice made on a set carries over only to the very same set: the same files, the same
    // size. Anything else starts again from the first copy kept and nothing selected.
    std::map<Url, Url> keepers;
    std::set<Url> selection;
    if (duplicateResult_ && duplicateFolder_ == folder) {
        for (const auto& group : result->groups) {
            const auto before = std::find_if(
                duplicateResult_->groups.begin(), duplicateResult_->groups.end(),
                [&](const DuplicateGroup& old) {
                    return old.files.front().logicalSize == group.files.front().logicalSize &&
                           urlsOf(old) == urlsOf(group);
                });
            if (before == duplicateResult_->groups.end()) {
                continue;
            }
            if (auto kept = duplicateKeepers_.find(before->id()); kept != duplicateKeepers_.end()) {
                keepers[group.id()] = kept->second;
            }
            for (const auto& file : group.files) {
                if (duplicateSelection_.count(file.id) != 0) {
                    selection.insert(file.id);
                }
            }
        }
    }
    duplicateFolder_ = folder;
    setDuplicateResult(std::move(result));
    setDuplicateKeepers(std::move(keepers));
    setDuplicateSelection(std::move(selection));
}

void AppModel::stopFindingDuplicates() {
    if (duplicateWorker_) {
        duplicateWorker_->cancel();
    }
    duplicateWorker_.reset();
    duplicateRunToken_ = QUuid::createUuid();
    setIsFindingDuplicates(false);
}

const FileNode& AppModel::duplicateKeeper(const DuplicateGroup& group) const {
    if (auto kept = duplicateKeepers_.find(group.id()); kept != duplicateKeepers_.end()) {
        for (const auto& file : group.files) {
            if (file.id == kept->second) {
                return file;
            }
        }
    }
    return group.files.front();
}

void AppModel::chooseDuplicateKeeper(const Url& groupID, const Url& keeper) {
    if (!duplicateResult_ || isWorkingCleanup_ || cleanupPlan_) {
        return;
    }
    for (const auto& group : duplicateResult_->groups) {
        if (group.id() == groupID && urlsOf(group).count(keeper) != 0) {
            auto keepers = duplicateKeepers_;
            keepers[groupID] = keeper;
            setDuplicateKeepers(std::move(keepers));
            auto selection = duplicateSelection_;
            selection.erase(keeper);
            setDuplicateSelection(std::move(selection));
            return;
        }
    }
}

void AppModel::toggleDuplicate(const Url& copy) {
    if (!duplicateResult_ || isWorkingCleanup_ || cleanupPlan_) {
        return;
    }
    for (const auto& group : duplicateResult_->groups) {
        if (urlsOf(group).count(copy) == 0) {
            continue;
        }
        if (duplicateKeeper(group).id == copy) {
            return;
        }
        auto selection = duplicateSelection_;
        if (selection.erase(copy) == 0) {
            selection.insert(copy);
        }
        setDuplicateSelection(std::move(selection));
        return;
    }
}

void AppModel::selectAllDuplicates(bool all) {
    if (!duplicateResult_ || isWorkingCleanup_ || cleanupPlan_) {
        return;
    }
    std::set<Url> selection;
    if (all) {
        for (const auto& group : duplicateResult_->groups) {
            const Url& keeper = duplicateKeeper(group).id;
            for (const auto& file : group.files) {
                if (file.id != keeper) {
                    selection.insert(file.id);
                }
            }
        }
    }
    setDuplicateSelection(std::move(selection));
}

void AppModel::prepareDuplicateCleanup() {
    if (isBusy() || cleanupPlan_ || !duplicateResult_ || !duplicateFolder_ ||
        duplicateSelection_.empty()) {
        return;
    }
    std::vector<CleanupCandidate> items;
    for (const auto& group : duplicateResult_->groups) {
        const FileNode& keeper = duplicateKeeper(group);
        for (const auto& file : group.files) {
            if (file.id != keeper.id && duplicateSelection_.count(file.id) != 0) {
                items.emplace_back(
                    file, CleanupCategory::duplicates,
                    PathText::displayable(file.id.deletingLastPathComponent().path()),
                    "Identical to " + PathText::displayable(keeper.id.path()), false, keeper);
            }
        }
    }
    const Url scanRoot = *duplicateFolder_;
    setIsWorkingCleanup(true);
    setCleanupStage(tr("Checking selected items"));
    QPointer<AppModel> self(this);
    cleanupWorker_ = TaskHandle::start([self, items = std::move(items), scanRoot] {
        std::optional<CleanupPlan> plan;
        std::optional<QString> failure;
        try {
            plan = TrashService::prepare(items, scanRoot);
            Task::checkCancellation();
        } catch (const CancellationError&) {
            plan.reset();
        } catch (...) {
            failure = failureText();
        }
        post(self, [plan = std::move(plan), failure](AppModel& model) {
            model.cleanupWorker_.reset();
            model.setIsWorkingCleanup(false);
            if (plan) {
                model.duplicatePlanID_ = plan->id;
                model.setCleanupPlan(plan);
            } else if (failure) {
                model.setError(failure);
            }
        });
    });
}

void AppModel::confirmDuplicateCleanup(const CleanupPlan& plan) {
    std::set<Url> planned;
    for (const auto& item : plan.items) {
        planned.insert(item.id());
    }
    const bool accepted = !isBusy() && cleanupPlan_ && cleanupPlan_->id == plan.id &&
                          duplicateFolder_ && *duplicateFolder_ == plan.scanRoot &&
                          planned == duplicateSelection_;
    duplicatePlanID_.reset();
    if (!accepted) {
        if (!isBusy()) {
            setCleanupPlan(std::nullopt);
            setError(tr("Your selection changed. Review the copies again before moving them."));
        }
        return;
    }
    setCleanupPlan(std::nullopt);
    startMove(plan, &AppModel::applyDuplicateReport,
              [](AppModel& model, const QString& failure) { model.setError(failure); });
}

void AppModel::applyDuplicateReport(const TrashReport& report) {
    std::set<Url> moved;
    for (const auto& outcome : report.outcomes) {
        if (outcome.status == TrashStatus::moved) {
            moved.insert(outcome.originalURL);
        }
    }
    // A set left with one file is no longer a set of duplicates.
    DuplicateResult result = *duplicateResult_;
    std::vector<DuplicateGroup> groups;
    for (auto& group : result.groups) {
        std::erase_if(group.files, [&](const FileNode& file) { return moved.count(file.id) != 0; });
        if (group.files.size() >= 2) {
            groups.push_back(std::move(group));
        }
    }
    result.groups = std::move(groups);
    std::set<Url> selection;
    for (const auto& url : duplicateSelection_) {
        if (moved.count(url) == 0) {
            selection.insert(url);
        }
    }
    // A set's id is its first file, which may have moved; its keeper never does.
    std::set<Url> kept;
    for (const auto& group : duplicateResult_->groups) {
        kept.insert(duplicateKeeper(group).id);
    }
    std::map<Url, Url> keepers;
    for (const auto& group : result.groups) {
        for (const auto& file : group.files) {
            if (kept.count(file.id) != 0) {
                keepers[group.id()] = file.id;
            }
        }
    }
    setDuplicateResult(std::move(result));
    setDuplicateKeepers(std::move(keepers));
    setDuplicateSelection(std::move(selection));
    setIsWorkingCleanup(false);
    setCleanupReport(report);
}

// ---- Settings ----

bool AppModel::accessIntroSeen() const {
    return defaults_->boolValue("cleanAccessIntroSeen");
}

void AppModel::forgetAccessIntro() {
    defaults_->setBoolValue("cleanAccessIntroSeen", false);
}

// ---- Volume ----

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

} // namespace varnok

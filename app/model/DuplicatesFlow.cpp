#include "app/model/DuplicatesFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace varnok {

using model::post;

namespace {

std::set<Url> urlsOf(const DuplicateGroup& group) {
    std::set<Url> urls;
    for (const auto& file : group.files) {
        urls.insert(file.id);
    }
    return urls;
}

// Reports come from a tight loop; the window only needs a few a second.
bool due(std::chrono::steady_clock::time_point& last) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(80)) {
        return false;
    }
    last = now;
    return true;
}

} // namespace

DuplicatesFlow::DuplicatesFlow(AppModel& shell)
    : shell_(shell), duplicateRunToken_(QUuid::createUuid()) {}

DuplicatesFlow::~DuplicatesFlow() = default;

template <typename T> void DuplicatesFlow::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

void DuplicatesFlow::findDuplicates(const Url& folder) {
    if (shell_.isBusy()) {
        return;
    }
    const Url target = folder.standardized();
    std::error_code code;
    if (std::filesystem::is_symlink(target.path(), code)) {
        shell_.setError(tr("The scan location must not be a symbolic link."));
        return;
    }
    const QUuid token = QUuid::createUuid();
    duplicateRunToken_ = token;
    publish(duplicateProgress_, DuplicateProgress{tr("Reading files").toStdString(), 0, 0, 0},
            Field::duplicateProgress);
    publish(isFindingDuplicates_, true, Field::isFindingDuplicates);
    QPointer<DuplicatesFlow> self(this);
    duplicateWorker_ = model::runInBackground(
        this, &DuplicatesFlow::duplicateRunToken_, token,
        [self, target, token] {
            std::chrono::steady_clock::time_point last{};
            auto report = [&](const DuplicateProgress& progress) {
                if (due(last)) {
                    post(self, [token, progress](DuplicatesFlow& flow) {
                        flow.duplicateProgressArrived(token, progress);
                    });
                }
            };
            ScanResult scan = ScanEngine::scan(target, [&](const ScanProgress& progress) {
                report(
                    DuplicateProgress{tr("Reading files").toStdString(), progress.fileCount, 0, 0});
            });
            const unsigned threads =
                std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
            DuplicateResult result = DuplicateEngine::find(scan.root, report, threads);
            Task::checkCancellation();
            return result;
        },
        [target](DuplicatesFlow& flow, model::Outcome<DuplicateResult> outcome) {
            flow.duplicateWorker_.reset();
            flow.publish(flow.isFindingDuplicates_, false, Field::isFindingDuplicates);
            if (outcome.cancelled) {
                return;
            }
            if (!outcome.value) {
                flow.shell_.setError(outcome.failure.value_or(tr("The search did not finish.")));
                return;
            }
            flow.finishDuplicates(target, std::move(*outcome.value));
        });
}

void DuplicatesFlow::duplicateProgressArrived(const QUuid& token,
                                              const DuplicateProgress& progress) {
    if (!isFindingDuplicates_ || duplicateRunToken_ != token) {
        return;
    }
    publish(duplicateProgress_, progress, Field::duplicateProgress);
}

void DuplicatesFlow::finishDuplicates(const Url& folder, DuplicateResult result) {
    // A choice made on a set carries over only to the very same set: the same files, the same
    // size. Anything else starts again from the rule's keeper and nothing selected.
    std::map<Url, Url> keepers;
    std::set<Url> selection;
    if (duplicateResult_ && duplicateFolder_ == folder) {
        for (const auto& group : result.groups) {
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
    publish(duplicateResult_, std::optional(std::move(result)), Field::duplicateResult);
    publish(duplicateKeepers_, std::move(keepers), Field::duplicateKeepers);
    publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
}

void DuplicatesFlow::stopFindingDuplicates() {
    if (duplicateWorker_) {
        duplicateWorker_->cancel();
    }
    duplicateWorker_.reset();
    duplicateRunToken_ = QUuid::createUuid();
    publish(isFindingDuplicates_, false, Field::isFindingDuplicates);
}

const FileNode& DuplicatesFlow::duplicateKeeper(const DuplicateGroup& group) const {
    if (auto kept = duplicateKeepers_.find(group.id()); kept != duplicateKeepers_.end()) {
        for (const auto& file : group.files) {
            if (file.id == kept->second) {
                return file;
            }
        }
    }
    return group.files[DuplicateKeeper::choose(group, keepRule_)];
}

bool DuplicatesFlow::canChange() const {
    return duplicateResult_ && !shell_.cleanup().isWorkingCleanup() &&
           !shell_.cleanup().cleanupPlan();
}

void DuplicatesFlow::setKeepRule(KeepRule rule) {
    if (!canChange() && duplicateResult_) {
        return;
    }
    publish(keepRule_, rule, Field::keepRule);
    publish(duplicateKeepers_, std::map<Url, Url>{}, Field::duplicateKeepers);
    if (!duplicateResult_) {
        return;
    }
    auto selection = duplicateSelection_;
    for (const auto& group : duplicateResult_->groups) {
        selection.erase(duplicateKeeper(group).id);
    }
    publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
}

void DuplicatesFlow::chooseDuplicateKeeper(const Url& groupID, const Url& keeper) {
    if (!canChange()) {
        return;
    }
    for (const auto& group : duplicateResult_->groups) {
        if (group.id() == groupID && urlsOf(group).count(keeper) != 0) {
            auto keepers = duplicateKeepers_;
            keepers[groupID] = keeper;
            publish(duplicateKeepers_, std::move(keepers), Field::duplicateKeepers);
            auto selection = duplicateSelection_;
            selection.erase(keeper);
            publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
            return;
        }
    }
}

void DuplicatesFlow::toggleDuplicate(const Url& copy) {
    if (!canChange()) {
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
        publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
        return;
    }
}

void DuplicatesFlow::selectGroup(const Url& groupID, bool selected) {
    if (!canChange()) {
        return;
    }
    auto selection = duplicateSelection_;
    for (const auto& group : duplicateResult_->groups) {
        if (group.id() != groupID) {
            continue;
        }
        const Url& keeper = duplicateKeeper(group).id;
        for (const auto& file : group.files) {
            if (selected && file.id != keeper) {
                selection.insert(file.id);
            } else {
                selection.erase(file.id);
            }
        }
    }
    publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
}

void DuplicatesFlow::selectAllDuplicates(bool all) {
    if (!canChange()) {
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
    publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
}

void DuplicatesFlow::prepareDuplicateCleanup() {
    if (!duplicateResult_ || !duplicateFolder_ || duplicateSelection_.empty()) {
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
    shell_.cleanup().review(
        std::move(items),
        CleanupFlow::Origin{
            *duplicateFolder_,
            [this]() -> std::optional<std::set<Url>> { return duplicateSelection_; },
            [this](const TrashReport& report) { applyDuplicateReport(report); },
            [this](const QString& message) { shell_.setError(message); },
            tr("Your selection changed. Review the copies again before moving them.")});
}

void DuplicatesFlow::applyDuplicateReport(const TrashReport& report) {
    std::set<Url> moved;
    for (const auto& outcome : report.outcomes) {
        if (outcome.status == TrashStatus::moved) {
            moved.insert(outcome.originalURL);
        }
    }
    // A set's id is its first file, which may have moved; its keeper never does.
    std::set<Url> kept;
    for (const auto& group : duplicateResult_->groups) {
        kept.insert(duplicateKeeper(group).id);
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
    std::map<Url, Url> keepers;
    for (const auto& group : result.groups) {
        for (const auto& file : group.files) {
            if (kept.count(file.id) != 0) {
                keepers[group.id()] = file.id;
            }
        }
    }
    publish(duplicateResult_, std::optional(std::move(result)), Field::duplicateResult);
    publish(duplicateKeepers_, std::move(keepers), Field::duplicateKeepers);
    publish(duplicateSelection_, std::move(selection), Field::duplicateSelection);
}

} // namespace varnok

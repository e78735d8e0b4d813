#include "app/model/ProjectsFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/Platform.hpp"

#include <QPointer>

#include <chrono>
#include <filesystem>

namespace varnok {

using model::post;
using model::qText;

ProjectsFlow::ProjectsFlow(AppModel& shell)
    : shell_(shell), projectFolder_(Platform::current().homeDirectory().standardized()),
      runToken_(QUuid::createUuid()) {}

ProjectsFlow::~ProjectsFlow() = default;

template <typename T> void ProjectsFlow::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

void ProjectsFlow::setProjectFolder(Url folder) {
    if (isDetecting_) {
        return;
    }
    publish(projectFolder_, folder.standardized(), Field::projectFolder);
}

void ProjectsFlow::detectProjects() {
    if (shell_.isBusy()) {
        return;
    }
    std::error_code code;
    if (std::filesystem::is_symlink(projectFolder_.path(), code)) {
        shell_.setError(tr("The scan location must not be a symbolic link."));
        return;
    }
    const Url folder = projectFolder_;
    // Judged where it really lies, as the tree holds real paths; so is the home, whose own build
    // data is then recognised.
    const Url home = Platform::current().resolvingSymlinks(Platform::current().homeDirectory());
    const QUuid token = QUuid::createUuid();
    runToken_ = token;
    publish(projectProgress_, ScanProgress{}, Field::projectProgress);
    publish(isDetecting_, true, Field::isDetecting);
    QPointer<ProjectsFlow> self(this);
    struct Detected {
        std::vector<CleanupCandidate> candidates;
        std::vector<std::string> unreadable;
    };
    worker_ = model::runInBackground(
        this, &ProjectsFlow::runToken_, token,
        [self, folder, home, token] {
            std::chrono::steady_clock::time_point last{};
            ScanResult scan = ScanEngine::scan(folder, [&](const ScanProgress& progress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - last >= std::chrono::milliseconds(80)) {
                    last = now;
                    post(self, [token, progress](ProjectsFlow& flow) {
                        flow.progressArrived(token, progress);
                    });
                }
            });
            auto detected = std::make_shared<Detected>();
            detected->candidates = CleanupAnalysis::detect(scan.root, home);
            detected->unreadable = scan.inaccessiblePaths;
            return detected;
        },
        [folder](ProjectsFlow& flow, model::Outcome<std::shared_ptr<Detected>> outcome) {
            flow.worker_.reset();
            flow.publish(flow.isDetecting_, false, Field::isDetecting);
            if (outcome.cancelled) {
                return;
            }
            if (!outcome.value) {
                flow.shell_.setError(outcome.failure.value_or(tr("The scan did not finish.")));
                return;
            }
            QStringList unreadable;
            for (const auto& path : (*outcome.value)->unreadable) {
                unreadable << qText(path);
            }
            flow.detectedFolder_ = folder;
            flow.publish(flow.projectSelection_, std::set<Url>{}, Field::projectSelection);
            flow.publish(flow.projectUnreadable_, std::move(unreadable), Field::projectUnreadable);
            flow.publish(flow.projectCandidates_,
                         std::optional(std::move((*outcome.value)->candidates)),
                         Field::projectCandidates);
        });
}

void ProjectsFlow::stopDetecting() {
    if (worker_) {
        worker_->cancel();
    }
    worker_.reset();
    runToken_ = QUuid::createUuid();
    publish(isDetecting_, false, Field::isDetecting);
}

void ProjectsFlow::progressArrived(const QUuid& token, const ScanProgress& progress) {
    if (!isDetecting_ || runToken_ != token) {
        return;
    }
    publish(projectProgress_, progress, Field::projectProgress);
}

bool ProjectsFlow::canChange() const {
    return projectCandidates_ && !shell_.isBusy() && !shell_.cleanup().cleanupPlan();
}

void ProjectsFlow::toggleProject(const Url& item) {
    if (!canChange()) {
        return;
    }
    auto selection = projectSelection_;
    if (selection.erase(item) == 0) {
        for (const auto& candidate : *projectCandidates_) {
            if (candidate.id() == item) {
                selection.insert(item);
            }
        }
    }
    publish(projectSelection_, std::move(selection), Field::projectSelection);
}

void ProjectsFlow::selectProject(const std::string& projectPath, bool selected) {
    if (!canChange()) {
        return;
    }
    auto selection = projectSelection_;
    for (const auto& candidate : *projectCandidates_) {
        if (candidate.projectPath == projectPath) {
            if (selected) {
                selection.insert(candidate.id());
            } else {
                selection.erase(candidate.id());
            }
        }
    }
    publish(projectSelection_, std::move(selection), Field::projectSelection);
}

void ProjectsFlow::selectAll(bool all) {
    if (!canChange()) {
        return;
    }
    std::set<Url> selection;
    if (all) {
        for (const auto& candidate : *projectCandidates_) {
            selection.insert(candidate.id());
        }
    }
    publish(projectSelection_, std::move(selection), Field::projectSelection);
}

void ProjectsFlow::prepareProjectCleanup() {
    if (!canChange() || !detectedFolder_ || projectSelection_.empty()) {
        return;
    }
    std::vector<CleanupCandidate> items;
    for (const auto& candidate : *projectCandidates_) {
        if (projectSelection_.count(candidate.id()) != 0) {
            items.push_back(candidate);
        }
    }
    shell_.cleanup().review(
        std::move(items),
        CleanupFlow::Origin{*detectedFolder_,
                            [this]() -> std::optional<std::set<Url>> { return projectSelection_; },
                            [this](const TrashReport& report) { applyReport(report); },
                            [this](const QString& message) { shell_.setError(message); },
                            tr("Your selection changed. Review the folders again before moving "
                               "them.")});
}

void ProjectsFlow::applyReport(const TrashReport& report) {
    std::set<Url> moved;
    for (const auto& outcome : report.outcomes) {
        if (outcome.status == TrashStatus::moved) {
            moved.insert(outcome.originalURL);
        }
    }
    std::vector<CleanupCandidate> kept;
    for (const auto& candidate : *projectCandidates_) {
        if (moved.count(candidate.id()) == 0) {
            kept.push_back(candidate);
        }
    }
    auto selection = projectSelection_;
    for (const auto& url : moved) {
        selection.erase(url);
    }
    publish(projectSelection_, std::move(selection), Field::projectSelection);
    publish(projectCandidates_, std::optional(std::move(kept)), Field::projectCandidates);
}

} // namespace varnok

#include "app/model/RecoveryFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/trash/TrashService.hpp"

namespace varnok {

RecoveryFlow::RecoveryFlow(AppModel& shell)
    : shell_(shell), recoveryRevision_(QUuid::createUuid()), runToken_(QUuid::createUuid()) {}

RecoveryFlow::~RecoveryFlow() = default;

template <typename T> void RecoveryFlow::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

void RecoveryFlow::setShowRecovery(bool value) {
    publish(showRecovery_, value, Field::showRecovery);
}

void RecoveryFlow::setCleanupHistory(std::vector<TrashReport> value) {
    publish(cleanupHistory_, std::move(value), Field::cleanupHistory);
}

void RecoveryFlow::loadCleanupHistory() {
    if (shell_.isBusy()) {
        return;
    }
    std::vector<TrashReport> reports;
    try {
        reports = TrashService::history(TrashService::defaultHistoryFolder());
    } catch (...) {
        shell_.setError(model::failureText());
        return;
    }
    setCleanupHistory(std::move(reports));
    publish(recoveryRevision_, QUuid::createUuid(), Field::recoveryRevision);
    setShowRecovery(true);
}

void RecoveryFlow::restoreItem(const Uuid& reportID, const Url& originalURL,
                               RestoreCompletion completion) {
    if (shell_.isBusy()) {
        if (completion) {
            completion(tr("Another operation is still running."));
        }
        return;
    }
    const QUuid token = QUuid::createUuid();
    runToken_ = token;
    restoringURL_ = originalURL;
    publish(isRestoring_, true, Field::isRestoring);
    const Url historyFolder = TrashService::defaultHistoryFolder();
    worker_ = model::runInBackground(
        this, &RecoveryFlow::runToken_, token,
        [reportID, originalURL, historyFolder] {
            return TrashService::restore(reportID, originalURL, historyFolder);
        },
        [reportID, completion](RecoveryFlow& flow, model::Outcome<TrashReport> outcome) {
            flow.worker_.reset();
            flow.restoringURL_.reset();
            if (outcome.value) {
                flow.applyRestoredReport(reportID, *outcome.value);
            }
            flow.publish(flow.isRestoring_, false, Field::isRestoring);
            if (completion) {
                completion(outcome.value ? std::nullopt
                                         : std::optional(outcome.failure.value_or(
                                               tr("The restore did not finish."))));
            }
        });
}

void RecoveryFlow::applyRestoredReport(const Uuid& reportID, const TrashReport& report) {
    std::vector<TrashReport> history = cleanupHistory_;
    for (auto& entry : history) {
        if (entry.id == reportID) {
            entry = report;
        }
    }
    setCleanupHistory(std::move(history));
    CleanupFlow& cleanup = shell_.cleanup();
    if (cleanup.cleanupReport() && cleanup.cleanupReport()->id == reportID) {
        cleanup.setCleanupReport(report);
    }
    // The item is back: the suggestions may be out of date.
    cleanup.markStale();
    publish(recoveryRevision_, QUuid::createUuid(), Field::recoveryRevision);
}

} // namespace varnok

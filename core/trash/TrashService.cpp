// Moving a reviewed plan to the Trash, one item at a time, with the history written as it goes.
#include "core/trash/TrashService.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/trash/OperationLock.hpp"
#include "core/trash/TrashJournal.hpp"
#include "platform/Platform.hpp"

#include <nlohmann/json.hpp>

namespace varnok {

namespace {

const char* const unverifiedDestination =
    "Moved, but the Trash destination could not be verified. Remaining items were stopped; check "
    "Trash in your file manager.";

std::optional<FileIdentity> identityAt(const Url& url) {
    try {
        return FileIdentity::capture(url);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Whether the history folder would travel to the Trash with one of the selected items. The
// folder is compared as written and with its links resolved, so that a link cannot hide it.
bool historyInsideSelection(const CleanupPlan& plan, const Url& logDirectory) {
    const std::string written = PathText::standardize(logDirectory.path());
    const std::string resolved =
        Platform::current().resolvingSymlinks(Url::file(written, true)).path();
    for (const auto& item : plan.items) {
        const std::string plain = item.node.id.path();
        const std::string standardized = PathText::standardize(plain);
        for (const std::string& history : {written, resolved}) {
            for (const std::string& selected : {plain, standardized}) {
                if (PathText::equivalent(history, selected) ||
                    PathText::isInsideEquivalent(history, selected)) {
                    return true;
                }
            }
        }
    }
    return false;
}

// The destination is verified when the mover's URL holds the very object that was scanned, and
// that object is no longer at its original path (a mover that left the item in place, or named
// the original path, has not moved it).
std::optional<FileIdentity> verifiedDestination(const CleanupCandidate& item,
                                                const std::optional<Url>& trashURL) {
    if (!trashURL || !item.node.identity) {
        return std::nullopt;
    }
    auto arrived = identityAt(*trashURL);
    if (!arrived || !arrived->sameObject(*item.node.identity)) {
        return std::nullopt;
    }
    auto left = identityAt(item.node.id);
    if (left && left->sameObject(*item.node.identity)) {
        return std::nullopt;
    }
    return arrived;
}

// Records the last state of an item that stopped the run; the final write records it as well.
void recordQuietly(TrashJournal& journal, const TrashReport& report, size_t index) {
    try {
        journal.record(report, index, false);
    } catch (const std::exception&) {
    }
}

// What a failed item's outcome says. A mover given by a caller may throw anything; once the
// report exists, every failure is recorded rather than thrown.
std::string failureMessage(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CancellationError&) {
        return "Stopped before moving this item.";
    } catch (const std::exception& error) {
        return PathText::displayable(error.what());
    } catch (...) {
        return "The item could not be moved to the Trash.";
    }
}

// Tells the caller how far the run has come, before item `done` (or at the end).
void tell(const TrashProgressHandler& progress, const CleanupPlan& plan, size_t done,
          std::int64_t bytesDone, std::int64_t bytesTotal) {
    if (!progress) {
        return;
    }
    TrashProgress step;
    step.done = done;
    step.total = plan.items.size();
    step.bytesDone = bytesDone;
    step.bytesTotal = bytesTotal;
    if (done < plan.items.size()) {
        step.current = plan.items[done].node.id;
    }
    progress(step);
}

// Runs the items of a started run; never throws.
void moveItems(const CleanupPlan& plan, const TrashMover& mover, TrashJournal& journal,
               TrashReport& report, const TrashProgressHandler& progress) {
    Platform& platform = Platform::current();
    const std::int64_t bytesTotal = plan.totalSize();
    std::int64_t bytesDone = 0;
    for (size_t i = 0; i < plan.items.size(); ++i) {
        tell(progress, plan, i, bytesDone, bytesTotal);
        const CleanupCandidate& item = plan.items[i];
        TrashOutcome& outcome = report.outcomes[i];
        std::optional<Url> trashURL;
        try {
            Task::checkCancellation();
            TrashService::validate(item, plan.scanRoot);
            outcome.originalParentIdentity =
                FileIdentity::capture(item.node.id.deletingLastPathComponent());
            outcome.status = TrashStatus::moving;
            journal.record(report, i, true);

            FileIdentity current = FileIdentity::capture(item.node.id);
            const bool linked = !PathText::equal(platform.resolvingSymlinks(item.node.id).path(),
                                                 PathText::standardize(item.node.id.path()));
            if (!item.node.identity || current != *item.node.identity || linked) {
                throw CleanupProblem("The item changed during verification.");
            }
            if (item.keeper) {
                DuplicateEngine::verifyIdentity(*item.keeper);
            }
            Task::checkCancellation();
            trashURL = mover(item.node.id);
        } catch (...) {
            // Moving is kept only when the item may already have left: an item proven unchanged
            // at its place has certainly not been moved.
            auto now = identityAt(item.node.id);
            bool inPlace = now && item.node.identity && *now == *item.node.identity;
            if (outcome.status != TrashStatus::moving || inPlace) {
                outcome.status = TrashStatus::failed;
            }
            outcome.message = failureMessage(std::current_exception());
            recordQuietly(journal, report, i);
            return;
        }

        outcome.status = TrashStatus::moved;
        outcome.trashURL = trashURL;
        outcome.trashIdentity = verifiedDestination(item, trashURL);
        if (!outcome.trashIdentity) {
            report.logWarning = unverifiedDestination;
            recordQuietly(journal, report, i);
            return;
        }
        try {
            journal.record(report, i, false);
        } catch (const std::exception& error) {
            report.logWarning = "Files were moved, but the history could not be updated: " +
                                PathText::displayable(error.what());
            return;
        }
        bytesDone += item.node.logicalSize;
    }
    tell(progress, plan, plan.items.size(), bytesDone, bytesTotal);
}

} // namespace

std::optional<Url> TrashService::moveToTrash(const Url& url) {
    return Platform::current().moveToTrash(url);
}

TrashReport TrashService::execute(const CleanupPlan& plan, const Url& logDirectory) {
    return execute(plan, logDirectory, moveToTrash);
}

TrashReport TrashService::execute(const CleanupPlan& plan, const Url& logDirectory,
                                  const TrashMover& mover, const TrashProgressHandler& progress) {
    // Checked, created and written at one path: a ".." after a link would otherwise lead the
    // writes somewhere other than the place that was checked.
    const Url history = Url::file(PathText::standardize(logDirectory.path()), true);
    // Before the lock, whose file lies beside the history folder: that folder's parent is created
    // for it, and nothing may be created inside a selected item.
    if (historyInsideSelection(plan, history)) {
        throw CleanupProblem("Cleanup history cannot be stored inside a selected item.");
    }
    Platform& platform = Platform::current();
    platform.createDirectory(history.deletingLastPathComponent(), true);
    OperationLock lock(history);
    if (!lock.owns()) {
        throw CleanupProblem("Another file operation is running.");
    }
    if (!(secondsBetween(plan.createdAt, std::chrono::system_clock::now()) < reviewLifetime)) {
        throw CleanupProblem("This review expired. Review your selection again.");
    }
    for (const auto& item : plan.items) {
        validate(item, plan.scanRoot);
    }
    platform.createDirectory(history, true);
    // Journals left by an interrupted run or restore become part of their reports now.
    TrashJournal::settle(history);

    TrashReport report;
    report.id = plan.id;
    report.startedAt = std::chrono::system_clock::now();
    for (const auto& item : plan.items) {
        TrashOutcome outcome;
        outcome.originalURL = item.node.id;
        outcome.logicalSize = item.node.logicalSize;
        report.outcomes.push_back(std::move(outcome));
    }
    const Url file = reportFile(history, plan.id);
    // The first version is created, never replaced: an existing report of the same id stays.
    nlohmann::json first = report;
    platform.writeNew(file, first.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));

    TrashJournal journal(file);
    moveItems(plan, mover, journal, report, progress);

    report.finishedAt = std::chrono::system_clock::now();
    try {
        journal.finish(report);
    } catch (const std::exception& error) {
        report.logWarning =
            "History could not be saved completely: " + PathText::displayable(error.what());
    }
    return report;
}

} // namespace varnok

// Restore of TrashService: putting a moved item back without ever overwriting anything.
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/trash/OperationLock.hpp"
#include "core/trash/TrashJournal.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <unordered_map>

namespace varnok {
namespace {

const char* const notRestorable =
    "This history entry cannot be restored automatically. Check Trash in your file manager.";
const char* const trashChanged =
    "The item in Trash was changed, replaced or removed. Check it in your file manager.";
const char* const parentChanged =
    "The original parent folder is missing or changed. Restore manually in your file manager.";
const char* const occupied =
    "An item already exists at the original path. Nothing will be overwritten.";
const char* const pathsChanged = "The restore paths changed during verification.";
const char* const descriptorMismatch = "A restore path changed. Nothing was restored.";

bool reachedWithoutLinks(const Url& url) {
    return Platform::current().resolvingSymlinks(url).path() == url.path();
}

// A lookup-only folder descriptor that does not follow a final symbolic link.
class FolderDescriptor {
public:
    explicit FolderDescriptor(const std::string& path)
        : fd_(::open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~FolderDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderDescriptor(const FolderDescriptor&) = delete;
    FolderDescriptor& operator=(const FolderDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string systemErrorText(const char* format, int error) {
    char text[256];
    std::snprintf(text, sizeof text, format, error);
    return text;
}

} // namespace

bool TrashService::isInTrash(const Url& url) {
    return Platform::current().isInTrash(url);
}

void TrashService::restoreWithoutOverwrite(const Url& source, const Url& destination,
                                           const FileIdentity& identity,
                                           const FileIdentity& parentIdentity) {
    const Url sourceFolder = source.deletingLastPathComponent();
    const Url parent = destination.deletingLastPathComponent();
    const FileIdentity sourceFolderIdentity = FileIdentity::capture(sourceFolder);

    FolderDescriptor sourceFd(sourceFolder.path());
    if (sourceFd.get() < 0) {
        throw CleanupProblem(
            systemErrorText("Cannot safely open the Trash folder (system error %d).", errno));
    }
    FolderDescriptor parentFd(parent.path());
    if (parentFd.get() < 0) {
        throw CleanupProblem(systemErrorText(
            "Cannot safely open the original parent folder (system error %d).", errno));
    }

    const std::string sourceName = source.lastPathComponent();
    const std::string destinationName = destination.lastPathComponent();
    if (!FileIdentity::capture(sourceFd.get()).sameObject(sourceFolderIdentity) ||
        !FileIdentity::capture(sourceFd.get(), sourceName).matchesForRestore(identity) ||
        !FileIdentity::capture(parentFd.get()).sameObject(parentIdentity) ||
        !FileIdentity::capture(source).matchesForRestore(identity) ||
        !reachedWithoutLinks(sourceFolder) || !reachedWithoutLinks(parent)) {
        throw CleanupProblem(descriptorMismatch);
    }

    // RENAME_NOREPLACE fails when the name exists; where the file system cannot do that, the
    // rename fails too (EINVAL) and nothing falls back to a rename that could replace.
    if (::renameat2(sourceFd.get(), sourceName.c_str(), parentFd.get(), destinationName.c_str(),
                    RENAME_NOREPLACE) != 0) {
        throw CleanupProblem(systemErrorText(
            "Restore was refused (system error %d). An existing destination is never "
            "overwritten; cross-volume or unsupported moves require your file manager.",
            errno));
    }
}

namespace {

// The report of a restore, read under the single-operation lock after earlier journals were
// folded into their reports.
TrashReport openForRestore(const Url& history, const Url& file) {
    Platform& platform = Platform::current();
    TrashJournal::settle(history);
    return TrashReport::decode(platform.readFile(file));
}

// The first outcome of each original URL.
std::unordered_map<Url, size_t> outcomeIndex(const TrashReport& report) {
    std::unordered_map<Url, size_t> index;
    for (size_t i = 0; i < report.outcomes.size(); ++i) {
        index.emplace(report.outcomes[i].originalURL, i);
    }
    return index;
}

// Puts back one item of `report`, recording its transitions in `journal`. Throws like `restore`.
// Returns false when the item is back but its last transition could not be recorded.
bool restoreItem(const Uuid& reportID, TrashReport& report,
                 const std::unordered_map<Url, size_t>& outcomes, const Url& originalURL,
                 const std::function<bool(const Url&)>& trashLocationCheck, TrashJournal& journal) {
    Platform& platform = Platform::current();
    auto found = outcomes.find(originalURL);
    if (report.id != reportID || found == outcomes.end()) {
        throw CleanupProblem(notRestorable);
    }
    const size_t index = found->second;
    TrashOutcome& outcome = report.outcomes[index];
    if (outcome.status != TrashStatus::moved || !outcome.trashURL || !outcome.trashIdentity ||
        !outcome.originalParentIdentity) {
        throw CleanupProblem(notRestorable);
    }

    const Url destination = originalURL.standardized();
    const Url parent = destination.deletingLastPathComponent();
    const Url trash = *outcome.trashURL;
    const FileIdentity trashIdentity = *outcome.trashIdentity;
    const FileIdentity parentIdentity = *outcome.originalParentIdentity;

    if (!trash.isFileUrl() || !originalURL.isFileUrl() || trash == destination ||
        !(trashLocationCheck ? trashLocationCheck(trash) : TrashService::isInTrash(trash)) ||
        trashIdentity.isSymbolicLink() || !reachedWithoutLinks(trash)) {
        throw CleanupProblem(trashChanged);
    }
    if (!FileIdentity::capture(trash).matchesForRestore(trashIdentity)) {
        throw CleanupProblem(trashChanged);
    }
    if (!reachedWithoutLinks(parent) || !parentIdentity.isDirectory()) {
        throw CleanupProblem(parentChanged);
    }
    if (!FileIdentity::capture(parent).sameObject(parentIdentity)) {
        throw CleanupProblem(parentChanged);
    }
    bool somethingThere = true;
    try {
        FileIdentity::capture(destination);
    } catch (const std::exception&) {
        somethingThere = false;
    }
    if (somethingThere) {
        throw CleanupProblem(occupied);
    }
    Task::checkCancellation();

    const TrashOutcome before = outcome;
    outcome.status = TrashStatus::restoring;
    outcome.message.reset();
    try {
        journal.record(report, index, true);
    } catch (...) {
        // Not marked, so nothing happens and the report stays as it was.
        outcome = before;
        throw;
    }

    try {
        Task::checkCancellation();
        // A read failure here is itself the failure.
        if (!FileIdentity::capture(trash).matchesForRestore(trashIdentity) ||
            !FileIdentity::capture(parent).sameObject(parentIdentity) ||
            !reachedWithoutLinks(parent)) {
            throw CleanupProblem(pathsChanged);
        }
        TrashService::restoreWithoutOverwrite(trash, destination, trashIdentity, parentIdentity);
    } catch (const std::exception& failure) {
        outcome.status = TrashStatus::moved;
        outcome.message = std::string("Restore did not finish: ") + failure.what();
        try {
            journal.record(report, index, false);
        } catch (...) {
            // The original failure is what the caller needs to see.
        }
        throw;
    }

    // The Trash's own record of the item. A failure to drop it never undoes the restore, but file
    // managers may go on listing the item, so the user is told.
    std::optional<std::string> warning;
    try {
        platform.forgetTrashedItem(trash);
    } catch (const std::exception& error) {
        warning = "Restored, but the Trash still lists this item: its record could not be "
                  "removed. " +
                  PathText::displayable(error.what());
    }

    outcome.status = TrashStatus::restored;
    outcome.restoredAt = std::chrono::system_clock::now();
    outcome.message = warning;
    try {
        journal.record(report, index, false);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Said in the returned report of an item that is back while the history still says otherwise.
void noteUnrecorded(TrashOutcome& outcome) {
    outcome.message =
        "Restored, but history could not be updated. Check the original folder before "
        "retrying." +
        (outcome.message ? " " + *outcome.message : std::string());
}

struct RestoreFiles {
    Url history;
    Url report;
};

// The history folder named by `logDirectory` and the report's file in it. Without the folder there
// is no report to restore from and no place for the lock: reading the missing report says so.
RestoreFiles filesToRestoreFrom(const Url& logDirectory, const Uuid& reportID) {
    const Url history = Url::file(PathText::standardize(logDirectory.path()), true);
    const Url report = TrashService::reportFile(history, reportID);
    if (!Platform::current().fileExists(history)) {
        Platform::current().readFile(report);
    }
    return {history, report};
}

void requireOwned(const OperationLock& lock) {
    if (!lock.owns()) {
        throw CleanupProblem("Another file operation is running.");
    }
}

} // namespace

TrashReport TrashService::restore(const Uuid& reportID, const Url& originalURL,
                                  const Url& logDirectory,
                                  const std::function<bool(const Url&)>& trashLocationCheck) {
    const auto [history, file] = filesToRestoreFrom(logDirectory, reportID);
    OperationLock lock(history);
    requireOwned(lock);
    TrashReport report = openForRestore(history, file);
    TrashJournal journal(file);
    bool recorded = false;
    try {
        recorded = restoreItem(reportID, report, outcomeIndex(report), originalURL,
                               trashLocationCheck, journal);
    } catch (...) {
        if (journal.recorded()) {
            try {
                journal.finish(report);
            } catch (...) {
                // The journal stays and readers fold it.
            }
        }
        throw;
    }
    try {
        journal.finish(report);
    } catch (...) {
        if (!recorded) {
            for (auto& outcome : report.outcomes) {
                if (outcome.originalURL == originalURL) {
                    noteUnrecorded(outcome);
                    break;
                }
            }
        }
    }
    return report;
}

TrashRestoreResult TrashService::restore(const Uuid& reportID, const std::vector<Url>& originalURLs,
                                         const Url& logDirectory,
                                         const std::function<bool(const Url&)>& trashLocationCheck,
                                         const TrashProgressHandler& progress) {
    const auto [history, file] = filesToRestoreFrom(logDirectory, reportID);
    OperationLock lock(history);
    requireOwned(lock);
    TrashRestoreResult result;
    result.report = openForRestore(history, file);
    result.problems.resize(originalURLs.size());
    TrashJournal journal(file);

    const auto outcomes = outcomeIndex(result.report);
    auto sizeOf = [&](const Url& url) -> std::int64_t {
        auto it = outcomes.find(url);
        return it == outcomes.end() ? 0 : result.report.outcomes[it->second].logicalSize;
    };
    std::int64_t bytesTotal = 0;
    for (const Url& url : originalURLs) {
        bytesTotal += sizeOf(url);
    }
    TrashProgress step;
    step.total = originalURLs.size();
    step.bytesTotal = bytesTotal;

    std::vector<size_t> unrecorded;
    std::optional<std::string> stop;
    for (size_t i = 0; i < originalURLs.size(); ++i) {
        const Url& url = originalURLs[i];
        if (!stop && Task::isCancelled()) {
            result.cancelled = true;
            stop = "Stopped before restoring this item.";
        }
        if (stop) {
            result.problems[i] = stop;
            continue;
        }
        if (progress) {
            step.done = i;
            step.current = url;
            progress(step);
        }
        try {
            if (!restoreItem(reportID, result.report, outcomes, url, trashLocationCheck, journal)) {
                unrecorded.push_back(i);
                // Later transitions could not be recorded either.
                stop = "Not tried: the history could not be updated.";
            }
        } catch (const CancellationError&) {
            result.cancelled = true;
            stop = "Stopped before restoring this item.";
            result.problems[i] = stop;
            continue;
        } catch (const std::exception& error) {
            result.problems[i] = PathText::displayable(error.what());
        }
        step.bytesDone += sizeOf(url);
    }
    if (journal.recorded()) {
        try {
            journal.finish(result.report);
        } catch (...) {
            for (size_t i : unrecorded) {
                noteUnrecorded(result.report.outcomes[outcomes.at(originalURLs[i])]);
            }
        }
    }
    if (progress) {
        step.done = originalURLs.size();
        step.current = Url();
        progress(step);
    }
    return result;
}

} // namespace varnok

// Restore of TrashService: putting a moved item back without ever overwriting anything.
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/trash/OperationLock.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

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

TrashReport TrashService::restore(const Uuid& reportID, const Url& originalURL,
                                  const Url& logDirectory,
                                  const std::function<bool(const Url&)>& trashLocationCheck) {
    Platform& platform = Platform::current();
    const Url history = Url::file(PathText::standardize(logDirectory.path()), true);
    const Url file = reportFile(history, reportID);
    // Without its history folder there is no report to restore from, and no place for the lock.
    if (!platform.fileExists(history)) {
        platform.readFile(file);
    }
    OperationLock lock(history);
    if (!lock.owns()) {
        throw CleanupProblem("Another file operation is running.");
    }
    TrashReport report = TrashReport::decode(platform.readFile(file));

    TrashOutcome* outcome = nullptr;
    if (report.id == reportID) {
        for (auto& candidate : report.outcomes) {
            if (candidate.originalURL == originalURL) {
                outcome = &candidate;
                break;
            }
        }
    }
    if (outcome == nullptr || outcome->status != TrashStatus::moved || !outcome->trashURL ||
        !outcome->trashIdentity || !outcome->originalParentIdentity) {
        throw CleanupProblem(notRestorable);
    }

    const Url destination = originalURL.standardized();
    const Url parent = destination.deletingLastPathComponent();
    const Url trash = *outcome->trashURL;
    const FileIdentity trashIdentity = *outcome->trashIdentity;
    const FileIdentity parentIdentity = *outcome->originalParentIdentity;

    if (!trash.isFileUrl() || !originalURL.isFileUrl() || trash == destination ||
        !(trashLocationCheck ? trashLocationCheck(trash) : isInTrash(trash)) ||
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

    outcome->status = TrashStatus::restoring;
    outcome->message.reset();
    save(report, file);

    try {
        Task::checkCancellation();
        // A read failure here is itself the failure.
        if (!FileIdentity::capture(trash).matchesForRestore(trashIdentity) ||
            !FileIdentity::capture(parent).sameObject(parentIdentity) ||
            !reachedWithoutLinks(parent)) {
            throw CleanupProblem(pathsChanged);
        }
        restoreWithoutOverwrite(trash, destination, trashIdentity, parentIdentity);
    } catch (const std::exception& failure) {
        outcome->status = TrashStatus::moved;
        outcome->message = std::string("Restore did not finish: ") + failure.what();
        try {
            save(report, file);
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

    outcome->status = TrashStatus::restored;
    outcome->restoredAt = std::chrono::system_clock::now();
    outcome->message = warning;
    try {
        save(report, file);
    } catch (...) {
        outcome->message =
            "Restored, but history could not be updated. Check the original folder before "
            "retrying." +
            (warning ? " " + *warning : std::string());
    }
    return report;
}

} // namespace varnok

#include "core/trash/RecoveryAvailability.hpp"

#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace varnok {
namespace {

using State = RecoveryAvailability::State;

// Found, missing (ENOENT), or failed for any other reason.
struct IdentityRead {
    enum class Kind { found, missing, failed } kind = Kind::failed;
    FileIdentity identity;
};

IdentityRead readIdentity(const Url& url) {
    IdentityRead read;
    std::string path = url.path();
    if (!url.isFileUrl() || path.empty() || path.find('\0') != std::string::npos) {
        return read;
    }
    struct stat record {};
    if (::lstat(path.c_str(), &record) == 0) {
        read.kind = IdentityRead::Kind::found;
        read.identity = FileIdentity::fromStat(record);
    } else if (errno == ENOENT) {
        read.kind = IdentityRead::Kind::missing;
    }
    return read;
}

// Resolving symbolic links leaves the path text as it is: nothing on the way is a link.
bool reachedWithoutLinks(const Url& url) {
    try {
        return Platform::current().resolvingSymlinks(url).path() == url.path();
    } catch (const std::exception&) {
        return false;
    }
}

RecoveryAvailability verdict(State state, const char* message, bool reveal) {
    return RecoveryAvailability{state, reveal, message};
}

} // namespace

RecoveryAvailability RecoveryAvailability::inspect(const TrashOutcome& outcome,
                                                   const TrashLocationCheck& trashLocationCheck) {
    switch (outcome.status) {
    case TrashStatus::notAttempted:
    case TrashStatus::failed:
        return verdict(State::notMoved, "This item was not moved to Trash by this cleanup.", false);
    case TrashStatus::moving:
    case TrashStatus::restoring:
        return verdict(State::interrupted,
                       "This action was interrupted. Check the original location and Trash in "
                       "your file manager.",
                       false);
    case TrashStatus::restored:
        return verdict(State::alreadyRestored, "This item was already restored.", false);
    case TrashStatus::moved:
        break;
    }
    if (!outcome.trashURL || !outcome.trashIdentity || !outcome.originalParentIdentity) {
        return verdict(State::unavailable,
                       "This older entry cannot be verified for automatic recovery. Check Trash "
                       "in your file manager.",
                       false);
    }
    const Url& trash = *outcome.trashURL;
    const Url original = outcome.originalURL.standardized();
    if (!trash.isFileUrl() || !original.isFileUrl() ||
        PathText::equivalent(trash.standardized().path(), original.path()) ||
        outcome.trashIdentity->isSymbolicLink()) {
        return verdict(
            State::unavailable,
            "The saved recovery locations cannot be verified. Check them in your file manager.",
            false);
    }

    const IdentityRead atOriginal = readIdentity(original);
    if (atOriginal.kind == IdentityRead::Kind::found && !atOriginal.identity.isSymbolicLink() &&
        atOriginal.identity.sameObject(*outcome.trashIdentity) && reachedWithoutLinks(original)) {
        return verdict(State::alreadyRestored, "This item is already at its original location.",
                       false);
    }

    const IdentityRead atTrash = readIdentity(trash);
    if (atTrash.kind != IdentityRead::Kind::found) {
        return verdict(State::unavailable,
                       "The saved Trash item is unavailable. It may have been moved, Trash may "
                       "have been emptied, or access may be restricted.",
                       false);
    }
    if (atTrash.identity.isSymbolicLink() || !reachedWithoutLinks(trash) ||
        !atTrash.identity.matchesForRestore(*outcome.trashIdentity)) {
        return verdict(State::changed,
                       "The item at the saved Trash location has changed. Check it in your "
                       "file manager before recovering it.",
                       false);
    }

    bool inTrash = false;
    try {
        inTrash = trashLocationCheck ? trashLocationCheck(trash) : TrashService::isInTrash(trash);
    } catch (...) {
        return verdict(
            State::unavailable,
            "Ombrelo could not verify access to this Trash item. Check it in your file manager.",
            false);
    }
    if (!inTrash) {
        return verdict(State::unavailable,
                       "The saved item is no longer in a verified Trash location. Check it in "
                       "your file manager.",
                       false);
    }

    const Url parent = original.deletingLastPathComponent();
    const IdentityRead atParent = readIdentity(parent);
    if (!outcome.originalParentIdentity->isDirectory() || !reachedWithoutLinks(parent) ||
        atParent.kind != IdentityRead::Kind::found ||
        !atParent.identity.sameObject(*outcome.originalParentIdentity)) {
        return verdict(State::unavailable,
                       "The original folder is unavailable or has changed. You can find the item "
                       "in Trash and recover it manually.",
                       true);
    }

    switch (atOriginal.kind) {
    case IdentityRead::Kind::found:
        return verdict(State::originalOccupied,
                       "Another item is already at the original location. Nothing will be "
                       "overwritten; you can review the saved item in Trash.",
                       true);
    case IdentityRead::Kind::missing:
        return verdict(State::available, "Ready to restore to the original location.", true);
    case IdentityRead::Kind::failed:
        break;
    }
    return verdict(State::unavailable,
                   "Ombrelo could not check the original location. Review its access before "
                   "recovering this item.",
                   true);
}

std::string_view storedText(RecoveryAvailability::State state) {
    switch (state) {
    case State::available:
        return "available";
    case State::alreadyRestored:
        return "alreadyRestored";
    case State::originalOccupied:
        return "originalOccupied";
    case State::unavailable:
        return "unavailable";
    case State::changed:
        return "changed";
    case State::interrupted:
        return "interrupted";
    case State::notMoved:
        return "notMoved";
    }
    return "unavailable";
}

} // namespace varnok

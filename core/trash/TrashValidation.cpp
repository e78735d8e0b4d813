// Checking selected items afresh before they are planned and again before they are moved.
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/FilePolicy.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <sys/stat.h>

namespace varnok {

namespace {

const char* const noLongerEligible =
    "The selected path is no longer eligible. Scan and review it again.";
const char* const keptCopyProblem =
    "The kept copy is missing, changed or no longer identical. Find duplicates again.";

enum class Family { knownLocations, duplicates, projects };

Family familyOf(CleanupCategory category) {
    switch (category.value()) {
    case CleanupCategory::duplicates:
        return Family::duplicates;
    case CleanupCategory::xcode:
    case CleanupCategory::dependencies:
    case CleanupCategory::builds:
        return Family::projects;
    default:
        return Family::knownLocations;
    }
}

bool isEligible(const CleanupCandidate& candidate, const Url& item, const Url& root) {
    const FileNode& node = candidate.node;
    if (candidate.isExample || !item.isFileUrl() || !root.isFileUrl()) {
        return false;
    }
    if (!node.isDirectory && candidate.category != CleanupCategory::duplicates &&
        candidate.category != CleanupCategory::oldLogs) {
        return false;
    }
    if (node.isSymbolicLink || node.hasReadErrors || !node.identity || node.logicalSize < 1) {
        return false;
    }
    const std::string itemPath = item.path();
    const std::string rootPath = root.path();
    if (!PathText::equal(itemPath, rootPath) && !PathText::isInside(itemPath, rootPath)) {
        return false;
    }
    return PathText::equal(Platform::current().resolvingSymlinks(item).path(), itemPath);
}

bool keeperIsMissing(const FileNode& keeper) {
    struct stat record {};
    return ::lstat(keeper.id.path().c_str(), &record) != 0 && errno == ENOENT;
}

void validateDuplicate(const CleanupCandidate& candidate, const Url& item, const Url& root) {
    const auto& keeper = candidate.keeper;
    if (!keeper || keeper->id == candidate.node.id ||
        !PathText::isInside(keeper->id.path(), root.path()) || !FilePolicy::allowsUserFile(item) ||
        !FilePolicy::allowsUserFile(keeper->id) || keeperIsMissing(*keeper) ||
        !DuplicateEngine::equalContents(candidate.node, *keeper)) {
        throw CleanupProblem(keptCopyProblem);
    }
}

void validateKnownLocation(const CleanupCandidate&, const Url&, const Url&) {
    throw CleanupProblem(noLongerEligible);
}

void validateProjectOutput(const CleanupCandidate&, const Url&) {
    throw CleanupProblem(noLongerEligible);
}

} // namespace

void TrashService::validate(const CleanupCandidate& candidate, const Url& scanRoot) {
    Task::checkCancellation();
    const Url item = candidate.node.id.standardized();
    const Url root = scanRoot.standardized();
    if (!isEligible(candidate, item, root)) {
        throw CleanupProblem(noLongerEligible);
    }
    switch (familyOf(candidate.category)) {
    case Family::knownLocations:
        validateKnownLocation(candidate, item, root);
        break;
    case Family::duplicates:
        validateDuplicate(candidate, item, root);
        break;
    case Family::projects:
        validateProjectOutput(candidate, item);
        break;
    }
}

std::map<std::string, FileIdentity> TrashService::signature(const FileNode& node) {
    Platform& platform = Platform::current();
    std::map<std::string, FileIdentity> map;
    std::vector<const FileNode*> stack{&node};
    while (!stack.empty()) {
        const FileNode* entry = stack.back();
        stack.pop_back();
        Task::checkCancellation();
        if (!entry->identity || entry->hasReadErrors) {
            throw CleanupProblem("This folder could not be fully verified. Scan it again.");
        }
        if (entry->identity->isRegularFile() && !platform.isReadableFile(entry->id)) {
            throw CleanupProblem(
                "A file inside this folder is unreadable. Review its permissions before cleanup.");
        }
        map[entry->id.path()] = *entry->identity;
        for (const FileNode& child : entry->children) {
            stack.push_back(&child);
        }
    }
    return map;
}

CleanupPlan TrashService::prepare(const std::vector<CleanupCandidate>& items, const Url& scanRoot) {
    if (items.empty()) {
        throw CleanupProblem("Select at least one item.");
    }
    std::vector<std::string> working;
    for (const auto& item : items) {
        if (item.node.isSymbolicLink || item.node.hasReadErrors) {
            continue;
        }
        const std::string path = PathText::standardize(item.node.id.path());
        bool skipped = false;
        for (const std::string& listed : working) {
            if (PathText::equal(path, listed) || PathText::isInside(path, listed)) {
                skipped = true;
                break;
            }
        }
        if (skipped) {
            continue;
        }
        std::erase_if(working,
                      [&](const std::string& listed) { return PathText::isInside(listed, path); });
        working.push_back(path);
    }
    if (working.size() != items.size()) {
        throw CleanupProblem(
            "The selection contains overlapping or invalid items. Review it again.");
    }
    for (const auto& holder : items) {
        if (!holder.keeper) {
            continue;
        }
        const Url& keeper = holder.keeper->id;
        for (const auto& item : items) {
            if (keeper == item.node.id || PathText::isInside(keeper.path(), item.node.id.path())) {
                throw CleanupProblem(
                    "A copy marked Keep is also selected for cleanup. Remove it or "
                    "its parent folder from the queue.");
            }
        }
    }
    for (const auto& item : items) {
        validate(item, scanRoot);
    }
    CleanupPlan plan;
    plan.id = Uuid::random();
    plan.createdAt = std::chrono::system_clock::now();
    plan.items = items;
    plan.scanRoot = scanRoot;
    return plan;
}

} // namespace varnok

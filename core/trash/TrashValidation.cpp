// Checking selected items afresh before they are planned and again before they are moved.
#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/FilePolicy.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unordered_set>

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

void validateKnownLocation(const CleanupCandidate& candidate, const Url& item, const Url& root) {
    static const char* const changed =
        "This cache or log changed or no longer matches the cleanup rule. Scan again.";
    static const char* const contentsChanged =
        "Cache contents changed since the scan. Close the related app and scan again.";
    const FileNode& node = candidate.node;
    if (!ConsumerCleanup::eligible(node, candidate.category, root,
                                   std::chrono::system_clock::now())) {
        throw CleanupProblem(changed);
    }
    if (FileIdentity::capture(item) != *node.identity) {
        throw CleanupProblem(changed);
    }
    auto running = ConsumerCleanup::runningApps(candidate, root);
    if (!running.empty()) {
        std::string names;
        for (const auto& name : running) {
            names += (names.empty() ? "" : ", ") + name;
        }
        throw CleanupProblem("Close " + names + " and scan again before cleaning its cache.");
    }
    if (!node.isDirectory) {
        if (!Platform::current().isReadableFile(item)) {
            throw CleanupProblem("This log cannot be read. It was not moved.");
        }
        return;
    }
    ScanResult fresh = ScanEngine::scan(item, nullptr);
    if (fresh.skippedCount != 0 || !ConsumerCleanup::eligible(fresh.root, candidate.category, root,
                                                              std::chrono::system_clock::now())) {
        throw CleanupProblem(contentsChanged);
    }
    // Fresh tree first: its problems are the ones the user can act on now.
    auto freshSignature = TrashService::signature(fresh.root);
    if (freshSignature != TrashService::signature(node)) {
        throw CleanupProblem(contentsChanged);
    }
}

void validateProjectOutput(const CleanupCandidate& candidate, const Url& item) {
    const FileNode& node = candidate.node;
    const Url home = Platform::current().homeDirectory();
    if (!FilePolicy::allowsCleanupFolder(item, home) ||
        CleanupAnalysis::containsProtectedData(node)) {
        throw CleanupProblem(
            "This item contains protected data or is inside a protected location. Review it "
            "manually.");
    }
    const std::string name = item.lastPathComponent();
    FileIdentity current = FileIdentity::capture(item);
    if (!current.isDirectory() || current.isSymbolicLink() || current != *node.identity) {
        throw CleanupProblem(name + " changed since the scan. Scan again before moving it.");
    }

    // The project as it is now: the item beside its current marker files.
    const Url parent = item.deletingLastPathComponent();
    std::vector<FileNode> children{node};
    for (std::string_view marker : CleanupAnalysis::markerNames()) {
        Url url = parent.appendingPathComponent(marker);
        FileIdentity identity;
        try {
            identity = FileIdentity::capture(url);
        } catch (const std::exception&) {
            continue;
        }
        if (identity.isRegularFile()) {
            children.emplace_back(url, false, 0, 0, std::vector<FileNode>{}, 0, 0, false, false,
                                  true, identity);
        }
    }
    FileNode project(parent, true, 0, 0, std::move(children), 0, 0, false, false, true);
    bool stillDetected = false;
    for (const auto& found : CleanupAnalysis::detect(project, home)) {
        if (found.node.id == node.id && found.category == candidate.category) {
            stillDetected = true;
            break;
        }
    }
    if (!stillDetected) {
        throw CleanupProblem(
            "Project markers changed or the cleanup rule no longer matches. Scan again.");
    }
    ScanResult fresh = ScanEngine::scan(item, nullptr);
    bool unchanged = fresh.skippedCount == 0;
    if (unchanged) {
        auto freshSignature = TrashService::signature(fresh.root);
        unchanged = freshSignature == TrashService::signature(node);
    }
    if (!unchanged) {
        throw CleanupProblem("Files inside " + name +
                             " changed since the scan. Stop related tools and scan again.");
    }
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

namespace {

const char* const overlapping =
    "The selection contains overlapping or invalid items. Review it again.";

// Whether `path` lies inside one of `folders`: each folder it could lie in is looked up.
bool insideAny(const std::string& path, const std::unordered_set<std::string>& folders) {
    if (path.size() > 1 && path.front() == '/' && folders.count("/") != 0) {
        return true;
    }
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (folders.count(path.substr(0, slash)) != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

CleanupPlan TrashService::prepare(const std::vector<CleanupCandidate>& items, const Url& scanRoot) {
    if (items.empty()) {
        throw CleanupProblem("Select at least one item.");
    }
    // Sorted with "/" before every other byte, an item inside another follows it or follows
    // another item inside it, so comparing neighbours finds every overlap.
    std::vector<std::string> paths;
    paths.reserve(items.size());
    for (const auto& item : items) {
        if (item.node.isSymbolicLink || item.node.hasReadErrors) {
            throw CleanupProblem(overlapping);
        }
        paths.push_back(PathText::canonical(PathText::standardize(item.node.id.path())));
    }
    std::sort(paths.begin(), paths.end(), PathText::foldersFirst);
    for (size_t i = 1; i < paths.size(); ++i) {
        if (paths[i] == paths[i - 1] || PathText::isInside(paths[i], paths[i - 1])) {
            throw CleanupProblem(overlapping);
        }
    }
    std::unordered_set<Url> selected;
    std::unordered_set<std::string> selectedPaths;
    for (const auto& item : items) {
        selected.insert(item.node.id);
        selectedPaths.insert(PathText::canonical(item.node.id.path()));
    }
    for (const auto& holder : items) {
        if (holder.keeper &&
            (selected.count(holder.keeper->id) != 0 ||
             insideAny(PathText::canonical(holder.keeper->id.path()), selectedPaths))) {
            throw CleanupProblem("A copy marked Keep is also selected for cleanup. Remove it or "
                                 "its parent folder from the queue.");
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

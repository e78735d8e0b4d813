#include "core/cleanup/CleanupAnalysis.hpp"

#include "core/common/Task.hpp"
#include "core/scan/FilePolicy.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace varnok {
namespace {

constexpr std::array<std::string_view, 6> lockfiles = {
    "package-lock.json", "npm-shrinkwrap.json", "yarn.lock", "pnpm-lock.yaml",
    "bun.lock",          "bun.lockb",
};

constexpr std::array<std::string_view, 4> nextConfigurations = {
    "next.config.js", "next.config.mjs", "next.config.ts", "next.config.cjs"};

// Exact names: what lies inside is history, deleted items or other dependencies.
constexpr std::array<std::string_view, 4> neverDescended = {".git", ".Trash", "node_modules",
                                                            "Pods"};

constexpr std::array<std::string_view, 9> protectedDataNames = {
    ".git", ".hg", ".svn", ".ssh", ".gnupg", ".aws", ".azure", ".kube", ".env"};

using Siblings = std::unordered_set<std::string_view>;

bool hasAny(const Siblings& siblings, std::string_view const* begin, std::string_view const* end) {
    return std::any_of(begin, end, [&](std::string_view name) { return siblings.count(name) > 0; });
}

struct Match {
    CleanupCategory category;
    const char* evidence;
};

std::optional<Match> match(const FileNode& node, std::string_view name, const Siblings& siblings,
                           const std::string& derivedData) {
    if (PathText::equal(PathText::standardize(node.id.path()), derivedData)) {
        return Match{CleanupCategory::xcode,
                     "Exact Xcode DerivedData location in the current user's Library."};
    }
    if (name == "node_modules" && siblings.count("package.json") > 0 &&
        hasAny(siblings, lockfiles.begin(), lockfiles.end())) {
        return Match{CleanupCategory::dependencies,
                     "Adjacent package.json and dependency lockfile."};
    }
    if (name == ".next" && siblings.count("package.json") > 0 &&
        hasAny(siblings, nextConfigurations.begin(), nextConfigurations.end())) {
        return Match{CleanupCategory::builds, "Adjacent package.json and Next.js configuration."};
    }
    return std::nullopt;
}

bool mayDescend(const FileNode& node, std::string_view name,
                const std::vector<std::string>& homeTrashPaths) {
    if (std::find(neverDescended.begin(), neverDescended.end(), name) != neverDescended.end()) {
        return false;
    }
    std::string lowered = FilePolicy::lowercased(name);
    if ((lowered != "library" && FilePolicy::isProtectedName(lowered)) ||
        FilePolicy::hasBundleSuffix(lowered)) {
        return false;
    }
    // Linux Trash folders are kept out exactly like ".Trash".
    if (FilePolicy::isVolumeTrashName(name)) {
        return false;
    }
    if (lowered == "trash") {
        std::string path = FilePolicy::lowercased(PathText::standardize(node.id.path()));
        if (std::find(homeTrashPaths.begin(), homeTrashPaths.end(), path) != homeTrashPaths.end()) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<CleanupCandidate> CleanupAnalysis::detect(const FileNode& root, const Url& home) {
    const std::string derivedData =
        PathText::standardize(home.path() + "/Library/Developer/Xcode/DerivedData");
    const std::vector<std::string> homeTrashPaths = FilePolicy::homeTrashPaths();

    std::vector<CleanupCandidate> found;
    // Each folder's set of file names is built once and shared by all of its child folders.
    std::vector<std::pair<const FileNode*, std::shared_ptr<const Siblings>>> stack;
    stack.emplace_back(&root, std::make_shared<const Siblings>());
    while (!stack.empty()) {
        auto [node, siblings] = std::move(stack.back());
        stack.pop_back();
        Task::checkCancellation();
        if (!node->isDirectory || node->isSymbolicLink) {
            continue;
        }
        std::string_view name = node->id.lastPathComponentView();
        if (auto matched = match(*node, name, *siblings, derivedData)) {
            if (node->logicalSize >= 1 && !node->hasReadErrors &&
                FilePolicy::allowsCleanupFolder(node->id, home) && !containsProtectedData(*node)) {
                found.emplace_back(*node, matched->category,
                                   node->id.deletingLastPathComponent().path(), matched->evidence);
                continue;
            }
        }
        if (!mayDescend(*node, name, homeTrashPaths)) {
            continue;
        }
        auto files = std::make_shared<Siblings>();
        for (const FileNode& child : node->children) {
            if (!child.isDirectory && !child.isSymbolicLink) {
                files->insert(child.id.lastPathComponentView());
            }
        }
        std::shared_ptr<const Siblings> shared = std::move(files);
        for (const FileNode& child : node->children) {
            if (child.isDirectory) {
                stack.emplace_back(&child, shared);
            }
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const CleanupCandidate& a, const CleanupCandidate& b) {
                         return a.node.logicalSize > b.node.logicalSize;
                     });
    return found;
}

bool CleanupAnalysis::containsProtectedData(const FileNode& node) {
    std::vector<const FileNode*> stack;
    for (const FileNode& child : node.children) {
        stack.push_back(&child);
    }
    while (!stack.empty()) {
        const FileNode* entry = stack.back();
        stack.pop_back();
        std::string name = FilePolicy::lowercased(entry->id.lastPathComponentView());
        if (std::find(protectedDataNames.begin(), protectedDataNames.end(), name) !=
                protectedDataNames.end() ||
            name.rfind(".env.", 0) == 0) {
            return true;
        }
        for (const FileNode& child : entry->children) {
            stack.push_back(&child);
        }
    }
    return false;
}

} // namespace varnok

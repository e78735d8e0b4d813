#include "core/cleanup/CleanupAnalysis.hpp"

#include "core/common/Task.hpp"
#include "core/scan/FilePolicy.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
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
constexpr std::array<std::string_view, 5> nuxtConfigurations = {
    "nuxt.config.js", "nuxt.config.ts", "nuxt.config.mjs", "nuxt.config.cjs", "nuxt.config.mts"};
constexpr std::array<std::string_view, 6> viteConfigurations = {
    "vite.config.js",  "vite.config.ts",  "vite.config.mjs",
    "vite.config.cjs", "vite.config.mts", "vite.config.cts"};
constexpr std::array<std::string_view, 2> gradleBuilds = {"build.gradle", "build.gradle.kts"};
// Where tox reads its configuration.
constexpr std::array<std::string_view, 4> toxConfigurations = {"tox.ini", "pyproject.toml",
                                                               "setup.cfg", "setup.py"};

// Exact names: what lies inside is history, deleted items or other dependencies. Installed
// Python packages are dependencies too; their __pycache__ folders are not the user's.
constexpr std::array<std::string_view, 6> neverDescended = {
    ".git", ".Trash", "node_modules", "Pods", "site-packages", "dist-packages"};

constexpr std::array<std::string_view, 9> protectedDataNames = {
    ".git", ".hg", ".svn", ".ssh", ".gnupg", ".aws", ".azure", ".kube", ".env"};

// Caches that Python tools make in the folder they run in, known by name alone.
struct ToolCache {
    std::string_view name;
    const char* evidence;
};
constexpr std::array<ToolCache, 3> toolCaches = {{
    {".mypy_cache", "mypy's cache folder, rebuilt on the next type check."},
    {".pytest_cache", "pytest's cache folder, rebuilt on the next test run."},
    {".ruff_cache", "Ruff's cache folder, rebuilt on the next lint."},
}};

// The Cache Directory Tagging convention: a CACHEDIR.TAG file beginning with this line marks
// its folder as a cache that its program can make again.
constexpr std::string_view cacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";

using Siblings = std::unordered_set<std::string_view>;

template <size_t N>
std::optional<std::string_view> firstOf(const Siblings& names,
                                        const std::array<std::string_view, N>& wanted) {
    for (std::string_view name : wanted) {
        if (names.count(name) > 0) {
            return name;
        }
    }
    return std::nullopt;
}

template <size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view name) {
    return std::find(table.begin(), table.end(), name) != table.end();
}

// What a folder holds directly: regular files and folders, by name.
struct Contents {
    Siblings files;
    Siblings folders;
    std::unordered_map<std::string_view, const FileNode*> fileNodes;
};

Contents contentsOf(const FileNode& node) {
    Contents contents;
    for (const FileNode& child : node.children) {
        if (child.isSymbolicLink) {
            continue;
        }
        std::string_view name = child.id.lastPathComponentView();
        if (child.isDirectory) {
            contents.folders.insert(name);
        } else if (child.identity && child.identity->isRegularFile()) {
            contents.files.insert(name);
            contents.fileNodes.emplace(name, &child);
        }
    }
    return contents;
}

// Reads the first line of a CACHEDIR.TAG, refusing anything but a regular file at that path.
bool carriesCacheTag(const FileNode& tag) {
    int fd = ::open(tag.id.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat record {};
    char buffer[cacheTagSignature.size()];
    size_t got = 0;
    if (::fstat(fd, &record) == 0 && S_ISREG(record.st_mode)) {
        while (got < sizeof buffer) {
            ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    return got == cacheTagSignature.size() && std::string_view(buffer, got) == cacheTagSignature;
}

bool hasCacheTag(const Contents& inside) {
    auto tag = inside.fileNodes.find("CACHEDIR.TAG");
    return tag != inside.fileNodes.end() && carriesCacheTag(*tag->second);
}

struct Match {
    CleanupCategory category;
    std::string evidence;
};

// The detection rules, in order. The root of the walk has nothing known beside it (`siblings` is
// null) and can only be the Xcode folder.
std::optional<Match> match(const FileNode& node, std::string_view name, const Siblings* siblings,
                           const std::string& derivedData) {
    if (PathText::equal(PathText::standardize(node.id.path()), derivedData)) {
        return Match{CleanupCategory::xcode,
                     "Exact Xcode DerivedData location in the current user's Library."};
    }
    if (siblings == nullptr) {
        return std::nullopt;
    }
    const Siblings& beside = *siblings;
    const bool manifest = beside.count("package.json") > 0;
    if (name == "node_modules" && manifest && firstOf(beside, lockfiles)) {
        return Match{CleanupCategory::dependencies,
                     "Adjacent package.json and dependency lockfile."};
    }
    if (name == ".next" && manifest && firstOf(beside, nextConfigurations)) {
        return Match{CleanupCategory::builds, "Adjacent package.json and Next.js configuration."};
    }
    if ((name == ".nuxt" || name == ".output") && manifest && firstOf(beside, nuxtConfigurations)) {
        return Match{CleanupCategory::builds, "Adjacent package.json and Nuxt configuration."};
    }
    if (name == "dist" && manifest && firstOf(beside, viteConfigurations)) {
        return Match{CleanupCategory::builds, "Adjacent package.json and Vite configuration."};
    }
    if (name == ".parcel-cache" && manifest) {
        return Match{CleanupCategory::builds, "Adjacent package.json: Parcel's build cache."};
    }
    if ((name == ".angular" || name == "dist") && beside.count("angular.json") > 0) {
        return Match{CleanupCategory::builds, "Adjacent angular.json: Angular build output."};
    }
    if (name == "target" && beside.count("Cargo.toml") > 0) {
        Contents inside = contentsOf(node);
        if (inside.folders.count("debug") > 0 || inside.folders.count("release") > 0 ||
            hasCacheTag(inside)) {
            return Match{CleanupCategory::builds, "Adjacent Cargo.toml and Cargo build output."};
        }
    }
    if (name == "target" && beside.count("pom.xml") > 0) {
        return Match{CleanupCategory::builds, "Adjacent pom.xml: Maven build output."};
    }
    if (name == "build" || name == ".gradle") {
        if (auto gradle = firstOf(beside, gradleBuilds)) {
            return Match{CleanupCategory::builds,
                         "Adjacent " + std::string(*gradle) + ": Gradle build output."};
        }
    }
    if (name == ".tox") {
        if (auto configuration = firstOf(beside, toxConfigurations)) {
            return Match{CleanupCategory::dependencies,
                         "Adjacent " + std::string(*configuration) + ": tox test environments."};
        }
    }
    for (const ToolCache& cache : toolCaches) {
        if (name == cache.name) {
            return Match{CleanupCategory::builds, cache.evidence};
        }
    }
    // The rules below look inside the folder; most folders hold none of their markers.
    const bool venvOrBytecode = name == ".venv" || name == "venv" || name == "__pycache__";
    if (!venvOrBytecode &&
        std::none_of(node.children.begin(), node.children.end(), [](const FileNode& child) {
            std::string_view file = child.id.lastPathComponentView();
            return file == "CMakeCache.txt" || file == "CACHEDIR.TAG";
        })) {
        return std::nullopt;
    }
    Contents inside = contentsOf(node);
    if ((name == ".venv" || name == "venv") && inside.files.count("pyvenv.cfg") > 0) {
        return Match{CleanupCategory::dependencies,
                     "pyvenv.cfg inside: a Python virtual environment."};
    }
    if (name == "__pycache__" && !inside.files.empty() &&
        inside.files.size() == node.children.size() &&
        std::all_of(inside.files.begin(), inside.files.end(),
                    [](std::string_view file) { return file.ends_with(".pyc"); })) {
        return Match{CleanupCategory::builds, "Compiled Python bytecode (.pyc files only)."};
    }
    // An out-of-source build: a build folder that holds its own project would be the source.
    if (inside.files.count("CMakeCache.txt") > 0 && inside.folders.count("CMakeFiles") > 0 &&
        inside.files.count("CMakeLists.txt") == 0) {
        return Match{CleanupCategory::builds, "CMakeCache.txt inside: a CMake build folder."};
    }
    if (hasCacheTag(inside)) {
        return Match{CleanupCategory::builds,
                     "CACHEDIR.TAG inside: its program marked it as a cache folder."};
    }
    return std::nullopt;
}

bool mayDescend(const FileNode& node, std::string_view name,
                const std::vector<std::string>& homeTrashPaths) {
    if (contains(neverDescended, name)) {
        return false;
    }
    // A Python virtual environment holds installed packages, whatever its name.
    for (const FileNode& child : node.children) {
        if (!child.isDirectory && !child.isSymbolicLink &&
            child.id.lastPathComponentView() == "pyvenv.cfg") {
            return false;
        }
    }
    std::string lowered = FilePolicy::lowercased(name);
    // Library and Applications folders are walked: the policy judges what is found in them by
    // where they lie.
    if (FilePolicy::isProtectedName(lowered) || FilePolicy::hasBundleSuffix(lowered)) {
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

const std::vector<std::string_view>& CleanupAnalysis::markerNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> all{"package.json"};
        all.insert(all.end(), lockfiles.begin(), lockfiles.end());
        all.insert(all.end(), nextConfigurations.begin(), nextConfigurations.end());
        all.insert(all.end(), nuxtConfigurations.begin(), nuxtConfigurations.end());
        all.insert(all.end(), viteConfigurations.begin(), viteConfigurations.end());
        for (std::string_view name : {"angular.json", "Cargo.toml", "pom.xml"}) {
            all.push_back(name);
        }
        all.insert(all.end(), gradleBuilds.begin(), gradleBuilds.end());
        all.insert(all.end(), toxConfigurations.begin(), toxConfigurations.end());
        return all;
    }();
    return names;
}

std::vector<CleanupCandidate> CleanupAnalysis::detect(const FileNode& root, const Url& home) {
    std::int64_t ignored = 0;
    return detect(root, home, ignored);
}

std::vector<CleanupCandidate> CleanupAnalysis::detect(const FileNode& root, const Url& home,
                                                      std::int64_t& policyLeftOutFiles) {
    const std::string derivedData =
        PathText::standardize(home.path() + "/Library/Developer/Xcode/DerivedData");
    const std::vector<std::string> homeTrashPaths = FilePolicy::homeTrashPaths();

    std::vector<CleanupCandidate> found;
    // Each folder's set of file names is built once and shared by all of its child folders.
    // With each folder: whether the files below it are already counted as left out.
    std::vector<std::tuple<const FileNode*, std::shared_ptr<const Siblings>, bool>> stack;
    stack.emplace_back(&root, nullptr, false);
    while (!stack.empty()) {
        auto [node, siblings, counted] = std::move(stack.back());
        stack.pop_back();
        Task::checkCancellation();
        if (!node->isDirectory || node->isSymbolicLink) {
            continue;
        }
        std::string_view name = node->id.lastPathComponentView();
        if (auto matched = match(*node, name, siblings.get(), derivedData)) {
            const bool allowed =
                FilePolicy::allowsCleanupFolder(node->id, home) && !containsProtectedData(*node);
            if (node->logicalSize >= 1 && !node->hasReadErrors && allowed) {
                found.emplace_back(*node, matched->category,
                                   node->id.deletingLastPathComponent().path(), matched->evidence);
                continue;
            }
            // Still searched below: a refused folder may hold a project of its own.
            if (!allowed && !counted) {
                policyLeftOutFiles += node->fileCount;
                counted = true;
            }
        }
        if (!mayDescend(*node, name, homeTrashPaths)) {
            if (!counted && !contains(neverDescended, name)) {
                policyLeftOutFiles += node->fileCount;
            }
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
                stack.emplace_back(&child, shared, counted);
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

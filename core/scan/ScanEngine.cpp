#include "core/scan/ScanEngine.hpp"

#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <chrono>
#include <fnmatch.h>

namespace varnok {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto progressInterval = std::chrono::milliseconds(100);
constexpr size_t inaccessibleLimit = 100;

std::string_view extensionOf(std::string_view name) {
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return name.substr(dot + 1);
}

bool isInsideOrEqual(std::string_view path, std::string_view folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

void sortChildren(std::vector<FileNode>& children) {
    std::stable_sort(children.begin(), children.end(), [](const FileNode& a, const FileNode& b) {
        if (a.logicalSize != b.logicalSize) {
            return a.logicalSize > b.logicalSize;
        }
        return a.id.lastPathComponentView() < b.id.lastPathComponentView();
    });
}

// The walk keeps the folders on the current path open on a stack; a folder is complete when the
// walk leaves it, and is then sorted and added to its parent. This is the bottom-up build done as
// the entries arrive, so no map of pending nodes is needed.
struct OpenFolder {
    FileNode node;
    int depth;
};

class Scan {
public:
    Scan(Url root, const ScanProgressHandler& progress, const ScanOptions& options)
        : root_(std::move(root)), rootPath_(root_.path()), handler_(progress), options_(options) {}

    ScanResult run() {
        const auto started = Clock::now();
        Platform& platform = Platform::current();

        FileIdentity rootIdentity = FileIdentity::capture(root_);
        rootDevice_ = rootIdentity.device;
        ResourceValues values = platform.resourceValues(root_);
        if (!values.isDirectory.value_or(false) || values.isReadable == std::optional(false)) {
            throw FileError(FileError::readNoPermission);
        }
        stack_.push_back(
            {FileNode(root_, true, 0, 0, {}, 0, 0, false, false, true, rootIdentity), 0});

        auto enumerator = platform.enumerator(
            root_, [this](const std::string& path, int) { return onError(path); });
        if (!enumerator) {
            throw FileError(FileError::readUnknown);
        }

        DirectoryEntry entry;
        while (enumerator->next(entry)) {
            Task::checkCancellation();
            read(entry, *enumerator);
        }

        progress_.phase = "Building folder map";
        progress_.currentPath = lastReportedPath_;
        report();
        while (stack_.size() > 1) {
            Task::checkCancellation();
            closeTop();
        }
        Task::checkCancellation();
        finish(stack_.back().node);
        report();

        ScanResult result;
        result.root = std::move(stack_.back().node);
        result.inaccessiblePaths = std::move(inaccessiblePaths_);
        result.skippedCount = skippedCount_;
        result.ageSizes = ageSizes_;
        result.typeSizes = typeSizes_;
        result.otherFileSystems = std::move(otherFileSystems_);
        result.excludedCount = excludedCount_;
        result.duration = std::chrono::duration<double>(Clock::now() - started).count();
        return result;
    }

private:
    // Leaves the entry out when the options say so; nothing below it is read.
    bool leftOut(const DirectoryEntry& entry, DirectoryEnumerator& enumerator) {
        if (!options_.excludes.empty()) {
            std::string_view relative = entry.path;
            relative.remove_prefix(
                std::min(relative.size(), rootPath_ == "/" ? size_t{1} : rootPath_.size() + 1));
            if (ScanEngine::isExcluded(relative, options_.excludes)) {
                enumerator.skipDescendants();
                ++excludedCount_;
                return true;
            }
        }
        if (options_.oneFileSystem && entry.identity && entry.identity->isDirectory() &&
            entry.identity->device != rootDevice_) {
            enumerator.skipDescendants();
            otherFileSystems_.push_back(entry.path);
            return true;
        }
        return false;
    }

    void read(const DirectoryEntry& entry, DirectoryEnumerator& enumerator) {
        if (leftOut(entry, enumerator)) {
            return;
        }
        if (!entry.properties || !entry.identity) {
            // Never descend below an entry that is left out: its descendants would have no parent.
            enumerator.skipDescendants();
            skip(entry.path);
            return;
        }
        const EntryProperties& properties = *entry.properties;
        const bool isFolder =
            properties.isDirectory.value_or(false) && !properties.isSymbolicLink.value_or(false);
        const std::int64_t logical = isFolder ? 0 : properties.fileSize.value_or(0);
        const std::int64_t allocated = isFolder ? 0 : properties.totalFileAllocatedSize.value_or(0);
        const bool complete = isFolder || properties.totalFileAllocatedSize.has_value();

        while (stack_.back().depth >= entry.depth) {
            closeTop();
        }
        FileNode node(urlOf(entry), isFolder, logical, allocated, {}, isFolder ? 0 : 1, 0,
                      properties.isSymbolicLink.value_or(false), false, complete, entry.identity);

        if (isFolder) {
            ++progress_.folderCount;
            stack_.push_back({std::move(node), entry.depth});
        } else {
            ++progress_.fileCount;
            progress_.logicalSize += logical;
            const Date now = std::chrono::system_clock::now();
            const double days =
                secondsBetween(properties.contentModificationDate.value_or(now), now) / 86400.0;
            ageSizes_[static_cast<size_t>(ScanEngine::ageBucket(days))] += logical;
            std::string_view name = entry.path;
            name.remove_prefix(name.rfind('/') + 1);
            typeSizes_[static_cast<size_t>(ScanEngine::kindBucket(name))] += logical;
            attach(std::move(node), stack_.back().node);
        }

        const auto time = Clock::now();
        if (!reportedYet_ || time - lastReport_ > progressInterval) {
            reportedYet_ = true;
            lastReport_ = time;
            progress_.currentPath = entry.path;
            lastReportedPath_ = entry.path;
            report();
        }
    }

    // Made from the parent folder's URL, so that the tree's URLs share their parents' names.
    // Entry paths are standard, so this gives the same URL as the whole path.
    Url urlOf(const DirectoryEntry& entry) const {
        const OpenFolder& parent = stack_.back();
        const auto slash = entry.path.rfind('/');
        if (parent.depth != entry.depth - 1 || slash == std::string::npos) {
            return Url::file(entry.path, entry.folderForm);
        }
        return parent.node.id.appendingPathComponent(std::string_view(entry.path).substr(slash + 1),
                                                     entry.folderForm);
    }

    bool onError(const std::string& path) {
        skip(path);
        return !Task::isCancelled();
    }

    void skip(const std::string& path) {
        ++skippedCount_;
        if (inaccessiblePaths_.size() < inaccessibleLimit) {
            inaccessiblePaths_.push_back(path);
        }
        markReadError(path);
    }

    // Flags the deepest open folder at or above `path`; its ancestors take the flag from it when
    // they are completed.
    void markReadError(const std::string& path) {
        if (path.compare(0, rootPath_.size(), rootPath_) != 0) {
            return;
        }
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            if (isInsideOrEqual(path, it->node.id.path())) {
                it->node.hasReadErrors = true;
                return;
            }
        }
    }

    static void finish(FileNode& node) {
        if (node.hasReadErrors) {
            node.allocatedSizeComplete = false;
        }
        if (node.isDirectory) {
            sortChildren(node.children);
            node.children.shrink_to_fit();
        }
    }

    static void attach(FileNode&& node, FileNode& parent) {
        finish(node);
        parent.logicalSize += node.logicalSize;
        parent.allocatedSize += node.allocatedSize;
        parent.fileCount += node.fileCount;
        parent.folderCount += node.folderCount + (node.isDirectory ? 1 : 0);
        parent.hasReadErrors = parent.hasReadErrors || node.hasReadErrors;
        parent.allocatedSizeComplete = parent.allocatedSizeComplete && node.allocatedSizeComplete;
        parent.children.push_back(std::move(node));
    }

    void closeTop() {
        FileNode node = std::move(stack_.back().node);
        stack_.pop_back();
        attach(std::move(node), stack_.back().node);
    }

    void report() {
        if (handler_) {
            handler_(progress_);
        }
    }

    Url root_;
    std::string rootPath_;
    const ScanProgressHandler& handler_;
    const ScanOptions& options_;
    std::int32_t rootDevice_ = 0;
    std::vector<std::string> otherFileSystems_;
    std::int64_t excludedCount_ = 0;
    std::vector<OpenFolder> stack_;
    std::vector<std::string> inaccessiblePaths_;
    std::int64_t skippedCount_ = 0;
    std::array<std::int64_t, 4> ageSizes_{};
    std::array<std::int64_t, 4> typeSizes_{};
    ScanProgress progress_;
    std::string lastReportedPath_;
    bool reportedYet_ = false;
    Clock::time_point lastReport_{};
};

} // namespace

int ScanEngine::kindBucket(std::string_view fileName) {
    std::string extension(extensionOf(fileName));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    static const std::vector<std::vector<std::string_view>> kinds = {
        {"swift", "js", "ts", "tsx", "py", "json", "o", "a", "dylib", "rs", "go", "c", "h"},
        {"mp4", "mov", "png", "jpg", "jpeg", "heic", "mp3", "wav", "psd"},
        {"pdf", "docx", "txt", "md", "pages", "xlsx", "csv"},
    };
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
        if (std::find(kinds[kind].begin(), kinds[kind].end(), extension) != kinds[kind].end()) {
            return static_cast<int>(kind);
        }
    }
    return 3;
}

int ScanEngine::ageBucket(double days) {
    if (days >= 365) {
        return 3;
    }
    if (days >= 180) {
        return 2;
    }
    if (days >= 30) {
        return 1;
    }
    return 0;
}

bool ScanEngine::isExcluded(std::string_view relativePath,
                            const std::vector<std::string>& patterns) {
    std::string path(relativePath);
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    for (const std::string& pattern : patterns) {
        const bool wholePath = pattern.find('/') != std::string::npos;
        if (::fnmatch(pattern.c_str(), (wholePath ? path : name).c_str(),
                      wholePath ? FNM_PATHNAME : 0) == 0) {
            return true;
        }
    }
    return false;
}

ScanResult ScanEngine::scan(const Url& url, const ScanProgressHandler& progress) {
    return scan(url, progress, ScanOptions{});
}

ScanResult ScanEngine::scan(const Url& url, const ScanProgressHandler& progress,
                            const ScanOptions& options) {
    Url root = Platform::current().resolvingSymlinks(url).standardized();
    return Scan(std::move(root), progress, options).run();
}

} // namespace varnok

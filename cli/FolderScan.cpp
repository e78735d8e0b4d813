#include "cli/FolderScan.hpp"

#include "cli/Cli.hpp"
#include "core/scan/ScanEngine.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

void keepUntilExit(varnok::ScanResult&& result) {
    static auto* kept = new std::vector<varnok::ScanResult>();
    kept->push_back(std::move(result));
}

varnok::ScanResult scanWithProgress(const varnok::Url& folder, const varnok::ScanOptions& options) {
    ProgressLine line;
    auto result = varnok::ScanEngine::scan(
        folder,
        [&](const varnok::ScanProgress& progress) {
            line.update(progress.phase + ": " + counted(progress.fileCount, "file", "files") +
                        ", " + counted(progress.folderCount, "folder", "folders") + ", " +
                        formatBytes(progress.logicalSize) + "  " + progress.currentPath);
        },
        options);
    line.clear();
    return result;
}

void sizeByDiskUsage(varnok::FileNode& root) {
    root.logicalSize = root.allocatedSize;
    // A heap stack: a folder chain tens of thousands of levels deep must not exhaust the call
    // stack. Each folder's children are sized before they are ranked.
    std::vector<varnok::FileNode*> pending{&root};
    while (!pending.empty()) {
        varnok::FileNode& node = *pending.back();
        pending.pop_back();
        for (varnok::FileNode& child : node.children) {
            child.logicalSize = child.allocatedSize;
        }
        std::stable_sort(node.children.begin(), node.children.end(),
                         [](const varnok::FileNode& a, const varnok::FileNode& b) {
                             if (a.logicalSize != b.logicalSize) {
                                 return a.logicalSize > b.logicalSize;
                             }
                             return a.id.lastPathComponentView() < b.id.lastPathComponentView();
                         });
        for (varnok::FileNode& child : node.children) {
            if (!child.children.empty()) {
                pending.push_back(&child);
            }
        }
    }
}

void sortByDiskUsage(std::vector<const varnok::FileNode*>& nodes) {
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const varnok::FileNode* a, const varnok::FileNode* b) {
                         if (a->allocatedSize != b->allocatedSize) {
                             return a->allocatedSize > b->allocatedSize;
                         }
                         return a->id.path() < b->id.path();
                     });
}

std::string localDateText(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::localtime_r(&time, &parts) == nullptr) {
        return "";
    }
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts) > 0 ? text : "";
}

std::string isoDateText(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr) {
        return "";
    }
    char text[40];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) > 0 ? text : "";
}

} // namespace ombrelo::cli

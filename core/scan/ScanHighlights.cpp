#include "core/scan/ScanHighlights.hpp"

#include "core/common/Task.hpp"
#include "core/scan/FileNode.hpp"

#include <vector>

namespace varnok {
namespace {

ScanHighlights summarized(const FileNode& node, bool onDisk) {
    ScanHighlights highlights;
    // An explicit stack: a deep tree must not exhaust the call stack.
    std::vector<const FileNode*> stack;
    for (const FileNode& child : node.children) {
        stack.push_back(&child);
    }
    while (!stack.empty()) {
        const FileNode* current = stack.back();
        stack.pop_back();
        Task::checkCancellation();
        if (current->isSymbolicLink) {
            continue;
        }
        if (current->isDirectory) {
            for (const FileNode& child : current->children) {
                stack.push_back(&child);
            }
            continue;
        }
        if (onDisk && current->isRepeatedLink) {
            continue;
        }
        ++highlights.fileCount;
        const std::int64_t size = onDisk ? current->allocatedSize : current->logicalSize;
        if (size >= ScanHighlights::largeFileThreshold) {
            ++highlights.largeFileCount;
            highlights.largeFileBytes += size;
        }
    }
    return highlights;
}

} // namespace

ScanHighlights ScanHighlights::summarize(const FileNode& node) {
    return summarized(node, false);
}

ScanHighlights ScanHighlights::summarizeOnDisk(const FileNode& node) {
    return summarized(node, true);
}

} // namespace varnok

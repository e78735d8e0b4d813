#include "core/scan/ScanHighlights.hpp"

#include "core/common/Task.hpp"
#include "core/scan/FileNode.hpp"

#include <vector>

namespace varnok {

ScanHighlights ScanHighlights::summarize(const FileNode& node) {
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
        ++highlights.fileCount;
        if (current->logicalSize >= largeFileThreshold) {
            ++highlights.largeFileCount;
            highlights.largeFileBytes += current->logicalSize;
        }
    }
    return highlights;
}

} // namespace varnok

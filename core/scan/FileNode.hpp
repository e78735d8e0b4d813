#pragma once

#include "core/common/Url.hpp"
#include "core/scan/FileIdentity.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// One node of a scanned folder tree. Copies are independent values. `id` and `isDirectory` are
// fixed once built; the scan engine fills in the rest bottom-up.
struct FileNode {
    Url id;
    bool isDirectory = false;
    bool isSymbolicLink = false;
    bool hasReadErrors = false;
    // `allocatedSize` is exact: every file below reported one and nothing below failed.
    bool allocatedSizeComplete = true;
    // Another path of a file with several hard links, met after the path where the scan counts
    // its blocks: this node's `allocatedSize` is 0, as du counts it.
    bool isRepeatedLink = false;
    // Content bytes; a folder's is the sum over its subtree, every path counted.
    std::int64_t logicalSize = 0;
    // Bytes on disk as du counts them: a folder's own blocks and its subtree's, each file with
    // several hard links once, sparse files by their blocks.
    std::int64_t allocatedSize = 0;
    // 1 for a non-folder node; for a folder, the non-folder nodes of its subtree.
    std::int64_t fileCount = 0;
    // 0 for a non-folder node; for a folder, the folder nodes strictly below it.
    std::int64_t folderCount = 0;
    std::vector<FileNode> children;
    std::optional<FileIdentity> identity;

    FileNode() = default;
    FileNode(Url url, bool isDirectory, std::int64_t logicalSize, std::int64_t allocatedSize,
             std::vector<FileNode> children, std::int64_t fileCount, std::int64_t folderCount,
             bool isSymbolicLink, bool hasReadErrors, bool allocatedSizeComplete,
             std::optional<FileIdentity> identity = std::nullopt);
    // Copying and destroying walk the tree with a heap stack: a folder chain tens of thousands
    // of levels deep must not exhaust the call stack.
    FileNode(const FileNode& other);
    FileNode(FileNode&& other) noexcept = default;
    FileNode& operator=(const FileNode& other);
    FileNode& operator=(FileNode&& other) noexcept = default;
    ~FileNode();

    // The last path component of `id`.
    std::string name() const;

    // The chain of nodes from this node down to the node whose id equals `target`, outermost
    // first: empty when `target` is this node, nothing when no node below matches. The pointers
    // refer into this tree.
    std::optional<std::vector<const FileNode*>> navigationPath(const Url& target) const;
};

} // namespace varnok

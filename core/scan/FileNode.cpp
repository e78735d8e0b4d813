#include "core/scan/FileNode.hpp"

namespace varnok {

FileNode::FileNode(Url url, bool isDirectory, std::int64_t logicalSize, std::int64_t allocatedSize,
                   std::vector<FileNode> children, std::int64_t fileCount, std::int64_t folderCount,
                   bool isSymbolicLink, bool hasReadErrors, bool allocatedSizeComplete,
                   std::optional<FileIdentity> identity)
    : id(std::move(url)), isDirectory(isDirectory), isSymbolicLink(isSymbolicLink),
      hasReadErrors(hasReadErrors), allocatedSizeComplete(allocatedSizeComplete),
      logicalSize(logicalSize), allocatedSize(allocatedSize), fileCount(fileCount),
      folderCount(folderCount), children(std::move(children)), identity(identity) {}

std::string FileNode::name() const {
    return id.lastPathComponent();
}

namespace {

bool searchBelow(const FileNode& node, const Url& target, const std::string& targetPath,
                 std::vector<const FileNode*>& chain) {
    for (const FileNode& child : node.children) {
        if (child.id == target) {
            chain.push_back(&child);
            return true;
        }
        if (!child.isDirectory) {
            continue;
        }
        // Only descend where the target can lie; group nodes of other schemes are always tried.
        if (child.id.isFileUrl()) {
            std::string prefix = child.id.path();
            if (prefix != "/") {
                prefix += '/';
            }
            if (targetPath.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
        }
        chain.push_back(&child);
        if (searchBelow(child, target, targetPath, chain)) {
            return true;
        }
        chain.pop_back();
    }
    return false;
}

} // namespace

std::optional<std::vector<const FileNode*>> FileNode::navigationPath(const Url& target) const {
    std::vector<const FileNode*> chain;
    if (id == target) {
        return chain;
    }
    if (searchBelow(*this, target, target.path(), chain)) {
        return chain;
    }
    return std::nullopt;
}

} // namespace varnok

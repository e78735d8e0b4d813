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

namespace {

// Every member but the children.
FileNode withoutChildren(const FileNode& node) {
    FileNode copy(node.id, node.isDirectory, node.logicalSize, node.allocatedSize, {},
                  node.fileCount, node.folderCount, node.isSymbolicLink, node.hasReadErrors,
                  node.allocatedSizeComplete, node.identity);
    copy.isRepeatedLink = node.isRepeatedLink;
    return copy;
}

} // namespace

FileNode::FileNode(const FileNode& other) : FileNode(withoutChildren(other)) {
    std::vector<std::pair<const FileNode*, FileNode*>> pending{{&other, this}};
    while (!pending.empty()) {
        auto [source, target] = pending.back();
        pending.pop_back();
        // Reserved first, so that the addresses pushed below stay valid.
        target->children.reserve(source->children.size());
        for (const FileNode& child : source->children) {
            target->children.push_back(withoutChildren(child));
        }
        for (size_t i = 0; i < source->children.size(); ++i) {
            pending.emplace_back(&source->children[i], &target->children[i]);
        }
    }
}

FileNode& FileNode::operator=(const FileNode& other) {
    if (this != &other) {
        *this = FileNode(other);
    }
    return *this;
}

FileNode::~FileNode() {
    if (children.empty()) {
        return;
    }
    // Detach each level before it is destroyed, so that no destructor below recurses further.
    std::vector<FileNode> pending = std::move(children);
    while (!pending.empty()) {
        FileNode last = std::move(pending.back());
        pending.pop_back();
        for (FileNode& child : last.children) {
            if (!child.children.empty()) {
                pending.push_back(std::move(child));
            }
        }
        last.children.clear();
    }
}

std::string FileNode::name() const {
    return id.lastPathComponent();
}

std::optional<std::vector<const FileNode*>> FileNode::navigationPath(const Url& target) const {
    std::vector<const FileNode*> chain;
    if (id == target) {
        return chain;
    }
    const std::string targetPath = target.path();
    // Depth first with a heap stack; each frame is a folder on the chain and its next child.
    std::vector<std::pair<const FileNode*, size_t>> frames{{this, 0}};
    while (!frames.empty()) {
        auto& [folder, next] = frames.back();
        if (next == folder->children.size()) {
            frames.pop_back();
            if (!chain.empty()) {
                chain.pop_back();
            }
            continue;
        }
        const FileNode& child = folder->children[next++];
        if (child.id == target) {
            chain.push_back(&child);
            return chain;
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
        frames.emplace_back(&child, 0);
    }
    return std::nullopt;
}

} // namespace varnok

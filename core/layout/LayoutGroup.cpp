#include "core/layout/LayoutGroup.hpp"

#include <algorithm>

namespace varnok {

std::shared_ptr<const LayoutGroup> LevelSelection::makeGroup(std::vector<const FileNode*> members,
                                                             std::string_view scheme,
                                                             const Url& owner) {
    auto group = std::make_shared<LayoutGroup>();
    FileNode& node = group->node;
    Url id = Url::parse(scheme).value_or(Url());
    id = id.appendingPathComponent(owner.absoluteString());
    if (!members.empty()) {
        id = id.appendingPathComponent(members.front()->id.absoluteString());
        id = id.appendingPathComponent(members.back()->id.absoluteString());
    }
    node.id = id.appendingPathComponent("More items");
    node.isDirectory = true;
    node.isSymbolicLink = false;
    node.identity.reset();
    node.hasReadErrors = false;
    node.allocatedSizeComplete = true;
    for (const FileNode* member : members) {
        node.logicalSize += member->logicalSize;
        node.allocatedSize += member->allocatedSize;
        node.fileCount += member->fileCount;
        node.folderCount +=
            member->folderCount + ((member->isDirectory && member->id.isFileUrl()) ? 1 : 0);
        node.hasReadErrors = node.hasReadErrors || member->hasReadErrors;
        node.allocatedSizeComplete = node.allocatedSizeComplete && member->allocatedSizeComplete;
    }
    group->members = std::move(members);
    return group;
}

std::vector<VisibleItem> LevelSelection::select(const std::vector<FileNode>& nodes, int budget,
                                                int siblingLimit, std::string_view scheme,
                                                const Url& owner) {
    std::vector<const FileNode*> items;
    for (const FileNode& node : nodes) {
        if (node.logicalSize >= 1) {
            items.push_back(&node);
        }
    }
    std::vector<VisibleItem> visible;
    if (items.empty()) {
        return visible;
    }
    int limit = std::min(budget, siblingLimit);
    bool allFit = (limit >= 1 && items.size() <= static_cast<size_t>(limit)) ||
                  (limit < 1 && items.size() == 1);
    if (allFit) {
        for (const FileNode* item : items) {
            visible.push_back(VisibleItem{item, nullptr});
        }
        return visible;
    }
    size_t kept = static_cast<size_t>(std::max(limit, 1) - 1);
    for (size_t i = 0; i < kept; ++i) {
        visible.push_back(VisibleItem{items[i], nullptr});
    }
    std::vector<const FileNode*> gathered(items.begin() + static_cast<std::ptrdiff_t>(kept),
                                          items.end());
    auto group = makeGroup(std::move(gathered), scheme, owner);
    visible.push_back(VisibleItem{&group->node, group});
    return visible;
}

bool isLayoutGroup(const FileNode& node) {
    return node.id.scheme() == "varnok-group";
}

} // namespace varnok

#pragma once

#include "core/scan/FileNode.hpp"

#include <memory>
#include <string_view>
#include <vector>

namespace varnok {

// A synthetic "More items" node standing for the smallest entries of one level that are not shown
// one by one. Its id has the "varnok-group" scheme, so it is never a file and never opened.
// `node` holds the sums over the gathered entries; the entries themselves are `members`, pointers
// into the laid-out tree (in their given order) rather than copies in `node.children`, so that a
// layout never copies a subtree.
struct LayoutGroup {
    FileNode node;
    std::vector<const FileNode*> members;
};

// What one level shows: entries of the caller's tree, the last possibly a group.
struct VisibleItem {
    const FileNode* node = nullptr;
    // Owns `node` when it is a group.
    std::shared_ptr<const LayoutGroup> group;
};

// The level selection shared by the layouts.
class LevelSelection {
public:
    // The entries of `nodes` with a logical size of at least 1, in order; at most
    // max(1, min(budget, siblingLimit)) of them, the last a group of the rest when there are more.
    // The group's id is `scheme` ("varnok-group://treemap" or "…://sunburst") followed by the
    // components: `owner`, the first and the last gathered entry (absolute URL texts), "More
    // items".
    static std::vector<VisibleItem> select(const std::vector<FileNode>& nodes, int budget,
                                           int siblingLimit, std::string_view scheme,
                                           const Url& owner);

    // The group built from `members`: sums of sizes and counts, read errors if any member has
    // them, allocated size complete only if every member's is.
    static std::shared_ptr<const LayoutGroup> makeGroup(std::vector<const FileNode*> members,
                                                        std::string_view scheme, const Url& owner);
};

// What every placement of a layout holds besides its geometry.
struct LayoutEntry {
    // The entry drawn: a node of the caller's tree (which must outlive the placement), or
    // `group->node`.
    const FileNode* node = nullptr;
    // Set for a "More items" group; keeps `node` alive in copies of the placement.
    std::shared_ptr<const LayoutGroup> group;
    // The opened folders above this entry, outermost first; empty on the first level.
    std::vector<const FileNode*> ancestors;
    // 1 for the entries given to the layout.
    int depth = 0;

    const Url& id() const { return node->id; }
};

// True for the "More items" nodes the layouts build.
bool isLayoutGroup(const FileNode& node);

} // namespace varnok

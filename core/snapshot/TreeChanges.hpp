#pragma once

#include "core/scan/FileNode.hpp"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace varnok {

// The two sizes a tree holds for each node.
enum class SizeMeasure { onDisk, apparent };

// A node's size in `measure`: `allocatedSize` on disk, `logicalSize` apparent.
std::int64_t sizeIn(const FileNode& node, SizeMeasure measure);

// How one node of today's tree differs from an earlier scan of the same folder.
struct NodeChange {
    enum class Kind { unchanged, appeared, grew, shrank };
    Kind kind = Kind::unchanged;
    // Sizes then and now; `before` is 0 for a new node.
    std::int64_t before = 0;
    std::int64_t after = 0;

    std::int64_t change() const { return after - before; }
};

// What changed below a folder, in bytes. Items present in both scans count by how much they grew
// or shrank (a folder's own blocks too), new and gone items whole, each counted at the topmost
// new or gone folder. So grew - shrank + appeared - gone is the folder's change.
struct ChangeTotals {
    std::int64_t grew = 0;
    std::int64_t shrank = 0;
    std::int64_t appeared = 0;
    std::int64_t gone = 0;

    friend bool operator==(const ChangeTotals&, const ChangeTotals&) = default;
};

// The change of every node of a newer tree against an older tree of the same folder, in both
// measures, looked up by node. Items are matched by name, folder by folder, so a renamed or moved
// item is one gone and one new, and so is one that changed between file and folder. Only nodes
// that changed are kept: an unchanged tree costs next to nothing, and a new folder's contents
// are known to be new from it.
class TreeChanges {
public:
    // Checks for cancellation now and then. The roots are compared whatever their paths.
    static TreeChanges compare(const FileNode& older, const FileNode& newer);

    // `node` is a node of the newer tree, or of a copy of it with the same ids (sizes are read
    // from `node` itself, so a copy must keep both of them).
    NodeChange changeOf(const FileNode& node, SizeMeasure measure) const;
    // What changed below `folder`, a folder of the newer tree (or of a copy, as above). All it
    // holds is new when it is new itself.
    ChangeTotals totalsBelow(const FileNode& folder, SizeMeasure measure) const;
    // Nodes kept: those that changed or are new (what a new folder holds is not counted).
    size_t size() const;

private:
    struct Entry {
        Url node;
        bool isNew = false;
        // Now minus then, per measure; unused for a new node.
        std::array<std::int64_t, 2> change{};
    };
    // A folder of the newer tree that is new, or holds something that changed. Kept by folder
    // rather than by node, so that a million changed files cost a hash each of their folders
    // only: a node is found through its parent.
    struct Folder {
        bool isNew = false;
        // The children that changed or are new, by name.
        std::vector<Entry> children;
        std::array<ChangeTotals, 2> totals{};
    };
    std::unordered_map<Url, Folder> folders_;
    // The newer root, which has no parent to be found through.
    Entry root_;

    friend class TreeComparer;
};

} // namespace varnok

#pragma once

#include "core/layout/LayoutGeometry.hpp"
#include "core/layout/LayoutGroup.hpp"

#include <vector>

namespace varnok {

struct PackedCircle {
    LayoutPoint center;
    double radius = 0;
    friend bool operator==(const PackedCircle&, const PackedCircle&) = default;
};

// One bubble of a bubble map.
struct BubblePlacement : LayoutEntry {
    // In canvas coordinates.
    PackedCircle circle;
    // The bubble's children are laid out inside it and follow it in the result.
    bool expanded = false;
};

// Circles whose areas follow logical sizes, packed inside one enclosing circle; large folders open
// into a smaller circle inside their own bubble.
class BubbleLayout {
public:
    // At most this many bubbles on one level; the rest form a "More items" bubble.
    static constexpr int siblingLimit = 24;

    // Bubbles for `nodes` (a folder's children, larger first) on a canvas of `size`, each opened
    // bubble followed at once by its contents; `depth` is clamped to 1…3, `tileLimit` bounds the
    // whole result. Nothing for a size that is not a finite positive number or a `tileLimit`
    // below 1; stops quietly when the current task is cancelled.
    static std::vector<BubblePlacement> make(const std::vector<FileNode>& nodes, LayoutSize size,
                                             int depth, int tileLimit);

    // One circle per weight, in the weights' order, areas in proportion to the weights, not
    // overlapping, their enclosing circle exactly the unit circle around the origin. Placed
    // greedily from the largest, each where it keeps the cluster's enclosing circle smallest.
    // Nothing when any weight is not a finite positive number, or when the task is cancelled.
    static std::vector<PackedCircle> pack(const std::vector<double>& weights);
};

} // namespace varnok

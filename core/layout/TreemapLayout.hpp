#pragma once

#include "core/layout/LayoutGeometry.hpp"
#include "core/layout/LayoutGroup.hpp"

#include <cstddef>
#include <utility>
#include <vector>

namespace varnok {

// One tile of a treemap.
struct TreemapPlacement : LayoutEntry {
    // The whole tile in canvas coordinates.
    LayoutRect rect;
    // The tile's children are laid out inside it and follow it in the result.
    bool expanded = false;
};

// Nested rectangles whose areas follow logical sizes.
class TreemapLayout {
public:
    // Tiles for `nodes` (a folder's children, larger first) on a canvas of `size`, in drawing
    // order: each opened folder is followed at once by its contents. `depth` is clamped to 1…4,
    // `tileLimit` bounds the whole result and `siblingLimit` each level under one parent; the
    // smallest entries beyond it are gathered into one "More items" group. A size that is not a
    // finite positive number, or a `tileLimit` below 1, gives nothing. Stops quietly, keeping
    // what it has, when the current task is cancelled.
    static std::vector<TreemapPlacement> make(const std::vector<FileNode>& nodes, LayoutSize size,
                                              int depth, int tileLimit, int siblingLimit);

    // Divides `rect` among the positive finite weights in proportion to them, by halving cuts
    // across the longer side. Pairs of (index into `weights`, rectangle), indices ascending.
    static std::vector<std::pair<size_t, LayoutRect>> partition(const std::vector<double>& weights,
                                                                LayoutRect rect);

    // The area inside a tile where its children go: below the title band, inside the border.
    static LayoutRect childArea(LayoutRect tile);
};

} // namespace varnok

#pragma once

#include "core/layout/LayoutGeometry.hpp"
#include "core/layout/LayoutGroup.hpp"

#include <vector>

namespace varnok {

// One bar of a flame (icicle) chart.
struct FlamePlacement : LayoutEntry {
    // The first row starts at y = 0; rows grow in y.
    LayoutRect rect;
};

// The sunburst unrolled into rows: each opened folder's children share its bar's width on the
// next row.
class FlameLayout {
public:
    // At most this many bars under one parent; the rest form a "More items" bar.
    static constexpr int siblingLimit = 40;

    // Bars for `nodes` (a folder's children, larger first), parents before their children;
    // `depth` is clamped to 1…3. Nothing for a width or row height that is not a finite positive
    // number, or a `tileLimit` below 1.
    static std::vector<FlamePlacement> make(const std::vector<FileNode>& nodes, double width,
                                            double rowHeight, int depth, int tileLimit);
};

} // namespace varnok

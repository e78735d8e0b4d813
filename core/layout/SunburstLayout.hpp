#pragma once

#include "core/layout/LayoutGroup.hpp"

#include <vector>

namespace varnok {

// One ring segment: angles in radians, the first ring spanning 0 to 2π.
struct SunburstSegment : LayoutEntry {
    double start = 0;
    double end = 0;
};

// Rings of segments whose angles follow logical sizes.
class SunburstLayout {
public:
    static constexpr double fullTurn = 6.283185307179586;

    // Segments for `nodes` (a folder's children, larger first), parents before their children.
    // `depth` is clamped to 1…3, `segmentLimit` bounds the whole result and `siblingLimit` each
    // ring under one parent; the smallest entries beyond it are gathered into one "More items"
    // group. A folder opens into the next ring only when its range is wider than 0.025 radians.
    // Nothing for a `segmentLimit` below 1; stops quietly when the current task is cancelled.
    static std::vector<SunburstSegment> make(const std::vector<FileNode>& nodes, int depth,
                                             int segmentLimit, int siblingLimit);
};

} // namespace varnok

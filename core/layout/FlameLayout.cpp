#include "core/layout/FlameLayout.hpp"

#include "core/layout/SunburstLayout.hpp"

#include <cmath>

namespace varnok {

std::vector<FlamePlacement> FlameLayout::make(const std::vector<FileNode>& nodes, double width,
                                              double rowHeight, int depth, int tileLimit) {
    if (!std::isfinite(width) || !std::isfinite(rowHeight) || !(width > 0) || !(rowHeight > 0) ||
        tileLimit < 1) {
        return {};
    }
    std::vector<SunburstSegment> segments =
        SunburstLayout::make(nodes, depth, tileLimit, siblingLimit);
    std::vector<FlamePlacement> result;
    result.reserve(segments.size());
    for (SunburstSegment& segment : segments) {
        FlamePlacement bar;
        double x = width * segment.start / SunburstLayout::fullTurn;
        double barWidth = width * segment.end / SunburstLayout::fullTurn - x;
        bar.rect =
            LayoutRect{x, rowHeight * (segment.depth - 1), barWidth < 0 ? 0 : barWidth, rowHeight};
        bar.node = segment.node;
        bar.group = std::move(segment.group);
        bar.ancestors = std::move(segment.ancestors);
        bar.depth = segment.depth;
        result.push_back(std::move(bar));
    }
    return result;
}

} // namespace varnok

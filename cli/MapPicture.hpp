#pragma once

#include "core/layout/BubbleLayout.hpp"
#include "core/layout/FlameLayout.hpp"
#include "core/layout/SunburstLayout.hpp"
#include "core/layout/TreemapLayout.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace ombrelo::cli {

// What the picture's heading says about the mapped folder.
struct MapHeading {
    std::string folderPath;
    std::int64_t logicalSize = 0;
    std::int64_t fileCount = 0;
    int depth = 1;
};

// SVG pictures of the folder maps: tiles, rings, bars or circles coloured by top-level branch and
// lightened with depth, labelled with names and decimal sizes where they fit, "More items" groups
// hatched grey, a tooltip with path and size on every shape. The layout's canvas sits below a
// heading; round maps get a legend of the largest branches on the right.
class MapPicture {
public:
    static std::string treemap(const std::vector<varnok::TreemapPlacement>& tiles,
                               varnok::LayoutSize canvas, const MapHeading& heading);
    static std::string sunburst(const std::vector<varnok::SunburstSegment>& segments,
                                varnok::LayoutSize canvas, const MapHeading& heading);
    static std::string flame(const std::vector<varnok::FlamePlacement>& bars,
                             varnok::LayoutSize canvas, const MapHeading& heading);
    static std::string bubbles(const std::vector<varnok::BubblePlacement>& bubbles,
                               varnok::LayoutSize canvas, const MapHeading& heading);
};

} // namespace ombrelo::cli

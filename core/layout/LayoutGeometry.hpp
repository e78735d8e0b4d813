#pragma once

namespace varnok {

struct LayoutPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const LayoutPoint&, const LayoutPoint&) = default;
};

struct LayoutSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const LayoutSize&, const LayoutSize&) = default;
};

// Canvas coordinates: x grows to the right, y downwards.
struct LayoutRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

} // namespace varnok

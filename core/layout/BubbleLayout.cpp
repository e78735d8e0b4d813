#include "core/layout/BubbleLayout.hpp"

#include "core/common/Task.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace varnok {

namespace {

constexpr int maximumDepth = 3;
// Smaller bubbles are not opened: their contents would be too small to read.
constexpr double minimumOpeningRadius = 48;
// An opened bubble's contents sit in a smaller circle pushed down, leaving room for its title.
constexpr double innerRadiusShare = 0.76;
constexpr double innerOffsetShare = 0.14;
// Between the canvas edge and the outermost circle.
constexpr double canvasMargin = 3;

struct Circle {
    double x;
    double y;
    double r;
};

struct Bounds {
    double minX = INFINITY;
    double maxX = -INFINITY;
    double minY = INFINITY;
    double maxY = -INFINITY;

    void add(const Circle& c) {
        minX = std::min(minX, c.x - c.r);
        maxX = std::max(maxX, c.x + c.r);
        minY = std::min(minY, c.y - c.r);
        maxY = std::max(maxY, c.y + c.r);
    }
};

double distance(double x1, double y1, double x2, double y2) {
    double dx = x1 - x2;
    double dy = y1 - y2;
    return std::sqrt(dx * dx + dy * dy);
}

// The enclosing circle as the packing measures it: centred on the bounding box, reaching the
// farthest edge of any circle.
double enclosingRadius(const std::vector<Circle>& circles, const Circle* extra, Bounds bounds,
                       double& centerX, double& centerY) {
    if (extra != nullptr) {
        bounds.add(*extra);
    }
    centerX = (bounds.minX + bounds.maxX) / 2;
    centerY = (bounds.minY + bounds.maxY) / 2;
    double radius = 0;
    for (const Circle& c : circles) {
        radius = std::max(radius, c.r + distance(c.x, c.y, centerX, centerY));
    }
    if (extra != nullptr) {
        radius = std::max(radius, extra->r + distance(extra->x, extra->y, centerX, centerY));
    }
    return radius;
}

class BubbleBuilder {
public:
    BubbleBuilder(int depth, int budget) : depth_(depth), budget_(budget) {}

    void layOutLevel(const std::vector<FileNode>& nodes, LayoutPoint center, double radius,
                     int level) {
        if (Task::isCancelled() || budget_ < 1) {
            return;
        }
        auto first = std::find_if(nodes.begin(), nodes.end(),
                                  [](const FileNode& node) { return node.logicalSize >= 1; });
        if (first == nodes.end()) {
            return;
        }
        std::vector<VisibleItem> visible = LevelSelection::select(
            nodes, budget_, BubbleLayout::siblingLimit, "varnok-group://sunburst",
            first->id.deletingLastPathComponent());
        budget_ -= static_cast<int>(visible.size());
        std::vector<double> weights;
        weights.reserve(visible.size());
        for (const VisibleItem& item : visible) {
            weights.push_back(static_cast<double>(item.node->logicalSize));
        }
        std::vector<PackedCircle> packed = BubbleLayout::pack(weights);
        if (packed.size() != visible.size()) {
            return; // cancelled while packing
        }
        for (size_t i = 0; i < visible.size(); ++i) {
            const VisibleItem& item = visible[i];
            const FileNode& node = *item.node;
            PackedCircle bubble{LayoutPoint{center.x + radius * packed[i].center.x,
                                            center.y + radius * packed[i].center.y},
                                radius * packed[i].radius};
            bool expanded = level < depth_ && bubble.radius > minimumOpeningRadius &&
                            node.id.isFileUrl() &&
                            std::any_of(node.children.begin(), node.children.end(),
                                        [](const FileNode& c) { return c.logicalSize >= 1; }) &&
                            budget_ > 0;
            BubblePlacement placement;
            placement.node = item.node;
            placement.group = item.group;
            placement.ancestors = ancestors_;
            placement.depth = level;
            placement.circle = bubble;
            placement.expanded = expanded;
            result_.push_back(std::move(placement));
            if (expanded) {
                ancestors_.push_back(&node);
                layOutLevel(node.children,
                            LayoutPoint{bubble.center.x,
                                        bubble.center.y + innerOffsetShare * bubble.radius},
                            innerRadiusShare * bubble.radius, level + 1);
                ancestors_.pop_back();
            }
        }
    }

    std::vector<BubblePlacement> take() { return std::move(result_); }

private:
    int depth_;
    int budget_;
    std::vector<const FileNode*> ancestors_;
    std::vector<BubblePlacement> result_;
};

} // namespace

std::vector<BubblePlacement> BubbleLayout::make(const std::vector<FileNode>& nodes, LayoutSize size,
                                                int depth, int tileLimit) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || !(size.width > 0) ||
        !(size.height > 0) || tileLimit < 1) {
        return {};
    }
    double radius = std::max(std::min(size.width, size.height) / 2 - canvasMargin, 0.0);
    BubbleBuilder builder(std::clamp(depth, 1, maximumDepth), tileLimit);
    builder.layOutLevel(nodes, LayoutPoint{size.width / 2, size.height / 2}, radius, 1);
    return builder.take();
}

std::vector<PackedCircle> BubbleLayout::pack(const std::vector<double>& weights) {
    if (weights.empty()) {
        return {};
    }
    for (double weight : weights) {
        if (!std::isfinite(weight) || !(weight > 0)) {
            return {};
        }
    }
    double largest = *std::max_element(weights.begin(), weights.end());
    std::vector<size_t> order(weights.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return weights[a] > weights[b]; });

    std::vector<Circle> placed;
    placed.reserve(weights.size());
    std::vector<Circle> byIndex(weights.size());
    Bounds bounds;
    for (size_t index : order) {
        if (Task::isCancelled()) {
            return {};
        }
        double r = std::sqrt(weights[index] / largest);
        Circle chosen{0, 0, r};
        if (!placed.empty()) {
            bool haveChoice = false;
            double bestRadius = 0;
            auto consider = [&](double x, double y) {
                for (const Circle& c : placed) {
                    if (distance(x, y, c.x, c.y) + 1e-8 < r + c.r) {
                        return;
                    }
                }
                Circle candidate{x, y, r};
                double cx = 0;
                double cy = 0;
                double enclosing = enclosingRadius(placed, &candidate, bounds, cx, cy);
                if (!haveChoice || enclosing < bestRadius) {
                    haveChoice = true;
                    bestRadius = enclosing;
                    chosen = candidate;
                }
            };
            consider(r + bounds.maxX, 0);
            for (const Circle& c : placed) {
                double d = r + c.r;
                for (int k = 0; k < 8; ++k) {
                    double angle = static_cast<double>(k) * std::numbers::pi / 4;
                    consider(c.x + d * std::cos(angle), c.y + d * std::sin(angle));
                }
            }
            // The centres where the new circle touches two placed circles at once.
            for (size_t p = 0; p < placed.size(); ++p) {
                for (size_t q = p + 1; q < placed.size(); ++q) {
                    const Circle& P = placed[p];
                    const Circle& Q = placed[q];
                    double dx = Q.x - P.x;
                    double dy = Q.y - P.y;
                    double delta = std::sqrt(dx * dx + dy * dy);
                    double a = r + P.r;
                    double b = r + Q.r;
                    if (!(delta > 0) || delta > a + b + 1e-9 || std::abs(a - b) - 1e-9 > delta) {
                        continue;
                    }
                    double t = (delta * delta + a * a - b * b) / (2 * delta);
                    double h = std::sqrt(std::max(a * a - t * t, 0.0));
                    double bx = P.x + dx * t / delta;
                    double by = P.y + dy * t / delta;
                    consider(bx + dy * h / delta, by - dx * h / delta);
                    consider(bx - dy * h / delta, by + dx * h / delta);
                }
            }
        }
        placed.push_back(chosen);
        bounds.add(chosen);
        byIndex[index] = chosen;
    }

    double ex = 0;
    double ey = 0;
    double scale = enclosingRadius(placed, nullptr, bounds, ex, ey);
    std::vector<PackedCircle> result;
    result.reserve(weights.size());
    for (const Circle& c : byIndex) {
        result.push_back(
            PackedCircle{LayoutPoint{(c.x - ex) / scale, (c.y - ey) / scale}, c.r / scale});
    }
    return result;
}

} // namespace varnok

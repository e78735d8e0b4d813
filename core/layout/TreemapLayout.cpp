#include "core/layout/TreemapLayout.hpp"

#include "core/common/Task.hpp"

#include <algorithm>
#include <cmath>

namespace varnok {

namespace {

constexpr int maximumDepth = 4;
// The smallest child area a folder must offer to be opened in place.
constexpr double minimumChildWidth = 90;
constexpr double minimumChildHeight = 64;

class TreemapBuilder {
public:
    TreemapBuilder(int depth, int budget, int siblingLimit)
        : depth_(depth), budget_(budget), siblingLimit_(siblingLimit) {}

    void layOutLevel(const std::vector<FileNode>& nodes, LayoutRect rect, int level,
                     const Url& owner) {
        if (Task::isCancelled() || budget_ < 1) {
            return;
        }
        std::vector<VisibleItem> visible =
            LevelSelection::select(nodes, budget_, siblingLimit_, "varnok-group://treemap", owner);
        if (visible.empty()) {
            return;
        }
        budget_ -= static_cast<int>(visible.size());
        std::vector<double> weights;
        weights.reserve(visible.size());
        for (const VisibleItem& item : visible) {
            weights.push_back(static_cast<double>(item.node->logicalSize));
        }
        for (const auto& [index, tile] : TreemapLayout::partition(weights, rect)) {
            const VisibleItem& item = visible[index];
            const FileNode& node = *item.node;
            LayoutRect inner = TreemapLayout::childArea(tile);
            bool expanded = level < depth_ && node.isDirectory && node.id.isFileUrl() &&
                            std::any_of(node.children.begin(), node.children.end(),
                                        [](const FileNode& c) { return c.logicalSize >= 1; }) &&
                            inner.width >= minimumChildWidth &&
                            inner.height >= minimumChildHeight && budget_ > 0;
            TreemapPlacement placement;
            placement.node = item.node;
            placement.group = item.group;
            placement.ancestors = ancestors_;
            placement.depth = level;
            placement.rect = tile;
            placement.expanded = expanded;
            result_.push_back(std::move(placement));
            if (expanded) {
                ancestors_.push_back(&node);
                layOutLevel(node.children, inner, level + 1, node.id);
                ancestors_.pop_back();
            }
        }
    }

    std::vector<TreemapPlacement> take() { return std::move(result_); }

private:
    int depth_;
    int budget_;
    int siblingLimit_;
    std::vector<const FileNode*> ancestors_;
    std::vector<TreemapPlacement> result_;
};

} // namespace

LayoutRect TreemapLayout::childArea(LayoutRect tile) {
    // A 3-point border all round, then room for the title: 3 more on the left, 27 on top.
    return LayoutRect{tile.x + 6, tile.y + 30, std::max(tile.width - 12, 0.0),
                      std::max(tile.height - 36, 0.0)};
}

std::vector<TreemapPlacement> TreemapLayout::make(const std::vector<FileNode>& nodes,
                                                  LayoutSize size, int depth, int tileLimit,
                                                  int siblingLimit) {
    if (!(size.width > 0) || !(size.height > 0) || !std::isfinite(size.width) ||
        !std::isfinite(size.height) || tileLimit < 1) {
        return {};
    }
    Url owner = nodes.empty() ? Url::parse("varnok-group://root").value_or(Url())
                              : nodes.front().id.deletingLastPathComponent();
    TreemapBuilder builder(std::clamp(depth, 1, maximumDepth), tileLimit, siblingLimit);
    builder.layOutLevel(nodes, LayoutRect{0, 0, size.width, size.height}, 1, owner);
    return builder.take();
}

std::vector<std::pair<size_t, LayoutRect>>
TreemapLayout::partition(const std::vector<double>& weights, LayoutRect rect) {
    std::vector<size_t> kept;
    for (size_t i = 0; i < weights.size(); ++i) {
        if (weights[i] > 0 && std::isfinite(weights[i])) {
            kept.push_back(i);
        }
    }
    std::vector<std::pair<size_t, LayoutRect>> result;
    result.reserve(kept.size());
    // Pending splits of kept[begin, end) into a rectangle. Taken last-in first-out with the
    // first part pushed last, so the result comes out in index order, and no weight pattern can
    // deepen the call stack.
    struct Split {
        size_t begin;
        size_t end;
        LayoutRect rect;
    };
    std::vector<Split> pending;
    if (!kept.empty()) {
        pending.push_back(Split{0, kept.size(), rect});
    }
    while (!pending.empty()) {
        Split split = pending.back();
        pending.pop_back();
        size_t count = split.end - split.begin;
        if (count == 1) {
            result.emplace_back(kept[split.begin], split.rect);
            continue;
        }
        double total = 0;
        for (size_t i = split.begin; i < split.end; ++i) {
            total += weights[kept[i]];
        }
        double running = 0;
        size_t cut = 0;
        for (size_t j = 1; j < count; ++j) {
            running += weights[kept[split.begin + j - 1]];
            cut = j;
            if (running >= total / 2) {
                break;
            }
        }
        double fraction = running / total;
        const LayoutRect& r = split.rect;
        LayoutRect first;
        LayoutRect second;
        if (r.height < r.width) {
            double firstWidth = r.width * fraction;
            first = LayoutRect{r.x, r.y, firstWidth, r.height};
            second = LayoutRect{r.x + firstWidth, r.y, r.width - firstWidth, r.height};
        } else {
            double firstHeight = r.height * fraction;
            first = LayoutRect{r.x, r.y, r.width, firstHeight};
            second = LayoutRect{r.x, r.y + firstHeight, r.width, r.height - firstHeight};
        }
        pending.push_back(Split{split.begin + cut, split.end, second});
        pending.push_back(Split{split.begin, split.begin + cut, first});
    }
    return result;
}

} // namespace varnok

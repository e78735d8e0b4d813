#include "core/layout/SunburstLayout.hpp"

#include "core/common/Task.hpp"

#include <algorithm>

namespace varnok {

namespace {

constexpr int maximumDepth = 3;
// Narrower folders are not opened: their rings would be slivers (about 1.43°).
constexpr double minimumOpeningAngle = 0.025;

class SunburstBuilder {
public:
    SunburstBuilder(int depth, int budget, int siblingLimit)
        : depth_(depth), budget_(budget), siblingLimit_(siblingLimit) {}

    void layOutRing(const std::vector<FileNode>& nodes, double from, double to, int ring) {
        if (Task::isCancelled() || budget_ < 1) {
            return;
        }
        auto first = std::find_if(nodes.begin(), nodes.end(),
                                  [](const FileNode& node) { return node.logicalSize >= 1; });
        if (first == nodes.end()) {
            return;
        }
        Url owner =
            ancestors_.empty() ? first->id.deletingLastPathComponent() : ancestors_.back()->id;
        std::vector<VisibleItem> visible =
            LevelSelection::select(nodes, budget_, siblingLimit_, "varnok-group://sunburst", owner);
        budget_ -= static_cast<int>(visible.size());
        double total = 0;
        for (const VisibleItem& item : visible) {
            total += static_cast<double>(item.node->logicalSize);
        }
        double cursor = from;
        for (size_t i = 0; i < visible.size(); ++i) {
            const VisibleItem& item = visible[i];
            const FileNode& node = *item.node;
            // The last segment ends exactly at the range's end, whatever rounding came before.
            double end = i + 1 == visible.size()
                             ? to
                             : cursor + (to - from) * static_cast<double>(node.logicalSize) / total;
            SunburstSegment segment;
            segment.node = item.node;
            segment.group = item.group;
            segment.ancestors = ancestors_;
            segment.depth = ring;
            segment.start = cursor;
            segment.end = end;
            result_.push_back(std::move(segment));
            if (ring < depth_ && end - cursor > minimumOpeningAngle && node.id.isFileUrl()) {
                ancestors_.push_back(&node);
                layOutRing(node.children, cursor, end, ring + 1);
                ancestors_.pop_back();
            }
            cursor = end;
        }
    }

    std::vector<SunburstSegment> take() { return std::move(result_); }

private:
    int depth_;
    int budget_;
    int siblingLimit_;
    std::vector<const FileNode*> ancestors_;
    std::vector<SunburstSegment> result_;
};

} // namespace

std::vector<SunburstSegment> SunburstLayout::make(const std::vector<FileNode>& nodes, int depth,
                                                  int segmentLimit, int siblingLimit) {
    if (segmentLimit < 1) {
        return {};
    }
    SunburstBuilder builder(std::clamp(depth, 1, maximumDepth), segmentLimit, siblingLimit);
    builder.layOutRing(nodes, 0, fullTurn, 1);
    return builder.take();
}

} // namespace varnok

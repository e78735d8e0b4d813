#include "core/layout/SunburstLayout.hpp"
#include "core/layout/FlameLayout.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <numbers>

using namespace varnok;
using namespace varnok::testing;

TEST(SunburstLayout, RangesFollowSizesAndNarrowFoldersStayClosed) {
    auto segments = SunburstLayout::make(filesIn("/d", {3, 1}), 3, 900, 60);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].start, 0);
    EXPECT_DOUBLE_EQ(segments[0].end, 3 * std::numbers::pi / 2);
    EXPECT_EQ(segments[1].start, segments[0].end);
    EXPECT_EQ(segments[1].end, 6.283185307179586) << "the last ends at exactly a full turn";

    // A folder of 1 byte beside 250 bytes spans 2π/251 ≈ 0.02503 rad: just wider than 0.025.
    for (auto [other, opens] : {std::pair{250, true}, std::pair{252, false}}) {
        std::vector<FileNode> nodes{fileNode("/d/big", other),
                                    folderNode("/d/small", filesIn("/d/small", {1}))};
        EXPECT_EQ(SunburstLayout::make(nodes, 3, 900, 60).size(), opens ? 3u : 2u) << other;
    }
}

TEST(SunburstLayout, ChildrenExactlyFillTheirParentOnRandomTrees) {
    std::mt19937 random(11);
    for (int round = 0; round < 80; ++round) {
        FileNode root = randomTree(random, "/r", 3, 14);
        int limit = 1 + static_cast<int>(random() % 600);
        int siblingLimit = 1 + static_cast<int>(random() % 20);
        auto segments = SunburstLayout::make(root.children, 3, limit, siblingLimit);
        ASSERT_LE(segments.size(), static_cast<size_t>(limit));
        std::map<const FileNode*, const SunburstSegment*> parents;
        std::map<const FileNode*, std::vector<const SunburstSegment*>> rings;
        for (const auto& segment : segments) {
            EXPECT_LE(segment.start, segment.end);
            parents[segment.node] = &segment;
            rings[segment.ancestors.empty() ? nullptr : segment.ancestors.back()].push_back(
                &segment);
        }
        for (const auto& [parent, ring] : rings) {
            double from = 0;
            double to = SunburstLayout::fullTurn;
            if (parent != nullptr) {
                ASSERT_TRUE(parents.count(parent));
                from = parents[parent]->start;
                to = parents[parent]->end;
                EXPECT_GT(to - from, 0.025);
                EXPECT_EQ(ring.front()->depth, parents[parent]->depth + 1);
            }
            EXPECT_EQ(ring.front()->start, from);
            for (size_t i = 1; i < ring.size(); ++i) {
                EXPECT_EQ(ring[i]->start, ring[i - 1]->end) << "no gap, no overlap";
            }
            EXPECT_EQ(ring.back()->end, to) << "the last child ends at its parent's end";
        }
    }
}

TEST(FlameLayout, BarsShareTheirRowAndChildrenLieUnderTheirParent) {
    // Sizes 6 and 2 (3 : 1), the folder holding two equal files.
    std::vector<FileNode> nodes{fileNode("/d/a", 6), folderNode("/d/b", filesIn("/d/b", {1, 1}))};
    auto bars = FlameLayout::make(nodes, 800, 20, 3, 900);
    ASSERT_EQ(bars.size(), 4u);
    const LayoutRect expected[] = {
        {0, 0, 600, 20}, {600, 0, 200, 20}, {600, 20, 100, 20}, {700, 20, 100, 20}};
    for (size_t i = 0; i < 4; ++i) {
        const LayoutRect& r = bars[i].rect;
        EXPECT_NEAR(r.x, expected[i].x, 1e-9) << i;
        EXPECT_NEAR(r.width, expected[i].width, 1e-9) << i;
        EXPECT_EQ(r.y, expected[i].y) << i;
        EXPECT_EQ(r.height, 20) << i;
    }
    EXPECT_EQ(bars[3].ancestors.back(), &nodes[1]);
}

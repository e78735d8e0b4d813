#include "core/layout/TreemapLayout.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <map>

using namespace varnok;
using namespace varnok::testing;

namespace varnok {
// The examples below come out exact in binary floating point, so rectangles compare equal.
void PrintTo(const LayoutRect& r, std::ostream* out) {
    *out << "{" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << "}";
}
} // namespace varnok

namespace {

double overlap(const LayoutRect& a, const LayoutRect& b) {
    double w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    double h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

std::vector<TreemapPlacement> layout(const std::vector<FileNode>& nodes, LayoutSize size,
                                     int depth = 2, int tileLimit = 600, int siblingLimit = 80) {
    return TreemapLayout::make(nodes, size, depth, tileLimit, siblingLimit);
}

} // namespace

TEST(TreemapPartition, CutsAcrossTheLongerSideInIndexOrder) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<double> weights;
        LayoutRect rect;
        std::vector<std::pair<size_t, LayoutRect>> tiles;
    };
    const std::vector<Case> cases{
        {{3, 1}, {0, 0, 400, 100}, {{0, {0, 0, 300, 100}}, {1, {300, 0, 100, 100}}}},
        {{3, 1}, {0, 0, 100, 400}, {{0, {0, 0, 100, 300}}, {1, {0, 300, 100, 100}}}},
        // A square is cut by a horizontal line first, then each half side by side.
        {{1, 1, 1, 1},
         {10, 20, 100, 100},
         {{0, {10, 20, 50, 50}},
          {1, {60, 20, 50, 50}},
          {2, {10, 70, 50, 50}},
          {3, {60, 70, 50, 50}}}},
        // Weights that are not positive and finite get no tile.
        {{0, 2, -1, nan, inf, 2}, {0, 0, 100, 50}, {{1, {0, 0, 50, 50}}, {5, {50, 0, 50, 50}}}},
        {{}, {0, 0, 1, 1}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TreemapLayout::partition(c.weights, c.rect), c.tiles);
    }
}

TEST(TreemapLayout, SurplusEntriesBecomeOneMoreItemsGroup) {
    auto nodes = filesIn("/d", {100, 90, 80, 70, 60, 50, 40, 30, 20});
    nodes.push_back(folderNode("/d/f9", {folderNode("/d/f9/x", filesIn("/d/f9/x", {10}))}));
    nodes[4].hasReadErrors = true;
    nodes[5].allocatedSizeComplete = false;
    auto tiles = layout(nodes, {400, 300}, 2, 600, 4);
    ASSERT_EQ(tiles.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tiles[i].node, &nodes[i]);
    }
    const FileNode& group = *tiles[3].node;
    ASSERT_TRUE(tiles[3].group);
    EXPECT_TRUE(isLayoutGroup(group));
    EXPECT_EQ(group.id.absoluteString(), Url::parse("varnok-group://treemap")
                                             ->appendingPathComponent("file:///d/")
                                             .appendingPathComponent("file:///d/f3")
                                             .appendingPathComponent("file:///d/f9/")
                                             .appendingPathComponent("More items")
                                             .absoluteString());
    EXPECT_EQ(group.logicalSize, 70 + 60 + 50 + 40 + 30 + 20 + 10);
    EXPECT_EQ(group.fileCount, 7);
    EXPECT_EQ(group.folderCount, 2) << "f9 itself and f9/x";
    EXPECT_TRUE(group.hasReadErrors);
    EXPECT_FALSE(group.allocatedSizeComplete);
    EXPECT_TRUE(group.isDirectory);
    EXPECT_EQ(tiles[3].group->members.size(), 7u);
    EXPECT_FALSE(tiles[3].expanded);
}

TEST(TreemapLayout, FoldersOpenWhenTheirChildAreaIsLargeEnoughChildrenFirst) {
    std::vector<FileNode> nodes{folderNode("/d/sub", filesIn("/d/sub", {3, 1}))};
    // 102 × 100 leaves a child area of exactly 90 × 64.
    auto open = layout(nodes, {102, 100});
    ASSERT_EQ(open.size(), 3u);
    EXPECT_TRUE(open[0].expanded);
    EXPECT_EQ(open[1].depth, 2);
    EXPECT_EQ(open[1].ancestors, std::vector<const FileNode*>{&nodes[0]});
    EXPECT_EQ(open[1].rect, (LayoutRect{6, 30, 67.5, 64}));
    EXPECT_EQ(open[2].rect, (LayoutRect{73.5, 30, 22.5, 64}));
    auto narrow = layout(nodes, {101, 1000});
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_FALSE(narrow[0].expanded);
    EXPECT_EQ(layout(nodes, {1000, 99}).size(), 1u);

    // An opened folder's tiles come before its next sibling's.
    std::vector<FileNode> two{folderNode("/d/a", filesIn("/d/a", {60, 40})),
                              folderNode("/d/b", filesIn("/d/b", {30, 20}))};
    std::vector<std::string> order;
    for (const auto& tile : layout(two, {1000, 1000})) {
        order.push_back(tile.node->id.path());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"/d/a", "/d/a/f0", "/d/a/f1", "/d/b", "/d/b/f0",
                                               "/d/b/f1"}));
}

TEST(TreemapLayout, TilesOfOneLevelFillTheirParentWithoutOverlapOnRandomTrees) {
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        FileNode root = randomTree(random, "/r", 4, 12);
        int tileLimit = 1 + static_cast<int>(random() % 400);
        int siblingLimit = 1 + static_cast<int>(random() % 15);
        LayoutSize canvas{300.0 + random() % 1500, 200.0 + random() % 1000};
        auto tiles = TreemapLayout::make(root.children, canvas, 4, tileLimit, siblingLimit);
        ASSERT_LE(tiles.size(), static_cast<size_t>(tileLimit));

        // Tiles grouped by the folder they were laid out in (nullptr: the canvas).
        std::map<const FileNode*, std::vector<const TreemapPlacement*>> levels;
        std::map<const FileNode*, LayoutRect> areas{{nullptr, {0, 0, canvas.width, canvas.height}}};
        for (const auto& tile : tiles) {
            const FileNode* parent = tile.ancestors.empty() ? nullptr : tile.ancestors.back();
            levels[parent].push_back(&tile);
            EXPECT_GE(tile.node->logicalSize, 1);
            if (tile.expanded) {
                EXPECT_FALSE(isLayoutGroup(*tile.node));
                areas[tile.node] = TreemapLayout::childArea(tile.rect);
            }
        }
        for (const auto& [parent, level] : levels) {
            ASSERT_TRUE(areas.count(parent)) << "every level hangs below an expanded tile";
            const LayoutRect& area = areas[parent];
            ASSERT_LE(level.size(), static_cast<size_t>(siblingLimit));
            double covered = 0;
            for (size_t i = 0; i < level.size(); ++i) {
                const LayoutRect& r = level[i]->rect;
                covered += r.width * r.height;
                EXPECT_GE(r.x, area.x - 1e-6);
                EXPECT_GE(r.y, area.y - 1e-6);
                EXPECT_LE(r.x + r.width, area.x + area.width + 1e-6);
                EXPECT_LE(r.y + r.height, area.y + area.height + 1e-6);
                for (size_t j = i + 1; j < level.size(); ++j) {
                    EXPECT_LE(overlap(r, level[j]->rect), 1e-6);
                }
            }
            EXPECT_NEAR(covered, area.width * area.height, 1e-6 * area.width * area.height);
        }
    }
}

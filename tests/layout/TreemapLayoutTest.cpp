#include "core/layout/TreemapLayout.hpp"

#include "core/common/Task.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>

using namespace varnok;
using namespace varnok::testing;

namespace {

void expectRect(const LayoutRect& actual, LayoutRect expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

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

TEST(TreemapPartition, CutsAcrossTheLongerSide) {
    auto wide = TreemapLayout::partition({3, 1}, {0, 0, 400, 100});
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0].first, 0u);
    expectRect(wide[0].second, {0, 0, 300, 100});
    expectRect(wide[1].second, {300, 0, 100, 100});

    auto tall = TreemapLayout::partition({3, 1}, {0, 0, 100, 400});
    ASSERT_EQ(tall.size(), 2u);
    expectRect(tall[0].second, {0, 0, 100, 300});
    expectRect(tall[1].second, {0, 300, 100, 100});

    // A square is cut by a horizontal line first, then each half side by side.
    auto square = TreemapLayout::partition({1, 1, 1, 1}, {10, 20, 100, 100});
    ASSERT_EQ(square.size(), 4u);
    expectRect(square[0].second, {10, 20, 50, 50});
    expectRect(square[1].second, {60, 20, 50, 50});
    expectRect(square[2].second, {10, 70, 50, 50});
    expectRect(square[3].second, {60, 70, 50, 50});
}

TEST(TreemapPartition, LeavesOutWeightsThatAreNotPositiveAndFinite) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    double inf = std::numeric_limits<double>::infinity();
    auto pairs = TreemapLayout::partition({0, 2, -1, nan, inf, 2}, {0, 0, 100, 50});
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first, 1u);
    EXPECT_EQ(pairs[1].first, 5u);
    expectRect(pairs[0].second, {0, 0, 50, 50});
    expectRect(pairs[1].second, {50, 0, 50, 50});
    EXPECT_TRUE(TreemapLayout::partition({}, {0, 0, 1, 1}).empty());
}

TEST(TreemapPartition, ManySkewedWeightsKeepAreasAndOrder) {
    // Each weight outweighs all later ones, so every cut takes one index: a deep split.
    std::vector<double> weights;
    for (int i = 0; i < 1000; ++i) {
        weights.push_back(std::ldexp(1.0, 1000 - 2 * i));
    }
    auto pairs = TreemapLayout::partition(weights, {0, 0, 1000, 1000});
    ASSERT_EQ(pairs.size(), weights.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(pairs[i].first, i);
    }
    // Each share is three quarters of what is left: 1 − 4^−n of the area after n tiles.
    expectRect(pairs[0].second, {0, 0, 1000, 750});
    expectRect(pairs[1].second, {0, 750, 750, 250});
}

TEST(TreemapLayout, NothingForAnEmptyCanvasOrBudget) {
    auto nodes = filesIn("/d", {5, 3});
    EXPECT_TRUE(layout(nodes, {0, 100}).empty());
    EXPECT_TRUE(layout(nodes, {100, -1}).empty());
    EXPECT_TRUE(layout(nodes, {std::numeric_limits<double>::quiet_NaN(), 100}).empty());
    EXPECT_TRUE(layout(nodes, {std::numeric_limits<double>::infinity(), 100}).empty());
    EXPECT_TRUE(layout(nodes, {100, 100}, 2, 0).empty());
    EXPECT_TRUE(layout({}, {100, 100}).empty());
    EXPECT_EQ(layout(nodes, {100, 100}).size(), 2u);
}

TEST(TreemapLayout, EmptyEntriesGetNoTileAndCountAgainstNoLimit) {
    auto nodes = filesIn("/d", {5, 3, 0, 0, 0});
    auto tiles = layout(nodes, {100, 100}, 1, 2, 2);
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[0].node->name(), "f0");
    EXPECT_EQ(tiles[1].node->name(), "f1");
    EXPECT_FALSE(isLayoutGroup(*tiles[1].node));
}

TEST(TreemapLayout, SurplusEntriesBecomeOneMoreItemsGroup) {
    auto nodes = filesIn("/d", {100, 90, 80, 70, 60, 50, 40, 30, 20, 10});
    auto tiles = layout(nodes, {400, 300}, 2, 600, 4);
    ASSERT_EQ(tiles.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tiles[i].node, &nodes[i]);
        EXPECT_FALSE(tiles[i].group);
    }
    const FileNode& group = *tiles[3].node;
    ASSERT_TRUE(tiles[3].group);
    EXPECT_EQ(&tiles[3].group->node, &group);
    EXPECT_TRUE(isLayoutGroup(group));
    EXPECT_EQ(group.name(), "More items");
    EXPECT_EQ(group.id.scheme(), "varnok-group");
    EXPECT_EQ(group.id.absoluteString(), Url::parse("varnok-group://treemap")
                                             ->appendingPathComponent("file:///d/")
                                             .appendingPathComponent("file:///d/f3")
                                             .appendingPathComponent("file:///d/f9")
                                             .appendingPathComponent("More items")
                                             .absoluteString());
    EXPECT_EQ(group.logicalSize, 70 + 60 + 50 + 40 + 30 + 20 + 10);
    EXPECT_EQ(group.fileCount, 7);
    EXPECT_TRUE(group.isDirectory);
    EXPECT_FALSE(group.identity);
    ASSERT_EQ(tiles[3].group->members.size(), 7u);
    EXPECT_EQ(tiles[3].group->members.front(), &nodes[3]);
    EXPECT_FALSE(tiles[3].expanded);
}

TEST(TreemapLayout, GroupSumsFolderCountsAndFlags) {
    FileNode big = folderNode("/d/big", filesIn("/d/big", {1000}));
    FileNode a = folderNode("/d/a", {folderNode("/d/a/x", filesIn("/d/a/x", {7}))});
    FileNode b = fileNode("/d/b", 3);
    b.hasReadErrors = true;
    b.allocatedSizeComplete = false;
    std::vector<FileNode> nodes{big, a, b};
    auto tiles = layout(nodes, {500, 500}, 1, 600, 2);
    ASSERT_EQ(tiles.size(), 2u);
    const FileNode& group = *tiles[1].node;
    EXPECT_EQ(group.logicalSize, 10);
    EXPECT_EQ(group.folderCount, 2) << "a itself and a/x";
    EXPECT_EQ(group.fileCount, 2);
    EXPECT_TRUE(group.hasReadErrors);
    EXPECT_FALSE(group.allocatedSizeComplete);
}

TEST(TreemapLayout, ASmallBudgetLeavesNothingToExpand) {
    std::vector<FileNode> nodes;
    for (int i = 0; i < 12; ++i) {
        nodes.push_back(
            folderNode("/d/e" + std::to_string(i), filesIn("/d/e" + std::to_string(i), {1000, 5})));
    }
    auto tiles = layout(nodes, {2000, 2000}, 3, 5, 10);
    ASSERT_EQ(tiles.size(), 5u);
    EXPECT_TRUE(isLayoutGroup(*tiles[4].node));
    EXPECT_EQ(tiles[4].group->members.size(), 8u);
    for (const auto& tile : tiles) {
        EXPECT_FALSE(tile.expanded);
    }
}

TEST(TreemapLayout, FoldersOpenOnlyWhenTheirChildAreaIsLargeEnough) {
    std::vector<FileNode> nodes{folderNode("/d/sub", filesIn("/d/sub", {3, 1}))};
    // 102 × 100 leaves a child area of exactly 90 × 64.
    auto open = layout(nodes, {102, 100});
    ASSERT_EQ(open.size(), 3u);
    EXPECT_TRUE(open[0].expanded);
    EXPECT_EQ(open[1].depth, 2);
    ASSERT_EQ(open[1].ancestors.size(), 1u);
    EXPECT_EQ(open[1].ancestors[0], &nodes[0]);
    expectRect(open[1].rect, {6, 30, 67.5, 64});
    expectRect(open[2].rect, {73.5, 30, 22.5, 64});

    auto narrow = layout(nodes, {101, 1000});
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_FALSE(narrow[0].expanded);
    EXPECT_EQ(layout(nodes, {1000, 99}).size(), 1u);
}

TEST(TreemapLayout, ChildrenFollowTheirFolderBeforeItsNextSibling) {
    std::vector<FileNode> nodes{folderNode("/d/a", filesIn("/d/a", {60, 40})),
                                folderNode("/d/b", filesIn("/d/b", {30, 20}))};
    auto tiles = layout(nodes, {1000, 1000});
    ASSERT_EQ(tiles.size(), 6u);
    EXPECT_EQ(tiles[0].node->name(), "a");
    EXPECT_EQ(tiles[1].ancestors.back()->name(), "a");
    EXPECT_EQ(tiles[2].ancestors.back()->name(), "a");
    EXPECT_EQ(tiles[3].node->name(), "b");
    EXPECT_EQ(tiles[4].ancestors.back()->name(), "b");
}

TEST(TreemapLayout, DepthIsClampedToOneThroughFour) {
    FileNode deep = fileNode("/d/1/2/3/4/5/f", 10);
    for (std::string path : {"/d/1/2/3/4/5", "/d/1/2/3/4", "/d/1/2/3", "/d/1/2", "/d/1"}) {
        deep = folderNode(path, {deep});
    }
    std::vector<FileNode> nodes{deep};
    auto maxDepth = [&](int depth) {
        int most = 0;
        for (const auto& tile : layout(nodes, {4000, 4000}, depth)) {
            most = std::max(most, tile.depth);
        }
        return most;
    };
    EXPECT_EQ(maxDepth(0), 1);
    EXPECT_EQ(maxDepth(-3), 1);
    EXPECT_EQ(maxDepth(3), 3);
    EXPECT_EQ(maxDepth(9), 4);
}

TEST(TreemapLayout, GroupsNeverExpand) {
    std::vector<FileNode> nodes{folderNode("/d/a", filesIn("/d/a", {60, 40})),
                                folderNode("/d/b", filesIn("/d/b", {30, 20}))};
    auto tiles = layout(nodes, {4000, 4000}, 4, 600, 1);
    ASSERT_EQ(tiles.size(), 1u);
    EXPECT_TRUE(isLayoutGroup(*tiles[0].node));
    EXPECT_FALSE(tiles[0].expanded);
    EXPECT_EQ(tiles[0].group->members.size(), 2u);
}

TEST(TreemapLayout, CancelledTaskGivesWhatWasDone) {
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_TRUE(layout(filesIn("/d", {5, 3}), {100, 100}).empty());
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

#include "core/layout/BubbleLayout.hpp"
#include "core/layout/FlameLayout.hpp"
#include "core/layout/SunburstLayout.hpp"
#include "core/layout/TreemapLayout.hpp"

#include "core/common/Task.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <gtest/gtest.h>
#include <limits>

// What every map layout bounds the same way: canvases, budgets, depth and "More items" groups.

using namespace varnok;
using namespace varnok::testing;

namespace {

// /d/0/1/…/f: one file `levels` folders down.
FileNode chain(int levels) {
    std::string path = "/d";
    for (int i = 0; i < levels; ++i) {
        path += "/" + std::to_string(i);
    }
    FileNode node = fileNode(path + "/f", 10);
    for (; levels > 0; --levels) {
        node = folderNode(path, {node});
        path = path.substr(0, path.rfind('/'));
    }
    return node;
}

template <class Entry> int deepest(const std::vector<Entry>& entries) {
    int most = 0;
    for (const Entry& entry : entries) {
        most = std::max(most, entry.depth);
    }
    return most;
}

} // namespace

TEST(LayoutLimits, NothingForABadCanvasOrBudgetOrACancelledTask) {
    auto nodes = filesIn("/d", {5, 3});
    double nan = std::numeric_limits<double>::quiet_NaN();
    double inf = std::numeric_limits<double>::infinity();
    const LayoutSize badSizes[] = {{0, 100}, {100, -1}, {nan, 100}, {inf, 100}};
    for (LayoutSize size : badSizes) {
        EXPECT_TRUE(TreemapLayout::make(nodes, size, 2, 600, 80).empty());
        EXPECT_TRUE(BubbleLayout::make(nodes, size, 2, 300).empty());
        EXPECT_TRUE(FlameLayout::make(nodes, size.width, size.height, 3, 900).empty());
    }
    EXPECT_TRUE(TreemapLayout::make(nodes, {100, 100}, 2, 0, 80).empty());
    EXPECT_TRUE(SunburstLayout::make(nodes, 3, 0, 60).empty());
    EXPECT_TRUE(FlameLayout::make(nodes, 800, 20, 3, 0).empty());
    EXPECT_TRUE(BubbleLayout::make(nodes, {100, 100}, 2, 0).empty());
    EXPECT_TRUE(TreemapLayout::make({}, {100, 100}, 2, 600, 80).empty());
    EXPECT_EQ(TreemapLayout::make(nodes, {100, 100}, 2, 600, 80).size(), 2u);

    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_TRUE(TreemapLayout::make(nodes, {100, 100}, 2, 600, 80).empty());
    EXPECT_TRUE(SunburstLayout::make(nodes, 3, 900, 60).empty());
    EXPECT_TRUE(BubbleLayout::pack({3, 2, 1}).empty());
}

TEST(LayoutLimits, DepthIsClampedAndFlameRowsFollowIt) {
    std::vector<FileNode> nodes{chain(6)};
    auto treemap = [&](int depth) {
        return deepest(TreemapLayout::make(nodes, {4000, 4000}, depth, 600, 80));
    };
    auto sunburst = [&](int depth) { return deepest(SunburstLayout::make(nodes, depth, 900, 60)); };
    EXPECT_EQ(treemap(0), 1);
    EXPECT_EQ(treemap(-3), 1);
    EXPECT_EQ(treemap(3), 3);
    EXPECT_EQ(treemap(9), 4);
    EXPECT_EQ(sunburst(0), 1);
    EXPECT_EQ(sunburst(2), 2);
    EXPECT_EQ(sunburst(7), 3);
    EXPECT_EQ(deepest(BubbleLayout::make(nodes, {2000, 2000}, 5, 300)), 3);
    auto bars = FlameLayout::make(nodes, 800, 20, 4, 900);
    EXPECT_EQ(deepest(bars), 3);
    for (const auto& bar : bars) {
        EXPECT_EQ(bar.rect.y, 20.0 * (bar.depth - 1));
    }
}

TEST(LayoutLimits, BudgetsAndSiblingLimitsMakeGroupsThatNeverOpen) {
    // Empty entries get no tile and count against no limit.
    // The results point into the nodes given, so each list of nodes outlives its result.
    auto someEmpty = filesIn("/d", {5, 3, 0, 0, 0});
    auto tiles = TreemapLayout::make(someEmpty, {100, 100}, 1, 2, 2);
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[1].node->name(), "f1");
    EXPECT_EQ(SunburstLayout::make({chain(5)}, 3, 2, 60).size(), 2u);

    // A budget spent on the first level leaves nothing to open.
    std::vector<FileNode> folders;
    for (int i = 0; i < 12; ++i) {
        std::string path = "/d/e" + std::to_string(i);
        folders.push_back(folderNode(path, filesIn(path, {1000, 5})));
    }
    tiles = TreemapLayout::make(folders, {2000, 2000}, 3, 5, 10);
    ASSERT_EQ(tiles.size(), 5u);
    ASSERT_TRUE(tiles[4].group);
    EXPECT_EQ(tiles[4].group->members.size(), 8u);
    for (const auto& tile : tiles) {
        EXPECT_FALSE(tile.expanded);
    }
    // Groups of folders never open, however deep and large.
    tiles = TreemapLayout::make(folders, {4000, 4000}, 4, 600, 1);
    ASSERT_EQ(tiles.size(), 1u);
    EXPECT_TRUE(isLayoutGroup(*tiles[0].node));
    EXPECT_FALSE(tiles[0].expanded);
    EXPECT_EQ(SunburstLayout::make(folders, 3, 900, 1).size(), 1u);

    auto ten = filesIn("/d", {100, 90, 80, 70, 60, 50, 40, 30, 20, 10});
    auto segments = SunburstLayout::make(ten, 3, 900, 4);
    ASSERT_EQ(segments.size(), 4u);
    ASSERT_TRUE(segments[3].group);
    EXPECT_EQ(segments[3].node->id.absoluteString().rfind("varnok-group://sunburst/file:///d/", 0),
              0u);
    EXPECT_NEAR(segments[3].end - segments[3].start, SunburstLayout::fullTurn * 280 / 550, 1e-12);

    // Flame charts keep 40 bars under one parent, bubble maps 24 bubbles on one level.
    auto many = filesIn("/d", std::vector<std::int64_t>(45, 10));
    auto bars = FlameLayout::make(many, 800, 20, 3, 900);
    ASSERT_EQ(bars.size(), 40u);
    ASSERT_TRUE(bars[39].group);
    EXPECT_EQ(bars[39].group->members.size(), 6u);
    many = filesIn("/d", std::vector<std::int64_t>(30, 100));
    auto bubbles = BubbleLayout::make(many, {800, 800}, 2, 300);
    ASSERT_EQ(bubbles.size(), 24u);
    EXPECT_EQ(bubbles[23].node->logicalSize, 700);
    EXPECT_EQ(bubbles[23].node->id.absoluteString().rfind("varnok-group://sunburst/file:///d/", 0),
              0u);
}

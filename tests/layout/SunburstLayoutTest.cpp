#include "core/layout/SunburstLayout.hpp"
#include "core/layout/FlameLayout.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <numbers>

using namespace varnok;
using namespace varnok::testing;

namespace {

int deepest(const std::vector<SunburstSegment>& segments) {
    int most = 0;
    for (const auto& segment : segments) {
        most = std::max(most, segment.depth);
    }
    return most;
}

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

} // namespace

TEST(SunburstLayout, RangesFollowSizesAndTheLastEndsAtAFullTurn) {
    auto nodes = filesIn("/d", {3, 1});
    auto segments = SunburstLayout::make(nodes, 3, 900, 60);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].start, 0);
    EXPECT_DOUBLE_EQ(segments[0].end, 3 * std::numbers::pi / 2);
    EXPECT_EQ(segments[1].start, segments[0].end);
    EXPECT_EQ(segments[1].end, 6.283185307179586);
    EXPECT_EQ(segments[1].depth, 1);
    EXPECT_TRUE(segments[1].ancestors.empty());
}

TEST(SunburstLayout, LimitsAndDepthClamp) {
    std::vector<FileNode> nodes{chain(5)};
    EXPECT_TRUE(SunburstLayout::make(nodes, 3, 0, 60).empty());
    EXPECT_EQ(deepest(SunburstLayout::make(nodes, 0, 900, 60)), 1);
    EXPECT_EQ(deepest(SunburstLayout::make(nodes, 2, 900, 60)), 2);
    EXPECT_EQ(deepest(SunburstLayout::make(nodes, 7, 900, 60)), 3);
    EXPECT_EQ(SunburstLayout::make(nodes, 3, 2, 60).size(), 2u) << "the budget bounds the result";
}

TEST(SunburstLayout, NarrowFoldersAreNotOpened) {
    // A folder of 1 byte beside 250 bytes spans 2π/251 ≈ 0.02503 rad: just wider than 0.025.
    for (auto [other, opens] : {std::pair{250, true}, std::pair{252, false}}) {
        std::vector<FileNode> nodes{fileNode("/d/big", other),
                                    folderNode("/d/small", filesIn("/d/small", {1}))};
        auto segments = SunburstLayout::make(nodes, 3, 900, 60);
        EXPECT_EQ(segments.size(), opens ? 3u : 2u) << other;
    }
}

TEST(SunburstLayout, SurplusEntriesShareOneGroupSegment) {
    auto nodes = filesIn("/d", {100, 90, 80, 70, 60, 50, 40, 30, 20, 10});
    auto segments = SunburstLayout::make(nodes, 3, 900, 4);
    ASSERT_EQ(segments.size(), 4u);
    const auto& group = segments[3];
    ASSERT_TRUE(group.group);
    EXPECT_EQ(group.node->name(), "More items");
    EXPECT_EQ(group.node->id.absoluteString().rfind("varnok-group://sunburst/file:///d/", 0), 0u);
    EXPECT_NEAR(group.end - group.start, SunburstLayout::fullTurn * 280 / 550, 1e-12);
}

TEST(SunburstLayout, GroupsAreNeverOpened) {
    std::vector<FileNode> nodes{folderNode("/d/a", filesIn("/d/a", {5, 5})),
                                folderNode("/d/b", filesIn("/d/b", {5, 5}))};
    auto segments = SunburstLayout::make(nodes, 3, 900, 1);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_TRUE(isLayoutGroup(*segments[0].node));
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

TEST(FlameLayout, NothingForBadSizesOrBudget) {
    auto nodes = filesIn("/d", {3, 1});
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(FlameLayout::make(nodes, inf, 20, 3, 900).empty());
    EXPECT_TRUE(FlameLayout::make(nodes, std::nan(""), 20, 3, 900).empty());
    EXPECT_TRUE(FlameLayout::make(nodes, 800, 0, 3, 900).empty());
    EXPECT_TRUE(FlameLayout::make(nodes, 800, 20, 3, 0).empty());
}

TEST(FlameLayout, BarsShareTheirRowAndChildrenLieUnderTheirParent) {
    // Sizes 6 and 2 (3 : 1), the folder holding two equal files.
    std::vector<FileNode> nodes{fileNode("/d/a", 6), folderNode("/d/b", filesIn("/d/b", {1, 1}))};
    auto bars = FlameLayout::make(nodes, 800, 20, 3, 900);
    ASSERT_EQ(bars.size(), 4u);
    auto near = [](const LayoutRect& r, LayoutRect e) {
        return std::abs(r.x - e.x) < 1e-9 && std::abs(r.y - e.y) < 1e-9 &&
               std::abs(r.width - e.width) < 1e-9 && std::abs(r.height - e.height) < 1e-9;
    };
    EXPECT_TRUE(near(bars[0].rect, {0, 0, 600, 20}));
    EXPECT_TRUE(near(bars[1].rect, {600, 0, 200, 20}));
    EXPECT_TRUE(near(bars[2].rect, {600, 20, 100, 20}));
    EXPECT_TRUE(near(bars[3].rect, {700, 20, 100, 20}));
    EXPECT_EQ(bars[3].ancestors.back(), &nodes[1]);
}

TEST(FlameLayout, FortyBarsPerParentAndThreeRowsAtMost) {
    std::vector<std::int64_t> sizes(45, 10);
    auto bars = FlameLayout::make(filesIn("/d", sizes), 800, 20, 3, 900);
    ASSERT_EQ(bars.size(), 40u);
    EXPECT_TRUE(isLayoutGroup(*bars[39].node));
    EXPECT_EQ(bars[39].group->members.size(), 6u);

    int most = 0;
    for (const auto& bar : FlameLayout::make({chain(6)}, 800, 20, 4, 900)) {
        most = std::max(most, bar.depth);
        EXPECT_EQ(bar.rect.y, 20.0 * (bar.depth - 1));
    }
    EXPECT_EQ(most, 3);
}

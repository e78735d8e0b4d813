#include "core/layout/BubbleLayout.hpp"

#include "core/common/Task.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace varnok;
using namespace varnok::testing;

namespace {

void expectCircle(const PackedCircle& c, double x, double y, double radius) {
    EXPECT_NEAR(c.center.x, x, 1e-9);
    EXPECT_NEAR(c.center.y, y, 1e-9);
    EXPECT_NEAR(c.radius, radius, 1e-9);
}

double gap(const PackedCircle& a, const PackedCircle& b) {
    return std::hypot(a.center.x - b.center.x, a.center.y - b.center.y) - a.radius - b.radius;
}

} // namespace

TEST(BubblePack, KnownPackings) {
    auto one = BubbleLayout::pack({5});
    ASSERT_EQ(one.size(), 1u);
    expectCircle(one[0], 0, 0, 1);

    auto two = BubbleLayout::pack({1, 1});
    ASSERT_EQ(two.size(), 2u);
    expectCircle(two[0], -0.5, 0, 0.5);
    expectCircle(two[1], 0.5, 0, 0.5);

    auto unequal = BubbleLayout::pack({4, 1});
    ASSERT_EQ(unequal.size(), 2u);
    expectCircle(unequal[0], -1.0 / 3, 0, 2.0 / 3);
    expectCircle(unequal[1], 2.0 / 3, 0, 1.0 / 3);

    auto four = BubbleLayout::pack({9, 4, 1, 1});
    ASSERT_EQ(four.size(), 4u);
    expectCircle(four[0], -0.4, 0, 0.6);
    expectCircle(four[1], 0.6, 0, 0.4);
    expectCircle(four[2], 0.24, -0.48, 0.2);
    expectCircle(four[3], 0.24, 0.48, 0.2);

    // Results come back in the weights' order, whatever the placement order.
    auto reordered = BubbleLayout::pack({1, 4});
    ASSERT_EQ(reordered.size(), 2u);
    expectCircle(reordered[1], -1.0 / 3, 0, 2.0 / 3);
}

TEST(BubblePack, NothingForWeightsThatAreNotPositiveAndFinite) {
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(BubbleLayout::pack({}).empty());
    EXPECT_TRUE(BubbleLayout::pack({1, 0}).empty());
    EXPECT_TRUE(BubbleLayout::pack({1, -2}).empty());
    EXPECT_TRUE(BubbleLayout::pack({1, inf}).empty());
    EXPECT_TRUE(BubbleLayout::pack({1, std::nan("")}).empty());
}

TEST(BubblePack, CancelledTaskGivesNothing) {
    auto token = std::make_shared<CancellationToken>();
    token->cancel();
    CancellationScope scope(token);
    EXPECT_TRUE(BubbleLayout::pack({3, 2, 1}).empty());
}

TEST(BubblePack, CirclesNeverOverlapAndFillTheUnitCircleOnRandomWeights) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> exponent(0, 6);
    for (int round = 0; round < 60; ++round) {
        std::vector<double> weights(1 + random() % 24);
        for (double& w : weights) {
            w = std::pow(10.0, exponent(random));
        }
        auto circles = BubbleLayout::pack(weights);
        ASSERT_EQ(circles.size(), weights.size());
        double reach = 0;
        for (size_t i = 0; i < circles.size(); ++i) {
            const auto& c = circles[i];
            double outer = std::hypot(c.center.x, c.center.y) + c.radius;
            EXPECT_LE(outer, 1 + 1e-9);
            reach = std::max(reach, outer);
            // Areas follow the weights.
            EXPECT_NEAR(c.radius * c.radius / (circles[0].radius * circles[0].radius),
                        weights[i] / weights[0], 1e-9 * weights[i] / weights[0]);
            for (size_t j = i + 1; j < circles.size(); ++j) {
                EXPECT_GE(gap(c, circles[j]), -1e-8) << i << " and " << j;
            }
        }
        EXPECT_NEAR(reach, 1, 1e-9) << "the enclosing circle is the unit circle";
    }
}

TEST(BubbleLayout, NothingForBadSizesOrBudget) {
    auto nodes = filesIn("/d", {3, 1});
    EXPECT_TRUE(BubbleLayout::make(nodes, {0, 100}, 2, 300).empty());
    EXPECT_TRUE(
        BubbleLayout::make(nodes, {std::numeric_limits<double>::infinity(), 100}, 2, 300).empty());
    EXPECT_TRUE(BubbleLayout::make(nodes, {100, 100}, 2, 0).empty());
}

TEST(BubbleLayout, TheFirstLevelFillsTheCanvasCircle) {
    auto nodes = filesIn("/d", {7});
    auto bubbles = BubbleLayout::make(nodes, {100, 60}, 2, 300);
    ASSERT_EQ(bubbles.size(), 1u);
    expectCircle(bubbles[0].circle, 50, 30, 27);
    auto tiny = BubbleLayout::make(filesIn("/d", {7, 3}), {4, 4}, 2, 300);
    ASSERT_EQ(tiny.size(), 2u);
    EXPECT_EQ(tiny[0].circle.radius, 0);
    EXPECT_EQ(tiny[1].circle.radius, 0);
}

TEST(BubbleLayout, FoldersOpenWhenTheirBubbleIsLargeEnough) {
    std::vector<FileNode> nodes{folderNode("/d/a", filesIn("/d/a", {1, 1}))};
    // The only bubble fills the canvas circle: radius min(w, h) / 2 − 3.
    auto small = BubbleLayout::make(nodes, {102, 102}, 3, 300);
    ASSERT_EQ(small.size(), 1u);
    EXPECT_FALSE(small[0].expanded) << "radius 48";

    auto large = BubbleLayout::make(nodes, {104, 104}, 3, 300);
    ASSERT_EQ(large.size(), 3u);
    EXPECT_TRUE(large[0].expanded);
    // The children are two halves of the inner circle: radius 0.76 × 49, centre pushed down.
    double inner = 0.76 * 49;
    expectCircle(large[1].circle, 52 - inner / 2, 52 + 0.14 * 49, inner / 2);
    expectCircle(large[2].circle, 52 + inner / 2, 52 + 0.14 * 49, inner / 2);
    EXPECT_EQ(large[1].depth, 2);
    EXPECT_EQ(large[1].ancestors.front(), &nodes[0]);

    EXPECT_EQ(BubbleLayout::make(nodes, {1000, 1000}, 0, 300).size(), 1u);
}

TEST(BubbleLayout, DepthIsClampedToThree) {
    FileNode node = fileNode("/d/1/2/3/4/f", 10);
    for (std::string path : {"/d/1/2/3/4", "/d/1/2/3", "/d/1/2", "/d/1"}) {
        node = folderNode(path, {node});
    }
    int most = 0;
    for (const auto& bubble : BubbleLayout::make({node}, {2000, 2000}, 5, 300)) {
        most = std::max(most, bubble.depth);
    }
    EXPECT_EQ(most, 3);
}

TEST(BubbleLayout, TwentyFourBubblesPerLevelTheLastAGroup) {
    std::vector<std::int64_t> sizes(30, 100);
    auto bubbles = BubbleLayout::make(filesIn("/d", sizes), {800, 800}, 2, 300);
    ASSERT_EQ(bubbles.size(), 24u);
    EXPECT_TRUE(isLayoutGroup(*bubbles[23].node));
    EXPECT_EQ(bubbles[23].node->logicalSize, 700);
    EXPECT_EQ(bubbles[23].node->id.absoluteString().rfind("varnok-group://sunburst/file:///d/", 0),
              0u);
    EXPECT_FALSE(bubbles[23].expanded);
}

TEST(BubbleLayout, OpenedChildrenStayInsideTheirParentOnRandomTrees) {
    std::mt19937 random(5);
    for (int round = 0; round < 30; ++round) {
        FileNode root = randomTree(random, "/r", 3, 10);
        int limit = 1 + static_cast<int>(random() % 300);
        auto bubbles = BubbleLayout::make(root.children, {1200, 900}, 3, limit);
        ASSERT_LE(bubbles.size(), static_cast<size_t>(limit));
        std::map<const FileNode*, PackedCircle> opened;
        for (const auto& bubble : bubbles) {
            if (bubble.expanded) {
                EXPECT_FALSE(isLayoutGroup(*bubble.node));
                EXPECT_GT(bubble.circle.radius, 48);
                opened[bubble.node] = bubble.circle;
            }
            if (!bubble.ancestors.empty()) {
                ASSERT_TRUE(opened.count(bubble.ancestors.back()));
                const PackedCircle& parent = opened[bubble.ancestors.back()];
                double dx = bubble.circle.center.x - parent.center.x;
                double dy = bubble.circle.center.y - (parent.center.y + 0.14 * parent.radius);
                EXPECT_LE(std::hypot(dx, dy) + bubble.circle.radius, 0.76 * parent.radius + 1e-6);
            }
        }
    }
}

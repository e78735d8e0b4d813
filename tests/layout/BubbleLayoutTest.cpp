#include "core/layout/BubbleLayout.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace varnok;
using namespace varnok::testing;

namespace {

void expectCircle(const PackedCircle& c, const PackedCircle& expected) {
    EXPECT_NEAR(c.center.x, expected.center.x, 1e-9);
    EXPECT_NEAR(c.center.y, expected.center.y, 1e-9);
    EXPECT_NEAR(c.radius, expected.radius, 1e-9);
}

double gap(const PackedCircle& a, const PackedCircle& b) {
    return std::hypot(a.center.x - b.center.x, a.center.y - b.center.y) - a.radius - b.radius;
}

} // namespace

TEST(BubblePack, KnownPackingsComeBackInTheWeightsOrder) {
    struct Case {
        std::vector<double> weights;
        std::vector<PackedCircle> circles;
    };
    const std::vector<Case> cases{
        {{5}, {{{0, 0}, 1}}},
        {{1, 1}, {{{-0.5, 0}, 0.5}, {{0.5, 0}, 0.5}}},
        {{4, 1}, {{{-1.0 / 3, 0}, 2.0 / 3}, {{2.0 / 3, 0}, 1.0 / 3}}},
        {{1, 4}, {{{2.0 / 3, 0}, 1.0 / 3}, {{-1.0 / 3, 0}, 2.0 / 3}}},
        {{9, 4, 1, 1},
         {{{-0.4, 0}, 0.6}, {{0.6, 0}, 0.4}, {{0.24, -0.48}, 0.2}, {{0.24, 0.48}, 0.2}}},
        // The third circle touches only the largest, 45 degrees round from the second.
        {{8, 1, 1},
         {{{-0.255057702553084, -0.112057007225905}, 0.721412124276587},
          {{0.721412124276587, -0.112057007225905}, 0.255057702553084},
          {{0.43541073362223, 0.578411428949409}, 0.255057702553084}}},
    };
    for (const Case& c : cases) {
        auto circles = BubbleLayout::pack(c.weights);
        ASSERT_EQ(circles.size(), c.circles.size());
        for (size_t i = 0; i < circles.size(); ++i) {
            expectCircle(circles[i], c.circles[i]);
        }
    }
}

TEST(BubblePack, NothingForWeightsThatAreNotPositiveAndFinite) {
    double inf = std::numeric_limits<double>::infinity();
    for (const std::vector<double>& weights :
         std::vector<std::vector<double>>{{}, {1, 0}, {1, -2}, {1, inf}, {1, std::nan("")}}) {
        EXPECT_TRUE(BubbleLayout::pack(weights).empty());
    }
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

TEST(BubbleLayout, TheFirstLevelFillsTheCanvasCircle) {
    auto bubbles = BubbleLayout::make(filesIn("/d", {7}), {100, 60}, 2, 300);
    ASSERT_EQ(bubbles.size(), 1u);
    expectCircle(bubbles[0].circle, {{50, 30}, 27});
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
    expectCircle(large[1].circle, {{52 - inner / 2, 52 + 0.14 * 49}, inner / 2});
    expectCircle(large[2].circle, {{52 + inner / 2, 52 + 0.14 * 49}, inner / 2});
    EXPECT_EQ(large[1].depth, 2);
    EXPECT_EQ(large[1].ancestors.front(), &nodes[0]);

    EXPECT_EQ(BubbleLayout::make(nodes, {1000, 1000}, 0, 300).size(), 1u);
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

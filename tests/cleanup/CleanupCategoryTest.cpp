#include "core/cleanup/CleanupCategory.hpp"
#include "core/cleanup/CleanupCandidate.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unordered_set>

using namespace varnok;

namespace {

TEST(CleanupCategory, RawValuesRoundTripInDeclarationOrder) {
    const auto& all = CleanupCategory::allCases();
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all.front(), CleanupCategory::appCaches);
    EXPECT_EQ(all.back(), CleanupCategory::duplicates);
    std::unordered_set<CleanupCategory> seen;
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].value(), static_cast<CleanupCategory::Case>(i));
        EXPECT_EQ(CleanupCategory::fromRawValue(all[i].rawValue()), all[i]);
        EXPECT_EQ(all[i].id(), all[i].rawValue());
        seen.insert(all[i]);
    }
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(CleanupCategory(CleanupCategory::oldLogs).rawValue(), "Old logs & crash reports");
    EXPECT_EQ(CleanupCategory(CleanupCategory::communicationCaches).rawValue(), "Chat app caches");
    // Only the exact raw value constructs.
    for (const char* raw : {"app caches", "App caches ", "", "appCaches"}) {
        EXPECT_FALSE(CleanupCategory::fromRawValue(raw)) << raw;
    }
}

TEST(CleanupCategory, CacheCategoriesShareOneExplanation) {
    CleanupCategory app = CleanupCategory::appCaches;
    EXPECT_EQ(app.explanation(), CleanupCategory(CleanupCategory::aiCaches).explanation());
    EXPECT_EQ(app.explanation(),
              CleanupCategory(CleanupCategory::communicationCaches).explanation());
    EXPECT_NE(app.explanation(), CleanupCategory(CleanupCategory::browserCaches).explanation());
    EXPECT_EQ(CleanupCategory(CleanupCategory::browserCaches).symbol(), "globe");
}

TEST(CleanupCandidate, JsonNamesTheCategoryByRawValueAndOmitsAMissingKeeper) {
    FileNode node;
    node.id = Url::file("/h/Library/Caches/Firefox", true);
    node.isDirectory = true;
    CleanupCandidate candidate(node, CleanupCategory::browserCaches, "/h", "Because.");
    nlohmann::json json = candidate;
    EXPECT_EQ(json["category"], "Browser caches");
    EXPECT_EQ(json["node"]["id"], "file:///h/Library/Caches/Firefox/");
    EXPECT_EQ(json["isExample"], false);
    EXPECT_FALSE(json.contains("keeper"));

    FileNode keeper;
    keeper.id = Url::file("/h/a.mov", false);
    CleanupCandidate duplicate(node, CleanupCategory::duplicates, "/h", "Same.", false, keeper);
    nlohmann::json withKeeper = duplicate;
    EXPECT_EQ(withKeeper["keeper"]["id"], "file:///h/a.mov");
}

} // namespace

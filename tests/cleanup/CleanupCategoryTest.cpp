#include "core/cleanup/CleanupCategory.hpp"
#include "core/cleanup/CleanupCandidate.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace varnok;

namespace {

TEST(CleanupCategory, OnlyTheExactRawValueConstructs) {
    const auto& all = CleanupCategory::allCases();
    ASSERT_EQ(all.size(), 9u);
    // The round trip also shows the nine raw values are distinct.
    for (CleanupCategory category : all) {
        EXPECT_EQ(CleanupCategory::fromRawValue(category.rawValue()), category);
    }
    for (const char* raw : {"app caches", "App caches ", "", "appCaches"}) {
        EXPECT_FALSE(CleanupCategory::fromRawValue(raw)) << raw;
    }
}

TEST(CleanupCandidate, JsonNamesTheCategoryByRawValueAndTheKeeperWhenPresent) {
    FileNode node;
    node.id = Url::file("/h/Library/Caches/Firefox", true);
    FileNode keeper;
    keeper.id = Url::file("/h/a.mov", false);
    nlohmann::json json =
        CleanupCandidate(node, CleanupCategory::duplicates, "/h", "Same.", false, keeper);
    EXPECT_EQ(json["category"], "Duplicate files");
    EXPECT_EQ(json["node"]["id"], "file:///h/Library/Caches/Firefox/");
    EXPECT_EQ(json["keeper"]["id"], "file:///h/a.mov");
}

} // namespace

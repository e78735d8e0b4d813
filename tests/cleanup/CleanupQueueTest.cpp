#include "core/cleanup/CleanupQueue.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace varnok;

namespace {

CleanupCandidate candidate(const std::string& path, std::int64_t size = 1,
                           bool isDirectory = true) {
    FileNode node;
    node.id = Url::file(path, isDirectory);
    node.isDirectory = isDirectory;
    node.logicalSize = size;
    node.allocatedSize = size * 4;
    return CleanupCandidate(node, CleanupCategory::appCaches, "/h", "Known cache location.");
}

using Paths = std::vector<std::string>;

Paths paths(const CleanupQueue& queue) {
    Paths out;
    for (const auto& item : queue.items()) {
        out.push_back(item.node.id.path());
    }
    return out;
}

TEST(CleanupQueue, EachItemOnceAndTheEnclosingFolderWinsInEitherOrder) {
    CleanupQueue queue;
    for (const char* path : {"/h/a/one", "/h/z", "/h/a/two/deep", "/h/a"}) {
        queue.add(candidate(path));
    }
    queue.add(candidate("/h/a/file", 1, false));
    EXPECT_EQ(paths(queue), Paths({"/h/z", "/h/a"}));

    queue.clear();
    for (const char* path : {"/h/a/b", "/h/a/b", "/h/a/./b/", "/h/a/c/../b"}) {
        queue.add(candidate(path));
    }
    queue.add(candidate("/h/a/b", 1, false));
    EXPECT_EQ(paths(queue), Paths({"/h/a/b"}));
    // A shared prefix without a separator is a different item.
    queue.add(candidate("/h/a/bc"));
    EXPECT_EQ(paths(queue), Paths({"/h/a/b", "/h/a/bc"}));
    // Names that differ in bytes are two files, even when they read the same.
    queue.add(candidate("/h/caf\xC3\xA9"));
    queue.add(candidate("/h/cafe\xCC\x81"));
    EXPECT_EQ(queue.items().size(), 4u);
}

TEST(CleanupQueue, LinksAndItemsWithReadErrorsAreNeverQueued) {
    CleanupQueue queue;
    auto link = candidate("/h/link");
    link.node.isSymbolicLink = true;
    auto damaged = candidate("/h/damaged");
    damaged.node.hasReadErrors = true;
    queue.add(link);
    queue.add(damaged);
    EXPECT_TRUE(queue.items().empty());
    // Nor do they displace what is inside them.
    queue.add(candidate("/h/damaged/inner"));
    queue.add(damaged);
    EXPECT_EQ(paths(queue), Paths({"/h/damaged/inner"}));
}

TEST(CleanupQueue, RemoveMatchesTheUrlExactlyAndTotalCountsLogicalBytes) {
    CleanupQueue queue;
    queue.add(candidate("/h/a", 3'000'000'000));
    queue.add(candidate("/h/b", 5'000'000'000));
    EXPECT_EQ(queue.totalSize(), 8'000'000'000);
    queue.remove(Url::file("/h/./a", true));
    queue.remove(Url::file("/h/a", false));
    EXPECT_EQ(queue.items().size(), 2u);
    queue.remove(Url::file("/h/a", true));
    EXPECT_EQ(paths(queue), Paths({"/h/b"}));
    queue.clear();
    EXPECT_EQ(queue.totalSize(), 0);
}

} // namespace

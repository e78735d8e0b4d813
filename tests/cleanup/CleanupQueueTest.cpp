#include "core/cleanup/CleanupQueue.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
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

// The overlap rules written out plainly: every queued item against the new one.
Paths reference(const std::vector<std::string>& added) {
    Paths queued;
    for (const std::string& raw : added) {
        const std::string path = PathText::standardize(raw);
        if (std::any_of(queued.begin(), queued.end(), [&](const std::string& q) {
                return q == path || PathText::isInside(path, q);
            })) {
            continue;
        }
        std::erase_if(queued, [&](const std::string& q) { return PathText::isInside(q, path); });
        queued.push_back(path);
    }
    return queued;
}

TEST(CleanupQueue, LargeRandomSelectionsKeepTheRulesAndTheOrder) {
    std::mt19937 random(23);
    // Few names, deep paths and near-miss spellings, so that repeats, nesting and shared
    // prefixes ("a", "a-b", "a.b", "ab") all occur often.
    const std::vector<std::string> names = {"a", "ab", "a-b", "a.b", "b", "\xC3\xA9", "a b"};
    std::uniform_int_distribution<size_t> name(0, names.size() - 1), depth(1, 5), spell(0, 9);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> added;
        CleanupQueue queue;
        for (int i = 0; i < 1500; ++i) {
            std::string path = "/h";
            for (size_t d = depth(random); d > 0; --d) {
                path += "/" + names[name(random)];
            }
            const size_t odd = spell(random);
            if (odd == 0) {
                path += "/";
            } else if (odd == 1) {
                path.insert(2, "/./x/..");
            }
            added.push_back(path);
            queue.add(candidate(path, 1, odd == 2));
        }
        const Paths expected = reference(added);
        Paths queued;
        for (const auto& item : queue.items()) {
            queued.push_back(item.node.id.standardized().path());
        }
        ASSERT_EQ(queued, expected) << "round " << round;
        // What is removed no longer holds back an item inside it.
        const std::string first = queued.front();
        queue.remove(queue.items().front().node.id);
        queue.add(candidate(first + "/again"));
        EXPECT_EQ(queue.items().back().node.id.path(), first + "/again");
    }
}

} // namespace

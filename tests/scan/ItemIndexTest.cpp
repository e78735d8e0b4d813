#include "core/scan/ItemIndex.hpp"
#include "core/scan/ScanHighlights.hpp"

#include "core/common/Task.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace varnok;
using namespace varnok::testing;

namespace {

FileNode dated(FileNode node, std::int64_t modifiedSeconds) {
    FileIdentity identity;
    identity.modifiedSeconds = modifiedSeconds;
    identity.modifiedNanoseconds = 999999999;
    node.identity = identity;
    return node;
}

FileNode symlink(const std::string& path, std::int64_t size) {
    FileNode node = fileNode(path, size);
    node.isSymbolicLink = true;
    return node;
}

std::vector<std::string> paths(const std::vector<const FileNode*>& nodes) {
    std::vector<std::string> out;
    for (const FileNode* node : nodes) {
        out.push_back(node->id.path());
    }
    return out;
}

std::vector<std::string> find(const FileNode& root, std::optional<ItemKind> kind,
                              ItemSort sort = ItemSort::largest, std::string_view search = "",
                              ItemScope scope = ItemScope::descendants) {
    return paths(ItemIndex::find(root, kind, sort, search, scope));
}

// /h
//   Movies/      clip.MKV 300, Clip.mov/ (a folder) holding x 5
//   Tool.APP/    bin 40
//   tool.app     7 (a file)
//   Backup.tar.GZ 90
//   notes        20
//   link -> …    a symbolic link of 10^9 bytes
FileNode sampleTree() {
    return folderNode("/h",
                      {folderNode("/h/Movies", {fileNode("/h/Movies/clip.MKV", 300),
                                                folderNode("/h/Movies/Clip.mov",
                                                           {fileNode("/h/Movies/Clip.mov/x", 5)})}),
                       folderNode("/h/Tool.APP", {fileNode("/h/Tool.APP/bin", 40)}),
                       fileNode("/h/tool.app", 7), fileNode("/h/Backup.tar.GZ", 90),
                       fileNode("/h/notes", 20), symlink("/h/link", 1000000000)});
}

} // namespace

TEST(ItemKind, TextValuesRoundTripExactly) {
    for (ItemKind kind : allItemKinds) {
        EXPECT_EQ(itemKindFromText(textValue(kind)), kind);
    }
    for (ItemSort sort : allItemSorts) {
        EXPECT_EQ(itemSortFromText(textValue(sort)), sort);
    }
    EXPECT_EQ(textValue(ItemKind::applications), "Applications");
    EXPECT_EQ(textValue(ItemSort::type), "Type");
    EXPECT_FALSE(itemKindFromText("files"));
    EXPECT_FALSE(itemKindFromText("Files "));
    EXPECT_FALSE(itemSortFromText("largest"));
}

TEST(ItemIndex, KindsFollowFolderFlagAndExtension) {
    FileNode root = sampleTree();
    EXPECT_EQ(find(root, ItemKind::videos), (std::vector<std::string>{"/h/Movies/clip.MKV"}))
        << "a folder named Clip.mov is not a video";
    EXPECT_EQ(find(root, ItemKind::applications), (std::vector<std::string>{"/h/Tool.APP"}))
        << "a file named tool.app is not an application";
    EXPECT_EQ(find(root, ItemKind::archives), (std::vector<std::string>{"/h/Backup.tar.GZ"}));
    EXPECT_EQ(find(root, ItemKind::folders),
              (std::vector<std::string>{"/h/Movies", "/h/Tool.APP", "/h/Movies/Clip.mov"}));
    EXPECT_EQ(find(root, ItemKind::files).size(), 6u) << "every file but the link";
    EXPECT_EQ(find(root, std::nullopt).size(), 9u);
}

TEST(ItemIndex, DirectChildrenOnly) {
    FileNode root = sampleTree();
    EXPECT_EQ(find(root, ItemKind::files, ItemSort::largest, "", ItemScope::directChildren),
              (std::vector<std::string>{"/h/Backup.tar.GZ", "/h/notes", "/h/tool.app"}));
    EXPECT_TRUE(find(fileNode("/h/f", 3), std::nullopt).empty());
    EXPECT_TRUE(find(folderNode("/h", {}), std::nullopt).empty());
}

TEST(ItemIndex, SearchLooksAtTheWholePathIgnoringCase) {
    FileNode root = sampleTree();
    EXPECT_EQ(find(root, std::nullopt, ItemSort::largest, "MOVIES/"),
              (std::vector<std::string>{"/h/Movies/clip.MKV", "/h/Movies/Clip.mov",
                                        "/h/Movies/Clip.mov/x"}));
    EXPECT_EQ(find(root, std::nullopt, ItemSort::largest, "h/movies").size(), 4u);
    EXPECT_TRUE(find(root, std::nullopt, ItemSort::largest, "link").empty())
        << "symbolic links are never listed";

    FileNode accents = folderNode("/h", {fileNode("/h/\xC3\x89T\xC3\x89.txt", 1), // ÉTÉ
                                         fileNode("/h/Stra\xC3\x9F"
                                                  "e",
                                                  2),                          // Straße
                                         fileNode("/h/e\xCC\x81t\xC3\xA9", 3), // e + ◌́ ...
                                         fileNode("/h/bad\xFF.txt", 4)});
    EXPECT_EQ(find(accents, std::nullopt, ItemSort::largest, "\xC3\xA9t\xC3\xA9").size(), 2u)
        << "upper case and decomposed forms match";
    EXPECT_EQ(find(accents, std::nullopt, ItemSort::largest, "STRASSE").size(), 1u);
    EXPECT_EQ(find(accents, std::nullopt, ItemSort::largest, "BAD").size(), 1u);
}

TEST(ItemIndex, SearchAgreesWithFoldingEveryWholePathOnRandomTrees) {
    // Names that fold in interesting ways, in precomposed and decomposed forms.
    const std::vector<std::string> names{"Cr\xC3\xA8me",
                                         "CRE\xCC\x80ME",
                                         "\xC3\x89t\xC3\xA9",
                                         "Stra\xC3\x9F"
                                         "e",
                                         "STRASSE",
                                         "\xE6\x97\xA5\xE6\x9C\xAC",
                                         "a b",
                                         "Ab",
                                         "x.MP4"};
    std::mt19937 random(17);
    std::function<FileNode(const std::string&, int)> grow = [&](const std::string& path,
                                                                int levels) {
        std::vector<FileNode> children;
        for (int i = static_cast<int>(random() % 5); i >= 0; --i) {
            std::string child = path + "/" + names[random() % names.size()] + std::to_string(i);
            children.push_back(levels > 0 && random() % 3 == 0 ? grow(child, levels - 1)
                                                               : fileNode(child, 1));
        }
        return folderNode(path, std::move(children));
    };
    for (int round = 0; round < 40; ++round) {
        FileNode root = grow("/Top Cr\xC3\xA8me", 4);
        std::vector<const FileNode*> all =
            ItemIndex::find(root, std::nullopt, ItemSort::largest, "", ItemScope::descendants);
        // Needles cut from the folded path of some node, so that they often straddle a "/".
        std::string folded = ItemIndex::foldedForSearch(all[random() % all.size()]->id.path());
        size_t from = random() % folded.size();
        std::string needle = folded.substr(from, 1 + random() % 8);
        if (ItemIndex::foldedForSearch(needle) != needle) {
            continue; // cut inside a character
        }
        std::vector<const FileNode*> expected;
        for (const FileNode* node : all) {
            if (ItemIndex::foldedForSearch(node->id.path()).find(needle) != std::string::npos) {
                expected.push_back(node);
            }
        }
        EXPECT_EQ(
            ItemIndex::find(root, std::nullopt, ItemSort::largest, needle, ItemScope::descendants),
            expected)
            << needle;
    }
}

TEST(ItemIndex, DateSortsPutUndatedItemsLastAndBreakTiesByPath) {
    FileNode root =
        folderNode("/h", {dated(fileNode("/h/b", 1), 200), dated(fileNode("/h/a", 1), 200),
                          dated(fileNode("/h/c", 1), 100), fileNode("/h/d", 1),
                          dated(fileNode("/h/e", 1), 300)});
    EXPECT_EQ(find(root, std::nullopt, ItemSort::oldest),
              (std::vector<std::string>{"/h/c", "/h/a", "/h/b", "/h/e", "/h/d"}));
    EXPECT_EQ(find(root, std::nullopt, ItemSort::newest),
              (std::vector<std::string>{"/h/e", "/h/a", "/h/b", "/h/c", "/h/d"}));
}

TEST(ItemIndex, LargestAndTypeSorts) {
    FileNode root =
        folderNode("/h", {fileNode("/h/z.txt", 5), fileNode("/h/a.TXT", 5), fileNode("/h/b.txt", 9),
                          fileNode("/h/noext", 1), fileNode("/h/y.txt", 5)});
    EXPECT_EQ(
        find(root, std::nullopt, ItemSort::largest),
        (std::vector<std::string>{"/h/b.txt", "/h/a.TXT", "/h/y.txt", "/h/z.txt", "/h/noext"}));
    EXPECT_EQ(
        find(root, std::nullopt, ItemSort::type),
        (std::vector<std::string>{"/h/noext", "/h/a.TXT", "/h/b.txt", "/h/y.txt", "/h/z.txt"}))
        << "extensions compare as stored: TXT before txt";
}

TEST(ItemIndex, CancellationEndsTheCallWithTheError) {
    std::vector<FileNode> files;
    for (int i = 0; i < 200000; ++i) {
        files.push_back(fileNode("/h/f" + std::to_string(i), i % 1000));
    }
    FileNode root = folderNode("/h", std::move(files));
    auto token = std::make_shared<CancellationToken>();
    // Usually lands in the sort, which takes far longer than the walk of a flat folder; wherever
    // it lands, the call must end with the error and no partial list.
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        token->cancel();
    });
    CancellationScope scope(token);
    EXPECT_THROW(
        {
            for (;;) {
                ItemIndex::find(root, std::nullopt, ItemSort::type, "", ItemScope::descendants);
            }
        },
        CancellationError);
    canceller.join();
}

TEST(ScanHighlights, CountsFilesAndLargeFilesButNotLinks) {
    FileNode root = folderNode(
        "/h", {fileNode("/h/exact", 100000000), fileNode("/h/under", 99999999),
               folderNode("/h/sub", {fileNode("/h/sub/huge", 300000000), fileNode("/h/sub/x", 1)}),
               symlink("/h/link", 500000000)});
    ScanHighlights highlights = ScanHighlights::summarize(root);
    EXPECT_EQ(highlights.fileCount, 4);
    EXPECT_EQ(highlights.largeFileCount, 2);
    EXPECT_EQ(highlights.largeFileBytes, 400000000);
    EXPECT_EQ(ScanHighlights::summarize(folderNode("/h", {})), ScanHighlights{});
}

TEST(ScanHighlights, DeepTreesDoNotExhaustTheStack) {
    FileNode node = fileNode("/d/f", 200000000);
    for (int i = 0; i < 10000; ++i) {
        std::vector<FileNode> only;
        only.push_back(std::move(node));
        node = folderNode("/d", std::move(only));
    }
    EXPECT_EQ(ScanHighlights::summarize(node).largeFileCount, 1);
    EXPECT_EQ(ItemIndex::find(node, ItemKind::files, ItemSort::largest, "", ItemScope::descendants)
                  .size(),
              1u);
}

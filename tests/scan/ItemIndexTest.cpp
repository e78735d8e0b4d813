#include "core/scan/ItemIndex.hpp"
#include "core/scan/ScanHighlights.hpp"

#include "core/common/Task.hpp"
#include "tests/support/TreeFixtures.hpp"

#include <algorithm>
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

// What `ItemIndex::find` lists below `root`: paths relative to it, separated by spaces.
std::string find(const FileNode& root, std::optional<ItemKind> kind,
                 ItemSort sort = ItemSort::largest, std::string_view search = "",
                 ItemScope scope = ItemScope::descendants) {
    std::string text;
    for (const FileNode* node : ItemIndex::find(root, kind, sort, search, scope)) {
        text += (text.empty() ? "" : " ") + node->id.path().substr(root.id.path().size() + 1);
    }
    return text;
}

std::string search(const FileNode& root, std::string_view text) {
    return find(root, std::nullopt, ItemSort::largest, text);
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
    EXPECT_FALSE(itemKindFromText("files"));
    EXPECT_FALSE(itemKindFromText("Files "));
    EXPECT_FALSE(itemSortFromText("largest"));
}

TEST(ItemIndex, KindsFollowFolderFlagAndExtensionInTheChosenScope) {
    FileNode root = sampleTree();
    EXPECT_EQ(find(root, ItemKind::videos), "Movies/clip.MKV")
        << "a folder named Clip.mov is not a video";
    EXPECT_EQ(find(root, ItemKind::applications), "Tool.APP")
        << "a file named tool.app is not an application";
    EXPECT_EQ(find(root, ItemKind::archives), "Backup.tar.GZ");
    EXPECT_EQ(find(root, ItemKind::folders), "Movies Tool.APP Movies/Clip.mov");
    EXPECT_EQ(find(root, ItemKind::files),
              "Movies/clip.MKV Backup.tar.GZ Tool.APP/bin notes tool.app Movies/Clip.mov/x")
        << "every file but the link";
    EXPECT_EQ(find(root, std::nullopt),
              "Movies Movies/clip.MKV Backup.tar.GZ Tool.APP Tool.APP/bin notes tool.app "
              "Movies/Clip.mov Movies/Clip.mov/x");
    EXPECT_EQ(find(root, ItemKind::files, ItemSort::largest, "", ItemScope::directChildren),
              "Backup.tar.GZ notes tool.app");
    EXPECT_EQ(find(fileNode("/h/f", 3), std::nullopt), "");
    EXPECT_EQ(find(folderNode("/h", {}), std::nullopt), "");
}

TEST(ItemIndex, SearchLooksAtTheWholePathIgnoringCase) {
    FileNode root = sampleTree();
    EXPECT_EQ(search(root, "MOVIES/"), "Movies/clip.MKV Movies/Clip.mov Movies/Clip.mov/x");
    EXPECT_EQ(search(root, "h/movies"), "Movies Movies/clip.MKV Movies/Clip.mov Movies/Clip.mov/x");
    EXPECT_EQ(search(root, "link"), "") << "symbolic links are never listed";

    FileNode accents =
        folderNode("/h", {fileNode("/h/\u00C9T\u00C9.txt", 1), fileNode("/h/Stra\u00DFe", 2),
                          fileNode("/h/e\u0301t\u00E9", 3), fileNode("/h/bad\xFF.txt", 4)});
    EXPECT_EQ(search(accents, "\u00E9t\u00E9"), "e\u0301t\u00E9 \u00C9T\u00C9.txt")
        << "upper case and decomposed forms match";
    EXPECT_EQ(search(accents, "STRASSE"), "Stra\u00DFe");
    EXPECT_EQ(search(accents, "BAD"), "bad\xFF.txt");
}

TEST(ItemIndex, SearchAgreesWithFoldingEveryWholePathOnRandomTrees) {
    // Names that fold in interesting ways, in precomposed and decomposed forms.
    const std::vector<std::string> names{"Cr\u00E8me",  "CRE\u0300ME", "\u00C9t\u00E9",
                                         "Stra\u00DFe", "STRASSE",     "\u65E5\u672C",
                                         "a b",         "Ab",          "x.MP4"};
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
        FileNode root = grow("/Top Cr\u00E8me", 4);
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

TEST(ItemIndex, SortsAreStableWithThePathAsTieBreak) {
    FileNode root =
        folderNode("/h", {dated(fileNode("/h/b.txt", 5), 200), dated(fileNode("/h/a.TXT", 5), 200),
                          dated(fileNode("/h/c.txt", 9), 100), fileNode("/h/noext", 1),
                          dated(fileNode("/h/e.txt", 5), 300)});
    EXPECT_EQ(find(root, std::nullopt, ItemSort::oldest), "c.txt a.TXT b.txt e.txt noext")
        << "undated items come last";
    EXPECT_EQ(find(root, std::nullopt, ItemSort::newest), "e.txt a.TXT b.txt c.txt noext");
    EXPECT_EQ(find(root, std::nullopt, ItemSort::largest), "c.txt a.TXT b.txt e.txt noext");
    EXPECT_EQ(find(root, std::nullopt, ItemSort::type), "noext a.TXT b.txt c.txt e.txt")
        << "extensions compare as stored: TXT before txt";
}

TEST(ItemIndex, TiesFollowTheWholePathOnRandomTrees) {
    // Names around "/" in byte order: "a-b" and "a.b" come between "a" and what is below it,
    // "a0" after it.
    const std::vector<std::string> names{"a", "a-b", "a.b", "a0", "a b", "ab", "A", "\u00E9"};
    std::mt19937 random(29);
    std::function<FileNode(const std::string&, int)> grow = [&](const std::string& path,
                                                                int levels) {
        std::vector<std::string> picked = names;
        std::shuffle(picked.begin(), picked.end(), random);
        picked.resize(2 + random() % 5);
        std::vector<FileNode> children;
        for (const std::string& name : picked) {
            const std::string child = path + "/" + name;
            children.push_back(
                levels > 0 && random() % 2 == 0
                    ? grow(child, levels - 1)
                    : dated(fileNode(child, 1 + random() % 2), 100 * (random() % 2)));
        }
        return folderNode(path, std::move(children));
    };
    for (int round = 0; round < 20; ++round) {
        FileNode root = grow("/t", 3);
        for (ItemSort sort : {ItemSort::largest, ItemSort::newest}) {
            std::vector<const FileNode*> found =
                ItemIndex::find(root, ItemKind::files, sort, "", ItemScope::descendants);
            std::vector<const FileNode*> expected = found;
            auto key = [sort](const FileNode* node) {
                return sort == ItemSort::largest ? node->logicalSize
                                                 : node->identity->modifiedSeconds;
            };
            std::sort(expected.begin(), expected.end(), [&](const FileNode* a, const FileNode* b) {
                return key(a) != key(b) ? key(a) > key(b) : a->id.path() < b->id.path();
            });
            ASSERT_EQ(found, expected) << "round " << round;
        }
    }
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

TEST(ScanHighlights, CountsFilesAndLargeFilesButNotLinksEvenInDeepTrees) {
    FileNode root = folderNode(
        "/h", {fileNode("/h/exact", 100000000), fileNode("/h/under", 99999999),
               folderNode("/h/sub", {fileNode("/h/sub/huge", 300000000), fileNode("/h/sub/x", 1)}),
               symlink("/h/link", 500000000)});
    ScanHighlights highlights = ScanHighlights::summarize(root);
    EXPECT_EQ(highlights.fileCount, 4);
    EXPECT_EQ(highlights.largeFileCount, 2);
    EXPECT_EQ(highlights.largeFileBytes, 400000000);
    EXPECT_EQ(ScanHighlights::summarize(folderNode("/h", {})), ScanHighlights{});

    // Ten thousand levels would exhaust the stack of a recursive walk.
    FileNode node = fileNode("/d/f", 200000000);
    for (int i = 0; i < 10000; ++i) {
        std::vector<FileNode> only;
        only.push_back(std::move(node));
        node = folderNode("/d", std::move(only));
    }
    EXPECT_EQ(ScanHighlights::summarize(node).largeFileCount, 1);
    EXPECT_EQ(find(node, ItemKind::files), "f");
}

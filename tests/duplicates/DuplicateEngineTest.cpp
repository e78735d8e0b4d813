#include "core/duplicates/DuplicateEngine.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "tests/duplicates/DuplicateTestSupport.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// Hashes with the engine's own function on one thread and records which files were asked for.
FileHashFunction spyOn(std::set<std::string>& hashed) {
    return [&hashed](const FileNode& node) {
        hashed.insert(node.id.lastPathComponent());
        return DuplicateEngine::hash(node);
    };
}

void writeAll(const TempDir& dir, const std::vector<std::string>& names,
              const std::string& contents) {
    for (const std::string& name : names) {
        writeFile(dir.at(name), contents);
    }
}

// Each report as "phase checked/total bytes", separated by "; ".
std::string describe(const std::vector<DuplicateProgress>& reports) {
    std::string text;
    for (const DuplicateProgress& report : reports) {
        text += (text.empty() ? "" : "; ") + report.phase + " " + std::to_string(report.checked) +
                "/" + std::to_string(report.total) + " " + std::to_string(report.bytesRead);
    }
    return text;
}

// The two ways to search: hashing each file with the engine's hash and then comparing, and
// reading the files of one size together. Both must give the same results.
DuplicateResult hashingEach(const FileNode& tree, const DuplicateProgressHandler& progress,
                            unsigned threads) {
    return DuplicateEngine::find(tree, progress, DuplicateEngine::hash, threads);
}
DuplicateResult readingTogether(const FileNode& tree, const DuplicateProgressHandler& progress,
                                unsigned threads) {
    return DuplicateEngine::find(tree, progress, threads);
}
using Search = DuplicateResult (*)(const FileNode&, const DuplicateProgressHandler&, unsigned);
const Search bothSearches[] = {hashingEach, readingTogether};

// A folder tree of `count` nodes that never touches the disk: a root and files without identity.
FileNode syntheticTree(const std::string& root, int count) {
    FileNode tree;
    tree.id = Url::file(root, true);
    tree.isDirectory = true;
    for (int i = 1; i < count; ++i) {
        FileNode file;
        file.id = Url::file(root + "/f" + std::to_string(i), false);
        file.logicalSize = 5;
        tree.children.push_back(file);
    }
    return tree;
}

} // namespace

TEST(DuplicateEngine, GroupsIdenticalFilesLargestFirstThenByPath) {
    TempDir dir;
    writeAll(dir, {"c.txt", "a.txt", "sub/b.txt"}, "ten bytes!");
    writeAll(dir, {"x1.txt", "x2.txt"}, "twenty bytes exactly");
    writeAll(dir, {"w1.txt", "w2.txt"}, "twenty bytes, truly!");
    writeAll(dir, {"z1.txt", "z2.txt"}, "twenty-five bytes of text");
    writeFile(dir.at("d1.txt"), "same size A");
    writeFile(dir.at("d2.txt"), "same size B");
    writeFile(dir.at("alone.txt"), "no other file has this size");

    std::set<std::string> hashed;
    DuplicateResult result = DuplicateEngine::find(scannedTree(dir.path()), {}, spyOn(hashed));

    // Equal extra sizes (20) are ordered by the path of the group's first file.
    EXPECT_EQ(describe(result, dir.path()),
              "[z1.txt z2.txt][a.txt c.txt sub/b.txt][w1.txt w2.txt][x1.txt x2.txt]");
    EXPECT_EQ(result.groups[1].extraSize(), 20);
    EXPECT_EQ(result.extraSize(), 85);
    // The two files of equal size but different bytes are hashed and form no group.
    EXPECT_EQ(result.hashedFiles, 11);
    EXPECT_EQ(result.bytesHashed, 3 * 10 + 4 * 20 + 2 * 11 + 2 * 25);
    EXPECT_EQ(hashed.count("alone.txt"), 0u);
}

TEST(DuplicateEngine, IneligibleFilesNeverReachHashing) {
    TempDir dir;
    // Besides the two kept files: a hard link pair, files the policy refuses, empty files, a link.
    writeAll(dir,
             {"kept1.txt", "kept2.txt", "linked.txt", "store.db", ".hidden.txt", "package.json",
              "app/node_modules/dep.txt", "Tool.app/copy.txt",
              // Folders refused by their own name hold nothing to offer either.
              "data.sqlite/a.txt", "data.sqlite/b.txt", "cert.pem/a.txt", "cert.pem/b.txt"},
             "identical bytes");
    ASSERT_EQ(::link(dir.at("linked.txt").c_str(), dir.at("linked-too.txt").c_str()), 0);
    writeAll(dir, {"empty1.txt", "empty2.txt"}, "");
    makeSymlink(dir.at("kept1.txt"), dir.at("pointer.txt"));

    std::set<std::string> hashed;
    DuplicateResult result = DuplicateEngine::find(scannedTree(dir.path()), {}, spyOn(hashed));
    EXPECT_EQ(hashed, (std::set<std::string>{"kept1.txt", "kept2.txt"}));
    EXPECT_EQ(describe(result, dir.path()), "[kept1.txt kept2.txt]");

    FileNode refusedRoot = scannedTree(dir.at("Tool.app"));
    EXPECT_TRUE(DuplicateEngine::find(refusedRoot, {}, spyOn(hashed)).groups.empty());
    FileNode singleFile = scannedFile(dir.at("kept1.txt"));
    EXPECT_TRUE(DuplicateEngine::find(singleFile, {}, spyOn(hashed)).groups.empty());
}

TEST(DuplicateEngine, EqualBytesWithDifferentMetadataAreNotDuplicates) {
    TempDir dir;
    // One pair per difference, each pair of its own size so pairs never meet.
    writeAll(dir, {"mode1", "mode2"}, "m");
    setMode(dir.at("mode2"), 0600);
    // Only root can give a file to another owner.
    const bool owners = ::geteuid() == 0;
    if (owners) {
        writeAll(dir, {"owner1", "owner2"}, "oo");
        ASSERT_EQ(::chown(dir.at("owner2").c_str(), 65534, 65534), 0);
    }
    writeAll(dir, {"same1", "same2"}, "ssss");
    writeAll(dir, {"attr1", "attr2"}, "xxxxx");
    bool attributes = setUserAttribute(dir.at("attr1"), "user.tag", "a") &&
                      setUserAttribute(dir.at("attr2"), "user.tag", "b");
    writeAll(dir, {"flag1", "flag2"}, "ffffff");
    bool flags = setNoDumpFlag(dir.at("flag2"));

    std::string unsupported =
        std::string(flags ? "" : "[flag1 flag2]") + (attributes ? "" : "[attr1 attr2]");
    for (Search search : bothSearches) {
        DuplicateResult result = search(scannedTree(dir.path()), {}, 1);
        EXPECT_EQ(describe(result, dir.path()), unsupported + "[same1 same2]");
    }
    if (!attributes || !flags) {
        GTEST_SKIP() << "the temporary folder's file system lacks"
                     << (attributes ? "" : " user extended attributes")
                     << (flags ? "" : " the no-dump flag");
    }
    if (!owners) {
        GTEST_SKIP() << "files of another owner need root; the other differences were checked";
    }
}

TEST(DuplicateEngine, ChangedAndUnreadableFilesAreSkippedNeverGrouped) {
    TempDir dir;
    writeAll(dir, {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"}, "some content");
    setMode(dir.at("a.txt"), 0); // unreadable for the unprivileged child
    FileNode tree = scannedTree(dir.path());
    writeFile(dir.at("b.txt"), "some CONTENT"); // same size, new bytes
    setModifiedSecondsAgo(dir.at("b.txt"), 50);
    writeFile(dir.at("c.txt"), "some content, grown");
    ASSERT_EQ(::rename(dir.at("d.txt").c_str(), dir.at("moved.txt").c_str()), 0);

    // The mode of a.txt differs from the rest, so it could never join their group anyway; the
    // child shows it is skipped for being unreadable, counted, and its bytes not added.
    auto child = runUnprivileged([&] {
        std::string text;
        for (Search search : bothSearches) {
            DuplicateResult result = search(tree, {}, 1);
            text += describe(result, dir.path()) + " hashed " + std::to_string(result.hashedFiles) +
                    " bytes " + std::to_string(result.bytesHashed) + "; ";
        }
        return text;
    });
    const std::string unprivileged =
        "[e.txt f.txt] skipped a.txt b.txt c.txt d.txt hashed 6 bytes 24; ";
    EXPECT_EQ(child.output, unprivileged + unprivileged);

    // Root reads a.txt anyway; a normal user cannot.
    const bool root = ::geteuid() == 0;
    int descriptorsBefore = openDescriptorCount();
    for (Search search : bothSearches) {
        for (unsigned threads : {1u, 2u}) {
            DuplicateResult result = search(tree, {}, threads);
            EXPECT_EQ(describe(result, dir.path()),
                      root ? "[e.txt f.txt] skipped b.txt c.txt d.txt"
                           : "[e.txt f.txt] skipped a.txt b.txt c.txt d.txt");
            EXPECT_EQ(result.bytesHashed, root ? 36 : 24);
        }
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(DuplicateEngine, HashAndCompareRefuseFilesThatChanged) {
    TempDir dir;
    FileNode node = scannedFile(writeFile(dir.at("abc.txt"), "abc"));
    FileNode twin = scannedFile(writeFile(dir.at("twin.txt"), "abc"));
    FileNode other = scannedFile(writeFile(dir.at("other.txt"), "abd"));
    EXPECT_EQ(DuplicateEngine::hash(node),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_TRUE(DuplicateEngine::equalContents(node, twin));
    EXPECT_FALSE(DuplicateEngine::equalContents(node, node)) << "a file is not its own duplicate";
    EXPECT_FALSE(DuplicateEngine::equalContents(node, other));

    // Bytes beyond the recorded size, as when the file grows while it is read.
    FileNode grew = node;
    grew.logicalSize = 2;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(grew); }), "File grew during reading.");
    FileNode shrank = node;
    shrank.logicalSize = 4;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(shrank); }),
              "File size changed while reading.");
    FileNode grewTwin = twin;
    grewTwin.logicalSize = 2;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::equalContents(grew, grewTwin); }),
              "File grew during comparison.");

    // A file with a second hard link is never compared, even when scanned afresh.
    ASSERT_EQ(::link(dir.at("twin.txt").c_str(), dir.at("hard.txt").c_str()), 0);
    EXPECT_EQ(
        failureOf([&] { DuplicateEngine::equalContents(scannedFile(dir.at("hard.txt")), node); }),
        "hard.txt changed or cannot be verified. Scan again.");
    // Growing after the scan changes the identity, which every read checks first.
    writeFile(dir.at("abc.txt"), "abcdef");
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(node); }),
              "abc.txt changed or cannot be verified. Scan again.");
}

TEST(DuplicateEngine, ReportsProgressInEachPhase) {
    TempDir dir;
    std::vector<DuplicateProgress> reports;
    auto record = [&](const DuplicateProgress& progress) { reports.push_back(progress); };
    DuplicateEngine::find(syntheticTree(dir.path(), 25000), record, DuplicateEngine::hash);
    EXPECT_EQ(describe(reports), "Grouping by size 10000/0 0; Grouping by size 20000/0 0; "
                                 "Verifying file contents 0/0 0"); // nothing to hash

    writeAll(dir, {"one/a", "one/b"}, "12345");
    writeFile(dir.at("one/c"), "54321");
    for (Search search : bothSearches) {
        reports.clear();
        search(scannedTree(dir.at("one")), record, 1);
        EXPECT_EQ(describe(reports),
                  "Hashing matching sizes 1/3 5; Verifying file contents 3/3 15");
    }
}

TEST(DuplicateEngine, CancellationInAnyPhaseEndsTheSearchWithoutResult) {
    TempDir dir;
    writeAll(dir, {"f0", "f1", "f2", "f3", "f4", "f5"}, "shared bytes");
    FileNode tree = scannedTree(dir.path());
    FileNode large = syntheticTree(dir.path(), 10001);
    large.children.insert(large.children.end(), tree.children.begin(), tree.children.end());
    for (const char* phase :
         {"Grouping by size", "Hashing matching sizes", "Verifying file contents"}) {
        for (Search search : bothSearches) {
            for (unsigned threads : {1u, 2u}) {
                auto token = std::make_shared<CancellationToken>();
                CancellationScope scope(token);
                auto cancelIn = [&](const DuplicateProgress& progress) {
                    if (progress.phase == phase) {
                        token->cancel();
                    }
                };
                EXPECT_THROW(search(large, cancelIn, threads), CancellationError)
                    << phase << " with " << threads << " threads";
            }
        }
    }
}

TEST(DuplicateEngine, MoreThreadsGiveTheSameResultAndProgress) {
    TempDir dir;
    for (int size = 1; size <= 40; ++size) {
        for (int copy = 0; copy < 1 + size % 4; ++copy) {
            std::string contents(static_cast<size_t>(size), static_cast<char>('a' + copy % 2));
            writeFile(dir.at("s" + std::to_string(size) + "/c" + std::to_string(copy)), contents);
        }
    }
    FileNode tree = scannedTree(dir.path());
    writeFile(dir.at("s7/c0"), "changed"); // same size, new identity: skipped
    std::vector<std::string> runs;
    for (Search search : bothSearches) {
        for (unsigned threads : {1u, 2u, 3u}) {
            std::vector<DuplicateProgress> reports;
            DuplicateResult result = search(
                tree, [&](const DuplicateProgress& progress) { reports.push_back(progress); },
                threads);
            // Hashing reports are timed; the first and the last report are not.
            runs.push_back(describe(result, dir.path()) + " hashed " +
                           std::to_string(result.hashedFiles) + "/" +
                           std::to_string(result.bytesHashed) + " first " +
                           describe({reports.front()}) + " last " + describe({reports.back()}));
        }
    }
    for (const std::string& run : runs) {
        EXPECT_EQ(run, runs[0]);
    }
    EXPECT_NE(runs[0].find("skipped s7/c0"), std::string::npos);
}

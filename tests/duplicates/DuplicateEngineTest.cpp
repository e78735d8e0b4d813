#include "core/duplicates/DuplicateEngine.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "tests/duplicates/DuplicateTestSupport.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// Hashes with the engine's own function and records which files were asked for.
struct HashSpy {
    std::mutex mutex;
    std::set<std::string> hashed;

    FileHashFunction function() {
        return [this](const FileNode& node) {
            {
                std::lock_guard lock(mutex);
                hashed.insert(node.id.lastPathComponent());
            }
            return DuplicateEngine::hash(node);
        };
    }
};

DuplicateResult findIn(const std::string& folder, unsigned threads = 1) {
    return DuplicateEngine::find(scannedTree(folder), {}, DuplicateEngine::hash, threads);
}

// Each group as its file names, in result order.
std::string describe(const DuplicateResult& result) {
    std::ostringstream text;
    for (const DuplicateGroup& group : result.groups) {
        text << "[";
        for (const FileNode& file : group.files) {
            text << (&file == &group.files.front() ? "" : " ") << file.name();
        }
        text << "]";
    }
    return text.str();
}

std::set<std::string> skippedNames(const DuplicateResult& result) {
    std::set<std::string> names;
    for (const Url& url : result.skippedFiles) {
        names.insert(url.lastPathComponent());
    }
    return names;
}

std::string failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

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
    for (const char* name : {"c.txt", "a.txt", "sub/b.txt"}) {
        writeFile(dir.at(name), "ten bytes!");
    }
    writeFile(dir.at("x1.txt"), "twenty bytes exactly");
    writeFile(dir.at("x2.txt"), "twenty bytes exactly");
    writeFile(dir.at("w1.txt"), "twenty bytes, truly!");
    writeFile(dir.at("w2.txt"), "twenty bytes, truly!");
    writeFile(dir.at("d1.txt"), "same size A");
    writeFile(dir.at("d2.txt"), "same size B");
    writeFile(dir.at("alone.txt"), "no other file has this size");
    writeFile(dir.at("z1.txt"), "twenty-five bytes of text");
    writeFile(dir.at("z2.txt"), "twenty-five bytes of text");

    HashSpy spy;
    DuplicateResult result = DuplicateEngine::find(scannedTree(dir.path()), {}, spy.function());

    // Equal extra sizes (20) are ordered by the path of the group's first file.
    EXPECT_EQ(describe(result), "[z1.txt z2.txt][a.txt c.txt b.txt][w1.txt w2.txt][x1.txt x2.txt]");
    EXPECT_EQ(result.groups[1].id(), Url::file(dir.at("a.txt"), false));
    EXPECT_EQ(result.groups[1].extraSize(), 20);
    EXPECT_EQ(result.extraSize(), 85);
    // The two files of equal size but different bytes are hashed and form no group.
    EXPECT_EQ(result.hashedFiles, 11);
    EXPECT_EQ(result.bytesHashed, 3 * 10 + 4 * 20 + 2 * 11 + 2 * 25);
    EXPECT_EQ(spy.hashed.count("alone.txt"), 0u);
    EXPECT_TRUE(result.skippedFiles.empty());
}

TEST(DuplicateEngine, IneligibleFilesNeverReachHashing) {
    TempDir dir;
    const std::string same = "identical bytes";
    writeFile(dir.at("kept1.txt"), same);
    writeFile(dir.at("kept2.txt"), same);
    writeFile(dir.at("linked.txt"), same);
    ASSERT_EQ(::link(dir.at("linked.txt").c_str(), dir.at("linked-too.txt").c_str()), 0);
    writeFile(dir.at("empty1.txt"), "");
    writeFile(dir.at("empty2.txt"), "");
    makeSymlink(dir.at("kept1.txt"), dir.at("pointer.txt"));
    writeFile(dir.at("store.db"), same);
    writeFile(dir.at(".hidden.txt"), same);
    writeFile(dir.at("package.json"), same);
    writeFile(dir.at("app/node_modules/dep.txt"), same);
    writeFile(dir.at("Library/copy.txt"), same);
    writeFile(dir.at("Tool.app/copy.txt"), same);

    HashSpy spy;
    DuplicateResult result = DuplicateEngine::find(scannedTree(dir.path()), {}, spy.function());
    EXPECT_EQ(spy.hashed, (std::set<std::string>{"kept1.txt", "kept2.txt"}));
    EXPECT_EQ(describe(result), "[kept1.txt kept2.txt]");
    EXPECT_TRUE(result.skippedFiles.empty());

    FileNode refusedRoot = scannedTree(dir.at("Library"));
    EXPECT_TRUE(DuplicateEngine::find(refusedRoot, {}, spy.function()).groups.empty());
    FileNode singleFile = scannedFile(dir.at("kept1.txt"));
    EXPECT_TRUE(DuplicateEngine::find(singleFile, {}, spy.function()).groups.empty());
}

TEST(DuplicateEngine, EqualBytesWithDifferentMetadataAreNotDuplicates) {
    TempDir dir;
    // One pair per difference, each pair of its own size so pairs never meet.
    writeFile(dir.at("mode1"), "m");
    writeFile(dir.at("mode2"), "m");
    setMode(dir.at("mode2"), 0600);
    writeFile(dir.at("owner1"), "oo");
    writeFile(dir.at("owner2"), "oo");
    ASSERT_EQ(::chown(dir.at("owner2").c_str(), 65534, 65534), 0);
    writeFile(dir.at("same1"), "ssss");
    writeFile(dir.at("same2"), "ssss");
    writeFile(dir.at("attr1"), "xxxxx");
    writeFile(dir.at("attr2"), "xxxxx");
    bool attributes = setUserAttribute(dir.at("attr1"), "user.tag", "a") &&
                      setUserAttribute(dir.at("attr2"), "user.tag", "b");
    writeFile(dir.at("flag1"), "ffffff");
    writeFile(dir.at("flag2"), "ffffff");
    bool flags = setNoDumpFlag(dir.at("flag2"));

    DuplicateResult result = findIn(dir.path());
    std::string unsupported =
        std::string(flags ? "" : "[flag1 flag2]") + (attributes ? "" : "[attr1 attr2]");
    EXPECT_EQ(describe(result), unsupported + "[same1 same2]");
    EXPECT_TRUE(result.skippedFiles.empty());
    if (!attributes || !flags) {
        GTEST_SKIP() << "the temporary folder's file system lacks"
                     << (attributes ? "" : " user extended attributes")
                     << (flags ? "" : " the no-dump flag");
    }
}

TEST(DuplicateEngine, ChangedAndUnreadableFilesAreSkippedNeverGrouped) {
    TempDir dir;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt"}) {
        writeFile(dir.at(name), "some content");
    }
    setMode(dir.at("a.txt"), 0600); // unreadable for the unprivileged child
    FileNode tree = scannedTree(dir.path());
    writeFile(dir.at("b.txt"), "some CONTENT"); // same size, new bytes
    setModifiedSecondsAgo(dir.at("b.txt"), 50);
    writeFile(dir.at("c.txt"), "some content, grown");
    ASSERT_EQ(::rename(dir.at("d.txt").c_str(), dir.at("moved.txt").c_str()), 0);

    // The mode of a.txt differs from the rest, so it could never join their group anyway; the
    // child shows it is skipped for being unreadable, counted, and its bytes not added.
    auto child = runUnprivileged([&] {
        DuplicateResult result = DuplicateEngine::find(tree, {}, DuplicateEngine::hash);
        std::ostringstream text;
        text << describe(result) << " hashed " << result.hashedFiles << " bytes "
             << result.bytesHashed << " skipped";
        for (const std::string& name : skippedNames(result)) {
            text << " " << name;
        }
        return text.str();
    });
    EXPECT_EQ(child.output, "[e.txt f.txt] hashed 6 bytes 24 skipped a.txt b.txt c.txt d.txt");

    int descriptorsBefore = openDescriptorCount();
    for (unsigned threads : {1u, 2u}) {
        DuplicateResult result = DuplicateEngine::find(tree, {}, DuplicateEngine::hash, threads);
        EXPECT_EQ(describe(result), "[e.txt f.txt]");
        EXPECT_EQ(skippedNames(result), (std::set<std::string>{"b.txt", "c.txt", "d.txt"}));
        EXPECT_EQ(result.skippedFiles.size(), 3u);
        EXPECT_EQ(result.bytesHashed, 36);
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(DuplicateEngine, HashIsSha256AndRefusesSizeChanges) {
    TempDir dir;
    FileNode node = scannedFile(writeFile(dir.at("abc.txt"), "abc"));
    EXPECT_EQ(DuplicateEngine::hash(node),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // Bytes beyond the recorded size, as when the file grows while it is read.
    FileNode grew = node;
    grew.logicalSize = 2;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(grew); }), "File grew during reading.");
    FileNode shrank = node;
    shrank.logicalSize = 4;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(shrank); }),
              "File size changed while reading.");

    FileNode twin = scannedFile(writeFile(dir.at("twin.txt"), "abc"));
    FileNode grewTwin = twin;
    grewTwin.logicalSize = 2;
    EXPECT_EQ(failureOf([&] { DuplicateEngine::equalContents(grew, grewTwin); }),
              "File grew during comparison.");

    // Growing after the scan changes the identity, which every read checks first.
    writeFile(dir.at("abc.txt"), "abcdef");
    EXPECT_EQ(failureOf([&] { DuplicateEngine::hash(node); }),
              "abc.txt changed or cannot be verified. Scan again.");
}

TEST(DuplicateEngine, EqualContentsNeverMatchesAFileWithItself) {
    TempDir dir;
    FileNode a = scannedFile(writeFile(dir.at("a.txt"), "twin"));
    FileNode b = scannedFile(writeFile(dir.at("b.txt"), "twin"));
    FileNode c = scannedFile(writeFile(dir.at("c.txt"), "twix"));
    EXPECT_TRUE(DuplicateEngine::equalContents(a, b));
    EXPECT_FALSE(DuplicateEngine::equalContents(a, a));
    EXPECT_FALSE(DuplicateEngine::equalContents(a, c));
    ASSERT_EQ(::link(dir.at("a.txt").c_str(), dir.at("hard.txt").c_str()), 0);
    EXPECT_EQ(
        failureOf([&] { DuplicateEngine::equalContents(scannedFile(dir.at("hard.txt")), b); }),
        "hard.txt changed or cannot be verified. Scan again.");
}

TEST(DuplicateEngine, ReportsProgressInEachPhase) {
    TempDir dir;
    std::vector<DuplicateProgress> reports;
    auto record = [&](const DuplicateProgress& progress) { reports.push_back(progress); };
    DuplicateEngine::find(syntheticTree(dir.path(), 25000), record, DuplicateEngine::hash);
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[0].phase, "Grouping by size");
    EXPECT_EQ(reports[0].checked, 10000);
    EXPECT_EQ(reports[1].checked, 20000);
    EXPECT_EQ(reports[1].total, 0);
    EXPECT_EQ(reports[2].phase, "Verifying file contents"); // nothing to hash
    EXPECT_EQ(reports.size(), 3u);

    writeFile(dir.at("one/a"), "12345");
    writeFile(dir.at("one/b"), "12345");
    writeFile(dir.at("one/c"), "54321");
    reports.clear();
    DuplicateEngine::find(scannedTree(dir.at("one")), record, DuplicateEngine::hash);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].phase, "Hashing matching sizes");
    EXPECT_EQ(reports[0].checked, 1);
    EXPECT_EQ(reports[0].total, 3);
    EXPECT_EQ(reports[0].bytesRead, 5);
    EXPECT_EQ(reports[1].phase, "Verifying file contents");
    EXPECT_EQ(reports[1].checked, 3);
    EXPECT_EQ(reports[1].total, 3);
    EXPECT_EQ(reports[1].bytesRead, 15);
}

TEST(DuplicateEngine, CancellationInAnyPhaseEndsTheSearchWithoutResult) {
    TempDir dir;
    for (int i = 0; i < 6; ++i) {
        writeFile(dir.at("f" + std::to_string(i)), "shared bytes");
    }
    FileNode tree = scannedTree(dir.path());
    FileNode large = syntheticTree(dir.path(), 10001);
    large.children.insert(large.children.end(), tree.children.begin(), tree.children.end());
    for (const char* phase :
         {"Grouping by size", "Hashing matching sizes", "Verifying file contents"}) {
        for (unsigned threads : {1u, 2u}) {
            auto token = std::make_shared<CancellationToken>();
            CancellationScope scope(token);
            auto cancelIn = [&](const DuplicateProgress& progress) {
                if (progress.phase == phase) {
                    token->cancel();
                }
            };
            EXPECT_THROW(DuplicateEngine::find(large, cancelIn, DuplicateEngine::hash, threads),
                         CancellationError)
                << phase << " with " << threads << " threads";
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
    for (unsigned threads : {1u, 2u, 3u}) {
        std::vector<DuplicateProgress> reports;
        DuplicateResult result = DuplicateEngine::find(
            tree, [&](const DuplicateProgress& progress) { reports.push_back(progress); },
            DuplicateEngine::hash, threads);
        std::ostringstream text;
        for (const DuplicateGroup& group : result.groups) {
            for (const FileNode& file : group.files) {
                text << file.id.path() << " ";
            }
            text << "| ";
        }
        text << result.hashedFiles << " " << result.bytesHashed << " skipped";
        for (const Url& url : result.skippedFiles) {
            text << " " << url.path();
        }
        // Hashing reports are timed; the first and the last report are not.
        text << " first " << reports.front().checked << "/" << reports.front().bytesRead << " last "
             << reports.back().checked << "/" << reports.back().bytesRead;
        runs.push_back(text.str());
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(runs[0], runs[2]);
    EXPECT_NE(runs[0].find("/s7/c0"), std::string::npos);
}

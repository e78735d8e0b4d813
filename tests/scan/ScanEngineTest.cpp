#include "core/scan/ScanEngine.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "tests/support/TestSupport.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

ScanResult scanFolder(const std::string& path, const ScanProgressHandler& progress = {}) {
    return ScanEngine::scan(Url::file(path, true), progress);
}

const FileNode* child(const FileNode& node, const std::string& name) {
    for (const auto& c : node.children) {
        if (c.name() == name) {
            return &c;
        }
    }
    return nullptr;
}

// The blocks of the entry itself, as du counts them.
std::int64_t ownBlocks(const FileNode& node) {
    struct stat record {};
    EXPECT_EQ(::lstat(node.id.path().c_str(), &record), 0) << node.id.path();
    return static_cast<std::int64_t>(record.st_blocks) * 512;
}

// Checks the invariants every consumer of a scanned tree relies on, at every node. On disk, a
// folder's own blocks count and a later path of a hard-linked file none.
void expectConsistent(const FileNode& node) {
    ASSERT_TRUE(node.identity.has_value()) << node.id.path();
    if (!node.isDirectory) {
        EXPECT_TRUE(node.children.empty());
        EXPECT_EQ(node.fileCount, 1);
        EXPECT_EQ(node.folderCount, 0);
        EXPECT_EQ(node.allocatedSize, node.isRepeatedLink ? 0 : ownBlocks(node)) << node.id.path();
        return;
    }
    EXPECT_FALSE(node.isRepeatedLink);
    std::int64_t logical = 0, allocated = ownBlocks(node), files = 0, folders = 0;
    bool errors = false, complete = true;
    for (size_t i = 0; i < node.children.size(); ++i) {
        const FileNode& c = node.children[i];
        expectConsistent(c);
        logical += c.logicalSize;
        allocated += c.allocatedSize;
        files += c.fileCount;
        folders += c.folderCount + (c.isDirectory ? 1 : 0);
        errors = errors || c.hasReadErrors;
        complete = complete && c.allocatedSizeComplete;
        if (i > 0) {
            const FileNode& p = node.children[i - 1];
            EXPECT_TRUE(p.logicalSize > c.logicalSize ||
                        (p.logicalSize == c.logicalSize && p.name() < c.name()))
                << p.id.path() << " before " << c.id.path();
        }
    }
    EXPECT_EQ(node.logicalSize, logical) << node.id.path();
    EXPECT_EQ(node.allocatedSize, allocated) << node.id.path();
    EXPECT_EQ(node.fileCount, files) << node.id.path();
    EXPECT_EQ(node.folderCount, folders) << node.id.path();
    if (errors) {
        EXPECT_TRUE(node.hasReadErrors) << node.id.path();
    }
    if (!complete || node.hasReadErrors) {
        EXPECT_FALSE(node.allocatedSizeComplete) << node.id.path();
    }
}

} // namespace

TEST(ScanEngine, SizesAreSummedBottomUpSortedAndLinksCountedOnceOnDisk) {
    TempDir dir;
    writeFile(dir.at("a/one.txt"), std::string(100, 'x'));
    writeFile(dir.at("a/b/two.bin"), std::string(5000, 'y'));
    writeFile(dir.at("a/b/c/three"), std::string(7, 'z'));
    writeFile(dir.at(".hidden/secret"), "s");
    // Equal sizes fall back to the name, byte by byte: "B" before "b".
    writeFile(dir.at("b"), "12");
    writeFile(dir.at("B"), "56");
    makeFolder(dir.at("empty"));
    // A large folder is ranked another way than a small one; most of its sizes tie.
    for (int i = 0; i < 200; ++i) {
        writeFile(dir.at("many/f" + std::to_string(i * 37 % 200)), std::string(i % 5, 'x'));
    }
    ASSERT_EQ(::link(dir.at("a/b/two.bin").c_str(), dir.at("hard.bin").c_str()), 0);
    makeSymlink(dir.at("a"), dir.at("link-to-a"));

    auto result = scanFolder(dir.path());
    const FileNode& root = result.root;
    expectConsistent(root);
    EXPECT_EQ(root.fileCount, 208) << "206 files, the hard link and the symbolic link";
    EXPECT_EQ(root.folderCount, 6);
    EXPECT_EQ(child(root, "many")->children.size(), 200u);
    EXPECT_EQ(child(root, "hard.bin")->logicalSize, 5000) << "content counts at every path";
    const FileNode* two = child(*child(*child(root, "a"), "b"), "two.bin");
    EXPECT_NE(child(root, "hard.bin")->isRepeatedLink, two->isRepeatedLink)
        << "on disk, one of the two paths holds the blocks";

    const FileNode* link = child(root, "link-to-a");
    ASSERT_TRUE(link);
    EXPECT_TRUE(!link->isDirectory && link->isSymbolicLink && link->children.empty());
    EXPECT_EQ(link->logicalSize, static_cast<std::int64_t>(dir.at("a").size()));
    EXPECT_FALSE(link->id.hasDirectoryPath());
    EXPECT_EQ(root.logicalSize, 100 + 5000 + 7 + 1 + 4 + 400 + 5000 + link->logicalSize);
    EXPECT_TRUE(child(root, "a")->id.hasDirectoryPath());
    EXPECT_TRUE(child(root, ".hidden")) << "hidden entries are included";
    EXPECT_GT(root.allocatedSize, 0);
    EXPECT_TRUE(root.allocatedSizeComplete);

    auto empty = scanFolder(dir.at("empty"));
    EXPECT_EQ(empty.root.id, Url::file(dir.at("empty"), true));
    EXPECT_TRUE(empty.root.allocatedSizeComplete);
    EXPECT_EQ(empty.ageSizes, (std::array<std::int64_t, 4>{}));
}

TEST(ScanEngine, AgeAndKindBuckets) {
    TempDir dir;
    const double day = 86400;
    setModifiedSecondsAgo(writeFile(dir.at("recent.swift"), std::string(1, 'x')), 29.9 * day);
    setModifiedSecondsAgo(writeFile(dir.at("month.JPG"), std::string(10, 'x')), 30 * day);
    setModifiedSecondsAgo(writeFile(dir.at("half.pdf"), std::string(100, 'x')), 180 * day);
    setModifiedSecondsAgo(writeFile(dir.at("year.tar.gz"), std::string(1000, 'x')), 365 * day);
    setModifiedSecondsAgo(writeFile(dir.at(".bashrc"), std::string(10000, 'x')), 364.9 * day);
    setModifiedSecondsAgo(writeFile(dir.at("future.md"), std::string(100000, 'x')), -10 * day);

    auto result = scanFolder(dir.path());
    EXPECT_EQ(result.ageSizes, (std::array<std::int64_t, 4>{1 + 100000, 10, 100 + 10000, 1000}));
    EXPECT_EQ(result.typeSizes, (std::array<std::int64_t, 4>{1, 10, 100 + 100000, 1000 + 10000}));
}

TEST(ScanEngine, TheRootMustBeAReadableFolderAndALinkToOneIsResolved) {
    TempDir dir;
    writeFile(dir.at("file"), "x");
    writeFile(dir.at("real/x"), "abc");
    makeFolder(dir.at("private"));
    setMode(dir.at("private"), 0);
    makeSymlink(dir.at("real"), dir.at("alias"));
    makeSymlink("loop", dir.at("loop"));
    // The error code, then the path the error names (or "-").
    auto refusal = [&](const std::string& path) {
        try {
            scanFolder(path);
            return std::string("scanned");
        } catch (const FileError& error) {
            return std::to_string(error.code) + " " + error.path.value_or("-");
        }
    };
    EXPECT_EQ(refusal(dir.at("file")), "257 -");
    EXPECT_EQ(refusal(dir.at("missing")), "256 " + dir.at("missing"));
    EXPECT_NE(refusal(dir.at("loop")), "scanned");
    auto outcome = runUnprivileged([&] { return refusal(dir.at("private")).substr(0, 3); });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output, "257");

    auto result = scanFolder(dir.at("alias"));
    EXPECT_EQ(result.root.id, Url::file(dir.at("real"), true));
    EXPECT_EQ(result.root.logicalSize, 3);
}

TEST(ScanEngine, UnreadableFolderFlagsEveryAncestorAndTheScanGoesOn) {
    TempDir dir;
    writeFile(dir.at("top/middle/locked/inside"), "hidden");
    writeFile(dir.at("top/readable"), "1234");
    writeFile(dir.at("other/fine"), "12");
    setMode(dir.at("top/middle/locked"), 0);

    auto outcome = runUnprivileged([&] {
        auto result = scanFolder(dir.path());
        const FileNode* top = child(result.root, "top");
        const FileNode* middle = child(*top, "middle");
        const FileNode* locked = child(*middle, "locked");
        // Each node with "!" for read errors and "~" for a size on disk that is not complete.
        std::string report;
        for (const FileNode* node : std::vector<const FileNode*>{locked, middle, top, &result.root,
                                                                 child(result.root, "other")}) {
            report += (node == &result.root ? std::string("root") : node->name()) +
                      (node->hasReadErrors ? "!" : "") + (node->allocatedSizeComplete ? "" : "~") +
                      " ";
        }
        return report + (locked->isDirectory ? "folder " : "file ") +
               std::to_string(locked->children.size()) + " " + std::to_string(result.skippedCount) +
               " " + ::testing::PrintToString(result.inaccessiblePaths) + " " +
               std::to_string(result.root.logicalSize);
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output,
              "locked!~ middle!~ top!~ root!~ other folder 0 1 " +
                  ::testing::PrintToString(std::vector<std::string>{dir.at("top/middle/locked")}) +
                  " 6");
}

TEST(ScanEngine, KeepsTheFirstHundredOfManyFailures) {
    TempDir dir;
    // A folder that can be listed but not searched: every entry in it fails its stat.
    for (int i = 0; i < 150; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        writeFile(dir.at(std::string("unsearchable/") + name), "x");
    }
    writeFile(dir.at("visible"), "ok");
    setMode(dir.at("unsearchable"), 0644);

    auto outcome = runUnprivileged([&] {
        auto result = scanFolder(dir.path());
        std::string report = std::to_string(result.skippedCount) + " " +
                             std::to_string(result.inaccessiblePaths.size());
        report += " " + result.inaccessiblePaths.front() + " " + result.inaccessiblePaths.back();
        const FileNode* folder = child(result.root, "unsearchable");
        report += folder && folder->hasReadErrors && folder->children.empty() ? " flagged" : " ?";
        report += result.root.hasReadErrors ? " root" : " ?";
        report += " " + std::to_string(result.root.fileCount);
        return report;
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    EXPECT_EQ(outcome.output, "150 100 " + dir.at("unsearchable/f000") + " " +
                                  dir.at("unsearchable/f099") + " flagged root 1");
}

TEST(ScanEngine, ProgressIsThrottledAndNamesBothPhases) {
    TempDir dir;
    for (int i = 0; i < 300; ++i) {
        writeFile(dir.at("d" + std::to_string(i % 7) + "/f" + std::to_string(i)), "abc");
    }
    std::vector<ScanProgress> reports;
    scanFolder(dir.path(), [&](const ScanProgress& p) { reports.push_back(p); });
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front().phase, "Reading files");
    EXPECT_FALSE(reports.front().currentPath.empty()) << "the first entry is reported at once";
    // A fast scan of 307 entries fits in well under 0.1 s: one report while reading.
    EXPECT_LE(reports.size(), 4u);
    const auto& last = reports.back();
    EXPECT_EQ(last.phase, "Building folder map");
    EXPECT_EQ(reports[reports.size() - 2].phase, "Building folder map");
    EXPECT_EQ(last.fileCount, 300);
    EXPECT_EQ(last.folderCount, 7);
    EXPECT_EQ(last.logicalSize, 900);
    EXPECT_EQ(last.currentPath, reports[reports.size() - 3].currentPath);
}

TEST(ScanEngine, CancellationEndsEitherPhaseWithoutAResult) {
    TempDir dir;
    for (int i = 0; i < 50; ++i) {
        writeFile(dir.at("a/b/f" + std::to_string(i)), "x");
    }
    for (const std::string phase : {"Reading files", "Building folder map"}) {
        auto token = std::make_shared<CancellationToken>();
        CancellationScope scope(token);
        int reportsAfterCancel = 0;
        EXPECT_THROW(scanFolder(dir.path(),
                                [&](const ScanProgress& p) {
                                    if (token->isCancelled()) {
                                        ++reportsAfterCancel;
                                    }
                                    if (p.phase == phase) {
                                        token->cancel();
                                    }
                                }),
                     CancellationError)
            << phase;
        EXPECT_EQ(reportsAfterCancel, 0) << phase;
    }
    // A thread with no task is never cancelled; a task's is, from outside.
    EXPECT_NO_THROW(scanFolder(dir.path()));
    auto cancelled = TaskHandle::start([&] {
        while (!Task::isCancelled()) {
        }
        scanFolder(dir.path());
    });
    cancelled.cancel();
    EXPECT_THROW(cancelled.wait(), CancellationError);
}

TEST(ScanEngine, DeepTreesAndOddNames) {
    TempDir dir;
    // Deeper than the walk keeps descriptors open for.
    std::string deep = dir.path();
    for (int i = 0; i < 150; ++i) {
        deep += "/d";
    }
    makeFolder(deep);
    writeFile(deep + "/leaf", "leaf");
    writeFile(dir.at("d/sibling"), "12");
    writeFile(dir.at("név with spaces/\xff\xfe"), "bytes");

    auto result = scanFolder(dir.path());
    expectConsistent(result.root);
    EXPECT_EQ(result.root.fileCount, 3);
    EXPECT_EQ(result.root.folderCount, 151);
    EXPECT_EQ(result.skippedCount, 0);
    const FileNode* odd = child(*child(result.root, "név with spaces"), "\xff\xfe");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->logicalSize, 5);
}

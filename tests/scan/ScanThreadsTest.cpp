// The walk on several threads: the same result as on one, progress that never goes back, and
// cancellation that still stops it.

#include "core/common/Task.hpp"
#include "core/scan/FileNodeJson.hpp"
#include "core/scan/ScanEngine.hpp"
#include "tests/support/TestSupport.hpp"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace varnok;
using namespace varnok::testing;

namespace {

ScanResult scanWith(const std::string& path, unsigned threads,
                    const ScanProgressHandler& progress = {}) {
    ScanOptions options;
    options.threads = threads;
    options.excludes = {"f3.txt", "t1?/s4"};
    return ScanEngine::scan(Url::file(path, true), progress, options);
}

// Everything a scan returns but its duration, as text.
std::string described(ScanResult result) {
    result.duration = 0;
    std::string text;
    writeScanResultJson(result, [&](std::string_view piece) { text += piece; });
    text += "\nexcluded " + std::to_string(result.excludedCount);
    for (const std::string& path : result.otherFileSystems) {
        text += "\nnot entered " + path;
    }
    return text;
}

// Enough folders to keep several threads busy, each with every kind of entry the walk treats on
// its own, and more unreadable entries than the result lists.
void makeTree(const TempDir& dir) {
    for (int top = 0; top < 40; ++top) {
        const std::string folder = dir.at("t" + std::to_string(top));
        for (int sub = 0; sub < 6; ++sub) {
            for (int file = 0; file < 8; ++file) {
                writeFile(folder + "/s" + std::to_string(sub) + "/f" + std::to_string(file) +
                              ".txt",
                          std::string(static_cast<size_t>((top * 7 + sub * 3 + file) % 23), 'x'));
            }
        }
        writeFile(folder + "/\xff\xfe not UTF-8", "bytes");
        ASSERT_EQ(::link((folder + "/s0/f1.txt").c_str(), (folder + "/hard link").c_str()), 0);
        // Linked from the next top folder, which another thread may read first.
        const std::string next = dir.at("t" + std::to_string((top + 1) % 40));
        writeFile(folder + "/s5/shared", std::string(5000, 's'));
        makeFolder(next + "/s3");
        ASSERT_EQ(::link((folder + "/s5/shared").c_str(), (next + "/s3/shared").c_str()), 0);
        makeSymlink(folder, folder + "/s1/loop");
        makeSymlink("../t" + std::to_string((top + 1) % 40), folder + "/next");
        // Listed but not searchable: its entries cannot be read. Not listable at all.
        writeFile(folder + "/unsearchable/a", "1");
        writeFile(folder + "/unsearchable/b", "22");
        setMode(folder + "/unsearchable", 0644);
        writeFile(folder + "/s2/locked/x", "333");
        setMode(folder + "/s2/locked", 0);
    }
}

} // namespace

TEST(ScanThreads, AnyNumberOfThreadsGivesTheSameResult) {
    TempDir dir;
    makeTree(dir);
    auto outcome = runUnprivileged([&] {
        const std::string single = described(scanWith(dir.path(), 1));
        for (unsigned threads : {2u, 3u, 8u, 0u}) {
            for (int run = 0; run < 3; ++run) {
                if (described(scanWith(dir.path(), threads)) != single) {
                    return "differs with " + std::to_string(threads) + " threads";
                }
            }
        }
        ScanResult result = scanWith(dir.path(), 1);
        return std::to_string(result.skippedCount) + " " +
               std::to_string(result.inaccessiblePaths.size()) + " " +
               std::to_string(result.excludedCount);
    });
    ASSERT_TRUE(outcome.succeeded) << outcome.output;
    // Per top folder: two unreadable entries and one folder that cannot be listed. One name left
    // out in every subfolder but the ten subfolders left out themselves.
    EXPECT_EQ(outcome.output, "120 100 240");
}

TEST(ScanThreads, ProgressNeverGoesBackAndEndsAtTheTotals) {
    TempDir dir;
    makeTree(dir);
    std::vector<ScanProgress> reports;
    ScanResult result =
        scanWith(dir.path(), 4, [&](const ScanProgress& p) { reports.push_back(p); });
    ASSERT_GE(reports.size(), 2u);
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].fileCount, reports[i - 1].fileCount);
        EXPECT_GE(reports[i].folderCount, reports[i - 1].folderCount);
        EXPECT_GE(reports[i].logicalSize, reports[i - 1].logicalSize);
    }
    EXPECT_EQ(reports.back().phase, "Building folder map");
    EXPECT_EQ(reports.back().fileCount, result.root.fileCount);
    EXPECT_EQ(reports.back().folderCount, result.root.folderCount);
    EXPECT_EQ(reports.back().logicalSize, result.root.logicalSize);
}

TEST(ScanThreads, CancellationStopsEveryThread) {
    TempDir dir;
    makeTree(dir);
    {
        auto token = std::make_shared<CancellationToken>();
        CancellationScope scope(token);
        int reportsAfterCancel = 0;
        EXPECT_THROW(scanWith(dir.path(), 4,
                              [&](const ScanProgress&) {
                                  reportsAfterCancel += token->isCancelled() ? 1 : 0;
                                  token->cancel();
                              }),
                     CancellationError);
        EXPECT_EQ(reportsAfterCancel, 0);
    }
    // From outside, while the threads walk.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto task = TaskHandle::start([&] { scanWith(dir.path(), 4); });
        ::usleep(static_cast<useconds_t>(attempt * 2000));
        task.cancel();
        try {
            task.wait();
        } catch (const CancellationError&) {
        }
        EXPECT_TRUE(task.isFinished());
    }
}

// Sizes on disk against du on generated trees: hard links once, folders' own blocks, sparse files
// by their blocks. du itself is the reference.

#include "core/scan/FileNodeJson.hpp"
#include "core/scan/ItemIndex.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/scan/ScanHighlights.hpp"
#include "tests/support/CliRunner.hpp"
#include "tests/trash/TrashTestSupport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <unistd.h>

using namespace varnok;
using namespace varnok::testing;

namespace {

// What `du -sB1` prints for `path`.
std::int64_t duBytes(const std::string& path) {
    CommandResult du = runShell("du -sB1 -- '" + path + "'");
    EXPECT_EQ(du.status, 0) << du.output;
    return du.status == 0 ? std::stoll(du.output) : -1;
}

// `size` bytes of which only the first `written` are written: the rest is a hole.
void writeSparse(const std::string& path, off_t size, size_t written) {
    writeFile(path, std::string(written, 'd'));
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

void link(const std::string& from, const std::string& to) {
    makeFolder(to.substr(0, to.rfind('/')));
    ASSERT_EQ(::link(from.c_str(), to.c_str()), 0) << to;
}

// tree/
//   same/a, same/b              one file, two names in one folder
//   one/x, two/deep/y           one file in two folders
//   in/from-outside             linked from outside the tree
//   in/x-too                    the file of one/x again
//   sparse.img                  200 MB of which 8 kB are written
//   many/                       a folder large enough for several blocks of its own
//   empty/, link -> same
struct Tree {
    TempDir scratch;
    std::string root = scratch.at("tree");
    Tree() {
        writeFile(root + "/same/a", std::string(30000, 'a'));
        link(root + "/same/a", root + "/same/b");
        writeFile(root + "/one/x", std::string(70000, 'x'));
        link(root + "/one/x", root + "/two/deep/y");
        writeFile(scratch.at("outside/o"), std::string(50000, 'o'));
        link(scratch.at("outside/o"), root + "/in/from-outside");
        link(root + "/one/x", root + "/in/x-too");
        writeSparse(root + "/sparse.img", 200000000, 8192);
        for (int i = 0; i < 400; ++i) {
            writeFile(
                root + "/many/a-rather-long-file-name-to-fill-the-folder-" + std::to_string(i), "");
        }
        makeFolder(root + "/empty");
        makeSymlink("same", root + "/link");
    }
};

ScanResult scanned(const std::string& path, unsigned threads = 1) {
    ScanOptions options;
    options.threads = threads;
    return ScanEngine::scan(Url::file(path, true), {}, options);
}

const FileNode& at(const FileNode& root, const std::string& relative) {
    auto chain = root.navigationPath(Url::file(root.id.path() + "/" + relative, false));
    if (!chain || chain->empty()) {
        chain = root.navigationPath(Url::file(root.id.path() + "/" + relative, true));
    }
    if (!chain || chain->empty()) {
        throw std::runtime_error("not in the tree: " + relative);
    }
    return *chain->back();
}

} // namespace

TEST(DiskUsage, TotalsEqualDuForTheTreeAndEachFolder) {
    Tree tree;
    for (unsigned threads : {1u, 3u}) {
        ScanResult result = scanned(tree.root, threads);
        EXPECT_EQ(result.root.allocatedSize, duBytes(tree.root)) << threads << " threads";
        EXPECT_TRUE(result.root.allocatedSizeComplete);
    }
    // Scanned on its own, a folder holds every link inside it, as du counts it alone; "many"
    // has only its own blocks.
    for (const char* folder : {"same", "one", "two", "in", "many", "empty"}) {
        EXPECT_EQ(scanned(tree.root + "/" + folder).root.allocatedSize,
                  duBytes(tree.root + "/" + folder))
            << folder;
    }
}

TEST(DiskUsage, HardLinksCountOnceOnDiskAndAtEveryPathInContent) {
    Tree tree;
    ScanResult result = scanned(tree.root);
    const FileNode& root = result.root;
    const FileNode& a = at(root, "same/a");
    const FileNode& b = at(root, "same/b");
    EXPECT_EQ(a.logicalSize + b.logicalSize, 60000);
    EXPECT_NE(a.isRepeatedLink, b.isRepeatedLink);
    EXPECT_EQ(a.allocatedSize + b.allocatedSize, std::max(a.allocatedSize, b.allocatedSize));

    // one/x has three paths: its blocks are at exactly one of them.
    int holding = 0;
    for (const char* path : {"one/x", "two/deep/y", "in/x-too"}) {
        const FileNode& node = at(root, path);
        EXPECT_EQ(node.logicalSize, 70000) << path;
        holding += node.isRepeatedLink ? 0 : 1;
    }
    EXPECT_EQ(holding, 1);
    // The other link is outside: inside, the file counts in full.
    EXPECT_FALSE(at(root, "in/from-outside").isRepeatedLink);
    EXPECT_GE(at(root, "in/from-outside").allocatedSize, 50000);

    // Listings show each file once, whichever sizes they rank by.
    auto files =
        ItemIndex::find(root, ItemKind::files, ItemSort::largest, "", ItemScope::descendants);
    std::set<std::uint64_t> inodes;
    for (const FileNode* file : files) {
        EXPECT_TRUE(inodes.insert(file->identity->inode).second) << file->id.path();
    }
    EXPECT_EQ(files.size(), 4u + 400) << "same, one, from-outside, sparse and many's files";
}

TEST(DiskUsage, SparseFilesCountTheirBlocksAndAreNotLargeOnDisk) {
    Tree tree;
    ScanResult result = scanned(tree.root);
    const FileNode& sparse = at(result.root, "sparse.img");
    EXPECT_EQ(sparse.logicalSize, 200000000);
    EXPECT_LT(sparse.allocatedSize, 1000000);

    const ScanHighlights byContent = ScanHighlights::summarize(result.root);
    const ScanHighlights onDisk = ScanHighlights::summarizeOnDisk(result.root);
    EXPECT_EQ(byContent.largeFileCount, 1);
    EXPECT_EQ(byContent.largeFileBytes, 200000000);
    EXPECT_EQ(onDisk.largeFileCount, 0);
    EXPECT_EQ(onDisk.largeFileBytes, 0);
    // Files by path in content, by file on disk: same/b and two of one/x's paths are repeats.
    EXPECT_EQ(byContent.fileCount - onDisk.fileCount, 3);
}

TEST(DiskUsageCommands, ScanFindAndMapAgreeWithDu) {
    Tree tree;
    const std::int64_t du = duBytes(tree.root);

    auto scan = runCli({"scan", "--disk-usage", "--bytes", tree.root});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.out.find("Size:       " + std::to_string(du) + " bytes on disk ("),
              std::string::npos)
        << scan.out;

    auto json = runCli({"scan", "--json", tree.root});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["root"]["allocatedSize"], du);
    int repeats = 0;
    std::vector<const nlohmann::json*> pending{&document["root"]};
    while (!pending.empty()) {
        const nlohmann::json& node = *pending.back();
        pending.pop_back();
        if (node.value("repeatedLink", false)) {
            ++repeats;
            EXPECT_EQ(node["allocatedSize"], 0);
        }
        for (const auto& child : node["children"]) {
            pending.push_back(&child);
        }
    }
    EXPECT_EQ(repeats, 3);
    nlohmann::json expected = scanned(tree.root);
    expected.erase("duration");
    document.erase("duration");
    EXPECT_EQ(document["version"], 1);
    document.erase("version");
    EXPECT_EQ(document, expected) << "the streamed document is the library's JSON form";

    auto map = runCli({"map", "--disk-usage", "--bytes", "--depth", "1", tree.root});
    ASSERT_EQ(map.exitCode, 0) << map.err;
    EXPECT_NE(map.out.find("  " + std::to_string(du) + " bytes on disk\n"), std::string::npos)
        << map.out;
    auto mapJson = runCli({"map", "--json", "--disk-usage", tree.root});
    auto first = nlohmann::json::parse(mapJson.out)["placements"][0];
    EXPECT_NE(first["name"], "sparse.img");
    EXPECT_FALSE(first.contains("logicalSize"));

    // The sparse file is no longer the largest item, nor a large file, on disk.
    auto find = runCli({"find", "--disk-usage", "--json", "--limit", "1", tree.root});
    ASSERT_EQ(find.exitCode, 0) << find.err;
    auto found = nlohmann::json::parse(find.out);
    EXPECT_NE(found["items"][0]["name"], "sparse.img");
    EXPECT_EQ(found["highlights"]["largeFileCount"], 0);
    auto byContent = runCli({"find", "--bytes", "--limit", "1", tree.root});
    ASSERT_EQ(byContent.exitCode, 0) << byContent.err;
    EXPECT_NE(byContent.out.find("      200000000  "), std::string::npos) << byContent.out;
    EXPECT_NE(byContent.out.find("holding 200000000 bytes"), std::string::npos) << byContent.out;
    auto summary = runCli({"scan", "--disk-usage", tree.root});
    const auto largest = summary.out.find("Largest items on disk:\n");
    ASSERT_NE(largest, std::string::npos) << summary.out;
    EXPECT_LT(summary.out.find("same/", largest), summary.out.find("sparse.img", largest))
        << summary.out;
}

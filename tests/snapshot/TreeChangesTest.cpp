#include "core/snapshot/TreeChanges.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace varnok;
using namespace varnok::testing;

namespace {

using Kind = NodeChange::Kind;
constexpr SizeMeasure disk = SizeMeasure::onDisk;
constexpr SizeMeasure apparent = SizeMeasure::apparent;

// A file holding `bytes`, on disk in whole 4096-byte blocks.
FileNode file(const std::string& path, std::int64_t bytes) {
    FileNode node = fileNode(path, bytes);
    node.allocatedSize = (bytes + 4095) / 4096 * 4096;
    return node;
}

const FileNode& at(const FileNode& root, const std::string& below) {
    auto path = root.navigationPath(Url::file(root.id.path() + "/" + below));
    if (!path || path->empty()) {
        path = root.navigationPath(Url::file(root.id.path() + "/" + below + "/"));
    }
    EXPECT_TRUE(path && !path->empty()) << below;
    return *path->back();
}

FileNode build(const Listing& listing, const std::string& root, const std::string& below = "") {
    return buildListing(listing, root, file, below);
}

Listing randomListing(std::mt19937& random, int levels, const std::string& below = "") {
    static const std::vector<std::string> names = {"a", "b", "c", "d",
                                                   "\xff"
                                                   "byte"};
    return varnok::testing::randomListing(
        random, levels, names, 40, [](int percent) { return percent * 97; }, below);
}

Listing evolved(std::mt19937& random, Listing listing) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::erase_if(listing, [&](const auto&) { return percent(random) < 10; });
    for (auto& [path, entry] : listing) {
        if (!entry.isDirectory && percent(random) < 30) {
            entry.size = percent(random) * 97;
        }
    }
    listing.merge(randomListing(random, 2));
    return listing;
}

// Every node of `root` by its path below it.
std::map<std::string, const FileNode*> byPath(const FileNode& root) {
    std::map<std::string, const FileNode*> out;
    std::vector<const FileNode*> pending{&root};
    while (!pending.empty()) {
        const FileNode* node = pending.back();
        pending.pop_back();
        out[node == &root ? "" : node->id.path().substr(root.id.path().size() + 1)] = node;
        for (const FileNode& child : node->children) {
            pending.push_back(&child);
        }
    }
    return out;
}

} // namespace

TEST(TreeChanges, TellsEachNodesChangeInBothMeasures) {
    const FileNode older = folderNode(
        "/h", {file("/h/grows", 5000), file("/h/shrinks", 9000), file("/h/tail", 100),
               file("/h/same", 10), file("/h/gone", 20000),
               folderNode("/h/old", {file("/h/old/x", 8192), file("/h/old/y", 1)}),
               folderNode("/h/keep", {file("/h/keep/a", 4096), file("/h/keep/lost", 4096)}),
               file("/h/turns", 50)});
    const FileNode newer = folderNode(
        "/h", {file("/h/grows", 12000), file("/h/shrinks", 100), file("/h/tail", 110),
               file("/h/same", 10), file("/h/fresh", 3000),
               folderNode("/h/new", {file("/h/new/z", 4096),
                                     folderNode("/h/new/deep", {file("/h/new/deep/w", 1)})}),
               folderNode("/h/keep", {file("/h/keep/a", 4096)}),
               folderNode("/h/turns", {file("/h/turns/inside", 50)})});
    const TreeChanges changes = TreeChanges::compare(older, newer);

    auto check = [&](const std::string& path, SizeMeasure measure, Kind kind, std::int64_t before) {
        const FileNode& node = at(newer, path);
        const NodeChange change = changes.changeOf(node, measure);
        EXPECT_EQ(change.kind, kind) << path;
        EXPECT_EQ(change.before, before) << path;
        EXPECT_EQ(change.after, sizeIn(node, measure)) << path;
    };
    check("grows", disk, Kind::grew, 8192);
    check("grows", apparent, Kind::grew, 5000);
    check("shrinks", disk, Kind::shrank, 12288);
    check("shrinks", apparent, Kind::shrank, 9000);
    // Ten more bytes in the same block: grew in content, not on disk.
    check("tail", disk, Kind::unchanged, 4096);
    check("tail", apparent, Kind::grew, 100);
    check("same", disk, Kind::unchanged, 4096);
    for (const char* fresh :
         {"fresh", "new", "new/z", "new/deep", "new/deep/w", "turns", "turns/inside"}) {
        check(fresh, disk, Kind::appeared, 0);
        check(fresh, apparent, Kind::appeared, 0);
    }
    check("keep", disk, Kind::shrank, 8192);
    check("keep/a", disk, Kind::unchanged, 4096);

    // What is gone from the tree shows only in the folders' totals.
    const ChangeTotals keep = changes.totalsBelow(at(newer, "keep"), disk);
    EXPECT_EQ(keep, (ChangeTotals{0, 0, 0, 4096}));
    const ChangeTotals all = changes.totalsBelow(newer, disk);
    EXPECT_EQ(all.gone, 20480 + 12288 + 4096 + 4096);
    EXPECT_EQ(all.appeared, 4096 + 4096 + 4096 + 4096);
    EXPECT_EQ(all.grew, 12288 - 8192);
    EXPECT_EQ(all.shrank, 12288 - 4096);
    const ChangeTotals allApparent = changes.totalsBelow(newer, apparent);
    EXPECT_EQ(allApparent.gone, 20000 + 8193 + 4096 + 50);
    EXPECT_EQ(allApparent.grew, 7000 + 10);
    // Inside a new folder, everything is new.
    EXPECT_EQ(changes.totalsBelow(at(newer, "new"), disk), (ChangeTotals{0, 0, 8192, 0}));

    // The same tree against itself keeps nothing.
    EXPECT_EQ(TreeChanges::compare(newer, newer).size(), size_t(0));
}

TEST(TreeChanges, AgreesWithAPathByPathReadingOnRandomTreePairs) {
    std::mt19937 random(27);
    for (int round = 0; round < 200; ++round) {
        const Listing first = randomListing(random, 3);
        const Listing second = evolved(random, first);
        const FileNode older = build(first, "/r");
        const FileNode newer = build(second, "/r");
        const TreeChanges changes = TreeChanges::compare(older, newer);
        const auto before = byPath(older);
        const auto after = byPath(newer);
        for (SizeMeasure measure : {disk, apparent}) {
            for (const auto& [path, node] : after) {
                // New unless the same path was the same kind of item, all the way up.
                bool matched = true;
                for (std::string up = path;; up = up.substr(0, up.rfind('/'))) {
                    auto old = before.find(up);
                    matched = matched && old != before.end() &&
                              old->second->isDirectory == after.at(up)->isDirectory;
                    if (up.find('/') == std::string::npos) {
                        break;
                    }
                }
                const NodeChange change = changes.changeOf(*node, measure);
                const std::int64_t then = matched ? sizeIn(*before.at(path), measure) : 0;
                const Kind kind = !matched                        ? Kind::appeared
                                  : then < sizeIn(*node, measure) ? Kind::grew
                                  : then > sizeIn(*node, measure) ? Kind::shrank
                                                                  : Kind::unchanged;
                ASSERT_EQ(change.kind, kind) << round << " " << path;
                ASSERT_EQ(change.before, then) << round << " " << path;
                if (!node->isDirectory) {
                    continue;
                }
                // A folder's totals add up to its change.
                const ChangeTotals totals = changes.totalsBelow(*node, measure);
                ASSERT_EQ(totals.grew - totals.shrank + totals.appeared - totals.gone,
                          change.change())
                    << round << " " << path;
                ASSERT_GE(totals.grew, 0);
                ASSERT_GE(totals.shrank, 0);
            }
        }
    }
}

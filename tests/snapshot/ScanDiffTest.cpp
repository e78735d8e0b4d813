#include "core/snapshot/ScanDiff.hpp"

#include "tests/support/TreeFixtures.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace varnok;
using namespace varnok::testing;

namespace {

using Entry = ListedEntry;

FileNode build(const Listing& listing, const std::string& root, const std::string& below) {
    return buildListing(listing, root, fileNode, below);
}

// Sizes of every entry of a built tree, folders summed.
std::map<std::string, Entry> sized(const FileNode& root) {
    std::map<std::string, Entry> out;
    std::vector<const FileNode*> pending{&root};
    const size_t below = root.id.path().size() + 1;
    while (!pending.empty()) {
        const FileNode* node = pending.back();
        pending.pop_back();
        if (node != &root) {
            out[node->id.path().substr(below)] = {node->isDirectory, node->allocatedSize};
        }
        for (const FileNode& child : node->children) {
            pending.push_back(&child);
        }
    }
    return out;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The comparison written the plain way, path by path, as its description reads.
std::vector<ScanChange> reference(const FileNode& older, const FileNode& newer,
                                  const DiffOptions& options) {
    const auto before = sized(older);
    const auto after = sized(newer);
    std::map<std::string, int> paths; // path -> depth
    for (const auto* side : {&before, &after}) {
        for (const auto& [path, entry] : *side) {
            paths[path] = static_cast<int>(std::count(path.begin(), path.end(), '/')) + 1;
        }
    }
    const auto folderIn = [](const std::map<std::string, Entry>& side, const std::string& path) {
        auto it = side.find(path);
        return it != side.end() && it->second.isDirectory;
    };
    const auto folderSize = [](const std::map<std::string, Entry>& side, const std::string& path) {
        auto it = side.find(path);
        return it != side.end() && it->second.isDirectory ? it->second.size : 0;
    };
    std::vector<ScanChange> changes;
    for (const auto& [path, depth] : paths) {
        bool compared = true;
        for (std::string up = parentOf(path); !up.empty(); up = parentOf(up)) {
            compared = compared && folderIn(before, up) && folderIn(after, up);
        }
        if (!compared || (options.maximumDepth > 0 && depth > options.maximumDepth)) {
            continue;
        }
        auto old = before.find(path);
        auto now = after.find(path);
        std::vector<ScanChange> found;
        const bool sameKind = old != before.end() && now != after.end() &&
                              old->second.isDirectory == now->second.isDirectory;
        if (old != before.end() && !sameKind) {
            found.push_back({path, ScanChange::Kind::disappeared, old->second.isDirectory,
                             old->second.size, 0, -old->second.size, depth});
        }
        if (now != after.end() && !sameKind) {
            found.push_back({path, ScanChange::Kind::appeared, now->second.isDirectory, 0,
                             now->second.size, now->second.size, depth});
        }
        if (sameKind && old->second.size != now->second.size) {
            ScanChange change{path,
                              now->second.size > old->second.size ? ScanChange::Kind::grew
                                                                  : ScanChange::Kind::shrank,
                              old->second.isDirectory,
                              old->second.size,
                              now->second.size,
                              now->second.size - old->second.size,
                              depth};
            if (change.isDirectory) {
                for (const auto& [inner, innerDepth] : paths) {
                    if (innerDepth == depth + 1 && parentOf(inner) == path) {
                        change.ownChange -= folderSize(after, inner) - folderSize(before, inner);
                    }
                }
            }
            found.push_back(change);
        }
        for (const ScanChange& change : found) {
            const std::int64_t size = std::abs(change.change());
            if (size >= options.minimumChange) {
                changes.push_back(change);
            }
        }
    }
    std::sort(changes.begin(), changes.end(), [](const ScanChange& a, const ScanChange& b) {
        const std::int64_t x = std::abs(a.change()), y = std::abs(b.change());
        return x != y ? x > y : a.path != b.path ? a.path < b.path : a.kind < b.kind;
    });
    return changes;
}

std::string text(const std::vector<ScanChange>& changes) {
    std::string out;
    for (const ScanChange& c : changes) {
        out += c.path + (c.isDirectory ? "/ " : " ") + textValue(c.kind) + " " +
               std::to_string(c.oldSize) + " -> " + std::to_string(c.newSize) + " own " +
               std::to_string(c.ownChange) + " depth " + std::to_string(c.depth) + "\n";
    }
    return out;
}

// Few names, so that two random listings share many paths.
Listing randomListing(std::mt19937& random, int levels, const std::string& below = "") {
    static const std::vector<std::string> names = {"a",
                                                   "b",
                                                   "c",
                                                   "d",
                                                   "\xff"
                                                   "byte",
                                                   "e f"};
    return varnok::testing::randomListing(
        random, levels, names, 45, [](int percent) { return (percent % 5) * 4096; }, below);
}

// A later state of `listing`: entries gone (with what they hold), files resized, and "a"
// replaced by new content.
Listing evolved(std::mt19937& random, Listing listing) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::erase_if(listing, [&](const auto&) { return percent(random) < 10; });
    for (auto& [path, entry] : listing) {
        if (!entry.isDirectory && percent(random) < 30) {
            entry.size = (percent(random) % 7) * 4096;
        }
    }
    if (percent(random) < 50) {
        std::erase_if(listing, [](const auto& entry) { return entry.first.starts_with("a"); });
        listing["a"] = {true, 0};
        listing.merge(randomListing(random, 2, "a"));
    }
    return listing;
}

} // namespace

TEST(ScanDiff, AgreesWithAPlainReferenceOnRandomTreePairs) {
    std::mt19937 random(27);
    std::uniform_int_distribution<int> percent(0, 99);
    for (int round = 0; round < 300; ++round) {
        const Listing first = randomListing(random, 3);
        const Listing second = round % 3 == 0 ? randomListing(random, 3) : evolved(random, first);
        const FileNode older = build(first, "/old", "");
        const FileNode newer = build(second, "/new/place", "");
        DiffOptions options;
        options.maximumDepth = round % 4 == 0 ? 1 + percent(random) % 3 : 0;
        options.minimumChange = round % 5 == 0 ? 4096 * (percent(random) % 3) : 0;
        const ScanDiff diff = ScanDiff::compare(older, newer, options);
        ASSERT_EQ(text(diff.changes), text(reference(older, newer, options)))
            << "round " << round << " depth " << options.maximumDepth << " min "
            << options.minimumChange;
        EXPECT_EQ(diff.oldTotal, older.allocatedSize);
        EXPECT_EQ(diff.newTotal, newer.allocatedSize);
    }
}

TEST(ScanDiff, ListsFoldersWithTheirOwnAndTotalChangeLargestFirst) {
    const FileNode older = build({{"logs", {true, 0}},
                                  {"logs/app.log", {false, 1000}},
                                  {"logs/old", {true, 0}},
                                  {"logs/old/1.gz", {false, 500}},
                                  {"cache", {true, 0}},
                                  {"cache/blob", {false, 9000}},
                                  {"notes", {false, 10}},
                                  {"same", {false, 77}}},
                                 "/home/u", "");
    const FileNode newer = build({{"logs", {true, 0}},
                                  {"logs/app.log", {false, 4000}},
                                  {"logs/old", {true, 0}},
                                  {"logs/old/1.gz", {false, 500}},
                                  {"logs/old/2.gz", {false, 600}},
                                  {"notes", {true, 0}},
                                  {"notes/todo", {false, 20}},
                                  {"same", {false, 77}}},
                                 "/home/u", "");
    const ScanDiff diff = ScanDiff::compare(older, newer);
    EXPECT_EQ(text(diff.changes), "cache/ gone 9000 -> 0 own -9000 depth 1\n"
                                  "logs/ grew 1500 -> 5100 own 3000 depth 1\n"
                                  "logs/app.log grew 1000 -> 4000 own 3000 depth 2\n"
                                  "logs/old/ grew 500 -> 1100 own 600 depth 2\n"
                                  "logs/old/2.gz new 0 -> 600 own 600 depth 3\n"
                                  "notes/ new 0 -> 20 own 20 depth 1\n"
                                  "notes gone 10 -> 0 own -10 depth 1\n")
        << "a gone folder is one change; a file that became a folder is one gone, one new";

    DiffOptions shallow;
    shallow.maximumDepth = 1;
    shallow.minimumChange = 20;
    EXPECT_EQ(text(ScanDiff::compare(older, newer, shallow).changes),
              "cache/ gone 9000 -> 0 own -9000 depth 1\n"
              "logs/ grew 1500 -> 5100 own 3000 depth 1\n"
              "notes/ new 0 -> 20 own 20 depth 1\n");
    EXPECT_TRUE(ScanDiff::compare(newer, newer).changes.empty());
}

#pragma once

#include "core/scan/FileNode.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace varnok::testing {

// In-memory trees shaped as the scan engine builds them (sums filled in, children larger first),
// for tests that need no disk.
FileNode fileNode(const std::string& path, std::int64_t size);
FileNode folderNode(const std::string& path, std::vector<FileNode> children);
// Children of `folder` named "<folder>/f<i>" with the given sizes, in the order given.
std::vector<FileNode> filesIn(const std::string& folder, const std::vector<std::int64_t>& sizes);

// A random tree below `path`: up to `breadth` entries per folder, folders down to `levels`,
// sizes spread over several orders of magnitude, some of them 0.
FileNode randomTree(std::mt19937& random, const std::string& path, int levels, int breadth);

// A tree written down as relative paths ("a/b") to entries; what lies below a folder is listed
// below it, and a folder's size is summed when the tree is built.
struct ListedEntry {
    bool isDirectory = false;
    std::int64_t size = 0;
};
using Listing = std::map<std::string, ListedEntry>;
using FileMaker = std::function<FileNode(const std::string& path, std::int64_t size)>;

// The tree of `listing` (from `below` down) rooted at `root`, its files made by `file`.
FileNode buildListing(const Listing& listing, const std::string& root, const FileMaker& file,
                      const std::string& below = "");
// A random listing `levels` deep below `below`, over a few `names` so that two listings share
// many paths: each name is left out at `absent` percent, a folder at 40 percent of the rest,
// and a file's size is `size` of a random percent.
Listing randomListing(std::mt19937& random, int levels, const std::vector<std::string>& names,
                      int absent, const std::function<std::int64_t(int)>& size,
                      const std::string& below = "");

} // namespace varnok::testing

#pragma once

#include "core/scan/FileNode.hpp"

#include <cstdint>
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

} // namespace varnok::testing

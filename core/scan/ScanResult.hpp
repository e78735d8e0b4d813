#pragma once

#include "core/scan/FileNode.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace varnok {

struct ScanProgress {
    std::int64_t fileCount = 0;
    std::int64_t folderCount = 0;
    std::int64_t logicalSize = 0;
    std::string currentPath;
    std::string phase = "Reading files";
};

struct ScanResult {
    FileNode root;
    // The first 100 paths that could not be read, in the order met.
    std::vector<std::string> inaccessiblePaths;
    // Every entry that could not be read; not capped.
    std::int64_t skippedCount = 0;
    // File bytes by age of last modification: under 30 days, under 180, under 365, older.
    std::array<std::int64_t, 4> ageSizes{};
    // File bytes by kind: code, media, documents, other.
    std::array<std::int64_t, 4> typeSizes{};
    double duration = 0;
    // Folders not entered because they are on another file system (ScanOptions::oneFileSystem).
    std::vector<std::string> otherFileSystems;
    // Entries left out by ScanOptions::excludes; what lies below them is not counted.
    std::int64_t excludedCount = 0;
};

} // namespace varnok

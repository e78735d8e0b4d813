#pragma once

#include "core/scan/FileNode.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace varnok {

// One item that differs between two scans of a folder, by bytes on disk.
struct ScanChange {
    enum class Kind { appeared, disappeared, grew, shrank };

    // Below the compared folders, "/"-separated; names are bytes.
    std::string path;
    Kind kind = Kind::grew;
    bool isDirectory = false;
    // Bytes on disk in each scan; 0 where the item is absent.
    std::int64_t oldSize = 0;
    std::int64_t newSize = 0;
    // For a folder in both scans, the change of the files directly inside it (and of its own
    // blocks), without that of the folders below; for anything else the whole change.
    std::int64_t ownChange = 0;
    // 1 for an item directly inside the compared folders.
    int depth = 1;

    std::int64_t change() const { return newSize - oldSize; }
};

struct DiffOptions {
    // Changes smaller than this (either way) are left out. New and gone items are listed even
    // when they hold nothing, unless this is above 0.
    std::int64_t minimumChange = 0;
    // Items deeper than this are left out; 0 for any depth.
    int maximumDepth = 0;
};

// What appeared, disappeared, grew and shrank between two trees of the same folder. Items are
// matched by their path below each root, so a renamed or moved item is one gone and one new; an
// item that changed between file and folder too. A new or gone folder is one change: what it
// holds is not listed again. Sizes are the trees' own bytes on disk, so hard links count as the
// trees count them.
struct ScanDiff {
    std::int64_t oldTotal = 0;
    std::int64_t newTotal = 0;
    // Largest change (either way) first; equal changes by path, then new before gone.
    std::vector<ScanChange> changes;

    // Checks for cancellation now and then.
    static ScanDiff compare(const FileNode& older, const FileNode& newer,
                            const DiffOptions& options = {});
};

const char* textValue(ScanChange::Kind kind);

} // namespace varnok

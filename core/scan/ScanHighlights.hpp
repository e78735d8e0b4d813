#pragma once

#include <cstdint>

namespace varnok {

struct FileNode;

// How many files a tree holds, and how many of them, and how many bytes, are large files.
struct ScanHighlights {
    std::int64_t fileCount = 0;
    std::int64_t largeFileCount = 0;
    std::int64_t largeFileBytes = 0;

    // A file is large from this logical size on (10^8 bytes).
    static constexpr std::int64_t largeFileThreshold = 100000000;

    // Counts the files below `node`, skipping symbolic links. Checks the current task for
    // cancellation per node; throws only CancellationError.
    static ScanHighlights summarize(const FileNode& node);
    // The same by bytes on disk, as du counts them: a file is large from this many allocated
    // bytes, and a file with several hard links counts once, so sparse files and links do not
    // swell the figures.
    static ScanHighlights summarizeOnDisk(const FileNode& node);

    friend bool operator==(const ScanHighlights&, const ScanHighlights&) = default;
};

} // namespace varnok

#pragma once

#include "core/scan/ScanResult.hpp"

#include <functional>
#include <string>
#include <vector>

namespace varnok {

using ScanProgressHandler = std::function<void(const ScanProgress&)>;

// What a scan leaves out. The default leaves out nothing.
struct ScanOptions {
    // Folders on another file system than the root are not entered; they are listed in
    // ScanResult::otherFileSystems and are not part of the tree.
    bool oneFileSystem = false;
    // Shell globs. A pattern with a "/" is matched against the whole path below the root, one
    // without against each entry's name. Matching entries, and everything below them, are left
    // out and counted in ScanResult::excludedCount.
    std::vector<std::string> excludes;
    // Threads that walk the tree, the calling thread included; 0 for one per processor (at most
    // 8). The result is the same for any number.
    unsigned threads = 0;
};

class ScanEngine {
public:
    // Walks `url` read-only into its size tree. Runs on the calling thread, with helper threads as
    // the options allow, and checks the current task for cancellation before each entry and each
    // build step; progress is reported on the calling thread only. Throws the root's capture
    // error, FileError 257 when the root is not a readable folder, FileError 256 when it cannot be
    // walked, or CancellationError. Unreadable entries are counted and the walk goes on.
    static ScanResult scan(const Url& url, const ScanProgressHandler& progress);
    static ScanResult scan(const Url& url, const ScanProgressHandler& progress,
                           const ScanOptions& options);
    // Whether `relativePath` (below the root, no leading "/") is left out by `patterns`.
    static bool isExcluded(std::string_view relativePath, const std::vector<std::string>& patterns);

    // Kind bucket of a file name: 0 code, 1 media, 2 documents, 3 other.
    static int kindBucket(std::string_view fileName);
    // Age bucket of a modification `days` ago: 0 under 30 (or in the future), 1 under 180, 2 under
    // 365, 3 older.
    static int ageBucket(double days);
};

} // namespace varnok

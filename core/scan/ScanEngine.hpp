#pragma once

#include "core/scan/ScanResult.hpp"

#include <functional>

namespace varnok {

using ScanProgressHandler = std::function<void(const ScanProgress&)>;

class ScanEngine {
public:
    // Walks `url` read-only into its size tree. Runs on the calling thread and checks the current
    // task for cancellation before each entry and each build step. Throws the root's capture
    // error, FileError 257 when the root is not a readable folder, FileError 256 when it cannot be
    // walked, or CancellationError. Unreadable entries are counted and the walk goes on.
    static ScanResult scan(const Url& url, const ScanProgressHandler& progress);

    // Kind bucket of a file name: 0 code, 1 media, 2 documents, 3 other.
    static int kindBucket(std::string_view fileName);
    // Age bucket of a modification `days` ago: 0 under 30 (or in the future), 1 under 180, 2 under
    // 365, 3 older.
    static int ageBucket(double days);
};

} // namespace varnok

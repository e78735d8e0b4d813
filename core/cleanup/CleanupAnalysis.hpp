#pragma once

#include "core/cleanup/CleanupCandidate.hpp"

#include <vector>

namespace varnok {

// Recognises regenerable developer output in an already scanned tree, on positive evidence next to
// it: the user's Xcode DerivedData, node_modules beside a manifest and a lockfile, and .next beside
// a manifest and a Next.js configuration. Reads nothing from disk beyond what the file policy asks.
class CleanupAnalysis {
public:
    // Every suggestion found in the tree, largest first; equal sizes keep the order they were met.
    // Throws CancellationError when the current task is cancelled.
    static std::vector<CleanupCandidate> detect(const FileNode& root, const Url& home);
    // Whether anything below `node` (not the node itself) looks like source control, credentials
    // or an environment file.
    static bool containsProtectedData(const FileNode& node);
};

} // namespace varnok

#pragma once

#include "core/cleanup/CleanupCandidate.hpp"

#include <string_view>
#include <vector>

namespace varnok {

// Recognises regenerable developer output in an already scanned tree, on positive evidence next to
// it or inside it: the user's Xcode DerivedData; node_modules beside a manifest and a lockfile; web
// build output beside its configuration; Cargo, Maven, Gradle and CMake build folders; Python
// virtual environments, bytecode and tool caches; and any folder tagged with a CACHEDIR.TAG.
// Reads nothing from disk beyond what the file policy asks and the first line of a CACHEDIR.TAG.
class CleanupAnalysis {
public:
    // Every suggestion found in the tree, largest first; equal sizes keep the order they were met.
    // Throws CancellationError when the current task is cancelled.
    static std::vector<CleanupCandidate> detect(const FileNode& root, const Url& home);
    // The same, adding to `policyLeftOutFiles` the files the file policy kept out: those of
    // recognised folders it refuses and those of protected folders it does not search.
    static std::vector<CleanupCandidate> detect(const FileNode& root, const Url& home,
                                                std::int64_t& policyLeftOutFiles);
    // The names of the files beside a folder that any rule reads, the JavaScript ones first.
    static const std::vector<std::string_view>& markerNames();
    // Whether anything below `node` (not the node itself) looks like source control, credentials
    // or an environment file.
    static bool containsProtectedData(const FileNode& node);
};

} // namespace varnok

#pragma once

#include "core/duplicates/FileHandle.hpp"
#include "core/scan/FileNode.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace varnok {

// Opens a scanned file so that the open cannot be redirected, and reads the metadata that must
// match before two files count as duplicates. Stateless.
class VerifiedFile {
public:
    struct Metadata {
        std::uint32_t owner = 0;
        std::uint32_t group = 0;
        // File type and permission bits together.
        std::uint16_t mode = 0;
        // The file's user-visible attributes (immutable, append-only, no-dump and the like).
        std::uint32_t flags = 0;
        // Every extended attribute the process can read: raw name to complete value.
        std::map<std::string, std::string> extendedAttributes;

        friend bool operator==(const Metadata&, const Metadata&) = default;
    };

    // Limits on the attribute name list and on the values of one file together.
    static constexpr std::size_t attributeListLimit = 1048576;
    static constexpr std::size_t attributeValueBudget = 1048576;

    // A verified read-only handle positioned at the start of the file. Refuses files that changed
    // since the scan, whose contents may not be local, that cannot be opened without following a
    // link, or whose open object is not the recorded one. Leaves no descriptor open on failure.
    static FileHandle open(const FileNode& node);
    // The devices found to hold local file systems during one search, so that each device's
    // file system type is asked once rather than once per file. Shared by the search's threads.
    class LocalDevices {
    public:
        bool contains(std::uint64_t device) const;
        void add(std::uint64_t device);

    private:
        mutable std::mutex mutex_;
        std::vector<std::uint64_t> devices_;
    };

    // open(node) for a search that opens many files, given the node's path: when nothing is
    // amiss, the same proof in three system calls instead of eight. lstat shows the recorded
    // object at the path, a lookup that refuses a symbolic link in any component opens it, and
    // the open object is verified. Anything unexpected goes the way of open(node), which throws
    // the same message it always does.
    static FileHandle openForSearch(const FileNode& node, const std::string& path,
                                    LocalDevices& localDevices);
    // Throws unless the open object is still exactly the recorded one.
    static void verify(const FileHandle& handle, const FileNode& node);
    // Checks for cancellation once per extended attribute.
    static Metadata metadata(const FileHandle& handle);
};

} // namespace varnok

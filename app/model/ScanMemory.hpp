#pragma once

#include "core/scan/ScanResult.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// One scan the explorer remembered.
struct RememberedScan {
    // The name both of its files start with.
    std::string id;
    // The compressed scan, in ncdu's export format.
    std::string file;
    // The folder scanned, as exact bytes, without a trailing "/".
    std::string folder;
    // Seconds since 1970 when the scan was taken.
    std::int64_t takenAt = 0;
    // The scanned folder's bytes on disk.
    std::int64_t folderSize = 0;
    // What the remembered scan itself takes on disk.
    std::int64_t sizeOnDisk = 0;
    // When it was saved, nanoseconds since 1970: orders scans taken within one second.
    std::int64_t savedAt = 0;
};

// The biggest growth the last scan of the home folder found against the scan before it.
struct HomeGrowth {
    // When the earlier scan was taken, seconds since 1970.
    std::int64_t since = 0;
    // Bytes on disk more than then; always positive.
    std::int64_t size = 0;
    // The folder that holds most of it: the home itself or a folder below it.
    std::string folder;

    bool operator==(const HomeGrowth&) const = default;
};

// The explorer's last scans of each folder, kept under one folder of their own. Each scan is two
// files named by a random id: "<id>.scan" (what it is: folder, time, size) and "<id>.json.gz".
// The record is written first, so a scan whose record is missing was never complete; a record
// whose scan file is missing (a save or removal that stopped midway) is not listed and is removed
// when it is a day old. Files of any other name or content are not ours: they are ignored and
// never removed.
struct ScanMemory {
    static constexpr int defaultScansPerFolder = 5;
    static constexpr std::int64_t defaultCapacity = 1000000000;

    // $XDG_STATE_HOME/ombrelo/scans, or ~/.local/state/ombrelo/scans.
    static std::string defaultFolder();

    std::string root = defaultFolder();
    int scansPerFolder = defaultScansPerFolder;
    // Bytes on disk all remembered scans may take together.
    std::int64_t capacity = defaultCapacity;

    // Every complete remembered scan, newest first. A store that does not exist yet is empty.
    std::vector<RememberedScan> all() const;
    // Those of `folder` (a trailing "/" is ignored), newest first.
    std::vector<RememberedScan> scansOf(const std::string& folder) const;

    // Saves `result` as a scan of `folder`, then drops the oldest scans beyond the limits (the
    // new one too, when it alone is over the capacity). Throws FileError when it cannot be saved.
    RememberedScan remember(const ScanResult& result, const std::string& folder,
                            std::int64_t takenAt) const;
    RememberedScan remember(const FileNode& tree, const std::vector<std::string>& otherFileSystems,
                            const std::string& folder, std::int64_t takenAt) const;
    // Removes the remembered scan with this id; false when there is none.
    bool forget(const std::string& id) const;
    // Applies the limits and clears what a stopped save or removal left behind.
    void prune() const;

    // The growth summary kept beside the store, if any and readable.
    std::optional<HomeGrowth> homeGrowth() const;
    // Replaces it; nothing removes it.
    void setHomeGrowth(const std::optional<HomeGrowth>& growth) const;

    // The growth of `newer` against `older` (two trees of `home`), by bytes on disk, when it is at
    // least `floor`: the folder is found by going down from the home while one folder below
    // holds at least 80 % of its parent's growth. What changed in `excluded` (the store, when it
    // is in the home) does not count.
    static std::optional<HomeGrowth> growthOf(const FileNode& older, const FileNode& newer,
                                              std::int64_t olderTakenAt, const std::string& home,
                                              const std::string& excluded,
                                              std::int64_t floor = 1000000);
};

} // namespace varnok

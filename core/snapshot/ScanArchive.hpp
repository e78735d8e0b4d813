#pragma once

#include "core/scan/ScanResult.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace varnok {

// A scan read back from a file: the tree as the scan engine would have built it, and where it
// came from.
struct SavedScan {
    ScanResult result;
    // Seconds since 1970 when the scan was taken; 0 when the file does not say.
    std::int64_t takenAt = 0;
    // The program that wrote the file and its version, as the file names them ("ncdu 1.18").
    std::string writer;
};

// Scans kept in the JSON export format of ncdu (major version 1), which ncdu and gdu read and
// write. Names are bytes: a name that is not UTF-8 is written byte for byte, as ncdu writes it,
// and read back the same.
struct ScanArchive {
    // Writes `result` to `path`, gzip-compressed when `path` ends in ".gz". A file appears
    // complete or not at all: it is written beside `path` (beside the file a link names) and
    // renamed over it. A device or pipe is written in place. Throws FileError.
    static void save(const ScanResult& result, std::int64_t takenAt, const std::string& path);
    // The same document in pieces.
    static void write(const ScanResult& result, std::int64_t takenAt,
                      const std::function<void(std::string_view)>& sink);
    // The same from a tree and the folders the scan left out as other file systems, for a
    // caller that shares its tree rather than copying it into a result.
    static void save(const FileNode& root, const std::vector<std::string>& otherFileSystems,
                     std::int64_t takenAt, const std::string& path);
    static void write(const FileNode& root, const std::vector<std::string>& otherFileSystems,
                      std::int64_t takenAt, const std::function<void(std::string_view)>& sink);

    // Reads a file written by `save`, `ncdu -o` or `gdu -o`, plain or gzip-compressed (told by
    // its first bytes), or a pipe that carries one. A hard-linked file counts on disk once, at
    // the first of its paths the file lists (in our files, where the saved tree counted it); an
    // entry without a modification time has no identity; a gdu folder without a size on disk
    // counts one 4096-byte block, as gdu counts it. Throws FileError when the file cannot be read
    // and DecodingError, with a message that says what is wrong and where, when it is not such a
    // scan.
    static SavedScan load(const std::string& path);
    // Reads one document held in memory.
    static SavedScan read(std::string_view text);

    // Folders nested deeper than this are refused: no real tree comes near it, and the tools
    // that walk a tree need not guard against more.
    static constexpr int maximumDepth = 10000;
};

} // namespace varnok

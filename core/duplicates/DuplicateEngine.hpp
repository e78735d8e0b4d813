#pragma once

#include "core/common/Url.hpp"
#include "core/scan/FileNode.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnok {

// One set of byte-identical files, at least two, in ascending order of their path text.
struct DuplicateGroup {
    std::vector<FileNode> files;

    // The URL of the first file.
    const Url& id() const { return files.front().id; }
    // The space freed if all but one copy were removed.
    std::int64_t extraSize() const {
        return files.front().logicalSize * static_cast<std::int64_t>(files.size() - 1);
    }
};

struct DuplicateProgress {
    // "Grouping by size", "Hashing matching sizes" or "Verifying file contents".
    std::string phase;
    std::int64_t checked = 0;
    // 0 while grouping, before the total is known.
    std::int64_t total = 0;
    // Bytes of the files hashed successfully so far.
    std::int64_t bytesRead = 0;
};

struct DuplicateResult {
    // Largest extraSize first; equal ones by the path of their first file.
    std::vector<DuplicateGroup> groups;
    // Files whose size another eligible file shares, whether or not hashing them succeeded.
    std::int64_t hashedFiles = 0;
    std::int64_t bytesHashed = 0;
    // Files that could not be hashed or compared, each once, in no defined order.
    std::vector<Url> skippedFiles;
    // Files the file policy kept out of the search: every file of a folder it refuses (hidden,
    // a bundle, a system folder) and refused files whose size another file shares.
    std::int64_t policyLeftOutFiles = 0;
    double duration = 0;

    std::int64_t extraSize() const;
};

using DuplicateProgressHandler = std::function<void(const DuplicateProgress&)>;
// Returns a digest of the file's contents; throws when the file cannot be read.
using FileHashFunction = std::function<std::string(const FileNode&)>;

// Finds and proves sets of byte-identical regular files in a scanned tree. Reads files, never
// changes them.
class DuplicateEngine {
public:
    // Groups eligible files by size, hashes those whose size is shared, and compares files whose
    // size and digest agree byte by byte, with their owner, mode, flags and extended attributes.
    // Per-file failures end up in `skippedFiles`; only CancellationError is thrown.
    //
    // With `threads` above 1, hashing and comparison also run on that many threads in all,
    // including the caller's, so `hashFile` must be safe to call concurrently. Results, skipped
    // files and progress are the same as with one thread: outcomes are taken up in candidate
    // order, and `progress` is only ever called on the calling thread.
    static DuplicateResult find(const FileNode& root, const DuplicateProgressHandler& progress,
                                const FileHashFunction& hashFile, unsigned threads = 1);

    // The same search with the engine's own reading: the files of one size are read together,
    // once each, and compared chunk by chunk as they are read, so that proving them equal takes
    // no second read and no digest. More files of one size than a thread may hold open are
    // hashed with `hash` and compared as in the form above. Groups, counts, skipped files and
    // progress are those of find(root, progress, hash, threads); every file is still checked
    // against its scanned identity before and after it is read.
    static DuplicateResult find(const FileNode& root, const DuplicateProgressHandler& progress,
                                unsigned threads = 1);

    // SHA-256 of the file's contents as 64 lower-case hexadecimal digits, read in 1 MiB chunks
    // from a verified handle. Throws CleanupProblem when the file changed, grew or shrank.
    static std::string hash(const FileNode& node);

    // Throws CleanupProblem "{name} changed or cannot be verified. Scan again." unless the node's
    // path still leads, through no symbolic link, to exactly the recorded single-link regular
    // file; a failure to read the current identity is thrown as FileError.
    static void verifyIdentity(const FileNode& node);

    // Whether both files are still their recorded selves and have identical sizes, metadata and
    // contents. A file is never equal to itself. Throws when a file cannot be verified or read.
    static bool equalContents(const FileNode& a, const FileNode& b);

    static constexpr std::size_t chunkSize = 1048576;
};

} // namespace varnok

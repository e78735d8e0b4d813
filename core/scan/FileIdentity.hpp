#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

struct stat;

namespace varnok {

class Url;

// The identity of one file-system object as `stat` reports it, kept to prove later that an object
// is still the one that was scanned. Members are laid out for size (48 bytes: one per node of a
// scanned tree), so build values by member name; the JSON form names them.
struct FileIdentity {
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t changedSeconds = 0;
    // Below one second.
    std::int32_t modifiedNanoseconds = 0;
    std::int32_t changedNanoseconds = 0;
    std::int32_t device = 0;
    std::uint16_t mode = 0;
    std::uint16_t linkCount = 0;

    // lstat: a final symbolic link is not followed. Throws FileError 256 with the path.
    static FileIdentity capture(const Url& url);
    // fstat. Throws CleanupProblem "The open file cannot be verified."
    static FileIdentity capture(int descriptor);
    // fstatat(AT_SYMLINK_NOFOLLOW) of a single name. Throws CleanupProblem "The file in the opened
    // parent folder cannot be verified." for a bad name (without a system call) or a failure.
    static FileIdentity capture(int parentDescriptor, const std::string& name);
    static FileIdentity fromStat(const struct stat& record);

    bool isRegularFile() const;
    bool isDirectory() const;
    bool isSymbolicLink() const;

    // Same device, inode and file type; permissions, links, size and times ignored.
    bool sameObject(const FileIdentity& other) const;
    // Everything but the change time.
    bool matchesForRestore(const FileIdentity& other) const;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Exactly nine integer members; decoding throws DecodingError for a missing or out-of-range one.
void to_json(nlohmann::json& json, const FileIdentity& identity);
void from_json(const nlohmann::json& json, FileIdentity& identity);

} // namespace varnok

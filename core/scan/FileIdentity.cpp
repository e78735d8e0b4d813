#include "core/scan/FileIdentity.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/DecodingError.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Url.hpp"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace varnok {

FileIdentity FileIdentity::fromStat(const struct stat& record) {
    FileIdentity identity;
    // dev_t is 64-bit here; the stored identity keeps the low 32 bits, which hold the major and
    // minor numbers of every device below 4096:4096.
    identity.device = static_cast<std::int32_t>(static_cast<std::uint32_t>(record.st_dev));
    identity.inode = record.st_ino;
    identity.mode = static_cast<std::uint16_t>(record.st_mode);
    // More links than the field holds are kept as its maximum rather than wrapped.
    identity.linkCount = static_cast<std::uint16_t>(
        std::min<std::uint64_t>(record.st_nlink, std::numeric_limits<std::uint16_t>::max()));
    identity.size = record.st_size;
    identity.modifiedSeconds = record.st_mtim.tv_sec;
    identity.modifiedNanoseconds = static_cast<std::int32_t>(record.st_mtim.tv_nsec);
    identity.changedSeconds = record.st_ctim.tv_sec;
    identity.changedNanoseconds = static_cast<std::int32_t>(record.st_ctim.tv_nsec);
    return identity;
}

FileIdentity FileIdentity::capture(const Url& url) {
    std::string path = url.path();
    if (!url.isFileUrl() || path.empty() || path.find('\0') != std::string::npos) {
        throw FileError(FileError::readUnknown, path);
    }
    struct stat record {};
    if (::lstat(path.c_str(), &record) != 0) {
        throw FileError(FileError::readUnknown, path, errno);
    }
    return fromStat(record);
}

FileIdentity FileIdentity::capture(int descriptor) {
    struct stat record {};
    if (::fstat(descriptor, &record) != 0) {
        throw CleanupProblem("The open file cannot be verified.");
    }
    return fromStat(record);
}

FileIdentity FileIdentity::capture(int parentDescriptor, const std::string& name) {
    static const char* const message = "The file in the opened parent folder cannot be verified.";
    if (name.find('/') != std::string::npos || name == "." || name == ".." ||
        name.find('\0') != std::string::npos) {
        throw CleanupProblem(message);
    }
    struct stat record {};
    if (::fstatat(parentDescriptor, name.c_str(), &record, AT_SYMLINK_NOFOLLOW) != 0) {
        throw CleanupProblem(message);
    }
    return fromStat(record);
}

bool FileIdentity::isRegularFile() const {
    return (mode & S_IFMT) == S_IFREG;
}
bool FileIdentity::isDirectory() const {
    return (mode & S_IFMT) == S_IFDIR;
}
bool FileIdentity::isSymbolicLink() const {
    return (mode & S_IFMT) == S_IFLNK;
}

bool FileIdentity::sameObject(const FileIdentity& other) const {
    return device == other.device && inode == other.inode &&
           (mode & S_IFMT) == (other.mode & S_IFMT);
}

bool FileIdentity::matchesForRestore(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && mode == other.mode &&
           linkCount == other.linkCount && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
}

void to_json(nlohmann::json& json, const FileIdentity& identity) {
    json = nlohmann::json{
        {"device", identity.device},
        {"inode", identity.inode},
        {"mode", identity.mode},
        {"linkCount", identity.linkCount},
        {"size", identity.size},
        {"modifiedSeconds", identity.modifiedSeconds},
        {"modifiedNanoseconds", identity.modifiedNanoseconds},
        {"changedSeconds", identity.changedSeconds},
        {"changedNanoseconds", identity.changedNanoseconds},
    };
}

namespace {

template <typename T> T integerMember(const nlohmann::json& json, const char* name) {
    if (!json.is_object()) {
        throw DecodingError("FileIdentity is not a JSON object.");
    }
    auto it = json.find(name);
    if (it == json.end()) {
        throw DecodingError(std::string("FileIdentity is missing \"") + name + "\".");
    }
    const auto& value = *it;
    auto outOfRange = [&] {
        return DecodingError(std::string("FileIdentity \"") + name + "\" is out of range.");
    };
    if (value.is_number_unsigned()) {
        auto raw = value.get<std::uint64_t>();
        if (raw > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            throw outOfRange();
        }
        return static_cast<T>(raw);
    }
    if (value.is_number_integer()) {
        auto raw = value.get<std::int64_t>();
        if (raw < 0 && std::numeric_limits<T>::is_signed == false) {
            throw outOfRange();
        }
        if (std::numeric_limits<T>::is_signed &&
            (raw < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
             raw > static_cast<std::int64_t>(std::numeric_limits<T>::max()))) {
            throw outOfRange();
        }
        if (!std::numeric_limits<T>::is_signed &&
            static_cast<std::uint64_t>(raw) > std::numeric_limits<T>::max()) {
            throw outOfRange();
        }
        return static_cast<T>(raw);
    }
    throw DecodingError(std::string("FileIdentity \"") + name + "\" is not an integer.");
}

} // namespace

void from_json(const nlohmann::json& json, FileIdentity& identity) {
    identity.device = integerMember<std::int32_t>(json, "device");
    identity.inode = integerMember<std::uint64_t>(json, "inode");
    identity.mode = integerMember<std::uint16_t>(json, "mode");
    identity.linkCount = integerMember<std::uint16_t>(json, "linkCount");
    identity.size = integerMember<std::int64_t>(json, "size");
    identity.modifiedSeconds = integerMember<std::int64_t>(json, "modifiedSeconds");
    identity.modifiedNanoseconds = integerMember<std::int32_t>(json, "modifiedNanoseconds");
    identity.changedSeconds = integerMember<std::int64_t>(json, "changedSeconds");
    identity.changedNanoseconds = integerMember<std::int32_t>(json, "changedNanoseconds");
}

} // namespace varnok

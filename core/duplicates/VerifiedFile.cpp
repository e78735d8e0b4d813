#include "core/duplicates/VerifiedFile.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/duplicates/DuplicateEngine.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace varnok {
namespace {

const char* const cloudOnlyMessage =
    "Cloud-only or unreadable files are excluded from duplicate cleanup.";

// Network and FUSE file systems, whose files may be downloaded, or hang, when read.
bool isRemoteFileSystem(unsigned long type) {
    switch (type) {
    case 0x65735546UL: // FUSE
    case 0x6969UL:     // NFS
    case 0xFE534D42UL: // SMB2
    case 0xFF534D42UL: // CIFS
    case 0x517BUL:     // SMB
    case 0x01021997UL: // 9P
    case 0x00C36400UL: // Ceph
    case 0x5346414FUL: // AFS
    case 0x6B414653UL: // kAFS
    case 0x73757245UL: // Coda
        return true;
    default:
        return false;
    }
}

// A file with a size but no allocated blocks: a placeholder, or a fully sparse file, which is
// never worth offering for duplicate cleanup.
bool hasNoBlocks(const struct stat& record) {
    return record.st_size > 0 && record.st_blocks == 0;
}

// Linux has no "contents only in the cloud" flag. Files served by FUSE clients (rclone, gvfs,
// the document portal) or by network file systems are refused before opening, as are files
// without allocated blocks.
bool contentsMayNotBeLocal(const std::string& path, const struct stat& record) {
    if (hasNoBlocks(record)) {
        return true;
    }
    struct statfs fileSystem {};
    return ::statfs(path.c_str(), &fileSystem) != 0 ||
           isRemoteFileSystem(static_cast<unsigned long>(fileSystem.f_type));
}

bool isStandardPath(const std::string& path) {
    return path.find('\0') == std::string::npos && PathText::standardize(path) == path;
}

// Owner, group and mode as fstat gives them, and the file flags stand-in: the statx attributes
// the file system supports and has set. Mount-root and automount describe where the file sits,
// not the file, and are left out. One statx answers all of it.
bool readOwnerModeAndFlags(int descriptor, VerifiedFile::Metadata& metadata) {
    struct statx record {};
    const unsigned int wanted = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID;
    if (::statx(descriptor, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &record) != 0 ||
        (record.stx_mask & wanted) != wanted) {
        return false;
    }
    metadata.owner = record.stx_uid;
    metadata.group = record.stx_gid;
    metadata.mode = record.stx_mode;
    std::uint64_t attributes = record.stx_attributes & record.stx_attributes_mask;
    attributes &= ~static_cast<std::uint64_t>(STATX_ATTR_MOUNT_ROOT | STATX_ATTR_AUTOMOUNT);
    metadata.flags = static_cast<std::uint32_t>(attributes);
    return true;
}

} // namespace

FileHandle VerifiedFile::open(const FileNode& node) {
    DuplicateEngine::verifyIdentity(node);
    std::string path = node.id.path();
    struct stat record {};
    if (::lstat(path.c_str(), &record) != 0 || contentsMayNotBeLocal(path, record)) {
        throw CleanupProblem(cloudOnlyMessage);
    }
    // O_NONBLOCK and O_NOCTTY keep a FIFO or device swapped in from blocking or becoming the
    // controlling terminal; verify() then refuses it.
    int descriptor =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        throw CleanupProblem("The selected file cannot be opened safely.");
    }
    FileHandle handle(descriptor, std::move(path));
    verify(handle, node); // on failure the handle closes itself
    return handle;
}

bool VerifiedFile::LocalDevices::contains(std::uint64_t device) const {
    std::lock_guard lock(mutex_);
    return std::find(devices_.begin(), devices_.end(), device) != devices_.end();
}

void VerifiedFile::LocalDevices::add(std::uint64_t device) {
    std::lock_guard lock(mutex_);
    if (std::find(devices_.begin(), devices_.end(), device) == devices_.end()) {
        devices_.push_back(device);
    }
}

FileHandle VerifiedFile::openForSearch(const FileNode& node, const std::string& path,
                                       LocalDevices& localDevices) {
    const auto& identity = node.identity;
    struct stat record {};
    if (!identity || !identity->isRegularFile() || identity->linkCount != 1 ||
        node.isSymbolicLink || node.hasReadErrors || !isStandardPath(path) ||
        ::lstat(path.c_str(), &record) != 0 || FileIdentity::fromStat(record) != *identity ||
        hasNoBlocks(record)) {
        return open(node);
    }
    const auto device = static_cast<std::uint64_t>(record.st_dev);
    if (!localDevices.contains(device)) {
        // The first file of a device goes the long way; its open descriptor then tells what
        // kind of file system the device holds.
        FileHandle handle = open(node);
        struct statfs fileSystem {};
        if (::fstatfs(handle.descriptor(), &fileSystem) == 0 &&
            !isRemoteFileSystem(static_cast<unsigned long>(fileSystem.f_type))) {
            localDevices.add(device);
        }
        return handle;
    }
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    how.resolve = RESOLVE_NO_SYMLINKS;
    long descriptor = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (descriptor < 0) {
        return open(node); // names the failure, or opens without openat2
    }
    FileHandle handle(static_cast<int>(descriptor), path);
    verify(handle, node);
    return handle;
}

void VerifiedFile::verify(const FileHandle& handle, const FileNode& node) {
    FileIdentity current = FileIdentity::capture(handle.descriptor());
    if (!node.identity || current != *node.identity) {
        throw CleanupProblem("The opened file changed during verification.");
    }
}

VerifiedFile::Metadata VerifiedFile::metadata(const FileHandle& handle) {
    const int descriptor = handle.descriptor();
    Metadata metadata;
    if (!readOwnerModeAndFlags(descriptor, metadata)) {
        throw CleanupProblem("Cannot inspect file metadata.");
    }

    const char* const changedMessage = "File metadata changed during comparison.";
    ssize_t listLength = ::flistxattr(descriptor, nullptr, 0);
    if (listLength < 0 && (errno == ENOTSUP || errno == EOPNOTSUPP)) {
        // A file system without extended attributes: the file has none.
        return metadata;
    }
    if (listLength == 0) {
        return metadata; // no attributes: nothing more to list
    }
    if (static_cast<std::size_t>(listLength) > attributeListLimit) {
        throw CleanupProblem("File metadata could not be fully compared.");
    }
    std::vector<char> names(std::max<std::size_t>(static_cast<std::size_t>(listLength), 1), 0);
    if (::flistxattr(descriptor, names.data(), names.size()) != listLength) {
        throw CleanupProblem(changedMessage);
    }

    std::size_t budget = attributeValueBudget;
    std::size_t start = 0;
    const auto length = static_cast<std::size_t>(listLength);
    while (start < length) {
        std::size_t end = start;
        while (end < length && names[end] != '\0') {
            ++end;
        }
        if (end > start) {
            Task::checkCancellation();
            // Names are kept as their raw bytes: decoding invalid UTF-8 could make two different
            // names equal, and files with different attributes compare equal.
            std::string name(names.data() + start, end - start);
            ssize_t size = ::fgetxattr(descriptor, name.c_str(), nullptr, 0);
            if (size < 0 || static_cast<std::size_t>(size) > budget) {
                throw CleanupProblem(
                    "Large or unreadable extended metadata: review this file manually.");
            }
            budget -= static_cast<std::size_t>(size);
            std::string value(std::max<std::size_t>(static_cast<std::size_t>(size), 1), '\0');
            if (::fgetxattr(descriptor, name.c_str(), value.data(), value.size()) != size) {
                throw CleanupProblem(changedMessage);
            }
            value.resize(static_cast<std::size_t>(size));
            metadata.extendedAttributes[std::move(name)] = std::move(value);
        }
        start = end + 1;
    }
    return metadata;
}

} // namespace varnok

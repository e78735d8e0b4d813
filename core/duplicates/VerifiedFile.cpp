#include "core/duplicates/VerifiedFile.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/DuplicateEngine.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace varnok {
namespace {

const char* const cloudOnlyMessage =
    "Cloud-only or unreadable files are excluded from duplicate cleanup.";

// Linux has no "contents only in the cloud" flag. Files served by FUSE clients (rclone, gvfs,
// the document portal) or by network file systems may be downloaded, or hang, when read, so they
// are refused before opening, as is any file with a size but no allocated blocks (a placeholder,
// or a fully sparse file, which is never worth offering for duplicate cleanup).
bool contentsMayNotBeLocal(const std::string& path, const struct stat& record) {
    if (record.st_size > 0 && record.st_blocks == 0) {
        return true;
    }
    struct statfs fileSystem {};
    if (::statfs(path.c_str(), &fileSystem) != 0) {
        return true;
    }
    switch (static_cast<unsigned long>(fileSystem.f_type)) {
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

// The file flags stand-in: the statx attributes the file system supports and has set. Mount-root
// and automount describe where the file sits, not the file, and are left out.
bool readFlags(int descriptor, std::uint32_t& flags) {
    struct statx record {};
    if (::statx(descriptor, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &record) != 0) {
        return false;
    }
    std::uint64_t attributes = record.stx_attributes & record.stx_attributes_mask;
    attributes &= ~static_cast<std::uint64_t>(STATX_ATTR_MOUNT_ROOT | STATX_ATTR_AUTOMOUNT);
    flags = static_cast<std::uint32_t>(attributes);
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

void VerifiedFile::verify(const FileHandle& handle, const FileNode& node) {
    FileIdentity current = FileIdentity::capture(handle.descriptor());
    if (!node.identity || current != *node.identity) {
        throw CleanupProblem("The opened file changed during verification.");
    }
}

VerifiedFile::Metadata VerifiedFile::metadata(const FileHandle& handle) {
    const int descriptor = handle.descriptor();
    struct stat record {};
    Metadata metadata;
    if (::fstat(descriptor, &record) != 0 || !readFlags(descriptor, metadata.flags)) {
        throw CleanupProblem("Cannot inspect file metadata.");
    }
    metadata.owner = record.st_uid;
    metadata.group = record.st_gid;
    metadata.mode = static_cast<std::uint16_t>(record.st_mode);

    const char* const changedMessage = "File metadata changed during comparison.";
    ssize_t listLength = ::flistxattr(descriptor, nullptr, 0);
    if (listLength < 0 && (errno == ENOTSUP || errno == EOPNOTSUPP)) {
        // A file system without extended attributes: the file has none.
        return metadata;
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

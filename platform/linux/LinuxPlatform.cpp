#include "platform/linux/LinuxPlatform.hpp"

#include "platform/linux/Descriptor.hpp"

#include "core/common/FileError.hpp"
#include "platform/linux/LinuxTrash.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace varnok {
namespace {

Date dateOf(const struct timespec& time) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(time.tv_sec) +
                                                           std::chrono::nanoseconds(time.tv_nsec)));
}

// An absolute value of an environment variable; empty and relative values count as unset.
std::optional<std::string> absoluteEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::string(value);
}

// A fully written and flushed temporary file beside `path`. Returns its path; throws FileError.
std::string writeTemporarySibling(const std::string& path, std::string_view bytes) {
    std::string folder = PathText::parent(path);
    std::string temporary =
        (folder == "/" ? std::string() : folder) + "/." + PathText::lastComponent(path) + ".XXXXXX";
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        throw FileError::fromWriteErrno(errno, path);
    }
    int failure = writeAll(fd.get(), bytes);
    if (failure == 0 && ::fsync(fd.get()) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::close(fd.release()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str()); // our own temporary file
        throw FileError::fromWriteErrno(failure, path);
    }
    return temporary;
}

void syncFolder(const std::string& path) {
    Descriptor folder(::open(PathText::parent(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
}

// Opens `path` (absolute, standardized) only if no symbolic link lies anywhere on the way: one
// system call where realpath makes two or three per component, and restoring thousands of items
// asks this several times per item. `error` is 0, or why it failed: ELOOP for a link, ENOENT
// for a missing part reached without links, anything else (ENOSYS on older kernels) undecided.
struct LinkFreeEntry {
    int error = 0;
    bool isFolder = false;
};

LinkFreeEntry openLinkFree(const std::string& path) {
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    Descriptor entry(
        static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how)));
    struct stat record {};
    if (entry.get() < 0 || ::fstat(entry.get(), &record) != 0) {
        return {errno, false};
    }
    return {0, S_ISDIR(record.st_mode)};
}

} // namespace

std::unique_ptr<DirectoryEnumerator> LinuxPlatform::enumerator(const Url& root,
                                                               EnumerationErrorHandler onError) {
    return openLinuxDirectoryEnumerator(root.path(), std::move(onError));
}

Url LinuxPlatform::resolvingSymlinks(const Url& url) {
    if (!url.isFileUrl()) {
        return url;
    }
    // "." and ".." are left to the system: after a link, ".." leads to the parent of its target.
    std::string path = url.path();
    const bool standardized = PathText::standardize(path) == path;
    std::string resolved;
    // Resolve the longest existing prefix; keep the missing rest as written.
    std::string head = path;
    std::string tail;
    for (;;) {
        if (standardized) {
            const LinkFreeEntry entry = openLinkFree(head);
            if (entry.error == 0 && tail.empty()) {
                return Url::file(path, entry.isFolder);
            }
            if (entry.error == 0) {
                return Url::file(path, url.hasDirectoryPath());
            }
            if (entry.error == ENOENT && head != "/") {
                tail = "/" + PathText::lastComponent(head) + tail;
                head = PathText::parent(head);
                continue;
            }
        }
        char buffer[PATH_MAX];
        if (::realpath(head.c_str(), buffer) != nullptr) {
            resolved = PathText::standardize(std::string(buffer) + tail);
            break;
        }
        if (head == "/") {
            resolved = PathText::standardize(path);
            break;
        }
        tail = "/" + PathText::lastComponent(head) + tail;
        head = PathText::parent(head);
    }
    struct stat record {};
    if (::stat(resolved.c_str(), &record) == 0) {
        return Url::file(resolved, S_ISDIR(record.st_mode));
    }
    return Url::file(resolved, url.hasDirectoryPath());
}

ResourceValues LinuxPlatform::resourceValues(const Url& url) {
    std::string path = url.path();
    struct stat record {};
    if (::lstat(path.c_str(), &record) != 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    ResourceValues values;
    values.isDirectory = S_ISDIR(record.st_mode);
    values.isSymbolicLink = S_ISLNK(record.st_mode);
    values.fileSize = record.st_size;
    values.totalFileAllocatedSize = static_cast<std::int64_t>(record.st_blocks) * 512;
    values.contentModificationDate = dateOf(record.st_mtim);
    values.isReadable = ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
    return values;
}

Url LinuxPlatform::homeDirectory() {
    if (auto home = absoluteEnvironment("HOME")) {
        return Url::file(PathText::standardize(*home), true);
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        return Url::file(PathText::standardize(entry->pw_dir), true);
    }
    return Url::file("/", true);
}

Url LinuxPlatform::temporaryDirectory() {
    return Url::file(PathText::standardize(absoluteEnvironment("TMPDIR").value_or("/tmp")), true);
}

Url LinuxPlatform::applicationSupportDirectory() {
    if (auto data = absoluteEnvironment("XDG_DATA_HOME")) {
        return Url::file(PathText::standardize(*data), true);
    }
    return homeDirectory()
        .appendingPathComponent(".local", true)
        .appendingPathComponent("share", true);
}

std::vector<Url> LinuxPlatform::contentsOfDirectory(const Url& folder) {
    std::string path = folder.path();
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    DIR* stream = ::fdopendir(fd.get());
    if (stream == nullptr) {
        throw FileError::fromReadErrno(errno, path);
    }
    fd.release();
    std::vector<Url> entries;
    const std::string prefix = path == "/" ? std::string() : path;
    for (;;) {
        errno = 0;
        dirent* record = ::readdir(stream);
        if (record == nullptr) {
            int failure = errno;
            ::closedir(stream);
            if (failure != 0) {
                throw FileError::fromReadErrno(failure, path);
            }
            break;
        }
        std::string_view name = record->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool isFolder = record->d_type == DT_DIR;
        if (record->d_type == DT_UNKNOWN) {
            struct stat entry {};
            isFolder =
                ::fstatat(::dirfd(stream), record->d_name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(entry.st_mode);
        }
        entries.push_back(Url::file(prefix + "/" + std::string(name), isFolder));
    }
    return entries;
}

bool LinuxPlatform::fileExists(const Url& url) {
    struct stat record {};
    return ::stat(url.path().c_str(), &record) == 0;
}

bool LinuxPlatform::isReadableFile(const Url& url) {
    return ::faccessat(AT_FDCWD, url.path().c_str(), R_OK, AT_EACCESS) == 0;
}

void LinuxPlatform::createDirectory(const Url& folder, bool withIntermediateDirectories) {
    const std::string path = PathText::standardize(folder.path());
    auto makeOne = [](const std::string& one, bool existingIsFine) {
        if (::mkdir(one.c_str(), 0700) == 0) {
            return;
        }
        int failure = errno;
        struct stat record {};
        if (failure == EEXIST && existingIsFine && ::stat(one.c_str(), &record) == 0 &&
            S_ISDIR(record.st_mode)) {
            return;
        }
        // The trailing slash tells the message that this is a folder.
        throw FileError::fromWriteErrno(failure, one + "/");
    };
    if (!withIntermediateDirectories) {
        makeOne(path, false);
        return;
    }
    std::string partial;
    size_t i = 1;
    while (i <= path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        partial = path.substr(0, slash);
        makeOne(partial, true);
        i = slash + 1;
    }
}

void LinuxPlatform::writeNew(const Url& file, std::string_view bytes) {
    const std::string path = file.path();
    // Written in full beside the target, then linked in only if nothing is there: readers never
    // see a partial file and nothing existing is replaced.
    std::string temporary = writeTemporarySibling(path, bytes);
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        syncFolder(path);
        return;
    }
    int failure = errno;
    if (failure == EINVAL || failure == ENOSYS) {
        failure = ::link(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    }
    ::unlink(temporary.c_str()); // our own temporary file (or a second name of the new file)
    if (failure != 0) {
        throw FileError::fromWriteErrno(failure, path);
    }
    syncFolder(path);
}

void LinuxPlatform::writeAtomically(const Url& file, std::string_view bytes) {
    const std::string path = file.path();
    std::string temporary = writeTemporarySibling(path, bytes);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int failure = errno;
        ::unlink(temporary.c_str()); // our own temporary file
        throw FileError::fromWriteErrno(failure, path);
    }
    syncFolder(path);
}

void Platform::appendRecord(const Url& file, std::string_view bytes, bool create, bool flush) {
    const std::string path = file.path();
    const int flags =
        O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT | O_EXCL : 0);
    Descriptor fd(::open(path.c_str(), flags, 0600));
    if (fd.get() < 0) {
        throw FileError::fromWriteErrno(errno, path);
    }
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) {
        throw FileError::fromWriteErrno(errno, path);
    }
    int failure = writeAll(fd.get(), bytes);
    if (failure == 0 && flush && ::fdatasync(fd.get()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        // A record cut short by a full disk would otherwise sit before the next one.
        if (::ftruncate(fd.get(), before.st_size) == 0) {
            ::fdatasync(fd.get());
        }
        throw FileError::fromWriteErrno(failure, path);
    }
    if (create && flush) {
        syncFolder(path);
    }
}

std::string LinuxPlatform::readFile(const Url& file) {
    const std::string path = file.path();
    // Non-blocking, so that a FIFO in its place cannot hang the reader; only regular files are
    // read, so that a device cannot feed it without end.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    struct stat record {};
    if (::fstat(fd.get(), &record) != 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    if (!S_ISREG(record.st_mode)) {
        throw FileError(FileError::readUnknown, path);
    }
    std::string contents;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError::fromReadErrno(errno, path);
        }
        contents.append(buffer, static_cast<size_t>(count));
    }
    return contents;
}

std::optional<Url> LinuxPlatform::moveToTrash(const Url& url) {
    return LinuxTrash::moveToTrash(url);
}

bool LinuxPlatform::isInTrash(const Url& url) {
    return LinuxTrash::isInTrash(url);
}

void LinuxPlatform::forgetTrashedItem(const Url& trashURL) {
    // Only the record of this very entry of a recognised Trash is ever touched.
    auto record = LinuxTrash::infoFile(trashURL);
    if (!record || record->lastPathComponent() != trashURL.lastPathComponent() + ".trashinfo") {
        return;
    }
    const std::string infoPath = record->deletingLastPathComponent().path();
    const std::string name = record->lastPathComponent();
    Descriptor info(::open(infoPath.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (info.get() < 0) {
        throw FileError::fromWriteErrno(errno, infoPath);
    }
    struct stat entry {};
    if (::fstatat(info.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw FileError::fromWriteErrno(errno, record->path());
    }
    if (S_ISREG(entry.st_mode) && ::unlinkat(info.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        throw FileError::fromWriteErrno(errno, record->path());
    }
}

} // namespace varnok

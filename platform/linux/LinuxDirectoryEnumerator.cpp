// Depth-first walk with one fstatat per entry. Each folder's names are read in full and sorted,
// files before folders, so the order is stable across runs; its descriptor stays open for the
// fstatat and openat calls of its entries. Deep trees would run out of descriptors, so only the
// deepest folders keep theirs; a shallower folder is reopened from its nearest open ancestor when
// the walk returns to it, and checked to be the same folder.
//
// A second thread takes work through split(): the last folder not yet reached on the shallowest
// level, as told by the type getdents reports, so that each thread gets a whole subtree and the
// hand-offs stay few.

#include "platform/linux/LinuxPlatform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace varnok {
namespace {

constexpr size_t maximumOpenFolders = 96;
constexpr int folderOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Folders are handed off only from this many levels below the root, which bounds what a hand-off
// has to remember of its place: below that the walk goes on alone.
constexpr size_t splitLevels = 64;
// Kept in the type byte before a name whose folder another enumerator walks.
constexpr char handedOffType = 127;

struct Level {
    int fd = -1;
    std::string path; // no trailing slash; "" for "/"
    std::string name; // last component, for reopening from the parent
    dev_t device = 0;
    ino_t inode = 0;
    std::string names;            // each name: its getdents type byte, then the NUL-terminated name
    std::vector<uint32_t> starts; // sorted offsets of the names into `names`
    size_t index = 0;
    // split() has looked at the names from here to the end.
    size_t splitFrom = SIZE_MAX;
};

// Reads every name of the open folder. Returns 0 or the errno of a failed read; the names read
// before a failure are kept.
int readNames(int fd, Level& level) {
    alignas(8) static thread_local char buffer[64 * 1024];
    for (;;) {
        ssize_t count = ::getdents64(fd, buffer, sizeof buffer);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t offset = 0; offset < count;) {
            auto* record = reinterpret_cast<struct dirent64*>(buffer + offset);
            offset += record->d_reclen;
            const char* name = record->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
                continue;
            }
            level.names.push_back(static_cast<char>(record->d_type));
            level.starts.push_back(static_cast<uint32_t>(level.names.size()));
            level.names.append(name, std::strlen(name) + 1);
        }
    }
    // Folders go last: the files of a folder are read only by the walk that lists it, while other
    // threads take its subfolders from the end. Files last would leave one thread alone on them.
    const char* base = level.names.data();
    std::sort(level.starts.begin(), level.starts.end(), [base](uint32_t a, uint32_t b) {
        const bool folderA = base[a - 1] == DT_DIR, folderB = base[b - 1] == DT_DIR;
        if (folderA != folderB) {
            return folderB;
        }
        return std::strcmp(base + a, base + b) < 0;
    });
    return 0;
}

class LinuxDirectoryEnumerator final : public DirectoryEnumerator {
public:
    explicit LinuxDirectoryEnumerator(EnumerationErrorHandler onError)
        : onError_(std::move(onError)) {}

    ~LinuxDirectoryEnumerator() override {
        for (auto& level : levels_) {
            if (level.fd >= 0) {
                ::close(level.fd);
            }
        }
        if (pendingFd_ >= 0) {
            ::close(pendingFd_);
        }
    }

    bool openRoot(const std::string& rootPath) {
        int fd = ::open(rootPath.c_str(), folderOpenFlags);
        if (fd < 0) {
            return false;
        }
        struct stat record {};
        if (::fstat(fd, &record) != 0) {
            int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        Level level;
        level.fd = fd;
        level.path = rootPath == "/" ? std::string() : rootPath;
        level.device = record.st_dev;
        level.inode = record.st_ino;
        int failure = readNames(fd, level);
        levels_.push_back(std::move(level));
        if (failure != 0) {
            report(rootPath, failure);
        }
        return true;
    }

    // An enumerator over a folder handed off by split(); it lists the folder on the first next(),
    // on the thread that walks it.
    LinuxDirectoryEnumerator(EnumerationErrorHandler onError, int fd, std::string path,
                             const struct stat& record)
        : onError_(std::move(onError)), unlisted_(true) {
        Level level;
        level.fd = fd;
        level.path = std::move(path);
        level.device = record.st_dev;
        level.inode = record.st_ino;
        levels_.push_back(std::move(level));
    }

    bool next(DirectoryEntry& entry) override {
        if (stopped_) {
            return false;
        }
        if (unlisted_) {
            unlisted_ = false;
            int failure = readNames(levels_.front().fd, levels_.front());
            if (failure != 0 && !report(levels_.front().path, failure)) {
                return false;
            }
        }
        if (pendingDescend_) {
            pendingDescend_ = false;
            descend();
            if (stopped_) {
                return false;
            }
        }
        while (!levels_.empty()) {
            Level& top = levels_.back();
            if (top.index >= top.starts.size()) {
                if (top.fd >= 0) {
                    if (levels_.size() > 1) {
                        climbTo(levels_.size() - 2);
                    }
                    ::close(top.fd);
                    if (levels_.size() > 1) {
                        --openCount_;
                    }
                }
                levels_.pop_back();
                continue;
            }
            if (top.fd < 0 && !reopen(levels_.size() - 1)) {
                continue;
            }
            const char* name = top.names.data() + top.starts[top.index++];
            fill(entry, top, name);
            return true;
        }
        return false;
    }

    void skipDescendants() override {
        pendingDescend_ = false;
        if (pendingFd_ >= 0) {
            ::close(std::exchange(pendingFd_, -1));
        }
    }

    std::unique_ptr<DirectoryEnumerator> split(DirectoryEntry& folder,
                                               EnumerationErrorHandler onError) override {
        if (stopped_ || unlisted_) {
            return nullptr;
        }
        for (size_t depth = 0; depth < std::min(levels_.size(), splitLevels); ++depth) {
            Level& level = levels_[depth];
            if (level.fd < 0) {
                continue;
            }
            level.splitFrom = std::min(level.splitFrom, level.starts.size());
            while (level.splitFrom > level.index) {
                const uint32_t start = level.starts[--level.splitFrom];
                char& type = level.names[start - 1];
                if (type != DT_DIR) {
                    continue;
                }
                // Whatever fails here is left to the walk itself, which meets it in order.
                type = DT_UNKNOWN;
                const char* name = level.names.data() + start;
                struct stat record {};
                // A mount point is left to the walk too: opening it here could mount it.
                if (::fstatat(level.fd, name, &record, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISDIR(record.st_mode) || record.st_dev != level.device) {
                    continue;
                }
                int fd = ::openat(level.fd, name, folderOpenFlags);
                struct stat opened {};
                if (fd < 0) {
                    continue;
                }
                if (::fstat(fd, &opened) != 0 || opened.st_dev != record.st_dev ||
                    opened.st_ino != record.st_ino) {
                    ::close(fd);
                    continue;
                }
                type = handedOffType;
                folder.path.assign(level.path);
                folder.path += '/';
                folder.path += name;
                folder.depth = static_cast<int>(depth) + 1;
                folder.handedOff = false;
                describe(folder, record);
                return std::make_unique<LinuxDirectoryEnumerator>(std::move(onError), fd,
                                                                  folder.path, record);
            }
        }
        return nullptr;
    }

private:
    bool report(const std::string& path, int errorNumber) {
        if (!onError_(path, errorNumber)) {
            stopped_ = true;
            return false;
        }
        return true;
    }

    void fill(DirectoryEntry& entry, const Level& top, const char* name) {
        entry.path.assign(top.path);
        entry.path += '/';
        entry.path += name;
        entry.depth = static_cast<int>(levels_.size());
        entry.entriesInFolder = top.starts.size();
        entry.handedOff = name[-1] == handedOffType;
        struct stat record {};
        if (!entry.handedOff && name[-1] == DT_DIR && openFolder(top.fd, name, record)) {
            describe(entry, record);
            pendingDescend_ = true;
            pendingName_.assign(name);
            pendingPath_ = entry.path;
            pendingDevice_ = record.st_dev;
            pendingInode_ = record.st_ino;
            return;
        }
        if (entry.handedOff || ::fstatat(top.fd, name, &record, AT_SYMLINK_NOFOLLOW) != 0) {
            entry.folderForm = false;
            entry.properties.reset();
            entry.identity.reset();
            return;
        }
        describe(entry, record);
        if (S_ISDIR(record.st_mode)) {
            pendingDescend_ = true;
            pendingName_.assign(name);
            pendingPath_ = entry.path;
            pendingDevice_ = record.st_dev;
            pendingInode_ = record.st_ino;
        }
    }

    static void describe(DirectoryEntry& entry, const struct stat& record) {
        const bool isFolder = S_ISDIR(record.st_mode);
        entry.folderForm = isFolder;
        EntryProperties properties;
        properties.isDirectory = isFolder;
        properties.isSymbolicLink = S_ISLNK(record.st_mode);
        properties.fileSize = record.st_size;
        properties.totalFileAllocatedSize = static_cast<std::int64_t>(record.st_blocks) * 512;
        properties.contentModificationDate = Date(std::chrono::duration_cast<Date::duration>(
            std::chrono::seconds(record.st_mtim.tv_sec) +
            std::chrono::nanoseconds(record.st_mtim.tv_nsec)));
        entry.properties = properties;
        entry.identity = FileIdentity::fromStat(record);
    }

    // A folder the listing says is one is opened at once and its properties read from the open
    // descriptor: one lookup of the name instead of two, and no doubt that the folder listed is
    // the one described. Mount points are left to fstatat, which mounts nothing on its own.
    bool openFolder(int parentFd, const char* name, struct stat& record) {
        if (!openFolders_) {
            return false;
        }
        open_how how{};
        how.flags = folderOpenFlags;
        how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, parentFd, name, &how, sizeof how);
        if (fd < 0) {
            openFolders_ = errno != ENOSYS && errno != EPERM;
            return false;
        }
        if (::fstat(static_cast<int>(fd), &record) != 0 || !S_ISDIR(record.st_mode)) {
            ::close(static_cast<int>(fd));
            return false;
        }
        pendingFd_ = static_cast<int>(fd);
        return true;
    }

    void descend() {
        Level& parent = levels_.back();
        struct stat record {};
        int fd = std::exchange(pendingFd_, -1);
        if (fd >= 0) {
            record.st_dev = pendingDevice_;
            record.st_ino = pendingInode_;
        } else {
            fd = ::openat(parent.fd, pendingName_.c_str(), folderOpenFlags);
        }
        if (fd < 0) {
            report(pendingPath_, errno);
            return;
        }
        if ((record.st_ino == 0 && ::fstat(fd, &record) != 0) || record.st_dev != pendingDevice_ ||
            record.st_ino != pendingInode_) {
            // Replaced between the stat and the open: not the folder that was yielded.
            ::close(fd);
            report(pendingPath_, ENOENT);
            return;
        }
        Level level;
        level.fd = fd;
        level.path = pendingPath_;
        level.name = pendingName_;
        level.device = record.st_dev;
        level.inode = record.st_ino;
        int failure = readNames(fd, level);
        levels_.push_back(std::move(level));
        ++openCount_;
        limitOpenFolders();
        if (failure != 0) {
            report(pendingPath_, failure);
        }
    }

    // Closes the shallowest open folders (never the root) beyond the budget.
    void limitOpenFolders() {
        for (size_t i = 1; openCount_ > maximumOpenFolders && i + 1 < levels_.size(); ++i) {
            if (levels_[i].fd >= 0) {
                ::close(levels_[i].fd);
                levels_[i].fd = -1;
                --openCount_;
            }
        }
    }

    // Going back up a deep tree, opens the closed parent level `index` from its open child through
    // "..", so that each level costs one open; reopen() remains for when that fails.
    void climbTo(size_t index) {
        if (levels_[index].fd >= 0) {
            return;
        }
        Level& level = levels_[index];
        int fd = ::openat(levels_[index + 1].fd, "..", folderOpenFlags);
        struct stat record {};
        if (fd >= 0 && ::fstat(fd, &record) == 0 && record.st_dev == level.device &&
            record.st_ino == level.inode) {
            level.fd = fd;
            ++openCount_;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }

    // Reopens level `index` and any closed levels above it from the nearest open ancestor. On
    // failure the rest of that folder is reported and abandoned.
    bool reopen(size_t index) {
        size_t open = index;
        while (levels_[open].fd < 0) {
            --open;
        }
        for (size_t i = open + 1; i <= index; ++i) {
            Level& level = levels_[i];
            int fd = ::openat(levels_[i - 1].fd, level.name.c_str(), folderOpenFlags);
            struct stat record {};
            if (fd < 0 || ::fstat(fd, &record) != 0 || record.st_dev != level.device ||
                record.st_ino != level.inode) {
                int failure = fd < 0 ? errno : ENOENT;
                if (fd >= 0) {
                    ::close(fd);
                }
                levels_[index].index = levels_[index].starts.size();
                report(levels_[index].path.empty() ? "/" : levels_[index].path, failure);
                return false;
            }
            level.fd = fd;
            ++openCount_;
        }
        return true;
    }

    EnumerationErrorHandler onError_;
    std::vector<Level> levels_;
    size_t openCount_ = 0;
    bool stopped_ = false;
    bool unlisted_ = false;
    bool pendingDescend_ = false;
    // The folder last yielded, when it was opened to be described.
    int pendingFd_ = -1;
    // False once openat2 turns out to be missing.
    bool openFolders_ = true;
    std::string pendingName_;
    std::string pendingPath_;
    dev_t pendingDevice_ = 0;
    ino_t pendingInode_ = 0;
};

} // namespace

std::unique_ptr<DirectoryEnumerator> openLinuxDirectoryEnumerator(const std::string& rootPath,
                                                                  EnumerationErrorHandler onError) {
    auto enumerator = std::make_unique<LinuxDirectoryEnumerator>(std::move(onError));
    if (!enumerator->openRoot(rootPath)) {
        return nullptr;
    }
    return enumerator;
}

} // namespace varnok

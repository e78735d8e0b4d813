#include "platform/linux/LinuxTrash.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "platform/linux/Descriptor.hpp"
#include "platform/linux/LinuxPlatform.hpp"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace varnok {
namespace {

constexpr int pathFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
// The info file name must fit a file name of 255 bytes.
constexpr size_t maximumTrashName = 255 - std::string_view(".trashinfo").size();

std::string join(const std::string& folder, std::string_view name) {
    return (folder == "/" ? std::string() : folder) + "/" + std::string(name);
}

std::string quoted(const std::string& path) {
    return "\u201c" + PathText::displayable(PathText::lastComponent(path)) + "\u201d";
}

CleanupProblem noUsableTrash(const std::string& path) {
    return CleanupProblem(quoted(path) +
                          " couldn\u2019t be moved to the Trash because its file system has no "
                          "usable Trash folder. Nothing was copied or deleted.");
}

// The device of the nearest existing folder at or above `path`.
std::optional<dev_t> deviceOfNearestExisting(std::string path) {
    for (;;) {
        struct stat record {};
        if (::stat(path.c_str(), &record) == 0) {
            return record.st_dev;
        }
        if (path == "/") {
            return std::nullopt;
        }
        path = PathText::parent(path);
    }
}

// The mount point holding `folder` (an existing folder): walking up until the device changes.
std::string mountTop(const std::string& folder, dev_t device) {
    std::string top = folder;
    while (top != "/") {
        std::string up = PathText::parent(top);
        struct stat record {};
        if (::stat(up.c_str(), &record) != 0 || record.st_dev != device) {
            break;
        }
        top = up;
    }
    return top;
}

// A real folder (not a link) owned by the current user.
bool isOwnFolder(const std::string& path) {
    struct stat record {};
    return ::lstat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode) &&
           record.st_uid == ::getuid();
}

// $topdir/.Trash is usable only as a real folder with the sticky bit.
bool sharedTrashIsUsable(const std::string& top) {
    struct stat record {};
    return ::lstat(join(top, ".Trash").c_str(), &record) == 0 && S_ISDIR(record.st_mode) &&
           (record.st_mode & S_ISVTX) != 0;
}

std::string uidText() {
    return std::to_string(::getuid());
}

// The trash folders a mount may hold for the current user, in order of preference.
std::vector<std::string> topTrashCandidates(const std::string& top) {
    std::vector<std::string> candidates;
    if (sharedTrashIsUsable(top)) {
        candidates.push_back(join(join(top, ".Trash"), uidText()));
    }
    candidates.push_back(join(top, ".Trash-" + uidText()));
    return candidates;
}

// Creates a missing folder with mode 0700; an existing one is fine.
bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool makeFolders(const std::string& path) {
    if (path == "/") {
        return true;
    }
    struct stat record {};
    if (::stat(path.c_str(), &record) == 0) {
        return S_ISDIR(record.st_mode);
    }
    return makeFolders(PathText::parent(path)) && makeFolder(path);
}

// The escaping of trash info paths: unreserved characters and "/" kept, every other byte %XX.
std::string escapeInfoPath(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
    }
    return out;
}

// Local time without zone or fraction: the form trash readers parse.
std::string deletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local {};
    char text[32];
    if (now == static_cast<std::time_t>(-1) || ::localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
        return "9999-12-31T23:59:59";
    }
    return text;
}

// Cuts `text` to at most `size` bytes without splitting a UTF-8 sequence.
std::string utf8Prefix(std::string_view text, size_t size) {
    if (text.size() <= size) {
        return std::string(text);
    }
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    return std::string(text.substr(0, size));
}

// "name.ext", then "name.2.ext", "name.3.ext", ...; kept short enough for the info file name.
std::string candidateName(const std::string& base, int attempt) {
    if (attempt == 1 && base.size() <= maximumTrashName) {
        return base;
    }
    size_t dot = base.find('.', 1);
    std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    std::string extension = dot == std::string::npos ? std::string() : base.substr(dot);
    if (extension.size() > 40) {
        stem = base;
        extension.clear();
    }
    std::string suffix = attempt == 1 ? extension : "." + std::to_string(attempt) + extension;
    return utf8Prefix(stem, maximumTrashName - suffix.size()) + suffix;
}

struct ChosenTrash {
    std::string path;
    Descriptor folder;
    // Absolute in the home trash, relative to the mount point in a mount's trash.
    std::string infoPath;
};

// Opens `trash` when it is a real folder on `device`; invalid descriptor otherwise.
Descriptor openTrash(const std::string& trash, dev_t device, bool followLink) {
    Descriptor fd(::open(trash.c_str(), pathFlags | (followLink ? 0 : O_NOFOLLOW)));
    struct stat record {};
    if (fd.get() < 0 || ::fstat(fd.get(), &record) != 0 || !S_ISDIR(record.st_mode) ||
        record.st_dev != device) {
        return Descriptor();
    }
    return fd;
}

ChosenTrash chooseTrash(const std::string& itemPath, const std::string& parentPath, dev_t device) {
    const std::string home = LinuxTrash::homeTrashPath();
    if (deviceOfNearestExisting(home) == device) {
        // The home trash may be reached through a link, like the data folder itself.
        if (makeFolders(home)) {
            if (Descriptor fd = openTrash(home, device, true); fd.get() >= 0) {
                return ChosenTrash{home, std::move(fd), itemPath};
            }
        }
        // Items of the home's file system belong in the home Trash: a broken one is reported,
        // never replaced by a Trash at the top of that file system.
        struct stat record {};
        const bool notFolder = ::stat(home.c_str(), &record) == 0 && !S_ISDIR(record.st_mode);
        throw CleanupProblem(quoted(itemPath) + " couldn\u2019t be moved to the Trash because " +
                             PathText::displayable(home) +
                             (notFolder ? " is not a folder." : " cannot be created or opened.") +
                             " Nothing was copied or deleted.");
    }
    const std::string top = mountTop(parentPath, device);
    std::string relative = top == "/" ? itemPath.substr(1) : itemPath.substr(top.size() + 1);
    for (const std::string& candidate : topTrashCandidates(top)) {
        makeFolder(candidate);
        if (!isOwnFolder(candidate)) {
            continue;
        }
        if (Descriptor fd = openTrash(candidate, device, false); fd.get() >= 0) {
            return ChosenTrash{candidate, std::move(fd), relative};
        }
    }
    throw noUsableTrash(itemPath);
}

Descriptor openSubfolder(const ChosenTrash& trash, const char* name, dev_t device) {
    if (::mkdirat(trash.folder.get(), name, 0700) != 0 && errno != EEXIST) {
        throw FileError::fromWriteErrno(errno, join(trash.path, name));
    }
    struct stat entry {};
    if (::fstatat(trash.folder.get(), name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(entry.st_mode)) {
        throw CleanupProblem("The Trash folder " + PathText::displayable(join(trash.path, name)) +
                             (S_ISLNK(entry.st_mode) ? " is a symbolic link" : " is not a folder") +
                             ", so nothing is moved into it. Nothing was copied or deleted.");
    }
    Descriptor fd(::openat(trash.folder.get(), name, pathFlags | O_NOFOLLOW));
    struct stat record {};
    if (fd.get() < 0 || ::fstat(fd.get(), &record) != 0 || record.st_dev != device) {
        throw FileError::fromWriteErrno(fd.get() < 0 ? errno : EXDEV, join(trash.path, name));
    }
    return fd;
}

// The trash folder whose files/ folder strictly contains `path` (symbolic links resolved), and
// the name of the top-level entry there.
std::optional<std::pair<std::string, std::string>> trashHolding(const std::string& path) {
    auto within =
        [&](const std::string& trash) -> std::optional<std::pair<std::string, std::string>> {
        std::string files = join(trash, "files");
        if (!PathText::isInside(path, files)) {
            return std::nullopt;
        }
        std::string rest = path.substr(files.size() + 1);
        return std::make_pair(trash, rest.substr(0, rest.find('/')));
    };
    LinuxPlatform platform;
    // The home Trash first: it holds nearly everything, and finding a volume's top folder costs
    // a stat per ancestor.
    if (auto held = within(
            platform.resolvingSymlinks(Url::file(LinuxTrash::homeTrashPath(), true)).path())) {
        return held;
    }
    if (auto device = deviceOfNearestExisting(path)) {
        std::string existing = path;
        struct stat record {};
        while (existing != "/" && ::stat(existing.c_str(), &record) != 0) {
            existing = PathText::parent(existing);
        }
        for (const std::string& candidate : topTrashCandidates(mountTop(existing, *device))) {
            if (isOwnFolder(candidate)) {
                if (auto held = within(candidate)) {
                    return held;
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::string LinuxTrash::homeTrashPath() {
    return join(LinuxPlatform().applicationSupportDirectory().path(), "Trash");
}

Url LinuxTrash::moveToTrash(const Url& item) {
    const std::string path = PathText::standardize(item.path());
    if (!item.isFileUrl() || path == "/" || path.find('\0') != std::string::npos) {
        throw FileError(FileError::noSuchFile, path);
    }
    const std::string parentPath = PathText::parent(path);
    const std::string base = PathText::lastComponent(path);

    Descriptor parent(::open(parentPath.c_str(), pathFlags | O_NOFOLLOW));
    if (parent.get() < 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    struct stat parentRecord {};
    struct stat itemRecord {};
    if (::fstat(parent.get(), &parentRecord) != 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    if (::fstatat(parent.get(), base.c_str(), &itemRecord, AT_SYMLINK_NOFOLLOW) != 0) {
        throw FileError::fromReadErrno(errno, path);
    }
    // The parent decides the file system: overlay mounts may report other devices for files.
    const dev_t device = parentRecord.st_dev;
    ChosenTrash trash = chooseTrash(path, parentPath, device);
    LinuxPlatform platform;
    const std::string trashResolved =
        platform.resolvingSymlinks(Url::file(trash.path, true)).path();
    const std::string itemResolved = platform.resolvingSymlinks(Url::file(path, false)).path();
    if (PathText::equivalent(trashResolved, itemResolved) ||
        PathText::isInsideEquivalent(trashResolved, itemResolved)) {
        throw CleanupProblem(quoted(path) +
                             " couldn\u2019t be moved to the Trash because it holds the Trash.");
    }
    Descriptor files = openSubfolder(trash, "files", device);
    Descriptor info = openSubfolder(trash, "info", device);
    const std::string record = "[Trash Info]\nPath=" + escapeInfoPath(trash.infoPath) +
                               "\nDeletionDate=" + deletionDate() + "\n";

    for (int attempt = 1; attempt <= 10000; ++attempt) {
        const std::string name = candidateName(base, attempt);
        const std::string infoName = name + ".trashinfo";
        Descriptor claim(::openat(info.get(), infoName.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (claim.get() < 0) {
            if (errno == EEXIST) {
                continue;
            }
            throw FileError::fromWriteErrno(errno, join(join(trash.path, "info"), infoName));
        }
        // The record is complete before the item moves, so readers never see it empty. It is not
        // flushed, as gio and trash-put do not: the cleanup's journal, flushed before each move,
        // is what says where an item went after a power loss.
        int failure = writeAll(claim.get(), record);
        if (failure == 0 && ::close(claim.release()) != 0) {
            failure = errno;
        }
        if (failure == 0 && ::renameat2(parent.get(), base.c_str(), files.get(), name.c_str(),
                                        RENAME_NOREPLACE) == 0) {
            // Where the item really is: a home Trash reached through a link is named by its
            // resolved path, which is what a later restore proves the item by.
            return Url::file(join(join(trashResolved, "files"), name), S_ISDIR(itemRecord.st_mode));
        }
        if (failure == 0) {
            failure = errno;
        }
        // Only the record claimed above is removed: it is the trash's bookkeeping, not user data.
        ::unlinkat(info.get(), infoName.c_str(), 0);
        if (failure == EEXIST) {
            continue; // an entry in files/ without its record
        }
        if (failure == EXDEV || failure == EINVAL || failure == ENOSYS) {
            throw noUsableTrash(path);
        }
        throw FileError::fromWriteErrno(failure, path);
    }
    throw FileError(FileError::writeFileExists, path);
}

bool LinuxTrash::isInTrash(const Url& url) {
    if (!url.isFileUrl()) {
        return false;
    }
    std::string path = LinuxPlatform().resolvingSymlinks(url).path();
    return trashHolding(path).has_value();
}

std::optional<Url> LinuxTrash::infoFile(const Url& trashItem) {
    if (!trashItem.isFileUrl()) {
        return std::nullopt;
    }
    auto holding = trashHolding(LinuxPlatform().resolvingSymlinks(trashItem).path());
    if (!holding) {
        return std::nullopt;
    }
    return Url::file(join(join(holding->first, "info"), holding->second + ".trashinfo"), false);
}

} // namespace varnok

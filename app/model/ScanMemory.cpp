#include "app/model/ScanMemory.hpp"

#include "core/common/FileError.hpp"
#include "core/snapshot/ScanArchive.hpp"
#include "core/snapshot/ScanDiff.hpp"
#include "platform/Platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>

namespace varnok {

namespace {

constexpr std::string_view recordHeader = "ombrelo remembered scan 1\n";
constexpr std::string_view growthHeader = "ombrelo home growth 1\n";
constexpr std::string_view recordSuffix = ".scan";
constexpr std::string_view scanSuffix = ".json.gz";
constexpr std::string_view partialMark = ".partial-";
constexpr std::string_view growthName = "home-growth";
// Our records are a few hundred bytes; anything much larger is not one.
constexpr off_t largestRecord = 64 * 1024;
// What a stopped save or removal left behind is cleared once it cannot belong to one still
// running, in this or another window.
constexpr std::int64_t staleAfterSeconds = 24 * 3600;

// Removals, the sweep of leftovers and the choice of a new id never interleave within a process;
// each is short, so the GUI thread may wait for it.
std::mutex storeMutex;

std::string withoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

bool isId(std::string_view text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string newId() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    static constexpr char digits[] = "0123456789abcdef";
    std::uint64_t value = generator();
    std::string id(16, '0');
    for (char& c : id) {
        c = digits[value & 15];
        value >>= 4;
    }
    return id;
}

// The contents of a small regular file (never through a link); nothing when it is not one.
std::optional<std::string> readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> contents;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= largestRecord) {
        std::string text(static_cast<size_t>(info.st_size), '\0');
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got <= 0) {
                break;
            }
            done += static_cast<size_t>(got);
        }
        if (done == text.size()) {
            contents = std::move(text);
        }
    }
    ::close(fd);
    return contents;
}

// Writes `contents` beside `path` and renames it over `path`, so that `path` is complete or
// absent.
void writeWhole(const std::string& path, std::string_view contents) {
    const std::string temporary = path + std::string(partialMark) + newId();
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        throw FileError::fromWriteErrno(errno, path);
    }
    size_t done = 0;
    int failure = 0;
    while (done < contents.size()) {
        const ssize_t wrote = ::write(fd, contents.data() + done, contents.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            failure = errno;
            break;
        }
        done += static_cast<size_t>(wrote);
    }
    if (failure == 0 && ::fsync(fd) != 0) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str()); // our own temporary file
        throw FileError::fromWriteErrno(failure, path);
    }
}

std::optional<std::int64_t> number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Reads "key value\n" at `at`, moving past it.
std::optional<std::int64_t> field(std::string_view text, size_t& at, std::string_view key) {
    if (text.substr(at, key.size() + 1) != std::string(key) + " ") {
        return std::nullopt;
    }
    const size_t start = at + key.size() + 1;
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    at = end + 1;
    return number(text.substr(start, end - start));
}

// The last field runs to the end of the file, so that a folder name may hold any byte.
std::optional<std::string> lastField(std::string_view text, size_t at, std::string_view key) {
    if (text.substr(at, key.size() + 1) != std::string(key) + " ") {
        return std::nullopt;
    }
    std::string value(text.substr(at + key.size() + 1));
    if (value.empty() || value.front() != '/' || value.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return value;
}

struct Record {
    std::string folder;
    std::int64_t takenAt = 0;
    std::int64_t folderSize = 0;
};

std::string recordText(const Record& record) {
    return std::string(recordHeader) + "taken " + std::to_string(record.takenAt) + "\nsize " +
           std::to_string(record.folderSize) + "\nfolder " + record.folder;
}

std::optional<Record> parseRecord(std::string_view text) {
    if (text.substr(0, recordHeader.size()) != recordHeader) {
        return std::nullopt;
    }
    size_t at = recordHeader.size();
    const auto taken = field(text, at, "taken");
    const auto size = taken ? field(text, at, "size") : std::nullopt;
    auto folder = size ? lastField(text, at, "folder") : std::nullopt;
    if (!folder || *size < 0) {
        return std::nullopt;
    }
    return Record{std::move(*folder), *taken, *size};
}

std::optional<struct stat> linkStatus(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return info;
}

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* stream = ::opendir(folder.c_str());
    if (stream == nullptr) {
        return names;
    }
    while (const dirent* record = ::readdir(stream)) {
        names.emplace_back(record->d_name);
    }
    ::closedir(stream);
    return names;
}

// Creates the store with its parents. A scan lists every name in a folder, so a store made here
// is for its owner's eyes only.
void makeStore(const std::string& root) {
    std::error_code code;
    if (std::filesystem::create_directories(root, code)) {
        std::filesystem::permissions(root, std::filesystem::perms::owner_all, code);
    }
    if (code) {
        throw FileError::fromWriteErrno(code.value(), root);
    }
}

// Removes a regular file of ours; anything else at that path stays.
void removeOurFile(const std::string& path) {
    if (auto info = linkStatus(path); info && S_ISREG(info->st_mode)) {
        ::unlink(path.c_str());
    }
}

} // namespace

std::string ScanMemory::defaultFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base =
        state != nullptr && state[0] == '/'
            ? withoutTrailingSlash(state)
            : withoutTrailingSlash(Platform::current().homeDirectory().path()) + "/.local/state";
    return base + "/ombrelo/scans";
}

std::vector<RememberedScan> ScanMemory::all() const {
    std::vector<RememberedScan> scans;
    for (const std::string& name : namesIn(root)) {
        if (!endsWith(name, recordSuffix) ||
            !isId(std::string_view(name).substr(0, name.size() - recordSuffix.size()))) {
            continue;
        }
        const std::string id = name.substr(0, name.size() - recordSuffix.size());
        const auto text = readSmallFile(root + "/" + name);
        const auto record = text ? parseRecord(*text) : std::nullopt;
        const std::string file = root + "/" + id + std::string(scanSuffix);
        const auto info = record ? linkStatus(file) : std::nullopt;
        if (!info || !S_ISREG(info->st_mode)) {
            continue;
        }
        scans.push_back(
            {id, file, record->folder, record->takenAt, record->folderSize,
             static_cast<std::int64_t>(info->st_blocks) * 512,
             static_cast<std::int64_t>(info->st_mtim.tv_sec) * 1000000000 + info->st_mtim.tv_nsec});
    }
    std::sort(scans.begin(), scans.end(), [](const RememberedScan& a, const RememberedScan& b) {
        if (a.takenAt != b.takenAt) {
            return a.takenAt > b.takenAt;
        }
        return a.savedAt != b.savedAt ? a.savedAt > b.savedAt : a.id > b.id;
    });
    return scans;
}

std::vector<RememberedScan> ScanMemory::scansOf(const std::string& folder) const {
    const std::string wanted = withoutTrailingSlash(folder);
    std::vector<RememberedScan> scans = all();
    std::erase_if(scans, [&](const RememberedScan& scan) { return scan.folder != wanted; });
    return scans;
}

RememberedScan ScanMemory::remember(const ScanResult& result, const std::string& folder,
                                    std::int64_t takenAt) const {
    return remember(result.root, result.otherFileSystems, folder, takenAt);
}

RememberedScan ScanMemory::remember(const FileNode& tree,
                                    const std::vector<std::string>& otherFileSystems,
                                    const std::string& folder, std::int64_t takenAt) const {
    std::string id;
    std::string record;
    {
        std::lock_guard lock(storeMutex);
        makeStore(root);
        do {
            id = newId();
            record = root + "/" + id + std::string(recordSuffix);
        } while (linkStatus(record) || linkStatus(root + "/" + id + std::string(scanSuffix)));
        writeWhole(record, recordText({withoutTrailingSlash(folder), takenAt, tree.allocatedSize}));
    }
    // Not under the lock: a removal in Settings must not wait for a long save. Until its scan
    // file appears, the record is not listed, and it is too young to be cleared.
    try {
        ScanArchive::save(tree, otherFileSystems, takenAt,
                          root + "/" + id + std::string(scanSuffix));
    } catch (...) {
        removeOurFile(record);
        throw;
    }
    prune();
    for (RememberedScan& scan : all()) {
        if (scan.id == id) {
            return scan;
        }
    }
    // Over the capacity on its own: already dropped again.
    return {id,
            root + "/" + id + std::string(scanSuffix),
            withoutTrailingSlash(folder),
            takenAt,
            tree.allocatedSize,
            0,
            0};
}

bool ScanMemory::forget(const std::string& id) const {
    if (!isId(id)) {
        return false;
    }
    std::lock_guard lock(storeMutex);
    const std::string record = root + "/" + id + std::string(recordSuffix);
    const auto text = readSmallFile(record);
    if (!text || !parseRecord(*text)) {
        return false;
    }
    // The scan first: a record left alone by a stop midway is cleared later.
    const std::string file = root + "/" + id + std::string(scanSuffix);
    const auto info = linkStatus(file);
    const bool listed = info && S_ISREG(info->st_mode);
    removeOurFile(file);
    removeOurFile(record);
    return listed;
}

void ScanMemory::prune() const {
    std::vector<RememberedScan> scans = all(); // newest first
    std::map<std::string, int> kept;
    std::vector<const RememberedScan*> dropped;
    std::vector<const RememberedScan*> remaining;
    for (const RememberedScan& scan : scans) {
        if (++kept[scan.folder] > scansPerFolder) {
            dropped.push_back(&scan);
        } else {
            remaining.push_back(&scan);
        }
    }
    std::int64_t total = 0;
    for (const RememberedScan* scan : remaining) {
        total += scan->sizeOnDisk;
    }
    for (auto it = remaining.rbegin(); it != remaining.rend() && total > capacity; ++it) {
        total -= (*it)->sizeOnDisk;
        dropped.push_back(*it);
    }
    for (const RememberedScan* scan : dropped) {
        forget(scan->id);
    }

    // Leftovers of a save or removal that stopped midway, once they are old enough. Every
    // decision is made before anything goes, so the order the folder lists its names in cannot
    // hide a partial scan behind a record removed first.
    std::lock_guard lock(storeMutex);
    const std::int64_t cutoff = now() - staleAfterSeconds;
    auto allDigits = [](std::string_view text) {
        return !text.empty() &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::string growthPartial = std::string(growthName) + std::string(partialMark);
    std::vector<std::string> leftovers;
    for (const std::string& name : namesIn(root)) {
        const std::string path = root + "/" + name;
        const auto info = linkStatus(path);
        if (!info || !S_ISREG(info->st_mode) || info->st_mtime > cutoff) {
            continue;
        }
        if (name.starts_with(growthPartial) && isId(name.substr(growthPartial.size()))) {
            leftovers.push_back(path);
            continue;
        }
        const std::string_view id = std::string_view(name).substr(0, 16);
        if (!isId(id) || name.size() < 17 || name[16] != '.') {
            continue;
        }
        const std::string_view rest = std::string_view(name).substr(16);
        const std::string recordPartial = std::string(recordSuffix) + std::string(partialMark);
        const std::string scanPartial = std::string(scanSuffix) + std::string(partialMark);
        // Both partial names are ours alone: an id of ours, our suffix, the writer's mark.
        const bool isPartial =
            (rest.starts_with(recordPartial) && isId(rest.substr(recordPartial.size()))) ||
            (rest.starts_with(scanPartial) && allDigits(rest.substr(scanPartial.size())));
        bool isLoneRecord = false;
        if (rest == recordSuffix) {
            const auto text = readSmallFile(path);
            isLoneRecord = text && parseRecord(*text) &&
                           !linkStatus(root + "/" + std::string(id) + std::string(scanSuffix));
        }
        if (isPartial || isLoneRecord) {
            leftovers.push_back(path);
        }
    }
    for (const std::string& path : leftovers) {
        ::unlink(path.c_str());
    }
}

std::optional<HomeGrowth> ScanMemory::homeGrowth() const {
    const auto text = readSmallFile(root + "/" + std::string(growthName));
    if (!text || text->substr(0, growthHeader.size()) != growthHeader) {
        return std::nullopt;
    }
    size_t at = growthHeader.size();
    const auto since = field(*text, at, "since");
    const auto size = since ? field(*text, at, "size") : std::nullopt;
    auto folder = size ? lastField(*text, at, "folder") : std::nullopt;
    if (!folder || *size <= 0) {
        return std::nullopt;
    }
    return HomeGrowth{*since, *size, std::move(*folder)};
}

void ScanMemory::setHomeGrowth(const std::optional<HomeGrowth>& growth) const {
    std::lock_guard lock(storeMutex);
    makeStore(root);
    // No growth is kept as a record without a folder, which reads as none.
    std::string text(growthHeader);
    if (growth) {
        text += "since " + std::to_string(growth->since) + "\nsize " +
                std::to_string(growth->size) + "\nfolder " + growth->folder;
    }
    writeWhole(root + "/" + std::string(growthName), text);
}

namespace {

// Whether `path` is `ancestor` or below it; both "/"-separated below one root, "" the root.
bool isWithin(std::string_view path, std::string_view ancestor) {
    return ancestor.empty() || path == ancestor ||
           (path.size() > ancestor.size() && path.substr(0, ancestor.size()) == ancestor &&
            path[ancestor.size()] == '/');
}

// The node at `relative` below `root` ("" for the root itself), if the tree holds it.
const FileNode* nodeAt(const FileNode& root, std::string_view relative) {
    const FileNode* node = &root;
    for (size_t start = 0; node != nullptr && start < relative.size();) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view name = relative.substr(start, end - start);
        const auto found =
            std::find_if(node->children.begin(), node->children.end(),
                         [&](const FileNode& child) { return child.name() == name; });
        node = found == node->children.end() ? nullptr : &*found;
        start = end + 1;
    }
    return node;
}

} // namespace

std::optional<HomeGrowth> ScanMemory::growthOf(const FileNode& older, const FileNode& newer,
                                               std::int64_t olderTakenAt, const std::string& home,
                                               const std::string& excluded, std::int64_t floor) {
    const std::string base = withoutTrailingSlash(home);
    // The remembered scans themselves may live in the home; their growth is not the user's.
    std::optional<std::string> store;
    const std::string outside = withoutTrailingSlash(excluded);
    if (isWithin(outside, base) && outside.size() > base.size()) {
        store = outside.substr(base == "/" ? 1 : base.size() + 1);
    }
    std::int64_t storeOld = 0;
    std::int64_t storeNew = 0;
    if (store) {
        const FileNode* before = nodeAt(older, *store);
        const FileNode* after = nodeAt(newer, *store);
        storeOld = before != nullptr ? before->allocatedSize : 0;
        storeNew = after != nullptr ? after->allocatedSize : 0;
    }
    const auto holdsStore = [&](std::string_view path) { return store && isWithin(*store, path); };
    const auto changeOf = [&](const ScanChange& change) {
        return change.change() - (holdsStore(change.path) ? storeNew - storeOld : 0);
    };

    const ScanDiff diff = ScanDiff::compare(older, newer);
    std::int64_t growth = diff.newTotal - diff.oldTotal - (storeNew - storeOld);
    if (growth < std::max<std::int64_t>(floor, 1)) {
        return std::nullopt;
    }
    std::string below; // "" for the home itself
    int depth = 0;
    bool isNew = false;
    for (;;) {
        const ScanChange* biggest = nullptr;
        for (const ScanChange& change : diff.changes) {
            if (change.isDirectory && change.depth == depth + 1 &&
                (depth == 0 || (isWithin(change.path, below) && change.path != below)) &&
                (biggest == nullptr || changeOf(change) > changeOf(*biggest))) {
                biggest = &change;
            }
        }
        if (biggest == nullptr || static_cast<double>(changeOf(*biggest)) < 0.8 * growth) {
            break;
        }
        below = biggest->path;
        growth = changeOf(*biggest);
        ++depth;
        if (biggest->kind == ScanChange::Kind::appeared) {
            isNew = true;
            break;
        }
    }
    // A new folder is one change: what it holds is all growth, so the way down goes on in the
    // new tree by size.
    const FileNode* node = isNew ? nodeAt(newer, below) : nullptr;
    const auto sizeOf = [&](const FileNode& folder, const std::string& path) {
        return folder.allocatedSize - (holdsStore(path) ? storeNew : 0);
    };
    while (node != nullptr) {
        const FileNode* biggest = nullptr;
        std::int64_t biggestSize = 0;
        for (const FileNode& child : node->children) {
            const std::int64_t size = sizeOf(child, below + "/" + child.name());
            if (child.isDirectory && !child.isSymbolicLink &&
                (biggest == nullptr || size > biggestSize)) {
                biggest = &child;
                biggestSize = size;
            }
        }
        if (biggest == nullptr ||
            static_cast<double>(biggestSize) < 0.8 * static_cast<double>(sizeOf(*node, below))) {
            break;
        }
        below += "/" + biggest->name();
        node = biggest;
        growth = biggestSize;
    }
    return HomeGrowth{olderTakenAt, growth,
                      below.empty() ? base : (base == "/" ? "/" : base + "/") + below};
}

} // namespace varnok

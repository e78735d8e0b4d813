#pragma once

#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FileIdentity.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// The five properties the enumerator reads with every entry. Any of them may be missing.
struct EntryProperties {
    std::optional<bool> isDirectory;
    std::optional<bool> isSymbolicLink;
    std::optional<std::int64_t> fileSize;
    std::optional<std::int64_t> totalFileAllocatedSize;
    std::optional<Date> contentModificationDate;
};

// One entry yielded by a DirectoryEnumerator. The enumerator reuses the value between calls.
struct DirectoryEntry {
    std::string path;
    // The entry's URL is in folder form (it is a real folder).
    bool folderForm = false;
    // Missing when the entry's properties could not be read.
    std::optional<EntryProperties> properties;
    // Taken from the same system call as the properties, so that a walk needs one per entry.
    std::optional<FileIdentity> identity;
    // Folders below the enumerated root: 1 for its direct entries.
    int depth = 0;
    // The folder was handed to another enumerator by split(): only `path` and `depth` are set,
    // and nothing below it follows from this enumerator.
    bool handedOff = false;
    // How many entries the entry's folder holds, when known (0 otherwise); lets a reader size
    // its lists once.
    std::size_t entriesInFolder = 0;
};

// Called for an entry or folder the enumerator cannot read, with the errno. Returns whether to go
// on.
using EnumerationErrorHandler = std::function<bool(const std::string& path, int errorNumber)>;

// Depth-first walk of one folder: every entry before its descendants, hidden entries included,
// symbolic links never followed. An entry whose properties cannot be read comes without
// properties and identity, and the walk never descends below it; the error handler hears only of
// folders that cannot be opened or listed. The scan engine relies on both.
class DirectoryEnumerator {
public:
    virtual ~DirectoryEnumerator() = default;
    // Fills `entry` with the next entry; false when the walk is over.
    virtual bool next(DirectoryEntry& entry) = 0;
    // Do not descend into the folder last returned by next().
    virtual void skipDescendants() = 0;
    // Lets another thread walk part of the tree: takes a folder this walk has listed but not yet
    // reached, from the shallowest level that has one, and returns an enumerator over it, opened
    // relative to its parent, that reports to `onError` and yields the folder's entries at depth
    // 1. `folder` receives the folder's own entry, at its depth in this walk, which later yields
    // it again as a handed-off entry and never enters it. Nothing when there is no such folder;
    // enumerators that cannot split never do.
    virtual std::unique_ptr<DirectoryEnumerator> split(DirectoryEntry& folder,
                                                       EnumerationErrorHandler onError) {
        (void)folder;
        (void)onError;
        return nullptr;
    }
};

struct ResourceValues {
    std::optional<bool> isDirectory;
    std::optional<bool> isReadable;
    std::optional<bool> isSymbolicLink;
    std::optional<std::int64_t> fileSize;
    std::optional<std::int64_t> totalFileAllocatedSize;
    std::optional<Date> contentModificationDate;
};

// The operating system's file services behind one interface. The core calls `Platform::current()`;
// tests may install a subclass that fails at a chosen step.
class Platform {
public:
    virtual ~Platform() = default;

    static Platform& current();
    // Installs `platform` for the whole process (nullptr restores the system one). For tests.
    static void setCurrent(Platform* platform);

    // Null when the walk cannot be started.
    virtual std::unique_ptr<DirectoryEnumerator> enumerator(const Url& root,
                                                            EnumerationErrorHandler onError) = 0;

    // Every symbolic link in the path resolved (parts that do not exist are kept as written),
    // then standardised; ".." after a link leads to the parent of the link's target, as the
    // system takes it. An existing folder comes back in folder form.
    virtual Url resolvingSymlinks(const Url& url) = 0;
    // Properties of the object itself (a final symbolic link is not followed). Throws FileError.
    virtual ResourceValues resourceValues(const Url& url) = 0;

    // Read from the environment on every call: tests and the application change it.
    virtual Url homeDirectory() = 0;
    virtual Url temporaryDirectory() = 0;
    // $XDG_DATA_HOME, or ~/.local/share; the counterpart of Application Support.
    virtual Url applicationSupportDirectory() = 0;

    // The direct entries of a folder, folders in folder form. Throws FileError.
    virtual std::vector<Url> contentsOfDirectory(const Url& folder) = 0;
    // Follows a final symbolic link, as a file manager's existence test does.
    virtual bool fileExists(const Url& url) = 0;
    // Readable by the current user (effective ids).
    virtual bool isReadableFile(const Url& url) = 0;
    // Throws FileError; an existing folder is not an error with intermediate directories.
    virtual void createDirectory(const Url& folder, bool withIntermediateDirectories) = 0;
    // Creates the file; refuses (FileError 516) when something exists at the path.
    virtual void writeNew(const Url& file, std::string_view bytes) = 0;
    // Never seen half-written: temporary file in the same folder, flushed, renamed over.
    virtual void writeAtomically(const Url& file, std::string_view bytes) = 0;
    virtual std::string readFile(const Url& file) = 0;
    // Appends `bytes`; with `flush`, they and everything appended before are on disk (fdatasync)
    // before this returns. `create` makes a new file, refusing an existing one, and with `flush`
    // makes its folder entry durable too. A failed append leaves the file as long as it was.
    // Throws FileError.
    virtual void appendRecord(const Url& file, std::string_view bytes, bool create, bool flush);

    // Moves the item into the Trash of its own file system; never copies or deletes. Returns the
    // item's URL in the Trash when known. Throws FileError or CleanupProblem.
    virtual std::optional<Url> moveToTrash(const Url& url) = 0;
    // True only when the URL lies inside a Trash's folder of trashed items.
    virtual bool isInTrash(const Url& url) = 0;

    // After an item has been put back from the Trash at `trashURL`, drops the Trash's own record
    // of it so that file managers stop listing it. Touches nothing else. Throws FileError.
    virtual void forgetTrashedItem(const Url& trashURL) = 0;
};

// Installs a platform for the lifetime of the scope.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& platform) { Platform::setCurrent(&platform); }
    ~ScopedPlatform() { Platform::setCurrent(nullptr); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;
};

} // namespace varnok

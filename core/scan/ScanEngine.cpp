#include "core/scan/ScanEngine.hpp"

#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fnmatch.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace varnok {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto progressInterval = std::chrono::milliseconds(100);
constexpr size_t inaccessibleLimit = 100;
// Entries a walk reads between updates of the shared counters, and between looks at whether
// other threads need work: rarely enough that the threads do not contend.
constexpr unsigned batchSize = 64;
constexpr unsigned splitInterval = 16;
constexpr unsigned maximumThreads = 8;
// Walks kept waiting per helper thread: small subtrees are quickly done, and a thread that waits
// for the next hand-off is lost time.
constexpr size_t queuedPerHelper = 4;
// In `fileCount`: a folder another walk reads. It adds nothing to its parent until that walk's
// subtree takes its place.
constexpr std::int64_t placeholderMark = -1;

std::string_view extensionOf(std::string_view name) {
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return name.substr(dot + 1);
}

bool isInsideOrEqual(std::string_view path, std::string_view folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

// Larger first, then by name. Names within a folder differ, so this order is total and every
// way of reaching it gives the same result.
bool ranksBefore(const FileNode& a, const FileNode& b) {
    if (a.logicalSize != b.logicalSize) {
        return a.logicalSize > b.logicalSize;
    }
    return a.id.lastPathComponentView() < b.id.lastPathComponentView();
}

// Sorts by `ranksBefore`. A large folder is ranked through compact keys and then permuted in
// place: comparing the nodes themselves reaches each name through its URL block and moves
// 128-byte nodes at every step.
void rank(std::vector<FileNode>& nodes) {
    constexpr size_t keyedFrom = 32;
    if (nodes.size() < keyedFrom) {
        std::sort(nodes.begin(), nodes.end(), ranksBefore);
        return;
    }
    struct Key {
        std::int64_t size;
        std::string_view name;
        size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        keys.push_back({nodes[i].logicalSize, nodes[i].id.lastPathComponentView(), i});
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.size != b.size ? a.size > b.size : a.name < b.name;
    });
    // Position i takes the node at keys[i].index; each cycle of that permutation is walked once.
    for (size_t start = 0; start < keys.size(); ++start) {
        if (keys[start].index == start) {
            continue;
        }
        FileNode held = std::move(nodes[start]);
        size_t at = start;
        while (keys[at].index != start) {
            const size_t from = keys[at].index;
            nodes[at] = std::move(nodes[from]);
            keys[at].index = at;
            at = from;
        }
        nodes[at] = std::move(held);
        keys[at].index = at;
    }
}

// Completes a node when the walk leaves it. A folder with stand-ins for handed-off folders in it
// or below it is ranked once they are in place.
void finish(FileNode& node, bool ranked = true) {
    if (node.hasReadErrors) {
        node.allocatedSizeComplete = false;
    }
    if (node.isDirectory) {
        if (ranked) {
            rank(node.children);
        }
        node.children.shrink_to_fit();
    }
}

// What nodes bring to a folder above them: a child attached to it, or subtrees put in place
// somewhere below it.
struct Addition {
    std::int64_t logicalSize = 0;
    std::int64_t allocatedSize = 0;
    std::int64_t fileCount = 0;
    std::int64_t folderCount = 0;
    bool hasReadErrors = false;
    bool incomplete = false;

    // What `node` brings to its parent; the node itself is not added.
    static Addition of(const FileNode& node) {
        return {node.logicalSize,   node.allocatedSize,
                node.fileCount,     node.folderCount + (node.isDirectory ? 1 : 0),
                node.hasReadErrors, !node.allocatedSizeComplete};
    }

    void add(const Addition& other) {
        logicalSize += other.logicalSize;
        allocatedSize += other.allocatedSize;
        fileCount += other.fileCount;
        folderCount += other.folderCount;
        hasReadErrors = hasReadErrors || other.hasReadErrors;
        incomplete = incomplete || other.incomplete;
    }
    void apply(FileNode& folder) const {
        folder.logicalSize += logicalSize;
        folder.allocatedSize += allocatedSize;
        folder.fileCount += fileCount;
        folder.folderCount += folderCount;
        folder.hasReadErrors = folder.hasReadErrors || hasReadErrors;
        if (incomplete || folder.hasReadErrors) {
            folder.allocatedSizeComplete = false;
        }
    }
};

// The walk keeps the folders on the current path open on a stack; a folder is complete when the
// walk leaves it, and is then sorted and added to its parent. This is the bottom-up build done as
// the entries arrive, so no map of pending nodes is needed.
struct OpenFolder {
    FileNode node;
    int depth;
    // A stand-in for a handed-off folder is in it or below it: the folder is ranked when the
    // subtrees are put in place, which changes its sizes, and not before.
    bool standInsBelow = false;
};

// What a walk met that the result lists, or decides, in the order a single walk meets it.
struct Event {
    enum class Kind : std::uint8_t { inaccessible, otherFileSystem, handOff, hardLink };
    Kind kind;
    std::string path;
    size_t walk = 0; // for a hand-off, the walk that reads the folder
    // For a file with several hard links met for the first time in its walk, the file itself.
    std::int32_t device = 0;
    std::uint64_t inode = 0;
};

struct FileKey {
    std::int32_t device;
    std::uint64_t inode;
    bool operator==(const FileKey&) const = default;
};

struct FileKeyHash {
    size_t operator()(const FileKey& key) const noexcept {
        return std::hash<std::uint64_t>()(key.inode * 31 + static_cast<std::uint32_t>(key.device));
    }
};

class Walker;

// One thread's walk of a whole subtree: the scan's root, or a folder handed off by another walk.
// Results are kept per walk and put together in the order of a single walk at the end, which
// makes them the same for any number of threads.
struct Walk {
    size_t index = 0;
    size_t parent = 0;
    // Names from the parent walk's root down to the handed-off folder.
    std::vector<std::string> place;
    std::unique_ptr<DirectoryEnumerator> enumerator;
    DirectoryEntry folder;
    Walker* walker = nullptr;
    // The root's enumerator may report a failure to list the root while it is created, before
    // any walker runs.
    bool readErrorBeforeStart = false;

    std::optional<FileNode> node;
    std::vector<Event> events;
    size_t inaccessibleEvents = 0;
    std::int64_t skippedCount = 0;
    std::int64_t excludedCount = 0;
    std::array<std::int64_t, 4> ageSizes{};
    std::array<std::int64_t, 4> typeSizes{};
    // Files with several hard links this walk met first, whose blocks an earlier walk counts.
    std::unordered_set<FileKey, FileKeyHash> countedElsewhere;

    // The enumerator's error handler.
    bool onError(const std::string& path);
};

class Scan {
public:
    Scan(Url root, const ScanProgressHandler& progress, const ScanOptions& options)
        : root_(std::move(root)), rootPath_(root_.path()), handler_(progress), options_(options) {}

    ScanResult run();

private:
    friend class Walker;

    void runWalk(Walk& walk, bool onCallingThread);
    // Runs queued walks until every walk is done. The calling thread also reports progress and
    // watches for cancellation while it waits.
    void work(bool onCallingThread);
    size_t enqueue(std::unique_ptr<Walk> walk);
    void stop();
    // One walk waits in the queue for each helper thread, so that a thread that finishes a small
    // subtree goes on at once instead of waiting for the next hand-off.
    void updateHungry() {
        hungry_.store(queue_.size() < queuedPerHelper * helpers_, std::memory_order_relaxed);
    }
    // Reports progress when the interval has passed; only ever on the calling thread.
    void reportIfDue(const std::string* path);
    bool reportDue() const {
        return !reportedYet_ || Clock::now() - lastReport_ > progressInterval;
    }
    void report();
    void assemble(ScanResult& result);
    // Counts the blocks of each file with several hard links once, at its first path in the order
    // of a single walk. Within a walk the later paths are given none as they are read; here, the
    // first path of each walk that an earlier walk also met.
    void countLinksOnce();

    Url root_;
    std::string rootPath_;
    const ScanProgressHandler& handler_;
    const ScanOptions& options_;
    FileIdentity rootIdentity_;
    std::int32_t rootDevice_ = 0;
    std::optional<std::int64_t> rootAllocatedSize_;
    // Ages are counted from the start, so that they do not depend on when a thread gets there.
    Date now_{};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<Walk>> walks_;
    std::deque<Walk*> queue_;
    unsigned idle_ = 0;
    unsigned helpers_ = 0;
    unsigned busy_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::string latestPath_;
    std::atomic<bool> hungry_{false};
    std::shared_ptr<CancellationToken> helperToken_ = std::make_shared<CancellationToken>();

    std::atomic<std::int64_t> files_{0};
    std::atomic<std::int64_t> folders_{0};
    std::atomic<std::int64_t> bytes_{0};
    ScanProgress progress_;
    std::string lastReportedPath_;
    bool reportedYet_ = false;
    Clock::time_point lastReport_{};
};

class Walker {
public:
    Walker(Scan& scan, Walk& walk, bool onCallingThread)
        : scan_(scan), walk_(walk), onCallingThread_(onCallingThread) {
        walk_.walker = this;
    }
    ~Walker() { walk_.walker = nullptr; }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    void run(std::optional<FileNode> root) {
        DirectoryEnumerator& enumerator = *walk_.enumerator;
        if (root) {
            root->hasReadErrors = root->hasReadErrors || walk_.readErrorBeforeStart;
            stack_.push_back({std::move(*root), 0});
        } else {
            DirectoryEntry folder = std::move(walk_.folder);
            folder.depth = 0;
            if (!read(folder, enumerator)) {
                flush();
                return;
            }
        }
        DirectoryEntry entry;
        unsigned sinceLook = 0;
        while (enumerator.next(entry)) {
            Task::checkCancellation();
            if (entry.handedOff) {
                handOff(entry);
            } else {
                read(entry, enumerator);
            }
            if (++sinceLook % splitInterval == 0) {
                // Many small folders are handed off in a row: one per look starves the waiting
                // thread, which finishes each before the next is offered.
                while (scan_.hungry_.load(std::memory_order_relaxed) && split(enumerator)) {
                }
            }
            if (sinceLook == batchSize) {
                sinceLook = 0;
                flush();
                publish(entry.path);
            }
        }
        while (stack_.size() > 1) {
            Task::checkCancellation();
            closeTop();
        }
        Task::checkCancellation();
        finish(stack_.back().node, !stack_.back().standInsBelow);
        walk_.node = std::move(stack_.back().node);
        stack_.clear();
        flush();
    }

    bool onError(const std::string& path) {
        skip(path);
        return !Task::isCancelled();
    }

private:
    // Leaves the entry out when the options say so; nothing below it is read.
    bool leftOut(const DirectoryEntry& entry, DirectoryEnumerator& enumerator) {
        const ScanOptions& options = scan_.options_;
        if (!options.excludes.empty()) {
            std::string_view relative = entry.path;
            const std::string& rootPath = scan_.rootPath_;
            relative.remove_prefix(
                std::min(relative.size(), rootPath == "/" ? size_t{1} : rootPath.size() + 1));
            if (ScanEngine::isExcluded(relative, options.excludes)) {
                enumerator.skipDescendants();
                ++walk_.excludedCount;
                return true;
            }
        }
        if (options.oneFileSystem && entry.identity && entry.identity->isDirectory() &&
            entry.identity->device != scan_.rootDevice_) {
            enumerator.skipDescendants();
            walk_.events.push_back({Event::Kind::otherFileSystem, entry.path});
            return true;
        }
        return false;
    }

    // Returns whether the entry is a folder the walk goes on into.
    bool read(const DirectoryEntry& entry, DirectoryEnumerator& enumerator) {
        if (leftOut(entry, enumerator)) {
            return false;
        }
        if (!entry.properties || !entry.identity) {
            // Never descend below an entry that is left out: its descendants would have no parent.
            enumerator.skipDescendants();
            skip(entry.path);
            return false;
        }
        const EntryProperties& properties = *entry.properties;
        const bool isFolder =
            properties.isDirectory.value_or(false) && !properties.isSymbolicLink.value_or(false);
        const std::int64_t logical = isFolder ? 0 : properties.fileSize.value_or(0);
        // A folder's own blocks count on disk, as du counts them; its content size stays 0.
        const std::int64_t allocated = properties.totalFileAllocatedSize.value_or(0);
        const bool complete = properties.totalFileAllocatedSize.has_value();

        while (!stack_.empty() && stack_.back().depth >= entry.depth) {
            closeTop();
        }
        if (!stack_.empty() && stack_.back().node.children.capacity() == 0) {
            // Sized once: growing copies every node, and the tree is the scan's memory.
            stack_.back().node.children.reserve(entry.entriesInFolder);
        }
        std::string_view name = entry.path;
        name.remove_prefix(name.rfind('/') + 1);
        FileNode node(stack_.empty()
                          ? Url::file(entry.path, entry.folderForm)
                          : stack_.back().node.id.appendingPathComponent(name, entry.folderForm),
                      isFolder, logical, allocated, {}, isFolder ? 0 : 1, 0,
                      properties.isSymbolicLink.value_or(false), false, complete, entry.identity);

        if (isFolder) {
            ++folders_;
            stack_.push_back({std::move(node), entry.depth});
        } else {
            ++files_;
            bytes_ += logical;
            const double days =
                secondsBetween(properties.contentModificationDate.value_or(scan_.now_),
                               scan_.now_) /
                86400.0;
            walk_.ageSizes[static_cast<size_t>(ScanEngine::ageBucket(days))] += logical;
            walk_.typeSizes[static_cast<size_t>(ScanEngine::kindBucket(name))] += logical;
            if (entry.identity->linkCount > 1) {
                const FileKey key{entry.identity->device, entry.identity->inode};
                if (linkedFiles_.insert(key).second) {
                    walk_.events.push_back({Event::Kind::hardLink, {}, 0, key.device, key.inode});
                } else {
                    node.allocatedSize = 0;
                    node.isRepeatedLink = true;
                }
            }
            if (stack_.empty()) {
                finish(node);
                walk_.node = std::move(node);
            } else {
                attach(std::move(node), stack_.back().node);
            }
        }
        if (onCallingThread_ && scan_.reportDue()) {
            flush();
            scan_.reportIfDue(&entry.path);
        }
        return isFolder;
    }

    // Leaves a stand-in where the folder handed to another walk belongs.
    void handOff(const DirectoryEntry& entry) {
        auto it = handedOff_.find(entry.path);
        if (it == handedOff_.end()) {
            throw std::logic_error("A handed-off folder has no walk: " + entry.path);
        }
        const size_t walk = it->second;
        handedOff_.erase(it);
        while (stack_.back().depth >= entry.depth) {
            closeTop();
        }
        std::string_view name = entry.path;
        name.remove_prefix(name.rfind('/') + 1);
        stack_.back().node.children.emplace_back(
            stack_.back().node.id.appendingPathComponent(name, true), true, 0, 0,
            std::vector<FileNode>{}, placeholderMark, 0, false, false, true);
        stack_.back().standInsBelow = true;
        walk_.events.push_back({Event::Kind::handOff, {}, walk});
    }

    // Gives a waiting thread a folder this walk has not reached yet; false when there is none.
    bool split(DirectoryEnumerator& enumerator) {
        auto walk = std::make_unique<Walk>();
        Walk* raw = walk.get();
        walk->enumerator = enumerator.split(
            walk->folder, [raw](const std::string& path, int) { return raw->onError(path); });
        if (!walk->enumerator) {
            return false;
        }
        const auto depth = static_cast<size_t>(walk->folder.depth);
        if (depth == 0 || depth > stack_.size() ||
            stack_[depth - 1].depth != static_cast<int>(depth - 1)) {
            throw std::logic_error("A folder was handed off from outside the walk's path.");
        }
        for (size_t level = 1; level < depth; ++level) {
            walk->place.emplace_back(stack_[level].node.id.lastPathComponentView());
        }
        std::string_view name = walk->folder.path;
        name.remove_prefix(name.rfind('/') + 1);
        walk->place.emplace_back(name);
        walk->parent = walk_.index;
        std::string path = walk->folder.path;
        handedOff_.emplace(std::move(path), scan_.enqueue(std::move(walk)));
        return true;
    }

    void skip(const std::string& path) {
        ++walk_.skippedCount;
        if (walk_.inaccessibleEvents < inaccessibleLimit) {
            ++walk_.inaccessibleEvents;
            walk_.events.push_back({Event::Kind::inaccessible, path});
        }
        markReadError(path);
    }

    // Flags the deepest open folder at or above `path`; its ancestors take the flag from it when
    // they are completed.
    void markReadError(const std::string& path) {
        const std::string& rootPath = scan_.rootPath_;
        if (path.compare(0, rootPath.size(), rootPath) != 0) {
            return;
        }
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            if (isInsideOrEqual(path, it->node.id.path())) {
                it->node.hasReadErrors = true;
                return;
            }
        }
    }

    static void attach(FileNode&& node, FileNode& parent, bool ranked = true) {
        finish(node, ranked);
        Addition::of(node).apply(parent);
        parent.children.push_back(std::move(node));
    }

    void closeTop() {
        const bool standInsBelow = stack_.back().standInsBelow;
        FileNode node = std::move(stack_.back().node);
        stack_.pop_back();
        stack_.back().standInsBelow = stack_.back().standInsBelow || standInsBelow;
        attach(std::move(node), stack_.back().node, !standInsBelow);
    }

    void flush() {
        if (files_ != 0) {
            scan_.files_.fetch_add(files_, std::memory_order_relaxed);
            files_ = 0;
        }
        if (folders_ != 0) {
            scan_.folders_.fetch_add(folders_, std::memory_order_relaxed);
            folders_ = 0;
        }
        if (bytes_ != 0) {
            scan_.bytes_.fetch_add(bytes_, std::memory_order_relaxed);
            bytes_ = 0;
        }
    }

    // Lets the calling thread show where the other threads are.
    void publish(const std::string& path) {
        if (onCallingThread_) {
            return;
        }
        const auto time = Clock::now();
        if (time - lastPublished_ > progressInterval) {
            lastPublished_ = time;
            std::lock_guard lock(scan_.mutex_);
            scan_.latestPath_ = path;
        }
    }

    Scan& scan_;
    Walk& walk_;
    const bool onCallingThread_;
    std::vector<OpenFolder> stack_;
    // Folders handed to other walks that this walk has not reached yet, with their walks.
    std::unordered_map<std::string, size_t> handedOff_;
    std::unordered_set<FileKey, FileKeyHash> linkedFiles_;
    std::int64_t files_ = 0;
    std::int64_t folders_ = 0;
    std::int64_t bytes_ = 0;
    Clock::time_point lastPublished_{};
};

bool Walk::onError(const std::string& path) {
    if (walker) {
        return walker->onError(path);
    }
    ++skippedCount;
    if (inaccessibleEvents < inaccessibleLimit) {
        ++inaccessibleEvents;
        events.push_back({Event::Kind::inaccessible, path});
    }
    readErrorBeforeStart = true;
    return !Task::isCancelled();
}

ScanResult Scan::run() {
    const auto started = Clock::now();
    now_ = std::chrono::system_clock::now();
    Platform& platform = Platform::current();

    rootIdentity_ = FileIdentity::capture(root_);
    rootDevice_ = rootIdentity_.device;
    ResourceValues values = platform.resourceValues(root_);
    if (!values.isDirectory.value_or(false) || values.isReadable == std::optional(false)) {
        throw FileError(FileError::readNoPermission);
    }
    rootAllocatedSize_ = values.totalFileAllocatedSize;
    walks_.push_back(std::make_unique<Walk>());
    Walk* rootWalk = walks_.front().get();
    rootWalk->enumerator = platform.enumerator(
        root_, [rootWalk](const std::string& path, int) { return rootWalk->onError(path); });
    if (!rootWalk->enumerator) {
        throw FileError(FileError::readUnknown);
    }

    unsigned threads = options_.threads;
    if (threads == 0) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, maximumThreads);
    }
    busy_ = 1;
    std::vector<std::thread> helpers;
    try {
        for (unsigned i = 1; i < threads; ++i) {
            helpers.emplace_back([this]() {
                CancellationScope scope(helperToken_);
                work(false);
            });
            std::lock_guard lock(mutex_);
            ++helpers_;
            updateHungry();
        }
    } catch (const std::system_error&) {
        // No more threads to be had: those started share the work.
    }
    try {
        runWalk(*rootWalk, true);
        work(true);
    } catch (...) {
        stop();
        for (std::thread& helper : helpers) {
            helper.join();
        }
        throw;
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (failure_) {
        std::rethrow_exception(failure_);
    }

    progress_.phase = "Building folder map";
    progress_.currentPath = lastReportedPath_;
    report();
    ScanResult result;
    Task::checkCancellation();
    assemble(result);
    Task::checkCancellation();
    report();
    result.duration = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

void Scan::runWalk(Walk& walk, bool onCallingThread) {
    Walker walker(*this, walk, onCallingThread);
    if (walk.index == 0) {
        walker.run(FileNode(root_, true, 0, rootAllocatedSize_.value_or(0), {}, 0, 0, false, false,
                            rootAllocatedSize_.has_value(), rootIdentity_));
    } else {
        walker.run(std::nullopt);
    }
    walk.enumerator.reset();
}

void Scan::work(bool onCallingThread) {
    bool wasBusy = onCallingThread;
    for (;;) {
        Walk* walk = nullptr;
        {
            std::unique_lock lock(mutex_);
            if (wasBusy) {
                --busy_;
            }
            ++idle_;
            updateHungry();
            if (busy_ == 0 && queue_.empty()) {
                wake_.notify_all();
            }
            while (!stopping_ && queue_.empty() && busy_ > 0) {
                if (!onCallingThread) {
                    wake_.wait(lock);
                    continue;
                }
                wake_.wait_for(lock, std::chrono::milliseconds(20));
                lock.unlock();
                Task::checkCancellation();
                reportIfDue(nullptr);
                lock.lock();
            }
            --idle_;
            if (stopping_ || queue_.empty()) {
                updateHungry();
                return;
            }
            walk = queue_.front();
            queue_.pop_front();
            ++busy_;
            updateHungry();
        }
        wasBusy = true;
        try {
            runWalk(*walk, onCallingThread);
        } catch (...) {
            if (onCallingThread) {
                throw;
            }
            std::lock_guard lock(mutex_);
            if (!failure_) {
                failure_ = std::current_exception();
            }
            stopping_ = true;
            helperToken_->cancel();
            wake_.notify_all();
            return;
        }
    }
}

size_t Scan::enqueue(std::unique_ptr<Walk> walk) {
    std::lock_guard lock(mutex_);
    walk->index = walks_.size();
    queue_.push_back(walk.get());
    walks_.push_back(std::move(walk));
    updateHungry();
    wake_.notify_one();
    return walks_.back()->index;
}

void Scan::stop() {
    helperToken_->cancel();
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
}

void Scan::reportIfDue(const std::string* path) {
    if (!reportDue()) {
        return;
    }
    const auto time = Clock::now();
    if (!path) {
        std::lock_guard lock(mutex_);
        if (latestPath_.empty()) {
            return;
        }
        lastReportedPath_ = latestPath_;
    } else {
        lastReportedPath_ = *path;
    }
    reportedYet_ = true;
    lastReport_ = time;
    progress_.currentPath = lastReportedPath_;
    report();
}

void Scan::report() {
    progress_.fileCount = files_.load(std::memory_order_relaxed);
    progress_.folderCount = folders_.load(std::memory_order_relaxed);
    progress_.logicalSize = bytes_.load(std::memory_order_relaxed);
    if (handler_) {
        handler_(progress_);
    }
}

FileNode& childFolder(FileNode& folder, std::string_view name) {
    auto it =
        std::find_if(folder.children.begin(), folder.children.end(), [&](const FileNode& child) {
            return child.isDirectory && child.fileCount != placeholderMark &&
                   child.id.lastPathComponentView() == name;
        });
    if (it == folder.children.end()) {
        throw std::logic_error("A handed-off folder lost its place in the tree.");
    }
    return *it;
}

// A folder of one walk's tree that gains handed-off subtrees, directly or below it.
struct Fix {
    std::map<std::string_view, size_t> below; // by folder name, into the list of fixes
    std::vector<size_t> walks;                // whose folders stand directly in this one
    Addition addition;
};

// Puts the walks together: each handed-off subtree takes its stand-in's place, and every folder
// above it gains what it adds and is ranked again, once per walk, deepest first. Later walks go
// first, so every subtree is complete when it moves. The listed paths follow the order of a
// single walk.
void Scan::assemble(ScanResult& result) {
    countLinksOnce();
    std::vector<std::vector<size_t>> handedOff(walks_.size());
    for (size_t index = 1; index < walks_.size(); ++index) {
        handedOff[walks_[index]->parent].push_back(index);
    }
    for (size_t parent = walks_.size(); parent-- > 0;) {
        if (handedOff[parent].empty()) {
            continue;
        }
        Task::checkCancellation();
        std::vector<Fix> fixes(1);
        for (size_t index : handedOff[parent]) {
            const auto& place = walks_[index]->place;
            size_t at = 0;
            for (size_t level = 0; level + 1 < place.size(); ++level) {
                auto [it, added] = fixes[at].below.try_emplace(place[level], fixes.size());
                const size_t next = it->second;
                if (added) {
                    fixes.emplace_back();
                }
                at = next;
            }
            fixes[at].walks.push_back(index);
        }
        struct Frame {
            size_t fix;
            FileNode* folder;
            std::map<std::string_view, size_t>::const_iterator next;
        };
        std::vector<Frame> frames{{0, &*walks_[parent]->node, fixes[0].below.cbegin()}};
        while (!frames.empty()) {
            Frame& frame = frames.back();
            Fix& fix = fixes[frame.fix];
            if (frame.next != fix.below.cend()) {
                const auto [name, below] = *frame.next++;
                FileNode* folder = &childFolder(*frame.folder, name);
                frames.push_back({below, folder, fixes[below].below.cbegin()});
                continue;
            }
            FileNode& folder = *frame.folder;
            if (!fix.walks.empty()) {
                std::unordered_map<std::string_view, FileNode*> stands;
                for (FileNode& child : folder.children) {
                    if (child.fileCount == placeholderMark) {
                        stands.emplace(child.id.lastPathComponentView(), &child);
                    }
                }
                for (size_t index : fix.walks) {
                    Walk& walk = *walks_[index];
                    auto stand = stands.find(walk.place.back());
                    if (stand == stands.end()) {
                        throw std::logic_error("A handed-off folder lost its place in the tree.");
                    }
                    FileNode& target = *stand->second;
                    stands.erase(stand);
                    if (!walk.node) {
                        continue; // left out: the stand-in goes below
                    }
                    target = std::move(*walk.node);
                    walk.node.reset();
                    fix.addition.add(Addition::of(target));
                }
                std::erase_if(folder.children, [](const FileNode& child) {
                    return child.fileCount == placeholderMark;
                });
            }
            fix.addition.apply(folder);
            rank(folder.children);
            const Addition done = fix.addition;
            frames.pop_back();
            if (!frames.empty()) {
                fixes[frames.back().fix].addition.add(done);
            }
        }
    }

    result.root = std::move(*walks_.front()->node);
    std::vector<std::pair<size_t, size_t>> frames{{0, 0}};
    while (!frames.empty()) {
        auto& [index, next] = frames.back();
        Walk& walk = *walks_[index];
        if (next == walk.events.size()) {
            frames.pop_back();
            continue;
        }
        Event& event = walk.events[next++];
        switch (event.kind) {
        case Event::Kind::inaccessible:
            if (result.inaccessiblePaths.size() < inaccessibleLimit) {
                result.inaccessiblePaths.push_back(std::move(event.path));
            }
            break;
        case Event::Kind::otherFileSystem:
            result.otherFileSystems.push_back(std::move(event.path));
            break;
        case Event::Kind::handOff:
            frames.emplace_back(event.walk, 0);
            break;
        case Event::Kind::hardLink:
            break;
        }
    }
    for (const auto& walk : walks_) {
        result.skippedCount += walk->skippedCount;
        result.excludedCount += walk->excludedCount;
        for (size_t i = 0; i < 4; ++i) {
            result.ageSizes[i] += walk->ageSizes[i];
            result.typeSizes[i] += walk->typeSizes[i];
        }
    }
}

void Scan::countLinksOnce() {
    if (walks_.size() == 1) {
        return; // one walk has already counted each file once
    }
    // The events in the order of a single walk tell which walk meets each file first.
    std::unordered_set<FileKey, FileKeyHash> met;
    std::vector<std::pair<size_t, size_t>> frames{{0, 0}};
    while (!frames.empty()) {
        auto& [index, next] = frames.back();
        Walk& walk = *walks_[index];
        if (next == walk.events.size()) {
            frames.pop_back();
            continue;
        }
        const Event& event = walk.events[next++];
        if (event.kind == Event::Kind::handOff) {
            frames.emplace_back(event.walk, 0);
        } else if (event.kind == Event::Kind::hardLink &&
                   !met.insert({event.device, event.inode}).second) {
            walk.countedElsewhere.insert({event.device, event.inode});
        }
    }
    // Each such file has one path in its walk's tree that still holds its blocks; the folders
    // above it within that tree give them up, and the trees are joined afterwards.
    for (const auto& walk : walks_) {
        if (walk->countedElsewhere.empty() || !walk->node) {
            continue;
        }
        Task::checkCancellation();
        std::vector<std::pair<FileNode*, size_t>> open{{&*walk->node, 0}};
        while (!open.empty()) {
            auto& [folder, next] = open.back();
            if (next == folder->children.size()) {
                open.pop_back();
                continue;
            }
            FileNode& child = folder->children[next++];
            if (child.isDirectory) {
                open.emplace_back(&child, 0);
                continue;
            }
            if (child.isRepeatedLink || !child.identity || child.identity->linkCount < 2 ||
                walk->countedElsewhere.erase({child.identity->device, child.identity->inode}) ==
                    0) {
                continue;
            }
            for (auto& [above, unused] : open) {
                above->allocatedSize -= child.allocatedSize;
            }
            child.allocatedSize = 0;
            child.isRepeatedLink = true;
        }
    }
}

} // namespace

int ScanEngine::kindBucket(std::string_view fileName) {
    // Called for every file of a scan, so the extension is compared in place.
    const std::string_view extension = extensionOf(fileName);
    char lower[8];
    if (extension.empty() || extension.size() > sizeof lower) {
        return 3;
    }
    for (size_t i = 0; i < extension.size(); ++i) {
        const char c = extension[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower, extension.size());
    static constexpr std::string_view kinds[3][13] = {
        {"swift", "js", "ts", "tsx", "py", "json", "o", "a", "dylib", "rs", "go", "c", "h"},
        {"mp4", "mov", "png", "jpg", "jpeg", "heic", "mp3", "wav", "psd"},
        {"pdf", "docx", "txt", "md", "pages", "xlsx", "csv"},
    };
    for (int kind = 0; kind < 3; ++kind) {
        for (std::string_view known : kinds[kind]) {
            if (!known.empty() && known == key) {
                return kind;
            }
        }
    }
    return 3;
}

int ScanEngine::ageBucket(double days) {
    if (days >= 365) {
        return 3;
    }
    if (days >= 180) {
        return 2;
    }
    if (days >= 30) {
        return 1;
    }
    return 0;
}

bool ScanEngine::isExcluded(std::string_view relativePath,
                            const std::vector<std::string>& patterns) {
    std::string path(relativePath);
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    for (const std::string& pattern : patterns) {
        const bool wholePath = pattern.find('/') != std::string::npos;
        if (::fnmatch(pattern.c_str(), (wholePath ? path : name).c_str(),
                      wholePath ? FNM_PATHNAME : 0) == 0) {
            return true;
        }
    }
    return false;
}

ScanResult ScanEngine::scan(const Url& url, const ScanProgressHandler& progress) {
    return scan(url, progress, ScanOptions{});
}

ScanResult ScanEngine::scan(const Url& url, const ScanProgressHandler& progress,
                            const ScanOptions& options) {
    Url root = Platform::current().resolvingSymlinks(url).standardized();
    return Scan(std::move(root), progress, options).run();
}

} // namespace varnok

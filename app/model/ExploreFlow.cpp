#include "app/model/ExploreFlow.hpp"

#include "app/model/AppModel.hpp"
#include "app/model/Background.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/snapshot/ScanArchive.hpp"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace varnok {

using model::post;
using model::qText;

namespace model {
template <> struct Compared<ScanHighlights> : std::true_type {};
} // namespace model

std::string_view rawValue(FolderMapMode mode) {
    switch (mode) {
    case FolderMapMode::treemap:
        return "Treemap";
    case FolderMapMode::sunburst:
        return "Sunburst";
    case FolderMapMode::flame:
        return "Flame";
    case FolderMapMode::bubbles:
        return "Bubbles";
    case FolderMapMode::list:
        return "List";
    }
    return "Treemap";
}

std::optional<FolderMapMode> folderMapModeFromRawValue(std::string_view text) {
    for (FolderMapMode mode : {FolderMapMode::treemap, FolderMapMode::sunburst,
                               FolderMapMode::flame, FolderMapMode::bubbles, FolderMapMode::list}) {
        if (rawValue(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

namespace {

FileNode folder(const std::string& path, std::int64_t size, std::vector<FileNode> children = {}) {
    return FileNode(Url::file(path, true), true, size, size, std::move(children), 0, 0, false,
                    false, true);
}

FileNode file(const std::string& path, std::int64_t size) {
    return FileNode(Url::file(path, false), false, size, size, {}, 0, 0, false, false, true);
}

// A copy of `root` whose `logicalSize` holds each node's bytes on disk, children largest first,
// so the layouts, lists and searches that rank by `logicalSize` rank by disk usage.
std::shared_ptr<const FileNode> sizedByDiskUsage(const FileNode& root) {
    auto sized = std::make_shared<FileNode>(root);
    sized->logicalSize = sized->allocatedSize;
    // A heap stack: a folder chain tens of thousands of levels deep must not exhaust the stack.
    std::vector<FileNode*> pending{sized.get()};
    while (!pending.empty()) {
        FileNode& node = *pending.back();
        pending.pop_back();
        Task::checkCancellation();
        for (FileNode& child : node.children) {
            child.logicalSize = child.allocatedSize;
        }
        std::stable_sort(
            node.children.begin(), node.children.end(),
            [](const FileNode& a, const FileNode& b) { return a.logicalSize > b.logicalSize; });
        for (FileNode& child : node.children) {
            if (!child.children.empty()) {
                pending.push_back(&child);
            }
        }
    }
    return sized;
}

struct BucketSizes {
    std::array<std::int64_t, 4> ages{};
    std::array<std::int64_t, 4> types{};
};

// The scan's age and kind buckets by bytes on disk: a file with several hard links counts once
// (its later paths hold no blocks), and a sparse file by the blocks it uses.
BucketSizes diskBuckets(const FileNode& root) {
    BucketSizes sizes;
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    std::vector<const FileNode*> pending{&root};
    while (!pending.empty()) {
        const FileNode& node = *pending.back();
        pending.pop_back();
        if (!node.isDirectory) {
            const std::int64_t modified = node.identity ? node.identity->modifiedSeconds : now;
            const double days = static_cast<double>(now - modified) / 86400.0;
            sizes.ages[static_cast<size_t>(ScanEngine::ageBucket(days))] += node.allocatedSize;
            sizes.types[static_cast<size_t>(ScanEngine::kindBucket(node.name()))] +=
                node.allocatedSize;
        }
        for (const FileNode& child : node.children) {
            pending.push_back(&child);
        }
    }
    return sizes;
}

// A node as kept on the navigation list: without its subtree, found again in the tree by id.
FileNode withoutChildren(const FileNode& node) {
    return FileNode(node.id, node.isDirectory, node.logicalSize, node.allocatedSize, {},
                    node.fileCount, node.folderCount, node.isSymbolicLink, node.hasReadErrors,
                    node.allocatedSizeComplete, node.identity);
}

// Reports come from a tight loop; the window only needs a few a second.
class Throttle {
public:
    bool due() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(80)) {
            return false;
        }
        last_ = now;
        return true;
    }

private:
    std::chrono::steady_clock::time_point last_{};
};

} // namespace

ExploreFlow::ExploreFlow(AppModel& shell)
    : shell_(shell), root_(std::make_shared<const FileNode>(sample())),
      scanToken_(QUuid::createUuid()) {
    diskAges_ = ages_;
    diskTypes_ = types_;
    diskTree_ = sizedByDiskUsage(*root_);
    shownTree_ = diskTree_;
}

ExploreFlow::~ExploreFlow() = default;

template <typename T> void ExploreFlow::publish(T& member, T value, Field field) {
    model::assign(member, std::move(value), [&] { emit changed(field); });
}

FileNode ExploreFlow::sample() {
    const std::string r = "/home/morvel";
    const std::string local = r + "/.local";
    const std::string share = local + "/share";
    const std::string engine = local + "/src/engine";
    const std::string finance = r + "/Projects/FinanceApp";
    const std::string portfolio = r + "/Projects/Portfolio";
    FileNode root =
        folder(r, 120000000000,
               {
                   folder(local, 60000000000,
                          {
                              folder(share, 32000000000,
                                     {folder(share + "/Steam", 20000000000),
                                      folder(share + "/flatpak", 12000000000)}),
                              folder(local + "/src", 20000000000,
                                     {folder(engine, 20000000000,
                                             {folder(engine + "/build", 18200000000),
                                              folder(engine + "/src", 1800000000)})}),
                              folder(local + "/state", 8000000000),
                          }),
                   folder(r + "/Projects", 30000000000,
                          {
                              folder(finance, 12000000000,
                                     {folder(finance + "/node_modules", 7400000000),
                                      folder(finance + "/.next", 3200000000),
                                      folder(finance + "/Source & assets", 1400000000)}),
                              folder(portfolio, 10000000000,
                                     {folder(portfolio + "/node_modules", 6000000000),
                                      folder(portfolio + "/.next", 3600000000),
                                      folder(portfolio + "/Source & assets", 400000000)}),
                              folder(r + "/Projects/Other projects", 8000000000),
                          }),
                   folder(r + "/Downloads", 15000000000,
                          {folder(r + "/Downloads/Archives", 9000000000),
                           folder(r + "/Downloads/Installers", 4000000000),
                           folder(r + "/Downloads/Documents", 2000000000)}),
                   folder(r + "/Documents", 9000000000,
                          {folder(r + "/Documents/Work", 6000000000),
                           folder(r + "/Documents/Personal", 3000000000)}),
                   folder(r + "/Videos", 6000000000,
                          {file(r + "/Videos/Clips.mkv", 4200000000),
                           file(r + "/Videos/Export.mp4", 1800000000)}),
               });
    root.fileCount = 742351;
    root.folderCount = 38204;
    return root;
}

void ExploreFlow::setSelected(std::optional<FileNode> value) {
    // Kept as the shown tree sizes it, whichever tree the caller found it in.
    if (value) {
        if (auto path = shownTree().navigationPath(value->id); path && !path->empty()) {
            value = withoutChildren(*path->back());
        }
    }
    publish(selected_, std::move(value), Field::selected);
}

void ExploreFlow::setApparentSize(bool value) {
    if (apparentSize_ == value) {
        return;
    }
    apparentSize_ = value;
    emit changed(Field::apparentSize);
    republishShownTree();
}

void ExploreFlow::republishShownTree() {
    shownTree_ = apparentSize_ ? nullptr : diskTree_;
    // Views hold pointers into the shown tree: they let go of the old one on this report.
    emit changed(Field::shownTree);
    emit changed(Field::ages);
    emit changed(Field::types);
    setSelected(selected_);
}

void ExploreFlow::setSearch(QString value) {
    publish(search_, std::move(value), Field::search);
}

void ExploreFlow::setMapMode(FolderMapMode value) {
    publish(mapMode_, value, Field::mapMode);
}

void ExploreFlow::setMapDepth(int value) {
    publish(mapDepth_, value, Field::mapDepth);
}

void ExploreFlow::setMapExpanded(bool value) {
    publish(mapExpanded_, value, Field::mapExpanded);
}

void ExploreFlow::scanFolder(const Url& requested) {
    if (activeScanURL_) {
        return;
    }
    const Url target = requested.standardized();
    std::error_code code;
    if (std::filesystem::is_symlink(target.path(), code)) {
        shell_.setError(tr("The scan location must not be a symbolic link."));
        return;
    }
    runTree(target, std::nullopt);
}

void ExploreFlow::loadScan(const std::string& file) {
    if (activeScanURL_) {
        return;
    }
    runTree(Url::file(file, false), file);
}

void ExploreFlow::runTree(const Url& shownWhileRunning, std::optional<std::string> savedFile) {
    const QUuid token = QUuid::createUuid();
    scanToken_ = token;
    publish(progress_, ScanProgress{}, Field::progress);
    publish(activeScanURL_, std::optional(shownWhileRunning), Field::activeScanURL);
    QPointer<ExploreFlow> self(this);
    struct Scanned {
        ScanResult result;
        ScanHighlights highlights;
        std::shared_ptr<const FileNode> diskTree;
        BucketSizes diskBuckets;
        std::int64_t takenAt = 0;
    };
    worker_ = model::runInBackground(
        this, &ExploreFlow::scanToken_, token,
        [self, target = shownWhileRunning, savedFile, token] {
            Throttle throttle;
            const auto started = std::chrono::steady_clock::now();
            Scanned scanned;
            if (savedFile) {
                SavedScan saved = ScanArchive::load(*savedFile);
                scanned.result = std::move(saved.result);
                scanned.takenAt = saved.takenAt;
            } else {
                scanned.takenAt = static_cast<std::int64_t>(std::time(nullptr));
                scanned.result = ScanEngine::scan(target, [&](const ScanProgress& progress) {
                    if (throttle.due()) {
                        post(self, [token, progress](ExploreFlow& flow) {
                            flow.folderScanProgressArrived(token, progress);
                        });
                    }
                });
            }
            scanned.highlights = ScanHighlights::summarize(scanned.result.root);
            scanned.diskTree = sizedByDiskUsage(scanned.result.root);
            scanned.diskBuckets = diskBuckets(scanned.result.root);
            Task::checkCancellation();
            // The whole wait the user saw, summary included.
            scanned.result.duration =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            return std::make_shared<Scanned>(std::move(scanned));
        },
        [savedFile, target = shownWhileRunning](ExploreFlow& flow,
                                                model::Outcome<std::shared_ptr<Scanned>> outcome) {
            flow.worker_.reset();
            flow.publish(flow.activeScanURL_, std::optional<Url>(), Field::activeScanURL);
            if (outcome.cancelled) {
                return;
            }
            if (!outcome.value) {
                flow.shell_.setError(outcome.failure.value_or(tr("The scan did not finish.")));
                return;
            }
            Scanned& scanned = **outcome.value;
            // A saved scan shows the folder it was taken of.
            const Url folder = savedFile ? scanned.result.root.id : target;
            flow.takenAt_ = scanned.takenAt;
            std::vector<std::string> otherFileSystems = scanned.result.otherFileSystems;
            flow.finishFolderScan(folder, std::move(scanned.result), scanned.highlights,
                                  std::move(scanned.diskTree), scanned.diskBuckets.ages,
                                  scanned.diskBuckets.types);
            flow.publish(flow.savedScanFile_,
                         savedFile ? std::optional(QString::fromStdString(*savedFile))
                                   : std::optional<QString>(),
                         Field::savedScanFile);
            // The shown tree itself is saved: it is never changed, so no copy is needed.
            if (!savedFile) {
                flow.shell_.remembered().remember(folder, flow.root_, std::move(otherFileSystems),
                                                  scanned.takenAt);
            }
        });
}

void ExploreFlow::saveScan(const std::string& file) {
    if (isSample() || saver_) {
        return;
    }
    // The scanned tree, with both sizes of every path: what ncdu and gdu read back. Shared
    // with the worker, never copied: the tree is not changed once published.
    std::shared_ptr<const FileNode> root = root_;
    const std::int64_t takenAt = takenAt_;
    const QUuid token = QUuid::createUuid();
    saveToken_ = token;
    saver_ = model::runInBackground(
        this, &ExploreFlow::saveToken_, token,
        [root, takenAt, file] {
            ScanArchive::save(*root, {}, takenAt, file);
            return true;
        },
        [file](ExploreFlow& flow, model::Outcome<bool> outcome) {
            flow.saver_.reset();
            if (outcome.value) {
                flow.shell_.setNote(tr("Saved the scan to %1.").arg(qText(file)));
            } else if (!outcome.cancelled) {
                flow.shell_.setError(outcome.failure.value_or(tr("The scan was not saved.")));
            }
        });
}

void ExploreFlow::folderScanProgressArrived(const QUuid& token, const ScanProgress& progress) {
    if (!activeScanURL_ || scanToken_ != token) {
        return;
    }
    publish(progress_, progress, Field::progress);
}

void ExploreFlow::finishFolderScan(const Url& folder, ScanResult result, ScanHighlights highlights,
                                   std::shared_ptr<const FileNode> diskTree,
                                   std::array<std::int64_t, 4> diskAges,
                                   std::array<std::int64_t, 4> diskTypes) {
    QStringList skipped;
    for (const auto& path : result.inaccessiblePaths) {
        skipped << qText(path);
    }
    setSelected(std::nullopt);
    publish(history_, std::vector<FileNode>{}, Field::history);
    // A comparison, finished or under way, was of the old tree.
    clearComparison();
    // The old trees stay alive until every view has been told of the new one.
    auto oldDisk = std::move(diskTree_);
    auto oldRoot = root_;
    diskTree_ = std::move(diskTree);
    shownTree_ = apparentSize_ ? nullptr : diskTree_;
    publish(root_, std::make_shared<const FileNode>(std::move(result.root)), Field::root);
    emit changed(Field::shownTree);
    publish(scanURL_, std::optional(folder), Field::scanURL);
    diskAges_ = diskAges;
    diskTypes_ = diskTypes;
    ages_ = result.ageSizes;
    types_ = result.typeSizes;
    emit changed(Field::ages);
    emit changed(Field::types);
    publish(scanHighlights_, highlights, Field::scanHighlights);
    publish(skippedPaths_, std::move(skipped), Field::skippedPaths);
    publish(duration_, result.duration, Field::duration);
    model::releaseInBackground(std::move(oldDisk));
    model::releaseInBackground(std::move(oldRoot));
}

void ExploreFlow::compareWith(const std::string& file) {
    if (activeScanURL_ || comparingWith_) {
        return;
    }
    if (isSample()) {
        shell_.setError(tr("Scan a folder first, then compare it with an earlier scan of it."));
        return;
    }
    struct Compared {
        std::shared_ptr<ExploreComparison> comparison;
        // The folder the saved scan is of, when that is not the shown one.
        std::optional<std::string> otherFolder;
    };
    const QUuid token = QUuid::createUuid();
    compareToken_ = token;
    publish(comparingWith_, std::optional(QString::fromStdString(file)), Field::comparingWith);
    comparer_ = model::runInBackground(
        this, &ExploreFlow::compareToken_, token,
        [tree = root_, file] {
            SavedScan saved = ScanArchive::load(file);
            Compared compared;
            const std::string folder = saved.result.root.id.standardized().path();
            // Paths are matched below the roots: a scan of another folder would pair unrelated
            // items that happen to share names.
            if (folder != tree->id.standardized().path()) {
                compared.otherFolder = folder;
                return compared;
            }
            compared.comparison = std::make_shared<ExploreComparison>();
            compared.comparison->changes = TreeChanges::compare(saved.result.root, *tree);
            compared.comparison->takenAt = saved.takenAt;
            compared.comparison->file = QString::fromStdString(file);
            return compared;
        },
        [](ExploreFlow& flow, model::Outcome<Compared> outcome) {
            flow.comparer_.reset();
            flow.publish(flow.comparingWith_, std::optional<QString>(), Field::comparingWith);
            if (outcome.cancelled) {
                return;
            }
            if (!outcome.value) {
                flow.shell_.setError(
                    outcome.failure.value_or(tr("The scans could not be compared.")));
            } else if (outcome.value->otherFolder) {
                flow.shell_.setError(
                    tr("That scan is of %1, not of %2. Compare scans of the same folder.")
                        .arg(qText(*outcome.value->otherFolder),
                             qText(flow.root_->id.standardized().path())));
            } else {
                auto old = flow.comparison_;
                flow.publish(flow.comparison_,
                             std::shared_ptr<const ExploreComparison>(outcome.value->comparison),
                             Field::comparison);
                model::releaseInBackground(std::move(old));
            }
        });
}

std::vector<RememberedScan> ExploreFlow::earlierScans() const {
    std::vector<RememberedScan> earlier;
    if (!scanURL_) {
        return earlier;
    }
    for (RememberedScan& scan : shell_.remembered().scansOf(*scanURL_)) {
        // A scan with an unknown time cannot be placed before or after the shown one.
        if (scan.takenAt < takenAt_ || takenAt_ == 0) {
            earlier.push_back(std::move(scan));
        }
    }
    return earlier;
}

void ExploreFlow::clearComparison() {
    if (comparer_) {
        comparer_->cancel();
        comparer_.reset();
    }
    compareToken_ = QUuid::createUuid();
    publish(comparingWith_, std::optional<QString>(), Field::comparingWith);
    if (comparison_) {
        // A million nodes' changes take a while to free: not on this thread.
        auto old = comparison_;
        publish(comparison_, std::shared_ptr<const ExploreComparison>(), Field::comparison);
        model::releaseInBackground(std::move(old));
    }
}

NodeChange ExploreFlow::changeOf(const FileNode& node) const {
    const SizeMeasure measure = apparentSize_ ? SizeMeasure::apparent : SizeMeasure::onDisk;
    if (!comparison_) {
        return {NodeChange::Kind::unchanged, sizeIn(node, measure), sizeIn(node, measure)};
    }
    return comparison_->changes.changeOf(node, measure);
}

ChangeTotals ExploreFlow::changesBelow(const FileNode& folder) const {
    return comparison_ ? comparison_->changes.totalsBelow(
                             folder, apparentSize_ ? SizeMeasure::apparent : SizeMeasure::onDisk)
                       : ChangeTotals{};
}

void ExploreFlow::stopFolderScan() {
    if (worker_) {
        worker_->cancel();
    }
    worker_.reset();
    scanToken_ = QUuid::createUuid();
    publish(activeScanURL_, std::optional<Url>(), Field::activeScanURL);
}

const FileNode& ExploreFlow::currentFolder() const {
    const FileNode& tree = shownTree();
    if (history_.empty()) {
        return tree;
    }
    if (auto path = tree.navigationPath(history_.back().id); path && !path->empty()) {
        return *path->back();
    }
    return tree;
}

void ExploreFlow::openFolder(const FileNode& node) {
    if (!node.isDirectory || !node.id.isFileUrl() || node.isSymbolicLink) {
        return;
    }
    auto path = shownTree().navigationPath(node.id);
    if (!path || path->empty()) {
        return;
    }
    // Every folder on the way down becomes a breadcrumb level, so a tile two levels deep opens
    // with its parent on the way back.
    std::vector<FileNode> levels;
    for (const FileNode* step : *path) {
        levels.push_back(withoutChildren(*step));
    }
    setSelected(std::nullopt);
    publish(history_, std::move(levels), Field::history);
}

void ExploreFlow::navigateTo(int level) {
    if (level < 0 || static_cast<size_t>(level) >= history_.size() + 1) {
        return;
    }
    std::vector<FileNode> kept(history_.begin(), history_.begin() + level);
    setSelected(std::nullopt);
    publish(history_, std::move(kept), Field::history);
}

void ExploreFlow::reveal(const FileNode& node) {
    shell_.reveal(node, isSample());
}

} // namespace varnok

#pragma once

#include "app/model/ScanMemory.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FileNode.hpp"
#include "core/scan/ScanHighlights.hpp"
#include "core/scan/ScanResult.hpp"
#include "core/snapshot/TreeChanges.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace varnok {

class AppModel;

// Folder map styles. The raw value is also the label.
enum class FolderMapMode { treemap, sunburst, flame, bubbles, list };
std::string_view rawValue(FolderMapMode mode);
// Exactly one of the five raw values; nothing otherwise.
std::optional<FolderMapMode> folderMapModeFromRawValue(std::string_view rawValue);

// The shown tree against an earlier scan of its folder.
struct ExploreComparison {
    TreeChanges changes;
    // When the earlier scan was taken, seconds since 1970 (0 when its file did not say).
    std::int64_t takenAt = 0;
    QString file;
};

// The explorer: its own folder scan, tree, progress and navigation. No other flow reads or
// replaces its tree, and it touches no other flow's state.
class ExploreFlow : public QObject {
    Q_OBJECT

public:
    // Every published field, in declaration order.
    enum class Field {
        scanHighlights,
        root,
        activeScanURL,
        selected,
        history,
        progress,
        ages,
        types,
        search,
        mapMode,
        mapDepth,
        mapExpanded,
        skippedPaths,
        duration,
        scanURL,
        apparentSize,
        shownTree,
        savedScanFile,
        comparison,
        comparingWith,
    };
    Q_ENUM(Field)

    explicit ExploreFlow(AppModel& shell);
    ~ExploreFlow() override;

    // The illustrative tree rooted at /home/morvel, shown until the first folder scan.
    static FileNode sample();

    const ScanHighlights& scanHighlights() const { return scanHighlights_; }
    // The scanned tree as the scan built it: both sizes, every path.
    const FileNode& root() const { return *root_; }
    // The tree the explorer, Largest and Home show: each node's `logicalSize` holds the size
    // chosen by `apparentSize` (bytes on disk as du counts them, unless apparent sizes are
    // asked for), children largest first. Same ids and shape as `root`.
    const FileNode& shownTree() const { return shownTree_ ? *shownTree_ : *root_; }
    // The same tree, shared: work in the background holds it so that it outlives a new scan.
    std::shared_ptr<const FileNode> sharedShownTree() const {
        return shownTree_ ? shownTree_ : root_;
    }
    // Sizes are apparent (content bytes, every path) rather than bytes on disk.
    bool apparentSize() const { return apparentSize_; }
    // The folder being scanned, while a scan runs.
    const std::optional<Url>& activeScanURL() const { return activeScanURL_; }
    const std::optional<FileNode>& selected() const { return selected_; }
    // The navigation below `root`: each entry a folder without its subtree.
    const std::vector<FileNode>& history() const { return history_; }
    const ScanProgress& progress() const { return progress_; }
    // Bytes by age and kind bucket, in the measure `apparentSize` chooses.
    const std::array<std::int64_t, 4>& ages() const { return apparentSize_ ? ages_ : diskAges_; }
    const std::array<std::int64_t, 4>& types() const { return apparentSize_ ? types_ : diskTypes_; }
    const QString& search() const { return search_; }
    FolderMapMode mapMode() const { return mapMode_; }
    int mapDepth() const { return mapDepth_; }
    bool mapExpanded() const { return mapExpanded_; }
    const QStringList& skippedPaths() const { return skippedPaths_; }
    // Seconds the last completed folder scan took.
    double duration() const { return duration_; }
    // The folder of the last completed scan; nothing while the sample is shown.
    const std::optional<Url>& scanURL() const { return scanURL_; }
    bool isSample() const { return !scanURL_.has_value(); }

    void setSelected(std::optional<FileNode> value);
    void setSearch(QString value);
    void setMapMode(FolderMapMode value);
    void setMapDepth(int value);
    void setMapExpanded(bool value);
    void setApparentSize(bool value);

    // Scans `folder` in the background. Refused while another folder scan runs. `progress`
    // follows it a few times a second; the result replaces the tree and resets the navigation.
    void scanFolder(const Url& folder);
    // Reads a scan saved by Ombrelo, `ncdu -o` or `gdu -o` in the background and shows it as a
    // folder scan would be shown; a file that is not such a scan is an error, nothing changes.
    void loadScan(const std::string& file);
    // Writes the scanned tree in ncdu's export format (gzip when the name ends in ".gz").
    void saveScan(const std::string& file);
    // The file the shown tree was read from; nothing for a scan made here.
    const std::optional<QString>& savedScanFile() const { return savedScanFile_; }
    // Reads a saved scan of the shown folder in the background and compares the shown tree with
    // it. A file that is not a scan, or a scan of another folder, is an error and nothing changes.
    // A new scan or a loaded scan ends the comparison.
    void compareWith(const std::string& file);
    void clearComparison();
    // The remembered scans of the shown folder taken before the shown tree, newest first: what
    // it can be compared with without choosing a file.
    std::vector<RememberedScan> earlierScans() const;
    // Null unless a comparison is shown.
    const std::shared_ptr<const ExploreComparison>& comparison() const { return comparison_; }
    // The saved scan being read for a comparison, while it is read.
    const std::optional<QString>& comparingWith() const { return comparingWith_; }
    // How a node of the shown tree changed, in the measure shown; unchanged when not comparing.
    NodeChange changeOf(const FileNode& node) const;
    // What changed below a folder of the shown tree, in the measure shown.
    ChangeTotals changesBelow(const FileNode& folder) const;
    // Cancels the running folder scan; nothing of it is published afterwards.
    void stopFolderScan();
    // Where the background scan's reports land; a report of another run is dropped.
    void folderScanProgressArrived(const QUuid& token, const ScanProgress& progress);
    // The folder shown: the last entry of `history` found again in `shownTree`, else its root.
    const FileNode& currentFolder() const;
    // Opens a folder below the current one (double click); files and map groups are ignored.
    void openFolder(const FileNode& node);
    // Goes back to a breadcrumb level: 0 is `root`, n the n-th entry of `history`.
    void navigateTo(int level);
    void reveal(const FileNode& node);

signals:
    void changed(varnok::ExploreFlow::Field field);

private:
    template <typename T> void publish(T& member, T value, Field field);
    void finishFolderScan(const Url& folder, ScanResult result, ScanHighlights highlights,
                          std::shared_ptr<const FileNode> diskTree,
                          std::array<std::int64_t, 4> diskAges,
                          std::array<std::int64_t, 4> diskTypes);
    void republishShownTree();
    void runTree(const Url& shownWhileRunning, std::optional<std::string> savedFile);

    AppModel& shell_;
    ScanHighlights scanHighlights_;
    // Shared with background work that reads it (a comparison, a save), so a new scan cannot
    // pull it away.
    std::shared_ptr<const FileNode> root_;
    // `root` sized by bytes on disk; shown unless apparent sizes are asked for.
    std::shared_ptr<const FileNode> diskTree_;
    std::shared_ptr<const FileNode> shownTree_;
    bool apparentSize_ = false;
    std::array<std::int64_t, 4> diskAges_{};
    std::array<std::int64_t, 4> diskTypes_{};
    std::optional<Url> activeScanURL_;
    QUuid scanToken_;
    std::optional<FileNode> selected_;
    std::vector<FileNode> history_;
    ScanProgress progress_;
    std::array<std::int64_t, 4> ages_{24000000000, 36000000000, 18000000000, 42000000000};
    std::array<std::int64_t, 4> types_{48000000000, 36000000000, 24000000000, 12000000000};
    QString search_;
    FolderMapMode mapMode_ = FolderMapMode::treemap;
    int mapDepth_ = 2;
    bool mapExpanded_ = false;
    QStringList skippedPaths_;
    double duration_ = 0;
    std::optional<Url> scanURL_;
    std::optional<TaskHandle> worker_;
    // When the shown tree was scanned, seconds since 1970 (0 when a saved file did not say).
    std::int64_t takenAt_ = 0;
    std::optional<QString> savedScanFile_;
    QUuid saveToken_;
    std::optional<TaskHandle> saver_;
    std::shared_ptr<const ExploreComparison> comparison_;
    std::optional<QString> comparingWith_;
    QUuid compareToken_;
    std::optional<TaskHandle> comparer_;
};

} // namespace varnok

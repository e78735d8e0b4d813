#pragma once

#include "core/common/Task.hpp"
#include "core/scan/FileNode.hpp"
#include "core/snapshot/TreeChanges.hpp"

#include <QAbstractTableModel>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ombrelo::ui {

// Rows over nodes of the model's tree, by pointer: the tree is never copied, so the owner must
// replace the rows before the tree changes. Sorts by any column. A folder of a hundred thousand
// items shows its first rows at once and the rest as the list scrolls to them, and a long list
// whose tree is shared sorts in the background, keeping its order until the new one is ready.
class NodeListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, size, kind, modified, location };
    // Rows added at a time.
    static constexpr int batch = 500;
    // Longer lists sort in the background when their tree is shared.
    static constexpr size_t quickSortLimit = 5000;

    // `withLocation` adds the folder holding each item as a last column.
    explicit NodeListModel(bool withLocation, QObject* parent = nullptr);
    ~NodeListModel() override;

    // `tree`, when given, holds the nodes' tree: a background sort keeps it alive while it runs.
    void setNodes(std::vector<const varnok::FileNode*> nodes,
                  std::shared_ptr<const varnok::FileNode> tree = {});
    // Every item, also those not yet made rows.
    int itemCount() const { return static_cast<int>(nodes_.size()); }
    // A background sort is under way.
    bool sorting() const { return sorter_.has_value(); }
    // The size column's heading: what the sizes measure.
    void setSizeOnDisk(bool onDisk);
    // While set, a last column (`change`) tells how each row changed since an earlier scan. Only
    // for a list without the location column.
    using ChangeLookup = std::function<varnok::NodeChange(const varnok::FileNode&)>;
    static constexpr int change = 4;
    void setChanges(ChangeLookup lookup);
    bool showsChanges() const { return static_cast<bool>(changes_); }
    const varnok::FileNode* node(int row) const;
    // The row showing `url`, made a row when it was not one yet, or -1.
    int rowOf(const varnok::Url& url);
    // The kind column's text: "Folder", or what the file's name says it is.
    static QString kindText(const varnok::FileNode& node);

    int rowCount(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    // Makes rows of the items up to `count`.
    void showUpTo(size_t count);
    void cancelSort();

    bool withLocation_;
    // Every item, in the order shown; the first `shown_` are rows.
    std::vector<const varnok::FileNode*> nodes_;
    size_t shown_ = 0;
    std::shared_ptr<const varnok::FileNode> tree_;
    QUuid sortToken_;
    std::optional<varnok::TaskHandle> sorter_;
    std::int64_t total_ = 0;
    bool onDisk_ = false;
    ChangeLookup changes_;
};

} // namespace ombrelo::ui

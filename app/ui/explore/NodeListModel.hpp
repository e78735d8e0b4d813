#pragma once

#include "core/scan/FileNode.hpp"
#include "core/snapshot/TreeChanges.hpp"

#include <QAbstractTableModel>

#include <functional>
#include <vector>

namespace ombrelo::ui {

// Rows over nodes of the model's tree, by pointer: the tree is never copied, so the owner must
// replace the rows before the tree changes. Sorts by any column.
class NodeListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, size, kind, modified, location };
    // `withLocation` adds the folder holding each item as a last column.
    explicit NodeListModel(bool withLocation, QObject* parent = nullptr);

    void setNodes(std::vector<const varnok::FileNode*> nodes);
    // The size column's heading: what the sizes measure.
    void setSizeOnDisk(bool onDisk);
    // While set, a last column (`change`) tells how each row changed since an earlier scan. Only
    // for a list without the location column.
    using ChangeLookup = std::function<varnok::NodeChange(const varnok::FileNode&)>;
    static constexpr int change = 4;
    void setChanges(ChangeLookup lookup);
    bool showsChanges() const { return static_cast<bool>(changes_); }
    const varnok::FileNode* node(int row) const;
    // The row showing `url`, or -1.
    int rowOf(const varnok::Url& url) const;
    // The kind column's text: "Folder", or what the file's name says it is.
    static QString kindText(const varnok::FileNode& node);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    bool withLocation_;
    std::vector<const varnok::FileNode*> nodes_;
    std::int64_t total_ = 0;
    bool onDisk_ = false;
    ChangeLookup changes_;
};

} // namespace ombrelo::ui

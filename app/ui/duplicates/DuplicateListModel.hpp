#pragma once

#include "app/model/DuplicatesFlow.hpp"

#include <QAbstractItemModel>

namespace ombrelo::ui {

// The duplicates flow's result as a two-level list: one row per set, one child row per copy,
// checked when the copy is selected. Points into the flow's result and never copies it; a new
// result resets the list, a new selection or keeper only repaints it.
class DuplicateListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { file, size, kept, columns };

    explicit DuplicateListModel(varnok::DuplicatesFlow& flow, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The copy a row shows, or null for a set's row.
    const varnok::FileNode* fileAt(const QModelIndex& index) const;
    // The set a row belongs to, or null.
    const varnok::DuplicateGroup* groupAt(const QModelIndex& index) const;
    // The row of a copy, invalid when no set holds it.
    QModelIndex indexOf(const varnok::Url& url, int column = file) const;

private:
    void repaint();

    varnok::DuplicatesFlow& flow_;
};

} // namespace ombrelo::ui

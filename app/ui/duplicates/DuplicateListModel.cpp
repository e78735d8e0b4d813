#include "app/ui/duplicates/DuplicateListModel.hpp"

#include "app/ui/common/UiText.hpp"

#include <QFont>

namespace ombrelo::ui {

namespace {

// A set's rows carry no id; a copy's carries its set's position plus one.
constexpr quintptr setRow = 0;

} // namespace

DuplicateListModel::DuplicateListModel(varnok::DuplicatesFlow& flow, QObject* parent)
    : QAbstractItemModel(parent), flow_(flow) {
    using Field = varnok::DuplicatesFlow::Field;
    connect(&flow_, &varnok::DuplicatesFlow::changed, this, [this](Field field) {
        if (field == Field::duplicateResult) {
            beginResetModel();
            endResetModel();
        } else if (field == Field::duplicateKeepers || field == Field::duplicateSelection ||
                   field == Field::keepRule) {
            repaint();
        }
    });
}

void DuplicateListModel::repaint() {
    const int sets = rowCount();
    if (sets == 0) {
        return;
    }
    emit dataChanged(index(0, 0), index(sets - 1, columns - 1));
    for (int row = 0; row < sets; ++row) {
        const QModelIndex set = index(row, 0);
        const int copies = rowCount(set);
        emit dataChanged(index(0, 0, set), index(copies - 1, columns - 1, set));
    }
}

QModelIndex DuplicateListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columns || row >= rowCount(parent)) {
        return {};
    }
    return createIndex(row, column,
                       parent.isValid() ? static_cast<quintptr>(parent.row()) + 1 : setRow);
}

QModelIndex DuplicateListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == setRow) {
        return {};
    }
    return createIndex(static_cast<int>(child.internalId() - 1), 0, setRow);
}

int DuplicateListModel::rowCount(const QModelIndex& parent) const {
    const auto& result = flow_.duplicateResult();
    if (!result) {
        return 0;
    }
    if (!parent.isValid()) {
        return static_cast<int>(result->groups.size());
    }
    if (parent.internalId() != setRow || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(result->groups[static_cast<size_t>(parent.row())].files.size());
}

int DuplicateListModel::columnCount(const QModelIndex&) const {
    return columns;
}

const varnok::DuplicateGroup* DuplicateListModel::groupAt(const QModelIndex& index) const {
    const auto& result = flow_.duplicateResult();
    if (!index.isValid() || !result) {
        return nullptr;
    }
    const auto set = index.internalId() == setRow ? static_cast<size_t>(index.row())
                                                  : static_cast<size_t>(index.internalId() - 1);
    return set < result->groups.size() ? &result->groups[set] : nullptr;
}

const varnok::FileNode* DuplicateListModel::fileAt(const QModelIndex& index) const {
    const varnok::DuplicateGroup* group = groupAt(index);
    if (group == nullptr || index.internalId() == setRow) {
        return nullptr;
    }
    const auto row = static_cast<size_t>(index.row());
    return row < group->files.size() ? &group->files[row] : nullptr;
}

QModelIndex DuplicateListModel::indexOf(const varnok::Url& url, int column) const {
    const auto& result = flow_.duplicateResult();
    if (!result) {
        return {};
    }
    for (size_t set = 0; set < result->groups.size(); ++set) {
        const auto& files = result->groups[set].files;
        for (size_t row = 0; row < files.size(); ++row) {
            if (files[row].id == url) {
                return createIndex(static_cast<int>(row), column, static_cast<quintptr>(set) + 1);
            }
        }
    }
    return {};
}

QVariant DuplicateListModel::data(const QModelIndex& index, int role) const {
    const varnok::DuplicateGroup* group = groupAt(index);
    if (group == nullptr) {
        return {};
    }
    const varnok::FileNode& keeper = flow_.duplicateKeeper(*group);
    const varnok::FileNode* copy = fileAt(index);
    if (copy == nullptr) {
        // A set is named after the copy it keeps.
        if (role == Qt::DisplayRole && index.column() == file) {
            return tr("%1 \u2014 %2 copies of %3")
                .arg(qs(keeper.name()))
                .arg(group->files.size())
                .arg(formatSize(keeper.logicalSize));
        }
        if (role == Qt::DisplayRole && index.column() == size) {
            return tr("%1 extra").arg(formatSize(group->extraSize()));
        }
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    }
    const bool isKeeper = copy->id == keeper.id;
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == file) {
            return qs(copy->id.path());
        }
        if (index.column() == size) {
            return formatSize(copy->logicalSize);
        }
        return isKeeper ? tr("Kept") : QString();
    case Qt::ToolTipRole:
        return qs(copy->id.path());
    case Qt::AccessibleTextRole:
        if (index.column() == file) {
            return isKeeper ? tr("%1, kept").arg(qs(copy->id.path())) : qs(copy->id.path());
        }
        return {};
    case Qt::CheckStateRole:
        if (index.column() != file || isKeeper) {
            return {};
        }
        return flow_.duplicateSelection().count(copy->id) != 0 ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool DuplicateListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const varnok::FileNode* copy = fileAt(index);
    if (copy == nullptr || role != Qt::CheckStateRole || index.column() != file) {
        return false;
    }
    const bool wanted = value.toInt() == Qt::Checked;
    if (wanted != (flow_.duplicateSelection().count(copy->id) != 0)) {
        flow_.toggleDuplicate(copy->id);
    }
    return true;
}

Qt::ItemFlags DuplicateListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const varnok::FileNode* copy = fileAt(index);
    const varnok::DuplicateGroup* group = groupAt(index);
    if (copy != nullptr && index.column() == file && copy->id != flow_.duplicateKeeper(*group).id) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

QVariant DuplicateListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case file:
        return tr("File");
    case size:
        return tr("Size");
    default:
        return QString();
    }
}

} // namespace ombrelo::ui

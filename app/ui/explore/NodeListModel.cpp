#include "app/ui/explore/NodeListModel.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/explore/ChangeTexts.hpp"
#include "core/kinds/MimeDatabase.hpp"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace ombrelo::ui {

using varnok::FileNode;

namespace {

std::int64_t modifiedAt(const FileNode& node) {
    return node.identity ? node.identity->modifiedSeconds : 0;
}

} // namespace

NodeListModel::NodeListModel(bool withLocation, QObject* parent)
    : QAbstractTableModel(parent), withLocation_(withLocation) {}

void NodeListModel::setNodes(std::vector<const FileNode*> nodes) {
    beginResetModel();
    nodes_ = std::move(nodes);
    total_ = 0;
    for (const auto* node : nodes_) {
        total_ += node->logicalSize;
    }
    endResetModel();
}

void NodeListModel::setSizeOnDisk(bool onDisk) {
    if (onDisk_ != onDisk) {
        onDisk_ = onDisk;
        emit headerDataChanged(Qt::Horizontal, size, size);
    }
}

void NodeListModel::setChanges(ChangeLookup lookup) {
    // The column comes or goes: views ask for everything again.
    beginResetModel();
    changes_ = std::move(lookup);
    endResetModel();
}

const FileNode* NodeListModel::node(int row) const {
    return row >= 0 && static_cast<size_t>(row) < nodes_.size() ? nodes_[row] : nullptr;
}

int NodeListModel::rowOf(const varnok::Url& url) const {
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (nodes_[i]->id == url) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString NodeListModel::kindText(const FileNode& node) {
    if (node.isSymbolicLink) {
        return tr("Link");
    }
    if (node.isDirectory) {
        return tr("Folder");
    }
    return QString::fromStdString(
        varnok::MimeDatabase::shared().kindOfFile(node.name()).description);
}

int NodeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(nodes_.size());
}

int NodeListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (withLocation_ ? 5 : 4) + (changes_ ? 1 : 0);
}

QVariant NodeListModel::data(const QModelIndex& index, int role) const {
    const FileNode* item = node(index.row());
    if (item == nullptr) {
        return {};
    }
    if (changes_ && index.column() == change) {
        switch (role) {
        case Qt::DisplayRole:
            return changeTexts::cell(changes_(*item));
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:
            return changeTexts::spoken(changes_(*item));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == size) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole) {
        // The whole name, however narrow its column, and where it is.
        return index.column() == name ? qs(item->name()) + QLatin1Char('\n') + qs(item->id.path())
                                      : qs(item->id.path());
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case name:
        return qs(item->name());
    case size:
        if (!withLocation_ && total_ > 0) {
            return tr("%1  (%2%)")
                .arg(formatSize(item->logicalSize),
                     QString::number(100.0 * item->logicalSize / total_, 'f', 1));
        }
        return formatSize(item->logicalSize);
    case kind:
        return kindText(*item);
    case modified:
        if (!item->identity) {
            return QString();
        }
        return QLocale().toString(QDateTime::fromSecsSinceEpoch(modifiedAt(*item)),
                                  QLocale::ShortFormat);
    case location:
        return qs(item->id.deletingLastPathComponent().path());
    default:
        return {};
    }
}

QVariant NodeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    if (changes_ && section == change) {
        return tr("Change");
    }
    switch (section) {
    case name:
        return tr("Name");
    case size:
        return onDisk_ ? tr("On disk") : tr("Size");
    case kind:
        return tr("Kind");
    case modified:
        return tr("Modified");
    case location:
        return tr("Location");
    default:
        return {};
    }
}

void NodeListModel::sort(int column, Qt::SortOrder order) {
    // Each kind is looked up once, not at every comparison.
    std::map<const FileNode*, QString> kinds;
    if (column == kind) {
        for (const FileNode* node : nodes_) {
            kinds.emplace(node, kindText(*node));
        }
    }
    // Growth ranks high, and a new item by all it holds.
    const bool byChange = changes_ && column == change;
    std::unordered_map<const FileNode*, std::int64_t> changes;
    if (byChange) {
        for (const FileNode* node : nodes_) {
            changes.emplace(node, changes_(*node).change());
        }
    }
    auto less = [column, byChange, &kinds, &changes](const FileNode* a, const FileNode* b) {
        if (byChange) {
            return changes.at(a) < changes.at(b);
        }
        switch (column) {
        case size:
            return a->logicalSize < b->logicalSize;
        case kind:
            return kinds.at(a) < kinds.at(b);
        case modified:
            return modifiedAt(*a) < modifiedAt(*b);
        case location:
            return a->id.deletingLastPathComponent().path() <
                   b->id.deletingLastPathComponent().path();
        default:
            return QString::localeAwareCompare(qs(a->name()), qs(b->name())) < 0;
        }
    };
    emit layoutAboutToBeChanged();
    if (order == Qt::AscendingOrder) {
        std::stable_sort(nodes_.begin(), nodes_.end(), less);
    } else {
        std::stable_sort(nodes_.begin(), nodes_.end(),
                         [&](const FileNode* a, const FileNode* b) { return less(b, a); });
    }
    emit layoutChanged();
}

} // namespace ombrelo::ui

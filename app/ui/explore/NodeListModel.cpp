#include "app/ui/explore/NodeListModel.hpp"

#include "app/ui/common/UiText.hpp"
#include "core/layout/LayoutGroup.hpp"
#include "core/scan/ItemKind.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QDateTime>
#include <QLocale>

#include <algorithm>

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
    QString bucket;
    switch (varnok::ScanEngine::kindBucket(node.name())) {
    case 0:
        bucket = tr("Code");
        break;
    case 1:
        bucket = tr("Media");
        break;
    case 2:
        bucket = tr("Document");
        break;
    default:
        bucket = tr("Other");
        break;
    }
    const QString extension = qs(varnok::fileExtension(node)).toUpper();
    return extension.isEmpty() ? bucket : tr("%1 \u00b7 %2").arg(bucket, extension);
}

int NodeListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(nodes_.size());
}

int NodeListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (withLocation_ ? 5 : 4);
}

QVariant NodeListModel::data(const QModelIndex& index, int role) const {
    const FileNode* item = node(index.row());
    if (item == nullptr) {
        return {};
    }
    if (role == Qt::TextAlignmentRole && index.column() == size) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole) {
        return qs(item->id.path());
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
    switch (section) {
    case name:
        return tr("Name");
    case size:
        return tr("Size");
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
    auto less = [column](const FileNode* a, const FileNode* b) {
        switch (column) {
        case size:
            return a->logicalSize < b->logicalSize;
        case kind:
            return kindText(*a) < kindText(*b);
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

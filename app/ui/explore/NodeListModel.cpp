#include "app/ui/explore/NodeListModel.hpp"

#include "app/model/Background.hpp"
#include "app/ui/common/UiText.hpp"
#include "app/ui/explore/ChangeTexts.hpp"
#include "core/kinds/MimeDatabase.hpp"

#include <QCollator>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace ombrelo::ui {

using varnok::FileNode;

namespace {

std::int64_t modifiedAt(const FileNode& node) {
    return node.identity ? node.identity->modifiedSeconds : 0;
}

// `nodes` by the keys `keyOf` gives them, ties in their present order.
template <typename KeyOf, typename Less>
std::vector<const FileNode*> orderedBy(const std::vector<const FileNode*>& nodes,
                                       Qt::SortOrder order, KeyOf keyOf, Less less) {
    // Each key is made once, not at every comparison: a name's collation key or a kind's lookup
    // costs far more than comparing them.
    std::vector<decltype(keyOf(*nodes.front()))> keys;
    keys.reserve(nodes.size());
    for (const FileNode* node : nodes) {
        if (keys.size() % 1024 == 0) {
            varnok::Task::checkCancellation();
        }
        keys.push_back(keyOf(*node));
    }
    std::vector<size_t> index(nodes.size());
    std::iota(index.begin(), index.end(), size_t{0});
    if (order == Qt::AscendingOrder) {
        std::stable_sort(index.begin(), index.end(),
                         [&](size_t a, size_t b) { return less(keys[a], keys[b]); });
    } else {
        std::stable_sort(index.begin(), index.end(),
                         [&](size_t a, size_t b) { return less(keys[b], keys[a]); });
    }
    std::vector<const FileNode*> sorted;
    sorted.reserve(nodes.size());
    for (size_t i : index) {
        sorted.push_back(nodes[i]);
    }
    return sorted;
}

// `nodes` sorted by `column`; safe on any thread.
std::vector<const FileNode*> sortedNodes(const std::vector<const FileNode*>& nodes, int column,
                                         Qt::SortOrder order) {
    if (nodes.empty()) {
        return nodes;
    }
    const auto less = [](const auto& a, const auto& b) { return a < b; };
    switch (column) {
    case NodeListModel::size:
        return orderedBy(
            nodes, order, [](const FileNode& node) { return node.logicalSize; }, less);
    case NodeListModel::kind:
        return orderedBy(nodes, order, &NodeListModel::kindText, less);
    case NodeListModel::modified:
        return orderedBy(nodes, order, modifiedAt, less);
    case NodeListModel::location:
        return orderedBy(
            nodes, order,
            [](const FileNode& node) { return node.id.deletingLastPathComponent().path(); }, less);
    default: {
        QCollator collator;
        return orderedBy(
            nodes, order, [&](const FileNode& node) { return collator.sortKey(qs(node.name())); },
            [](const QCollatorSortKey& a, const QCollatorSortKey& b) { return a.compare(b) < 0; });
    }
    }
}

} // namespace

NodeListModel::NodeListModel(bool withLocation, QObject* parent)
    : QAbstractTableModel(parent), withLocation_(withLocation) {}

NodeListModel::~NodeListModel() {
    cancelSort();
}

void NodeListModel::cancelSort() {
    if (sorter_) {
        sorter_->cancel();
        sorter_.reset();
    }
    sortToken_ = QUuid::createUuid();
}

void NodeListModel::setNodes(std::vector<const FileNode*> nodes,
                             std::shared_ptr<const FileNode> tree) {
    cancelSort();
    beginResetModel();
    nodes_ = std::move(nodes);
    tree_ = std::move(tree);
    shown_ = std::min(nodes_.size(), static_cast<size_t>(batch));
    total_ = 0;
    for (const auto* node : nodes_) {
        total_ += node->logicalSize;
    }
    endResetModel();
}

bool NodeListModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && shown_ < nodes_.size();
}

void NodeListModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid()) {
        showUpTo(shown_ + batch);
    }
}

void NodeListModel::showUpTo(size_t count) {
    count = std::min(count, nodes_.size());
    if (count <= shown_) {
        return;
    }
    beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(count) - 1);
    shown_ = count;
    endInsertRows();
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
    return row >= 0 && static_cast<size_t>(row) < shown_ ? nodes_[row] : nullptr;
}

int NodeListModel::rowOf(const varnok::Url& url) {
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (nodes_[i]->id == url) {
            // Rows are made in batches, so that the rows before it are there too.
            showUpTo((i / batch + 1) * batch);
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
    return parent.isValid() ? 0 : static_cast<int>(shown_);
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
    cancelSort();
    auto apply = [this](std::vector<const FileNode*> sorted) {
        emit layoutAboutToBeChanged();
        nodes_ = std::move(sorted);
        emit layoutChanged();
    };
    if (changes_ && column == change) {
        // The lookup reads the flow's comparison, which belongs to this thread: the keys are made
        // here, once per row, and only the sort itself is left.
        std::unordered_map<const FileNode*, std::int64_t> growth;
        growth.reserve(nodes_.size());
        for (const FileNode* node : nodes_) {
            growth.emplace(node, changes_(*node).change());
        }
        apply(orderedBy(
            nodes_, order, [&](const FileNode& node) { return growth.at(&node); },
            [](std::int64_t a, std::int64_t b) { return a < b; }));
        return;
    }
    if (nodes_.size() <= quickSortLimit || !tree_) {
        apply(sortedNodes(nodes_, column, order));
        return;
    }
    const QUuid token = sortToken_;
    sorter_ = varnok::model::runInBackground(
        this, &NodeListModel::sortToken_, token,
        [nodes = nodes_, tree = tree_, column, order] { return sortedNodes(nodes, column, order); },
        [apply](NodeListModel& model,
                varnok::model::Outcome<std::vector<const FileNode*>> outcome) {
            model.sorter_.reset();
            if (outcome.value) {
                apply(std::move(*outcome.value));
            }
        });
}

} // namespace ombrelo::ui

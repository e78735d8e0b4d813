#include "app/ui/pages/LargestPage.hpp"

#include "app/model/Background.hpp"
#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "core/scan/ItemIndex.hpp"

#include <QButtonGroup>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ombrelo::ui {

using varnok::AppModel;
using varnok::FileNode;

LargestPage::LargestPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 20, 28, 20);
    layout->setSpacing(10);
    layout->addWidget(makeLabel(tr("Largest items"), TextRole::title, this));

    auto* controls = new QHBoxLayout;
    scopeButtons = new QButtonGroup(this);
    const QString scopes[] = {tr("In this folder"), tr("All files"), tr("All folders")};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(scopes[i], this);
        button->setCheckable(true);
        scopeButtons->addButton(button, i);
        controls->addWidget(button);
    }
    scopeButtons->button(allFiles)->setChecked(true);
    controls->addSpacing(12);
    searchField = new QLineEdit(model_.explore().search(), this);
    searchField->setPlaceholderText(tr("Search names and paths"));
    searchField->setClearButtonEnabled(true);
    nameField(searchField, tr("Search the largest items"));
    controls->addWidget(searchField, 1);
    kindFilter = new QComboBox(this);
    kindFilter->setAccessibleName(tr("Kind of items to list"));
    kindFilter->addItem(tr("All kinds"));
    for (auto kind : varnok::allItemKinds) {
        kindFilter->addItem(qs(varnok::textValue(kind)));
    }
    controls->addWidget(kindFilter);
    sortOrder = new QComboBox(this);
    sortOrder->setAccessibleName(tr("Order of the largest items"));
    for (auto sort : varnok::allItemSorts) {
        sortOrder->addItem(qs(varnok::textValue(sort)));
    }
    controls->addWidget(sortOrder);
    layout->addLayout(controls);

    list = new QTreeView(this);
    listModel = new NodeListModel(true, list);
    list->setModel(listModel);
    list->setAccessibleName(tr("Largest items"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->header()->setSectionResizeMode(NodeListModel::name, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(NodeListModel::location, QHeaderView::Stretch);
    list->header()->setStretchLastSection(false);
    for (int column : {NodeListModel::size, NodeListModel::kind, NodeListModel::modified}) {
        list->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    // Measuring a thousand rows' texts for their widths takes longer than a frame.
    list->header()->setResizeContentsPrecision(100);
    layout->addWidget(list, 1);

    auto* footer = new QHBoxLayout;
    countLine = makeLabel(QString(), TextRole::secondary, this);
    footer->addWidget(countLine, 1);
    revealButton = makeButton(tr("Show in Folder"), this);
    footer->addWidget(revealButton);
    layout->addLayout(footer);

    // Toggled rather than clicked, so a screen reader's press changes the scope too.
    connect(scopeButtons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            refresh();
        }
    });
    connect(kindFilter, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { refresh(); });
    connect(sortOrder, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { refresh(); });
    connect(searchField, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.explore().setSearch(text); });
    connect(list, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { revealRow(index.row()); });
    connect(revealButton, &QPushButton::clicked, this,
            [this] { revealRow(list->currentIndex().row()); });
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                const FileNode* node = listModel->node(current.row());
                revealButton->setAccessibleName(
                    node != nullptr ? tr("Show %1 in Folder").arg(qs(node->id.path()))
                                    : tr("Show in Folder"));
            });
    connect(&model_.explore(), &varnok::ExploreFlow::changed, this,
            [this](varnok::ExploreFlow::Field field) {
                using Field = varnok::ExploreFlow::Field;
                switch (field) {
                case Field::root:
                case Field::shownTree:
                    // The rows point into the old tree: let go of them now, even while hidden.
                    dropRows();
                    refreshWhenShown();
                    break;
                case Field::history:
                    if (scopeButtons->checkedId() == inThisFolder) {
                        refreshWhenShown();
                    }
                    break;
                case Field::search:
                    if (searchField->text() != model_.explore().search()) {
                        searchField->setText(model_.explore().search());
                    }
                    refreshWhenShown();
                    break;
                default:
                    break;
                }
            });
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::searchFocusRequest) {
            searchField->setFocus(Qt::ShortcutFocusReason);
            searchField->selectAll();
        }
    });
    refresh();
}

void LargestPage::refreshWhenShown() {
    if (isVisible()) {
        refresh();
    } else {
        stale_ = true;
    }
}

void LargestPage::showEvent(QShowEvent* event) {
    if (stale_) {
        refresh();
    }
    QWidget::showEvent(event);
}

LargestPage::~LargestPage() {
    if (lister_) {
        lister_->cancel();
    }
}

void LargestPage::dropRows() {
    if (lister_) {
        lister_->cancel();
        lister_.reset();
    }
    listToken_ = QUuid::createUuid();
    listModel->setNodes({});
    rowsTree_.reset();
    revealButton->setEnabled(false);
}

namespace {

struct Listing {
    std::vector<const FileNode*> rows;
    size_t total = 0;
};

} // namespace

void LargestPage::refresh() {
    stale_ = false;
    const int scope = scopeButtons->checkedId();
    std::optional<varnok::ItemKind> kind;
    if (kindFilter->currentIndex() > 0) {
        kind = varnok::allItemKinds[kindFilter->currentIndex() - 1];
    } else if (scope == allFiles) {
        kind = varnok::ItemKind::files;
    } else if (scope == allFolders) {
        kind = varnok::ItemKind::folders;
    }
    // Held by the worker, so that a new scan cannot free the tree under it.
    std::shared_ptr<const FileNode> tree = model_.explore().sharedShownTree();
    const FileNode* folder = scope == inThisFolder ? &model_.explore().currentFolder() : tree.get();
    const auto sort = varnok::allItemSorts[std::max(0, sortOrder->currentIndex())];
    const auto itemScope =
        scope == inThisFolder ? varnok::ItemScope::directChildren : varnok::ItemScope::descendants;
    const QString where = scope == inThisFolder ? qs(folder->id.path()) : tr("the explored folder");
    if (lister_) {
        lister_->cancel();
    }
    const QUuid token = QUuid::createUuid();
    listToken_ = token;
    countLine->setText(tr("Listing the items in %1\u2026").arg(where));
    lister_ = varnok::model::runInBackground(
        this, &LargestPage::listToken_, token,
        [tree, folder, kind, sort, itemScope, search = model_.explore().search().toStdString()] {
            Listing listing;
            listing.rows = varnok::ItemIndex::find(*folder, kind, sort, search, itemScope);
            listing.total = listing.rows.size();
            if (listing.rows.size() > static_cast<size_t>(rowLimit)) {
                listing.rows.resize(rowLimit);
            }
            return listing;
        },
        // The token still being current, the shown tree is still the one listed.
        [where](LargestPage& page, varnok::model::Outcome<Listing> outcome) {
            page.lister_.reset();
            if (!outcome.value) {
                if (!outcome.cancelled) {
                    page.countLine->setText(
                        outcome.failure.value_or(tr("The items could not be listed.")));
                }
                return;
            }
            page.listModel->setNodes(std::move(outcome.value->rows));
            page.rowsTree_ = page.model_.explore().sharedShownTree();
            page.listModel->setSizeOnDisk(!page.model_.explore().apparentSize());
            page.list->header()->setSortIndicatorShown(false);
            page.revealButton->setEnabled(page.listModel->rowCount() > 0);
            const size_t total = outcome.value->total;
            page.countLine->setText(
                total > static_cast<size_t>(rowLimit)
                    ? tr("The first %1 of %2 items in %3")
                          .arg(QLocale().toString(rowLimit),
                               QLocale().toString(static_cast<qlonglong>(total)), where)
                    : tr("%1 items in %2")
                          .arg(QLocale().toString(static_cast<qlonglong>(total)), where));
        });
}

void LargestPage::revealRow(int row) {
    if (const FileNode* node = listModel->node(row)) {
        model_.explore().reveal(*node);
    }
}

} // namespace ombrelo::ui

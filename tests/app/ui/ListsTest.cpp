#include "app/model/AppModel.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/LargestPage.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <random>

using namespace ombrelo;
using ui::NodeListModel;
using varnok::FileNode;

namespace {

// A folder of `count` files with shuffled names and sizes, shared as the explorer shares its tree.
std::shared_ptr<const FileNode> folderOf(int count) {
    FileNode folder;
    folder.id = varnok::Url::file("/data/many", true);
    folder.isDirectory = true;
    std::mt19937 random(7);
    for (int i = 0; i < count; ++i) {
        FileNode file;
        file.id = folder.id.appendingPathComponent("item " + std::to_string(random() % 100000));
        file.logicalSize = static_cast<std::int64_t>(random() % 1000000);
        file.fileCount = 1;
        folder.logicalSize += file.logicalSize;
        folder.children.push_back(std::move(file));
    }
    return std::make_shared<const FileNode>(std::move(folder));
}

std::vector<const FileNode*> pointers(const FileNode& folder) {
    std::vector<const FileNode*> nodes;
    for (const auto& child : folder.children) {
        nodes.push_back(&child);
    }
    return nodes;
}

// Every item's size, in row order, after making rows of them all.
std::vector<std::int64_t> allSizes(NodeListModel& model) {
    while (model.canFetchMore({})) {
        model.fetchMore({});
    }
    std::vector<std::int64_t> sizes;
    for (int row = 0; row < model.rowCount(); ++row) {
        sizes.push_back(model.node(row)->logicalSize);
    }
    return sizes;
}

bool inTree(const FileNode& tree, const FileNode* node) {
    if (&tree == node) {
        return true;
    }
    return std::any_of(tree.children.begin(), tree.children.end(),
                       [&](const FileNode& child) { return inTree(child, node); });
}

} // namespace

class ListsTest : public QObject {
    Q_OBJECT

private slots:
    void rowsComeInBatchesAndStaySortedAcrossFetches() {
        const auto folder = folderOf(1234);
        NodeListModel model(false);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.setNodes(pointers(*folder));
        QCOMPARE(model.rowCount(), NodeListModel::batch);
        QCOMPARE(model.itemCount(), 1234);
        QVERIFY(model.canFetchMore({}));
        QCOMPARE(model.node(NodeListModel::batch), nullptr);

        // Sorted before any more rows are made: the later batches continue the order.
        model.sort(NodeListModel::size, Qt::DescendingOrder);
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 2 * NodeListModel::batch);
        QCOMPARE(inserted.size(), 1);
        const auto sizes = allSizes(model);
        QCOMPARE(sizes.size(), size_t(1234));
        QVERIFY(std::is_sorted(sizes.rbegin(), sizes.rend()));
        QVERIFY(!model.canFetchMore({}));

        // Sorting again after all rows are made reorders all of them; the share is of the whole.
        model.sort(NodeListModel::size, Qt::AscendingOrder);
        const auto ascending = allSizes(model);
        QVERIFY(std::is_sorted(ascending.begin(), ascending.end()));
        QVERIFY(model.index(0, NodeListModel::size).data().toString().contains("%)"));

        // New items start again with one batch.
        model.setNodes(pointers(*folder));
        QCOMPARE(model.rowCount(), NodeListModel::batch);
    }

    void anItemBeyondTheRowsIsFoundAndMadeARow() {
        const auto folder = folderOf(1500);
        NodeListModel model(false);
        model.setNodes(pointers(*folder));
        const FileNode& last = folder->children.back();
        const int row = model.rowOf(last.id);
        QCOMPARE(row, 1499);
        QVERIFY(model.rowCount() > row);
        QCOMPARE(model.node(row), &last);
        QCOMPARE(model.rowOf(varnok::Url::file("/data/elsewhere")), -1);
    }

    void aLongSharedListSortsInTheBackgroundAndAStaleSortIsDropped() {
        const auto folder = folderOf(static_cast<int>(NodeListModel::quickSortLimit) * 3);
        NodeListModel model(false);
        model.setNodes(pointers(*folder), folder);
        model.sort(NodeListModel::name, Qt::AscendingOrder);
        QVERIFY(model.sorting());
        QTRY_VERIFY(!model.sorting());
        while (model.canFetchMore({})) {
            model.fetchMore({});
        }
        for (int row = 1; row < model.rowCount(); ++row) {
            QVERIFY(QString::localeAwareCompare(QString::fromStdString(model.node(row - 1)->name()),
                                                QString::fromStdString(model.node(row)->name())) <=
                    0);
        }

        // Items replaced while a sort runs: its result never reorders the new ones.
        model.sort(NodeListModel::size, Qt::AscendingOrder);
        QVERIFY(model.sorting());
        const auto other = folderOf(static_cast<int>(NodeListModel::quickSortLimit) * 2);
        model.setNodes(pointers(*other), other);
        QVERIFY(!model.sorting());
        QTest::qWait(300);
        QCOMPARE(model.node(0), &other->children.front());
        QCOMPARE(model.itemCount(), static_cast<int>(other->children.size()));
    }

    void largestFillsInAfterItsBackgroundWork() {
        varnok::AppModel app;
        ui::LargestPage page(app);
        page.show();
        QVERIFY(page.listing());
        QTRY_VERIFY(!page.listing());
        QVERIFY(page.listModel->rowCount() > 1);
        for (int row = 1; row < page.listModel->rowCount(); ++row) {
            QVERIFY(!page.listModel->node(row)->isDirectory);
            QVERIFY(page.listModel->node(row - 1)->logicalSize >=
                    page.listModel->node(row)->logicalSize);
        }
        QVERIFY(page.countLine->text().contains("items in"));
        QVERIFY(page.revealButton->isEnabled());

        // Scopes chosen in quick succession: only the last one's rows are shown.
        page.scopeButtons->button(ui::LargestPage::allFolders)->click();
        page.scopeButtons->button(ui::LargestPage::allFiles)->click();
        page.scopeButtons->button(ui::LargestPage::allFolders)->click();
        QTRY_VERIFY(!page.listing());
        QTest::qWait(100);
        QVERIFY(page.listModel->rowCount() > 0);
        for (int row = 0; row < page.listModel->rowCount(); ++row) {
            QVERIFY(page.listModel->node(row)->isDirectory);
        }

        // The shown tree changes while a listing runs: the old rows go at once, and the rows
        // that arrive point into the tree now shown.
        page.refresh();
        app.explore().setApparentSize(true);
        QCOMPARE(page.listModel->rowCount(), 0);
        QTRY_VERIFY(!page.listing());
        QVERIFY(page.listModel->rowCount() > 0);
        for (int row = 0; row < page.listModel->rowCount(); ++row) {
            QVERIFY(inTree(app.explore().shownTree(), page.listModel->node(row)));
        }
    }
};

QTEST_MAIN(ListsTest)
#include "ListsTest.moc"

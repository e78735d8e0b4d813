#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/cleanup/Sheets.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/duplicates/DuplicateListModel.hpp"
#include "app/ui/duplicates/DuplicatesPage.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/LargestPage.hpp"
#include "app/ui/pages/SettingsPage.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "core/layout/BubbleLayout.hpp"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QStackedWidget>
#include <QTreeWidget>

#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <cmath>

using namespace ombrelo;
using ui::PageStack;
using varnok::AppModel;
using varnok::AppPage;
using varnok::FileNode;
using varnok::FolderMapMode;

namespace {

// The sample tree's first level: .local 50 %, Projects 25 %, Downloads 12.5 %, Documents 7.5 %,
// Videos 5 %.
std::string nameAt(ui::FolderMap& map, QPointF point) {
    const FileNode* node = map.nodeAt(point);
    return node == nullptr ? std::string("(none)") : node->name();
}

std::string parentName(const FileNode& node) {
    return node.id.deletingLastPathComponent().lastPathComponent();
}

} // namespace

class ExploreTest : public QObject {
    Q_OBJECT

private slots:
    void eachModeFindsTheTileUnderAPoint() {
        const FileNode sample = varnok::ExploreFlow::sample();
        ui::FolderMap map;
        map.resize(800, 400);
        map.setFolder(&sample);
        map.setDepth(1);

        // Treemap: the halving cut across the longer side gives .local the left half.
        map.setMode(FolderMapMode::treemap);
        QCOMPARE(nameAt(map, {200, 200}), std::string(".local"));
        QCOMPARE(nameAt(map, {600, 200}) == ".local", false);
        // Two levels: inside a tile the innermost node answers; its title band is the folder.
        map.setDepth(2);
        const FileNode* inner = map.nodeAt({200, 200});
        QVERIFY(inner != nullptr);
        QCOMPARE(parentName(*inner), std::string(".local"));
        QCOMPARE(nameAt(map, {200, 4}), std::string(".local"));

        // Flame: the first row splits the width by size.
        map.setDepth(1);
        map.setMode(FolderMapMode::flame);
        QCOMPARE(nameAt(map, {150, 20}), std::string(".local"));
        QCOMPARE(nameAt(map, {480, 20}), std::string("Projects"));
        QCOMPARE(nameAt(map, {150, 300}), std::string("(none)"));

        // Sunburst: clockwise from twelve o'clock, .local takes the right half of the ring.
        map.resize(800, 800);
        map.setMode(FolderMapMode::sunburst);
        const QPointF centre(400, 400);
        auto onRing = [&](double turn) {
            const double angle = turn * 2 * M_PI;
            return QPointF(centre.x() + 250 * std::sin(angle), centre.y() - 250 * std::cos(angle));
        };
        QCOMPARE(nameAt(map, onRing(0.25)), std::string(".local"));
        QCOMPARE(nameAt(map, onRing(0.6)), std::string("Projects"));
        QCOMPARE(nameAt(map, onRing(0.8)), std::string("Downloads"));
        QCOMPARE(nameAt(map, centre), std::string("(none)"));
        // With two rings the outer ring holds the children of the segment inside it.
        map.setDepth(2);
        const FileNode* outer = map.nodeAt(QPointF(centre.x() + 360, centre.y()));
        QVERIFY(outer != nullptr);
        QCOMPARE(parentName(*outer), std::string(".local"));

        // Bubbles: the centre of each circle the layout places answers with its node.
        map.resize(800, 400);
        map.setDepth(1);
        map.setMode(FolderMapMode::bubbles);
        const auto bubbles = varnok::BubbleLayout::make(sample.children, {800, 400}, 1, 2500);
        QCOMPARE(bubbles.size(), size_t(5));
        for (const auto& bubble : bubbles) {
            QCOMPARE(nameAt(map, {bubble.circle.center.x, bubble.circle.center.y}),
                     bubble.node->name());
        }
        QCOMPARE(nameAt(map, {1, 1}), std::string("(none)"));

        // The list mode draws nothing.
        map.setMode(FolderMapMode::list);
        QCOMPARE(nameAt(map, {200, 200}), std::string("(none)"));
    }

    void mapListAndBreadcrumbStayInStep() {
        AppModel model;
        ui::ExplorePage page(model);
        page.resize(1300, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        model.explore().setMapDepth(1);
        QCOMPARE(page.listModel->rowCount(), 5);

        // A click on the map selects, and the list follows.
        const QPoint onLocal(page.map->width() / 4, page.map->height() / 2);
        QCOMPARE(page.map->nodeAt(onLocal)->name(), std::string(".local"));
        QTest::mouseClick(page.map, Qt::LeftButton, {}, onLocal);
        QVERIFY(model.explore().selected().has_value());
        QCOMPARE(model.explore().selected()->name(), std::string(".local"));
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(),
                 std::string(".local"));

        // Choosing in the list selects on the map's side too.
        const int movies = page.listModel->rowOf(model.explore().root().children[4].id);
        page.list->setCurrentIndex(page.listModel->index(movies, 0));
        QCOMPARE(model.explore().selected()->name(), std::string("Videos"));

        // Sorting by name keeps the selection.
        page.list->sortByColumn(ui::NodeListModel::name, Qt::AscendingOrder);
        QCOMPARE(page.listModel->node(0)->name(), std::string(".local"));
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(),
                 std::string("Videos"));

        // A double click opens the folder; the breadcrumb leads back.
        QTest::mouseDClick(page.map, Qt::LeftButton, {}, onLocal);
        QCOMPARE(model.explore().history().size(), size_t(1));
        QCOMPARE(page.listModel->rowCount(), 3);
        auto crumbs = page.findChildren<QPushButton*>(QStringLiteral("breadcrumb"));
        QCOMPARE(crumbs.size(), qsizetype(2));
        QVERIFY(!crumbs.back()->isEnabled());
        crumbs.front()->click();
        QVERIFY(model.explore().history().empty());
        QCOMPARE(page.listModel->rowCount(), 5);

        // The list mode hides the map and offers no larger one; reveal of the sample data
        // explains itself.
        model.explore().setMapMode(FolderMapMode::list);
        QVERIFY(page.map->isHidden());
        QVERIFY(!page.expandBox->isEnabled());
        page.list->setCurrentIndex(page.listModel->index(0, 0));
        page.revealButton->click();
        QCOMPARE(model.note().value_or(QString()),
                 QString("Sample paths are illustrative. Scan a real folder to use file "
                         "manager integration."));
    }

    void navigationFollowsThePage() {
        scenes::Stage s;
        s.open();
        PageStack* pages = s.window->pages();
        QCOMPARE(pages->pages->currentWidget(), static_cast<QWidget*>(pages->cleanup));

        pages->navigation->setCurrentRow(PageStack::row(AppPage::explore));
        QCOMPARE(s.model->page(), AppPage::explore);
        QCOMPARE(pages->pages->currentWidget(), static_cast<QWidget*>(pages->explore));
        s.model->setPage(AppPage::settings);
        QCOMPARE(pages->navigation->currentRow(), PageStack::row(AppPage::settings));
        QCOMPARE(pages->pages->currentWidget(), static_cast<QWidget*>(pages->settings));

        // History is a sheet over the page that stays.
        pages->navigation->setCurrentRow(PageStack::row(AppPage::history));
        QVERIFY(s.sheet<ui::HistorySheet>("history") != nullptr);
        QCOMPARE(s.model->page(), AppPage::settings);
        QCOMPARE(pages->navigation->currentRow(), PageStack::row(AppPage::settings));
        s.model->recovery().setShowRecovery(false);
        s.settle();

        // Ctrl+F leads to the search of the largest items.
        s.window->activateWindow();
        QTRY_VERIFY(s.window->isActiveWindow() && QApplication::activeModalWidget() == nullptr);
        QTest::keyClick(s.window.get(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(s.model->page(), AppPage::largest);
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(pages->largest->searchField));

        // The scan command shows the page its progress is on.
        s.window->scanAction()->trigger();
        QCOMPARE(s.model->page(), AppPage::cleanup);
        QVERIFY(scenes::waitUntil([&] { return !s.model->isBusy(); }));
    }

    void duplicatesMoveThroughTheReviewAndOneComesBack() {
        scenes::Stage s;
        s.home.write("Pictures/a.jpg", 50000);
        for (const char* copy : {"Pictures/b.jpg", "Pictures/c.jpg"}) {
            QVERIFY(QFile::copy(QString::fromStdString(s.home.path("Pictures/a.jpg")),
                                QString::fromStdString(s.home.path(copy))));
        }
        auto url = [&](const char* name) {
            return varnok::Url::file(s.home.path(std::string("Pictures/") + name), false);
        };
        s.open();
        s.model->setPage(AppPage::duplicates);
        ui::DuplicatesPage* page = s.window->pages()->duplicates;
        page->folderField->setText(s.home.home() + "/Pictures");
        page->findButton->click();
        QVERIFY(scenes::waitUntil([&] { return !s.model->duplicates().isFindingDuplicates(); }));
        auto kept = [&](const char* name) {
            return page->rowOf(url(name)).siblingAtColumn(ui::DuplicateListModel::kept).data();
        };
        auto check = [&](const char* name) {
            return page->rowOf(url(name)).data(Qt::CheckStateRole);
        };
        QCOMPARE(page->setsModel->rowCount(), 1);
        QCOMPARE(kept("a.jpg"), QVariant(QString("Kept")));
        QVERIFY(!check("a.jpg").isValid());

        // Keep the last copy instead, chosen by keyboard; select the others, one of them by its
        // own check box. The rows stay as they are: only their marks change.
        page->sets->setFocus();
        page->sets->setCurrentIndex(page->rowOf(url("a.jpg")));
        QTest::keyClick(page->sets, Qt::Key_Down);
        QTest::keyClick(page->sets, Qt::Key_Down);
        QCOMPARE(page->sets->currentIndex(), page->rowOf(url("c.jpg")));
        QSignalSpy resets(page->setsModel, &QAbstractItemModel::modelReset);
        page->keepButton->click();
        QCOMPARE(kept("c.jpg"), QVariant(QString("Kept")));
        QCOMPARE(kept("a.jpg"), QVariant(QString()));
        QVERIFY(!page->keepButton->isEnabled());
        QVERIFY(!page->reviewButton->isEnabled());
        QVERIFY(
            page->setsModel->setData(page->rowOf(url("b.jpg")), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(s.model->duplicates().duplicateSelection(), std::set<varnok::Url>{url("b.jpg")});
        page->selectAllButton->click();
        QCOMPARE(check("a.jpg"), QVariant(Qt::Checked));
        QCOMPARE(resets.count(), 0);

        page->reviewButton->click();
        auto* confirm = s.sheet<ui::ConfirmSheet>("confirmation");
        QVERIFY(confirm != nullptr);
        QCOMPARE(confirm->acknowledged->text(),
                 QString("I reviewed these copies and the files being kept."));
        QCOMPARE(ui::buttonText(confirm->moveButton), QString("Move 2 items to Trash"));
        confirm->acknowledged->setChecked(true);
        confirm->moveButton->click();
        auto* result = s.sheet<ui::ResultSheet>("result");
        QVERIFY(result != nullptr);
        QVERIFY(!QFile::exists(QString::fromStdString(url("a.jpg").path())));
        QVERIFY(!QFile::exists(QString::fromStdString(url("b.jpg").path())));
        QVERIFY(QFile::exists(QString::fromStdString(url("c.jpg").path())));
        QCOMPARE(page->setsModel->rowCount(), 0);

        // Put one back from the result.
        s.waitForAvailability(result);
        ui::OutcomeRow* first = result->rows().front();
        first->restore->click();
        QVERIFY(scenes::waitUntil([&] { return result->openQuestion() != nullptr; }));
        result->openQuestion()->button(QStringLiteral("Restore"))->click();
        QVERIFY(scenes::waitUntil([&] {
            return !s.model->isBusy() &&
                   (QFile::exists(QString::fromStdString(url("a.jpg").path())) ||
                    QFile::exists(QString::fromStdString(url("b.jpg").path())));
        }));
        QVERIFY(!(QFile::exists(QString::fromStdString(url("a.jpg").path())) &&
                  QFile::exists(QString::fromStdString(url("b.jpg").path()))));
    }
};

QTEST_MAIN(ExploreTest)
#include "ExploreTest.moc"

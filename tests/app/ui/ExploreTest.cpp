#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "core/layout/BubbleLayout.hpp"

#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <cmath>

using namespace ombrelo;
using varnok::AppModel;
using varnok::FileNode;
using varnok::FolderMapMode;

namespace {

// The sample tree's first level: Library 50 %, Projects 25 %, Downloads 12.5 %, Documents 7.5 %,
// Movies 5 %.
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
        const FileNode sample = AppModel::sample();
        ui::FolderMap map;
        map.resize(800, 400);
        map.setFolder(&sample);
        map.setDepth(1);

        // Treemap: the halving cut across the longer side gives Library the left half.
        map.setMode(FolderMapMode::treemap);
        QCOMPARE(nameAt(map, {200, 200}), std::string("Library"));
        QCOMPARE(nameAt(map, {600, 200}) == "Library", false);
        // Two levels: inside a tile the innermost node answers; its title band is the folder.
        map.setDepth(2);
        const FileNode* inner = map.nodeAt({200, 200});
        QVERIFY(inner != nullptr);
        QCOMPARE(parentName(*inner), std::string("Library"));
        QCOMPARE(nameAt(map, {200, 4}), std::string("Library"));

        // Flame: the first row splits the width by size.
        map.setDepth(1);
        map.setMode(FolderMapMode::flame);
        QCOMPARE(nameAt(map, {150, 20}), std::string("Library"));
        QCOMPARE(nameAt(map, {480, 20}), std::string("Projects"));
        QCOMPARE(nameAt(map, {150, 300}), std::string("(none)"));

        // Sunburst: clockwise from twelve o'clock, Library takes the right half of the ring.
        map.resize(800, 800);
        map.setMode(FolderMapMode::sunburst);
        const QPointF centre(400, 400);
        auto onRing = [&](double turn) {
            const double angle = turn * 2 * M_PI;
            return QPointF(centre.x() + 250 * std::sin(angle), centre.y() - 250 * std::cos(angle));
        };
        QCOMPARE(nameAt(map, onRing(0.25)), std::string("Library"));
        QCOMPARE(nameAt(map, onRing(0.6)), std::string("Projects"));
        QCOMPARE(nameAt(map, onRing(0.8)), std::string("Downloads"));
        QCOMPARE(nameAt(map, centre), std::string("(none)"));
        // With two rings the outer ring holds the children of the segment inside it.
        map.setDepth(2);
        const FileNode* outer = map.nodeAt(QPointF(centre.x() + 360, centre.y()));
        QVERIFY(outer != nullptr);
        QCOMPARE(parentName(*outer), std::string("Library"));

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
        model.setMapDepth(1);
        QCOMPARE(page.listModel->rowCount(), 5);

        // A click on the map selects, and the list follows.
        const QPoint onLibrary(page.map->width() / 4, page.map->height() / 2);
        QCOMPARE(page.map->nodeAt(onLibrary)->name(), std::string("Library"));
        QTest::mouseClick(page.map, Qt::LeftButton, {}, onLibrary);
        QVERIFY(model.selected().has_value());
        QCOMPARE(model.selected()->name(), std::string("Library"));
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(),
                 std::string("Library"));

        // Choosing in the list selects on the map's side too.
        const int movies = page.listModel->rowOf(model.root().children[4].id);
        page.list->setCurrentIndex(page.listModel->index(movies, 0));
        QCOMPARE(model.selected()->name(), std::string("Movies"));

        // Sorting by name keeps the selection.
        page.list->sortByColumn(ui::NodeListModel::name, Qt::AscendingOrder);
        QCOMPARE(page.listModel->node(0)->name(), std::string("Documents"));
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(),
                 std::string("Movies"));

        // A double click opens the folder; the breadcrumb leads back.
        QTest::mouseDClick(page.map, Qt::LeftButton, {}, onLibrary);
        QCOMPARE(model.history().size(), size_t(1));
        QCOMPARE(page.listModel->rowCount(), 3);
        auto crumbs = page.findChildren<QPushButton*>(QStringLiteral("breadcrumb"));
        QCOMPARE(crumbs.size(), qsizetype(2));
        QVERIFY(!crumbs.back()->isEnabled());
        crumbs.front()->click();
        QVERIFY(model.history().empty());
        QCOMPARE(page.listModel->rowCount(), 5);

        // The list mode hides the map; reveal of the sample data explains itself.
        model.setMapMode(FolderMapMode::list);
        QVERIFY(page.map->isHidden());
        page.list->setCurrentIndex(page.listModel->index(0, 0));
        page.revealButton->click();
        QCOMPARE(model.note().value_or(QString()),
                 QString("Sample paths are illustrative. Scan a real folder to use Finder "
                         "integration."));
    }
};

QTEST_MAIN(ExploreTest)
#include "ExploreTest.moc"

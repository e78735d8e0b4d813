#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/MapLegend.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "core/snapshot/ScanArchive.hpp"
#include "tests/app/ui/UiTestSupport.hpp"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <cmath>

using namespace ombrelo;
using namespace ombrelo::testing;
using varnok::FileNode;
using varnok::NodeChange;

class ExploreCompareViewTest : public QObject {
    Q_OBJECT

private slots:
    void labelsOnEveryTileColourReachFourAndAHalfToOne() {
        using Kind = NodeChange::Kind;
        for (bool dark : {false, true}) {
            std::vector<QColor> fills;
            for (Kind kind : {Kind::unchanged, Kind::appeared, Kind::grew, Kind::shrank}) {
                // From the faintest change to the strongest.
                for (std::int64_t before : {0, 1, 10, 50, 90, 99, 100, 101, 150, 400, 100000}) {
                    fills.push_back(ui::mapColours::ofChange(NodeChange{kind, before, 100}, dark));
                }
            }
            for (const char* group : {"Video", "Audio", "Image", "Document", "Archive", "Code",
                                      "Text", "Font", "Program", "Other"}) {
                fills.push_back(ui::mapColours::ofKindGroup(group));
            }
            for (int bucket = 0; bucket < 4; ++bucket) {
                fills.push_back(ui::mapColours::ofAge(bucket));
            }
            for (const QColor& fill : fills) {
                QVERIFY2(contrast(fill, ui::mapColours::textOn(fill)) >= 4.5,
                         qPrintable(fill.name() + (dark ? " dark" : " light")));
            }
            // Growth is warm, shrinking cool, and new neither.
            const QColor grew = ui::mapColours::ofChange(NodeChange{Kind::grew, 10, 100}, dark);
            const QColor shrank = ui::mapColours::ofChange(NodeChange{Kind::shrank, 100, 10}, dark);
            const QColor fresh = ui::mapColours::ofChange(NodeChange{Kind::appeared, 0, 10}, dark);
            QVERIFY(grew.red() > grew.blue() && shrank.blue() > shrank.red());
            QVERIFY(fresh != grew && fresh != shrank);
            // A larger change shows stronger.
            const QColor slight = ui::mapColours::ofChange(NodeChange{Kind::grew, 95, 100}, dark);
            QVERIFY(slight.hslSaturationF() < grew.hslSaturationF());
        }
    }

    void comparingAddsAColumnAndALegendUntilStopped() {
        scenes::Stage s;
        s.home.write("data/grows.bin", 4000);
        s.home.write("data/shrinks.bin", 9000);
        s.home.write("data/gone.bin", 3000);
        s.home.write("data/stays.txt", 100);
        s.open();
        ui::ExplorePage& page = *s.window->pages()->explore;
        QVERIFY(!s.window->compareAction()->isEnabled()); // the sample is not a scan
        s.model->explore().setApparentSize(true); // the sample files hold their bytes sparsely
        QVERIFY(explore(*s.model, s.home.home().toStdString()));
        const std::string saved = s.home.path("../before.json");
        varnok::ScanArchive::save(s.model->explore().root(), {}, 1700000000, saved);
        s.home.write("data/grows.bin", 14000);
        s.home.write("data/shrinks.bin", 1000);
        s.home.write("data/fresh.bin", 2000);
        QFile::remove(QString::fromStdString(s.home.path("data/gone.bin")));
        QVERIFY(explore(*s.model, s.home.home().toStdString()));
        for (const FileNode& child : s.model->explore().shownTree().children) {
            if (child.name() == "data") {
                s.model->explore().openFolder(child);
            }
        }
        QCOMPARE(s.model->explore().currentFolder().name(), std::string("data"));
        QCOMPARE(page.list->model()->columnCount(), 4);
        QVERIFY(s.window->compareAction()->isEnabled());
        QVERIFY(!s.window->stopComparingAction()->isEnabled());
        // The menu is never empty: any saved scan can be chosen, the remembered ones come first.
        QMenu* menu = s.window->compareAction()->menu();
        QVERIFY(menu != nullptr);
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("A Saved Scan\u2026"));

        s.window->compareWith(QString::fromStdString(saved));
        QVERIFY(scenes::waitUntil([&] { return s.model->explore().comparison() != nullptr; }));
        s.settle();
        QVERIFY(page.comparisonLine->isVisible());
        QVERIFY(page.comparisonLine->text().contains(QLatin1String("before.json")));
        QVERIFY(s.window->stopComparingAction()->isEnabled());
        QVERIFY(!page.colouring->isEnabled());

        // The column: figures to read, words to hear, and an order by growth.
        ui::NodeListModel& list = *page.listModel;
        QCOMPARE(list.columnCount(), 5);
        QCOMPARE(list.headerData(ui::NodeListModel::change, Qt::Horizontal, Qt::DisplayRole),
                 QVariant(QStringLiteral("Change")));
        const QStringList names = columnTexts(list, ui::NodeListModel::name);
        auto cell = [&](const char* name, int role) {
            return list.index(int(names.indexOf(name)), ui::NodeListModel::change)
                .data(role)
                .toString();
        };
        QCOMPARE(cell("grows.bin", Qt::DisplayRole), QStringLiteral("+10.0 kB"));
        QCOMPARE(cell("shrinks.bin", Qt::DisplayRole), QStringLiteral("\u22128.0 kB"));
        QCOMPARE(cell("fresh.bin", Qt::DisplayRole), QStringLiteral("New"));
        QCOMPARE(cell("stays.txt", Qt::DisplayRole), QString());
        QCOMPARE(cell("grows.bin", Qt::AccessibleTextRole), QStringLiteral("grew by 10.0 kB"));
        QCOMPARE(cell("stays.txt", Qt::AccessibleTextRole), QStringLiteral("unchanged"));
        page.list->sortByColumn(ui::NodeListModel::change, Qt::DescendingOrder);
        QCOMPARE(columnTexts(list, ui::NodeListModel::name),
                 (QStringList{"grows.bin", "fresh.bin", "stays.txt", "shrinks.bin"}));

        // The legend names every colour, with what left the folder and is not drawn.
        QCOMPARE(legendLabels(*page.legend),
                 (QStringList{"Grew (+10.0 kB)", "Shrank (\u22128.0 kB)", "New (2.0 kB)",
                              "Gone (3.0 kB, not on the map)", "Unchanged"}));
        // The map says it to the ear too.
        bool heard = false;
        for (int tile = 0; tile < page.map->tileCount(); ++tile) {
            if (page.map->tileName(tile) == QLatin1String("grows.bin")) {
                heard = page.map->tileDescription(tile).contains(QLatin1String("grew by 10.0 kB"));
            }
        }
        QVERIFY(heard);

        // The way back, from the keyboard as from the menu.
        QVERIFY(page.stopComparingButton->isVisible());
        QVERIFY(page.stopComparingButton->accessibleName().contains(QLatin1String("earlier scan")));
        page.stopComparingButton->setFocus();
        QTest::keyClick(page.stopComparingButton, Qt::Key_Space);
        QVERIFY(s.model->explore().comparison() == nullptr);
        s.settle();
        QCOMPARE(list.columnCount(), 4);
        QVERIFY(!page.comparisonLine->isVisible() && !page.stopComparingButton->isVisible());
        QVERIFY(page.colouring->isEnabled());
        QVERIFY(!legendLabels(*page.legend).join(' ').contains(QLatin1String("Grew")));
        QTRY_VERIFY(!page.legend->collecting());
        QVERIFY(!legendLabels(*page.legend).isEmpty());
        QVERIFY(!legendLabels(*page.legend).join(' ').contains(QLatin1String("Grew")));
        // The list fell back to an order it still has.
        QCOMPARE(page.list->header()->sortIndicatorSection(), int(ui::NodeListModel::size));
    }
};

QTEST_MAIN(ExploreCompareViewTest)
#include "ExploreCompareViewTest.moc"

#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/NodeListModel.hpp"

#include <QAccessible>
#include <QMenu>
#include <QTreeView>
#include <QtTest>

#include <map>
#include <set>

using namespace ombrelo;
using varnok::FileNode;
using varnok::FolderMapMode;
using varnok::Url;

namespace {

FileNode file(const std::string& path, std::int64_t size) {
    return FileNode(Url::file(path, false), false, size, size, {}, 1, 0, false, false, true);
}

// 1000 bytes: a 600-byte folder, a 300-byte video and a 100-byte text file.
FileNode mixedFolder() {
    FileNode photos(Url::file("/home/u/Photos", true), true, 600, 600,
                    {file("/home/u/Photos/a.jpg", 600)}, 1, 0, false, false, true);
    return FileNode(
        Url::file("/home/u", true), true, 1000, 1000,
        {std::move(photos), file("/home/u/movie.mkv", 300), file("/home/u/notes.txt", 100)}, 3, 1,
        false, false, true);
}

int tileNamed(ui::FolderMap& map, const QString& name) {
    for (int i = 0; i < map.tileCount(); ++i) {
        if (map.tileName(i) == name) {
            return i;
        }
    }
    return -1;
}

// The open menu's action texts; empty with none open.
QStringList menuTexts(ui::FolderMap& map, QMenu** open) {
    QStringList texts;
    for (auto* menu : map.findChildren<QMenu*>()) {
        for (auto* action : menu->isVisible() ? menu->actions() : QList<QAction*>()) {
            texts << action->text();
            *open = menu;
        }
    }
    return texts;
}

bool showFocused(QWidget& window, QWidget& target) {
    window.show();
    window.activateWindow();
    target.setFocus(Qt::TabFocusReason);
    return QTest::qWaitForWindowActive(&window) && target.hasFocus();
}

// The nodes a map's signal carried, in order.
template <typename Signal>
std::shared_ptr<std::vector<const FileNode*>> record(ui::FolderMap& map, Signal signal) {
    auto seen = std::make_shared<std::vector<const FileNode*>>();
    QObject::connect(&map, signal, &map, [seen](const FileNode& node) { seen->push_back(&node); });
    return seen;
}

} // namespace

class FolderMapKeysTest : public QObject {
    Q_OBJECT

private slots:
    // From every tile each arrow stays on the tile's level, selects as a click does and goes the
    // way it points (round the ring in the sunburst); together the moves reach every tile.
    void arrowsWalkEveryLevelOfEachMode() {
        const FileNode sample = varnok::ExploreFlow::sample();
        for (auto mode : {FolderMapMode::treemap, FolderMapMode::sunburst, FolderMapMode::flame,
                          FolderMapMode::bubbles}) {
            ui::FolderMap map;
            map.resize(900, 560);
            map.setFolder(&sample);
            map.setMode(mode);
            QVERIFY(showFocused(map, map));
            QCOMPARE(map.focusedTile(), 0); // the largest
            const auto clicked = record(map, &ui::FolderMap::nodeClicked);
            const int tiles = map.tileCount();
            QVERIFY(tiles > 5);
            auto level = [&](int i) { return sample.navigationPath(map.tileNode(i)->id)->size(); };
            std::map<int, std::set<int>> moves;
            for (int from = 0; from < tiles; ++from) {
                for (auto key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
                    map.focusTile(from);
                    QTest::keyClick(&map, key);
                    const int to = map.focusedTile();
                    if (to == from) {
                        continue;
                    }
                    QCOMPARE(level(to), level(from));
                    QCOMPARE(clicked->back(), map.tileNode(to));
                    moves[from].insert(to);
                    const QPointF step =
                        QRectF(map.tileRect(to)).center() - QRectF(map.tileRect(from)).center();
                    const double along = key == Qt::Key_Left    ? -step.x()
                                         : key == Qt::Key_Right ? step.x()
                                         : key == Qt::Key_Up    ? -step.y()
                                                                : step.y();
                    QVERIFY(mode == FolderMapMode::sunburst || along > 0);
                }
            }
            for (size_t wanted : {size_t(1), size_t(2)}) {
                std::set<int> all;
                for (int i = 0; i < tiles; ++i) {
                    if (level(i) == wanted) {
                        all.insert(i);
                    }
                }
                std::set<int> reached{*all.begin()};
                for (std::vector<int> queue{*all.begin()}; !queue.empty();) {
                    const int at = queue.back();
                    queue.pop_back();
                    for (int next : moves[at]) {
                        if (reached.insert(next).second) {
                            queue.push_back(next);
                        }
                    }
                }
                QCOMPARE(reached, all);
            }
        }
    }

    void returnOpensAndBackspaceGoesUp() {
        varnok::AppModel model;
        ui::ExplorePage page(model);
        page.resize(1300, 800);
        model.explore().setMapDepth(1);
        QVERIFY(showFocused(page, *page.map));
        QTest::keyClick(page.map, Qt::Key_Right);
        const std::string chosen = model.explore().selected().value().name();
        QVERIFY(chosen != ".local");
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(), chosen);

        QTest::keyClick(page.map, Qt::Key_Return);
        QCOMPARE(model.explore().currentFolder().name(), chosen);
        // The opened folder's tiles take the keys at once.
        QTest::keyClick(page.map, Qt::Key_Down);
        QCOMPARE(page.map->tileNode(page.map->focusedTile())->id.deletingLastPathComponent(),
                 model.explore().currentFolder().id);
        QTest::keyClick(page.map, Qt::Key_Backspace);
        QTest::keyClick(page.map, Qt::Key_Backspace); // at the top: nowhere to go
        QVERIFY(model.explore().history().empty());

        // A choice made in the list is where the keyboard starts when it comes back.
        QTest::keyClick(page.map, Qt::Key_Right);
        page.list->setFocus();
        page.list->setCurrentIndex(
            page.listModel->index(page.listModel->rowOf(model.explore().root().children[4].id), 0));
        page.map->setFocus(Qt::TabFocusReason);
        QCOMPARE(page.map->tileName(page.map->focusedTile()), QString("Videos"));
    }

    // The menu key and Shift+F10 open the tile's actions; only folders open.
    void menuOffersTheTileActions() {
        const FileNode folder = mixedFolder();
        ui::FolderMap map;
        map.resize(600, 400);
        map.setFolder(&folder);
        map.setDepth(1);
        QVERIFY(showFocused(map, map));
        const auto activated = record(map, &ui::FolderMap::nodeActivated);
        const auto revealed = record(map, &ui::FolderMap::revealRequested);
        QMenu* menu = nullptr;

        map.focusTile(tileNamed(map, "Photos"));
        QTest::keyClick(&map, Qt::Key_Menu);
        QCOMPARE(menuTexts(map, &menu), QStringList({"Open", "Show in Folder"}));
        QCOMPARE(menu->accessibleName(), QString("Actions for Photos"));
        menu->actions().front()->trigger();
        QCOMPARE(activated->back()->name(), std::string("Photos"));
        menu->close();

        map.focusTile(tileNamed(map, "notes.txt"));
        QTest::keyClick(&map, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(menuTexts(map, &menu), QStringList({"Show in Folder"}));
        menu->actions().front()->trigger();
        QCOMPARE(revealed->back()->name(), std::string("notes.txt"));
        menu->close();

        QCOMPARE(activated->size(), size_t(1));
    }

    void screenReadersSeeTheTiles() {
        const FileNode folder = mixedFolder();
        ui::FolderMap map;
        map.resize(600, 400);
        map.setFolder(&folder);
        QVERIFY(showFocused(map, map));
        QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(&map);
        QCOMPARE(whole->role(), QAccessible::List);
        QCOMPARE(whole->text(QAccessible::Name), QString("Map of u"));
        QCOMPARE(whole->childCount(), 4);
        const QRect bounds(map.mapToGlobal(QPoint()), map.size());
        for (int i = 0; i < whole->childCount(); ++i) {
            QAccessibleInterface* tile = whole->child(i);
            QCOMPARE(tile->parent(), whole);
            QCOMPARE(whole->indexOfChild(tile), i);
            QVERIFY(bounds.contains(tile->rect()));
            // Under a tile's centre is the tile itself or one drawn inside it.
            const QPoint centre = tile->rect().center();
            QVERIFY(tile->rect().contains(whole->childAt(centre.x(), centre.y())->rect()));
        }
        auto describe = [&](const QString& name) {
            return whole->child(tileNamed(map, name))->text(QAccessible::Description);
        };
        QVERIFY(describe("Photos").contains("60% of this folder"));
        QVERIFY(describe("Photos").endsWith("Folder"));
        QVERIFY(describe("movie.mkv").contains("30% of this folder"));
        QVERIFY(describe("movie.mkv").endsWith(ui::NodeListModel::kindText(folder.children[1])));

        // The keyboard's tile is the focused child; a reader's press does what a click does.
        map.focusTile(tileNamed(map, "Photos"));
        QTest::keyClick(&map, Qt::Key_Right);
        const int now = tileNamed(map, "movie.mkv");
        QCOMPARE(whole->focusChild(), whole->child(now));
        QVERIFY(whole->child(now)->state().focused);
        const auto clicked = record(map, &ui::FolderMap::nodeClicked);
        const int notes = tileNamed(map, "notes.txt");
        whole->child(notes)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(map.focusedTile(), notes);
        QCOMPARE(clicked->back()->name(), std::string("notes.txt"));

        // Another layout: the same children describe the new tiles.
        map.setMode(FolderMapMode::flame);
        map.setDepth(1);
        QCOMPARE(whole->childCount(), 3);
        QCOMPARE(whole->child(2)->text(QAccessible::Name), map.tileName(2));
        map.setFolder(nullptr);
        QCOMPARE(whole->childCount(), 0);
    }
};

QTEST_MAIN(FolderMapKeysTest)
#include "FolderMapKeysTest.moc"

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
using varnok::AppModel;
using varnok::FileNode;
using varnok::FolderMapMode;
using varnok::Url;

namespace {

FileNode file(const std::string& path, std::int64_t size) {
    return FileNode(Url::file(path, false), false, size, size, {}, 1, 0, false, false, true);
}

// A folder of 1000 bytes: a 600-byte folder, a 300-byte video and a 100-byte text file.
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

QMenu* openMenu(ui::FolderMap& map) {
    for (auto* menu : map.findChildren<QMenu*>()) {
        if (menu->isVisible()) {
            return menu;
        }
    }
    return nullptr;
}

QStringList actionTexts(QMenu* menu) {
    QStringList texts;
    for (auto* action : menu->actions()) {
        texts << action->text();
    }
    return texts;
}

bool showFocused(QWidget& window, QWidget& target) {
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        return false;
    }
    target.setFocus(Qt::TabFocusReason);
    return target.hasFocus();
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
    // From every tile, each arrow stays on the tile's level and goes the way it points (round
    // the ring in the sunburst), and the moves reach every tile of a level.
    void arrowsWalkEveryLevelOfEachMode() {
        const FileNode sample = varnok::ExploreFlow::sample();
        for (auto mode : {FolderMapMode::treemap, FolderMapMode::sunburst, FolderMapMode::flame,
                          FolderMapMode::bubbles}) {
            ui::FolderMap map;
            map.resize(900, 560);
            map.setFolder(&sample);
            map.setDepth(2);
            map.setMode(mode);
            QVERIFY(showFocused(map, map));
            const auto clicked = record(map, &ui::FolderMap::nodeClicked);

            const int tiles = map.tileCount();
            QVERIFY(tiles > 5);
            std::vector<size_t> depth(static_cast<size_t>(tiles));
            for (int i = 0; i < tiles; ++i) {
                const auto path = sample.navigationPath(map.tileNode(i)->id);
                QVERIFY(path.has_value());
                depth[static_cast<size_t>(i)] = path->size();
            }
            // Coming in, the keyboard starts on the largest tile.
            QCOMPARE(map.focusedTile(), 0);

            std::map<int, std::set<int>> moves;
            for (int from = 0; from < tiles; ++from) {
                for (auto key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
                    map.focusTile(from);
                    QTest::keyClick(&map, key);
                    const int to = map.focusedTile();
                    QVERIFY(to >= 0);
                    if (to == from) {
                        continue;
                    }
                    QCOMPARE(depth[static_cast<size_t>(to)], depth[static_cast<size_t>(from)]);
                    QCOMPARE(clicked->back(), map.tileNode(to));
                    moves[from].insert(to);
                    if (mode == FolderMapMode::sunburst) {
                        continue;
                    }
                    const QPointF step =
                        QRectF(map.tileRect(to)).center() - QRectF(map.tileRect(from)).center();
                    const double along = key == Qt::Key_Left    ? -step.x()
                                         : key == Qt::Key_Right ? step.x()
                                         : key == Qt::Key_Up    ? -step.y()
                                                                : step.y();
                    QVERIFY2(along > 0, qPrintable(map.tileName(from) + " → " + map.tileName(to)));
                }
            }
            for (size_t level : {size_t(1), size_t(2)}) {
                std::set<int> wanted;
                for (int i = 0; i < tiles; ++i) {
                    if (depth[static_cast<size_t>(i)] == level) {
                        wanted.insert(i);
                    }
                }
                std::set<int> reached{*wanted.begin()};
                std::vector<int> queue{*wanted.begin()};
                while (!queue.empty()) {
                    const int at = queue.back();
                    queue.pop_back();
                    for (int next : moves[at]) {
                        if (reached.insert(next).second) {
                            queue.push_back(next);
                        }
                    }
                }
                QCOMPARE(reached, wanted);
            }
        }
    }

    void returnOpensAndBackspaceGoesUp() {
        AppModel model;
        ui::ExplorePage page(model);
        page.resize(1300, 800);
        model.explore().setMapDepth(1);
        QVERIFY(showFocused(page, *page.map));
        QCOMPARE(page.map->tileName(page.map->focusedTile()), QString(".local"));

        // Arrows select as clicks do, so the list follows the keyboard.
        QTest::keyClick(page.map, Qt::Key_Right);
        QVERIFY(model.explore().selected().has_value());
        const std::string chosen = model.explore().selected()->name();
        QVERIFY(chosen != ".local");
        QCOMPARE(page.listModel->node(page.list->currentIndex().row())->name(), chosen);

        QTest::keyClick(page.map, Qt::Key_Return);
        QCOMPARE(model.explore().history().size(), size_t(1));
        QCOMPARE(model.explore().currentFolder().name(), chosen);
        // The opened folder's tiles take the keys at once.
        QTest::keyClick(page.map, Qt::Key_Down);
        QVERIFY(page.map->focusedTile() >= 0);
        QCOMPARE(page.map->tileNode(page.map->focusedTile())->id.deletingLastPathComponent(),
                 model.explore().currentFolder().id);

        QTest::keyClick(page.map, Qt::Key_Backspace);
        QVERIFY(model.explore().history().empty());
        // At the top there is nowhere to go.
        QTest::keyClick(page.map, Qt::Key_Backspace);
        QVERIFY(model.explore().history().empty());

        // A choice made in the list is where the keyboard starts when it comes back to the map.
        QTest::keyClick(page.map, Qt::Key_Right);
        QVERIFY(page.map->tileName(page.map->focusedTile()) != QString("Videos"));
        const int videos = page.listModel->rowOf(model.explore().root().children[4].id);
        page.list->setFocus();
        page.list->setCurrentIndex(page.listModel->index(videos, 0));
        page.map->setFocus(Qt::TabFocusReason);
        QCOMPARE(page.map->tileName(page.map->focusedTile()), QString("Videos"));
    }

    // The menu key, Shift+F10 and a right click open the tile's actions; only folders open.
    void menuOffersTheTileActions() {
        const FileNode folder = mixedFolder();
        ui::FolderMap map;
        map.resize(600, 400);
        map.setFolder(&folder);
        map.setDepth(1);
        QVERIFY(showFocused(map, map));
        const auto activated = record(map, &ui::FolderMap::nodeActivated);
        const auto revealed = record(map, &ui::FolderMap::revealRequested);

        map.focusTile(tileNamed(map, "Photos"));
        QTest::keyClick(&map, Qt::Key_Menu);
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = openMenu(map)) != nullptr);
        QCOMPARE(actionTexts(menu), QStringList({"Open", "Show in Folder"}));
        QCOMPARE(menu->accessibleName(), QString("Actions for Photos"));
        menu->actions().front()->trigger();
        QCOMPARE(activated->size(), size_t(1));
        QCOMPARE(activated->back()->name(), std::string("Photos"));
        menu->close();
        QTRY_VERIFY(openMenu(map) == nullptr);

        map.focusTile(tileNamed(map, "notes.txt"));
        QTest::keyClick(&map, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY((menu = openMenu(map)) != nullptr);
        QCOMPARE(actionTexts(menu), QStringList({"Show in Folder"}));
        menu->actions().front()->trigger();
        QCOMPARE(revealed->size(), size_t(1));
        QCOMPARE(revealed->back()->name(), std::string("notes.txt"));
        menu->close();
        QTRY_VERIFY(openMenu(map) == nullptr);

        // A right click acts on the tile under the pointer and moves the keyboard there.
        const int movie = tileNamed(map, "movie.mkv");
        const QPoint onMovie = map.tileRect(movie).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, onMovie, map.mapToGlobal(onMovie));
        QApplication::sendEvent(&map, &click);
        QCOMPARE(map.focusedTile(), movie);
        QTRY_VERIFY((menu = openMenu(map)) != nullptr);
        QCOMPARE(menu->accessibleName(), QString("Actions for movie.mkv"));
        menu->close();
        QCOMPARE(activated->size(), size_t(1));
    }

    void screenReadersSeeTheTiles() {
        const FileNode folder = mixedFolder();
        ui::FolderMap map;
        map.resize(600, 400);
        map.setFolder(&folder);
        map.setDepth(2);
        QVERIFY(showFocused(map, map));
        const auto clicked = record(map, &ui::FolderMap::nodeClicked);

        QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(&map);
        QVERIFY(whole != nullptr);
        QCOMPARE(whole->role(), QAccessible::List);
        QCOMPARE(whole->text(QAccessible::Name), QString("Map of u"));
        QVERIFY(whole->text(QAccessible::Description).contains("Arrow keys"));
        QCOMPARE(whole->childCount(), map.tileCount());
        QCOMPARE(whole->childCount(), 4);

        const QRect bounds(map.mapToGlobal(QPoint()), map.size());
        for (int i = 0; i < whole->childCount(); ++i) {
            QAccessibleInterface* tile = whole->child(i);
            QVERIFY(tile != nullptr);
            QCOMPARE(whole->child(i), tile);
            QCOMPARE(tile->parent(), whole);
            QCOMPARE(whole->indexOfChild(tile), i);
            QCOMPARE(tile->role(), QAccessible::ListItem);
            QVERIFY(bounds.contains(tile->rect()));
            // Under a tile's centre is the tile itself or one drawn inside it.
            QAccessibleInterface* under =
                whole->childAt(tile->rect().center().x(), tile->rect().center().y());
            QVERIFY(under != nullptr);
            QVERIFY(under == tile || tile->rect().contains(under->rect()));
        }
        auto describe = [&](const QString& name) {
            return whole->child(tileNamed(map, name))->text(QAccessible::Description);
        };
        QVERIFY(describe("Photos").contains("60% of this folder"));
        QVERIFY(describe("Photos").endsWith("Folder"));
        const QString video = describe("movie.mkv");
        QVERIFY(video.contains("30% of this folder"));
        QVERIFY(video.endsWith(ui::NodeListModel::kindText(folder.children[1])));
        QVERIFY(describe("a.jpg").contains("60% of this folder"));

        // The keyboard's tile is the focused child. (Without a reader on the bus Qt drops the
        // focus event itself, so only what a reader would ask for next can be checked here.)
        map.focusTile(tileNamed(map, "Photos"));
        QVERIFY(map.hasFocus());
        QTest::keyClick(&map, Qt::Key_Right);
        const int now = map.focusedTile();
        QCOMPARE(map.tileName(now), QString("movie.mkv"));
        QCOMPARE(whole->focusChild(), whole->child(now));
        for (int i = 0; i < whole->childCount(); ++i) {
            QCOMPARE(bool(whole->child(i)->state().focused), i == now);
        }

        // A reader's press does what a click does.
        const int notes = tileNamed(map, "notes.txt");
        QAccessibleActionInterface* actions = whole->child(notes)->actionInterface();
        QVERIFY(actions != nullptr);
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(map.focusedTile(), notes);
        QCOMPARE(clicked->back()->name(), std::string("notes.txt"));

        // Another layout: the same children describe the new tiles.
        map.setMode(FolderMapMode::flame);
        map.setDepth(1);
        QCOMPARE(whole->childCount(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(whole->child(i)->text(QAccessible::Name), map.tileName(i));
        }
        map.setFolder(nullptr);
        QCOMPARE(whole->childCount(), 0);
        QCOMPARE(whole->text(QAccessible::Name), QString("Folder map"));
    }
};

QTEST_MAIN(FolderMapKeysTest)
#include "FolderMapKeysTest.moc"

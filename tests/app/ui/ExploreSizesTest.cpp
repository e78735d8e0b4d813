#include "app/ui/common/UiText.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/MapLegend.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/HomePage.hpp"
#include "app/ui/pages/LargestPage.hpp"
#include "tests/app/ui/UiTestSupport.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

using namespace ombrelo;
using namespace ombrelo::testing;
using ui::NodeListModel;
using varnok::AppModel;
using varnok::FileNode;

namespace {

void write(const QString& path, std::size_t bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::ofstream(path.toStdString()) << std::string(bytes, 'x');
}

// What `du -sB1` reports for `path`: the reference for bytes on disk.
std::int64_t duBytes(const QString& path) {
    QProcess du;
    du.start("du", {"-sB1", path});
    if (!du.waitForFinished(10000)) {
        return -1;
    }
    return QString::fromUtf8(du.readAllStandardOutput()).section('\t', 0, 0).toLongLong();
}

} // namespace

class ExploreSizesTest : public QObject {
    Q_OBJECT

private slots:
    void theListNamesKindsAndLeavesNamesTheRoom() {
        QTemporaryDir dir;
        const QString top = dir.path() + "/top";
        const QString longName = QString("a quarterly report of the northern warehouse's stock "
                                         "levels, reconciled and annotated by hand.cpp");
        write(top + "/" + longName, 3000);
        write(top + "/clip.mkv", 2000);
        write(top + "/song.flac", 1000);
        write(top + "/.xsession-errors", 500);
        write(top + "/sub/inner.txt", 10);
        AppModel model;
        ui::ExplorePage page(model);
        page.resize(1300, 800);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(explore(model, top.toStdString()));

        // Kinds are what people call them, a folder is a folder.
        const QStringList names = columnTexts(*page.listModel, NodeListModel::name);
        const QStringList kinds = columnTexts(*page.listModel, NodeListModel::kind);
        auto kindOf = [&](const QString& name) { return kinds.value(names.indexOf(name)); };
        QCOMPARE(kindOf(longName), QString("C++ source code"));
        QVERIFY2(kindOf("clip.mkv").contains("video", Qt::CaseInsensitive),
                 qPrintable(kinds.join('|')));
        QVERIFY(kindOf("song.flac").contains("audio", Qt::CaseInsensitive));
        QVERIFY(kindOf(".xsession-errors").contains("log", Qt::CaseInsensitive));
        QCOMPARE(kindOf("sub"), QString("Folder"));
        for (const QString& kind : kinds) {
            QVERIFY2(!kind.contains(QChar(0xb7)) && !kind.contains("Other"), qPrintable(kind));
        }

        // The name takes the room; the other columns are no wider than their caps and the sizes
        // are not cut. A long name shows whole in its tooltip.
        QHeaderView* header = page.list->header();
        const int room = page.list->viewport()->width();
        QVERIFY(header->sectionSize(NodeListModel::name) >= room * 45 / 100 - 2);
        for (int c : {NodeListModel::size, NodeListModel::kind, NodeListModel::modified}) {
            QVERIFY(header->sectionSize(c) <= 180);
            QVERIFY(header->sectionSize(c) >= header->minimumSectionSize());
        }
        const QFontMetrics metrics(page.list->font());
        for (const QString& size : columnTexts(*page.listModel, NodeListModel::size)) {
            QVERIFY2(metrics.horizontalAdvance(size) < header->sectionSize(NodeListModel::size),
                     qPrintable(size));
        }
        const QModelIndex longRow = page.listModel->index(names.indexOf(longName), 0);
        QVERIFY(longRow.data(Qt::ToolTipRole).toString().startsWith(longName + '\n'));
        QVERIFY(page.listModel->index(0, NodeListModel::size)
                    .data(Qt::TextAlignmentRole)
                    .value<Qt::Alignment>()
                    .testFlag(Qt::AlignRight));

        // A narrower panel gives way to the names.
        page.resize(1000, 800);
        QCoreApplication::processEvents();
        const int narrow = page.list->viewport()->width();
        QVERIFY(header->sectionSize(NodeListModel::name) >= narrow * 45 / 100 - 2);

        // The legend names the colours in use, by kind, then by age.
        QTRY_VERIFY(!page.legend->collecting());
        const QStringList byKind = legendLabels(*page.legend);
        for (const char* label : {"Code", "Videos", "Audio", "Folders, a hue for each"}) {
            QVERIFY2(byKind.contains(label), qPrintable(byKind.join('|')));
        }
        QVERIFY(!byKind.contains("Archives"));
        QCOMPARE(page.legend->accessibleDescription(), byKind.join(", "));
        page.colouring->setCurrentIndex(1);
        QTRY_COMPARE(legendLabels(*page.legend), QStringList{"Under 30 days"});
        QVERIFY(page.legend->height() > 0);
    }

    void mapListAndLargestAgreeOnDiskUsage() {
        QTemporaryDir dir;
        const QString top = dir.path() + "/top";
        // A 2 MB photo linked into a second folder, and a 64 MB video that holds no block.
        write(top + "/Pictures/photo.jpg", 2000000);
        QDir().mkpath(top + "/Backup");
        QCOMPARE(::link((top + "/Pictures/photo.jpg").toLocal8Bit().constData(),
                        (top + "/Backup/photo.jpg").toLocal8Bit().constData()),
                 0);
        write(top + "/Videos/empty.mkv", 0);
        const int fd = ::open((top + "/Videos/empty.mkv").toLocal8Bit().constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::ftruncate(fd, 64 << 20), 0);
        ::close(fd);

        AppModel model;
        ui::ExplorePage page(model);
        ui::LargestPage largest(model);
        ui::HomePage home(model);
        page.resize(1300, 800);
        page.show();
        largest.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(explore(model, top.toStdString()));
        QVERIFY(!page.apparentBox->isChecked());

        auto sizeText = [&](const QString& name) {
            const QStringList names = columnTexts(*page.listModel, NodeListModel::name);
            return columnTexts(*page.listModel, NodeListModel::size).value(names.indexOf(name));
        };
        auto videos = [&] {
            const auto& children = model.explore().currentFolder().children;
            return *std::find_if(children.begin(), children.end(),
                                 [](const FileNode& n) { return n.name() == "Videos"; });
        };
        // On disk, as du counts: the photo once, the sparse video by its blocks, the folders' own
        // blocks. The list, the map and the selection line say the same.
        QCOMPARE(model.explore().shownTree().logicalSize, duBytes(top));
        QCOMPARE(videos().logicalSize, duBytes(top + "/Videos"));
        std::int64_t byAge = 0;
        for (std::int64_t bytes : model.explore().ages()) {
            byAge += bytes;
        }
        QVERIFY(byAge >= 2000000 && byAge < model.explore().shownTree().logicalSize);
        QVERIFY(sizeText("Videos").startsWith(ui::formatSize(videos().logicalSize) + "  ("));
        QVERIFY(page.map->describe(videos()).contains(ui::formatSize(videos().logicalSize)));
        page.list->setCurrentIndex(page.listModel->index(page.listModel->rowOf(videos().id), 0));
        QVERIFY(page.selectionLine->text().contains(ui::formatSize(videos().logicalSize)));
        // The folder holding the photo's blocks comes first, not the video.
        QVERIFY(page.listModel->node(0)->logicalSize >= 2000000);

        // Home tells the same total, and the list's heading what it measures.
        const QString total = ui::formatSize(model.explore().shownTree().logicalSize);
        QVERIFY2(home.folderLine->text().endsWith(total + " on disk"),
                 qPrintable(home.folderLine->text()));
        QCOMPARE(page.listModel->headerData(NodeListModel::size, Qt::Horizontal, Qt::DisplayRole),
                 QVariant("On disk"));

        // Largest lists the photo once, and ranks it above the video.
        QTRY_VERIFY(!largest.listing());
        QStringList found = columnTexts(*largest.listModel, NodeListModel::name);
        QCOMPARE(found.count("photo.jpg"), qsizetype(1));
        QVERIFY(found.indexOf("photo.jpg") < found.indexOf("empty.mkv"));

        // Apparent sizes: every path's bytes; the video is the largest item everywhere.
        page.apparentBox->click();
        QVERIFY(model.explore().apparentSize());
        QCOMPARE(videos().logicalSize, std::int64_t(64 << 20));
        QVERIFY(sizeText("Videos").startsWith(ui::formatSize(64 << 20)));
        QCOMPARE(page.listModel->node(0)->name(), std::string("Videos"));
        QVERIFY(page.selectionLine->text().contains(ui::formatSize(64 << 20)));
        QVERIFY(home.folderLine->text().endsWith(
            ui::formatSize(model.explore().root().logicalSize) + " apparent size"));
        QTRY_VERIFY(!largest.listing());
        found = columnTexts(*largest.listModel, NodeListModel::name);
        QCOMPARE(found.value(0), QString("empty.mkv"));
        QCOMPARE(found.count("photo.jpg"), qsizetype(1));
    }
};

QTEST_MAIN(ExploreSizesTest)
#include "ExploreSizesTest.moc"

#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/pages/HomePage.hpp"
#include "app/ui/pages/SettingsPage.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "tests/app/ui/UiTestSupport.hpp"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>

using namespace ombrelo;
using namespace ombrelo::testing;
using scenes::Stage;

namespace {

// Real bytes, so that they count on disk.
void writeWhole(const std::string& path, std::int64_t bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    QFile out(QString::fromStdString(path));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(static_cast<qsizetype>(bytes), 'g'));
}

} // namespace

class RememberedScansTest : public QObject {
    Q_OBJECT

private slots:
    void settingsListsAndRemovesRememberedScansByKeyboard() {
        Stage s;
        s.home.write("Documents/a.txt", 5000);
        s.open();
        ui::SettingsPage& page = *s.window->pages()->settings;
        QVERIFY(page.rememberedList->isHidden());
        QVERIFY(page.rememberedTotal->text().startsWith(QStringLiteral("No scans")));

        QVERIFY(explore(*s.model, s.home.path("Documents")));
        QVERIFY(explore(*s.model, s.home.home().toStdString()));
        s.model->setPage(varnok::AppPage::settings);
        s.settle();
        auto* list = s.window->findChild<QTreeWidget*>(QStringLiteral("rememberedScans"));
        QCOMPARE(list, page.rememberedList);
        QVERIFY(list->isVisible());
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), s.home.home()); // newest first
        QCOMPARE(list->topLevelItem(1)->text(0), QString::fromStdString(s.home.path("Documents")));
        QVERIFY(!list->accessibleName().isEmpty() &&
                !page.removeScanButton->accessibleName().isEmpty());
        QVERIFY(page.rememberedTotal->text().startsWith(QStringLiteral("2 scans, ")));
        QVERIFY(!page.removeScanButton->isEnabled()); // nothing chosen yet

        // Tab reaches the button from the list; Delete in the list removes the chosen scan.
        list->setFocus();
        list->setCurrentItem(list->topLevelItem(1));
        QVERIFY(page.removeScanButton->isEnabled());
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(page.removeScanButton));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->topLevelItemCount(), 1);
        QVERIFY(s.model->remembered()
                    .scansOf(varnok::Url::file(s.home.path("Documents"), true))
                    .empty());
        // The next row is chosen, so the button removes it too.
        QVERIFY(list->currentItem() != nullptr && list->currentItem()->isSelected());
        QTest::mouseClick(page.removeScanButton, Qt::LeftButton);
        QVERIFY(list->isHidden() && s.model->remembered().rememberedScans().empty());
    }

    void homeSaysWhereTheHomeGrew() {
        Stage s;
        s.home.write("Documents/a.txt", 5000);
        s.open();
        ui::HomePage& page = *s.window->pages()->home;
        QVERIFY(explore(*s.model, s.home.home().toStdString()));
        QVERIFY(page.growthLine->isHidden());
        writeWhole(s.home.path("Projects/app/build/out.bin"), 3000000);
        QVERIFY(explore(*s.model, s.home.home().toStdString()));
        QVERIFY(!page.growthLine->isHidden());
        QVERIFY2(page.growthLine->text().startsWith(QStringLiteral("Since ")) &&
                     page.growthLine->text().endsWith(
                         QStringLiteral(": 3.0 MB more in ~/Projects/app/build")),
                 qPrintable(page.growthLine->text()));
    }
};

QTEST_MAIN(RememberedScansTest)
#include "RememberedScansTest.moc"

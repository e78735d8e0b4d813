#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/cleanup/CategoryGroup.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/common/Sheet.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/LargestPage.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"
#include "app/ui/scenes/Pictures.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "tests/app/ui/UiTestSupport.hpp"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace ombrelo;
using testing::contrast;
using ui::PageStack;
using varnok::AppPage;
using varnok::FolderMapMode;

namespace {

// A colour with transparency as it shows over `under`.
QRgb over(const QColor& colour, const QColor& under) {
    const double a = colour.alphaF();
    return qRgb(static_cast<int>(std::lround(colour.red() * a + under.red() * (1 - a))),
                static_cast<int>(std::lround(colour.green() * a + under.green() * (1 - a))),
                static_cast<int>(std::lround(colour.blue() * a + under.blue() * (1 - a))));
}

// The worst contrast between `text` and the button's painted face: a column inside the frame,
// left of the text, top to bottom, so a gradient is judged by its lightest and darkest rows.
double worstFaceContrast(QPushButton* button, QRgb text) {
    const QImage image = button->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const int x = static_cast<int>(6 * ratio);
    double worst = 100;
    for (int y = static_cast<int>(4 * ratio); y < image.height() - static_cast<int>(4 * ratio);
         ++y) {
        worst = std::min(worst, contrast(image.pixel(x, y), text));
    }
    return worst;
}

QString describe(const QWidget* widget) {
    return QStringLiteral("%1 '%2' in %3")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(),
             widget->parentWidget() != nullptr
                 ? QString::fromLatin1(widget->parentWidget()->metaObject()->className())
                 : QString());
}

QString accessibleName(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face == nullptr ? QString() : face->text(QAccessible::Name);
}

// What an assistive technology does when its user toggles or presses the control.
void toggleAccessibly(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    QVERIFY(face != nullptr && face->actionInterface() != nullptr);
    face->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

QPushButton* buttonWithText(QButtonGroup* group, const QString& text) {
    for (QAbstractButton* button : group->buttons()) {
        if (button->text() == text) {
            return qobject_cast<QPushButton*>(button);
        }
    }
    return nullptr;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QApplication::setStyle(
            new ui::FramedStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    }

    void buttonAndFieldTextsReachFourAndAHalfToOne() {
        const QPalette original = QApplication::palette();
        const std::pair<const char*, QPalette> palettes[] = {
            {"light", pictures::lightPalette()},
            {"dark", pictures::darkPalette()},
            {"Fusion", QApplication::style()->standardPalette()}};
        for (const auto& [name, palette] : palettes) {
            QApplication::setPalette(palette);
            QWidget host;
            auto* layout = new QHBoxLayout(&host);
            QPushButton* normal = ui::makeButton(QStringLiteral("Clear"), &host);
            QPushButton* prominent = ui::makeButton(QStringLiteral("Review & clean"), &host);
            ui::Sheet::makeProminent(prominent);
            QPushButton* segment = ui::makeButton(QStringLiteral("In Trash"), &host);
            segment->setCheckable(true);
            segment->setChecked(true);
            ui::setAccentFill(segment, true);
            for (QPushButton* button : {normal, prominent, segment}) {
                layout->addWidget(button);
            }
            host.show();
            QVERIFY(QTest::qWaitForWindowExposed(&host));

            const QRgb highlighted = palette.color(QPalette::HighlightedText).rgb();
            const std::pair<QPushButton*, QRgb> cases[] = {
                {normal, palette.color(QPalette::ButtonText).rgb()},
                {prominent, highlighted},
                {segment, highlighted}};
            for (const auto& [button, text] : cases) {
                const QString what = QStringLiteral("%1 palette, '%2' ")
                                         .arg(QLatin1String(name), ui::buttonText(button));
                QVERIFY2(worstFaceContrast(button, text) >= 4.5, qPrintable(what + "at rest"));
                button->setAttribute(Qt::WA_UnderMouse, true);
                button->update();
                QVERIFY2(worstFaceContrast(button, text) >= 4.5, qPrintable(what + "hovered"));
                button->setDown(true);
                QVERIFY2(worstFaceContrast(button, text) >= 4.5, qPrintable(what + "pressed"));
                button->setDown(false);
                button->setAttribute(Qt::WA_UnderMouse, false);
                host.activateWindow();
                button->setFocus(Qt::TabFocusReason);
                QVERIFY2(worstFaceContrast(button, text) >= 4.5, qPrintable(what + "focused"));
            }
            // The accent fill is really the accent, not a grey that passes by giving it up.
            const QColor face = prominent->grab().toImage().pixelColor(6, 8);
            QVERIFY2(std::abs(face.hslHue() - palette.color(QPalette::Highlight).hslHue()) < 12,
                     name);

            if (QLatin1String(name) == QLatin1String("Fusion")) {
                continue; // a system palette: only our own fills are ours to answer for
            }
            // Fields: what is typed and the placeholder that stands for it.
            const QColor base = palette.color(QPalette::Base);
            // Their frames and the check boxes' show against the field (3:1 for such parts).
            auto* field = new QLineEdit(&host);
            auto* check = new QCheckBox(QStringLiteral("I reviewed the selected files."), &host);
            layout->addWidget(field);
            layout->addWidget(check);
            QTest::qWait(1);
            const QImage fieldImage = field->grab().toImage();
            const int middle = fieldImage.height() / 2;
            QVERIFY2(contrast(fieldImage.pixel(0, middle), fieldImage.pixel(4, middle)) >= 3, name);
            QStyleOptionButton option;
            option.initFrom(check);
            const QRect box =
                check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
            const QImage checkImage = check->grab().toImage();
            QVERIFY2(contrast(checkImage.pixel(box.left(), box.center().y()),
                              checkImage.pixel(box.center())) >= 3,
                     name);
            QVERIFY2(contrast(palette.color(QPalette::Text).rgb(), base.rgb()) >= 4.5, name);
            QVERIFY2(contrast(over(palette.color(QPalette::PlaceholderText), base), base.rgb()) >=
                         4.5,
                     name);
        }
        QApplication::setPalette(original);
    }

    void accessibleToggleDoesWhatAClickDoes() {
        scenes::Stage s;
        s.open();
        PageStack* pages = s.window->pages();

        // The side navigation: selecting an item through the accessibility tree shows its page.
        QAccessibleInterface* navigation = QAccessible::queryAccessibleInterface(pages->navigation);
        QVERIFY(navigation != nullptr);
        QCOMPARE(navigation->text(QAccessible::Name), QStringLiteral("Pages"));
        // The chosen page's name reads on its highlight.
        const QRect chosen = pages->navigation->visualItemRect(pages->navigation->currentItem());
        const QImage side = pages->navigation->viewport()->grab().toImage();
        const QRgb highlightedText =
            pages->navigation->palette().color(QPalette::HighlightedText).rgb();
        QVERIFY(contrast(side.pixel(chosen.left() + 4, chosen.center().y()), highlightedText) >=
                4.5);
        QAccessibleInterface* exploreItem = nullptr;
        for (int i = 0; i < navigation->childCount(); ++i) {
            if (navigation->child(i)->text(QAccessible::Name) == QStringLiteral("Explore")) {
                exploreItem = navigation->child(i);
            }
        }
        QVERIFY(exploreItem != nullptr && exploreItem->actionInterface() != nullptr);
        exploreItem->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(s.model->page(), AppPage::explore);
        QCOMPARE(pages->pages->currentWidget(), static_cast<QWidget*>(pages->explore));

        // Map modes: toggling Sunburst shows the sunburst, and List hides the map.
        ui::ExplorePage* explore = pages->explore;
        QPushButton* sunburst = buttonWithText(explore->modeButtons, QStringLiteral("Sunburst"));
        QVERIFY(sunburst != nullptr);
        toggleAccessibly(sunburst);
        QCOMPARE(s.model->explore().mapMode(), FolderMapMode::sunburst);
        QVERIFY(sunburst->isChecked());
        toggleAccessibly(buttonWithText(explore->modeButtons, QStringLiteral("List")));
        QCOMPARE(s.model->explore().mapMode(), FolderMapMode::list);
        QVERIFY(explore->map->isHidden());

        // Largest: the scope changes the rows, not only the checked button.
        s.model->setPage(AppPage::largest);
        ui::LargestPage* largest = pages->largest;
        s.settle();
        toggleAccessibly(buttonWithText(largest->scopeButtons, QStringLiteral("All folders")));
        QTRY_VERIFY(!largest->listing());
        QVERIFY(largest->listModel->rowCount() > 0);
        for (int row = 0; row < largest->listModel->rowCount(); ++row) {
            QVERIFY(largest->listModel->node(row)->isDirectory);
        }

        // The history filter.
        s.model->recovery().loadCleanupHistory();
        auto* history = s.sheet<ui::HistorySheet>("history");
        QVERIFY(history != nullptr);
        toggleAccessibly(history->filterButtons[1]);
        QCOMPARE(history->filter(), ui::HistorySheet::Filter::inTrash);
        toggleAccessibly(history->filterButtons[0]);
        QCOMPARE(history->filter(), ui::HistorySheet::Filter::all);
        s.model->recovery().setShowRecovery(false);
        s.settle();
    }

    void returnOnAFolderRowOpensIt() {
        scenes::Stage s;
        s.open();
        s.model->setPage(AppPage::explore);
        s.model->explore().setMapMode(FolderMapMode::list);
        s.settle();
        ui::ExplorePage* explore = s.window->pages()->explore;
        int folderRow = -1;
        for (int row = 0; row < explore->listModel->rowCount() && folderRow < 0; ++row) {
            if (explore->listModel->node(row)->isDirectory) {
                folderRow = row;
            }
        }
        QVERIFY(folderRow >= 0);
        const std::string folder = explore->listModel->node(folderRow)->name();
        s.window->activateWindow();
        QTRY_VERIFY(s.window->isActiveWindow());
        explore->list->setFocus();
        explore->list->setCurrentIndex(explore->listModel->index(folderRow, 0));
        QTest::keyClick(explore->list, Qt::Key_Return);
        QCOMPARE(s.model->explore().currentFolder().name(), folder);
    }

    // Every control a user can reach, on every page, tells a screen reader what it is, and
    // buttons that act on one item say which.
    void everyControlHasAName() {
        scenes::Stage s;
        s.home.fillTypical();
        s.open();
        s.scan();
        for (AppPage page : {AppPage::home, AppPage::explore, AppPage::cleanup, AppPage::duplicates,
                             AppPage::projects, AppPage::largest, AppPage::settings}) {
            s.model->setPage(page);
            s.settle();
            for (QWidget* widget : s.window->findChildren<QWidget*>()) {
                // The map's tiles and name are its own widget's business.
                if (!widget->isVisible() || qobject_cast<ui::FolderMap*>(widget) != nullptr) {
                    continue;
                }
                const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                                     qobject_cast<QLineEdit*>(widget) != nullptr ||
                                     qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
                                     qobject_cast<QComboBox*>(widget) != nullptr ||
                                     qobject_cast<QAbstractItemView*>(widget) != nullptr ||
                                     qobject_cast<QProgressBar*>(widget) != nullptr ||
                                     widget->inherits("ombrelo::ui::ShareBars");
                // Parts of a named control (a spin box's text, a list's editor) share its name.
                QWidget* parent = widget->parentWidget();
                const bool part = qobject_cast<QAbstractItemView*>(parent) != nullptr ||
                                  qobject_cast<QAbstractSpinBox*>(parent) != nullptr ||
                                  qobject_cast<QComboBox*>(parent) != nullptr;
                if (control && !part) {
                    QVERIFY2(!accessibleName(widget).trimmed().isEmpty(),
                             qPrintable(describe(widget)));
                }
            }
        }

        // The group's select button says which way it goes.
        s.model->setPage(AppPage::cleanup);
        s.settle();
        QVERIFY(!s.screen().groups().empty());
        ui::CategoryGroup* group = s.screen().groups().front();
        QVERIFY(accessibleName(group->selectButton).startsWith(QStringLiteral("Select available")));
        group->selectButton->click();
        s.settle();
        QVERIFY2(
            accessibleName(group->selectButton).startsWith(QStringLiteral("Deselect available")),
            qPrintable(accessibleName(group->selectButton)));
        QVERIFY(accessibleName(group->viewButton).contains(group->title->text()));

        // Show in Folder names the selected item.
        s.model->setPage(AppPage::explore);
        ui::ExplorePage* explore = s.window->pages()->explore;
        explore->list->setCurrentIndex(explore->listModel->index(0, 0));
        s.settle();
        const QString path = QString::fromStdString(explore->listModel->node(0)->id.path());
        QVERIFY2(accessibleName(explore->revealButton).contains(path),
                 qPrintable(accessibleName(explore->revealButton)));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"

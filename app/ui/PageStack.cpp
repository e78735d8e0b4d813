#include "app/ui/PageStack.hpp"
#include "app/ui/projects/ProjectsPage.hpp"

#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/duplicates/DuplicatesPage.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/pages/HomePage.hpp"
#include "app/ui/pages/LargestPage.hpp"
#include "app/ui/pages/SettingsPage.hpp"

#include <QHBoxLayout>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStackedWidget>

namespace ombrelo::ui {

using varnok::AppModel;
using varnok::AppPage;

namespace {

constexpr AppPage order[] = {AppPage::home,       AppPage::explore,  AppPage::cleanup,
                             AppPage::duplicates, AppPage::projects, AppPage::largest,
                             AppPage::history,    AppPage::settings};
constexpr int pageCount = static_cast<int>(std::size(order));

} // namespace

int PageStack::row(AppPage page) {
    for (int i = 0; i < pageCount; ++i) {
        if (order[i] == page) {
            return i;
        }
    }
    return 0;
}

PageStack::PageStack(AppModel& model, CleanupScreen* cleanupScreen, QWidget* parent)
    : QWidget(parent), cleanup(cleanupScreen), model_(model) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    navigation = new QListWidget(this);
    navigation->setObjectName(QStringLiteral("navigation"));
    navigation->setAccessibleName(tr("Pages"));
    navigation->setFrameShape(QFrame::NoFrame);
    navigation->setFixedWidth(188);
    navigation->setSpacing(2);
    navigation->setIconSize(QSize(18, 18));
    const QString names[] = {tr("Home"),     tr("Explore"), tr("Cleanup"), tr("Duplicates"),
                             tr("Projects"), tr("Largest"), tr("History"), tr("Settings")};
    for (const QString& name : names) {
        auto* item = new QListWidgetItem(name, navigation);
        item->setSizeHint(QSize(180, 34));
    }
    QPalette side = navigation->palette();
    side.setColor(QPalette::Base, side.color(QPalette::Window).darker(isDark(side) ? 80 : 104));
    navigation->setPalette(side);
    navigation->setAutoFillBackground(true);
    navigation->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    navigation->setStyleSheet(
        QStringLiteral("QListWidget { padding: 16px 8px; }"
                       "QListWidget::item { padding-left: 10px; border-radius: 6px; }"
                       "QListWidget::item:selected { background: %1; color: %2; }")
            .arg(accentFill(side).name(), side.color(QPalette::HighlightedText).name()));
    layout->addWidget(navigation);
    layout->addWidget(makeSeparator(this));

    pages = new QStackedWidget(this);
    home = new HomePage(model_, pages);
    explore = new ExplorePage(model_, pages);
    duplicates = new DuplicatesPage(model_, pages);
    projects = new ProjectsPage(model_, pages);
    largest = new LargestPage(model_, pages);
    settings = new SettingsPage(model_, pages);
    pages->addWidget(home);
    pages->addWidget(explore);
    pages->addWidget(cleanup);
    pages->addWidget(duplicates);
    pages->addWidget(projects);
    pages->addWidget(largest);
    pages->addWidget(settings);
    layout->addWidget(pages, 1);

    connect(navigation, &QListWidget::currentRowChanged, this, [this](int index) {
        if (index < 0 || index >= pageCount) {
            return;
        }
        if (order[index] == AppPage::history) {
            // Back to the page that is shown; the sheet opens over it.
            const QSignalBlocker block(navigation);
            navigation->setCurrentRow(row(model_.page()));
            model_.recovery().loadCleanupHistory();
            return;
        }
        model_.setPage(order[index]);
    });
    // A screen reader selects an item without making it current: follow the selection too.
    connect(navigation, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = navigation->selectedItems();
        if (selected.size() == 1 && navigation->row(selected.front()) != navigation->currentRow()) {
            navigation->setCurrentRow(navigation->row(selected.front()));
        }
    });
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::page) {
            showPage();
        }
    });
    showPage();
}

QWidget* PageStack::pageWidget(AppPage page) const {
    switch (page) {
    case AppPage::home:
        return home;
    case AppPage::explore:
        return explore;
    case AppPage::cleanup:
        return cleanup;
    case AppPage::duplicates:
        return duplicates;
    case AppPage::largest:
        return largest;
    case AppPage::settings:
        return settings;
    case AppPage::projects:
        return projects;
    case AppPage::history:
        return nullptr;
    }
    return nullptr;
}

void PageStack::showPage() {
    QWidget* page = pageWidget(model_.page());
    if (page == nullptr) {
        // The history is a sheet over the page that was shown.
        page = pages->currentWidget();
    } else {
        pages->setCurrentWidget(page);
    }
    const QSignalBlocker block(navigation);
    navigation->setCurrentRow(
        row(model_.page() == AppPage::history ? AppPage::home : model_.page()));
}

} // namespace ombrelo::ui

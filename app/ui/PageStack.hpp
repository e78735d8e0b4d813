#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QListWidget;
class QStackedWidget;

namespace ombrelo::ui {

class CleanupScreen;
class DuplicatesPage;
class ExplorePage;
class HomePage;
class LargestPage;
class ProjectsPage;
class SettingsPage;

// The side navigation over the model's page, and the pages it switches between. "History" is
// no page of its own: it opens the history sheet and leaves the page as it was.
class PageStack : public QWidget {
    Q_OBJECT
public:
    PageStack(varnok::AppModel& model, CleanupScreen* cleanup, QWidget* parent = nullptr);

    QListWidget* navigation;
    QStackedWidget* pages;
    HomePage* home;
    ExplorePage* explore;
    CleanupScreen* cleanup;
    DuplicatesPage* duplicates;
    ProjectsPage* projects;
    LargestPage* largest;
    SettingsPage* settings;

    // The page widget shown for `page`; the history has none.
    QWidget* pageWidget(varnok::AppPage page) const;
    // The navigation's row of `page`.
    static int row(varnok::AppPage page);

private:
    void showPage();
    varnok::AppModel& model_;
};

} // namespace ombrelo::ui

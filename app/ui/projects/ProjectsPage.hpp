#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ombrelo::ui {

// Finds project dependencies and build output under a folder, grouped by project, and moves the
// chosen folders to the Trash through the cleanup's review.
class ProjectsPage : public QWidget {
    Q_OBJECT
public:
    ProjectsPage(varnok::AppModel& model, QWidget* parent = nullptr);

    // The item row showing `url`, or null.
    QTreeWidgetItem* rowOf(const varnok::Url& url) const;

private:
    void rebuild();
    void showChecks();
    void showState();
    std::optional<varnok::Url> currentItem() const;
    std::optional<varnok::Url> typedFolder() const;

    varnok::AppModel& model_;
    QLineEdit* folderField_;
    QPushButton* chooseButton_;
    QPushButton* findButton_;
    QPushButton* stopButton_;
    QLabel* progressLine_;
    QLabel* summaryLine_;
    QPushButton* selectAllButton_;
    QPushButton* selectNoneButton_;
    QPushButton* revealButton_;
    QPushButton* reviewButton_;
    // One top-level row per project, one child row per folder found in it.
    QTreeWidget* list_;
    QLabel* unreadableLine_;
    bool rebuilding_ = false;
};

} // namespace ombrelo::ui

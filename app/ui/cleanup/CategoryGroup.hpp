#pragma once

#include "app/model/AppModel.hpp"
#include "app/ui/common/Widgets.hpp"

#include <vector>

class QVBoxLayout;

namespace ombrelo::ui {

class CleanupScreen;

// One suggested item: name, size, path, its Select/Deselect toggle (or the lock while its
// application is open) and "Show in Folder".
class CandidateRow : public QWidget {
    Q_OBJECT
public:
    CandidateRow(varnok::AppModel& model, varnok::CleanupCandidate candidate, QWidget* parent);
    void update(bool queued);

    const varnok::CleanupCandidate& candidate() const { return candidate_; }
    QLabel* name;
    QLabel* size;
    QLabel* path;
    QPushButton* toggle;
    QWidget* lock;
    QLabel* lockText;
    QPushButton* reveal;

private:
    varnok::AppModel& model_;
    varnok::CleanupCandidate candidate_;
};

// The suggestions of one category: its header with size, selection count, "View files" and the
// group's Select/Deselect, the open-apps note, and up to the screen's row limit of rows.
class CategoryGroup : public Card {
    Q_OBJECT
public:
    CategoryGroup(varnok::AppModel& model, varnok::CleanupCategory category, QWidget* parent);
    // Redraws from the model and the screen's state for this category.
    void update(bool expanded, int rowLimit);

    varnok::CleanupCategory category() const { return category_; }
    std::vector<CandidateRow*> rows() const { return rows_; }

    QWidget* header;
    QLabel* title;
    QLabel* shortLine;
    QLabel* size;
    QLabel* selected;
    QPushButton* viewButton;
    QPushButton* selectButton;
    QWidget* appsNote;
    QLabel* appsNoteText;
    QPushButton* closeAppsButton;
    QLabel* emptyText;
    QPushButton* showMoreButton;

    // The group's candidates, in the model's order.
    std::vector<const varnok::CleanupCandidate*> members() const;
    // Display names of the open applications holding this group's items, sorted, once each.
    QStringList openApps() const;

signals:
    // The screen holds each group's open state and row limit; the group only asks.
    void expandRequested(varnok::CleanupCategory category, bool expanded);
    void showMoreRequested(varnok::CleanupCategory category);
    void closeAppsRequested(varnok::CleanupCategory category);

private:
    void toggleAvailable();

    varnok::AppModel& model_;
    varnok::CleanupCategory category_;
    bool expanded_ = false;
    QWidget* rowsBox_;
    QVBoxLayout* rowsLayout_;
    std::vector<CandidateRow*> rows_;
};

} // namespace ombrelo::ui

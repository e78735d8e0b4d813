#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace ombrelo::ui {

class NodeListModel;

// The largest (or oldest, newest) items of the explored tree, in the folder shown on the Explore
// page or in the whole tree, filtered by kind and by a search text.
class LargestPage : public QWidget {
    Q_OBJECT
public:
    enum Scope { inThisFolder, allFiles, allFolders };
    // Rows shown at most: enough to act on, few enough to sort at once.
    static constexpr int rowLimit = 1000;

    LargestPage(varnok::AppModel& model, QWidget* parent = nullptr);

    QButtonGroup* scopeButtons;
    QLineEdit* searchField;
    QComboBox* kindFilter;
    QComboBox* sortOrder;
    QTreeView* list;
    NodeListModel* listModel;
    QLabel* countLine;
    QPushButton* revealButton;

    // Lists again from the model's tree and the page's choices.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void revealRow(int row);
    // Listing a large tree takes a moment: a hidden page lists again only once shown.
    void refreshWhenShown();
    bool stale_ = false;
    varnok::AppModel& model_;
    int shownFocusRequest_ = 0;
};

} // namespace ombrelo::ui

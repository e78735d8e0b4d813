#pragma once

#include "app/model/AppModel.hpp"
#include "core/common/Task.hpp"

#include <QUuid>
#include <QWidget>

#include <memory>
#include <optional>

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
    ~LargestPage() override;

    QButtonGroup* scopeButtons;
    QLineEdit* searchField;
    QComboBox* kindFilter;
    QComboBox* sortOrder;
    QTreeView* list;
    NodeListModel* listModel;
    QLabel* countLine;
    QPushButton* revealButton;

    // Lists again from the model's tree and the page's choices, in the background: the rows
    // arrive a moment later, those of an earlier choice or tree never.
    void refresh();
    // A listing is under way.
    bool listing() const { return lister_.has_value(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void revealRow(int row);
    // Listing a large tree takes a moment: a hidden page lists again only once shown.
    void refreshWhenShown();
    // Lets go of rows that point into a tree the explorer no longer shows.
    void dropRows();
    bool stale_ = false;
    varnok::AppModel& model_;
    // The tree the rows point into, kept while they do.
    std::shared_ptr<const varnok::FileNode> rowsTree_;
    QUuid listToken_;
    std::optional<varnok::TaskHandle> lister_;
    int shownFocusRequest_ = 0;
};

} // namespace ombrelo::ui

#pragma once

#include "app/model/AppModel.hpp"

#include <QModelIndex>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace ombrelo::ui {

class DuplicateListModel;

// Finds byte-identical files in a folder, lets the user keep one copy of each set and select the
// others, and moves the selected copies to the Trash through the usual review.
class DuplicatesPage : public QWidget {
    Q_OBJECT
public:
    DuplicatesPage(varnok::AppModel& model, QWidget* parent = nullptr);

    QLineEdit* folderField;
    QPushButton* chooseButton;
    QPushButton* findButton;
    QPushButton* stopButton;
    QLabel* progressLine;
    QLabel* summaryLine;
    // How the kept copy of each set is chosen: "Original" or one of the command line's rules.
    QComboBox* keepRuleBox;
    QPushButton* selectAllButton;
    QPushButton* selectNoneButton;
    QPushButton* keepButton;
    QPushButton* revealButton;
    QPushButton* reviewButton;
    // One top-level row per set, one child row per file; a file's row is checked when selected.
    QTreeView* sets;
    DuplicateListModel* setsModel;
    QLabel* skippedLine;

    // The file row showing `url`, or an invalid index.
    QModelIndex rowOf(const varnok::Url& url) const;

private:
    void showState();
    std::optional<varnok::Url> currentFile() const;
    std::optional<varnok::Url> typedFolder() const;

    varnok::AppModel& model_;
};

} // namespace ombrelo::ui

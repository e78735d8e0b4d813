#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace ombrelo::ui {

// Where the history lives, the access introduction, the folder offered for exploring and finding
// duplicates, and the explorer's remembered scans.
class SettingsPage : public QWidget {
    Q_OBJECT
public:
    SettingsPage(varnok::AppModel& model, QWidget* parent = nullptr);

    QLabel* historyPath;
    QPushButton* showHistoryButton;
    QLabel* introState;
    QPushButton* showIntroButton;
    QLineEdit* defaultFolder;
    QLabel* folderProblem;
    // One row per remembered scan (folder, date, size), newest first; Delete removes the
    // selected one, as the button does.
    QTreeWidget* rememberedList;
    QPushButton* removeScanButton;
    QLabel* rememberedTotal;

    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshRemembered();
    void removeSelectedScan();

    varnok::AppModel& model_;
};

} // namespace ombrelo::ui

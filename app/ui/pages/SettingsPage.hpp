#pragma once

#include "app/model/AppModel.hpp"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ombrelo::ui {

// Where the history lives, the access introduction, and the folder offered for exploring and
// finding duplicates.
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

    void refresh();

private:
    varnok::AppModel& model_;
};

} // namespace ombrelo::ui

#pragma once

#include "app/ui/common/Sheet.hpp"
#include "core/trash/CleanupPlan.hpp"

#include <QCheckBox>
#include <QLineEdit>

namespace ombrelo::ui {

// Explains full disk access before the first scan.
class AccessIntroSheet : public Sheet {
    Q_OBJECT
public:
    AccessIntroSheet(QWidget* parent, bool canOpenAccessSettings);
    QPushButton* settingsButton = nullptr;
    QPushButton* continueButton;
    QPushButton* cancelButton;
signals:
    void openSettingsRequested();
    void continueRequested();
};

// Asks the user to confirm a reviewed plan. Rejecting it is the "Cancel" of the sheet.
class ConfirmSheet : public Sheet {
    Q_OBJECT
public:
    ConfirmSheet(QWidget* parent, const varnok::CleanupPlan& plan);
    QCheckBox* acknowledged;
    QPushButton* moveButton;
    QPushButton* cancelButton;
signals:
    void confirmed();
};

// Takes a folder path for a one-off cleanup scan.
class PathScanSheet : public Sheet {
    Q_OBJECT
public:
    PathScanSheet(QWidget* parent, QString home);
    QLineEdit* path;
    QPushButton* scanButton;
    QPushButton* cancelButton;
signals:
    // An absolute folder path, "~" already expanded.
    void scanRequested(const QString& folder);

private:
    QString home_;
};

// An informational message with a prominent "Done".
class MessageSheet : public Sheet {
    Q_OBJECT
public:
    MessageSheet(QWidget* parent, const QString& note);
    QPushButton* doneButton;
};

} // namespace ombrelo::ui

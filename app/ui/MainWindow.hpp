#pragma once

#include "app/model/AppModel.hpp"

#include <QAction>
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <vector>

namespace ombrelo::ui {

class CleanupScreen;
class PageStack;

// The one window: the cleanup screen, the "Scan for cleanup" command, and the sheets that open
// while a model member is set and close when it is cleared.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(varnok::AppModel& model, QWidget* parent = nullptr);

    CleanupScreen* screen() const { return screen_; }
    // The side navigation and every page, the cleanup screen among them.
    PageStack* pages() const { return pages_; }
    // Ctrl+F: the search field of the largest items.
    QAction* searchAction() const { return searchAction_; }
    QAction* scanAction() const { return scanAction_; }
    QAction* scanFolderAction() const { return scanFolderAction_; }
    QAction* saveScanAction() const { return saveScanAction_; }
    QAction* compareAction() const { return compareAction_; }
    QAction* stopComparingAction() const { return stopComparingAction_; }
    // Shows the explorer compared with a saved scan of its folder; what "Compare with…" does once
    // a file is chosen.
    void compareWith(const QString& file);
    // The sheet or alert of a model member while it is open, else null. Names: "accessIntro",
    // "history", "pathScan", "confirmation", "result", "message", "failure".
    QDialog* sheet(const QString& name) const;
    // The top-most open dialog, sheets and alerts alike.
    QDialog* topDialog() const;

protected:
    // Stops a running scan or move before the window goes, so that the history stays true.
    void closeEvent(QCloseEvent* event) override;

private:
    struct Binding {
        QString name;
        std::function<bool()> active;
        std::function<QDialog*(QWidget* parent)> create;
        // The user closed it: clear the model member and run its dismiss action.
        std::function<void()> dismissed;
        QPointer<QDialog> dialog;
        bool closing = false;
    };

    void bind(QString name, std::function<bool()> active,
              std::function<QDialog*(QWidget* parent)> create, std::function<void()> dismissed);
    void sync();
    QDialog* makeFailureAlert(QWidget* parent);

    varnok::AppModel& model_;
    CleanupScreen* screen_;
    PageStack* pages_;
    QAction* searchAction_;
    QAction* scanAction_;
    QAction* scanFolderAction_;
    QAction* openScanAction_;
    QAction* saveScanAction_;
    QAction* compareAction_;
    QAction* stopComparingAction_;
    std::vector<Binding> bindings_;
};

} // namespace ombrelo::ui

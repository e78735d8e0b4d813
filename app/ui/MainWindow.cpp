#include "app/ui/MainWindow.hpp"

#include "app/model/ExploreFlow.hpp"

#include "app/ui/PageStack.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/cleanup/Sheets.hpp"
#include "app/ui/common/Symbols.hpp"
#include "app/ui/common/UiText.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

namespace ombrelo::ui {

MainWindow::MainWindow(varnok::AppModel& model, QWidget* parent)
    : QMainWindow(parent), model_(model) {
    setWindowTitle(tr("Ombrelo"));
    setWindowIcon(applicationIcon());
    resize(1480, 960);

    screen_ = new CleanupScreen(model_, this);
    pages_ = new PageStack(model_, screen_, this);
    setCentralWidget(pages_);
    // The content, not the frame with its menu bar, never shrinks below this.
    pages_->setMinimumSize(1180, 780);
    model_.refreshVolume();

    QMenu* file = menuBar()->addMenu(tr("&File"));
    scanAction_ = file->addAction(tr("Scan for cleanup"));
    scanAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    scanAction_->setShortcutContext(Qt::ApplicationShortcut);
    connect(scanAction_, &QAction::triggered, this, [this] {
        // The scan's progress and results are on the cleanup page.
        if (model_.canStartCleanScan()) {
            model_.setPage(varnok::AppPage::cleanup);
        }
        model_.cleanup().beginCleanScan();
    });
    scanFolderAction_ = file->addAction(tr("Scan a Folder\u2026"));
    connect(scanFolderAction_, &QAction::triggered, this, [this] {
        if (model_.canStartCleanScan()) {
            model_.setShowPathScan(true);
        }
    });
    openScanAction_ = file->addAction(tr("Open Scan\u2026"));
    connect(openScanAction_, &QAction::triggered, this, [this] {
        const QString chosen =
            QFileDialog::getOpenFileName(this, tr("Open a saved scan"), QString(),
                                         tr("Saved scans (*.json *.gz *.json.gz);;All files (*)"));
        if (!chosen.isEmpty() && model_.canStartCleanScan()) {
            model_.setPage(varnok::AppPage::explore);
            model_.explore().loadScan(chosen.toStdString());
        }
    });
    saveScanAction_ = file->addAction(tr("Save Scan\u2026"));
    connect(saveScanAction_, &QAction::triggered, this, [this] {
        const QString chosen = QFileDialog::getSaveFileName(
            this, tr("Save the explored scan"), QStringLiteral("scan.json.gz"),
            tr("Saved scans, compressed (*.json.gz);;Saved scans (*.json)"));
        if (!chosen.isEmpty()) {
            model_.explore().saveScan(chosen.toStdString());
        }
    });
    // The explorer's earlier scans of the folder first, then any saved scan.
    QMenu* compare = file->addMenu(tr("Compare with\u2026"));
    compareAction_ = compare->menuAction();
    compareAction_->setToolTip(tr("Colour the explored folder by what changed since a saved scan "
                                  "of it"));
    auto fillCompare = [this, compare] {
        compare->clear();
        for (const varnok::RememberedScan& scan : model_.explore().earlierScans()) {
            const QString when = QLocale().toString(QDateTime::fromSecsSinceEpoch(scan.takenAt),
                                                    QLocale::ShortFormat);
            QAction* entry =
                compare->addAction(tr("Scan of %1 (%2)").arg(when, formatSize(scan.folderSize)));
            const QString path = QString::fromStdString(scan.file);
            connect(entry, &QAction::triggered, this, [this, path] { compareWith(path); });
        }
        if (!compare->isEmpty()) {
            compare->addSeparator();
        }
        QAction* other = compare->addAction(tr("A Saved Scan\u2026"));
        connect(other, &QAction::triggered, this, [this] {
            const QString chosen = QFileDialog::getOpenFileName(
                this, tr("Compare with a saved scan"), QString(),
                tr("Saved scans (*.json *.gz *.json.gz);;All files (*)"));
            if (!chosen.isEmpty()) {
                compareWith(chosen);
            }
        });
    };
    // Never empty, so that every style opens it; the earlier scans are read again on opening.
    fillCompare();
    connect(compare, &QMenu::aboutToShow, this, fillCompare);
    stopComparingAction_ = file->addAction(tr("Stop comparing"));
    connect(stopComparingAction_, &QAction::triggered, this,
            [this] { model_.explore().clearComparison(); });
    connect(&model_.explore(), &varnok::ExploreFlow::changed, this, [this] { sync(); });
    file->addSeparator();
    searchAction_ = file->addAction(tr("Search Largest Items"));
    searchAction_->setShortcut(QKeySequence::Find);
    searchAction_->setShortcutContext(Qt::ApplicationShortcut);
    connect(searchAction_, &QAction::triggered, this, [this] {
        model_.setPage(varnok::AppPage::largest);
        model_.setSearchFocusRequest(model_.searchFocusRequest() + 1);
    });
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    bind(
        QStringLiteral("failure"), [this] { return model_.error().has_value(); },
        [this](QWidget* parent) { return makeFailureAlert(parent); },
        [this] { model_.setError(std::nullopt); });
    bind(
        QStringLiteral("message"), [this] { return model_.note().has_value(); },
        [this](QWidget* parent) -> QDialog* {
            return new MessageSheet(parent, model_.note().value_or(QString()));
        },
        [this] { model_.setNote(std::nullopt); });
    bind(
        QStringLiteral("result"), [this] { return model_.cleanup().cleanupReport().has_value(); },
        [this](QWidget* parent) -> QDialog* { return new ResultSheet(model_, parent); },
        [this] {
            model_.cleanup().setCleanupReport(std::nullopt);
            model_.cleanup().refreshAfterCleanup();
        });
    bind(
        QStringLiteral("confirmation"),
        [this] { return model_.cleanup().cleanupPlan().has_value(); },
        [this](QWidget* parent) -> QDialog* {
            auto* sheet = new ConfirmSheet(parent, *model_.cleanup().cleanupPlan());
            varnok::CleanupPlan plan = *model_.cleanup().cleanupPlan();
            connect(sheet, &ConfirmSheet::confirmed, this,
                    [this, plan] { model_.cleanup().confirmCleanup(plan); });
            return sheet;
        },
        [this] { model_.cleanup().setCleanupPlan(std::nullopt); });
    bind(
        QStringLiteral("history"), [this] { return model_.recovery().showRecovery(); },
        [this](QWidget* parent) -> QDialog* { return new HistorySheet(model_, parent); },
        [this] {
            model_.recovery().setShowRecovery(false);
            model_.cleanup().refreshAfterCleanup();
        });
    bind(
        QStringLiteral("accessIntro"), [this] { return model_.cleanup().showCleanAccess(); },
        [this](QWidget* parent) -> QDialog* {
            auto* sheet = new AccessIntroSheet(parent, model_.canOpenAccessSettings());
            connect(sheet, &AccessIntroSheet::openSettingsRequested, this,
                    [this] { model_.openCleanAccessSettings(); });
            connect(sheet, &AccessIntroSheet::continueRequested, this,
                    [this] { model_.cleanup().continueCleanAccess(); });
            return sheet;
        },
        [this] { model_.cleanup().setShowCleanAccess(false); });
    bind(
        QStringLiteral("pathScan"), [this] { return model_.showPathScan(); },
        [this](QWidget* parent) -> QDialog* {
            QString home = qs(model_.homeScanLocation().path());
            auto* sheet = new PathScanSheet(parent, home);
            connect(sheet, &PathScanSheet::scanRequested, this, [this](const QString& folder) {
                model_.setShowPathScan(false);
                model_.setPage(varnok::AppPage::cleanup);
                model_.cleanup().scanForCleanup(varnok::Url::file(folder.toStdString(), true));
            });
            return sheet;
        },
        [this] { model_.setShowPathScan(false); });

    // The sheets follow the shell, the cleanup and the recovery; the commands also whether
    // anything runs.
    connect(&model_, &varnok::AppModel::changed, this, [this] { sync(); });
    connect(&model_, &varnok::AppModel::busyChanged, this, [this] { sync(); });
    connect(&model_.cleanup(), &varnok::CleanupFlow::changed, this, [this] { sync(); });
    connect(&model_.recovery(), &varnok::RecoveryFlow::changed, this, [this] { sync(); });
    sync();
}

void MainWindow::bind(QString name, std::function<bool()> active,
                      std::function<QDialog*(QWidget* parent)> create,
                      std::function<void()> dismissed) {
    Binding binding;
    binding.name = std::move(name);
    binding.active = std::move(active);
    binding.create = std::move(create);
    binding.dismissed = std::move(dismissed);
    bindings_.push_back(std::move(binding));
}

QDialog* MainWindow::sheet(const QString& name) const {
    for (const Binding& binding : bindings_) {
        if (binding.name == name) {
            return binding.dialog;
        }
    }
    return nullptr;
}

QDialog* MainWindow::topDialog() const {
    QWidget* top = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QDialog*>(top)) {
        return dialog;
    }
    QDialog* last = nullptr;
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) {
            last = dialog;
        }
    }
    return last;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    model_.explore().stopFolderScan();
    model_.duplicates().stopFindingDuplicates();
    model_.projects().stopDetecting();
    if (model_.cleanup().isScanning()) {
        model_.cleanup().stopCleanScan();
    }
    if (model_.cleanup().isWorkingCleanup() || model_.recovery().isRestoring()) {
        // The move stops before its next item and records the rest as not attempted; a restore
        // is one rename and is let finish, so that the history says where the item is.
        model_.cleanup().stopCleanup();
        QDeadlineTimer deadline(15000);
        while ((model_.cleanup().isWorkingCleanup() || model_.recovery().isRestoring()) &&
               !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    // A scan being remembered is written in a second or two; quitting now would lose it.
    QDeadlineTimer saving(15000);
    while (model_.remembered().isRemembering() && !saving.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QMainWindow::closeEvent(event);
}

QDialog* MainWindow::makeFailureAlert(QWidget* parent) {
    auto* box = new Alert(parent, QStringLiteral("failure"), "exclamationmark.triangle",
                          tr("Ombrelo could not finish"), model_.error().value_or(QString()));
    box->setWindowTitle(tr("Ombrelo could not finish"));
    QPushButton* close = box->addAction(tr("Close"), false);
    if (!(model_.cleanup().needsRescan() && model_.cleanup().cleanResult())) {
        box->setDefaultButton(close);
    } else {
        QPushButton* scanAgain = box->addAction(tr("Scan again"), true);
        box->setDefaultButton(scanAgain);
        connect(scanAgain, &QPushButton::clicked, this, [this] {
            // The alert's own dismissal clears the error first, so the scan may start.
            QMetaObject::invokeMethod(
                this, [this] { model_.cleanup().scanForCleanup(model_.cleanup().cleanHome()); },
                Qt::QueuedConnection);
        });
    }
    return box;
}

void MainWindow::compareWith(const QString& file) {
    model_.setPage(varnok::AppPage::explore);
    model_.explore().compareWith(file.toStdString());
}

void MainWindow::sync() {
    scanAction_->setEnabled(model_.canStartCleanScan());
    scanFolderAction_->setEnabled(model_.canStartCleanScan());
    openScanAction_->setEnabled(model_.canStartCleanScan());
    // Only a tree scanned or loaded here can be saved; the sample is not a scan.
    saveScanAction_->setEnabled(!model_.explore().isSample() &&
                                !model_.explore().activeScanURL().has_value());
    compareAction_->setEnabled(!model_.explore().isSample() &&
                               !model_.explore().activeScanURL().has_value() &&
                               !model_.explore().comparingWith().has_value());
    stopComparingAction_->setEnabled(model_.explore().comparison() != nullptr ||
                                     model_.explore().comparingWith().has_value());

    for (Binding& binding : bindings_) {
        bool active = binding.active();
        if (!active && binding.dialog && !binding.closing) {
            binding.closing = true;
            QPointer<QDialog> dialog = binding.dialog;
            binding.dialog = nullptr;
            dialog->done(QDialog::Rejected);
            if (dialog) {
                dialog->deleteLater();
            }
            binding.closing = false;
        }
    }
    for (Binding& binding : bindings_) {
        if (!binding.active() || binding.dialog) {
            continue;
        }
        QWidget* parent = topDialog();
        QDialog* dialog = binding.create(parent ? parent : static_cast<QWidget*>(this));
        dialog->setObjectName(binding.name);
        dialog->setWindowModality(Qt::WindowModal);
        binding.dialog = dialog;
        QString name = binding.name;
        connect(dialog, &QDialog::finished, this, [this, name, dialog] {
            for (Binding& each : bindings_) {
                if (each.name == name && each.dialog == dialog && !each.closing) {
                    each.dialog = nullptr;
                    dialog->deleteLater();
                    if (each.active()) {
                        each.dismissed();
                    }
                    return;
                }
            }
        });
        dialog->open();
    }
}

} // namespace ombrelo::ui

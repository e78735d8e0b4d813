#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/cleanup/CategoryGroup.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/cleanup/Sheets.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "core/trash/TrashService.hpp"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTreeWidget>
#include <QtTest>

using namespace ombrelo;
using scenes::Stage;
using scenes::waitUntil;
using varnok::CleanupCategory;

namespace {

QString shown(const QPushButton* button) {
    return ui::buttonText(button);
}

QStringList labelTexts(const QWidget* parent) {
    QStringList texts;
    for (const auto* label : parent->findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

// Makes the model busy with a duplicate search whose walk waits, or lets it finish.
void setBusy(scenes::Stage& stage, bool busy) {
    const std::string folder = stage.home.path("busy");
    if (busy) {
        stage.home.makeFolder("busy");
        stage.platform.holdWalk(folder);
        stage.model->duplicates().findDuplicates(varnok::Url::file(folder, true));
        QVERIFY(scenes::waitUntil([&] { return stage.platform.isHolding(); }));
    } else {
        stage.platform.release();
        QVERIFY(scenes::waitUntil([&] { return !stage.model->isBusy(); }));
    }
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowOpensAtItsSizeWithTheScanCommand() {
        Stage stage;
        stage.open(false);
        QCOMPARE(stage.window->windowTitle(), QStringLiteral("Ombrelo"));
        QCOMPARE(stage.window->size(), QSize(1480, 960));
        // The content keeps its size; the menu bar comes on top.
        QCOMPARE(stage.window->centralWidget()->minimumSize(), QSize(1180, 780));
        QVERIFY(stage.window->minimumSizeHint().height() > 780);
        QAction* scan = stage.window->scanAction();
        QCOMPARE(scan->text(), QStringLiteral("Scan for cleanup"));
        QCOMPARE(scan->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        QVERIFY(scan->isEnabled());

        // A message on screen blocks new scans; the command follows at once.
        stage.model->setNote(QStringLiteral("Something to read"));
        QVERIFY(!scan->isEnabled());
        QTest::keyClick(stage.window.get(), Qt::Key_R, Qt::ControlModifier);
        QVERIFY(!stage.model->cleanup().showCleanAccess());
        stage.model->setNote(std::nullopt);
        setBusy(stage, true);
        QVERIFY(!scan->isEnabled());
        setBusy(stage, false);
        QVERIFY(scan->isEnabled());

        // Ctrl+R starts the flow, which first shows the access introduction.
        QTest::keyClick(stage.window.get(), Qt::Key_R, Qt::ControlModifier);
        QVERIFY(stage.model->cleanup().showCleanAccess());
        auto* intro = stage.sheet<ui::AccessIntroSheet>("accessIntro");
        QCOMPARE(intro->windowModality(), Qt::WindowModal);
        // This desktop has no page for granting access, so no button offers one.
        QVERIFY(intro->settingsButton == nullptr);
        QVERIFY(labelTexts(intro).contains(
            QStringLiteral("Ombrelo reads your home folder with your own permissions. Nothing "
                           "moves before you review it.")));
        QVERIFY(!scan->isEnabled());
        QTest::keyClick(intro, Qt::Key_Escape);
        QTRY_VERIFY(!stage.model->cleanup().showCleanAccess());
        QVERIFY(stage.window->sheet(QStringLiteral("accessIntro")) == nullptr);
        QVERIFY(scan->isEnabled());
    }

    void rowsArePagedByHundreds() {
        Stage stage;
        stage.home.addOldLogs(250);
        stage.open();
        stage.scan();
        ui::CategoryGroup* logs = stage.screen().group(CleanupCategory::oldLogs);
        QVERIFY(logs->isVisibleTo(stage.window.get()));
        QCOMPARE(logs->rows().size(), 0u);
        QCOMPARE(shown(logs->viewButton), QStringLiteral("View files"));
        logs->viewButton->click();
        QCOMPARE(shown(logs->viewButton), QStringLiteral("Hide files"));
        QCOMPARE(logs->rows().size(), 100u);
        QVERIFY(logs->showMoreButton->isVisibleTo(logs));
        QCOMPARE(shown(logs->showMoreButton), QStringLiteral("Show 100 more"));
        logs->showMoreButton->click();
        QCOMPARE(logs->rows().size(), 200u);
        logs->showMoreButton->click();
        QCOMPARE(logs->rows().size(), 250u);
        QVERIFY(!logs->showMoreButton->isVisibleTo(logs));
        // The limit survives a change of selection.
        stage.screen().selectAvailableButton->click();
        QCOMPARE(logs->rows().size(), 250u);
        QCOMPARE(logs->selected->text(), QStringLiteral("250 selected"));
        QCOMPARE(stage.screen().selectedCount->text(), QStringLiteral("250 selected"));
        // A new result starts closed and paged again.
        stage.scan();
        QCOMPARE(shown(logs->viewButton), QStringLiteral("View files"));
        logs->viewButton->click();
        QCOMPARE(logs->rows().size(), 100u);
    }

    void groupsSelectWhatIsAvailableAndLockWhatIsOpen() {
        Stage stage;
        stage.home.fillTypical();
        stage.apps.emplace_back("com.tinyspeck.slackmacgap", "Slack");
        stage.open();
        stage.scan();
        ui::CleanupScreen& screen = stage.screen();
        QCOMPARE(screen.resultsTitle->text(), QStringLiteral("Review before cleaning"));
        QVERIFY(screen.readyLine->text().endsWith(QStringLiteral("22.4 MB after closing apps")));

        ui::CategoryGroup* apps = screen.group(CleanupCategory::appCaches);
        QCOMPARE(apps->header->accessibleName(), QStringLiteral("Review App caches"));
        QCOMPARE(apps->selectButton->accessibleName(),
                 QStringLiteral("Select available App caches"));
        QCOMPARE(shown(apps->selectButton), QStringLiteral("Select"));
        QSignalSpy changes(&stage.model->cleanup(), &varnok::CleanupFlow::changed);
        apps->selectButton->click();
        // The whole group is queued in one change.
        QCOMPARE(changes.count(), 1);
        QCOMPARE(shown(apps->selectButton), QStringLiteral("Deselect"));
        QCOMPARE(apps->selected->text(), QStringLiteral("2 selected"));
        apps->selectButton->click();
        QVERIFY(stage.model->cleanup().queue().items().empty());

        ui::CategoryGroup* chat = screen.group(CleanupCategory::communicationCaches);
        QVERIFY(chat->appsNote->isVisibleTo(chat));
        QCOMPARE(chat->appsNoteText->text(),
                 QStringLiteral("Slack is open. Its caches are skipped."));
        QCOMPARE(shown(chat->closeAppsButton), QStringLiteral("Close Slack"));
        screen.setExpanded(CleanupCategory::communicationCaches, true);
        for (ui::CandidateRow* row : chat->rows()) {
            QVERIFY(!row->toggle->isVisibleTo(row));
            QCOMPARE(row->lockText->text(), QStringLiteral("Close Slack first"));
        }
        // "Select" leaves the open application's items alone.
        chat->selectButton->click();
        QVERIFY(stage.model->cleanup().queue().items().empty());

        // Closing asks first; cancelling changes nothing.
        chat->closeAppsButton->click();
        QTRY_VERIFY(screen.closeAppsConfirmation() != nullptr);
        ui::Alert* confirm = screen.closeAppsConfirmation();
        QVERIFY(confirm->button(QStringLiteral("Close & scan again")) != nullptr);
        QCOMPARE(confirm->button(QStringLiteral("Close & scan again"))->text(),
                 QStringLiteral("Close && scan again"));
        confirm->button(QStringLiteral("Cancel"))->click();
        QTRY_VERIFY(!stage.model->cleanup().showCloseAppsConfirmation());
        QVERIFY(!stage.model->cleanup().isScanning());
        QVERIFY(!stage.apps.front().askedToQuit());

        // Busy: every selection control is off.
        setBusy(stage, true);
        QVERIFY(!apps->selectButton->isEnabled());
        QVERIFY(!screen.reviewButton->isEnabled());
        QVERIFY(!screen.selectAvailableButton->isEnabled());
        setBusy(stage, false);
        QVERIFY(screen.reviewButton->isEnabled());
        QCOMPARE(shown(screen.reviewButton), QStringLiteral("Review & clean"));
    }

    void unreadableFoldersAreCountedInWords() {
        for (int denied : {1, 2}) {
            Stage stage;
            stage.home.makeFolder("Library/Caches/com.spotify.client");
            stage.home.makeFolder("Library/Caches/Google/Chrome");
            stage.platform.deny(stage.home.path("Library/Caches/com.spotify.client"));
            if (denied == 2) {
                stage.platform.deny(stage.home.path("Library/Caches/Google/Chrome"));
            }
            stage.open();
            stage.scan();
            ui::CleanupScreen& screen = stage.screen();
            QCOMPARE(shown(screen.unreadableToggle),
                     denied == 1 ? QStringLiteral("1 folder could not be checked \u00b7 Details")
                                 : QStringLiteral("2 folders could not be checked \u00b7 Details"));
            QCOMPARE(screen.resultsTitle->text(), QStringLiteral("Scan complete"));
            QVERIFY(screen.nothingToReview->isVisibleTo(&screen));
            QCOMPARE(screen.nothingText->text(),
                     QStringLiteral("No removable files were found in the folders we could read. "
                                    "Review access to check the remaining folders."));
            QVERIFY(!screen.unreadableDetails->isVisibleTo(&screen));
            screen.unreadableToggle->click();
            QVERIFY(screen.unreadableDetails->isVisibleTo(&screen));
            // The details name the folders.
            QVERIFY(screen.unreadableList->text().contains(
                QString::fromStdString(stage.home.path("Library/Caches/com.spotify.client"))));
            QCOMPARE(screen.unreadableList->text().count(QLatin1Char('\n')), denied - 1);
        }
    }

    void confirmationAsksByWhatThePlanHolds() {
        Stage stage;
        stage.home.fillTypical();
        stage.open();
        stage.scan();

        ui::ConfirmSheet* caches = stage.review();
        QCOMPARE(caches->acknowledged->text(), QStringLiteral("I reviewed the selected files."));
        caches->cancelButton->click();
        QTRY_VERIFY(!stage.model->cleanup().cleanupPlan());

        // Duplicates only: the duplicates page's own test.
        // Caches and a dependency folder.
        stage.model->cleanup().selectAvailableCleanItems();
        varnok::CleanupQueue mixed = stage.model->cleanup().queue();
        std::size_t caches_ = mixed.items().size();
        for (const auto& candidate : scenes::projectCandidates(
                 stage.home.url().appendingPathComponent("Projects", true), stage.home.url())) {
            mixed.add(candidate);
        }
        QVERIFY(mixed.items().size() > caches_);
        stage.model->cleanup().setQueue(mixed);
        stage.screen().reviewButton->click();
        auto* sheet = stage.sheet<ui::ConfirmSheet>("confirmation");
        QCOMPARE(sheet->acknowledged->text(),
                 QStringLiteral("I have stopped related builds, servers and tools."));
        QCOMPARE(shown(sheet->moveButton),
                 QStringLiteral("Move %1 items to Trash").arg(mixed.items().size()));
        QVERIFY(!sheet->moveButton->isEnabled());
        sheet->acknowledged->click();
        QVERIFY(sheet->moveButton->isEnabled());
        sheet->acknowledged->click();
        QVERIFY(!sheet->moveButton->isEnabled());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!stage.model->cleanup().cleanupPlan());
    }

    void pathFieldTakesAbsoluteAndHomePaths() {
        Stage stage;
        stage.open();
        stage.window->scanFolderAction()->trigger();
        auto* sheet = stage.sheet<ui::PathScanSheet>("pathScan");
        QCOMPARE(sheet->path->placeholderText(), QStringLiteral("~/Documents"));
        const std::pair<const char*, bool> cases[] = {
            {"", false},           {"~", true},       {" /tmp ", true}, {"Documents", false},
            {"~/Documents", true}, {"\n~/x\t", true}, {"~user", false}, {"./here", false}};
        for (const auto& [typed, accepted] : cases) {
            sheet->path->setText(QString::fromUtf8(typed));
            QVERIFY2(sheet->scanButton->isEnabled() == accepted, typed);
        }
        // "~" is the home folder; the sheet closes and the scan runs there.
        sheet->path->setText(QStringLiteral(" ~ "));
        sheet->scanButton->click();
        QTRY_VERIFY(!stage.model->showPathScan());
        QTRY_VERIFY(stage.model->cleanup().cleanResult().has_value() &&
                    !stage.model->cleanup().isScanning());
        QCOMPARE(QString::fromStdString(stage.model->cleanup().cleanHome().path()),
                 stage.home.home());
    }

    void historyOffersRestoreOnlyWithBothIdentities() {
        Stage stage;
        stage.open();
        stage.screen().recoverLink->click();
        auto* empty = stage.sheet<ui::HistorySheet>("history");
        QCOMPARE(empty->emptyTitle->text(), QStringLiteral("No cleanup yet"));
        QCOMPARE(empty->filterPicker->accessibleName(), QStringLiteral("History filter"));
        empty->doneButton->click();
        QTRY_VERIFY(!stage.model->recovery().showRecovery());

        const varnok::FileIdentity identity{};
        varnok::TrashReport report;
        report.id = varnok::Uuid::random();
        report.startedAt = std::chrono::system_clock::now();
        auto outcome = [&](const char* name, bool trash, bool parent) {
            varnok::TrashOutcome item;
            item.originalURL = varnok::Url::file(stage.home.path(name), true);
            item.status = varnok::TrashStatus::moved;
            item.logicalSize = 1000;
            item.trashURL = varnok::Url::file(stage.home.path("gone/" + std::string(name)), true);
            if (trash) {
                item.trashIdentity = identity;
            }
            if (parent) {
                item.originalParentIdentity = identity;
            }
            return item;
        };
        report.outcomes = {outcome("both", true, true), outcome("no-trash", false, true),
                           outcome("no-parent", true, false)};
        stage.model->recovery().setCleanupHistory({report});
        stage.model->recovery().setShowRecovery(true);
        auto* history = stage.sheet<ui::HistorySheet>("history");
        auto rows = history->rows();
        QCOMPARE(rows.size(), 3u);
        QVERIFY(rows[0]->restore->isEnabled());
        QCOMPARE(rows[0]->restore->toolTip(),
                 QStringLiteral("Move back to the original path without overwriting anything"));
        QVERIFY(!rows[1]->restore->isEnabled());
        QCOMPARE(rows[1]->restore->toolTip(),
                 QStringLiteral("Older history entry: restore manually in your file manager"));
        QVERIFY(!rows[2]->restore->isEnabled());
        // The availability arrives in the background; the made-up Trash item is missing.
        QCOMPARE(rows[0]->availabilityLine->text(), QStringLiteral("Checking recovery\u2026"));
        setBusy(stage, true);
        QVERIFY(!rows[0]->restore->isEnabled());
        setBusy(stage, false);
        QVERIFY(rows[0]->restore->isEnabled());
        QTRY_VERIFY(rows[0]->availability().has_value());
        QCOMPARE(rows[0]->availabilityLine->text(),
                 QString::fromStdString(rows[0]->availability()->message));

        // A refusal of the core is shown with the promise never to overwrite.
        rows[0]->restore->click();
        QTRY_VERIFY(history->openQuestion() != nullptr);
        QCOMPARE(history->openQuestion()->objectName(), QStringLiteral("restoreQuestion"));
        history->openQuestion()->button(QStringLiteral("Restore"))->click();
        QTRY_VERIFY(history->openQuestion() != nullptr &&
                    history->openQuestion()->objectName() == QStringLiteral("restoreResult"));
        auto texts = history->openQuestion()->findChildren<QLabel*>();
        bool found = false;
        for (QLabel* label : texts) {
            found = found || label->text().endsWith(
                                 QStringLiteral("\n\nAn existing file or folder will never be "
                                                "overwritten."));
        }
        QVERIFY(found);
    }

    void failureAlertOffersAFreshScan() {
        Stage stage;
        stage.home.fillTypical();
        stage.open();
        stage.scan();
        QString link = stage.home.home() + QStringLiteral("-link");
        QVERIFY(QFile::link(stage.home.home(), link));
        stage.model->cleanup().scanForCleanup(varnok::Url::file(link.toStdString(), true));
        auto* alert = stage.sheet<ui::Alert>("failure");
        QFile::remove(link);
        QVERIFY(alert->button(QStringLiteral("Scan again")) != nullptr);
        // Sighted and screen-reader users get the same message.
        QCOMPARE(stage.screen().statusLine->text(),
                 QStringLiteral("Scan did not finish. Scan again to get current suggestions."));
        QCOMPARE(stage.screen().statusLine->accessibleName(), stage.screen().statusLine->text());
        QVERIFY(stage.screen().staleBanner->isVisibleTo(&stage.screen()));
        // The two warnings line up.
        QTRY_COMPARE(stage.screen().statusLine->parentWidget()->width(),
                     stage.screen().staleBanner->width());
        alert->button(QStringLiteral("Scan again"))->click();
        QTRY_VERIFY(!stage.model->error().has_value());
        QTRY_VERIFY(!stage.model->cleanup().isScanning() && !stage.model->cleanup().needsRescan());
        QVERIFY(!stage.screen().staleBanner->isVisibleTo(&stage.screen()));
    }

    void cleanupEndsWithARestoredFile() {
        Stage stage;
        stage.home.fillTypical();
        stage.open();
        stage.scan();
        const std::string spotify = stage.home.path(".cache/spotify");

        stage.screen().selectAvailableButton->click();
        stage.screen().reviewButton->click();
        auto* confirm = stage.sheet<ui::ConfirmSheet>("confirmation");
        QVERIFY(!confirm->moveButton->isEnabled());
        confirm->acknowledged->click();
        confirm->moveButton->click();
        auto* result = stage.sheet<ui::ResultSheet>("result");
        QCOMPARE(result->titleLabel->text(), QStringLiteral("Moved to Trash"));
        QVERIFY(!QFile::exists(QString::fromStdString(spotify)));
        for (ui::OutcomeRow* row : result->rows()) {
            QCOMPARE(row->status->text(), QStringLiteral("Sent to Trash"));
        }
        result->openTrash->click();
        QCOMPARE(stage.workspace->opened.size(), 1u);
        QVERIFY(stage.workspace->opened.front().path().ends_with("/Trash/files"));

        // Done rescans, then the history puts one item back.
        result->doneButton->click();
        QTRY_VERIFY(!stage.model->cleanup().cleanupReport() && !stage.model->isBusy() &&
                    !stage.model->cleanup().needsRescan());
        stage.screen().recoverButton->click();
        auto* history = stage.sheet<ui::HistorySheet>("history");
        history->filterButtons[2]->click();
        QVERIFY(history->emptyState->isVisibleTo(history));
        QCOMPARE(history->emptyTitle->text(), QStringLiteral("No items in this view"));
        history->filterButtons[0]->click();
        ui::OutcomeRow* target = nullptr;
        for (ui::OutcomeRow* row : history->rows()) {
            if (row->outcome().originalURL.path() == spotify) {
                target = row;
            }
        }
        QVERIFY(target != nullptr);
        QTRY_VERIFY(target->availability().has_value());
        QCOMPARE(target->availabilityLine->text(),
                 QStringLiteral("Ready to restore to the original location."));
        QVERIFY(target->showInTrash->isVisibleTo(target));
        target->restore->click();
        QTRY_VERIFY(history->openQuestion() != nullptr);
        history->openQuestion()->button(QStringLiteral("Restore"))->click();
        // The rows are rebuilt while it runs; the sheet still knows when it is over.
        QVERIFY(history->restoringLine->isVisibleTo(history));
        history->filterButtons[1]->click();
        QTRY_VERIFY(QFile::exists(QString::fromStdString(spotify)));
        QTRY_VERIFY(!stage.model->isBusy());
        QVERIFY(!history->restoringLine->isVisibleTo(history));
        history->filterButtons[2]->click();
        auto restored = history->rows();
        QCOMPARE(restored.size(), 1u);
        QCOMPARE(restored.front()->outcome().originalURL.path(), spotify);
        QCOMPARE(restored.front()->status->text(), QStringLiteral("Restored"));
        QVERIFY(!restored.front()->restore->isEnabled());
        // Sizes line up whether or not a row offers "Show in Trash".
        history->filterButtons[0]->click();
        auto all = history->rows();
        QVERIFY(all.size() > 1);
        stage.waitForAvailability(history);
        QTRY_VERIFY(all.front()->size->isVisible());
        for (ui::OutcomeRow* row : all) {
            QCOMPARE(row->size->geometry().right(), all.front()->size->geometry().right());
        }
        // The history on disk says so too.
        bool onDisk = false;
        for (const auto& report :
             varnok::TrashService::history(varnok::TrashService::defaultHistoryFolder())) {
            for (const auto& outcome : report.outcomes) {
                onDisk = onDisk || (outcome.originalURL.path() == spotify &&
                                    outcome.status == varnok::TrashStatus::restored);
            }
        }
        QVERIFY(onDisk);
    }

    void stopOrCloseEndsTheMoveBeforeTheNextItem() {
        for (bool closing : {false, true}) {
            Stage stage;
            stage.home.fillTypical();
            stage.open();
            stage.scan();
            stage.platform.holdMoves();
            ui::ConfirmSheet* confirm = stage.review();
            const auto queued = stage.model->cleanup().queue().items().size();
            confirm->acknowledged->click();
            confirm->moveButton->click();
            QTRY_VERIFY(stage.platform.isHolding());
            QCOMPARE(stage.screen().state(), ui::CleanupScreen::State::working);
            QCOMPARE(stage.screen().workTitle->text(),
                     QStringLiteral("Moving selected items to Trash"));
            QVERIFY(stage.screen().stopButton->isEnabled());
            if (closing) {
                QTimer::singleShot(100, [&] { stage.platform.release(); });
                stage.window->close();
                QVERIFY(!stage.model->isBusy());
            } else {
                stage.screen().stopButton->click();
                stage.platform.release();
                QTRY_VERIFY(!stage.model->isBusy());
            }
            // The item being moved may finish; nothing after it moves, and the history says so.
            auto reports =
                varnok::TrashService::history(varnok::TrashService::defaultHistoryFolder());
            QCOMPARE(reports.size(), 1u);
            QCOMPARE(reports.front().outcomes.size(), queued);
            QVERIFY(reports.front().movedCount() <= 1);
            if (!closing) {
                auto* result = stage.sheet<ui::ResultSheet>("result");
                QCOMPARE(result->titleLabel->text(), QStringLiteral("Cleanup results"));
                // Each item left behind says why.
                for (ui::OutcomeRow* row : result->rows()) {
                    if (row->outcome().status != varnok::TrashStatus::moved) {
                        QVERIFY(row->reasonLine->isVisibleTo(row));
                        QVERIFY(!row->reasonLine->text().isEmpty());
                    }
                }
            }
        }
    }

    // From the Home page's promise to build output in the Trash, as a user goes: by name, by
    // keyboard and by the check boxes of the list.
    void projectsPageFindsAndMovesBuildOutput() {
        Stage stage;
        stage.home.fillTypical();
        stage.open();
        auto* home = stage.window->findChild<QPushButton*>("homeProjects");
        QVERIFY(home != nullptr);
        home->click();
        QCOMPARE(stage.model->page(), varnok::AppPage::projects);
        QCOMPARE(stage.window->pages()->navigation->currentItem()->text(),
                 QStringLiteral("Projects"));

        auto* page = stage.window->findChild<QWidget*>("projectsPage");
        auto* folder = page->findChild<QLineEdit*>("projectFolder");
        auto* review = page->findChild<QPushButton*>("reviewProjects");
        auto* list = page->findChild<QTreeWidget*>("projectList");
        folder->setText(QString::fromStdString(stage.home.path("Projects")));
        QTest::keyClick(folder, Qt::Key_Return);
        QTRY_VERIFY(stage.model->projects().projectCandidates().has_value());
        QCOMPARE(list->topLevelItemCount(), 1);
        QVERIFY(!review->isEnabled());

        // Ticking the project ticks its folders.
        QTreeWidgetItem* project = list->topLevelItem(0);
        QCOMPARE(project->child(0)->text(0), QStringLiteral("node_modules"));
        project->setCheckState(0, Qt::Checked);
        QCOMPARE(project->child(0)->checkState(0), Qt::Checked);
        QCOMPARE(stage.model->projects().projectSelection().size(), 1u);
        QVERIFY(review->isEnabled());

        review->click();
        auto* confirm = stage.sheet<ui::ConfirmSheet>("confirmation");
        QCOMPARE(confirm->acknowledged->text(),
                 QStringLiteral("I have stopped related builds, servers and tools."));
        QCOMPARE(shown(confirm->moveButton), QStringLiteral("Move 1 item to Trash"));
        confirm->acknowledged->click();
        confirm->moveButton->click();
        QTRY_VERIFY(stage.model->cleanup().cleanupReport().has_value());
        QVERIFY(
            !QFile::exists(QString::fromStdString(stage.home.path("Projects/site/node_modules"))));
        QCOMPARE(list->topLevelItemCount(), 0);
    }

    void longPathsGiveWayInTheMiddle() {
        const QString path = QStringLiteral("/home/morvel/.var/app/com.example.Editor/cache/"
                                            "Google Chrome Canary/Default/Service Worker");
        ui::PathLabel label(QStringLiteral("File location  "), path, ui::TextRole::secondary);
        label.show();
        label.resize(260, 20);
        QVERIFY(label.text().startsWith(QStringLiteral("File location  /home")));
        QVERIFY(label.text().contains(QChar(0x2026)));
        QVERIFY(label.text().endsWith(QStringLiteral("Worker")));
        QVERIFY(label.fontMetrics().horizontalAdvance(label.text()) <= 260);
        QCOMPARE(label.accessibleName(), QStringLiteral("File location  ") + path);
        QCOMPARE(label.toolTip(), path);
        label.resize(2000, 20);
        QCOMPARE(label.text(), QStringLiteral("File location  ") + path);
    }

    void screenshotsAreDrawn() {
        QTemporaryDir out;
        QProcess command;
        command.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        command.start(QStringLiteral(OMBRELO_SCREENSHOTS_PATH), {out.path()});
        QVERIFY(command.waitForFinished(300000));
        QCOMPARE(command.exitCode(), 0);
        const QStringList states =
            QStringLiteral("welcome scanning waiting-for-apps results nothing-to-review working "
                           "access-intro confirm-caches confirm-duplicates confirm-mixed "
                           "result-all-moved result-partly-moved history-empty "
                           "history-filtered-empty history scan-folder scan-folder-refused "
                           "message failure-alert")
                .split(QLatin1Char(' '));
        for (const char* palette : {"light", "dark"}) {
            for (const QString& state : states) {
                QString file = out.filePath(QStringLiteral("%1-%2.png").arg(palette, state));
                QImage image(file);
                QVERIFY2(!image.isNull(), qPrintable(file));
                QCOMPARE(image.size(), QSize(1480, 960));
                // Not blank: a real picture has text, so many distinct colours.
                QSet<QRgb> colours;
                for (int y = 0; y < image.height() && colours.size() < 64; y += 7) {
                    for (int x = 0; x < image.width(); x += 5) {
                        colours.insert(image.pixel(x, y));
                    }
                }
                QVERIFY2(colours.size() >= 64, qPrintable(file));
            }
        }
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"

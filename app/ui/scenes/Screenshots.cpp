// Renders the window in each of its states and sheets to "<palette>-<state>.png", driving the
// real model over real temporary homes.
//   ombrelo-screenshots DIR [--palette light|dark] [--only STATE]...
#include "app/ui/CategoryGroup.hpp"
#include "app/ui/CleanupScreen.hpp"
#include "app/ui/MainWindow.hpp"
#include "app/ui/RecoverySheets.hpp"
#include "app/ui/Sheets.hpp"
#include "app/ui/scenes/Pictures.hpp"
#include "app/ui/scenes/Scenes.hpp"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <cstdio>
#include <functional>
#include <stdexcept>

using namespace ombrelo;

namespace {

using scenes::Stage;
using Drive = std::function<void(Stage&)>;

struct Scene {
    const char* name;
    Drive drive;
};

void typicalWithSlack(Stage& stage) {
    stage.home.fillTypical();
    stage.apps.emplace_back("com.tinyspeck.slackmacgap", "Slack");
}

const std::vector<Scene>& allScenes() {
    static const std::vector<Scene> list = {
        {"welcome", [](Stage& s) { s.open(false); }},
        {"access-intro",
         [](Stage& s) {
             s.open(false);
             s.screen().scanButton->click();
             s.sheet<ui::AccessIntroSheet>("accessIntro");
         }},
        {"scanning",
         [](Stage& s) {
             s.home.fillTypical();
             s.platform.holdWalk(s.home.path("Library/Caches/Google/Chrome"));
             s.open();
             s.screen().scanButton->click();
             s.need(scenes::waitUntil(
                        [&] { return s.platform.isHolding() && s.model->cleanScanCount() > 0; }),
                    "the scan did not reach its held location");
             s.settle();
         }},
        {"waiting-for-apps",
         [](Stage& s) {
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.model->quitAppsAndRescan(s.model->appsForCleanup(s.model->candidates()));
             s.settle();
         }},
        {"results",
         [](Stage& s) {
             // A running owner, and a second scan stopped part-way: the suggestions are stale.
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.platform.holdWalk(s.home.path("Library/Caches/Google/Chrome"));
             s.window->scanAction()->trigger();
             s.need(scenes::waitUntil([&] { return s.platform.isHolding(); }), "no held scan");
             s.screen().cancelScanButton->click();
             s.platform.release();
             s.screen().setExpanded(varnok::CleanupCategory::communicationCaches, true);
             s.settle();
         }},
        {"results-selected",
         [](Stage& s) {
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.expandAll();
             s.screen().selectAvailableButton->click();
             s.settle();
         }},
        {"nothing-to-review",
         [](Stage& s) {
             s.home.makeFolder("Library/Caches/com.spotify.client");
             s.home.makeFolder("Library/Caches/Google/Chrome");
             s.home.write("Library/Logs/Zoom/today.log", 9000);
             s.platform.deny(s.home.path("Library/Caches/com.spotify.client"));
             s.platform.deny(s.home.path("Library/Caches/Google/Chrome"));
             s.open();
             s.scan();
             s.screen().unreadableToggle->click();
             s.settle();
         }},
        {"close-apps",
         [](Stage& s) {
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.screen()
                 .group(varnok::CleanupCategory::communicationCaches)
                 ->closeAppsButton->click();
             s.need(scenes::waitUntil([&] { return s.screen().closeAppsConfirmation(); }),
                    "no confirmation");
             s.settle();
         }},
        {"working",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.platform.holdMoves();
             ui::ConfirmSheet* confirm = s.review();
             confirm->acknowledged->setChecked(true);
             confirm->moveButton->click();
             s.need(scenes::waitUntil([&] { return s.platform.isHolding(); }), "no held move");
             s.settle();
         }},
        {"confirm-caches",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.review();
             s.settle();
         }},
        {"confirm-duplicates",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             varnok::CleanupQueue queue;
             for (const auto& candidate : scenes::duplicateCandidates(s.home.url())) {
                 queue.add(candidate);
             }
             s.model->setQueue(queue);
             s.screen().reviewButton->click();
             s.sheet<ui::ConfirmSheet>("confirmation");
             s.settle();
         }},
        {"confirm-mixed",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.model->selectAvailableCleanItems();
             varnok::CleanupQueue queue = s.model->queue();
             for (const auto& candidate : scenes::projectCandidates(
                      s.home.url().appendingPathComponent("Projects", true), s.home.url())) {
                 queue.add(candidate);
             }
             s.model->setQueue(queue);
             s.screen().reviewButton->click();
             auto* confirm = s.sheet<ui::ConfirmSheet>("confirmation");
             confirm->acknowledged->setChecked(true);
             s.settle();
         }},
        {"result-all-moved",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.moveReviewed();
             s.waitForAvailability(s.sheet<ui::ResultSheet>("result"));
         }},
        {"result-partly-moved",
         [](Stage& s) {
             s.home.fillTypical();
             s.platform.refuseMove(s.home.path("Library/Caches/Firefox"));
             s.open();
             s.scan();
             s.moveReviewed();
             s.waitForAvailability(s.sheet<ui::ResultSheet>("result"));
         }},
        {"history-empty",
         [](Stage& s) {
             s.open();
             s.screen().recoverLink->click();
             s.sheet<ui::HistorySheet>("history");
             s.settle();
         }},
        {"history-filtered-empty",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.moveReviewed();
             s.sheet<ui::ResultSheet>("result")->doneButton->click();
             s.need(scenes::waitUntil([&] { return !s.model->isBusy() && s.model->cleanResult(); }),
                    "no rescan");
             s.screen().recoverButton->click();
             auto* history = s.sheet<ui::HistorySheet>("history");
             history->filterButtons[2]->click();
             s.settle();
         }},
        {"history",
         [](Stage& s) {
             s.home.fillTypical();
             s.platform.refuseMove(s.home.path("Library/Caches/Firefox"));
             s.open();
             s.scan();
             s.moveReviewed();
             s.sheet<ui::ResultSheet>("result")->doneButton->click();
             s.need(scenes::waitUntil([&] { return !s.model->isBusy() && s.model->cleanResult(); }),
                    "no rescan");
             s.screen().recoverButton->click();
             auto* history = s.sheet<ui::HistorySheet>("history");
             s.waitForAvailability(history);
             // Put the first moved item back through its own control.
             for (ui::OutcomeRow* row : history->rows()) {
                 if (row->outcome().status == varnok::TrashStatus::moved) {
                     row->restore->click();
                     break;
                 }
             }
             s.need(scenes::waitUntil([&] { return history->openQuestion() != nullptr; }),
                    "no restore question");
             history->openQuestion()->button(QStringLiteral("Restore"))->click();
             s.need(scenes::waitUntil([&] {
                        for (const auto& report : s.model->cleanupHistory()) {
                            for (const auto& outcome : report.outcomes) {
                                if (outcome.status == varnok::TrashStatus::restored) {
                                    return !s.model->isBusy();
                                }
                            }
                        }
                        return false;
                    }),
                    "no restore");
             s.waitForAvailability(s.sheet<ui::HistorySheet>("history"));
         }},
        {"scan-folder",
         [](Stage& s) {
             s.open();
             s.window->scanFolderAction()->trigger();
             s.sheet<ui::PathScanSheet>("pathScan")->path->setText(QStringLiteral("~/Documents"));
             s.settle();
         }},
        {"scan-folder-refused",
         [](Stage& s) {
             s.open();
             s.window->scanFolderAction()->trigger();
             s.sheet<ui::PathScanSheet>("pathScan")->path->setText(QStringLiteral("Documents"));
             s.settle();
         }},
        {"message",
         [](Stage& s) {
             s.open();
             s.model->reveal(varnok::AppModel::exampleCandidates().front().node);
             s.sheet<ui::MessageSheet>("message");
             s.settle();
         }},
        {"failure-alert",
         [](Stage& s) {
             // A second scan of the home through a symbolic link is refused.
             s.home.fillTypical();
             s.open();
             s.scan();
             std::string link = s.home.home().toStdString() + "-link";
             QFile::link(s.home.home(), QString::fromStdString(link));
             s.model->scanForCleanup(varnok::Url::file(link, true));
             s.sheet<QDialog>("failure");
             s.settle();
             QFile::remove(QString::fromStdString(link));
         }},
    };
    return list;
}

int usage() {
    std::fprintf(stderr, "Usage: ombrelo-screenshots DIR [--palette light|dark] [--only STATE]...\n"
                         "Writes DIR/<palette>-<state>.png for every state of the window.\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    // The offscreen platform says this of every window it shows; nothing else is filtered.
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (!text.contains(QLatin1String("propagateSizeHints"))) {
                std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
            }
        });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QStringList args = QApplication::arguments().mid(1);
    if (args.isEmpty() || args.front().startsWith(QLatin1Char('-'))) {
        return usage();
    }
    QDir out(args.takeFirst());
    QStringList palettes = {QStringLiteral("light"), QStringLiteral("dark")};
    QStringList only;
    while (!args.isEmpty()) {
        QString option = args.takeFirst();
        if (args.isEmpty()) {
            return usage();
        }
        if (option == QLatin1String("--palette")) {
            palettes = {args.takeFirst()};
        } else if (option == QLatin1String("--only")) {
            only << args.takeFirst();
        } else {
            return usage();
        }
    }
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "Cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    int failures = 0;
    for (const QString& name : palettes) {
        if (name != QLatin1String("light") && name != QLatin1String("dark")) {
            return usage();
        }
        QApplication::setPalette(name == QLatin1String("dark") ? pictures::darkPalette()
                                                               : pictures::lightPalette());
        for (const Scene& scene : allScenes()) {
            if (!only.isEmpty() && !only.contains(QString::fromLatin1(scene.name))) {
                continue;
            }
            QString file = out.filePath(name + QLatin1Char('-') + scene.name + ".png");
            try {
                Stage stage;
                scene.drive(stage);
                if (!pictures::capture(stage.window.get()).save(file)) {
                    throw std::runtime_error("cannot write the picture");
                }
                std::printf("%s\n", qPrintable(file));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(file), error.what());
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

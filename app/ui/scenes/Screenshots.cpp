// Renders the window in each of its states and sheets to "<palette>-<state>.png", driving the
// real model over real temporary homes.
//   ombrelo-screenshots DIR [--palette light|dark] [--only STATE]...
#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/cleanup/CategoryGroup.hpp"
#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/cleanup/Sheets.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/duplicates/DuplicatesPage.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/LargestPage.hpp"
#include "app/ui/recovery/RecoverySheets.hpp"
#include "app/ui/scenes/Pictures.hpp"
#include "app/ui/scenes/Scenes.hpp"
#include "core/snapshot/ScanArchive.hpp"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStyleFactory>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
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

// A home worth exploring: projects, media, documents and downloads of varied sizes and ages,
// with a few identical copies.
void fillExplorable(Stage& s) {
    auto& h = s.home;
    const char* projects[] = {"atlas", "harbor", "lumen"};
    for (int p = 0; p < 3; ++p) {
        const std::string base = std::string("Projects/") + projects[p];
        h.write(base + "/src/main.cpp", 180'000 + p * 40'000, 3);
        h.write(base + "/src/render.cpp", 120'000, 12);
        h.write(base + "/src/model.hpp", 40'000, 40);
        h.write(base + "/build/app.o", 2'400'000 - p * 500'000, 2);
        h.write(base + "/build/libcore.a", 3'100'000 - p * 700'000, 2);
        h.write(base + "/assets/logo.png", 600'000, 200);
        h.write(base + "/README.md", 9'000, 400);
    }
    for (int i = 0; i < 6; ++i) {
        h.write("Pictures/2025/IMG_" + std::to_string(4100 + i) + ".jpg", 900'000 + i * 210'000,
                300 + i * 10);
        h.write("Pictures/2026/IMG_" + std::to_string(5200 + i) + ".jpg", 1'100'000 + i * 90'000,
                20 + i * 5);
    }
    h.write("Videos/Holiday.mov", 6'800'000, 500);
    h.write("Videos/Interview.mp4", 3'900'000, 90);
    h.write("Music/Live set.flac", 2'700'000, 700);
    h.write("Documents/Taxes/2025.pdf", 420'000, 250);
    h.write("Documents/Taxes/2024.pdf", 380'000, 600);
    h.write("Documents/Letters/landlord.docx", 64'000, 30);
    h.write("Documents/Notes.txt", 12'000, 1);
    h.write("Downloads/installer.deb", 4'400'000, 15);
    h.write("Downloads/archive.zip", 2'200'000, 120);
    for (const char* copy : {"Downloads/IMG_4102.jpg", "Documents/IMG_4102 copy.jpg"}) {
        h.makeFolder(std::filesystem::path(copy).parent_path().string());
        QFile::copy(QString::fromStdString(h.path("Pictures/2025/IMG_4102.jpg")),
                    QString::fromStdString(h.path(copy)));
    }
    QFile::copy(QString::fromStdString(h.path("Videos/Interview.mp4")),
                QString::fromStdString(h.path("Downloads/Interview.mp4")));
    QFile::copy(QString::fromStdString(h.path("Documents/Taxes/2025.pdf")),
                QString::fromStdString(h.path("Downloads/2025.pdf")));
}

// Scans `folder` in the explorer and waits until the scan is remembered.
void scanRemembered(Stage& s, const varnok::Url& folder) {
    s.model->explore().scanFolder(folder);
    s.need(scenes::waitUntil([&] {
               return !s.model->explore().activeScanURL() && !s.model->remembered().isRemembering();
           }),
           "no remembered folder scan");
}

// A file of `bytes` real bytes (not a hole), so that it counts on disk.
void writeWhole(Stage& s, const std::string& relative, std::int64_t bytes) {
    const QString path = QString::fromStdString(s.home.path(relative));
    QDir().mkpath(QFileInfo(path).path());
    QFile out(path);
    s.need(out.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write a file");
    const QByteArray chunk(1 << 20, 'g');
    for (std::int64_t done = 0; done < bytes; done += chunk.size()) {
        out.write(chunk.constData(), std::min<std::int64_t>(chunk.size(), bytes - done));
    }
}

// The explorer on the scanned home, in one map mode, with a folder selected.
void explored(Stage& s, varnok::FolderMapMode mode) {
    fillExplorable(s);
    s.open();
    s.model->setPage(varnok::AppPage::explore);
    s.model->explore().scanFolder(s.home.url());
    s.need(scenes::waitUntil([&] { return !s.model->explore().activeScanURL(); }),
           "no folder scan");
    s.model->explore().setMapMode(mode);
    s.model->explore().setMapDepth(mode == varnok::FolderMapMode::treemap ? 3 : 2);
    for (const auto& child : s.model->explore().root().children) {
        if (child.name() == "Projects") {
            s.model->explore().setSelected(child);
        }
    }
    const ui::ExplorePage& page = *s.window->pages()->explore;
    s.need(
        scenes::waitUntil([&] { return !page.legend->collecting() && !page.listModel->sorting(); }),
        "no map legend");
    s.settle();
}

// The explorer compared with a scan of the same home saved a month earlier, before some files
// grew, shrank, came and went.
void comparedWithEarlier(Stage& s) {
    explored(s, varnok::FolderMapMode::treemap);
    auto& h = s.home;
    const std::string saved = h.path("../a-month-ago.json");
    varnok::ScanArchive::save(s.model->explore().root(), {},
                              QDateTime::currentSecsSinceEpoch() - 30 * 86400, saved);
    h.write("Videos/Holiday.mov", 9'600'000, 1);
    h.write("Projects/atlas/build/app.o", 4'100'000, 1);
    h.write("Projects/harbor/build/libcore.a", 3'000'000, 1);
    h.write("Downloads/installer.deb", 1'100'000, 1);
    h.write("Pictures/2026/IMG_5206.jpg", 1'400'000, 1);
    h.write("Music/Podcasts/episode-12.mp3", 2'300'000, 2);
    QFile::remove(QString::fromStdString(h.path("Downloads/archive.zip")));
    QFile::remove(QString::fromStdString(h.path("Projects/lumen/build/app.o")));
    s.model->explore().scanFolder(h.url());
    s.need(scenes::waitUntil([&] { return !s.model->explore().activeScanURL(); }),
           "no folder scan");
    // The sample files are sparse: their growth shows in the bytes they hold.
    s.model->explore().setApparentSize(true);
    s.window->compareWith(QString::fromStdString(saved));
    s.need(scenes::waitUntil([&] { return s.model->explore().comparison() != nullptr; }),
           "no comparison");
    s.window->pages()->explore->list->sortByColumn(ui::NodeListModel::change, Qt::DescendingOrder);
    for (const auto& child : s.model->explore().root().children) {
        if (child.name() == "Videos") {
            s.model->explore().setSelected(child);
        }
    }
    s.settle();
}

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
             s.platform.holdWalk(s.home.path(".config/Slack/Cache"));
             s.open();
             s.screen().scanButton->click();
             s.need(scenes::waitUntil([&] {
                        return s.platform.isHolding() && s.model->cleanup().cleanScanCount() > 0;
                    }),
                    "the scan did not reach its held location");
             s.settle();
         }},
        {"waiting-for-apps",
         [](Stage& s) {
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.model->cleanup().quitAppsAndRescan(
                 s.model->cleanup().appsForCleanup(s.model->cleanup().candidates()));
             s.settle();
         }},
        {"results",
         [](Stage& s) {
             // A running owner, and a second scan stopped part-way: the suggestions are stale.
             typicalWithSlack(s);
             s.open();
             s.scan();
             s.platform.holdWalk(s.home.path(".config/Slack/Cache"));
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
             s.home.makeFolder(".cache/spotify");
             s.home.makeFolder(".cache/google-chrome");
             s.home.write(".local/state/zoom/logs/today.log", 9000);
             s.platform.deny(s.home.path(".cache/spotify"));
             s.platform.deny(s.home.path(".cache/google-chrome"));
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
             s.model->cleanup().setQueue(queue);
             s.screen().reviewButton->click();
             s.sheet<ui::ConfirmSheet>("confirmation");
             s.settle();
         }},
        {"confirm-mixed",
         [](Stage& s) {
             s.home.fillTypical();
             s.open();
             s.scan();
             s.model->cleanup().selectAvailableCleanItems();
             varnok::CleanupQueue queue = s.model->cleanup().queue();
             for (const auto& candidate : scenes::projectCandidates(
                      s.home.url().appendingPathComponent("Projects", true), s.home.url())) {
                 queue.add(candidate);
             }
             s.model->cleanup().setQueue(queue);
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
             s.platform.refuseMove(s.home.path(".cache/mozilla/firefox"));
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
             s.need(scenes::waitUntil(
                        [&] { return !s.model->isBusy() && s.model->cleanup().cleanResult(); }),
                    "no rescan");
             s.screen().recoverButton->click();
             auto* history = s.sheet<ui::HistorySheet>("history");
             history->filterButtons[2]->click();
             s.settle();
         }},
        {"history",
         [](Stage& s) {
             s.home.fillTypical();
             s.platform.refuseMove(s.home.path(".cache/mozilla/firefox"));
             s.open();
             s.scan();
             s.moveReviewed();
             s.sheet<ui::ResultSheet>("result")->doneButton->click();
             s.need(scenes::waitUntil(
                        [&] { return !s.model->isBusy() && s.model->cleanup().cleanResult(); }),
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
                        for (const auto& report : s.model->recovery().cleanupHistory()) {
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
             s.model->cleanup().reveal(varnok::CleanupFlow::exampleCandidates().front());
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
             s.model->cleanup().scanForCleanup(varnok::Url::file(link, true));
             s.sheet<QDialog>("failure");
             s.settle();
             QFile::remove(QString::fromStdString(link));
         }},
        {"home",
         [](Stage& s) {
             fillExplorable(s);
             s.open();
             s.model->setPage(varnok::AppPage::home);
             // Two scans of the home with a build between them: the line on what grew.
             scanRemembered(s, s.home.url());
             writeWhole(s, "Projects/atlas/build/cache/index.bin", 24'000'000);
             scanRemembered(s, s.home.url());
             s.need(s.model->remembered().homeGrowth().has_value(), "no growth of the home");
             s.settle();
             auto* line = s.window->findChild<QLabel*>(QStringLiteral("homeGrowth"));
             s.need(line != nullptr && line->isVisible(), "no line on what grew");
         }},
        {"explore-treemap", [](Stage& s) { explored(s, varnok::FolderMapMode::treemap); }},
        {"explore-sunburst", [](Stage& s) { explored(s, varnok::FolderMapMode::sunburst); }},
        {"explore-flame", [](Stage& s) { explored(s, varnok::FolderMapMode::flame); }},
        {"explore-bubbles", [](Stage& s) { explored(s, varnok::FolderMapMode::bubbles); }},
        {"explore-list", [](Stage& s) { explored(s, varnok::FolderMapMode::list); }},
        {"explore-compare", comparedWithEarlier},
        {"largest",
         [](Stage& s) {
             explored(s, varnok::FolderMapMode::treemap);
             s.model->setPage(varnok::AppPage::largest);
             s.need(scenes::waitUntil([&] { return !s.window->pages()->largest->listing(); }),
                    "no largest items");
             s.settle();
         }},
        {"duplicates",
         [](Stage& s) {
             fillExplorable(s);
             s.open();
             s.model->setPage(varnok::AppPage::duplicates);
             // A copy that sorts first by path: the original is still the one kept.
             s.home.makeFolder("Desktop");
             QFile::copy(QString::fromStdString(s.home.path("Pictures/2025/IMG_4105.jpg")),
                         QString::fromStdString(s.home.path("Desktop/IMG_4105 (copy).jpg")));
             s.window->pages()->duplicates->folderField->setText(s.home.home());
             s.model->duplicates().findDuplicates(s.home.url());
             s.need(scenes::waitUntil([&] { return !s.model->duplicates().isFindingDuplicates(); }),
                    "no duplicate search");
             s.model->duplicates().selectAllDuplicates(true);
             s.settle();
         }},
        {"projects",
         [](Stage& s) {
             fillExplorable(s);
             auto& h = s.home;
             h.write("Projects/site/package.json", 40, 30);
             h.write("Projects/site/package-lock.json", 60, 30);
             h.write("Projects/site/node_modules/react/index.js", 3'600'000, 30);
             h.write("Projects/site/node_modules/left-pad/index.js", 900'000, 30);
             h.write("Projects/engine/Cargo.toml", 200, 9);
             h.write("Projects/engine/target/debug/engine", 8'200'000, 2);
             h.write("Projects/tool/pyproject.toml", 300, 60);
             h.write("Projects/tool/.venv/pyvenv.cfg", 100, 60);
             h.write("Projects/tool/.venv/lib/python3.11/site-packages/numpy/core.so", 5'400'000,
                     60);
             s.open();
             s.model->setPage(varnok::AppPage::projects);
             s.model->projects().setProjectFolder(s.home.url());
             s.model->projects().detectProjects();
             s.need(scenes::waitUntil([&] { return !s.model->projects().isDetecting(); }),
                    "no project detection");
             s.model->projects().selectProject(s.home.path("Projects/site"), true);
             s.settle();
         }},
        {"settings",
         [](Stage& s) {
             s.open();
             s.model->setPage(varnok::AppPage::settings);
             s.settle();
         }},
        {"settings-remembered",
         [](Stage& s) {
             fillExplorable(s);
             s.open();
             scanRemembered(s, s.home.url());
             scanRemembered(s, varnok::Url::file(s.home.path("Projects"), true));
             writeWhole(s, "Projects/atlas/build/cache/index.bin", 2'000'000);
             scanRemembered(s, s.home.url());
             s.model->setPage(varnok::AppPage::settings);
             s.settle();
             auto* list = s.window->findChild<QTreeWidget*>(QStringLiteral("rememberedScans"));
             s.need(list != nullptr && list->topLevelItemCount() == 3, "no remembered scans");
             list->setCurrentItem(list->topLevelItem(1));
             s.settle();
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
    QApplication::setStyle(new ui::FramedStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
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

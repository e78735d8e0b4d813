// Times the explorer window on a large tree: from "Scan" to the first map, the longest pause of
// the event loop while the scan runs, each map mode's full redraw, its cached repaint and a screen
// reader's reading of every tile, the longest stretch of GUI-thread work on each page a user
// visits, and the process's peak memory with the tree open.
//   ombrelo-explore-bench TREE [FLAT]    FLAT: a folder of very many files, driven the same way
#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "app/ui/pages/LargestPage.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyleFactory>
#include <QThread>
#include <QTreeView>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace ombrelo;
using varnok::FolderMapMode;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times every event the GUI thread handles from the event loop, paints and queued results of
// background work included: the longest one is the longest moment the window did not respond.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0) {
            return QApplication::notify(receiver, event);
        }
        ++depth_;
        QElapsedTimer timer;
        timer.start();
        const bool handled = QApplication::notify(receiver, event);
        longest_ = std::max(longest_, timer.nsecsElapsed());
        --depth_;
        return handled;
    }

    // Runs a user's action as the event loop would (a click handled in one go), then lets the
    // window settle until `ready` holds and nothing is left to do; returns the longest stretch
    // of work, in milliseconds.
    template <typename Action, typename Ready> double step(Action action, Ready ready) {
        longest_ = 0;
        ++depth_;
        QElapsedTimer timer;
        timer.start();
        action();
        longest_ = std::max(longest_, timer.nsecsElapsed());
        --depth_;
        QElapsedTimer waited;
        waited.start();
        int quiet = 0;
        // Paints and queued results arrive within a few turns once the work is done.
        while (quiet < 30 && waited.elapsed() < 60000) {
            QApplication::sendPostedEvents();
            QApplication::processEvents(QEventLoop::AllEvents);
            quiet = ready() ? quiet + 1 : 0;
            QThread::msleep(2);
        }
        return longest_ / 1e6;
    }
    template <typename Action> double step(Action action) {
        return step(action, [this] { return !settled || settled(); });
    }

    // What every step waits for besides its own condition: background work of the window done.
    std::function<bool()> settled;

private:
    int depth_ = 0;
    qint64 longest_ = 0;
};

// The folder below `folder` with the most children: the heaviest one to open.
const varnok::FileNode* busiestFolder(const varnok::FileNode& folder) {
    const varnok::FileNode* busiest = nullptr;
    std::vector<const varnok::FileNode*> pending{&folder};
    while (!pending.empty()) {
        const varnok::FileNode* node = pending.back();
        pending.pop_back();
        for (const auto& child : node->children) {
            if (child.isDirectory) {
                if (busiest == nullptr || child.children.size() > busiest->children.size()) {
                    busiest = &child;
                }
                pending.push_back(&child);
            }
        }
    }
    return busiest;
}

} // namespace

// Drives each page a user visits on the scanned tree and prints the longest stretch of GUI-thread
// work each step took, from the action to the last paint.
void pauses(TimedApplication& application, varnok::AppModel& model, ui::MainWindow& window) {
    ui::PageStack& pages = *window.pages();
    ui::ExplorePage& explore = *pages.explore;
    ui::LargestPage& largest = *pages.largest;
    // Steps end once the background work they started has been shown.
    auto listed = [&] {
        return !largest.listing() && !explore.listModel->sorting() && !explore.legend->collecting();
    };
    application.settled = listed;
    model.explore().setMapDepth(2);
    std::printf("\nLongest stretch of GUI-thread work per step (action to last paint):\n\n");
    std::printf("| Page | Step | Longest pause |\n|---|---|---:|\n");
    auto report = [](const char* page, const char* step, double ms) {
        std::printf("| %s | %s | %.1f ms |\n", page, step, ms);
        std::fflush(stdout);
    };
    auto mode = [&](int id) {
        return [&explore, id] { explore.modeButtons->button(id)->click(); };
    };
    const char* modeNames[] = {"Treemap", "Sunburst", "Flame", "Bubbles", "List"};
    for (int id : {1, 2, 3, 4, 0}) {
        report("Explorer", modeNames[id], application.step(mode(id)));
    }
    report("Explorer", "Apparent size on", application.step([&] { explore.apparentBox->click(); }));
    report("Explorer", "Apparent size off",
           application.step([&] { explore.apparentBox->click(); }));
    report("Explorer", "List sorted by name", application.step([&] {
        explore.list->header()->setSortIndicator(ui::NodeListModel::name, Qt::AscendingOrder);
    }));
    report("Explorer", "List sorted by size", application.step([&] {
        explore.list->header()->setSortIndicator(ui::NodeListModel::size, Qt::DescendingOrder);
    }));
    const varnok::FileNode* busiest = busiestFolder(model.explore().currentFolder());
    if (busiest != nullptr) {
        const std::string name =
            "Open the folder of " + std::to_string(busiest->children.size()) + " items";
        report("Explorer", name.c_str(),
               application.step([&] { model.explore().openFolder(*busiest); }));
        report("Explorer", "List mode in that folder", application.step(mode(4)));
        report("Explorer", "Back to the top",
               application.step([&] { model.explore().navigateTo(0); }));
        application.step(mode(0));
    }
    report("Largest", "Open the page",
           application.step([&] { model.setPage(varnok::AppPage::largest); }, listed));
    report(
        "Largest", "All folders",
        application.step(
            [&] { largest.scopeButtons->button(ui::LargestPage::allFolders)->click(); }, listed));
    report(
        "Largest", "In this folder",
        application.step(
            [&] { largest.scopeButtons->button(ui::LargestPage::inThisFolder)->click(); }, listed));
    report("Largest", "All files",
           application.step(
               [&] { largest.scopeButtons->button(ui::LargestPage::allFiles)->click(); }, listed));
    report(
        "Largest", "Search \"file 1\"",
        application.step([&] { largest.searchField->setText(QStringLiteral("file 1")); }, listed));
    report("Largest", "Clear the search",
           application.step([&] { largest.searchField->clear(); }, listed));
    report("Largest", "Apparent size on",
           application.step([&] { model.explore().setApparentSize(true); }, listed));
    report("Largest", "Apparent size off",
           application.step([&] { model.explore().setApparentSize(false); }, listed));
    report("Home", "Open the page",
           application.step([&] { model.setPage(varnok::AppPage::home); }));
    report("Home", "Apparent size on",
           application.step([&] { model.explore().setApparentSize(true); }));
    report("Home", "Apparent size off",
           application.step([&] { model.explore().setApparentSize(false); }));
    report("Explorer", "Back to the page",
           application.step([&] { model.setPage(varnok::AppPage::explore); }));
}

// The same on one folder holding every file: the list, not the map, is what costs there.
void flatPauses(TimedApplication& application, varnok::AppModel& model, ui::MainWindow& window,
                const char* folder) {
    ui::ExplorePage& explore = *window.pages()->explore;
    ui::LargestPage& largest = *window.pages()->largest;
    auto listed = [&] {
        return !largest.listing() && !explore.listModel->sorting() && !explore.legend->collecting();
    };
    application.settled = listed;
    model.setPage(varnok::AppPage::explore);
    application.step([] {});
    const double scan =
        application.step([&] { model.explore().scanFolder(varnok::Url::file(folder, true)); },
                         [&] { return !model.explore().activeScanURL(); });
    const auto files = std::to_string(model.explore().root().fileCount);
    std::printf("\nOne folder of %s files (%s):\n\n", files.c_str(), folder);
    std::printf("| Page | Step | Longest pause |\n|---|---|---:|\n");
    auto report = [](const char* page, const char* step, double ms) {
        std::printf("| %s | %s | %.1f ms |\n", page, step, ms);
        std::fflush(stdout);
    };
    report("Explorer", "Scan, to its map and list", scan);
    report("Explorer", "List", application.step([&] { explore.modeButtons->button(4)->click(); }));
    report("Explorer", "List sorted by name", application.step([&] {
        explore.list->header()->setSortIndicator(ui::NodeListModel::name, Qt::AscendingOrder);
    }));
    report("Explorer", "List sorted by kind", application.step([&] {
        explore.list->header()->setSortIndicator(ui::NodeListModel::kind, Qt::AscendingOrder);
    }));
    report("Explorer", "Scrolled to the end",
           application.step([&] { explore.list->scrollToBottom(); }));
    report("Explorer", "List sorted by size", application.step([&] {
        explore.list->header()->setSortIndicator(ui::NodeListModel::size, Qt::DescendingOrder);
    }));
    report("Explorer", "Apparent size on", application.step([&] { explore.apparentBox->click(); }));
    report("Explorer", "Apparent size off",
           application.step([&] { explore.apparentBox->click(); }));
    report("Explorer", "Treemap",
           application.step([&] { explore.modeButtons->button(0)->click(); }));
    report("Largest", "In this folder",
           application.step(
               [&] {
                   model.setPage(varnok::AppPage::largest);
                   largest.scopeButtons->button(ui::LargestPage::inThisFolder)->click();
               },
               listed));
    report("Home", "Open the page",
           application.step([&] { model.setPage(varnok::AppPage::home); }));
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TimedApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "Usage: ombrelo-explore-bench TREE [FLAT]\n");
        return 2;
    }
    varnok::AppModel model;
    model.setPage(varnok::AppPage::explore);
    ui::MainWindow window(model);
    window.resize(1480, 960);
    window.show();
    QApplication::processEvents();
    ui::FolderMap* map = window.pages()->explore->map;

    QElapsedTimer clock;
    clock.start();
    model.explore().scanFolder(varnok::Url::file(argv[1], true));
    qint64 longestPause = 0;
    qint64 last = clock.elapsed();
    int turns = 0;
    while (model.explore().activeScanURL()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        const qint64 now = clock.elapsed();
        longestPause = std::max(longestPause, now - last);
        last = now;
        ++turns;
    }
    const qint64 scanned = clock.elapsed();
    map->repaint();
    const qint64 firstMap = clock.elapsed();
    std::printf("Tree: %s, %lld files in %lld folders\n\n", argv[1],
                static_cast<long long>(model.explore().root().fileCount),
                static_cast<long long>(model.explore().root().folderCount));
    std::printf("| Step | Time |\n|---|---:|\n");
    std::printf("| \"Scan\" to the end of the scan | %.2f s |\n", scanned / 1000.0);
    std::printf("| \"Scan\" to the first map painted | %.2f s |\n", firstMap / 1000.0);
    std::printf("| Longest event-loop pause while scanning (%d turns) | %lld ms |\n\n", turns,
                static_cast<long long>(longestPause));

    std::printf("Map %dx%d, medians of 15 runs:\n\n", map->width(), map->height());
    std::printf("| Mode | Levels | Shapes | Layout and paint | Cached repaint | Reader reads all "
                "tiles |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    const FolderMapMode modes[] = {FolderMapMode::treemap, FolderMapMode::sunburst,
                                   FolderMapMode::flame, FolderMapMode::bubbles};
    for (FolderMapMode mode : modes) {
        for (int depth : {2, 3}) {
            model.explore().setMapMode(mode);
            model.explore().setMapDepth(depth);
            std::vector<double> full;
            std::vector<double> cached;
            std::vector<double> read;
            for (int i = 0; i < 15; ++i) {
                map->setFolder(&model.explore().currentFolder());
                QElapsedTimer timer;
                timer.start();
                map->repaint();
                full.push_back(timer.nsecsElapsed() / 1e6);
                timer.restart();
                map->repaint();
                cached.push_back(timer.nsecsElapsed() / 1e6);
                // Only asked for here: the paints above never build the readers' tiles.
                timer.restart();
                QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(map);
                qsizetype characters = 0;
                for (int child = 0; child < whole->childCount(); ++child) {
                    characters += whole->child(child)->text(QAccessible::Name).size() +
                                  whole->child(child)->text(QAccessible::Description).size();
                }
                read.push_back(characters > 0 ? timer.nsecsElapsed() / 1e6 : 0.0);
            }
            std::printf("| %s | %d | %zu | %.2f ms | %.2f ms | %.2f ms |\n",
                        std::string(varnok::rawValue(mode)).c_str(), depth, map->shapeCount(),
                        median(full), median(cached), median(read));
        }
    }
    pauses(application, model, window);
    if (argc == 3) {
        flatPauses(application, model, window, argv[2]);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\nPeak memory of the window with the tree open: %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}

// Times the explorer window on a large tree: from "Scan" to the first map, the longest pause of
// the event loop while the scan runs, each map mode's full redraw, its cached repaint and a screen
// reader's reading of every tile, and the process's peak memory with the tree open.
//   ombrelo-explore-bench TREE
#include "app/ui/MainWindow.hpp"
#include "app/ui/PageStack.hpp"
#include "app/ui/explore/ExplorePage.hpp"
#include "app/ui/explore/FolderMap.hpp"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QStyleFactory>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ombrelo;
using varnok::FolderMapMode;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc != 2) {
        std::fprintf(stderr, "Usage: ombrelo-explore-bench TREE\n");
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
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\nPeak memory of the window with the tree open: %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}

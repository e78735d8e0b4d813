// Times the four folder map layouts, the item index and the highlights on a scanned tree.
//
//   layout_bench --generate DIR [ENTRIES]   makes a sample tree of sparse files in DIR
//   layout_bench DIR [--runs N]              scans DIR, then times each operation
//
// Prints a Markdown table of median and slowest times.
#include "core/layout/BubbleLayout.hpp"
#include "core/layout/FlameLayout.hpp"
#include "core/layout/SunburstLayout.hpp"
#include "core/layout/TreemapLayout.hpp"
#include "core/scan/ItemIndex.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/scan/ScanHighlights.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace varnok;

namespace {

double millisecondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Timing {
    double median;
    double slowest;
};

Timing timed(int runs, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        samples.push_back(millisecondsOf(work));
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

// Folders of 10 to 40 entries down to five levels, files of log-uniform size up to 10 GB,
// created sparse so the tree costs inodes, not disk space.
int generate(const std::string& root, long entries) {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> magnitude(0, 10);
    std::uniform_int_distribution<int> breadth(10, 40);
    long made = 0;
    std::vector<std::pair<std::string, int>> folders{{root, 0}};
    ::mkdir(root.c_str(), 0755);
    for (size_t next = 0; next < folders.size() && made < entries; ++next) {
        auto [folder, level] = folders[next];
        int count = breadth(random);
        for (int i = 0; i < count && made < entries; ++i, ++made) {
            bool isFolder = level < 5 && (random() % 100) < (level == 0 ? 60 : 12);
            std::string path = folder + "/" + (isFolder ? "dir" : "file") + std::to_string(i) +
                               (isFolder ? ""
                                         : (i % 7 == 0   ? ".mp4"
                                            : i % 5 == 0 ? ".zip"
                                                         : ".dat"));
            if (isFolder) {
                if (::mkdir(path.c_str(), 0755) != 0) {
                    std::perror(path.c_str());
                    return 1;
                }
                folders.emplace_back(path, level + 1);
                continue;
            }
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 ||
                ::ftruncate(fd, static_cast<off_t>(std::pow(10.0, magnitude(random)))) != 0) {
                std::perror(path.c_str());
                return 1;
            }
            ::close(fd);
        }
        // Keep the walk going when the queue runs dry before the target.
        if (next + 1 == folders.size() && made < entries) {
            std::string extra = root + "/more" + std::to_string(made);
            ::mkdir(extra.c_str(), 0755);
            folders.emplace_back(extra, 1);
            ++made;
        }
    }
    std::printf("%ld entries under %s\n", made, root.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--generate") {
        return generate(argv[2], argc >= 4 ? std::atol(argv[3]) : 200000);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: layout_bench DIR [--runs N] | --generate DIR [ENTRIES]\n");
        return 2;
    }
    int runs = argc >= 4 && std::string(argv[2]) == "--runs" ? std::atoi(argv[3]) : 21;
    ScanResult result;
    double scanMs =
        millisecondsOf([&] { result = ScanEngine::scan(Url::file(argv[1], true), {}); });
    const FileNode& root = result.root;
    const auto& nodes = root.children;
    std::int64_t entries = root.fileCount + root.folderCount;

    struct Row {
        std::string name;
        Timing timing;
        size_t shapes;
    };
    std::vector<Row> rows;
    size_t shapes = 0;
    auto add = [&](const std::string& name, int n, const std::function<size_t()>& work) {
        Timing t = timed(n, [&] { shapes = work(); });
        rows.push_back({name, t, shapes});
    };
    add("Treemap, depth 2, 600 tiles, 80 per parent", runs, [&] {
        return TreemapLayout::make(nodes, {1200, 800}, 2, 600, 80).size();
    });
    add("Treemap, depth 4", runs, [&] {
        return TreemapLayout::make(nodes, {1200, 800}, 4, 600, 80).size();
    });
    add("Sunburst, depth 2, 900 segments, 60 per parent", runs,
        [&] { return SunburstLayout::make(nodes, 2, 900, 60).size(); });
    add("Sunburst, depth 3", runs, [&] { return SunburstLayout::make(nodes, 3, 900, 60).size(); });
    add("Flame, depth 2, 900 bars", runs,
        [&] { return FlameLayout::make(nodes, 1200, 400, 2, 900).size(); });
    add("Flame, depth 3", runs, [&] { return FlameLayout::make(nodes, 1200, 266, 3, 900).size(); });
    add("Bubbles, depth 2, 300 bubbles", runs, [&] {
        return BubbleLayout::make(nodes, {1200, 800}, 2, 300).size();
    });
    add("Bubbles, depth 3", runs, [&] {
        return BubbleLayout::make(nodes, {1200, 800}, 3, 300).size();
    });
    int fewer = std::max(3, runs / 4);
    // A text in nearly every path, a non-ASCII one in upper case, and one that matches nothing.
    for (const char* search : {"1", "R\xC3\x89SUM\xC3\x89 12", "zzz-nothing"}) {
        add(std::string("find, search \"") + search + "\", Largest", fewer, [&] {
            return ItemIndex::find(root, std::nullopt, ItemSort::largest, search,
                                   ItemScope::descendants)
                .size();
        });
    }
    add("find, every file, no search, Newest", fewer, [&] {
        return ItemIndex::find(root, ItemKind::files, ItemSort::newest, "", ItemScope::descendants)
            .size();
    });
    add("find, Videos, Type", fewer, [&] {
        return ItemIndex::find(root, ItemKind::videos, ItemSort::type, "", ItemScope::descendants)
            .size();
    });
    add("ScanHighlights.summarize", fewer,
        [&] { return static_cast<size_t>(ScanHighlights::summarize(root).fileCount); });

    std::printf(
        "Tree: %s entries (%s files), scanned in %.0f ms; sizeof(FileNode) = %zu bytes.\n\n",
        std::to_string(entries).c_str(), std::to_string(root.fileCount).c_str(), scanMs,
        sizeof(FileNode));
    std::printf("| Operation | Median | Slowest | Result size |\n|---|---:|---:|---:|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %.2f ms | %.2f ms | %zu |\n", row.name.c_str(), row.timing.median,
                    row.timing.slowest, row.shapes);
    }
    return 0;
}

// Times saving, loading and comparing scans against the scan itself, and measures what a loaded
// scan costs in memory.
//
//   snapshot_bench TREE SCRATCH [--runs N]
//
// Scans TREE, writes its saved forms into SCRATCH (scan.json, scan.json.gz) and prints a Markdown
// table of medians with each time as a share of the scan's.
#include "core/scan/ScanEngine.hpp"
#include "core/snapshot/ScanArchive.hpp"
#include "core/snapshot/ScanDiff.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace varnok;

namespace {

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(int runs, const std::function<void()>& work) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        samples.push_back(secondsOf(work));
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

std::size_t heapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

long long fileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// Every 50th file a little larger: the comparison then has changes to list and sort.
void grow(FileNode& root) {
    std::vector<FileNode*> pending{&root};
    long seen = 0;
    while (!pending.empty()) {
        FileNode* node = pending.back();
        pending.pop_back();
        for (FileNode& child : node->children) {
            if (child.isDirectory) {
                pending.push_back(&child);
            } else if (++seen % 50 == 0) {
                child.allocatedSize += 4096;
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: snapshot_bench TREE SCRATCH [--runs N]\n");
        return 2;
    }
    const std::string tree = argv[1];
    const std::string scratch = argv[2];
    const int runs = argc >= 5 && std::string(argv[3]) == "--runs" ? std::atoi(argv[4]) : 5;
    const std::string plain = scratch + "/scan.json";
    const std::string packed = scratch + "/scan.json.gz";
    const auto now = static_cast<std::int64_t>(std::time(nullptr));

    ScanResult result;
    const double scan = median(runs, [&] { result = ScanEngine::scan(Url::file(tree, true), {}); });
    const long long entries = result.root.fileCount + result.root.folderCount + 1;
    const double save = median(runs, [&] { ScanArchive::save(result, now, plain); });
    const double savePacked = median(runs, [&] { ScanArchive::save(result, now, packed); });
    const double load = median(runs, [&] { ScanArchive::load(plain); });
    const double loadPacked = median(runs, [&] { ScanArchive::load(packed); });

    // The heap a loaded scan holds, the file's text already released.
    result = ScanResult();
    ::malloc_trim(0);
    const std::size_t before = heapInUse();
    SavedScan older = ScanArchive::load(plain);
    const std::size_t held = heapInUse() - before;
    SavedScan newer = ScanArchive::load(plain);
    grow(newer.result.root);
    std::size_t changes = 0;
    const double diff = median(runs, [&] {
        changes = ScanDiff::compare(older.result.root, newer.result.root).changes.size();
    });

    std::printf("Tree: %lld entries; sizeof(FileNode) %zu bytes; saved file %.1f MB, "
                "compressed %.1f MB\n\n",
                entries, sizeof(FileNode), static_cast<double>(fileSize(plain)) / 1e6,
                static_cast<double>(fileSize(packed)) / 1e6);
    std::printf("| step | median (s) | × the scan | target |\n|---|---|---|---|\n");
    std::printf("| scan (ScanEngine::scan) | %.3f | 1.00 | |\n", scan);
    std::printf("| save, plain | %.3f | %.2f | ≤ 0.5 |\n", save, save / scan);
    std::printf("| save, gzip | %.3f | %.2f | ≤ 0.5 |\n", savePacked, savePacked / scan);
    std::printf("| load, plain | %.3f | %.2f | ≤ 0.5 |\n", load, load / scan);
    std::printf("| load, gzip | %.3f | %.2f | ≤ 0.5 |\n", loadPacked, loadPacked / scan);
    std::printf("| diff of two loaded scans (%zu changes) | %.3f | %.2f | ≤ 2 s |\n", changes, diff,
                diff / scan);
    std::printf("\nA loaded scan holds %.1f MB of heap: %.0f bytes per entry (target ≤ 250).\n",
                static_cast<double>(held) / 1e6,
                static_cast<double>(held) / static_cast<double>(entries));
    return 0;
}

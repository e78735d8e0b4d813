// Where the time of one duplicate search goes: scans a folder, then runs the search that reads
// files of one size together and the one that hashes each file, and prints the wall and CPU
// seconds of each phase, taken at each phase's first progress report. Built and run by run.py.
//
//   phases DIR [THREADS]

#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/ScanEngine.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

using namespace varnok;

namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Moment {
    double wall = 0;
    double cpu = 0;
    static Moment now() { return {wallSeconds(), cpuSeconds()}; }
};

void print(const char* name, const Moment& from, const Moment& to) {
    std::printf("  %-28s %6.3f s wall %6.3f s CPU\n", name, to.wall - from.wall, to.cpu - from.cpu);
}

void search(const char* title, const FileNode& root, unsigned threads, bool hashEach) {
    Moment start = Moment::now();
    Moment hashing;
    Moment verifying;
    auto progress = [&](const DuplicateProgress& report) {
        if (report.phase == "Hashing matching sizes" && hashing.wall == 0) {
            hashing = Moment::now();
        } else if (report.phase == "Verifying file contents") {
            verifying = Moment::now();
        }
    };
    DuplicateResult result =
        hashEach ? DuplicateEngine::find(root, progress, DuplicateEngine::hash, threads)
                 : DuplicateEngine::find(root, progress, threads);
    Moment end = Moment::now();
    std::printf("%s: %zu sets\n", title, result.groups.size());
    print("grouping by size", start, hashing);
    print("hashing matching sizes", hashing, verifying);
    print("verifying file contents", verifying, end);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: phases DIR [THREADS]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    Moment start = Moment::now();
    ScanResult scan = ScanEngine::scan(Url::file(argv[1], true), {});
    print("scan", start, Moment::now());
    search("reading together", scan.root, threads, false);
    search("hashing each file", scan.root, threads, true);
    return 0;
}

// Times building a cleanup plan of N duplicate files: queueing every candidate, then preparing
// the plan (overlap and kept-copy checks, and the check of every item against the disk).
// Usage: plan_bench FOLDER N   (FOLDER is filled with 2 × N small files unless it exists)
#include "core/cleanup/CleanupQueue.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unordered_map>

using namespace varnok;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plan_bench FOLDER N\n");
        return 2;
    }
    const std::string root = argv[1];
    const int count = std::atoi(argv[2]);
    // An existing folder is taken as made by an earlier run with the same N.
    const bool made = std::filesystem::exists(root);
    for (const char* sub : {"keep", "copies"}) {
        std::filesystem::create_directories(root + "/" + sub);
    }
    for (int i = 0; !made && i < count; ++i) {
        const std::string name = std::to_string(i) + ".txt";
        for (const char* sub : {"keep", "copies"}) {
            std::ofstream(root + "/" + sub + "/" + name) << "photo " << i << "\n";
        }
    }
    const ScanResult scan = ScanEngine::scan(Url::file(root, true), nullptr);
    std::map<std::string, const FileNode*> folders;
    for (const FileNode& folder : scan.root.children) {
        folders[folder.id.lastPathComponent()] = &folder;
    }
    std::unordered_map<std::string, const FileNode*> kept;
    for (const FileNode& node : folders.at("keep")->children) {
        kept[node.id.lastPathComponent()] = &node;
    }
    std::vector<CleanupCandidate> candidates;
    for (const FileNode& copy : folders.at("copies")->children) {
        candidates.emplace_back(copy, CleanupCategory::duplicates, root, "", false,
                                *kept.at(copy.id.lastPathComponent()));
    }

    auto start = std::chrono::steady_clock::now();
    CleanupQueue queue;
    for (const CleanupCandidate& candidate : candidates) {
        queue.add(candidate);
    }
    const double queued = secondsSince(start);
    start = std::chrono::steady_clock::now();
    const CleanupPlan plan = TrashService::prepare(queue.items(), Url::file(root, true));
    const double prepared = secondsSince(start);
    std::printf("%zu %.3f %.3f\n", plan.items.size(), queued, prepared);
    return plan.items.size() == static_cast<size_t>(count) ? 0 : 1;
}

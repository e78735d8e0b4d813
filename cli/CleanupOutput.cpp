#include "cli/CleanupOutput.hpp"

#include "cli/Cli.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

void printCandidateGroups(
    const std::vector<varnok::CleanupCandidate>& candidates,
    const std::function<std::string(const varnok::CleanupCandidate&)>& label,
    const std::function<std::vector<std::string>(const varnok::CleanupCandidate&)>& runningApps) {
    for (varnok::CleanupCategory category : varnok::CleanupCategory::allCases()) {
        std::vector<const varnok::CleanupCandidate*> group;
        std::int64_t total = 0;
        for (const auto& candidate : candidates) {
            if (candidate.category == category) {
                group.push_back(&candidate);
                total += candidate.node.logicalSize;
            }
        }
        if (group.empty()) {
            continue;
        }
        std::printf("\n%s: %zu %s, %s\n", std::string(category.rawValue()).c_str(), group.size(),
                    group.size() == 1 ? "item" : "items", formatBytes(total).c_str());
        for (const varnok::CleanupCandidate* candidate : group) {
            std::printf("  %10s  %s\n", formatBytes(candidate->node.logicalSize).c_str(),
                        varnok::PathText::displayable(label(*candidate)).c_str());
            std::printf("              %s\n",
                        varnok::PathText::displayable(candidate->node.id.path()).c_str());
            std::printf("              %s\n",
                        varnok::PathText::displayable(candidate->evidence).c_str());
            if (runningApps) {
                std::vector<std::string> apps = runningApps(*candidate);
                if (!apps.empty()) {
                    std::string names;
                    for (const auto& name : apps) {
                        names += (names.empty() ? "" : ", ") + name;
                    }
                    std::printf("              Open now, close first: %s\n",
                                varnok::PathText::displayable(names).c_str());
                }
            }
        }
    }
}

} // namespace ombrelo::cli

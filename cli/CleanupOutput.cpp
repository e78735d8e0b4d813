#include "cli/CleanupOutput.hpp"

#include "cli/Cli.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

varnok::Url folderArgument(const std::string& operand, const std::string& what) {
    if (operand.empty()) {
        throw UsageError(what + " must not be empty");
    }
    std::string path = operand;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            throw UsageError("cannot read the current folder; give " + what +
                             " as an absolute path");
        }
        path = std::string(cwd) + "/" + path;
    }
    return varnok::Url::file(varnok::PathText::standardize(path), true);
}

bool reportUnusableFolder(const std::string& path) {
    struct stat record {};
    std::string shown = varnok::PathText::displayable(path);
    if (::stat(path.c_str(), &record) != 0) {
        int failure = errno;
        std::string reason = failure == ENOENT ? "does not exist"
                             : failure == ELOOP
                                 ? "is a symbolic link loop"
                                 : std::string("cannot be read (") + std::strerror(failure) + ")";
        std::fprintf(stderr, "ombrelo-cli: %s %s.\n", shown.c_str(), reason.c_str());
        return true;
    }
    if (!S_ISDIR(record.st_mode)) {
        std::fprintf(stderr, "ombrelo-cli: %s is not a folder.\n", shown.c_str());
        return true;
    }
    return false;
}

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

bool finishOutput() {
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "ombrelo-cli: cannot write the output: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace ombrelo::cli

#include "cli/FolderScan.hpp"

#include "cli/Cli.hpp"
#include "core/scan/ScanEngine.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {

varnok::Url folderFromOperand(const std::string& operand) {
    if (operand.empty()) {
        throw UsageError("the folder must not be empty");
    }
    std::string path = operand;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            throw UsageError("cannot read the current folder; give an absolute path");
        }
        path = std::string(cwd) + "/" + path;
    }
    return varnok::Url::file(varnok::PathText::standardize(path), true);
}

bool reportUnscannable(const varnok::Url& folder) {
    const std::string path = folder.path();
    struct stat record {};
    if (::stat(path.c_str(), &record) != 0) {
        int failure = errno;
        std::string reason = failure == ENOENT ? "does not exist"
                             : failure == ELOOP
                                 ? "is a symbolic link loop"
                                 : std::string("cannot be read (") + std::strerror(failure) + ")";
        std::fprintf(stderr, "ombrelo-cli: %s %s.\n", varnok::PathText::displayable(path).c_str(),
                     reason.c_str());
        return true;
    }
    if (!S_ISDIR(record.st_mode)) {
        std::fprintf(stderr, "ombrelo-cli: %s is not a folder.\n",
                     varnok::PathText::displayable(path).c_str());
        return true;
    }
    return false;
}

varnok::ScanResult scanWithProgress(const varnok::Url& folder) {
    ProgressLine line;
    auto result = varnok::ScanEngine::scan(folder, [&](const varnok::ScanProgress& progress) {
        line.update(progress.phase + ": " + formatCount(progress.fileCount) + " files, " +
                    formatCount(progress.folderCount) + " folders, " +
                    formatBytes(progress.logicalSize) + "  " + progress.currentPath);
    });
    line.clear();
    return result;
}

std::string localDateText(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::localtime_r(&time, &parts) == nullptr) {
        return "";
    }
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts) > 0 ? text : "";
}

std::string isoDateText(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr) {
        return "";
    }
    char text[40];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) > 0 ? text : "";
}

} // namespace ombrelo::cli

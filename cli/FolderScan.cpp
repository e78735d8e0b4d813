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

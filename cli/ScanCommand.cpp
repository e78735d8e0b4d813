#include "cli/Cli.hpp"
#include "cli/FolderScan.hpp"
#include "cli/SavedScans.hpp"

#include "core/common/Url.hpp"
#include "core/scan/FileNodeJson.hpp"
#include "core/scan/ScanEngine.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrelo::cli {
namespace {

const char* const scanHelp =
    "Usage: ombrelo-cli scan [--json | --quiet] [--disk-usage] [--jobs N] [-x]\n"
    "                        [--exclude PATTERN]... [--save FILE] [DIR]\n"
    "       ombrelo-cli scan --load FILE [--save FILE] [--json | --quiet] [--disk-usage]\n"
    "\n"
    "Walks DIR (default: the current folder) read-only into its size tree and prints\n"
    "what it holds: total size (content and on disk), file and folder counts,\n"
    "unreadable entries, bytes by age and by kind, and the largest items directly\n"
    "inside DIR. Symbolic links are counted as links and never followed; hard links\n"
    "are counted once per path.\n"
    "\n"
    "Options:\n"
    "  --json               print the whole scan result as JSON (the tree nested under\n"
    "                       \"root\"; both sizes of every node)\n"
    "  --quiet              print nothing; only the exit status tells how it went\n"
    "  --disk-usage         rank and size the largest items by bytes on disk, as du\n"
    "                       does, so that sparse files do not come first\n"
    "  --jobs N             walk on N threads, 1 to 64 (default: one per processor,\n"
    "                       at most 8); the result is the same for every N\n"
    "  -x, --one-file-system\n"
    "                       do not enter other file systems mounted below DIR; they\n"
    "                       are listed as not entered\n"
    "  --exclude PATTERN    leave out entries matching a shell glob (repeatable): a\n"
    "                       pattern with a '/' matches the path below DIR, one without\n"
    "                       matches the name of any entry\n"
    "  --save FILE          also write the scan to FILE in ncdu's JSON export format,\n"
    "                       which ncdu -f and gdu -f read; gzip-compressed when FILE\n"
    "                       ends in .gz. An existing FILE is replaced only once the\n"
    "                       new one is complete\n"
    "  --load FILE          read a scan saved by --save, ncdu -o or gdu -o (plain or\n"
    "                       gzip-compressed) instead of scanning; it tells where and\n"
    "                       when it was taken (with --json, in \"savedScan\": file,\n"
    "                       takenAt and writer); - reads it from standard input\n"
    "  --help               show this help\n"
    "\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops the scan.\n"
    "Exit status: 0 scanned, 1 the folder cannot be scanned or FILE cannot be read\n"
    "or written, 2 usage error,\n"
    "130 interrupted.\n";

void printSummary(const varnok::ScanResult& result, bool diskUsage,
                  const std::optional<varnok::SavedScan>& saved) {
    const varnok::FileNode& root = result.root;
    std::printf("%s\n", varnok::PathText::displayable(root.id.path()).c_str());
    if (saved) {
        const std::string taken = takenText(*saved);
        std::printf("  Saved scan: %s\n", taken.empty() ? "date not recorded" : taken.c_str());
    }
    std::printf("  Size:       %s (%s on disk%s)\n", formatBytes(root.logicalSize).c_str(),
                formatBytes(root.allocatedSize).c_str(),
                root.allocatedSizeComplete ? "" : ", incomplete");
    std::printf("  Contents:   %s, %s\n", counted(root.fileCount, "file", "files").c_str(),
                counted(root.folderCount, "folder", "folders").c_str());
    if (result.skippedCount > 0) {
        std::printf("  Unreadable: %s", counted(result.skippedCount, "entry", "entries").c_str());
        if (result.skippedCount > static_cast<std::int64_t>(result.inaccessiblePaths.size())) {
            std::printf(" (the first %zu listed)", result.inaccessiblePaths.size());
        }
        std::printf("\n");
        size_t shown = 0;
        for (const auto& path : result.inaccessiblePaths) {
            if (++shown > 10) {
                std::printf("    ... and %zu more\n", result.inaccessiblePaths.size() - 10);
                break;
            }
            std::printf("    %s\n", varnok::PathText::displayable(path).c_str());
        }
    }
    static const char* const ages[] = {"under 30 days", "30 to 180 days", "180 to 365 days",
                                       "a year or more"};
    static const char* const kinds[] = {"code", "media", "documents", "other"};
    std::printf("  By age of last change:\n");
    for (size_t i = 0; i < 4; ++i) {
        std::printf("    %-16s %s\n", ages[i], formatBytes(result.ageSizes[i]).c_str());
    }
    std::printf("  By kind:\n");
    for (size_t i = 0; i < 4; ++i) {
        std::printf("    %-16s %s\n", kinds[i], formatBytes(result.typeSizes[i]).c_str());
    }
    printLeftOut(result, "  ");
    if (!root.children.empty()) {
        std::vector<const varnok::FileNode*> children;
        for (const varnok::FileNode& child : root.children) {
            children.push_back(&child);
        }
        if (diskUsage) {
            sortByDiskUsage(children);
        }
        std::printf("  Largest items%s:\n", diskUsage ? " on disk" : "");
        size_t shown = 0;
        for (const varnok::FileNode* child : children) {
            if (++shown > 10) {
                break;
            }
            std::printf("    %10s  %s%s\n",
                        formatBytes(diskUsage ? child->allocatedSize : child->logicalSize).c_str(),
                        varnok::PathText::displayable(child->name()).c_str(),
                        child->isDirectory ? "/" : (child->isSymbolicLink ? " ->" : ""));
        }
    }
    if (!saved) {
        std::printf("  Scanned in %.2f s\n", result.duration);
    }
}

int runScan(const std::vector<std::string>& raw) {
    std::vector<std::string> flags = scanFlags;
    flags.insert(flags.end(), {"json", "quiet"});
    Arguments args(withLongOptions(raw), flags, {"jobs", "save", "load"}, scanRepeatable);
    if (args.has("json") && args.has("quiet")) {
        throw UsageError("--json and --quiet cannot be used together");
    }
    const varnok::ScanOptions options = scanOptions(args);
    const std::optional<std::string> load = loadArgument(args);
    const std::optional<std::string> save = args.value("save");
    if (save && save->empty()) {
        throw UsageError("option '--save' needs a file");
    }
    varnok::Url folder;
    if (!load) {
        folder = scannedFolder(args, "give at most one folder to scan");
        if (reportUnusableFolder(folder.path())) {
            return exitFailure;
        }
    }
    return runCancellable([&]() {
        std::optional<varnok::SavedScan> saved;
        varnok::ScanResult result;
        std::int64_t takenAt = static_cast<std::int64_t>(std::time(nullptr));
        if (load) {
            saved = loadWithProgress(*load);
            result = std::move(saved->result);
            takenAt = saved->takenAt;
        } else {
            result = scanWithProgress(folder, options);
        }
        if (save) {
            saveWithProgress(result, takenAt, *save);
        }
        if (args.has("json")) {
            // The JSON document keeps its shape; what was left out is told beside it.
            printLeftOut(result, "ombrelo-cli: ", stderr);
            // A loaded scan tells where it came from in a member after the tree, so the last
            // byte (the closing brace) is held back until that is written.
            char held = 0;
            varnok::writeScanResultJson(result, [&](std::string_view piece) {
                if (piece.empty()) {
                    return;
                }
                if (held != 0) {
                    std::fputc(held, stdout);
                }
                std::fwrite(piece.data(), 1, piece.size() - 1, stdout);
                held = piece.back();
            });
            if (saved) {
                std::printf(",\"savedScan\":%s",
                            savedScanJson(*load, *saved)
                                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                                .c_str());
            }
            std::fputc(held, stdout);
            std::fputc('\n', stdout);
        } else if (!args.has("quiet")) {
            printSummary(result, args.has("disk-usage"), saved);
        }
        keepUntilExit(std::move(result));
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{Command{
    "scan", "Scan a folder into its size tree and summarise it", scanHelp, runScan, 10, "folder"}};

} // namespace
} // namespace ombrelo::cli

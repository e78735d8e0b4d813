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
    "Usage: ombrelo-cli scan [--json | --quiet] [--disk-usage] [--bytes] [--jobs N] [-x]\n"
    "                        [--exclude PATTERN]... [--save FILE] [DIR]\n"
    "       ombrelo-cli scan --load FILE [--save FILE] [--json | --quiet] [--disk-usage]\n"
    "\n"
    "Walks DIR (default: the current folder) read-only into its size tree and prints\n"
    "what it holds: total size (content and on disk), file and folder counts,\n"
    "unreadable entries, bytes of content by age and by kind, and the largest items\n"
    "directly inside DIR. Symbolic links are counted as links and never followed.\n"
    "Sizes on disk are counted as du counts them: a folder's own blocks included,\n"
    "a sparse file by the blocks it uses, and a file with several hard links once,\n"
    "at the first of its paths the walk meets. Content sizes count every path.\n"
    "\n"
    "Options:\n"
    "  --json               print the whole scan result as JSON (the tree nested under\n"
    "                       \"root\", whose sizes are the totals; both sizes of every\n"
    "                       node; \"repeatedLink\": true on a later path of a file\n"
    "                       with several hard links, which has no bytes on disk)\n"
    "  --quiet              print nothing; only the exit status tells how it went\n"
    "  --disk-usage         give the total and rank and size the largest items by\n"
    "                       bytes on disk; the total equals what du -sB1 prints\n"
    "  --bytes              print sizes as exact byte counts, as du -b does, instead of\n"
    "                       rounded decimal units\n"
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
    "Exit status: 0 scanned, 1 the folder cannot be scanned or is a system folder\n"
    "(/usr, /etc, /var, /opt, ...) or FILE cannot be read or written, 2 usage error,\n"
    "130 interrupted.\n";

void printSummary(const varnok::ScanResult& result, bool diskUsage, bool exact,
                  const std::optional<varnok::SavedScan>& saved) {
    const varnok::FileNode& root = result.root;
    auto size = [exact](std::int64_t bytes) {
        return exact ? formatSize(bytes, true) + (bytes == 1 ? " byte" : " bytes")
                     : formatBytes(bytes);
    };
    std::printf("%s\n", pastablePath(root.id.path()).c_str());
    if (saved) {
        const std::string taken = takenText(*saved);
        std::printf("  Saved scan: %s\n", taken.empty() ? "date not recorded" : taken.c_str());
    }
    const char* incomplete = root.allocatedSizeComplete ? "" : ", incomplete";
    if (diskUsage) {
        std::printf("  Size:       %s on disk%s (%s of content)\n",
                    size(root.allocatedSize).c_str(), incomplete, size(root.logicalSize).c_str());
    } else {
        std::printf("  Size:       %s (%s on disk%s)\n", size(root.logicalSize).c_str(),
                    size(root.allocatedSize).c_str(), incomplete);
    }
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
            std::printf("    %s\n", pastablePath(path).c_str());
        }
    }
    static const char* const ages[] = {"under 30 days", "30 to 180 days", "180 to 365 days",
                                       "a year or more"};
    static const char* const kinds[] = {"code", "media", "documents", "other"};
    std::printf("  By age of last change:\n");
    for (size_t i = 0; i < 4; ++i) {
        std::printf("    %-16s %s\n", ages[i], size(result.ageSizes[i]).c_str());
    }
    std::printf("  By kind:\n");
    for (size_t i = 0; i < 4; ++i) {
        std::printf("    %-16s %s\n", kinds[i], size(result.typeSizes[i]).c_str());
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
            std::printf(
                "    %10s  %s%s\n",
                formatSize(diskUsage ? child->allocatedSize : child->logicalSize, exact).c_str(),
                pastablePath(child->name()).c_str(),
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
        if (reportUnusableFolder(folder.path()) || reportSystemFolder(folder)) {
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
            // The version leads the document, as in every other JSON output. A loaded scan tells
            // where it came from in a member after the tree, so the last byte (the closing
            // brace) is held back until that is written.
            bool opened = false;
            char held = 0;
            varnok::writeScanResultJson(result, [&](std::string_view piece) {
                if (piece.empty()) {
                    return;
                }
                if (!opened && piece.front() == '{') {
                    std::printf("{\"version\":%d,", jsonVersion);
                    piece.remove_prefix(1);
                }
                opened = true;
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
            printSummary(result, args.has("disk-usage"), args.has("bytes"), saved);
        }
        keepUntilExit(std::move(result));
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{Command{
    "scan", "Scan a folder into its size tree and summarise it", scanHelp, runScan, 10, "folder"}};

} // namespace
} // namespace ombrelo::cli

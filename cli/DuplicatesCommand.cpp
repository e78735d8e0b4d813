#include "cli/Cli.hpp"

#include "core/common/Url.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/duplicates/DuplicateResultJson.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ombrelo::cli {
namespace {

const char* const duplicatesHelp =
    "Usage: ombrelo-cli duplicates [--json] [--jobs N] [-x] [--exclude PATTERN]... [DIR]\n"
    "\n"
    "Scans DIR (default: the current folder) read-only and lists the sets of\n"
    "byte-identical files in it. Files are grouped by size; the files of a shared\n"
    "size are read once each, side by side, and compared byte by byte, together with\n"
    "their owner, permissions, file attributes (immutable, append-only, no-dump) and\n"
    "extended attributes. Files that differ in any of these are not duplicates. Where\n"
    "many files share one size, they are hashed with SHA-256 first and only files\n"
    "whose hashes agree are compared.\n"
    "\n"
    "Only files that could safely be offered for removal are considered: regular files\n"
    "with a single link and at least one byte. Symbolic links, hard-linked files, hidden\n"
    "files and folders, project, source, credential and database files, and everything\n"
    "inside bundles, dependency folders and the Library folder macOS keeps in a home\n"
    "are left out, and counted. So are files on FUSE or network file systems and\n"
    "files without allocated blocks, whose contents may not be on this disk. Files\n"
    "that changed since the scan or cannot be read are skipped and listed. Nothing\n"
    "is ever modified. A system folder (/usr, /etc, /var, /opt, ...) is refused as\n"
    "DIR.\n"
    "\n"
    "Sets are listed largest reclaimable space first, each with the space that removing\n"
    "all but one copy would free; files within a set are in path order. A path holding\n"
    "a control character or bytes that are not UTF-8 is printed quoted as $'...', as\n"
    "ls does, so that it can be pasted into a shell.\n"
    "\n"
    "Options:\n"
    "  --json     print the result as JSON: \"version\", \"groups\" (each with \"id\",\n"
    "             \"extraSize\" and \"files\" as scanned nodes), \"hashedFiles\",\n"
    "             \"bytesHashed\", \"skippedFiles\" (URLs), \"leftOutByPolicy\" (files\n"
    "             left out), \"duration\" and \"extraSize\"\n"
    "  --jobs N   read and hash on N threads, 1 to 64 (default: one per processor, at\n"
    "             most 8); the result is the same for every N\n"
    "  -x, --one-file-system\n"
    "             do not enter other file systems mounted below DIR\n"
    "  --exclude PATTERN\n"
    "             leave out entries matching a shell glob (repeatable): a pattern with\n"
    "             a '/' matches the path below DIR, one without matches the name of\n"
    "             any entry\n"
    "  --help     show this help\n"
    "\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops the search.\n"
    "Exit status: 0 searched, 1 the folder cannot be scanned or is a system folder,\n"
    "2 usage error, 130 interrupted.\n";

// A plain reason why the folder cannot be searched, or nothing when it can be tried.
std::optional<std::string> unsearchableReason(const std::string& path) {
    struct stat record {};
    if (::stat(path.c_str(), &record) != 0) {
        int failure = errno;
        return failure == ENOENT  ? std::string("does not exist")
               : failure == ELOOP ? std::string("is a symbolic link loop")
                                  : std::string("cannot be read (") + std::strerror(failure) + ")";
    }
    if (!S_ISDIR(record.st_mode)) {
        return std::string("is not a folder");
    }
    return std::nullopt;
}

std::string shown(const varnok::Url& url) {
    return pastablePath(url.path());
}

std::string fileCount(std::int64_t count) {
    return counted(count, "file", "files");
}

void printResult(const varnok::Url& folder, const varnok::ScanResult& scan,
                 const varnok::DuplicateResult& result) {
    std::printf("Duplicates in %s\n", shown(folder).c_str());
    if (result.groups.empty()) {
        std::printf("  No identical files found.\n");
    } else {
        std::printf("  %s %s of identical files; %s could be freed\n",
                    formatCount(static_cast<std::int64_t>(result.groups.size())).c_str(),
                    result.groups.size() == 1 ? "set" : "sets",
                    formatBytes(result.extraSize()).c_str());
    }
    for (const varnok::DuplicateGroup& group : result.groups) {
        std::printf("\n  %s extra: %s copies of %s\n", formatBytes(group.extraSize()).c_str(),
                    formatCount(static_cast<std::int64_t>(group.files.size())).c_str(),
                    formatBytes(group.files.front().logicalSize).c_str());
        for (const varnok::FileNode& file : group.files) {
            std::printf("    %s\n", shown(file.id).c_str());
        }
    }
    std::printf("\n  Hashed:  %s, %s\n", fileCount(result.hashedFiles).c_str(),
                formatBytes(result.bytesHashed).c_str());
    if (!result.skippedFiles.empty()) {
        std::printf("  Skipped: %s that changed since the scan or could not be read\n",
                    fileCount(static_cast<std::int64_t>(result.skippedFiles.size())).c_str());
        std::vector<std::string> paths;
        for (const varnok::Url& url : result.skippedFiles) {
            paths.push_back(shown(url));
        }
        std::sort(paths.begin(), paths.end());
        for (const std::string& path : paths) {
            std::printf("    %s\n", path.c_str());
        }
    }
    if (result.policyLeftOutFiles > 0) {
        std::printf("  Left out: %s never offered for removal (hidden, project, source,\n"
                    "            credential or database files, bundles, system folders)\n",
                    fileCount(result.policyLeftOutFiles).c_str());
    }
    if (scan.skippedCount > 0) {
        std::printf("  Unreadable during the scan: %s, not searched\n",
                    counted(scan.skippedCount, "entry", "entries").c_str());
    }
    printLeftOut(scan, "  ");
    std::printf("  Scanned in %.2f s, searched in %.2f s\n", scan.duration, result.duration);
}

int runDuplicates(const std::vector<std::string>& raw) {
    Arguments args(withLongOptions(raw), {"json", "one-file-system"}, {"jobs"}, scanRepeatable);
    const varnok::ScanOptions options = scanOptions(args);
    unsigned processors = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    auto jobs = static_cast<unsigned>(args.integer("jobs", processors, 1, 64));
    varnok::Url folder = scannedFolder(args, "give at most one folder to search");
    if (auto reason = unsearchableReason(folder.path())) {
        std::fprintf(stderr, "ombrelo-cli: %s %s.\n", shown(folder).c_str(), reason->c_str());
        return exitFailure;
    }
    if (reportSystemFolder(folder)) {
        return exitFailure;
    }
    // Files are only trusted when no part of their path is a symbolic link, so a folder given
    // through a link is searched at its real location.
    folder = varnok::Platform::current().resolvingSymlinks(folder).withDirectoryForm(true);
    return runCancellable([&]() {
        std::optional<ProgressLine> line{std::in_place};
        varnok::ScanResult scan = varnok::ScanEngine::scan(
            folder,
            [&](const varnok::ScanProgress& progress) {
                line->update(progress.phase + ": " + fileCount(progress.fileCount) + ", " +
                             counted(progress.folderCount, "folder", "folders") + ", " +
                             formatBytes(progress.logicalSize));
            },
            options);
        std::string shownPhase;
        auto onProgress = [&](const varnok::DuplicateProgress& progress) {
            if (progress.phase != shownPhase) {
                // A fresh line draws at once, so a new phase is never hidden by the rate limit.
                line.emplace();
                shownPhase = progress.phase;
            }
            if (progress.total == 0) {
                line->update(progress.phase + ": " + counted(progress.checked, "entry", "entries"));
            } else {
                line->update(progress.phase + ": " + formatCount(progress.checked) + " of " +
                             fileCount(progress.total) + ", " + formatBytes(progress.bytesRead) +
                             " read");
            }
        };
        varnok::DuplicateResult result = varnok::DuplicateEngine::find(scan.root, onProgress, jobs);
        line.reset();
        if (args.has("json")) {
            nlohmann::json document = result;
            document["version"] = jsonVersion;
            std::string text = document.dump();
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            printResult(folder, scan, result);
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{Command{"duplicates",
                                               "Find sets of byte-identical files in a folder",
                                               duplicatesHelp, runDuplicates, 20, "folder"}};

} // namespace
} // namespace ombrelo::cli

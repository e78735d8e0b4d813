#include "cli/Cli.hpp"
#include "cli/FolderScan.hpp"
#include "cli/SavedScans.hpp"

#include "core/kinds/MimeDatabase.hpp"
#include "core/scan/ItemIndex.hpp"
#include "core/scan/ScanHighlights.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

namespace ombrelo::cli {
namespace {

const char* const findHelp =
    "Usage: ombrelo-cli find [DIR] [--kind KIND] [--sort ORDER] [--search TEXT] [--direct]\n"
    "                        [--limit N] [--json] [--disk-usage] [--bytes] [-x]\n"
    "                        [--exclude PATTERN]... [--load FILE]\n"
    "\n"
    "Scans DIR (default: the current folder) read-only and lists the items below it\n"
    "that match, with size, modification date, kind and full path. Then prints the\n"
    "highlights of the whole folder: how many files it holds, and how many of them,\n"
    "and how many bytes, are large files (100 MB or more). Symbolic links are never\n"
    "listed or counted, and a file with several hard links is listed once, at the\n"
    "first of its paths the walk meets. A path holding a control character or bytes\n"
    "that are not UTF-8 is printed quoted as $'...', as ls does. Kinds are named by\n"
    "the shared-mime-info database, from the file's name only (a short built-in\n"
    "list where the database is not installed).\n"
    "\n"
    "Options:\n"
    "  --kind KIND     only Files, Folders, Videos, Archives or Applications\n"
    "                  (Videos and Archives by extension; Applications are folders\n"
    "                  named *.app). Default: every item\n"
    "  --sort ORDER    Largest (default), Oldest, Newest or Type (extension); ties\n"
    "                  are ordered by path\n"
    "  --search TEXT   only items whose full path contains TEXT, ignoring case\n"
    "  --direct        only items directly inside DIR, not deeper\n"
    "  --limit N       list at most N items (default 50; 0 lists every match)\n"
    "  --json          print {\"version\", \"folder\", \"matchCount\", \"items\": [...],\n"
    "                  \"highlights\"} (each item with both sizes, \"kind\", \"kindGroup\",\n"
    "                  \"mimeType\"); \"modified\" is an ISO 8601 local time\n"
    "  --disk-usage    show and rank by bytes on disk, as du counts them (sparse files\n"
    "                  by their blocks, hard links once); the highlights too\n"
    "  --bytes         print sizes as exact byte counts, as du -b does\n"
    "  -x, --one-file-system\n"
    "                  do not enter other file systems mounted below DIR\n"
    "  --exclude PATTERN\n"
    "                  leave out entries matching a shell glob (repeatable): a pattern\n"
    "                  with a '/' matches the path below DIR, one without matches the\n"
    "                  name of any entry\n"
    "  --load FILE     search a scan saved by 'scan --save', ncdu -o or gdu -o\n"
    "                  instead of scanning a folder; - reads it from standard input\n"
    "  --help          show this help\n"
    "\n"
    "Kind and order names may be given in any case. Sizes are in decimal units\n"
    "unless --bytes is given.\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops.\n"
    "Exit status: 0 listed (also when nothing matches), 1 the folder cannot be\n"
    "scanned or is a system folder (/usr, /etc, /var, /opt, ...), 2 usage error,\n"
    "130 interrupted.\n";

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The case whose text value matches `text`, exactly or ignoring ASCII case.
template <typename Enum, size_t N>
Enum parseChoice(const std::string& option, const std::string& text,
                 const std::array<Enum, N>& cases) {
    for (Enum value : cases) {
        if (lowerAscii(std::string(varnok::textValue(value))) == lowerAscii(text)) {
            return value;
        }
    }
    std::string names;
    for (Enum value : cases) {
        names += (names.empty() ? "" : ", ") + std::string(varnok::textValue(value));
    }
    throw UsageError("option '--" + option + "' takes one of " + names + ", not '" + text + "'");
}

std::string displayPath(const varnok::FileNode& node) {
    std::string path = pastablePath(node.id.path());
    return node.isDirectory ? path + "/" : path;
}

varnok::FileKindName kindOf(const varnok::FileNode& node) {
    const varnok::MimeDatabase& database = varnok::MimeDatabase::shared();
    return node.isDirectory ? database.kindOfFolder() : database.kindOfFile(node.name());
}

nlohmann::json itemJson(const varnok::FileNode& node) {
    varnok::FileKindName kind = kindOf(node);
    nlohmann::json item = {
        {"id", varnok::PathText::displayable(node.id.absoluteString())},
        {"path", varnok::PathText::displayable(node.id.path())},
        {"name", varnok::PathText::displayable(node.name())},
        {"isDirectory", node.isDirectory},
        {"logicalSize", node.logicalSize},
        {"allocatedSize", node.allocatedSize},
        {"kind", std::move(kind.description)},
        {"kindGroup", std::move(kind.group)},
        {"mimeType", std::move(kind.mimeType)},
    };
    if (node.identity) {
        item["modified"] = isoTimeOfUnixSeconds(node.identity->modifiedSeconds);
    } else {
        item["modified"] = nullptr;
    }
    if (node.isDirectory) {
        item["fileCount"] = node.fileCount;
    }
    return item;
}

void printHighlights(const varnok::ScanHighlights& highlights, bool diskUsage, bool exact) {
    std::printf("Highlights: %s; %s (100 MB or more%s) holding %s%s\n",
                counted(highlights.fileCount, "file", "files").c_str(),
                counted(highlights.largeFileCount, "large file", "large files").c_str(),
                diskUsage ? " on disk" : "", formatSize(highlights.largeFileBytes, exact).c_str(),
                exact ? " bytes" : "");
}

int runFind(const std::vector<std::string>& raw) {
    std::vector<std::string> flags = scanFlags;
    flags.insert(flags.end(), {"direct", "json"});
    Arguments args(withLongOptions(raw), flags, {"kind", "sort", "search", "limit", "load"},
                   scanRepeatable);
    const varnok::ScanOptions options = scanOptions(args);
    const bool diskUsage = args.has("disk-usage");
    const bool exact = args.has("bytes");
    std::optional<varnok::ItemKind> kind;
    if (auto text = args.value("kind")) {
        kind = parseChoice("kind", *text, varnok::allItemKinds);
    }
    varnok::ItemSort sort = varnok::ItemSort::largest;
    if (auto text = args.value("sort")) {
        sort = parseChoice("sort", *text, varnok::allItemSorts);
    }
    const std::string search = args.value("search").value_or("");
    const auto scope =
        args.has("direct") ? varnok::ItemScope::directChildren : varnok::ItemScope::descendants;
    const std::int64_t limit =
        args.integer("limit", 50, 0, std::numeric_limits<std::int64_t>::max());
    const std::optional<std::string> load = loadArgument(args);
    varnok::Url folder;
    if (!load) {
        folder = scannedFolder(args, "give at most one folder to search");
        if (reportUnusableFolder(folder.path()) || reportSystemFolder(folder)) {
            return exitFailure;
        }
    }
    return runCancellable([&]() {
        varnok::SavedScan source = scanOrLoad(load, folder, options);
        varnok::ScanResult& result = source.result;
        folder = result.root.id;
        auto matches = varnok::ItemIndex::find(result.root, kind, sort, search, scope);
        if (diskUsage && sort == varnok::ItemSort::largest) {
            sortByDiskUsage(matches);
        }
        auto highlights = diskUsage ? varnok::ScanHighlights::summarizeOnDisk(result.root)
                                    : varnok::ScanHighlights::summarize(result.root);
        size_t shown =
            limit == 0 ? matches.size() : std::min(matches.size(), static_cast<size_t>(limit));
        if (args.has("json")) {
            nlohmann::json items = nlohmann::json::array();
            for (size_t i = 0; i < shown; ++i) {
                items.push_back(itemJson(*matches[i]));
            }
            nlohmann::json document = {
                {"version", jsonVersion},
                {"folder", varnok::PathText::displayable(folder.path())},
                {"matchCount", matches.size()},
                {"items", std::move(items)},
                {"highlights",
                 {{"fileCount", highlights.fileCount},
                  {"largeFileCount", highlights.largeFileCount},
                  {"largeFileBytes", highlights.largeFileBytes},
                  {"largeFileThreshold", varnok::ScanHighlights::largeFileThreshold}}},
                {"unreadableCount", result.skippedCount},
            };
            if (load) {
                document["savedScan"] = savedScanJson(*load, source);
            }
            if (options.oneFileSystem) {
                document["otherFileSystems"] = nlohmann::json::array();
                for (const auto& path : result.otherFileSystems) {
                    document["otherFileSystems"].push_back(varnok::PathText::displayable(path));
                }
            }
            if (!options.excludes.empty()) {
                document["excludedCount"] = result.excludedCount;
            }
            std::printf("%s\n", document.dump(2).c_str());
        } else {
            std::printf("%s\n", pastablePath(folder.path()).c_str());
            if (load) {
                const std::string taken = takenText(source);
                std::printf("Saved scan: %s\n",
                            taken.empty() ? "date not recorded" : taken.c_str());
            }
            if (matches.empty()) {
                std::printf("No items match.\n");
            } else {
                std::printf("%s %s", formatCount(static_cast<std::int64_t>(matches.size())).c_str(),
                            matches.size() == 1 ? "item matches" : "items match");
                if (shown < matches.size()) {
                    std::printf(" (the first %s shown; --limit 0 lists all)",
                                formatCount(static_cast<std::int64_t>(shown)).c_str());
                }
                std::vector<std::string> kinds;
                int kindWidth = 4;
                for (size_t i = 0; i < shown; ++i) {
                    kinds.push_back(kindOf(*matches[i]).description);
                    kindWidth = std::max(kindWidth, static_cast<int>(kinds.back().size()));
                }
                const int sizeWidth = exact ? 15 : 10;
                std::printf(":\n\n  %*s  %-16s  %-*s  %s\n", sizeWidth,
                            diskUsage ? "ON DISK" : "SIZE", "MODIFIED", kindWidth, "KIND", "PATH");
                for (size_t i = 0; i < shown; ++i) {
                    const varnok::FileNode& node = *matches[i];
                    std::string date =
                        node.identity ? localDateText(node.identity->modifiedSeconds) : "";
                    std::printf("  %*s  %-16s  %-*s  %s\n", sizeWidth,
                                formatSize(diskUsage ? node.allocatedSize : node.logicalSize, exact)
                                    .c_str(),
                                date.c_str(), kindWidth, kinds[i].c_str(),
                                displayPath(node).c_str());
                }
                std::printf("\n");
            }
            printHighlights(highlights, diskUsage, exact);
            if (result.skippedCount > 0) {
                std::printf("%s could not be read and %s not included.\n",
                            counted(result.skippedCount, "entry", "entries").c_str(),
                            result.skippedCount == 1 ? "is" : "are");
            }
            printLeftOut(result, "");
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{
    Command{"find", "List the items of a folder by kind, size or date, with a search", findHelp,
            runFind, 20, "folder"}};

} // namespace
} // namespace ombrelo::cli

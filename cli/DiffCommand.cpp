#include "cli/Cli.hpp"
#include "cli/FolderScan.hpp"
#include "cli/SavedScans.hpp"

#include "core/snapshot/ScanDiff.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace ombrelo::cli {
namespace {

const char* const diffHelp =
    "Usage: ombrelo-cli diff OLD NEW [--json] [--min SIZE] [--depth N] [--limit N]\n"
    "                        [-x] [--exclude PATTERN]...\n"
    "\n"
    "Compares two scans of a folder and lists what appeared, disappeared, grew and\n"
    "shrank, largest change on disk first. OLD and NEW are each a folder, which is\n"
    "scanned now, or a scan saved by 'scan --save', ncdu -o or gdu -o (- reads one\n"
    "from standard input). Folders show their total change and the change of the\n"
    "files directly inside them. Items are matched by their path below the compared\n"
    "folders, so a renamed or moved item shows as one gone and one new; what a new\n"
    "or gone folder holds is not listed again. Sizes are bytes on disk, with each\n"
    "hard-linked file counted once.\n"
    "\n"
    "Options:\n"
    "  --json          print {\"version\", \"old\", \"new\", \"oldTotal\", \"newTotal\",\n"
    "                  \"change\", \"changeCount\", \"changes\": [...]}; each change has\n"
    "                  path, status (new, gone, grew, shrank), isDirectory, oldSize,\n"
    "                  newSize, change and ownChange\n"
    "  --min SIZE      leave out changes smaller than SIZE either way: bytes, or a\n"
    "                  number with kB, MB, GB, TB (1000s) or K, M, G, T, KiB, MiB,\n"
    "                  GiB, TiB (1024s), as in 10M or 1.5GB\n"
    "  --depth N       list items at most N levels below the compared folders\n"
    "                  (default: any depth)\n"
    "  --limit N       list at most N changes (default 50, or all with --json;\n"
    "                  0 lists all)\n"
    "  -x, --one-file-system\n"
    "                  when scanning a folder, do not enter other file systems\n"
    "  --exclude PATTERN\n"
    "                  when scanning a folder, leave out entries matching a shell\n"
    "                  glob (repeatable)\n"
    "  --help          show this help\n"
    "\n"
    "Sizes are in decimal units. Progress goes to stderr when it is a terminal.\n"
    "Ctrl-C stops.\n"
    "Exit status: 0 compared (also when nothing changed), 1 a folder cannot be\n"
    "scanned or a file cannot be read, 2 usage error, 130 interrupted.\n";

std::int64_t parseSize(const std::string& text) {
    const auto refuse = [&]() -> std::int64_t {
        throw UsageError("--min " + text + ": give a size such as 4096, 10M or 1.5GB");
    };
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return refuse();
    }
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str()) {
        return refuse();
    }
    std::string unit(end);
    for (char& c : unit) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    static const std::pair<const char*, double> units[] = {{"", 1},
                                                           {"b", 1},
                                                           {"kb", 1e3},
                                                           {"mb", 1e6},
                                                           {"gb", 1e9},
                                                           {"tb", 1e12},
                                                           {"k", 1024.0},
                                                           {"m", 1048576.0},
                                                           {"g", 1073741824.0},
                                                           {"t", 1099511627776.0},
                                                           {"kib", 1024.0},
                                                           {"mib", 1048576.0},
                                                           {"gib", 1073741824.0},
                                                           {"tib", 1099511627776.0}};
    for (const auto& [name, factor] : units) {
        if (unit == name) {
            const double bytes = std::ceil(number * factor);
            if (!(bytes >= 0) || bytes > 9.0e18) {
                return refuse();
            }
            return static_cast<std::int64_t>(bytes);
        }
    }
    return refuse();
}

// One side of the comparison.
struct Side {
    std::string operand;
    bool isFolder = false;
    varnok::Url folder;
    varnok::SavedScan scan;
};

std::string signedBytes(std::int64_t change) {
    if (change == 0) {
        return "0 bytes";
    }
    return (change > 0 ? "+" : "-") + formatBytes(change > 0 ? change : -change);
}

nlohmann::json sideJson(const Side& side) {
    return {{"path", varnok::PathText::displayable(side.scan.result.root.id.path())},
            {"source", side.isFolder ? "scanned" : "saved"},
            {"file", side.isFolder ? nlohmann::json(nullptr)
                                   : nlohmann::json(varnok::PathText::displayable(side.operand))},
            {"takenAt", side.scan.takenAt > 0 ? nlohmann::json(isoDateText(side.scan.takenAt))
                                              : nlohmann::json(nullptr)},
            {"writer", side.isFolder ? nlohmann::json(nullptr) : nlohmann::json(side.scan.writer)}};
}

void printSide(const char* label, const Side& side) {
    std::printf("%s %s", label, pastablePath(side.scan.result.root.id.path()).c_str());
    if (side.isFolder) {
        std::printf(" (scanned now)\n");
        return;
    }
    const std::string taken = takenText(side.scan);
    std::printf(" (saved in %s%s%s)\n", pastablePath(side.operand).c_str(),
                taken.empty() ? "" : ", ", taken.c_str());
}

int runDiff(const std::vector<std::string>& raw) {
    std::vector<std::string> flags = {"one-file-system", "json"};
    Arguments args(withLongOptions(raw), flags, {"min", "depth", "limit"}, scanRepeatable);
    const varnok::ScanOptions options = scanOptions(args);
    if (args.operands().size() != 2) {
        throw UsageError("give two scans to compare: OLD and NEW, each a folder or a saved scan");
    }
    varnok::DiffOptions diffOptions;
    if (auto text = args.value("min")) {
        diffOptions.minimumChange = parseSize(*text);
    }
    diffOptions.maximumDepth =
        static_cast<int>(args.integer("depth", 0, 1, std::numeric_limits<int>::max()));
    const bool json = args.has("json");
    const std::int64_t limit =
        args.integer("limit", json ? 0 : 50, 0, std::numeric_limits<std::int64_t>::max());

    Side sides[2];
    for (int i = 0; i < 2; ++i) {
        Side& side = sides[i];
        side.operand = args.operands()[static_cast<size_t>(i)];
        struct stat record {};
        if (::stat(side.operand.c_str(), &record) == 0 && S_ISDIR(record.st_mode)) {
            side.isFolder = true;
            side.folder = folderArgument(side.operand);
            if (reportUnusableFolder(side.folder.path())) {
                return exitFailure;
            }
        }
    }
    return runCancellable([&]() {
        for (Side& side : sides) {
            if (side.isFolder) {
                side.scan.takenAt = static_cast<std::int64_t>(std::time(nullptr));
                side.scan.result = scanWithProgress(side.folder, options);
            } else {
                side.scan = loadWithProgress(side.operand == "-" ? "/dev/stdin" : side.operand);
            }
        }
        const varnok::ScanDiff diff = varnok::ScanDiff::compare(
            sides[0].scan.result.root, sides[1].scan.result.root, diffOptions);
        const size_t shown = limit == 0 ? diff.changes.size()
                                        : std::min(diff.changes.size(), static_cast<size_t>(limit));
        if (json) {
            nlohmann::json changes = nlohmann::json::array();
            for (size_t i = 0; i < shown; ++i) {
                const varnok::ScanChange& change = diff.changes[i];
                changes.push_back({{"path", varnok::PathText::displayable(change.path)},
                                   {"status", varnok::textValue(change.kind)},
                                   {"isDirectory", change.isDirectory},
                                   {"oldSize", change.oldSize},
                                   {"newSize", change.newSize},
                                   {"change", change.change()},
                                   {"ownChange", change.ownChange}});
            }
            nlohmann::json document = {{"version", jsonVersion},
                                       {"old", sideJson(sides[0])},
                                       {"new", sideJson(sides[1])},
                                       {"oldTotal", diff.oldTotal},
                                       {"newTotal", diff.newTotal},
                                       {"change", diff.newTotal - diff.oldTotal},
                                       {"changeCount", diff.changes.size()},
                                       {"changes", std::move(changes)}};
            std::printf(
                "%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        } else {
            printSide("Old:", sides[0]);
            printSide("New:", sides[1]);
            std::printf("On disk: %s -> %s (%s)\n", formatBytes(diff.oldTotal).c_str(),
                        formatBytes(diff.newTotal).c_str(),
                        signedBytes(diff.newTotal - diff.oldTotal).c_str());
            if (diff.changes.empty()) {
                std::printf("No changes%s.\n",
                            diffOptions.minimumChange > 0 ? " of that size" : "");
            } else {
                std::printf("%s", counted(static_cast<std::int64_t>(diff.changes.size()), "change",
                                          "changes")
                                      .c_str());
                if (shown < diff.changes.size()) {
                    std::printf(", the %zu largest listed (--limit 0 lists all)", shown);
                }
                std::printf(":\n");
            }
            for (size_t i = 0; i < shown; ++i) {
                const varnok::ScanChange& change = diff.changes[i];
                std::printf("  %12s  %-6s  %s%s", signedBytes(change.change()).c_str(),
                            varnok::textValue(change.kind), pastablePath(change.path).c_str(),
                            change.isDirectory ? "/" : "");
                const bool inBoth = change.kind == varnok::ScanChange::Kind::grew ||
                                    change.kind == varnok::ScanChange::Kind::shrank;
                if (change.isDirectory && inBoth && change.ownChange != change.change()) {
                    std::printf("  (%s in its own files)", signedBytes(change.ownChange).c_str());
                }
                std::printf("\n");
            }
        }
        for (Side& side : sides) {
            keepUntilExit(std::move(side.scan.result));
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{
    Command{"diff", "Compare two scans: what appeared, disappeared, grew and shrank", diffHelp,
            runDiff, 95, "path"}};

} // namespace
} // namespace ombrelo::cli

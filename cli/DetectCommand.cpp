#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"
#include "cli/FolderScan.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/scan/ScanEngine.hpp"
#include "platform/Platform.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace ombrelo::cli {
namespace {

const char* const detectHelp =
    "Usage: ombrelo-cli detect [--home DIR] [--json [--tree]] DIR\n"
    "\n"
    "Scans DIR read-only and lists the developer output in it that can be\n"
    "recreated, each on evidence beside or inside it: node_modules beside a\n"
    "package.json and a lockfile; Next.js, Nuxt, Vite, Parcel and Angular output\n"
    "beside their configuration; Rust target/ beside Cargo.toml, Maven target/\n"
    "beside pom.xml, Gradle build/ and .gradle/ beside build.gradle[.kts]; CMake\n"
    "build folders (CMakeCache.txt inside); Python virtual environments (.venv or\n"
    "venv with pyvenv.cfg), __pycache__, .tox, .mypy_cache, .pytest_cache and\n"
    ".ruff_cache; any folder tagged with a CACHEDIR.TAG; and the home folder's own\n"
    "Xcode DerivedData. Folders holding version control, credentials or .env files\n"
    "are never suggested, and nothing inside .git, Trash folders, node_modules,\n"
    "Pods, virtual environments, site-packages or application bundles is searched.\n"
    "Symbolic links in the path of DIR are resolved first, so results name the real\n"
    "location.\n"
    "\n"
    "Options:\n"
    "  --home DIR  the home folder whose Library/Developer/Xcode/DerivedData counts\n"
    "              (default: your home folder)\n"
    "  --json      print the result as JSON: version, candidates (each with path,\n"
    "              title, category, sizes, evidence and projectPath), unreadable and\n"
    "              leftOutByPolicy (the files never offered that were left out)\n"
    "  --tree      with --json, give each candidate its whole scanned file tree too\n"
    "  --help      show this help\n"
    "\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops the scan.\n"
    "A system folder (/usr, /etc, /var, /opt, ...) is refused.\n"
    "Exit status: 0 scanned, 1 the folder cannot be scanned or is a system folder,\n"
    "2 usage error, 130 interrupted.\n";

int runDetect(const std::vector<std::string>& raw) {
    Arguments args(raw, {"json", "tree"}, {"home"});
    if (args.has("tree") && !args.has("json")) {
        throw UsageError("--tree goes with --json");
    }
    if (args.operands().size() != 1) {
        throw UsageError(args.operands().empty() ? "missing folder to look in"
                                                 : "give exactly one folder to look in");
    }
    // Judged where it really lies: the file policy reads paths as text, so a link into a system
    // folder must not make that folder look like an ordinary one.
    varnok::Url folder = varnok::Platform::current().resolvingSymlinks(
        folderArgument(args.operands()[0], "the folder"));
    // The home is resolved the same way, so that its DerivedData folder is recognised in the
    // tree, which holds real paths.
    varnok::Url home = varnok::Platform::current().resolvingSymlinks(
        args.value("home") ? folderArgument(*args.value("home"), "the home folder")
                           : varnok::Platform::current().homeDirectory());
    if (reportUnusableFolder(folder.path()) || reportSystemFolder(folder)) {
        return exitFailure;
    }
    return runCancellable([&]() {
        varnok::ScanResult scanned;
        std::vector<varnok::CleanupCandidate> found;
        std::int64_t leftOut = 0;
        {
            ProgressLine line;
            scanned = scanWithProgress(folder);
            line.update("Looking for recreatable developer output");
            found = varnok::CleanupAnalysis::detect(scanned.root, home, leftOut);
        }
        if (args.has("json")) {
            nlohmann::json json = nlohmann::json::object();
            json["version"] = jsonVersion;
            json["candidates"] = nlohmann::json::array();
            for (const auto& candidate : found) {
                json["candidates"].push_back(
                    candidateJson(candidate, candidate.node.name(), {}, args.has("tree")));
            }
            nlohmann::json unreadable = nlohmann::json::array();
            for (const auto& path : scanned.inaccessiblePaths) {
                unreadable.push_back(varnok::PathText::displayable(path));
            }
            json["unreadable"] = unreadable;
            json["leftOutByPolicy"] = leftOut;
            std::string text = indentedJson(json);
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            std::printf("Developer output in %s\n", pastablePath(folder.path()).c_str());
            if (found.empty()) {
                std::printf("\nNothing recreatable was found.\n");
            } else {
                std::int64_t total = 0;
                for (const auto& candidate : found) {
                    total += candidate.node.logicalSize;
                }
                printCandidateGroups(found,
                                     [](const varnok::CleanupCandidate& candidate) {
                                         return pastablePath(candidate.node.name()) + "  in " +
                                                pastablePath(candidate.projectPath);
                                     },
                                     {});
                std::printf("\n%zu %s, %s in all\n", found.size(),
                            found.size() == 1 ? "suggestion" : "suggestions",
                            formatBytes(total).c_str());
            }
            if (scanned.skippedCount > 0) {
                std::printf("\n%s entries could not be read; nothing below them was judged.\n",
                            formatCount(scanned.skippedCount).c_str());
            }
            if (leftOut > 0) {
                std::printf("\n%s left out: inside protected or system folders, or beside "
                            "private data.\n",
                            counted(leftOut, "file", "files").c_str());
            }
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{
    Command{"detect", "Find recreatable developer output (dependencies, builds) in a folder",
            detectHelp, runDetect, 30, "folder"}};

} // namespace
} // namespace ombrelo::cli

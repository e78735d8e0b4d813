#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"
#include "cli/TrashOutput.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/CleanupQueue.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "platform/RunningApplications.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace ombrelo::cli {
namespace {

const char* const cleanHelp =
    "Usage: ombrelo-cli clean [--source known|projects|duplicates] [--home DIR]\n"
    "                         [--in DIR] [--keep PATH]... [--yes] (--all | PATH...)\n"
    "\n"
    "Moves cleanup suggestions to the Trash. Nothing is ever deleted: items are renamed\n"
    "into the Trash of their own file system (never copied), and every run is recorded\n"
    "in the cleanup history, from which items can be put back.\n"
    "\n"
    "The suggestions are found afresh first:\n"
    "  known       caches of known applications and old logs in the home folder (the\n"
    "              default; see cleanup-scan)\n"
    "  projects    dependency folders and generated build output under --in DIR (see\n"
    "              detect)\n"
    "  duplicates  extra copies of byte-identical files under --in DIR (see duplicates);\n"
    "              the first copy of each set by path is kept, unless --keep names\n"
    "              another copy of that set\n"
    "\n"
    "The named PATHs, or with --all every suggestion whose applications are not\n"
    "running, are checked again, shown with their sizes and what cleaning them means,\n"
    "and moved after you confirm. Each item is checked once more right before it\n"
    "moves; the first item that changed, or any other problem, stops the run and the\n"
    "items after it stay where they are.\n"
    "\n"
    "Options:\n"
    "  --source S  where the suggestions come from: known, projects or duplicates\n"
    "  --home DIR  the home folder (default: your home folder)\n"
    "  --in DIR    the folder to look in, for projects and duplicates\n"
    "  --keep PATH the copy to keep of its set of duplicates (repeatable)\n"
    "  --all       clean every suggestion whose applications are not running\n"
    "  --yes       do not ask for confirmation\n"
    "  --help      show this help\n"
    "\n"
    "Without --yes the plan is confirmed on the terminal; with no terminal, nothing is\n"
    "moved unless --yes is given. The report is saved in\n"
    "$XDG_DATA_HOME/Varnok/cleanup-history (see history).\n"
    "Exit status: 0 every item was moved, 1 nothing was moved (refused, declined or\n"
    "not found), 2 usage error, 4 the run stopped early (see the report), 130\n"
    "interrupted.\n";

// An absolute, standardised path for a path from the command line.
std::string absolutePath(const std::string& operand) {
    if (operand.empty()) {
        throw UsageError("a path must not be empty");
    }
    return folderArgument(operand, "a path").path();
}

struct Found {
    std::vector<varnok::CleanupCandidate> candidates;
    varnok::Url scanRoot;
};

Found findKnown(const varnok::Url& home) {
    ProgressLine line;
    auto result =
        varnok::ConsumerCleanup::scan(home, [&](const std::string& title, std::int64_t files) {
            line.update(formatCount(files) + " files checked  " + title);
        });
    return Found{std::move(result.candidates), home};
}

varnok::ScanResult scanFolder(const varnok::Url& folder) {
    ProgressLine line;
    return varnok::ScanEngine::scan(folder, [&](const varnok::ScanProgress& progress) {
        line.update(progress.phase + ": " + formatCount(progress.fileCount) + " files, " +
                    formatBytes(progress.logicalSize));
    });
}

Found findDuplicates(const varnok::Url& folder, const std::vector<std::string>& keep) {
    varnok::ScanResult scan = scanFolder(folder);
    varnok::DuplicateResult result;
    {
        ProgressLine line;
        result = varnok::DuplicateEngine::find(
            scan.root,
            [&](const varnok::DuplicateProgress& progress) {
                line.update(progress.phase + ": " + formatCount(progress.checked) + " files");
            },
            varnok::DuplicateEngine::hash);
    }
    std::map<std::string, bool> keepUsed;
    for (const auto& path : keep) {
        keepUsed[path] = false;
    }
    Found found{{}, folder};
    for (const varnok::DuplicateGroup& group : result.groups) {
        size_t kept = 0;
        size_t named = 0;
        for (size_t i = 0; i < group.files.size(); ++i) {
            auto it = keepUsed.find(group.files[i].id.path());
            if (it != keepUsed.end()) {
                it->second = true;
                kept = i;
                ++named;
            }
        }
        if (named > 1) {
            throw UsageError("--keep names more than one copy of the set of " +
                             varnok::PathText::displayable(group.files.front().id.path()));
        }
        const varnok::FileNode& keeper = group.files[kept];
        for (size_t i = 0; i < group.files.size(); ++i) {
            if (i == kept) {
                continue;
            }
            const varnok::FileNode& copy = group.files[i];
            found.candidates.emplace_back(
                copy, varnok::CleanupCategory::duplicates,
                copy.id.deletingLastPathComponent().path(),
                "Identical to " + varnok::PathText::displayable(keeper.id.path()), false, keeper);
        }
    }
    for (const auto& [path, used] : keepUsed) {
        if (!used) {
            throw UsageError("--keep " + varnok::PathText::displayable(path) +
                             " is not a copy in any set of duplicates");
        }
    }
    return found;
}

void printPlan(const varnok::CleanupPlan& plan, const varnok::Url& home) {
    using varnok::PathText::displayable;
    std::printf("Cleanup plan: %zu %s, %s\n", plan.items.size(),
                plan.items.size() == 1 ? "item" : "items", formatBytes(plan.totalSize()).c_str());
    for (const auto& item : plan.items) {
        std::printf("\n  %10s  %s (%s)\n", formatBytes(item.node.logicalSize).c_str(),
                    displayable(varnok::ConsumerCleanup::title(item.id(), home)).c_str(),
                    std::string(item.category.rawValue()).c_str());
        std::printf("              %s\n", displayable(item.node.id.path()).c_str());
        if (item.keeper) {
            std::printf("              Keeps: %s\n", displayable(item.keeper->id.path()).c_str());
        }
        std::printf("              %s\n", std::string(item.category.explanation()).c_str());
    }
    std::printf("\n");
}

// Asks on the terminal. False when declined or when there is no terminal to ask on.
bool confirmed(const varnok::CleanupPlan& plan) {
    if (::isatty(STDIN_FILENO) == 0) {
        std::fprintf(stderr, "ombrelo-cli: nothing was moved: confirmation needs a terminal; "
                             "use --yes to move without asking.\n");
        return false;
    }
    std::fprintf(stderr, "Move %zu %s (%s) to the Trash? [y/N] ", plan.items.size(),
                 plan.items.size() == 1 ? "item" : "items", formatBytes(plan.totalSize()).c_str());
    std::fflush(stderr);
    char answer[64];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
        std::fprintf(stderr, "\n");
        return false;
    }
    std::string text(answer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text == "y" || text == "Y" || text == "yes" || text == "Yes" || text == "YES") {
        return true;
    }
    std::fprintf(stderr, "Nothing was moved.\n");
    return false;
}

int runClean(const std::vector<std::string>& raw) {
    Arguments args(raw, {"all", "yes"}, {"source", "home", "in"}, {"keep"});
    const std::string source = args.value("source").value_or("known");
    if (source != "known" && source != "projects" && source != "duplicates") {
        throw UsageError("--source must be known, projects or duplicates");
    }
    if (args.has("all") == !args.operands().empty()) {
        throw UsageError(args.has("all") ? "give either --all or PATHs, not both"
                                         : "name the items to clean, or use --all");
    }
    if (source == "known" && args.has("in")) {
        throw UsageError("--in is for --source projects or duplicates; known locations are "
                         "looked for in the home folder (--home)");
    }
    if (source != "known" && !args.has("in")) {
        throw UsageError("--source " + source + " needs --in DIR");
    }
    if (!args.values("keep").empty() && source != "duplicates") {
        throw UsageError("--keep is only for --source duplicates");
    }
    varnok::Platform& platform = varnok::Platform::current();
    varnok::Url home = args.value("home") ? folderArgument(*args.value("home"), "the home folder")
                                          : platform.homeDirectory();
    if (reportUnusableFolder(home.path())) {
        return exitFailure;
    }
    varnok::Url folder;
    if (source != "known") {
        folder = folderArgument(*args.value("in"), "the folder");
        if (reportUnusableFolder(folder.path())) {
            return exitFailure;
        }
        // Items are trusted only on paths without links, so the folder's real place is used.
        folder = platform.resolvingSymlinks(folder).withDirectoryForm(true);
    }
    std::vector<std::string> named;
    for (const auto& operand : args.operands()) {
        named.push_back(absolutePath(operand));
    }
    std::vector<std::string> keep;
    for (const auto& path : args.values("keep")) {
        keep.push_back(absolutePath(path));
    }

    return runCancellable([&]() {
        Found found;
        if (source == "known") {
            found = findKnown(home);
        } else if (source == "projects") {
            varnok::ScanResult scan = scanFolder(folder);
            found = Found{varnok::CleanupAnalysis::detect(scan.root, home), folder};
        } else {
            found = findDuplicates(folder, keep);
        }

        // --all goes through the queue, which drops items inside others; named items go to the
        // review as given, so that a mistaken overlap is refused rather than silently dropped.
        std::vector<varnok::CleanupCandidate> items;
        if (args.has("all")) {
            varnok::CleanupQueue queue;
            const auto running = varnok::RunningApplications::current();
            for (const auto& candidate : found.candidates) {
                if (varnok::ConsumerCleanup::runningApps(candidate, home, running).empty()) {
                    queue.add(candidate);
                }
            }
            items = queue.items();
            if (items.empty()) {
                std::printf("No cleanup suggestions to move.\n");
                return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
            }
        } else {
            for (const auto& path : named) {
                auto match = std::find_if(
                    found.candidates.begin(), found.candidates.end(),
                    [&](const varnok::CleanupCandidate& candidate) {
                        return varnok::PathText::equal(
                            varnok::PathText::standardize(candidate.node.id.path()), path);
                    });
                if (match == found.candidates.end()) {
                    std::fprintf(stderr,
                                 "ombrelo-cli: %s is not a cleanup suggestion here; nothing was "
                                 "moved.\n",
                                 varnok::PathText::displayable(path).c_str());
                    return static_cast<int>(exitFailure);
                }
                items.push_back(*match);
            }
        }
        varnok::CleanupPlan plan = varnok::TrashService::prepare(items, found.scanRoot);
        printPlan(plan, home);
        if (!finishOutput()) {
            return static_cast<int>(exitFailure);
        }
        if (!args.has("yes") && !confirmed(plan)) {
            return static_cast<int>(exitFailure);
        }

        const varnok::Url history = varnok::TrashService::defaultHistoryFolder();
        varnok::TrashReport report = varnok::TrashService::execute(plan, history);
        const bool complete =
            report.movedCount() == static_cast<std::int64_t>(report.outcomes.size());
        std::printf("%s %lld of %zu %s to the Trash:\n",
                    complete ? "Moved" : "Stopped early; moved",
                    static_cast<long long>(report.movedCount()), report.outcomes.size(),
                    report.outcomes.size() == 1 ? "item" : "items");
        printOutcomes(report, home);
        std::printf("\nReport %s saved in %s\n", report.id.uuidString().c_str(),
                    varnok::PathText::displayable(history.path()).c_str());
        if (!finishOutput()) {
            return static_cast<int>(exitStoppedEarly);
        }
        return static_cast<int>(complete ? exitSuccess : exitStoppedEarly);
    });
}

const CommandRegistration registration{Command{
    "clean", "Move cleanup suggestions to the Trash, with a history", cleanHelp, runClean, 40}};

} // namespace
} // namespace ombrelo::cli

#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"
#include "cli/TrashOutput.hpp"

#include "core/cleanup/CleanupAnalysis.hpp"
#include "core/cleanup/CleanupQueue.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/Task.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/duplicates/KeepRule.hpp"
#include "core/scan/ScanEngine.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"
#include "platform/RunningApplications.hpp"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <unistd.h>

namespace ombrelo::cli {
namespace {

const char* const cleanHelp =
    "Usage: ombrelo-cli clean [--source known|projects|duplicates] [--home DIR]\n"
    "                         [--in DIR] [--keep PATH]... [--keep-rule RULE]... [--yes]\n"
    "                         (--all | PATH...)\n"
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
    "              one copy of each set is kept: the one the --keep-rule rules choose,\n"
    "              unless --keep names another copy of that set. Without first, oldest,\n"
    "              newest or shortest-path, the original is kept: a name without a copy\n"
    "              marker (\" (1)\", \" copy\", \"Copy of \", \"~\", \".bak\"...), then the\n"
    "              oldest, then the shortest path, then the first by path\n"
    "\n"
    "The named PATHs, or with --all every suggestion whose applications are not\n"
    "running, are checked again, shown with their sizes and what cleaning them means,\n"
    "and moved after you confirm. The plan gives each category's explanation once,\n"
    "then its items; for duplicates, the copy each set keeps. With --all, the\n"
    "suggestions left out because their application is running are listed, and so\n"
    "are those that are only cleaned when named (folders of the cache folder that no\n"
    "known application claims, Maven's repository). Items\n"
    "are moved after you confirm. Each item is checked once more right before it\n"
    "moves; the first item that changed, or any other problem, stops the run and the\n"
    "items after it stay where they are.\n"
    "\n"
    "Options:\n"
    "  --source S  where the suggestions come from: known, projects or duplicates\n"
    "  --home DIR  the home folder (default: your home folder)\n"
    "  --in DIR    the folder to look in, for projects and duplicates (default: the\n"
    "              current folder)\n"
    "  --keep PATH the copy to keep of its set of duplicates (repeatable)\n"
    "  --keep-rule RULE\n"
    "              how to choose the copy to keep of each set of duplicates: first (by\n"
    "              path), oldest or newest (by modification time), shortest-path, or\n"
    "              in:DIR (a copy inside DIR). in:DIR may be repeated and combined with\n"
    "              one of the others; rules apply in the order given, each choosing\n"
    "              among the copies the rules before it left, and a rule that fits no\n"
    "              copy of a set is passed over for that set\n"
    "  --all       clean every suggestion whose applications are not running, except\n"
    "              those to be named one by one\n"
    "  --yes       do not ask for confirmation\n"
    "  --help      show this help\n"
    "\n"
    "Without --yes the plan is confirmed on the terminal; with no terminal, nothing is\n"
    "moved unless --yes is given. The report is saved in\n"
    "$XDG_DATA_HOME/Varnok/cleanup-history (see history). Moved items still take\n"
    "space until the Trash is emptied; the run ends with how much Ombrelo's cleanups\n"
    "hold there. Ombrelo never empties the Trash.\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops after the item being\n"
    "moved; the report records where every item is.\n"
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

// A keep rule that fits nothing: refused, as the user meant something else.
class KeepRuleRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct KeepRule {
    enum class Kind { first, oldest, newest, shortestPath, inside };
    Kind kind = Kind::first;
    std::string folder; // for `inside`, resolved
};

std::vector<KeepRule> parseKeepRules(const std::vector<std::string>& texts) {
    std::vector<KeepRule> rules;
    bool ordered = false;
    for (const std::string& text : texts) {
        KeepRule rule;
        if (text.rfind("in:", 0) == 0) {
            if (text.size() == 3) {
                throw UsageError("--keep-rule in: needs a folder, as in in:~/Pictures");
            }
            rule.kind = KeepRule::Kind::inside;
            rule.folder = text.substr(3);
            rules.push_back(rule);
            continue;
        }
        if (text == "first") {
            rule.kind = KeepRule::Kind::first;
        } else if (text == "oldest") {
            rule.kind = KeepRule::Kind::oldest;
        } else if (text == "newest") {
            rule.kind = KeepRule::Kind::newest;
        } else if (text == "shortest-path") {
            rule.kind = KeepRule::Kind::shortestPath;
        } else {
            throw UsageError("--keep-rule takes first, oldest, newest, shortest-path or in:DIR, "
                             "not '" +
                             text + "'");
        }
        if (ordered) {
            throw UsageError("give only one of first, oldest, newest and shortest-path; in:DIR "
                             "may be repeated");
        }
        ordered = true;
        rules.push_back(rule);
    }
    return rules;
}

std::int64_t modifiedNanoseconds(const varnok::FileNode& file) {
    return file.identity
               ? file.identity->modifiedSeconds * 1000000000 + file.identity->modifiedNanoseconds
               : 0;
}

// The index of the copy the rules keep. The copies are in path order, so ties of an ordering rule
// go to the first by path; without one, the original of the copies the folder rules leave.
size_t keptCopy(const varnok::DuplicateGroup& group, const std::vector<KeepRule>& rules,
                std::map<std::string, bool>& foldersUsed) {
    std::vector<size_t> left(group.files.size());
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = i;
    }
    auto narrow = [&](const std::function<bool(size_t)>& keep) {
        std::vector<size_t> kept;
        std::copy_if(left.begin(), left.end(), std::back_inserter(kept), keep);
        if (!kept.empty()) {
            left = std::move(kept);
        }
    };
    auto path = [&](size_t i) { return group.files[i].id.path(); };
    for (const KeepRule& rule : rules) {
        switch (rule.kind) {
        case KeepRule::Kind::first:
            left.resize(1);
            break;
        case KeepRule::Kind::inside:
            narrow([&](size_t i) {
                bool inside = varnok::PathText::isInside(path(i), rule.folder);
                foldersUsed[rule.folder] = foldersUsed[rule.folder] || inside;
                return inside;
            });
            break;
        case KeepRule::Kind::oldest:
        case KeepRule::Kind::newest: {
            auto time = [&](size_t i) { return modifiedNanoseconds(group.files[i]); };
            auto best = *std::min_element(left.begin(), left.end(), [&](size_t a, size_t b) {
                return rule.kind == KeepRule::Kind::oldest ? time(a) < time(b) : time(a) > time(b);
            });
            narrow([&](size_t i) { return time(i) == time(best); });
            break;
        }
        case KeepRule::Kind::shortestPath: {
            auto best = *std::min_element(left.begin(), left.end(), [&](size_t a, size_t b) {
                return path(a).size() < path(b).size();
            });
            narrow([&](size_t i) { return path(i).size() == path(best).size(); });
            break;
        }
        }
    }
    const bool ordered = std::any_of(rules.begin(), rules.end(), [](const KeepRule& rule) {
        return rule.kind != KeepRule::Kind::inside;
    });
    return ordered ? left.front() : varnok::DuplicateKeeper::original(group, left);
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

Found findDuplicates(const varnok::Url& folder, const std::vector<std::string>& keep,
                     const std::vector<KeepRule>& rules) {
    varnok::ScanResult scan = scanFolder(folder);
    varnok::DuplicateResult result;
    {
        ProgressLine line;
        result = varnok::DuplicateEngine::find(
            scan.root, [&](const varnok::DuplicateProgress& progress) {
                line.update(progress.phase + ": " + formatCount(progress.checked) + " files");
            });
    }
    std::map<std::string, bool> keepUsed;
    for (const auto& path : keep) {
        keepUsed[path] = false;
    }
    std::map<std::string, bool> foldersUsed;
    for (const KeepRule& rule : rules) {
        if (rule.kind == KeepRule::Kind::inside) {
            foldersUsed[rule.folder] = false;
        }
    }
    Found found{{}, folder};
    for (const varnok::DuplicateGroup& group : result.groups) {
        size_t kept = keptCopy(group, rules, foldersUsed);
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
                             pastablePath(group.files.front().id.path()));
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
    for (const auto& [path, used] : foldersUsed) {
        if (!used && !result.groups.empty()) {
            throw KeepRuleRefusal("no copy of any set of duplicates lies in " +
                                  varnok::PathText::displayable(path) +
                                  "; nothing was moved. Check the folder of --keep-rule in:");
        }
    }
    return found;
}

void printPlan(const varnok::CleanupPlan& plan, const varnok::Url& home) {
    using varnok::PathText::displayable;
    std::printf("Cleanup plan: %s, %s\n",
                counted(static_cast<std::int64_t>(plan.items.size()), "item", "items").c_str(),
                formatBytes(plan.totalSize()).c_str());
    // Each category's explanation once, then its items in the order they will move.
    for (varnok::CleanupCategory category : varnok::CleanupCategory::allCases()) {
        std::int64_t count = 0;
        std::int64_t bytes = 0;
        for (const auto& item : plan.items) {
            if (item.category == category) {
                ++count;
                bytes += item.node.logicalSize;
            }
        }
        if (count == 0) {
            continue;
        }
        std::printf("\n%s: %s, %s\n", std::string(category.rawValue()).c_str(),
                    counted(count, "item", "items").c_str(), formatBytes(bytes).c_str());
        std::printf("  %s\n", std::string(category.explanation()).c_str());
        std::optional<std::string> keeper;
        for (const auto& item : plan.items) {
            if (item.category != category) {
                continue;
            }
            if (item.keeper && item.keeper->id.path() != keeper) {
                keeper = item.keeper->id.path();
                std::printf("\n  Keeps: %s\n", pastablePath(*keeper).c_str());
            } else if (!item.keeper) {
                std::printf("\n");
            }
            std::printf("  %10s  %s\n", formatBytes(item.node.logicalSize).c_str(),
                        pastablePath(varnok::ConsumerCleanup::title(item.id(), home)).c_str());
            std::printf("              %s\n", pastablePath(item.node.id.path()).c_str());
        }
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

// The path with its folder's symbolic links resolved, as the suggestions' paths are; the last
// component is kept as written.
std::string resolvedParent(const std::string& path) {
    std::string parent = varnok::PathText::parent(path);
    if (parent == path) {
        return path;
    }
    std::string real = varnok::Platform::current()
                           .resolvingSymlinks(varnok::Url::file(parent, true))
                           .withDirectoryForm(false)
                           .path();
    return (real == "/" ? "" : real) + "/" + varnok::PathText::lastComponent(path);
}

// The review refuses the whole plan at its first item that cannot be cleaned now (changed since
// the scan, its application running again); this names every such item with its reason. Returns
// false when each item passes on its own.
bool reportChangedItems(const std::vector<varnok::CleanupCandidate>& items,
                        const varnok::Url& scanRoot) {
    std::vector<std::pair<std::string, std::string>> refused;
    for (const auto& item : items) {
        try {
            varnok::TrashService::validate(item, scanRoot);
        } catch (const varnok::CancellationError&) {
            throw;
        } catch (const std::exception& error) {
            refused.emplace_back(item.node.id.path(), error.what());
        }
    }
    if (refused.empty()) {
        return false;
    }
    const std::string what =
        refused.size() == 1
            ? "this item cannot"
            : formatCount(static_cast<std::int64_t>(refused.size())) + " items cannot";
    std::fprintf(stderr, "ombrelo-cli: nothing was moved; %s be cleaned now:\n", what.c_str());
    for (const auto& [path, reason] : refused) {
        std::fprintf(stderr, "  %s\n      %s\n", pastablePath(path).c_str(),
                     varnok::PathText::displayable(reason).c_str());
    }
    return true;
}

int runClean(const std::vector<std::string>& raw) {
    Arguments args(raw, {"all", "yes"}, {"source", "home", "in"}, {"keep", "keep-rule"});
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
    if (!args.values("keep").empty() && source != "duplicates") {
        throw UsageError("--keep is only for --source duplicates");
    }
    if (!args.values("keep-rule").empty() && source != "duplicates") {
        throw UsageError("--keep-rule is only for --source duplicates");
    }
    std::vector<KeepRule> rules = parseKeepRules(args.values("keep-rule"));
    varnok::Platform& platform = varnok::Platform::current();
    // The user's own home is used at its real place (a linked /home, as on some
    // distributions); a home given with --home is judged as given.
    varnok::Url home =
        args.value("home")
            ? folderArgument(*args.value("home"), "the home folder")
            : platform.resolvingSymlinks(platform.homeDirectory()).withDirectoryForm(true);
    if (reportUnusableFolder(home.path())) {
        return exitFailure;
    }
    varnok::Url folder;
    if (source != "known") {
        folder = folderArgument(args.value("in").value_or("."), "the folder");
        if (reportUnusableFolder(folder.path()) || reportSystemFolder(folder)) {
            return exitFailure;
        }
        // Items are trusted only on paths without links, so the folder's real place is used.
        folder = platform.resolvingSymlinks(folder).withDirectoryForm(true);
    }
    for (KeepRule& rule : rules) {
        if (rule.kind != KeepRule::Kind::inside) {
            continue;
        }
        // The shell does not expand "~" after "in:", so it is done here.
        if (rule.folder == "~" || rule.folder.rfind("~/", 0) == 0) {
            rule.folder = platform.homeDirectory().path() + rule.folder.substr(1);
        }
        std::string path = folderArgument(rule.folder, "the folder of --keep-rule in:").path();
        if (reportUnusableFolder(path)) {
            return exitFailure;
        }
        rule.folder = platform.resolvingSymlinks(varnok::Url::file(path, true))
                          .withDirectoryForm(false)
                          .path();
        const std::string searched = folder.withDirectoryForm(false).path();
        if (rule.folder != searched && !varnok::PathText::isInside(rule.folder, searched)) {
            std::fprintf(stderr,
                         "ombrelo-cli: --keep-rule in:%s is not inside %s, where the duplicates "
                         "are looked for; nothing was moved.\n",
                         pastablePath(rule.folder).c_str(), pastablePath(folder.path()).c_str());
            return exitFailure;
        }
    }
    // Named items are matched at their real place, as the folder is.
    std::vector<std::string> named;
    for (const auto& operand : args.operands()) {
        named.push_back(resolvedParent(absolutePath(operand)));
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
            try {
                found = findDuplicates(folder, keep, rules);
            } catch (const KeepRuleRefusal& refusal) {
                std::fprintf(stderr, "ombrelo-cli: %s\n", refusal.what());
                return static_cast<int>(exitFailure);
            }
        }

        // --all goes through the queue, which drops items inside others; named items go to the
        // review as given, so that a mistaken overlap is refused rather than silently dropped.
        std::vector<varnok::CleanupCandidate> items;
        if (args.has("all")) {
            varnok::CleanupQueue queue;
            const auto running = varnok::RunningApplications::current();
            bool toldLeftOut = false;
            std::vector<const varnok::CleanupCandidate*> byHand;
            for (const auto& candidate : found.candidates) {
                if (candidate.manualOnly) {
                    byHand.push_back(&candidate);
                    continue;
                }
                auto apps = varnok::ConsumerCleanup::runningApps(candidate, home, running);
                if (apps.empty()) {
                    queue.add(candidate);
                    continue;
                }
                apps.erase(std::unique(apps.begin(), apps.end()), apps.end());
                if (!toldLeftOut) {
                    std::printf("Left out while their applications are running:\n");
                    toldLeftOut = true;
                }
                std::string names;
                for (const auto& name : apps) {
                    names += (names.empty() ? "" : ", ") + name;
                }
                std::printf("  %10s  %s (close %s first)\n",
                            formatBytes(candidate.node.logicalSize).c_str(),
                            varnok::PathText::displayable(
                                varnok::ConsumerCleanup::title(candidate.id(), home))
                                .c_str(),
                            varnok::PathText::displayable(names).c_str());
                std::printf("              %s\n", pastablePath(candidate.node.id.path()).c_str());
            }
            if (toldLeftOut) {
                std::printf("\n");
            }
            if (!byHand.empty()) {
                std::printf("Left out of --all, to be named one by one if you want them:\n");
                for (const varnok::CleanupCandidate* candidate : byHand) {
                    std::printf("  %10s  %s\n", formatBytes(candidate->node.logicalSize).c_str(),
                                pastablePath(candidate->node.id.path()).c_str());
                }
                std::printf("\n");
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
                                 pastablePath(path).c_str());
                    return static_cast<int>(exitFailure);
                }
                items.push_back(*match);
            }
        }
        std::optional<varnok::CleanupPlan> prepared;
        try {
            prepared = varnok::TrashService::prepare(items, found.scanRoot);
        } catch (const varnok::CleanupProblem&) {
            if (!reportChangedItems(items, found.scanRoot)) {
                throw;
            }
            return static_cast<int>(exitFailure);
        }
        const varnok::CleanupPlan& plan = *prepared;
        printPlan(plan, home);
        if (!finishOutput()) {
            return static_cast<int>(exitFailure);
        }
        if (!args.has("yes") && !confirmed(plan)) {
            return static_cast<int>(exitFailure);
        }

        const varnok::Url history = varnok::TrashService::defaultHistoryFolder();
        std::optional<ProgressLine> line{std::in_place};
        varnok::TrashReport report =
            varnok::TrashService::execute(plan, history, varnok::TrashService::moveToTrash,
                                          [&](const varnok::TrashProgress& step) {
                                              line->update(movingText("Moving to the Trash", step));
                                          });
        line.reset();
        const bool complete =
            report.movedCount() == static_cast<std::int64_t>(report.outcomes.size());
        std::printf("%s %lld of %zu %s to the Trash:\n",
                    complete ? "Moved" : "Stopped early; moved",
                    static_cast<long long>(report.movedCount()), report.outcomes.size(),
                    report.outcomes.size() == 1 ? "item" : "items");
        printOutcomes(report, home);
        std::printf("\nReport %s saved in %s\n", report.id.uuidString().c_str(),
                    pastablePath(history.path()).c_str());
        try {
            printTrashTotal(bytesStillInTrash(varnok::TrashService::history(history)));
        } catch (const std::exception&) {
            // The run is done and recorded; the total is only a note.
        }
        if (!finishOutput()) {
            return static_cast<int>(exitStoppedEarly);
        }
        return static_cast<int>(complete ? exitSuccess : exitStoppedEarly);
    });
}

const CommandRegistration registration{
    Command{"clean", "Move cleanup suggestions to the Trash, with a history", cleanHelp, runClean,
            40, "path"}};

} // namespace
} // namespace ombrelo::cli

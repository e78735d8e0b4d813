#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"

#include "core/cleanup/ConsumerCleanup.hpp"
#include "platform/Platform.hpp"
#include "platform/RunningApplications.hpp"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace ombrelo::cli {
namespace {

const char* const cleanupScanHelp =
    "Usage: ombrelo-cli cleanup-scan [--home DIR] [--json [--tree]]\n"
    "\n"
    "Looks for space that can be given back safely in a home folder: the caches of\n"
    "known applications, browsers and package managers (the cache folder,\n"
    "$XDG_CACHE_HOME or ~/.cache, and each snap's own, the cache folders of Electron\n"
    "apps in ~/.config, Flatpak apps in ~/.var/app, ~/.npm, ~/.cargo, ~/.gradle,\n"
    "~/go/pkg/mod/cache, ~/.m2/repository; in a home copied from macOS\n"
    "Library/Caches and Library/Application Support), and logs and crash reports\n"
    "last modified over 30 days ago (in the cache folder, ~/.local/state,\n"
    "~/.local/share/xorg, ~/.xsession-errors, Crashpad and Firefox crash folders, or\n"
    "Library/Logs) that no running program holds open. A cache folder that also\n"
    "holds cookies, history, logins or other private data is never offered whole:\n"
    "only its cache subfolders are. The other folders of the cache folder, and\n"
    "Maven's repository, are listed \"only when named\": clean --all leaves them.\n"
    "Suggestions are listed by category, largest first, with the running\n"
    "applications that must be closed before their caches can be cleaned, the\n"
    "locations that could not be read, and how much was checked.\n"
    "\n"
    "Read-only: nothing is moved, deleted or written. A home folder reached through\n"
    "a symbolic link given with --home is refused; your own home is looked at in its\n"
    "real place.\n"
    "\n"
    "Options:\n"
    "  --home DIR  the home folder to look in (default: your home folder)\n"
    "  --json      print the result as JSON: version, candidates (each with path,\n"
    "              title, category, sizes, evidence, owners, runningApps, keeper, and\n"
    "              manualOnly when it is only cleaned when named), unreadable,\n"
    "              checkedLocations and checkedFiles (each file once)\n"
    "  --tree      with --json, give each candidate its whole scanned file tree too\n"
    "  --help      show this help\n"
    "\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops the scan.\n"
    "Exit status: 0 scanned, 1 the home folder cannot be scanned or is a system\n"
    "folder, 2 usage error, 130 interrupted.\n";

int runCleanupScan(const std::vector<std::string>& raw) {
    Arguments args(raw, {"json", "tree"}, {"home"});
    if (args.has("tree") && !args.has("json")) {
        throw UsageError("--tree goes with --json");
    }
    if (!args.operands().empty()) {
        throw UsageError("cleanup-scan takes no operands; use --home DIR for another home folder");
    }
    // The user's own home is looked at in its real place (a linked /home, as on some
    // distributions); a home given with --home is judged as given.
    varnok::Platform& platform = varnok::Platform::current();
    varnok::Url home =
        args.value("home")
            ? folderArgument(*args.value("home"), "the home folder")
            : platform.resolvingSymlinks(platform.homeDirectory()).withDirectoryForm(true);
    if (reportUnusableFolder(home.path()) || reportSystemFolder(home)) {
        return exitFailure;
    }
    return runCancellable([&]() {
        varnok::ConsumerCleanup::Result result;
        {
            ProgressLine line;
            result = varnok::ConsumerCleanup::scan(
                home, [&](const std::string& title, std::int64_t files) {
                    line.update(formatCount(files) + " files checked  " + title);
                });
        }
        const std::vector<varnok::RunningApplication> running =
            varnok::RunningApplications::current();
        // One name per app: two instances of Slack are still one app to close.
        auto owners = [&](const varnok::CleanupCandidate& candidate) {
            auto names = varnok::ConsumerCleanup::runningApps(candidate, home, running);
            names.erase(std::unique(names.begin(), names.end()), names.end());
            return names;
        };

        if (args.has("json")) {
            nlohmann::json json = nlohmann::json::object();
            json["version"] = jsonVersion;
            json["home"] = varnok::PathText::displayable(home.path());
            json["candidates"] = nlohmann::json::array();
            for (const auto& candidate : result.candidates) {
                const auto* rule = varnok::ConsumerCleanup::rule(candidate.id(), home);
                nlohmann::json entry =
                    candidateJson(candidate, varnok::ConsumerCleanup::title(candidate.id(), home),
                                  rule != nullptr ? rule->bundleIDs : std::vector<std::string>{},
                                  args.has("tree"));
                entry["runningApps"] = owners(candidate);
                json["candidates"].push_back(std::move(entry));
            }
            nlohmann::json unreadable = nlohmann::json::array();
            for (const auto& path : result.unreadable) {
                unreadable.push_back(varnok::PathText::displayable(path));
            }
            json["unreadable"] = unreadable;
            json["checkedLocations"] = result.checkedLocations;
            json["checkedFiles"] = result.checkedFiles;
            std::string text = indentedJson(json);
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            std::printf("Cleanup suggestions in %s\n", pastablePath(home.path()).c_str());
            if (result.candidates.empty()) {
                std::printf("\nNo eligible files found in the locations checked.\n");
            } else {
                std::int64_t total = 0;
                for (const auto& candidate : result.candidates) {
                    total += candidate.node.logicalSize;
                }
                printCandidateGroups(
                    result.candidates,
                    [&](const varnok::CleanupCandidate& candidate) {
                        return varnok::ConsumerCleanup::title(candidate.id(), home) +
                               (candidate.manualOnly ? "  (only when named)" : "");
                    },
                    owners);
                std::printf("\n%zu %s, %s in all\n", result.candidates.size(),
                            result.candidates.size() == 1 ? "suggestion" : "suggestions",
                            formatBytes(total).c_str());
            }
            if (!result.unreadable.empty()) {
                std::printf("\n%zu %s could not be checked:\n", result.unreadable.size(),
                            result.unreadable.size() == 1 ? "folder" : "folders");
                for (const auto& path : result.unreadable) {
                    std::printf("  %s\n", pastablePath(path).c_str());
                }
            }
            std::printf("\n%s supported folders checked, %s files.\n",
                        formatCount(result.checkedLocations).c_str(),
                        formatCount(result.checkedFiles).c_str());
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{
    Command{"cleanup-scan", "Find caches and old logs in a home folder that can be cleaned",
            cleanupScanHelp, runCleanupScan, 20, ""}};

} // namespace
} // namespace ombrelo::cli

#include "cli/Cli.hpp"

#include "cli/HistoryFolder.hpp"
#include "cli/TrashOutput.hpp"
#include "core/common/CleanupProblem.hpp"
#include "core/common/FileError.hpp"
#include "core/common/Task.hpp"
#include "core/trash/RecoveryAvailability.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <cctype>
#include <climits>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <unistd.h>
#include <unordered_map>

namespace ombrelo::cli {
namespace {

const char* const restoreHelp =
    "Usage: ombrelo-cli restore [--history DIR] REPORT-ID (PATH | --all)\n"
    "\n"
    "Puts items that a cleanup moved to the Trash back at their original paths.\n"
    "REPORT-ID is the cleanup's id as 'ombrelo-cli history' shows it, or the start of\n"
    "it (at least 4 characters) when no other report's id starts the same way. PATH\n"
    "is the item's original path, or its URL text as stored in the history.\n"
    "\n"
    "An item is put back only when it is still the very object that was moved, the\n"
    "original folder is the very folder it came from, and nothing is at the original\n"
    "path: nothing is ever overwritten. Otherwise the reason is printed.\n"
    "\n"
    "Options:\n"
    "  --all           put back every item of the report that can be restored; the\n"
    "                  others are listed with the reason\n"
    "  --history DIR   the history folder (default: $XDG_DATA_HOME/Varnok/cleanup-history)\n"
    "  --help          show this help\n"
    "\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops after the item being\n"
    "put back.\n"
    "\n"
    "Exit status: 0 restored (with --all: every item the cleanup moved is back), 1\n"
    "refused or failed, 2 usage error, 130 interrupted.\n";

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        throw UsageError("cannot read the current folder; give an absolute path");
    }
    return std::string(cwd) + "/" + path;
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The report whose id is `prefix` or starts with it. When two files carry that id, the one named
// after it is the report, as the restore itself reads that one. Prints why there is none on
// stderr.
std::optional<varnok::TrashReport> findReport(const HistoryListing& listing,
                                              const std::string& prefix) {
    std::vector<const varnok::TrashReport*> matches;
    for (const auto& report : listing.reports) {
        const bool seen = std::any_of(matches.begin(), matches.end(),
                                      [&](const auto* match) { return match->id == report.id; });
        if (!seen && report.id.uuidString().rfind(upper(prefix), 0) == 0) {
            matches.push_back(&report);
        }
    }
    if (matches.empty()) {
        std::fprintf(stderr,
                     "ombrelo-cli: no cleanup report has the id %s; see 'ombrelo-cli "
                     "history'.\n",
                     prefix.c_str());
        return std::nullopt;
    }
    if (matches.size() > 1) {
        std::fprintf(stderr, "ombrelo-cli: %s is the start of %zu report ids; give more of it:\n",
                     prefix.c_str(), matches.size());
        for (const varnok::TrashReport* report : matches) {
            std::fprintf(stderr, "  %s  started %s\n", report->id.uuidString().c_str(),
                         localTime(report->startedAt).c_str());
        }
        return std::nullopt;
    }
    const varnok::TrashReport& report = *matches.front();
    const std::string id = report.id.uuidString();
    auto files = listing.filesByID.find(id);
    if (files == listing.filesByID.end() || files->second.size() < 2) {
        return report;
    }
    for (const std::string& path : files->second) {
        if (varnok::PathText::lastComponent(path) == id + ".json") {
            return nlohmann::json::parse(
                       varnok::Platform::current().readFile(varnok::Url::file(path)))
                .get<varnok::TrashReport>();
        }
    }
    std::fprintf(stderr,
                 "ombrelo-cli: %zu files hold the report %s and none is named %s.json, so "
                 "which one is meant is unclear; nothing was restored:\n",
                 files->second.size(), id.c_str(), id.c_str());
    for (const std::string& path : files->second) {
        std::fprintf(stderr, "  %s\n", pastablePath(path).c_str());
    }
    return std::nullopt;
}

void printRestored(const varnok::TrashReport& updated, const varnok::Url& original) {
    std::printf("Restored %s\n", pastablePath(original.path()).c_str());
    for (const auto& outcome : updated.outcomes) {
        if (outcome.originalURL == original && outcome.message) {
            std::printf("%s\n", varnok::PathText::displayable(*outcome.message).c_str());
        }
    }
}

constexpr std::string_view busyMessage = "Another file operation is running.";

bool hasReport(const std::vector<varnok::TrashReport>& reports, const varnok::Uuid& id) {
    for (const auto& report : reports) {
        if (report.id == id) {
            return true;
        }
    }
    return false;
}

// Why the item cannot be restored as the history reads now, or nothing when it looks restorable.
std::optional<std::string> stateNow(const varnok::Url& history, const varnok::Uuid& id,
                                    const varnok::Url& original) {
    for (const auto& report : varnok::TrashService::history(history)) {
        if (report.id != id) {
            continue;
        }
        for (const auto& outcome : report.outcomes) {
            if (outcome.originalURL == original) {
                auto availability = varnok::RecoveryAvailability::inspect(outcome);
                if (!availability.canRestore()) {
                    return availability.message;
                }
            }
        }
    }
    return std::nullopt;
}

bool wasMoved(const varnok::TrashOutcome& outcome) {
    return outcome.status == varnok::TrashStatus::moved ||
           outcome.status == varnok::TrashStatus::restoring ||
           outcome.status == varnok::TrashStatus::restored;
}

int restoreAll(const varnok::TrashReport& report, const varnok::Url& history) {
    using varnok::PathText::displayable;
    std::vector<std::pair<std::string, std::string>> left;
    std::vector<varnok::Url> wanted;
    std::int64_t moved = 0;
    for (const auto& outcome : report.outcomes) {
        if (!wasMoved(outcome)) {
            continue;
        }
        ++moved;
        auto availability = varnok::RecoveryAvailability::inspect(outcome);
        if (availability.state == varnok::RecoveryAvailability::State::alreadyRestored) {
            std::printf("Already back: %s\n", pastablePath(outcome.originalURL.path()).c_str());
            continue;
        }
        if (!availability.canRestore()) {
            left.emplace_back(outcome.originalURL.path(), availability.message);
            continue;
        }
        wanted.push_back(outcome.originalURL);
    }
    if (moved == 0) {
        std::fprintf(stderr, "ombrelo-cli: cleanup %s moved nothing to the Trash.\n",
                     report.id.uuidString().c_str());
        return exitFailure;
    }
    bool cancelled = false;
    if (!wanted.empty()) {
        std::optional<ProgressLine> line{std::in_place};
        // One hold of the lock and one history write for all of them.
        const varnok::TrashRestoreResult result = varnok::TrashService::restore(
            report.id, wanted, history, {}, [&](const varnok::TrashProgress& step) {
                line->update(movingText("Restoring", step));
            });
        line.reset();
        std::unordered_map<varnok::Url, const varnok::TrashOutcome*> outcomes;
        for (const auto& outcome : result.report.outcomes) {
            outcomes.emplace(outcome.originalURL, &outcome);
        }
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (result.problems[i]) {
                if (!result.cancelled) {
                    left.emplace_back(wanted[i].path(), *result.problems[i]);
                }
                continue;
            }
            std::printf("Restored %s\n", displayable(wanted[i].path()).c_str());
            auto found = outcomes.find(wanted[i]);
            if (found != outcomes.end() && found->second->message) {
                std::printf("%s\n", displayable(*found->second->message).c_str());
            }
        }
        cancelled = result.cancelled;
    }
    if (cancelled) {
        // What was put back is listed above; the rest stays in the Trash.
        throw varnok::CancellationError();
    }
    if (!left.empty()) {
        std::printf("Not restored:\n");
        for (const auto& [path, reason] : left) {
            std::printf("  %s\n      %s\n", pastablePath(path).c_str(),
                        displayable(reason).c_str());
        }
    }
    return left.empty() ? exitSuccess : exitFailure;
}

int runRestore(const std::vector<std::string>& raw) {
    Arguments args(raw, {"all"}, {"history"});
    const bool all = args.has("all");
    if (args.operands().size() != (all ? 1u : 2u)) {
        throw UsageError(all ? "give a report id and --all, without a path"
                             : "give a report id and the item's original path, or --all");
    }
    const std::string idText = args.operands()[0];
    const bool idLike = idText.size() <= 36 &&
                        idText.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos;
    if (!idLike) {
        throw UsageError("'" + idText + "' is not a report id");
    }
    if (idText.size() < 4) {
        throw UsageError("give at least 4 characters of the report id");
    }
    std::optional<varnok::Url> given;
    std::string item;
    if (!all) {
        item = args.operands()[1];
        if (item.rfind("file://", 0) == 0) {
            given = varnok::Url::parse(item);
            if (!given) {
                throw UsageError("'" + item + "' is not a file URL");
            }
        } else if (!item.empty()) {
            given = varnok::Url::file(varnok::PathText::standardize(absolutePath(item)));
        } else {
            throw UsageError("the path must not be empty");
        }
    }
    const std::optional<varnok::Url> historyGiven = historyFolder(args.value("history"));
    if (!historyGiven) {
        return exitFailure;
    }
    const varnok::Url history = *historyGiven;

    return runCancellable([&]() {
        const HistoryListing listing = readHistory(history);
        const auto fullID = varnok::Uuid::parse(idText);
        if (fullID && !all && !hasReport(listing.reports, *fullID)) {
            // A whole id that the listing skips may name a damaged report: the restore itself
            // says what is wrong with it.
            printRestored(varnok::TrashService::restore(*fullID, *given, history), *given);
            return static_cast<int>(exitSuccess);
        }
        const std::optional<varnok::TrashReport> report = findReport(listing, idText);
        if (!report) {
            return static_cast<int>(exitFailure);
        }
        if (all) {
            return restoreAll(*report, history);
        }
        // A path names the item whichever form its URL was stored in: folders are stored in
        // folder form.
        varnok::Url original = *given;
        const varnok::TrashOutcome* recorded = nullptr;
        for (const auto& outcome : report->outcomes) {
            if (outcome.originalURL == original ||
                (item.rfind("file://", 0) != 0 &&
                 varnok::PathText::equal(outcome.originalURL.path(), original.path()))) {
                original = outcome.originalURL;
                recorded = &outcome;
                break;
            }
        }
        // Another run holding the lock is the whole story; otherwise the item's state as history
        // shows it now (put back by another tool, already restored) says more than the error of a
        // restore that could not work.
        const auto explained = [&]() {
            const auto reason =
                recorded != nullptr ? stateNow(history, report->id, original) : std::nullopt;
            if (reason) {
                std::fprintf(stderr, "ombrelo-cli: %s: %s\n", pastablePath(original.path()).c_str(),
                             varnok::PathText::displayable(*reason).c_str());
            }
            return reason.has_value();
        };
        try {
            printRestored(varnok::TrashService::restore(report->id, original, history), original);
            return static_cast<int>(exitSuccess);
        } catch (const varnok::CleanupProblem& problem) {
            if (problem.message != busyMessage && explained()) {
                return static_cast<int>(exitFailure);
            }
            throw;
        } catch (const varnok::FileError&) {
            if (explained()) {
                return static_cast<int>(exitFailure);
            }
            throw;
        }
    });
}

const CommandRegistration registration{
    Command{"restore", "Put items from a cleanup back at their original paths", restoreHelp,
            runRestore, 60, "report"}};

} // namespace
} // namespace ombrelo::cli

#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"
#include "cli/HistoryFolder.hpp"
#include "cli/TrashOutput.hpp"

#include "core/trash/RecoveryAvailability.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace ombrelo::cli {
namespace {

const char* const historyHelp =
    "Usage: ombrelo-cli history [--json] [--history DIR]\n"
    "\n"
    "Lists the cleanups recorded in $XDG_DATA_HOME/Varnok/cleanup-history (by default\n"
    "~/.local/share/Varnok/cleanup-history), newest first: when each ran, and for each\n"
    "item its state, size, original path, place in the Trash, any message, and whether\n"
    "it can be restored now ('ombrelo-cli restore' puts it back). Files in the folder\n"
    "that are not readable reports are named on stderr and left as they are. The list\n"
    "ends with how much of what the cleanups moved is still in the Trash. Read-only.\n"
    "\n"
    "Options:\n"
    "  --json          print {\"version\", \"folder\", \"reports\", \"unreadable\"}: each\n"
    "                  report as its history file holds it but with ISO 8601 times,\n"
    "                  every item with an \"availability\" object (state, canRestore,\n"
    "                  canRevealInTrash, message)\n"
    "  --history DIR   read another history folder (it must exist)\n"
    "  --help          show this help\n"
    "\n"
    "Exit status: 0 listed (also when there is no history yet), 1 the history folder\n"
    "or some of its files cannot be read (the readable reports are still listed),\n"
    "2 usage error.\n";

// A report as JSON with ISO times in place of the stored seconds.
nlohmann::json reportJson(const varnok::TrashReport& report) {
    nlohmann::json entry = report;
    entry["startedAt"] = isoTime(report.startedAt);
    if (report.finishedAt) {
        entry["finishedAt"] = isoTime(*report.finishedAt);
    }
    for (size_t i = 0; i < report.outcomes.size(); ++i) {
        const varnok::TrashOutcome& outcome = report.outcomes[i];
        nlohmann::json& item = entry["outcomes"][i];
        if (outcome.restoredAt) {
            item["restoredAt"] = isoTime(*outcome.restoredAt);
        }
        auto availability = varnok::RecoveryAvailability::inspect(outcome);
        item["availability"] = {
            {"state", varnok::storedText(availability.state)},
            {"canRestore", availability.canRestore()},
            {"canRevealInTrash", availability.canRevealInTrash},
            {"message", availability.message},
        };
    }
    return entry;
}

int runHistory(const std::vector<std::string>& raw) {
    Arguments args(raw, {"json"}, {"history"});
    if (!args.operands().empty()) {
        throw UsageError("history takes no operands");
    }
    const std::optional<varnok::Url> folder = historyFolder(args.value("history"));
    if (!folder) {
        return exitFailure;
    }
    return runCancellable([&]() {
        const HistoryListing listing = readHistory(*folder);
        const std::vector<varnok::TrashReport>& reports = listing.reports;
        const int listed = reportUnreadable(listing) ? exitFailure : exitSuccess;
        if (args.has("json")) {
            nlohmann::json json = {{"version", jsonVersion},
                                   {"folder", varnok::PathText::displayable(folder->path())},
                                   {"reports", nlohmann::json::array()},
                                   {"unreadable", nlohmann::json::array()}};
            for (const auto& report : reports) {
                json["reports"].push_back(reportJson(report));
            }
            for (const auto& file : listing.unreadable) {
                json["unreadable"].push_back(
                    {{"path", varnok::PathText::displayable(file.path)},
                     {"reason", varnok::PathText::displayable(file.reason)}});
            }
            std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
            return static_cast<int>(finishOutput() ? listed : exitFailure);
        }
        if (reports.empty()) {
            std::printf("No cleanups recorded in %s\n", pastablePath(folder->path()).c_str());
            return static_cast<int>(finishOutput() ? listed : exitFailure);
        }
        const varnok::Url home = varnok::Platform::current().homeDirectory();
        for (const auto& report : reports) {
            std::printf("Cleanup %s\n", report.id.uuidString().c_str());
            std::printf("  Started %s, %s; %s\n", localTime(report.startedAt).c_str(),
                        report.finishedAt ? ("finished " + localTime(*report.finishedAt)).c_str()
                                          : "never finished",
                        movedSummary(report).c_str());
            printOutcomes(report, home, [](const varnok::TrashOutcome& outcome) {
                auto availability = varnok::RecoveryAvailability::inspect(outcome);
                return std::string(availability.canRestore() ? "Restorable: " : "Recovery: ") +
                       availability.message;
            });
            std::printf("\n");
        }
        printTrashTotal(bytesStillInTrash(reports));
        return static_cast<int>(finishOutput() ? listed : exitFailure);
    });
}

const CommandRegistration registration{Command{
    "history", "List the recorded cleanups, newest first", historyHelp, runHistory, 50, ""}};

} // namespace
} // namespace ombrelo::cli

#include "cli/CleanupOutput.hpp"
#include "cli/Cli.hpp"
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
    "that are not readable reports are skipped. The list ends with how much of what the\n"
    "cleanups moved is still in the Trash. Read-only.\n"
    "\n"
    "Options:\n"
    "  --json          print a JSON array of the reports, each in the history file's own\n"
    "                  format, every item with an \"availability\" object (state,\n"
    "                  canRestore, canRevealInTrash, message)\n"
    "  --history DIR   read another history folder\n"
    "  --help          show this help\n"
    "\n"
    "Exit status: 0 listed (also when there is no history yet), 1 the history folder\n"
    "cannot be read, 2 usage error.\n";

int runHistory(const std::vector<std::string>& raw) {
    Arguments args(raw, {"json"}, {"history"});
    if (!args.operands().empty()) {
        throw UsageError("history takes no operands");
    }
    return runCancellable([&]() {
        const varnok::Url folder =
            args.value("history") ? folderArgument(*args.value("history"), "the history folder")
                                  : varnok::TrashService::defaultHistoryFolder();
        std::vector<varnok::TrashReport> reports = varnok::TrashService::history(folder);
        if (args.has("json")) {
            nlohmann::json json = nlohmann::json::array();
            for (const auto& report : reports) {
                nlohmann::json entry = report;
                for (size_t i = 0; i < report.outcomes.size(); ++i) {
                    auto availability = varnok::RecoveryAvailability::inspect(report.outcomes[i]);
                    entry["outcomes"][i]["availability"] = {
                        {"state", varnok::storedText(availability.state)},
                        {"canRestore", availability.canRestore()},
                        {"canRevealInTrash", availability.canRevealInTrash},
                        {"message", availability.message},
                    };
                }
                json.push_back(std::move(entry));
            }
            std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
            return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
        }
        if (reports.empty()) {
            std::printf("No cleanups recorded in %s\n",
                        varnok::PathText::displayable(folder.path()).c_str());
            return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
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
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{Command{
    "history", "List the recorded cleanups, newest first", historyHelp, runHistory, 50, ""}};

} // namespace
} // namespace ombrelo::cli

#include "cli/Cli.hpp"

#include "core/common/CleanupProblem.hpp"
#include "core/trash/TrashService.hpp"

#include <climits>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace ombrelo::cli {
namespace {

const char* const restoreHelp =
    "Usage: ombrelo-cli restore [--history DIR] REPORT-ID PATH\n"
    "\n"
    "Puts one item that a cleanup moved to the Trash back at its original path.\n"
    "REPORT-ID is the cleanup's id as 'ombrelo-cli history' shows it; PATH is the\n"
    "item's original path, or its URL text as stored in the history.\n"
    "\n"
    "The item is put back only when it is still the very object that was moved, the\n"
    "original folder is the very folder it came from, and nothing is at the original\n"
    "path: nothing is ever overwritten. Otherwise the reason is printed.\n"
    "\n"
    "Options:\n"
    "  --history DIR   the history folder (default: $XDG_DATA_HOME/Varnok/cleanup-history)\n"
    "  --help          show this help\n"
    "\n"
    "Exit status: 0 restored, 1 refused or failed, 2 usage error, 130 interrupted.\n";

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

int runRestore(const std::vector<std::string>& raw) {
    Arguments args(raw, {}, {"history"});
    if (args.operands().size() != 2) {
        throw UsageError("give a report id and the item's original path");
    }
    auto reportID = varnok::Uuid::parse(args.operands()[0]);
    if (!reportID) {
        throw UsageError("'" + args.operands()[0] + "' is not a report id");
    }
    const std::string& item = args.operands()[1];
    std::optional<varnok::Url> given;
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
    const varnok::Url history =
        args.value("history")
            ? varnok::Url::file(varnok::PathText::standardize(absolutePath(*args.value("history"))),
                                true)
            : varnok::TrashService::defaultHistoryFolder();

    return runCancellable([&]() {
        // A path names the item whichever form its URL was stored in: folders are stored in
        // folder form.
        varnok::Url original = *given;
        for (const auto& report : varnok::TrashService::history(history)) {
            if (!(report.id == *reportID)) {
                continue;
            }
            for (const auto& outcome : report.outcomes) {
                if (outcome.originalURL == original ||
                    (item.rfind("file://", 0) != 0 &&
                     varnok::PathText::equal(outcome.originalURL.path(), original.path()))) {
                    original = outcome.originalURL;
                    break;
                }
            }
        }
        auto report = varnok::TrashService::restore(*reportID, original, history);
        std::printf("Restored %s\n", varnok::PathText::displayable(original.path()).c_str());
        for (const auto& outcome : report.outcomes) {
            if (outcome.originalURL == original && outcome.message) {
                std::printf("%s\n", outcome.message->c_str());
            }
        }
        return static_cast<int>(exitSuccess);
    });
}

const CommandRegistration registration{
    Command{"restore", "Put an item from a cleanup back at its original path", restoreHelp,
            runRestore, 60}};

} // namespace
} // namespace ombrelo::cli

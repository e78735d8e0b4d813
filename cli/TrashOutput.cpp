#include "cli/TrashOutput.hpp"

#include "cli/Cli.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"

#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace ombrelo::cli {

std::string statusLabel(varnok::TrashStatus status) {
    switch (status) {
    case varnok::TrashStatus::notAttempted:
        return "Not attempted";
    case varnok::TrashStatus::moving:
        return "Interrupted \u00b7 Check Trash";
    case varnok::TrashStatus::moved:
        return "Sent to Trash";
    case varnok::TrashStatus::failed:
        return "Not moved";
    case varnok::TrashStatus::restoring:
        return "Restore interrupted \u00b7 Check both paths";
    case varnok::TrashStatus::restored:
        return "Restored";
    }
    return "";
}

std::string localTime(varnok::Date date) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    struct tm local {};
    char text[32];
    if (::localtime_r(&seconds, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return "(unknown time)";
    }
    return text;
}

void printOutcomes(const varnok::TrashReport& report, const varnok::Url& home,
                   const std::function<std::string(const varnok::TrashOutcome&)>& note) {
    using varnok::PathText::displayable;
    for (const varnok::TrashOutcome& outcome : report.outcomes) {
        std::printf(
            "  %-15s %10s  %s\n", statusLabel(outcome.status).c_str(),
            formatBytes(outcome.logicalSize).c_str(),
            pastablePath(varnok::ConsumerCleanup::title(outcome.originalURL, home)).c_str());
        std::printf("      %s\n", pastablePath(outcome.originalURL.path()).c_str());
        if (outcome.trashURL) {
            std::printf("      in Trash: %s\n", pastablePath(outcome.trashURL->path()).c_str());
        }
        if (outcome.restoredAt) {
            std::printf("      restored %s\n", localTime(*outcome.restoredAt).c_str());
        }
        if (outcome.message) {
            std::printf("      %s\n", displayable(*outcome.message).c_str());
        }
        if (note) {
            std::printf("      %s\n", displayable(note(outcome)).c_str());
        }
    }
    if (report.logWarning) {
        std::printf("  Warning: %s\n", displayable(*report.logWarning).c_str());
    }
}

std::string movedSummary(const varnok::TrashReport& report) {
    std::int64_t moved = 0;
    std::int64_t restored = 0;
    for (const varnok::TrashOutcome& outcome : report.outcomes) {
        // An item being restored, or restored, was moved by this run.
        if (outcome.status == varnok::TrashStatus::moved ||
            outcome.status == varnok::TrashStatus::restoring ||
            outcome.status == varnok::TrashStatus::restored) {
            ++moved;
        }
        if (outcome.status == varnok::TrashStatus::restored) {
            ++restored;
        }
    }
    std::string text = formatCount(moved) + " of " +
                       counted(static_cast<std::int64_t>(report.outcomes.size()), "item", "items") +
                       " moved";
    if (restored > 0) {
        text += ", " + formatCount(restored) + " restored since";
    }
    return text;
}

std::int64_t bytesStillInTrash(const std::vector<varnok::TrashReport>& reports) {
    std::int64_t total = 0;
    for (const varnok::TrashReport& report : reports) {
        for (const varnok::TrashOutcome& outcome : report.outcomes) {
            struct stat record {};
            if (outcome.status == varnok::TrashStatus::moved && outcome.trashURL &&
                ::lstat(outcome.trashURL->path().c_str(), &record) == 0) {
                total += outcome.logicalSize;
            }
        }
    }
    return total;
}

void printTrashTotal(std::int64_t bytes) {
    if (bytes == 0) {
        std::printf("Nothing that Ombrelo moved is still in the Trash.\n");
        return;
    }
    std::printf("Ombrelo's cleanups hold %s in the Trash. That space is only free once the Trash\n"
                "is emptied, in the file manager or with trash-empty; Ombrelo never empties it.\n",
                formatBytes(bytes).c_str());
}

std::string movingText(const std::string& doing, const varnok::TrashProgress& step) {
    return doing + ": " + formatCount(static_cast<std::int64_t>(step.done)) + " of " +
           counted(static_cast<std::int64_t>(step.total), "item", "items") + ", " +
           formatBytes(step.bytesDone) + " of " + formatBytes(step.bytesTotal) + "  " +
           step.current.path();
}

} // namespace ombrelo::cli

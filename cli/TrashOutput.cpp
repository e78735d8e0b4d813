#include "cli/TrashOutput.hpp"

#include "cli/Cli.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"

#include <cstdio>
#include <ctime>

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
        std::printf("  %-15s %10s  %s\n", statusLabel(outcome.status).c_str(),
                    formatBytes(outcome.logicalSize).c_str(),
                    displayable(varnok::ConsumerCleanup::title(outcome.originalURL, home)).c_str());
        std::printf("      %s\n", displayable(outcome.originalURL.path()).c_str());
        if (outcome.trashURL) {
            std::printf("      in Trash: %s\n", displayable(outcome.trashURL->path()).c_str());
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

} // namespace ombrelo::cli

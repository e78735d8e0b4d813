// The history store of TrashService: report files and reading them back.
#include "core/common/DecodingError.hpp"
#include "core/trash/TrashJournal.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_set>

namespace varnok {

namespace {

// True for "name.json"; a bare ".json" has no extension, and the test is case-sensitive.
bool hasJsonExtension(const std::string& name) {
    auto dot = name.rfind('.');
    return dot != std::string::npos && dot > 0 &&
           name.compare(dot + 1, std::string::npos, "json") == 0;
}

} // namespace

std::vector<TrashReport> TrashService::history(const Url& folder) {
    Platform& platform = Platform::current();
    if (!platform.fileExists(folder)) {
        return {};
    }
    std::vector<TrashReport> reports;
    const std::vector<Url> entries = platform.contentsOfDirectory(folder);
    std::unordered_set<std::string> names;
    for (const Url& entry : entries) {
        names.insert(entry.lastPathComponent());
    }
    for (const Url& entry : entries) {
        if (!hasJsonExtension(entry.lastPathComponent())) {
            continue;
        }
        TrashReport report;
        try {
            auto json = nlohmann::json::parse(platform.readFile(entry));
            report = json.get<TrashReport>();
        } catch (const std::exception&) {
            // Half-written first versions, foreign and corrupt files are not part of the history.
            continue;
        }
        const Url journal = TrashJournal::fileFor(entry);
        if (names.count(journal.lastPathComponent()) != 0) {
            std::optional<std::string> text;
            try {
                text = platform.readFile(journal);
            } catch (const std::exception&) {
                // Removed by an operation that has just folded it: its report is whole now.
                try {
                    report = nlohmann::json::parse(platform.readFile(entry)).get<TrashReport>();
                } catch (const std::exception&) {
                }
            }
            if (text && TrashJournal::fold(report, *text) == TrashJournal::Fold::foreign) {
                const std::string note = TrashJournal::foreignNote(journal);
                report.logWarning = report.logWarning ? *report.logWarning + " " + note : note;
            }
        }
        reports.push_back(std::move(report));
    }
    std::stable_sort(
        reports.begin(), reports.end(),
        [](const TrashReport& a, const TrashReport& b) { return a.startedAt > b.startedAt; });
    return reports;
}

void TrashService::save(const TrashReport& report, const Url& file) {
    // nlohmann::json keeps object keys sorted, so the text is the same for the same report.
    nlohmann::json json = report;
    // Messages may quote file names that are not UTF-8; those bytes are replaced, never refused.
    std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    Platform::current().writeAtomically(file, text + "\n");
}

Url TrashService::reportFile(const Url& folder, const Uuid& reportID) {
    return folder.appendingPathComponent(reportID.uuidString() + ".json");
}

Url TrashService::defaultHistoryFolder() {
    return Platform::current()
        .applicationSupportDirectory()
        .appendingPathComponent("Varnok", true)
        .appendingPathComponent("cleanup-history", true);
}

} // namespace varnok

// The history store of TrashService: report files and reading them back.
#include "core/common/DecodingError.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

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
    for (const Url& entry : platform.contentsOfDirectory(folder)) {
        if (!hasJsonExtension(entry.lastPathComponent())) {
            continue;
        }
        try {
            auto json = nlohmann::json::parse(platform.readFile(entry));
            reports.push_back(json.get<TrashReport>());
        } catch (const std::exception&) {
            // Half-written first versions, foreign and corrupt files are not part of the history.
        }
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

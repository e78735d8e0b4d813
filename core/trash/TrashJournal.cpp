#include "core/trash/TrashJournal.hpp"

#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <chrono>
#include <nlohmann/json.hpp>
#include <unistd.h>
#include <vector>

namespace varnok {
namespace {

constexpr std::string_view journalExtension = ".journal";
constexpr std::string_view reportExtension = ".json";

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

// The journal is the program's own file: removing it never touches user data.
void removeJournal(const Url& file) {
    if (endsWith(file.path(), journalExtension)) {
        ::unlink(file.path().c_str());
    }
}

std::string line(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace

Url TrashJournal::fileFor(const Url& reportFile) {
    std::string name = reportFile.lastPathComponent();
    if (endsWith(name, reportExtension)) {
        name.resize(name.size() - reportExtension.size());
    }
    return reportFile.deletingLastPathComponent().appendingPathComponent(
        name + std::string(journalExtension));
}

TrashJournal::Fold TrashJournal::fold(TrashReport& report, std::string_view text) {
    // Only whole lines count: a record cut short by a crash has no line end yet.
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty()) {
        return Fold::none;
    }
    auto parse = [](std::string_view text) { return nlohmann::json::parse(text, nullptr, false); };
    nlohmann::json header = parse(lines[0]);
    if (header.is_discarded()) {
        return lines.size() == 1 ? Fold::none : Fold::foreign;
    }
    auto named = header.find("report");
    if (!header.is_object() || named == header.end() || !named->is_string() ||
        named->get<std::string>() != report.id.uuidString()) {
        return Fold::foreign;
    }
    std::vector<TrashOutcome> outcomes = report.outcomes;
    bool applied = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        nlohmann::json record = parse(lines[i]);
        if (record.is_discarded()) {
            // Bytes of a last record that reached the disk only in part.
            if (i + 1 == lines.size()) {
                break;
            }
            return Fold::foreign;
        }
        try {
            const auto index = record.at("index").get<std::int64_t>();
            if (index < 0 || static_cast<size_t>(index) >= outcomes.size()) {
                return Fold::foreign;
            }
            TrashOutcome outcome = record.at("outcome").get<TrashOutcome>();
            TrashOutcome& target = outcomes[static_cast<size_t>(index)];
            if (!(outcome.originalURL == target.originalURL) ||
                outcome.logicalSize != target.logicalSize) {
                return Fold::foreign;
            }
            target = std::move(outcome);
            applied = true;
        } catch (const std::exception&) {
            return Fold::foreign;
        }
    }
    if (!applied) {
        return Fold::none;
    }
    report.outcomes = std::move(outcomes);
    return Fold::folded;
}

std::string TrashJournal::foreignNote(const Url& journalFile) {
    return "The journal " + PathText::displayable(journalFile.path()) +
           " does not belong to this report; it was left as it is and not read.";
}

void TrashJournal::settle(const Url& folder) {
    Platform& platform = Platform::current();
    std::vector<Url> entries;
    try {
        entries = platform.contentsOfDirectory(folder);
    } catch (const std::exception&) {
        return;
    }
    for (const Url& journal : entries) {
        const std::string name = journal.lastPathComponent();
        if (!endsWith(name, journalExtension)) {
            continue;
        }
        const Url reportFile = folder.appendingPathComponent(
            name.substr(0, name.size() - journalExtension.size()) + std::string(reportExtension));
        try {
            TrashReport report = TrashReport::decode(platform.readFile(reportFile));
            switch (fold(report, platform.readFile(journal))) {
            case Fold::foreign:
                continue;
            case Fold::folded:
                TrashService::save(report, reportFile);
                break;
            case Fold::none:
                break;
            }
            removeJournal(journal);
        } catch (const std::exception&) {
            // Left for readers to fold, and for the next operation to try again.
        }
    }
}

TrashJournal::TrashJournal(const Url& reportFile)
    : reportFile_(reportFile), file_(fileFor(reportFile)) {}

void TrashJournal::record(const TrashReport& report, std::size_t index, bool flush) {
    Platform& platform = Platform::current();
    nlohmann::json record = {
        {"index", index},
        {"at", referenceSeconds(std::chrono::system_clock::now())},
        {"outcome", report.outcomes.at(index)},
    };
    if (!started_) {
        started_ = true;
        try {
            // The first record comes with the line naming the report, in one write.
            platform.appendRecord(file_, line({{"report", report.id.uuidString()}}) + line(record),
                                  true, flush);
            journalled_ = true;
            recorded_ = true;
            return;
        } catch (const std::exception&) {
            // Whole rewrites are slower but record the same; a journal already there that does not
            // fit is never replaced.
        }
    }
    if (!journalled_) {
        TrashService::save(report, reportFile_);
        recorded_ = true;
        return;
    }
    platform.appendRecord(file_, line(record), false, flush);
    recorded_ = true;
}

void TrashJournal::finish(const TrashReport& report) {
    TrashService::save(report, reportFile_);
    if (journalled_) {
        removeJournal(file_);
    }
}

} // namespace varnok

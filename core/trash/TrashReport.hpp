#pragma once

#include "core/common/Date.hpp"
#include "core/trash/TrashOutcome.hpp"
#include "core/trash/Uuid.hpp"

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// The persisted record of one cleanup run; `id` is the id of the plan that was carried out.
struct TrashReport {
    Uuid id;
    Date startedAt;
    std::optional<Date> finishedAt;
    std::vector<TrashOutcome> outcomes;
    std::optional<std::string> logWarning;

    std::int64_t movedCount() const;

    // A history file's text as a report. Text that is not JSON, or not a report, throws
    // DecodingError with a message for people, never the JSON reader's own text.
    static TrashReport decode(std::string_view text);
};

// History file dates: seconds, with fraction, since 2001-01-01 00:00:00 UTC.
double referenceSeconds(Date date);
Date dateFromReferenceSeconds(double seconds);

// The history file format: absent optionals are left out; on reading, unknown keys are ignored and
// a missing or malformed required member throws DecodingError.
void to_json(nlohmann::json& json, const TrashOutcome& outcome);
void from_json(const nlohmann::json& json, TrashOutcome& outcome);
void to_json(nlohmann::json& json, const TrashReport& report);
void from_json(const nlohmann::json& json, TrashReport& report);

} // namespace varnok

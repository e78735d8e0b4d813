#include "core/trash/TrashReport.hpp"

#include "core/common/DecodingError.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace varnok {

namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr double referenceEpoch = 978307200.0;
// Far beyond any real date, and well inside what a nanosecond clock can hold.
constexpr double maximumReferenceSeconds = 1.0e11;

constexpr std::string_view statusNames[] = {"notAttempted", "moving",    "moved",
                                            "failed",       "restoring", "restored"};

const nlohmann::json* member(const nlohmann::json& object, const char* key, bool required,
                             const char* type) {
    auto it = object.find(key);
    // An optional member written as null is absent too, as other JSON writers may store it.
    if (it == object.end() || (!required && it->is_null())) {
        if (required) {
            throw DecodingError(std::string(type) + " is missing \"" + key + "\".");
        }
        return nullptr;
    }
    return &*it;
}

void requireObject(const nlohmann::json& json, const char* type) {
    if (!json.is_object()) {
        throw DecodingError(std::string(type) + " is not a JSON object.");
    }
}

std::string stringValue(const nlohmann::json& value, const char* key) {
    if (!value.is_string()) {
        throw DecodingError(std::string("\"") + key + "\" is not a string.");
    }
    return value.get<std::string>();
}

Date dateValue(const nlohmann::json& value, const char* key) {
    if (!value.is_number()) {
        throw DecodingError(std::string("\"") + key + "\" is not a number.");
    }
    double seconds = value.get<double>();
    if (!std::isfinite(seconds) || std::fabs(seconds) > maximumReferenceSeconds) {
        throw DecodingError(std::string("\"") + key + "\" is not a usable date.");
    }
    return dateFromReferenceSeconds(seconds);
}

Url fileUrlValue(const nlohmann::json& value, const char* key) {
    auto url = Url::parse(stringValue(value, key));
    if (!url || !url->isFileUrl()) {
        throw DecodingError(std::string("\"") + key + "\" is not a file URL.");
    }
    return *url;
}

std::int64_t integerValue(const nlohmann::json& value, const char* key) {
    if (value.is_number_unsigned()) {
        auto raw = value.get<std::uint64_t>();
        if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw DecodingError(std::string("\"") + key + "\" is out of range.");
        }
        return static_cast<std::int64_t>(raw);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    throw DecodingError(std::string("\"") + key + "\" is not an integer.");
}

} // namespace

std::string_view storedText(TrashStatus status) {
    return statusNames[static_cast<size_t>(status)];
}

std::optional<TrashStatus> trashStatusFromStoredText(std::string_view text) {
    for (size_t i = 0; i < std::size(statusNames); ++i) {
        if (statusNames[i] == text) {
            return static_cast<TrashStatus>(i);
        }
    }
    return std::nullopt;
}

std::int64_t TrashReport::movedCount() const {
    return std::count_if(outcomes.begin(), outcomes.end(), [](const TrashOutcome& outcome) {
        return outcome.status == TrashStatus::moved;
    });
}

double referenceSeconds(Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count() - referenceEpoch;
}

Date dateFromReferenceSeconds(double seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(
        std::chrono::duration<double>(seconds + referenceEpoch)));
}

void to_json(nlohmann::json& json, const TrashOutcome& outcome) {
    json = nlohmann::json::object();
    json["originalURL"] = outcome.originalURL.absoluteString();
    json["logicalSize"] = outcome.logicalSize;
    json["status"] = std::string(storedText(outcome.status));
    if (outcome.trashURL) {
        json["trashURL"] = outcome.trashURL->absoluteString();
    }
    if (outcome.message) {
        json["message"] = *outcome.message;
    }
    if (outcome.trashIdentity) {
        json["trashIdentity"] = *outcome.trashIdentity;
    }
    if (outcome.restoredAt) {
        json["restoredAt"] = referenceSeconds(*outcome.restoredAt);
    }
    if (outcome.originalParentIdentity) {
        json["originalParentIdentity"] = *outcome.originalParentIdentity;
    }
}

void from_json(const nlohmann::json& json, TrashOutcome& outcome) {
    constexpr const char* type = "TrashOutcome";
    requireObject(json, type);
    TrashOutcome decoded;
    decoded.originalURL = fileUrlValue(*member(json, "originalURL", true, type), "originalURL");
    decoded.logicalSize = integerValue(*member(json, "logicalSize", true, type), "logicalSize");
    auto status =
        trashStatusFromStoredText(stringValue(*member(json, "status", true, type), "status"));
    if (!status) {
        throw DecodingError("\"status\" is not a known status.");
    }
    decoded.status = *status;
    if (auto value = member(json, "trashURL", false, type)) {
        decoded.trashURL = fileUrlValue(*value, "trashURL");
    }
    if (auto value = member(json, "message", false, type)) {
        decoded.message = stringValue(*value, "message");
    }
    if (auto value = member(json, "trashIdentity", false, type)) {
        decoded.trashIdentity = value->get<FileIdentity>();
    }
    if (auto value = member(json, "restoredAt", false, type)) {
        decoded.restoredAt = dateValue(*value, "restoredAt");
    }
    if (auto value = member(json, "originalParentIdentity", false, type)) {
        decoded.originalParentIdentity = value->get<FileIdentity>();
    }
    outcome = std::move(decoded);
}

void to_json(nlohmann::json& json, const TrashReport& report) {
    json = nlohmann::json::object();
    json["id"] = report.id.uuidString();
    json["startedAt"] = referenceSeconds(report.startedAt);
    if (report.finishedAt) {
        json["finishedAt"] = referenceSeconds(*report.finishedAt);
    }
    json["outcomes"] = report.outcomes;
    if (report.logWarning) {
        json["logWarning"] = *report.logWarning;
    }
}

void from_json(const nlohmann::json& json, TrashReport& report) {
    constexpr const char* type = "TrashReport";
    requireObject(json, type);
    TrashReport decoded;
    auto id = Uuid::parse(stringValue(*member(json, "id", true, type), "id"));
    if (!id) {
        throw DecodingError("\"id\" is not a UUID.");
    }
    decoded.id = *id;
    decoded.startedAt = dateValue(*member(json, "startedAt", true, type), "startedAt");
    if (auto value = member(json, "finishedAt", false, type)) {
        decoded.finishedAt = dateValue(*value, "finishedAt");
    }
    const auto& outcomes = *member(json, "outcomes", true, type);
    if (!outcomes.is_array()) {
        throw DecodingError("\"outcomes\" is not an array.");
    }
    for (const auto& outcome : outcomes) {
        decoded.outcomes.push_back(outcome.get<TrashOutcome>());
    }
    if (auto value = member(json, "logWarning", false, type)) {
        decoded.logWarning = stringValue(*value, "logWarning");
    }
    report = std::move(decoded);
}

TrashReport TrashReport::decode(std::string_view text) {
    const std::string damaged = "The cleanup report is damaged and cannot be read: ";
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        throw DecodingError(damaged + "it is not valid JSON (at byte " +
                            std::to_string(error.byte) + ").");
    }
    try {
        return json.get<TrashReport>();
    } catch (const DecodingError& error) {
        throw DecodingError(damaged + error.what());
    } catch (const nlohmann::json::exception&) {
        throw DecodingError(damaged + "it is not a cleanup report.");
    }
}

} // namespace varnok

#include "core/duplicates/DuplicateResultJson.hpp"

#include "core/scan/FileNodeJson.hpp"

#include <nlohmann/json.hpp>

namespace varnok {

void to_json(nlohmann::json& json, const DuplicateGroup& group) {
    json = nlohmann::json::object();
    json["id"] = group.id().absoluteString();
    json["extraSize"] = group.extraSize();
    json["files"] = group.files;
}

void to_json(nlohmann::json& json, const DuplicateResult& result) {
    json = nlohmann::json::object();
    json["groups"] = result.groups;
    json["hashedFiles"] = result.hashedFiles;
    json["bytesHashed"] = result.bytesHashed;
    nlohmann::json skipped = nlohmann::json::array();
    for (const Url& url : result.skippedFiles) {
        skipped.push_back(url.absoluteString());
    }
    json["skippedFiles"] = std::move(skipped);
    json["leftOutByPolicy"] = result.policyLeftOutFiles;
    json["duration"] = result.duration;
    json["extraSize"] = result.extraSize();
}

} // namespace varnok

#pragma once

#include "core/scan/ScanResult.hpp"

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace varnok {

// JSON forms of the scan types, members named as the fields: `id` is the absolute URL text,
// `identity` is left out when absent, `children` are nested; "repeatedLink" is there, true, only
// on a later path of a file with several hard links.
void to_json(nlohmann::json& json, const FileNode& node);
void to_json(nlohmann::json& json, const ScanResult& result);

// Writes a ScanResult as JSON in pieces through `sink` without building the document in memory,
// for trees of millions of nodes. Parses to the same document as to_json.
void writeScanResultJson(const ScanResult& result,
                         const std::function<void(std::string_view)>& sink);

} // namespace varnok

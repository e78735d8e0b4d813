#pragma once

#include "core/duplicates/DuplicateEngine.hpp"

#include <nlohmann/json_fwd.hpp>

namespace varnok {

// JSON forms of the duplicate search's results, members named as the fields, with the derived
// `id` and `extraSize` included. Files are nodes as the scan writes them; URLs are their text.
void to_json(nlohmann::json& json, const DuplicateGroup& group);
void to_json(nlohmann::json& json, const DuplicateResult& result);

} // namespace varnok

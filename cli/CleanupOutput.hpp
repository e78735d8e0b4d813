#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Url.hpp"

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace ombrelo::cli {

// The candidates grouped by category in category order, each with its size, `label`, path,
// evidence and (when given) the applications that must be closed first.
void printCandidateGroups(
    const std::vector<varnok::CleanupCandidate>& candidates,
    const std::function<std::string(const varnok::CleanupCandidate&)>& label,
    const std::function<std::vector<std::string>(const varnok::CleanupCandidate&)>& runningApps);

// `document` indented by two spaces a level, as nlohmann's dump(2), but written without recursion
// and with the indentation capped, so that a folder chain of any depth stays linear in size.
std::string indentedJson(const nlohmann::json& document);

} // namespace ombrelo::cli

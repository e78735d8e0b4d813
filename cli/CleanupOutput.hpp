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

// One suggestion as a flat JSON record: path, url, title, category, isDirectory, logicalSize,
// allocatedSize, fileCount, modified (ISO 8601), evidence, projectPath, owners (the applications
// whose data it is) and keeper (the copy that stays, for duplicates). With `tree`, also "tree":
// the whole scanned file tree.
nlohmann::json candidateJson(const varnok::CleanupCandidate& candidate, const std::string& title,
                             const std::vector<std::string>& owners, bool tree);

// `document` indented by two spaces a level, as nlohmann's dump(2), but written without recursion
// and with the indentation capped, so that a folder chain of any depth stays linear in size.
std::string indentedJson(const nlohmann::json& document);

} // namespace ombrelo::cli

#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Url.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ombrelo::cli {

// An absolute, standardised folder URL for a path from the command line (relative to the current
// folder); symbolic links are kept so that the core can judge them. Throws UsageError.
varnok::Url folderArgument(const std::string& operand, const std::string& what);
// Prints why `path` cannot be used as a folder and returns true, or returns false when it can.
bool reportUnusableFolder(const std::string& path);

// The candidates grouped by category in category order, each with its size, `label`, path,
// evidence and (when given) the applications that must be closed first.
void printCandidateGroups(
    const std::vector<varnok::CleanupCandidate>& candidates,
    const std::function<std::string(const varnok::CleanupCandidate&)>& label,
    const std::function<std::vector<std::string>(const varnok::CleanupCandidate&)>& runningApps);

// Flushes stdout; prints a message and returns false when the output could not be written.
bool finishOutput();

} // namespace ombrelo::cli

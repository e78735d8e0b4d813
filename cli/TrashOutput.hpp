#pragma once

#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"

#include <functional>
#include <string>

namespace ombrelo::cli {

// The label a user reads for an item's state ("Sent to Trash", "Not moved", ...).
std::string statusLabel(varnok::TrashStatus status);
// Local time, "2026-12-06 09:41:07".
std::string localTime(varnok::Date date);
// A report's items, each with its label, size, original path, place in the Trash and message,
// then the report's warning. Titles come from the known locations under `home`. `note`, when
// given, adds a line under each item.
void printOutcomes(const varnok::TrashReport& report, const varnok::Url& home,
                   const std::function<std::string(const varnok::TrashOutcome&)>& note = {});

} // namespace ombrelo::cli

#pragma once

#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"
#include "core/trash/TrashService.hpp"

#include <functional>
#include <string>
#include <vector>

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

// "2 of 3 items moved", and ", 1 restored since" when some have been put back: what the run did,
// whatever happened to the items later.
std::string movedSummary(const varnok::TrashReport& report);
// The bytes of the items these reports moved that are still in the Trash.
std::int64_t bytesStillInTrash(const std::vector<varnok::TrashReport>& reports);
// How much Ombrelo's cleanups hold in the Trash and how that space is freed.
void printTrashTotal(std::int64_t bytes);
// The progress line of a move or restore: "Moving to the Trash: 12 of 300 items, 4 MB of 80 MB
// <current item>".
std::string movingText(const std::string& doing, const varnok::TrashProgress& step);

} // namespace ombrelo::cli

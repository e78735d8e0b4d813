#pragma once

#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"

#include <map>
#include <string>
#include <vector>

namespace ombrelo::cli {

// A cleanup history folder as the commands read it: the reports, and what could not be read.
struct HistoryListing {
    struct Unreadable {
        std::string path;
        std::string reason;
    };
    // Newest first.
    std::vector<varnok::TrashReport> reports;
    // "*.json" files that are not readable reports, in name order.
    std::vector<Unreadable> unreadable;
    // The report files carrying each id (upper-case id text), in name order.
    std::map<std::string, std::vector<std::string>> filesByID;
};

// The history folder of --history, or the default one. A folder given with --history must be a
// readable folder; the default one may be missing (no cleanup yet). Prints why on stderr and
// returns nullopt when the folder cannot be used.
std::optional<varnok::Url> historyFolder(const std::optional<std::string>& given);

// Reads every report in `folder`; a missing folder is an empty history. Throws FileError when the
// folder cannot be listed.
HistoryListing readHistory(const varnok::Url& folder);

// Tells on stderr which files of the history could not be read; returns true when there were any.
bool reportUnreadable(const HistoryListing& listing);

} // namespace ombrelo::cli

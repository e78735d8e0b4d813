#pragma once

#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"

#include <mutex>
#include <optional>
#include <vector>

namespace varnok {

// Moving reviewed items to the Trash, the history of those moves, and putting items back.
class TrashService {
public:
    // The history of every cleanup, newest first by start time. A missing folder is an empty
    // history; files that cannot be read or decoded are skipped. Throws FileError when the
    // folder cannot be listed.
    static std::vector<TrashReport> history(const Url& folder);

    // Rewrites the report file whole: pretty-printed with sorted keys, written atomically.
    static void save(const TrashReport& report, const Url& file);

    // "<ID>.json" in `folder`, the id upper-case.
    static Url reportFile(const Url& folder, const Uuid& reportID);
    // Varnok/cleanup-history in the user's data folder ($XDG_DATA_HOME or ~/.local/share).
    static Url defaultHistoryFolder();

    // The single-operation lock shared by moves and restores. Only ever tried, never waited for:
    // the returned lock owns the mutex only when no other operation held it.
    static std::unique_lock<std::mutex> tryOperationLock();
};

} // namespace varnok

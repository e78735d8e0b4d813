#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FileIdentity.hpp"
#include "core/trash/CleanupPlan.hpp"
#include "core/trash/TrashReport.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// Moves an item to the Trash and returns where it went when known; throws when it did not move.
using TrashMover = std::function<std::optional<Url>(const Url&)>;

// How far a move to the Trash or a restore has come: told before each item (`current` is the
// item) and once at the end (`done` equals `total`, `current` empty).
struct TrashProgress {
    std::size_t done = 0;
    std::size_t total = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    Url current;
};
using TrashProgressHandler = std::function<void(const TrashProgress&)>;

// What a restore of several items of one report did.
struct TrashRestoreResult {
    // The report as it is now.
    TrashReport report;
    // For each item asked for, in order: nothing when it was put back, otherwise why not.
    std::vector<std::optional<std::string>> problems;
    // Stopped by cancellation before every item was tried.
    bool cancelled = false;
};

// Moving reviewed items to the Trash, the history of those moves, and putting items back.
class TrashService {
public:
    // Turns a selection into a reviewed plan, or throws CleanupProblem for an empty, overlapping
    // or unusable selection, a kept copy that is also selected, or the first item that no longer
    // passes `validate`.
    static CleanupPlan prepare(const std::vector<CleanupCandidate>& items, const Url& scanRoot);

    // Checks one candidate afresh against the disk and the rule that made it a candidate; throws
    // CleanupProblem with what the user should do, or the error of reading the disk.
    static void validate(const CleanupCandidate& candidate, const Url& scanRoot);
    // Path text to identity, for the node and every node below it.
    static std::map<std::string, FileIdentity> signature(const FileNode& node);

    // Moves the plan's items to the Trash one at a time, recording each step in the history
    // folder. Throws (moving nothing) when the run cannot start; once the first version of the
    // report is written, every problem is recorded in the returned report instead.
    static TrashReport execute(const CleanupPlan& plan, const Url& logDirectory,
                               const TrashMover& mover, const TrashProgressHandler& progress = {});
    static TrashReport execute(const CleanupPlan& plan, const Url& logDirectory);
    // The default mover: the platform's Trash.
    static std::optional<Url> moveToTrash(const Url& url);

    // The history of every cleanup, newest first by start time, each report with the journal of
    // an unfinished or interrupted run folded in (in memory only: reading never writes). A missing
    // folder is an empty history; files that cannot be read or decoded are skipped. Throws
    // FileError when the folder cannot be listed.
    static std::vector<TrashReport> history(const Url& folder);
    // Rewrites the report file whole: pretty-printed with sorted keys, written atomically.
    static void save(const TrashReport& report, const Url& file);

    // "<ID>.json" in `folder`, the id upper-case.
    static Url reportFile(const Url& folder, const Uuid& reportID);
    // Varnok/cleanup-history in the user's data folder ($XDG_DATA_HOME or ~/.local/share).
    static Url defaultHistoryFolder();

    // How long a reviewed plan may be carried out, in seconds.
    static constexpr double reviewLifetime = 300;

    // True only when the URL lies inside a Trash (the platform's test).
    static bool isInTrash(const Url& url);

    // Puts the item that the report `reportID` moved from `originalURL` back there, under the
    // single-operation lock, after proving that the Trash item and the original parent folder are
    // the recorded objects and that nothing is at the original path. Never overwrites anything.
    // Returns the updated report; throws CleanupProblem, FileError or CancellationError. An empty
    // check means isInTrash.
    static TrashReport restore(const Uuid& reportID, const Url& originalURL,
                               const Url& logDirectory,
                               const std::function<bool(const Url&)>& trashLocationCheck = {});

    // Puts back several items of one report under one hold of the lock, each as `restore` would,
    // writing the report once at the end. A problem with one item is recorded in the result and
    // the next item is tried; cancellation stops after the current item. Throws only when nothing
    // can start: the lock is held, or the report cannot be read.
    static TrashRestoreResult
    restore(const Uuid& reportID, const std::vector<Url>& originalURLs, const Url& logDirectory,
            const std::function<bool(const Url&)>& trashLocationCheck = {},
            const TrashProgressHandler& progress = {});

    // The final move of a restore: one exclusive rename between two folders opened by descriptor
    // and checked against the recorded identities.
    static void restoreWithoutOverwrite(const Url& source, const Url& destination,
                                        const FileIdentity& identity,
                                        const FileIdentity& parentIdentity);
};

} // namespace varnok

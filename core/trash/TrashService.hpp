#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Url.hpp"
#include "core/scan/FileIdentity.hpp"
#include "core/trash/CleanupPlan.hpp"
#include "core/trash/TrashReport.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varnok {

// Moves an item to the Trash and returns where it went when known; throws when it did not move.
using TrashMover = std::function<std::optional<Url>(const Url&)>;

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
                               const TrashMover& mover);
    static TrashReport execute(const CleanupPlan& plan, const Url& logDirectory);
    // The default mover: the platform's Trash.
    static std::optional<Url> moveToTrash(const Url& url);

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

    // The final move of a restore: one exclusive rename between two folders opened by descriptor
    // and checked against the recorded identities.
    static void restoreWithoutOverwrite(const Url& source, const Url& destination,
                                        const FileIdentity& identity,
                                        const FileIdentity& parentIdentity);
};

} // namespace varnok

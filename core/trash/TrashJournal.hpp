#pragma once

#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"

#include <cstddef>
#include <string_view>

namespace varnok {

// The transitions of a running cleanup or restore, appended one record per item beside the
// report instead of rewriting the whole report for every item, and folded into it at the end.
//
// The journal "<name>.journal" lies beside "<name>.json". Its first line names the report; every
// later line holds one outcome as it became, with its index and time. A line is flushed before the
// step it protects, so a crash leaves the report as a rewrite after every step would have; the
// record of a step's result may be lost only with power, leaving the step "interrupted".
class TrashJournal {
public:
    enum class Fold {
        // No transition to apply.
        none,
        folded,
        // A journal of another report, or with a record that does not fit this one: nothing of
        // it was applied.
        foreign,
    };

    static Url fileFor(const Url& reportFile);
    // Applies the journal `text` to `report` in memory. A torn last record is ignored.
    static Fold fold(TrashReport& report, std::string_view text);
    // The note a reader adds to a report whose journal does not belong to it.
    static std::string foreignNote(const Url& journalFile);
    // Writes every journal in `folder` into its report and removes it; journals that do not fit
    // their report, or whose report cannot be read, stay as they are. Only for a holder of the
    // single-operation lock. Never throws.
    static void settle(const Url& folder);

    // Records the transitions of the report stored in `reportFile`. The journal is created with
    // the first record; when it cannot be (a journal that does not fit is in the way), each record
    // rewrites the whole report instead. A journal left by a run that stopped stays for readers
    // to fold.
    explicit TrashJournal(const Url& reportFile);
    TrashJournal(const TrashJournal&) = delete;
    TrashJournal& operator=(const TrashJournal&) = delete;

    // Appends outcome `index` of `report` as it is now. With `flush` it is on disk before this
    // returns, with every record before it: a record that protects the step after it is flushed;
    // one that only follows a step is flushed with the next, or replaced by the final report.
    // Throws FileError.
    void record(const TrashReport& report, std::size_t index, bool flush);
    // Writes `report` whole and removes the journal. Throws when the report cannot be written;
    // the journal then stays, so readers still see every recorded transition.
    void finish(const TrashReport& report);
    // True once a transition has been recorded.
    bool recorded() const { return recorded_; }

private:
    Url reportFile_;
    Url file_;
    bool started_ = false;
    bool journalled_ = false;
    bool recorded_ = false;
};

} // namespace varnok

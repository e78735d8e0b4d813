#pragma once

#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/duplicates/DuplicateEngine.hpp"
#include "core/duplicates/KeepRule.hpp"
#include "core/trash/TrashReport.hpp"

#include <QObject>
#include <QString>
#include <QUuid>

#include <map>
#include <optional>
#include <set>

namespace varnok {

class AppModel;

// The duplicate search of a folder, the copy kept of each set and the copies chosen to move.
class DuplicatesFlow : public QObject {
    Q_OBJECT

public:
    enum class Field {
        duplicateResult,
        duplicateKeepers,
        duplicateSelection,
        isFindingDuplicates,
        duplicateProgress,
        keepRule,
    };
    Q_ENUM(Field)

    explicit DuplicatesFlow(AppModel& shell);
    ~DuplicatesFlow() override;

    const std::optional<DuplicateResult>& duplicateResult() const { return duplicateResult_; }
    // The copies the user marked as kept, by set id (its first file); other sets keep the copy
    // `keepRule` chooses.
    const std::map<Url, Url>& duplicateKeepers() const { return duplicateKeepers_; }
    const std::set<Url>& duplicateSelection() const { return duplicateSelection_; }
    bool isFindingDuplicates() const { return isFindingDuplicates_; }
    const DuplicateProgress& duplicateProgress() const { return duplicateProgress_; }
    const QUuid& duplicateRunToken() const { return duplicateRunToken_; }
    KeepRule keepRule() const { return keepRule_; }
    // The folder of the last completed search, if any.
    const std::optional<Url>& duplicateFolder() const { return duplicateFolder_; }

    // Scans `folder` and finds byte-identical files in it in the background. Refused while busy.
    void findDuplicates(const Url& folder);
    void stopFindingDuplicates();
    // Where the background search's reports land; a report of another run is dropped.
    void duplicateProgressArrived(const QUuid& token, const DuplicateProgress& progress);
    // Chooses the kept copy of every set by `rule`; the copies marked by hand are forgotten and
    // no kept copy stays selected.
    void setKeepRule(KeepRule rule);
    // Keeps `keeper` of the set whose id is `groupID`; the keeper leaves the selection.
    void chooseDuplicateKeeper(const Url& groupID, const Url& keeper);
    // Selects or deselects one copy; a keeper cannot be selected.
    void toggleDuplicate(const Url& copy);
    // Selects or deselects every copy of one set but its keeper, publishing once.
    void selectGroup(const Url& groupID, bool selected);
    // Selects every copy but the keepers, or nothing.
    void selectAllDuplicates(bool all);
    // The kept copy of a set: the one marked by hand, else the one `keepRule` chooses.
    const FileNode& duplicateKeeper(const DuplicateGroup& group) const;
    // Reviews the selected copies as a cleanup plan; confirming it moves them.
    void prepareDuplicateCleanup();

signals:
    void changed(varnok::DuplicatesFlow::Field field);

private:
    template <typename T> void publish(T& member, T value, Field field);
    void finishDuplicates(const Url& folder, DuplicateResult result);
    void applyDuplicateReport(const TrashReport& report);
    bool canChange() const;

    AppModel& shell_;
    std::optional<DuplicateResult> duplicateResult_;
    std::map<Url, Url> duplicateKeepers_;
    std::set<Url> duplicateSelection_;
    bool isFindingDuplicates_ = false;
    DuplicateProgress duplicateProgress_;
    std::optional<TaskHandle> duplicateWorker_;
    QUuid duplicateRunToken_;
    KeepRule keepRule_ = KeepRule::original;
    std::optional<Url> duplicateFolder_;
};

} // namespace varnok

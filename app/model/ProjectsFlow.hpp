#pragma once

#include "core/cleanup/CleanupCandidate.hpp"
#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/scan/ScanResult.hpp"
#include "core/trash/TrashReport.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>
#include <set>
#include <vector>

namespace varnok {

class AppModel;

// Project dependencies and build output under a folder the user picks: detection, the user's
// choice, and moving the chosen folders through the cleanup's review.
class ProjectsFlow : public QObject {
    Q_OBJECT

public:
    enum class Field {
        projectFolder,
        projectCandidates,
        projectSelection,
        isDetecting,
        projectProgress,
        projectUnreadable,
    };
    Q_ENUM(Field)

    explicit ProjectsFlow(AppModel& shell);
    ~ProjectsFlow() override;

    // The folder looked in (the home folder until the user picks another).
    const Url& projectFolder() const { return projectFolder_; }
    // What the last detection found, largest first; nothing before the first one.
    const std::optional<std::vector<CleanupCandidate>>& projectCandidates() const {
        return projectCandidates_;
    }
    const std::set<Url>& projectSelection() const { return projectSelection_; }
    bool isDetecting() const { return isDetecting_; }
    const ScanProgress& projectProgress() const { return projectProgress_; }
    // Paths the detection could not read.
    const QStringList& projectUnreadable() const { return projectUnreadable_; }

    void setProjectFolder(Url folder);

    // Scans `projectFolder` and detects dependencies and build output in it in the background.
    // Refused while busy.
    void detectProjects();
    void stopDetecting();
    // Where the background scan's reports land; a report of another run is dropped.
    void progressArrived(const QUuid& token, const ScanProgress& progress);
    void toggleProject(const Url& item);
    // Selects or deselects every item of one project, publishing once.
    void selectProject(const std::string& projectPath, bool selected);
    void selectAll(bool all);
    // Reviews the selected items as a cleanup plan; confirming it moves them.
    void prepareProjectCleanup();

signals:
    void changed(varnok::ProjectsFlow::Field field);

private:
    template <typename T> void publish(T& member, T value, Field field);
    void applyReport(const TrashReport& report);
    bool canChange() const;

    AppModel& shell_;
    Url projectFolder_;
    std::optional<std::vector<CleanupCandidate>> projectCandidates_;
    std::set<Url> projectSelection_;
    bool isDetecting_ = false;
    ScanProgress projectProgress_;
    QStringList projectUnreadable_;
    // The folder the shown result was detected in: its plans are checked against it.
    std::optional<Url> detectedFolder_;
    std::optional<TaskHandle> worker_;
    QUuid runToken_;
};

} // namespace varnok

#pragma once

#include "app/model/CleanupFlow.hpp"
#include "app/model/DuplicatesFlow.hpp"
#include "app/model/ExploreFlow.hpp"
#include "app/model/ProjectsFlow.hpp"
#include "app/model/RecoveryFlow.hpp"
#include "app/model/RememberFlow.hpp"
#include "core/common/Url.hpp"
#include "platform/Workspace.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace varnok {

// The pages of the window's navigation.
enum class AppPage { home, explore, cleanup, duplicates, largest, history, settings, projects };

// The window's shell: it owns the flows, the navigation, the messages on screen and the one rule
// that only one operation runs at a time. Each flow owns its own state and change signal, so that
// a screen observes only the flow it shows and no flow touches another's tree.
//
// Lives on the GUI thread; every operation returns at once and long work runs on background tasks.
// Observing: every published field of the shell has a getter named as the field and a setter
// `setX`; a change emits `changed(Field)` (values with an equality test only when they change).
class AppModel : public QObject {
    Q_OBJECT

public:
    enum class Field {
        page,
        homeScanLocation,
        showPathScan,
        searchFocusRequest,
        error,
        note,
        volumeTotal,
        volumeFree,
    };
    Q_ENUM(Field)

    // The desktop's services: QSettings for the defaults, D-Bus and the URL opener for the
    // workspace.
    explicit AppModel(QObject* parent = nullptr);
    // Given services, for tests and other desktops. Neither may be null.
    AppModel(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<Workspace> workspace,
             QObject* parent = nullptr);
    // Drops the task handles without cancelling them; their late results are ignored.
    ~AppModel() override;

    CleanupFlow& cleanup() { return *cleanup_; }
    const CleanupFlow& cleanup() const { return *cleanup_; }
    RecoveryFlow& recovery() { return *recovery_; }
    const RecoveryFlow& recovery() const { return *recovery_; }
    ExploreFlow& explore() { return *explore_; }
    const ExploreFlow& explore() const { return *explore_; }
    DuplicatesFlow& duplicates() { return *duplicates_; }
    const DuplicatesFlow& duplicates() const { return *duplicates_; }
    ProjectsFlow& projects() { return *projects_; }
    const ProjectsFlow& projects() const { return *projects_; }
    // The explorer's remembered scans.
    RememberFlow& remembered() { return *remembered_; }
    const RememberFlow& remembered() const { return *remembered_; }

    AppPage page() const { return page_; }
    // Folder offered for a folder scan.
    const Url& homeScanLocation() const { return homeScanLocation_; }
    // The typed-path sheet is shown.
    bool showPathScan() const { return showPathScan_; }
    // Incremented to move keyboard focus to the search field.
    int searchFocusRequest() const { return searchFocusRequest_; }
    // Error message shown to the user.
    const std::optional<QString>& error() const { return error_; }
    // Informational message shown to the user.
    const std::optional<QString>& note() const { return note_; }
    std::int64_t volumeTotal() const { return volumeTotal_; }
    std::int64_t volumeFree() const { return volumeFree_; }

    void setPage(AppPage value);
    void setHomeScanLocation(Url value);
    void setShowPathScan(bool value);
    void setSearchFocusRequest(int value);
    void setError(std::optional<QString> value);
    void setNote(std::optional<QString> value);
    void setVolumeTotal(std::int64_t value);
    void setVolumeFree(std::int64_t value);

    // A cleanup scan, the wait for applications, a prepare, move or restore, a duplicate search
    // or a project detection runs. Nothing else starts meanwhile.
    bool isBusy() const;
    // Not busy, no sheet, plan, report or message on screen.
    bool canStartCleanScan() const;

    // Shows a scanned item in the file manager. A map's group of small items and a sample item
    // (`illustrative`) get a note instead.
    void reveal(const FileNode& node, bool illustrative);
    // Shows a file (a Trash item, for one) in the file manager without those checks.
    void revealURL(const Url& url);
    // Opens the user's own Trash folder (the home Trash's files) in the file manager.
    void openTrash();
    // Whether the desktop has a page for granting access; none on an ordinary Linux desktop.
    bool canOpenAccessSettings() const;
    // Does nothing where the desktop has no such settings page.
    void openCleanAccessSettings();
    // Whether the access introduction was seen; forgetting it shows it before the next cleanup
    // scan again.
    bool accessIntroSeen() const;
    void setAccessIntroSeen(bool seen);
    // Capacity and free space of the volume holding the home folder.
    void refreshVolume();

    // Every published field of the shell and of each flow as JSON text (UTF-8), for tests and the
    // screenshot command.
    QByteArray stateJson() const;

signals:
    void changed(varnok::AppModel::Field field);
    // `isBusy` may have changed: a flow's work started or ended.
    void busyChanged();

private:
    template <typename T> void publish(T& member, T value, Field field);

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<Workspace> workspace_;
    AppPage page_ = AppPage::home;
    Url homeScanLocation_;
    bool showPathScan_ = false;
    int searchFocusRequest_ = 0;
    std::optional<QString> error_;
    std::optional<QString> note_;
    std::int64_t volumeTotal_ = 512000000000;
    std::int64_t volumeFree_ = 134000000000;
    // Created after the state above: each flow keeps a reference to this shell.
    std::unique_ptr<CleanupFlow> cleanup_;
    std::unique_ptr<RecoveryFlow> recovery_;
    std::unique_ptr<ExploreFlow> explore_;
    std::unique_ptr<DuplicatesFlow> duplicates_;
    std::unique_ptr<ProjectsFlow> projects_;
    std::unique_ptr<RememberFlow> remembered_;
};

} // namespace varnok

#pragma once

#include "core/common/Task.hpp"
#include "core/common/Url.hpp"
#include "core/trash/TrashReport.hpp"
#include "core/trash/Uuid.hpp"

#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

namespace varnok {

class AppModel;

// The history of past cleanups and putting items back from it.
class RecoveryFlow : public QObject {
    Q_OBJECT

public:
    enum class Field {
        showRecovery,
        recoveryRevision,
        cleanupHistory,
        isRestoring,
    };
    Q_ENUM(Field)

    // Called on the GUI thread when a restore has ended: nothing on success, otherwise the message
    // to show. Not called when the flow is destroyed first.
    using RestoreCompletion = std::function<void(std::optional<QString> errorMessage)>;

    explicit RecoveryFlow(AppModel& shell);
    ~RecoveryFlow() override;

    // The history sheet is shown.
    bool showRecovery() const { return showRecovery_; }
    // Replaced when what can be restored may have changed; rows check their item again.
    const QUuid& recoveryRevision() const { return recoveryRevision_; }
    const std::vector<TrashReport>& cleanupHistory() const { return cleanupHistory_; }
    // A restore runs.
    bool isRestoring() const { return isRestoring_; }
    // The original URL of the item being restored, while a restore runs.
    const std::optional<Url>& restoringURL() const { return restoringURL_; }

    void setShowRecovery(bool value);
    void setCleanupHistory(std::vector<TrashReport> value);

    // Reads the history and opens the history sheet. Refused while another operation runs.
    void loadCleanupHistory();
    // Refused at once (completion called before this returns) while another operation runs.
    void restoreItem(const Uuid& reportID, const Url& originalURL, RestoreCompletion completion);

signals:
    void changed(varnok::RecoveryFlow::Field field);

private:
    template <typename T> void publish(T& member, T value, Field field);
    void applyRestoredReport(const Uuid& reportID, const TrashReport& report);

    AppModel& shell_;
    bool showRecovery_ = false;
    QUuid recoveryRevision_;
    std::vector<TrashReport> cleanupHistory_;
    bool isRestoring_ = false;
    std::optional<Url> restoringURL_;
    std::optional<TaskHandle> worker_;
    QUuid runToken_;
};

} // namespace varnok

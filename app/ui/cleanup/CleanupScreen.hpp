#pragma once

#include "app/model/AppModel.hpp"
#include "app/ui/common/Sheet.hpp"
#include "app/ui/common/Widgets.hpp"

#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTimer>
#include <map>
#include <set>
#include <vector>

class QScrollArea;
class QVBoxLayout;

namespace ombrelo::ui {

class CategoryGroup;

// The window's content: welcome, scanning, working and results, with the status line above
// them. It only reads the model and calls its operations.
class CleanupScreen : public QWidget {
    Q_OBJECT
public:
    enum class State { welcome, scanning, working, results };

    explicit CleanupScreen(varnok::AppModel& model, QWidget* parent = nullptr);

    State state() const { return state_; }
    // Rows shown per category when nothing was asked for.
    static constexpr int defaultRowLimit = 100;

    // Screen state, readable for tests and pictures.
    QLabel* statusLine;
    // Welcome.
    QPushButton* scanButton;
    QPushButton* recoverLink;
    // Scanning.
    QLabel* scanTitle;
    QLabel* scanCount;
    QLabel* scanPath;
    QPushButton* cancelScanButton;
    // Working.
    QLabel* workTitle;
    QLabel* workProgress;
    QPushButton* stopButton;
    // Results.
    QLabel* resultsTitle;
    QLabel* readyLine;
    QLabel* guidance;
    QWidget* staleBanner;
    QPushButton* scanAgainButton;
    QPushButton* unreadableToggle;
    QWidget* unreadableDetails;
    // The folders that could not be checked, inside the details.
    QLabel* unreadableList;
    QPushButton* accessSettingsButton;
    QWidget* nothingToReview;
    QLabel* nothingText;
    QLabel* aboutText;
    QLabel* selectedCount;
    QLabel* selectedSize;
    QPushButton* selectAvailableButton;
    QPushButton* clearButton;
    QPushButton* recoverButton;
    QPushButton* reviewButton;

    std::vector<CategoryGroup*> groups() const;
    CategoryGroup* group(varnok::CleanupCategory category) const;
    // The open-apps confirmation, while it is shown.
    Alert* closeAppsConfirmation() const { return closeConfirmation_; }
    void setDetailsShown(bool shown);

    // Group state kept by the screen across model changes.
    void setExpanded(varnok::CleanupCategory category, bool expanded);
    void showMoreRows(varnok::CleanupCategory category);
    void askToCloseApps(varnok::CleanupCategory category);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildWelcome();
    QWidget* buildScanning();
    QWidget* buildWorking();
    QWidget* buildResults();
    void sync();
    void syncResults();
    void syncCloseConfirmation();

    varnok::AppModel& model_;
    State state_ = State::welcome;
    QWidget* statusBox_;
    QStackedWidget* pages_;
    QWidget* welcomePage_;
    QWidget* scanningPage_;
    QWidget* workingPage_;
    QWidget* resultsPage_;
    QWidget* groupsBox_;
    QVBoxLayout* groupsLayout_;
    std::map<varnok::CleanupCategory, CategoryGroup*> groups_;
    QWidget* aboutBox_;
    QTimer refresh_;

    std::set<varnok::CleanupCategory> expanded_;
    std::map<varnok::CleanupCategory, int> rowLimits_;
    bool shownLimits_ = false;
    std::vector<varnok::CleanupAppSession> pendingCloseApps_;
    QPointer<Alert> closeConfirmation_;
    QString closeAppsTitle_;
    bool closingConfirmation_ = false;
};

} // namespace ombrelo::ui

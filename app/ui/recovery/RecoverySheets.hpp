#pragma once

#include "app/model/AppModel.hpp"
#include "app/ui/common/Sheet.hpp"
#include "app/ui/common/Widgets.hpp"
#include "core/trash/RecoveryAvailability.hpp"

#include <QButtonGroup>
#include <QPointer>

namespace ombrelo::ui {

// One outcome of a cleanup with its status, its recovery availability (checked in the
// background) and the restore control. Restore questions and results are asked on `host`, the
// sheet, so that they outlive the row when the list is redrawn.
class OutcomeRow : public QWidget {
    Q_OBJECT
public:
    OutcomeRow(varnok::AppModel& model, QWidget* host, varnok::Uuid reportID,
               varnok::TrashOutcome outcome, QWidget* parent);
    // Enables the controls from the model's state.
    void update();
    // Asks the availability again.
    void checkAvailability();

    const varnok::TrashOutcome& outcome() const { return outcome_; }
    const std::optional<varnok::RecoveryAvailability>& availability() const {
        return availability_;
    }
    QLabel* title;
    QLabel* size;
    QLabel* status;
    QLabel* availabilityLine;
    // Why an item was not moved, when the move said so.
    QLabel* reasonLine;
    QPushButton* showInTrash;
    QPushButton* restore;

private:
    void askToRestore();

    varnok::AppModel& model_;
    QPointer<QWidget> host_;
    varnok::Uuid reportID_;
    varnok::TrashOutcome outcome_;
    std::optional<varnok::RecoveryAvailability> availability_;
    // Answers of older checks are dropped.
    int check_ = 0;
};

// Shared by the result and history sheets: the rows of outcomes, rebuilt when the history or the
// recovery state changes and kept up to date otherwise.
class OutcomeSheet : public Sheet {
    Q_OBJECT
public:
    OutcomeSheet(varnok::AppModel& model, QWidget* parent, const QString& objectName);
    std::vector<OutcomeRow*> rows() const;
    // The dialog asking to confirm a restore, or telling its result, while one is open.
    Alert* openQuestion() const;

protected:
    OutcomeRow* addRow(QLayout* layout, const varnok::Uuid& reportID,
                       const varnok::TrashOutcome& outcome);
    virtual void rebuild() = 0;
    virtual void refresh();
    varnok::AppModel& model_;
    // The rows of the list as last drawn.
    std::vector<QPointer<OutcomeRow>> rows_;
};

class ResultSheet : public OutcomeSheet {
    Q_OBJECT
public:
    ResultSheet(varnok::AppModel& model, QWidget* parent);
    QLabel* titleLabel;
    QLabel* summary;
    QPushButton* openTrash;
    QPushButton* doneButton;

protected:
    void rebuild() override;

private:
    QVBoxLayout* rowsLayout_;
};

class HistorySheet : public OutcomeSheet {
    Q_OBJECT
public:
    enum class Filter { all, inTrash, restored };
    HistorySheet(varnok::AppModel& model, QWidget* parent);
    void setFilter(Filter filter);
    Filter filter() const { return filter_; }

    QWidget* filterPicker;
    QPushButton* filterButtons[3];
    QPushButton* refreshButton;
    QWidget* emptyState;
    QLabel* emptyTitle;
    QLabel* emptyText;
    QWidget* restoringLine;
    QPushButton* doneButton;

protected:
    void rebuild() override;
    void refresh() override;

private:
    Filter filter_ = Filter::all;
    QWidget* list_;
    QVBoxLayout* listLayout_;
};

} // namespace ombrelo::ui

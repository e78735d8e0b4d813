#include "app/ui/recovery/RecoverySheets.hpp"

#include "app/ui/common/UiText.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QProgressBar>
#include <QScrollArea>
#include <QThreadPool>
#include <chrono>

namespace ombrelo::ui {
namespace {

QString startTime(varnok::Date date) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch());
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms.count()), QLocale::LongFormat);
}

bool kept(HistorySheet::Filter filter, varnok::TrashStatus status) {
    switch (filter) {
    case HistorySheet::Filter::all:
        return true;
    case HistorySheet::Filter::inTrash:
        return status == varnok::TrashStatus::moved;
    case HistorySheet::Filter::restored:
        return status == varnok::TrashStatus::restored;
    }
    return true;
}

QWidget* scrolled(QWidget* content, QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    return scroll;
}

} // namespace

OutcomeRow::OutcomeRow(varnok::AppModel& model, QWidget* host, varnok::Uuid reportID,
                       varnok::TrashOutcome outcome, QWidget* parent)
    : QWidget(parent), model_(model), host_(host), reportID_(reportID),
      outcome_(std::move(outcome)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* head = new QHBoxLayout;
    head->setSpacing(10);
    title = makeLabel(qs(varnok::PathText::displayable(varnok::ConsumerCleanup::title(
                          outcome_.originalURL, model.cleanup().cleanHome()))),
                      TextRole::strong, this);
    head->addWidget(title);
    status = makeLabel(statusLabel(outcome_.status),
                       statusIsPositive(outcome_.status) ? TextRole::positive : TextRole::secondary,
                       this);
    status->setWordWrap(false);
    head->addWidget(status);
    head->addStretch(1);
    texts->addLayout(head);
    auto* path =
        new PathLabel(QString(), qs(varnok::PathText::displayable(outcome_.originalURL.path())),
                      TextRole::caption, this);
    texts->addWidget(path);
    reasonLine = makeLabel(QString(), TextRole::warning, this);
    reasonLine->setObjectName(QStringLiteral("reasonLine"));
    const bool notMoved = outcome_.status == varnok::TrashStatus::failed ||
                          outcome_.status == varnok::TrashStatus::notAttempted;
    if (notMoved && outcome_.message && !outcome_.message->empty()) {
        reasonLine->setText(qs(varnok::PathText::displayable(*outcome_.message)));
    } else if (outcome_.status == varnok::TrashStatus::notAttempted) {
        reasonLine->setText(tr("The cleanup stopped before this item."));
    }
    reasonLine->setVisible(!reasonLine->text().isEmpty());
    texts->addWidget(reasonLine);
    availabilityLine = makeLabel(tr("Checking recovery\u2026"), TextRole::secondary, this);
    texts->addWidget(availabilityLine);
    layout->addLayout(texts, 1);

    size = makeLabel(formatSize(outcome_.logicalSize), TextRole::body, this);
    size->setWordWrap(false);
    layout->addWidget(size, 0, Qt::AlignTop);
    showInTrash = makeButton(tr("Show in Trash"), this);
    setButtonSymbol(showInTrash, "arrow.forward");
    showInTrash->hide();
    // Rows with and without the button keep their sizes in one column.
    QSizePolicy keepPlace = showInTrash->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    showInTrash->setSizePolicy(keepPlace);
    layout->addWidget(showInTrash, 0, Qt::AlignTop);
    restore = makeButton(tr("Restore"), this);
    restore->setToolTip(outcome_.trashIdentity
                            ? tr("Move back to the original path without overwriting anything")
                            : tr("Older history entry: restore manually in your file manager"));
    restore->setAccessibleDescription(restore->toolTip());
    restore->setAccessibleName(tr("Restore %1").arg(title->text()));
    layout->addWidget(restore, 0, Qt::AlignTop);

    connect(showInTrash, &QPushButton::clicked, this, [this] {
        if (outcome_.trashURL) {
            model_.revealURL(*outcome_.trashURL);
        }
    });
    connect(restore, &QPushButton::clicked, this, &OutcomeRow::askToRestore);
    update();
    checkAvailability();
}

void OutcomeRow::update() {
    using State = varnok::RecoveryAvailability::State;
    // Nothing to put back: the item is back already, or it never moved.
    const bool nothingToRestore =
        outcome_.status == varnok::TrashStatus::restored ||
        (availability_ && (availability_->state == State::alreadyRestored ||
                           availability_->state == State::notMoved));
    restore->setEnabled(!model_.isBusy() && outcome_.trashIdentity.has_value() &&
                        outcome_.originalParentIdentity.has_value() && !nothingToRestore);
}

void OutcomeRow::checkAvailability() {
    int check = ++check_;
    availability_.reset();
    availabilityLine->setText(tr("Checking recovery\u2026"));
    showInTrash->hide();
    QPointer<OutcomeRow> row(this);
    varnok::TrashOutcome outcome = outcome_;
    QThreadPool::globalInstance()->start([row, outcome, check] {
        varnok::RecoveryAvailability answer = varnok::RecoveryAvailability::inspect(outcome);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [row, answer, check] {
                if (!row || row->check_ != check) {
                    return;
                }
                row->availability_ = answer;
                row->availabilityLine->setText(qs(answer.message));
                row->showInTrash->setVisible(answer.canRevealInTrash &&
                                             row->outcome_.trashURL.has_value());
                row->update();
            },
            Qt::QueuedConnection);
    });
}

void OutcomeRow::askToRestore() {
    auto* box =
        new Alert(host_ ? host_.data() : window(), QStringLiteral("restoreQuestion"),
                  "clock.arrow.circlepath", tr("Restore to the original location?"), QString());
    box->addAction(tr("Cancel"), false);
    QPushButton* yes = box->addAction(tr("Restore"), true);
    box->setDefaultButton(yes);
    box->setAttribute(Qt::WA_DeleteOnClose);
    varnok::AppModel* model = &model_;
    QPointer<QWidget> host = host_;
    varnok::Uuid reportID = reportID_;
    varnok::Url url = outcome_.originalURL;
    connect(box, &QDialog::finished, box, [=] {
        if (box->clicked() != yes) {
            return;
        }
        // The row may be redrawn while the restore runs; the sheet keeps the answer.
        model->recovery().restoreItem(reportID, url, [host](std::optional<QString> failure) {
            if (!failure || !host) {
                return;
            }
            auto* result = new Alert(
                host, QStringLiteral("restoreResult"), "exclamationmark.triangle",
                tr("Restore result"),
                *failure + tr("\n\nAn existing file or folder will never be overwritten."));
            result->setWindowTitle(tr("Restore result"));
            result->setDefaultButton(result->addAction(tr("OK"), true));
            result->setAttribute(Qt::WA_DeleteOnClose);
            result->open();
        });
    });
    box->open();
}

OutcomeSheet::OutcomeSheet(varnok::AppModel& model, QWidget* parent, const QString& objectName)
    : Sheet(parent, objectName), model_(model) {
    using varnok::CleanupFlow;
    using varnok::RecoveryFlow;
    connect(&model_.recovery(), &RecoveryFlow::changed, this, [this](RecoveryFlow::Field field) {
        if (field == RecoveryFlow::Field::cleanupHistory ||
            field == RecoveryFlow::Field::recoveryRevision) {
            rebuild();
        } else {
            refresh();
        }
    });
    connect(&model_.cleanup(), &CleanupFlow::changed, this, [this](CleanupFlow::Field field) {
        if (field == CleanupFlow::Field::cleanupReport) {
            rebuild();
        }
    });
    connect(&model_, &varnok::AppModel::busyChanged, this, [this] { refresh(); });
}

std::vector<OutcomeRow*> OutcomeSheet::rows() const {
    std::vector<OutcomeRow*> found;
    for (const QPointer<OutcomeRow>& row : rows_) {
        if (row) {
            found.push_back(row);
        }
    }
    return found;
}

Alert* OutcomeSheet::openQuestion() const {
    for (Alert* box : findChildren<Alert*>()) {
        if (box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

OutcomeRow* OutcomeSheet::addRow(QLayout* layout, const varnok::Uuid& reportID,
                                 const varnok::TrashOutcome& outcome) {
    auto* row = new OutcomeRow(model_, this, reportID, outcome, layout->parentWidget());
    layout->addWidget(row);
    rows_.push_back(row);
    return row;
}

void OutcomeSheet::refresh() {
    for (OutcomeRow* row : rows()) {
        row->update();
    }
}

namespace {

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

} // namespace

ResultSheet::ResultSheet(varnok::AppModel& model, QWidget* parent)
    : OutcomeSheet(model, parent, QStringLiteral("result")) {
    setMinimumSize(800, 600);
    titleLabel = makeLabel(QString(), TextRole::title, this);
    content()->addWidget(titleLabel);
    summary = makeLabel(QString(), TextRole::heading, this);
    content()->addWidget(summary);
    auto* trashRow = new QHBoxLayout;
    trashRow->addWidget(
        makeLabel(tr("To free the space, empty Trash in your file manager when you are sure. "
                     "Until then, you can restore these files."),
                  TextRole::secondary, this),
        1);
    openTrash = makeButton(tr("Open Trash"), this);
    setButtonSymbol(openTrash, "trash");
    trashRow->addWidget(openTrash, 0, Qt::AlignTop);
    content()->addLayout(trashRow);
    auto* list = new QWidget;
    rowsLayout_ = new QVBoxLayout(list);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    auto* holder = new QWidget;
    auto* holderLayout = new QVBoxLayout(holder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    auto* card = new Card(holder);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(4, 4, 4, 4);
    cardLayout->addWidget(list);
    holderLayout->addWidget(card);
    holderLayout->addStretch(1);
    content()->addWidget(scrolled(holder, this), 1);
    doneButton = addButton(tr("Done"));
    setDefaultButton(doneButton);
    connect(openTrash, &QPushButton::clicked, this, [this] { model_.openTrash(); });
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
    rebuild();
}

void ResultSheet::rebuild() {
    if (!model_.cleanup().cleanupReport()) {
        return;
    }
    const auto& report = *model_.cleanup().cleanupReport();
    bool allMoved = !report.outcomes.empty();
    int inTrash = 0;
    int restored = 0;
    for (const auto& outcome : report.outcomes) {
        allMoved = allMoved && outcome.status == varnok::TrashStatus::moved;
        inTrash += outcome.status == varnok::TrashStatus::moved ? 1 : 0;
        restored += outcome.status == varnok::TrashStatus::restored ? 1 : 0;
    }
    titleLabel->setText(allMoved ? tr("Moved to Trash") : tr("Cleanup results"));
    QString text = tr("%1 in Trash").arg(inTrash);
    if (restored > 0) {
        text += QStringLiteral(" \u00b7 ") + tr("%1 restored.").arg(restored);
    }
    summary->setText(text);
    clearLayout(rowsLayout_);
    rows_.clear();
    bool first = true;
    for (const auto& outcome : report.outcomes) {
        if (!first) {
            rowsLayout_->addWidget(makeSeparator(rowsLayout_->parentWidget()));
        }
        first = false;
        addRow(rowsLayout_, report.id, outcome);
    }
}

HistorySheet::HistorySheet(varnok::AppModel& model, QWidget* parent)
    : OutcomeSheet(model, parent, QStringLiteral("history")) {
    setMinimumSize(880, 680);
    auto* top = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(makeLabel(tr("Recover files"), TextRole::title, this));
    titles->addWidget(makeLabel(tr("See what moved and bring a file back when you need it."),
                                TextRole::secondary, this));
    top->addLayout(titles, 1);
    refreshButton = makeButton(tr("Refresh"), this);
    setButtonSymbol(refreshButton, "arrow.clockwise");
    top->addWidget(refreshButton, 0, Qt::AlignTop);
    content()->addLayout(top);

    filterPicker = new QWidget(this);
    filterPicker->setAccessibleName(tr("History filter"));
    auto* pickerLayout = new QHBoxLayout(filterPicker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(0);
    auto* group = new QButtonGroup(this);
    const QString labels[3] = {tr("All"), tr("In Trash"), tr("Restored")};
    for (int i = 0; i < 3; ++i) {
        filterButtons[i] = makeButton(labels[i], filterPicker);
        filterButtons[i]->setCheckable(true);
        filterButtons[i]->setMinimumWidth(90);
        group->addButton(filterButtons[i], i);
        pickerLayout->addWidget(filterButtons[i]);
    }
    pickerLayout->addStretch(1);
    content()->addWidget(filterPicker);

    restoringLine = new QWidget(this);
    auto* restoringLayout = new QHBoxLayout(restoringLine);
    restoringLayout->setContentsMargins(0, 0, 0, 0);
    auto* spinner = new QProgressBar(restoringLine);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setMaximumSize(120, 8);
    restoringLayout->addWidget(spinner);
    restoringLayout->addWidget(
        makeLabel(tr("Restoring your file\u2026"), TextRole::body, restoringLine), 1);
    restoringLine->hide();
    content()->addWidget(restoringLine);

    emptyState = new Card(this);
    auto* emptyLayout = new QVBoxLayout(emptyState);
    emptyLayout->setContentsMargins(20, 28, 20, 28);
    emptyLayout->addWidget(
        new SymbolView("clock.arrow.circlepath", 40, TextRole::secondary, emptyState), 0,
        Qt::AlignHCenter);
    emptyTitle = makeLabel(QString(), TextRole::heading, emptyState);
    emptyTitle->setAlignment(Qt::AlignHCenter);
    emptyText = makeLabel(QString(), TextRole::secondary, emptyState);
    emptyText->setAlignment(Qt::AlignHCenter);
    emptyLayout->addWidget(emptyTitle);
    emptyLayout->addWidget(emptyText);
    content()->addWidget(emptyState);

    list_ = new QWidget;
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(12);
    auto* holder = new QWidget;
    auto* holderLayout = new QVBoxLayout(holder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    holderLayout->addWidget(list_);
    holderLayout->addStretch(1);
    content()->addWidget(scrolled(holder, this), 1);

    auto* note = new QHBoxLayout;
    note->addWidget(new SymbolView("info.circle", 16, TextRole::secondary, this));
    note->addWidget(makeLabel(tr("Restore keeps existing files untouched. Interrupted actions may "
                                 "need checking in your file manager."),
                              TextRole::caption, this),
                    1);
    content()->addLayout(note);
    doneButton = addButton(tr("Done"));
    setDefaultButton(doneButton);

    // Toggled rather than clicked, so a screen reader's press chooses the filter too.
    connect(group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && static_cast<Filter>(id) != filter_) {
            setFilter(static_cast<Filter>(id));
        }
    });
    connect(refreshButton, &QPushButton::clicked, this,
            [this] { model_.recovery().loadCleanupHistory(); });
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
    setFilter(Filter::all);
}

void HistorySheet::setFilter(Filter filter) {
    filter_ = filter;
    filterButtons[static_cast<int>(filter)]->setChecked(true);
    // The chosen segment carries the accent, as a segmented control does.
    for (int i = 0; i < 3; ++i) {
        setAccentFill(filterButtons[i], i == static_cast<int>(filter));
    }
    rebuild();
}

void HistorySheet::rebuild() {
    clearLayout(listLayout_);
    rows_.clear();
    const auto& reports = model_.recovery().cleanupHistory();
    int shown = 0;
    for (const auto& report : reports) {
        std::vector<const varnok::TrashOutcome*> outcomes;
        for (const auto& outcome : report.outcomes) {
            if (kept(filter_, outcome.status)) {
                outcomes.push_back(&outcome);
            }
        }
        if (outcomes.empty()) {
            continue;
        }
        ++shown;
        auto* card = new Card(list_);
        auto* cardLayout = new QVBoxLayout(card);
        cardLayout->setContentsMargins(6, 10, 6, 6);
        cardLayout->setSpacing(0);
        auto* heading = makeLabel(startTime(report.startedAt), TextRole::strong, card);
        heading->setContentsMargins(10, 0, 10, 4);
        cardLayout->addWidget(heading);
        for (const auto* outcome : outcomes) {
            cardLayout->addWidget(makeSeparator(card));
            addRow(cardLayout, report.id, *outcome);
        }
        listLayout_->addWidget(card);
    }
    if (reports.empty()) {
        emptyTitle->setText(tr("No cleanup yet"));
        emptyText->setText(tr("Files you move to Trash with Ombrelo will appear here."));
    } else {
        emptyTitle->setText(tr("No items in this view"));
        emptyText->setText(tr("Choose All to see your other cleanup actions."));
    }
    emptyState->setVisible(shown == 0);
    list_->setVisible(shown > 0);
    refresh();
}

void HistorySheet::refresh() {
    OutcomeSheet::refresh();
    // From the flow, not from the row that asked: the row may be rebuilt while it runs.
    restoringLine->setVisible(model_.recovery().isRestoring());
    refreshButton->setEnabled(!model_.isBusy());
}

} // namespace ombrelo::ui

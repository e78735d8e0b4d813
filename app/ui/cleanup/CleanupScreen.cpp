#include "app/ui/cleanup/CleanupScreen.hpp"

#include "app/ui/cleanup/CategoryGroup.hpp"
#include "app/ui/common/ModelQueries.hpp"
#include "app/ui/common/UiText.hpp"

#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace ombrelo::ui {
namespace {

// Content of the pages keeps a readable line length on a wide window.
constexpr int contentWidth = 980;

QWidget* centered(QWidget* content, QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->addStretch(1);
    content->setMaximumWidth(contentWidth);
    layout->addWidget(content, 100);
    layout->addStretch(1);
    return holder;
}

QProgressBar* makeSpinner(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumWidth(320);
    bar->setMaximumHeight(8);
    return bar;
}

// A small rounded label with a symbol, for the categories the scan looks at.
class Chip : public QWidget {
public:
    Chip(std::string symbol, const QString& text, QWidget* parent) : QWidget(parent) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(10, 5, 12, 5);
        layout->setSpacing(6);
        layout->addWidget(new SymbolView(std::move(symbol), 16, TextRole::title, this));
        auto* label = makeLabel(text, TextRole::body, this);
        label->setWordWrap(false);
        layout->addWidget(label);
        setAccessibleName(text);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = accentColor(palette());
        fill.setAlphaF(isDark(palette()) ? 0.22 : 0.10);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0,
                                height() / 2.0);
    }
};

} // namespace

CleanupScreen::CleanupScreen(varnok::AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("cleanupScreen"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    statusBox_ = new QWidget(this);
    auto* statusOuter = new QHBoxLayout(statusBox_);
    statusOuter->setContentsMargins(32, 12, 32, 0);
    auto* statusCard = new Card(statusBox_, Card::Tone::warning);
    auto* statusLayout = new QHBoxLayout(statusCard);
    statusLayout->setContentsMargins(12, 8, 12, 8);
    statusLayout->addWidget(new SymbolView("info.circle", 18, TextRole::warning, statusCard));
    statusLine = makeLabel(QString(), TextRole::body, statusCard);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLayout->addWidget(statusLine, 1);
    // As wide as the content below it, so that it lines up with the banners there.
    statusCard->setMaximumWidth(contentWidth);
    statusOuter->addStretch(1);
    statusOuter->addWidget(statusCard, 100);
    statusOuter->addStretch(1);
    layout->addWidget(statusBox_);

    pages_ = new QStackedWidget(this);
    welcomePage_ = buildWelcome();
    scanningPage_ = buildScanning();
    workingPage_ = buildWorking();
    resultsPage_ = buildResults();
    pages_->addWidget(welcomePage_);
    pages_->addWidget(scanningPage_);
    pages_->addWidget(workingPage_);
    pages_->addWidget(resultsPage_);
    layout->addWidget(pages_, 1);

    refresh_.setInterval(3000);
    connect(&refresh_, &QTimer::timeout, this,
            [this] { model_.cleanup().refreshCleanRunningApps(); });
    connect(&model_.cleanup(), &varnok::CleanupFlow::changed, this,
            [this](varnok::CleanupFlow::Field field) {
                // A new scan result starts with every group closed and its rows unpaged.
                if (field == varnok::CleanupFlow::Field::scanRevision) {
                    expanded_.clear();
                    rowLimits_.clear();
                }
                sync();
            });
    // Messages on screen and work elsewhere decide whether a scan may start.
    connect(&model_, &varnok::AppModel::changed, this, [this] { sync(); });
    connect(&model_, &varnok::AppModel::busyChanged, this, [this] { sync(); });
    sync();
}

QWidget* CleanupScreen::buildWelcome() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(14);
    column->addStretch(2);
    column->addWidget(new SymbolView("sparkles", 56, TextRole::title, content), 0,
                      Qt::AlignHCenter);
    auto* heading = makeLabel(tr("Make room for what matters."), TextRole::title, content);
    heading->setAlignment(Qt::AlignHCenter);
    column->addWidget(heading);
    auto* text = makeLabel(tr("Find temporary files taking up space.\nChoose what goes to Trash, "
                              "and restore it if needed."),
                           TextRole::secondary, content);
    text->setAlignment(Qt::AlignHCenter);
    column->addWidget(text);

    auto* chips = new QHBoxLayout;
    chips->setSpacing(8);
    chips->addStretch(1);
    for (varnok::CleanupCategory category : varnok::ConsumerCleanup::categories()) {
        chips->addWidget(
            new Chip(std::string(category.symbol()), qs(category.rawValue()), content));
    }
    chips->addStretch(1);
    column->addSpacing(6);
    column->addLayout(chips);
    column->addSpacing(10);

    scanButton = makeButton(tr("Scan my computer"), content);
    scanButton->setObjectName(QStringLiteral("scanButton"));
    setButtonSymbol(scanButton, "magnifyingglass");
    scanButton->setMinimumSize(200, 40);
    Sheet::makeProminent(scanButton);
    column->addWidget(scanButton, 0, Qt::AlignHCenter);
    auto* caption =
        makeLabel(tr("Nothing is selected or removed automatically."), TextRole::caption, content);
    caption->setAlignment(Qt::AlignHCenter);
    column->addWidget(caption);
    recoverLink = makeLinkButton(tr("Recover files from a previous cleanup"), content);
    column->addWidget(recoverLink, 0, Qt::AlignHCenter);
    column->addStretch(3);

    connect(scanButton, &QPushButton::clicked, this, [this] { model_.cleanup().beginCleanScan(); });
    connect(recoverLink, &QPushButton::clicked, this,
            [this] { model_.recovery().loadCleanupHistory(); });
    return centered(content, this);
}

QWidget* CleanupScreen::buildScanning() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);
    column->addStretch(2);
    column->addWidget(new SymbolView("magnifyingglass", 48, TextRole::title, content), 0,
                      Qt::AlignHCenter);
    scanTitle = makeLabel(QString(), TextRole::title, content);
    scanTitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(scanTitle);
    column->addWidget(makeSpinner(content), 0, Qt::AlignHCenter);
    scanCount = makeLabel(QString(), TextRole::strong, content);
    scanCount->setAlignment(Qt::AlignHCenter);
    column->addWidget(scanCount);
    scanPath = makeLabel(QString(), TextRole::secondary, content);
    scanPath->setAlignment(Qt::AlignHCenter);
    column->addWidget(scanPath);
    auto* calm = makeLabel(tr("Your files are not being changed."), TextRole::caption, content);
    calm->setAlignment(Qt::AlignHCenter);
    column->addWidget(calm);
    cancelScanButton = makeButton(tr("Cancel scan"), content);
    column->addWidget(cancelScanButton, 0, Qt::AlignHCenter);
    column->addStretch(3);
    connect(cancelScanButton, &QPushButton::clicked, this,
            [this] { model_.cleanup().stopCleanScan(); });
    return centered(content, this);
}

QWidget* CleanupScreen::buildWorking() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);
    column->addStretch(2);
    column->addWidget(new SymbolView("trash", 48, TextRole::title, content), 0, Qt::AlignHCenter);
    workTitle = makeLabel(QString(), TextRole::title, content);
    workTitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(workTitle);
    workProgress = makeLabel(QString(), TextRole::secondary, content);
    workProgress->setObjectName(QStringLiteral("moveProgress"));
    workProgress->setAlignment(Qt::AlignHCenter);
    column->addWidget(workProgress);
    column->addWidget(makeSpinner(content), 0, Qt::AlignHCenter);
    auto* text = makeLabel(tr("Checking that paths and contents still match your scan. Large "
                              "folders can take a moment."),
                           TextRole::secondary, content);
    text->setAlignment(Qt::AlignHCenter);
    column->addWidget(text);
    stopButton = makeButton(tr("Stop"), content);
    stopButton->setToolTip(
        tr("Stops before the next move. A move already in progress may finish."));
    stopButton->setAccessibleDescription(stopButton->toolTip());
    column->addWidget(stopButton, 0, Qt::AlignHCenter);
    column->addStretch(3);
    connect(stopButton, &QPushButton::clicked, this, [this] { model_.cleanup().stopCleanup(); });
    return centered(content, this);
}

QWidget* CleanupScreen::buildResults() {
    auto* page = new QWidget(this);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    // Header.
    resultsTitle = makeLabel(QString(), TextRole::title, content);
    column->addWidget(resultsTitle);
    readyLine = makeLabel(QString(), TextRole::heading, content);
    column->addWidget(readyLine);
    guidance = makeLabel(tr("Open a category to inspect files, or use Select available."),
                         TextRole::secondary, content);
    column->addWidget(guidance);

    // Stale suggestions.
    auto* stale = new Card(content, Card::Tone::warning);
    staleBanner = stale;
    auto* staleLayout = new QHBoxLayout(stale);
    staleLayout->setContentsMargins(14, 10, 14, 10);
    staleLayout->addWidget(new SymbolView("clock.arrow.circlepath", 20, TextRole::warning, stale));
    staleLayout->addWidget(
        makeLabel(tr("Scan again to refresh the suggestions."), TextRole::body, stale), 1);
    scanAgainButton = makeButton(tr("Scan again"), stale);
    setButtonSymbol(scanAgainButton, "arrow.clockwise");
    staleLayout->addWidget(scanAgainButton);
    column->addWidget(stale);

    // Unreadable folders.
    unreadableToggle = makeLinkButton(QString(), content);
    unreadableToggle->setObjectName(QStringLiteral("unreadableToggle"));
    column->addWidget(unreadableToggle, 0, Qt::AlignLeft);
    auto* details = new Card(content);
    unreadableDetails = details;
    auto* detailsLayout = new QHBoxLayout(details);
    detailsLayout->setContentsMargins(14, 10, 14, 10);
    detailsLayout->addWidget(
        new SymbolView("exclamationmark.triangle", 20, TextRole::warning, details), 0,
        Qt::AlignTop);
    auto* detailsTexts = new QVBoxLayout;
    detailsTexts->setSpacing(6);
    detailsTexts->addWidget(makeLabel(tr("These folders may need access, or their files changed "
                                         "during the scan. Other readable folders were checked. "
                                         "Review access and scan again."),
                                      TextRole::body, details));
    unreadableList = makeLabel(QString(), TextRole::caption, details);
    unreadableList->setObjectName(QStringLiteral("unreadableList"));
    unreadableList->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailsTexts->addWidget(unreadableList);
    detailsLayout->addLayout(detailsTexts, 1);
    accessSettingsButton = makeButton(tr("Access settings"), details);
    detailsLayout->addWidget(accessSettingsButton, 0, Qt::AlignTop);
    accessSettingsButton->setVisible(model_.canOpenAccessSettings());
    column->addWidget(details);

    // Nothing to review.
    auto* nothing = new Card(content);
    nothingToReview = nothing;
    auto* nothingLayout = new QHBoxLayout(nothing);
    nothingLayout->setContentsMargins(16, 14, 16, 14);
    nothingLayout->setSpacing(12);
    nothingLayout->addWidget(new SymbolView("checkmark.circle", 32, TextRole::positive, nothing), 0,
                             Qt::AlignTop);
    auto* nothingTexts = new QVBoxLayout;
    nothingTexts->addWidget(makeLabel(tr("Nothing to review"), TextRole::heading, nothing));
    nothingText = makeLabel(QString(), TextRole::secondary, nothing);
    nothingTexts->addWidget(nothingText);
    nothingLayout->addLayout(nothingTexts, 1);
    column->addWidget(nothing);

    // About this scan.
    aboutBox_ = new QWidget(content);
    auto* aboutLayout = new QVBoxLayout(aboutBox_);
    aboutLayout->setContentsMargins(0, 0, 0, 0);
    aboutLayout->setSpacing(2);
    aboutLayout->addWidget(makeLabel(tr("About this scan"), TextRole::strong, aboutBox_));
    aboutText = makeLabel(QString(), TextRole::caption, aboutBox_);
    aboutLayout->addWidget(aboutText);
    column->addWidget(aboutBox_);

    // Groups.
    groupsBox_ = new QWidget(content);
    groupsLayout_ = new QVBoxLayout(groupsBox_);
    groupsLayout_->setContentsMargins(0, 0, 0, 0);
    groupsLayout_->setSpacing(10);
    for (varnok::CleanupCategory category : varnok::CleanupCategory::allCases()) {
        auto* group = new CategoryGroup(model_, category, groupsBox_);
        connect(group, &CategoryGroup::expandRequested, this, &CleanupScreen::setExpanded);
        connect(group, &CategoryGroup::showMoreRequested, this, &CleanupScreen::showMoreRows);
        connect(group, &CategoryGroup::closeAppsRequested, this, &CleanupScreen::askToCloseApps);
        groupsLayout_->addWidget(group);
        groups_.emplace(category, group);
    }
    column->addWidget(groupsBox_);
    column->addStretch(1);

    auto* scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(centered(content, scroll));
    pageLayout->addWidget(scroll, 1);

    // Footer.
    pageLayout->addWidget(makeSeparator(page));
    auto* footer = new QWidget(page);
    footer->setObjectName(QStringLiteral("footer"));
    auto* footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(32, 12, 32, 14);
    footerLayout->setSpacing(10);
    auto* figures = new QVBoxLayout;
    figures->setSpacing(0);
    auto* counts = new QHBoxLayout;
    counts->setSpacing(10);
    selectedCount = makeLabel(QString(), TextRole::strong, footer);
    selectedCount->setWordWrap(false);
    selectedSize = makeLabel(QString(), TextRole::strong, footer);
    selectedSize->setWordWrap(false);
    counts->addWidget(selectedCount);
    counts->addWidget(selectedSize);
    counts->addStretch(1);
    figures->addLayout(counts);
    figures->addWidget(makeLabel(tr("Files go to Trash. Space is released after Trash is emptied."),
                                 TextRole::caption, footer));
    footerLayout->addLayout(figures, 1);
    selectAvailableButton = makeButton(tr("Select available"), footer);
    clearButton = makeButton(tr("Clear"), footer);
    recoverButton = makeButton(tr("Recover files"), footer);
    setButtonSymbol(recoverButton, "clock.arrow.circlepath");
    reviewButton = makeButton(tr("Review & clean"), footer);
    Sheet::makeProminent(reviewButton);
    footerLayout->addWidget(selectAvailableButton);
    footerLayout->addWidget(clearButton);
    footerLayout->addWidget(recoverButton);
    footerLayout->addSpacing(8);
    footerLayout->addWidget(reviewButton);
    pageLayout->addWidget(footer);

    connect(scanAgainButton, &QPushButton::clicked, this,
            [this] { model_.cleanup().scanForCleanup(model_.cleanup().cleanHome()); });
    connect(unreadableToggle, &QPushButton::clicked, this,
            [this] { setDetailsShown(!shownLimits_); });
    connect(accessSettingsButton, &QPushButton::clicked, this,
            [this] { model_.openCleanAccessSettings(); });
    connect(selectAvailableButton, &QPushButton::clicked, this,
            [this] { model_.cleanup().selectAvailableCleanItems(); });
    connect(clearButton, &QPushButton::clicked, this, [this] { model_.cleanup().setQueue({}); });
    connect(recoverButton, &QPushButton::clicked, this,
            [this] { model_.recovery().loadCleanupHistory(); });
    connect(reviewButton, &QPushButton::clicked, this,
            [this] { model_.cleanup().prepareCleanup(); });
    return page;
}

std::vector<CategoryGroup*> CleanupScreen::groups() const {
    std::vector<CategoryGroup*> shown;
    for (const auto& [category, group] : groups_) {
        if (!group->isHidden()) {
            shown.push_back(group);
        }
    }
    return shown;
}

CategoryGroup* CleanupScreen::group(varnok::CleanupCategory category) const {
    return groups_.at(category);
}

void CleanupScreen::setDetailsShown(bool shown) {
    shownLimits_ = shown;
    syncResults();
}

void CleanupScreen::setExpanded(varnok::CleanupCategory category, bool expanded) {
    if (expanded) {
        expanded_.insert(category);
    } else {
        expanded_.erase(category);
    }
    syncResults();
}

void CleanupScreen::showMoreRows(varnok::CleanupCategory category) {
    auto found = rowLimits_.find(category);
    int limit = found == rowLimits_.end() ? defaultRowLimit : found->second;
    rowLimits_[category] = limit + 100;
    syncResults();
}

void CleanupScreen::askToCloseApps(varnok::CleanupCategory category) {
    std::vector<varnok::CleanupCandidate> held;
    for (const auto* candidate : group(category)->members()) {
        if (!runningOwners(model_, candidate->id()).empty()) {
            held.push_back(*candidate);
        }
    }
    pendingCloseApps_ = model_.cleanup().appsForCleanup(held);
    closeAppsTitle_ = buttonText(group(category)->closeAppsButton) + QLatin1Char('?');
    model_.cleanup().setShowCloseAppsConfirmation(true);
}

void CleanupScreen::showEvent(QShowEvent* event) {
    refresh_.start();
    QWidget::showEvent(event);
}

void CleanupScreen::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

void CleanupScreen::sync() {
    const auto& status = model_.cleanup().cleanStatus();
    statusBox_->setVisible(status.has_value());
    statusLine->setText(status.value_or(QString()));
    // A screen reader reads the message itself, not the word "Status".
    statusLine->setAccessibleName(status.value_or(QString()));

    if (model_.cleanup().isScanning()) {
        state_ = State::scanning;
    } else if (model_.cleanup().isWorkingCleanup()) {
        state_ = State::working;
    } else if (model_.cleanup().cleanResult()) {
        state_ = State::results;
    } else {
        state_ = State::welcome;
    }
    bool busy = model_.isBusy();
    switch (state_) {
    case State::welcome:
        pages_->setCurrentWidget(welcomePage_);
        scanButton->setEnabled(model_.canStartCleanScan());
        recoverLink->setEnabled(!busy);
        break;
    case State::scanning:
        pages_->setCurrentWidget(scanningPage_);
        scanTitle->setText(model_.cleanup().isWaitingForApps()
                               ? tr("Waiting for apps to close\u2026")
                               : tr("Looking for temporary files\u2026"));
        scanCount->setText(
            tr("%1 files checked")
                .arg(QLocale().toString(qlonglong(model_.cleanup().cleanScanCount()))));
        scanPath->setText(model_.cleanup().cleanScanPath());
        break;
    case State::working:
        pages_->setCurrentWidget(workingPage_);
        workTitle->setText(model_.cleanup().cleanupStage());
        if (const auto& progress = model_.cleanup().cleanupProgress()) {
            workProgress->setText(tr("%1 of %2 items \u00B7 %3 of %4")
                                      .arg(QLocale().toString(qulonglong(progress->done)),
                                           QLocale().toString(qulonglong(progress->total)),
                                           formatSize(progress->bytesDone),
                                           formatSize(progress->bytesTotal)));
            workProgress->setAccessibleName(workProgress->text());
        }
        workProgress->setVisible(model_.cleanup().cleanupProgress().has_value());
        stopButton->setEnabled(true);
        break;
    case State::results:
        pages_->setCurrentWidget(resultsPage_);
        syncResults();
        break;
    }
    syncCloseConfirmation();
}

void CleanupScreen::syncResults() {
    if (state_ != State::results || !model_.cleanup().cleanResult()) {
        return;
    }
    const auto& result = *model_.cleanup().cleanResult();
    const auto& candidates = model_.cleanup().candidates();
    bool busy = model_.isBusy();
    bool any = !candidates.empty();

    resultsTitle->setText(any ? tr("Review before cleaning") : tr("Scan complete"));
    if (any) {
        std::int64_t ready = readySize(model_);
        std::int64_t held = model_.cleanup().candidateTotal() - ready;
        QString line = tr("%1 ready to review").arg(formatSize(ready));
        if (held >= 1) {
            line += QStringLiteral(" \u00b7 ") + tr("%1 after closing apps").arg(formatSize(held));
        }
        readyLine->setText(line);
        setTextRole(readyLine, TextRole::heading);
    } else {
        readyLine->setText(tr("No eligible files found in the locations checked."));
        setTextRole(readyLine, TextRole::secondary);
    }
    guidance->setVisible(any);

    staleBanner->setVisible(model_.cleanup().needsRescan());
    scanAgainButton->setEnabled(model_.canStartCleanScan());

    auto unreadable = static_cast<qlonglong>(result.unreadable.size());
    unreadableToggle->setVisible(unreadable > 0);
    setButtonText(unreadableToggle,
                  (unreadable == 1 ? tr("%1 folder could not be checked \u00b7 Details")
                                   : tr("%1 folders could not be checked \u00b7 Details"))
                      .arg(unreadable));
    unreadableDetails->setVisible(unreadable > 0 && shownLimits_);
    // The folders themselves, one a line; a long list ends with how many more there are.
    constexpr qlonglong listed = 20;
    QStringList folders;
    for (qlonglong i = 0; i < std::min(unreadable, listed); ++i) {
        folders << qs(varnok::PathText::displayable(result.unreadable[static_cast<size_t>(i)]));
    }
    if (unreadable > listed) {
        folders << tr("and %1 more").arg(unreadable - listed);
    }
    unreadableList->setText(folders.join(QLatin1Char('\n')));

    nothingToReview->setVisible(!any);
    nothingText->setText(unreadable > 0
                             ? tr("No removable files were found in the folders we could read. "
                                  "Review access to check the remaining folders.")
                             : tr("No removable temporary files were found in the folders "
                                  "checked."));

    aboutText->setText(tr("%1 supported folders checked. Only known app caches and logs older than "
                          "30 days are suggested. Documents, photos, downloads, messages, "
                          "passwords and browser history are excluded.")
                           .arg(result.checkedLocations));

    for (const auto& [category, group] : groups_) {
        bool has = false;
        for (const auto& candidate : candidates) {
            has = has || candidate.category == category;
        }
        group->setVisible(has);
        if (has) {
            auto limit = rowLimits_.find(category);
            group->update(expanded_.count(category) > 0,
                          limit == rowLimits_.end() ? defaultRowLimit : limit->second);
        }
    }

    const auto& queue = model_.cleanup().queue();
    selectedCount->setText(tr("%1 selected").arg(queue.items().size()));
    selectedSize->setText(formatSize(queue.totalSize()));
    for (QPushButton* button : {selectAvailableButton, clearButton, recoverButton, reviewButton}) {
        button->setEnabled(!busy);
    }
}

void CleanupScreen::syncCloseConfirmation() {
    bool wanted = model_.cleanup().showCloseAppsConfirmation();
    if (wanted && !closeConfirmation_) {
        auto* box = new Alert(window(), QStringLiteral("closeAppsConfirmation"),
                              "exclamationmark.triangle", closeAppsTitle_,
                              tr("Save your work first. We will ask these apps to close, then "
                                 "check their caches again. No files will be removed during "
                                 "this step."));
        box->addAction(tr("Cancel"), false);
        QPushButton* close = box->addAction(tr("Close & scan again"), true);
        box->setDefaultButton(close);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QDialog::finished, this, [this, box, close] {
            if (closingConfirmation_) {
                return;
            }
            closeConfirmation_ = nullptr;
            bool accepted = box->clicked() == close;
            auto apps = std::move(pendingCloseApps_);
            pendingCloseApps_.clear();
            model_.cleanup().setShowCloseAppsConfirmation(false);
            if (accepted) {
                model_.cleanup().quitAppsAndRescan(apps);
            }
        });
        closeConfirmation_ = box;
        box->open();
    } else if (!wanted && closeConfirmation_) {
        closingConfirmation_ = true;
        closeConfirmation_->close();
        closingConfirmation_ = false;
        closeConfirmation_ = nullptr;
    }
}

} // namespace ombrelo::ui

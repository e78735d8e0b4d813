#include "app/ui/cleanup/CategoryGroup.hpp"

#include "app/ui/cleanup/CleanupScreen.hpp"
#include "app/ui/common/ModelQueries.hpp"
#include "app/ui/common/UiText.hpp"

#include <QHBoxLayout>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>

namespace ombrelo::ui {

CandidateRow::CandidateRow(varnok::AppModel& model, varnok::CleanupCandidate candidate,
                           QWidget* parent)
    : QWidget(parent), model_(model), candidate_(std::move(candidate)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    // Known locations read better by their rule's title ("Spotify cache") than by folder name.
    name = makeLabel(qs(varnok::PathText::displayable(varnok::ConsumerCleanup::title(
                         candidate_.node.id, model.cleanup().cleanHome()))),
                     TextRole::body, this);
    path = new PathLabel(QString(), qs(varnok::PathText::displayable(candidate_.node.id.path())),
                         TextRole::caption, this);
    texts->addWidget(name);
    texts->addWidget(path);
    layout->addLayout(texts, 1);
    size = makeLabel(formatSize(candidate_.node.logicalSize), TextRole::body, this);
    size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    size->setMinimumWidth(80);
    layout->addWidget(size);

    lock = new QWidget(this);
    auto* lockLayout = new QHBoxLayout(lock);
    lockLayout->setContentsMargins(0, 0, 0, 0);
    lockLayout->setSpacing(4);
    lockLayout->addWidget(new SymbolView("lock", 16, TextRole::warning, lock));
    lockText = makeLabel(QString(), TextRole::warning, lock);
    lockText->setWordWrap(false);
    lockLayout->addWidget(lockText);
    layout->addWidget(lock);

    toggle = makeButton(tr("Select"), this);
    toggle->setMinimumWidth(86);
    layout->addWidget(toggle);
    reveal = makeButton(tr("Show in Folder"), this);
    setButtonSymbol(reveal, "folder");
    layout->addWidget(reveal);

    reveal->setAccessibleName(
        tr("Show %1 in Folder").arg(qs(varnok::PathText::displayable(candidate_.node.id.path()))));
    connect(toggle, &QPushButton::clicked, this,
            [this] { model_.cleanup().toggleQueue(candidate_); });
    connect(reveal, &QPushButton::clicked, this, [this] { model_.cleanup().reveal(candidate_); });
}

void CandidateRow::update(bool queued) {
    const auto& owners = runningOwners(model_, candidate_.id());
    bool busy = model_.isBusy();
    if (owners.empty()) {
        lock->hide();
        toggle->show();
        setButtonText(toggle, queued ? tr("Deselect") : tr("Select"));
        toggle->setAccessibleName((queued ? tr("Deselect %1") : tr("Select %1")).arg(name->text()));
        toggle->setEnabled(!busy);
    } else {
        toggle->hide();
        lock->show();
        lockText->setText(tr("Close %1 first").arg(owners.join(QStringLiteral(", "))));
    }
    reveal->setEnabled(!busy);
}

CategoryGroup::CategoryGroup(varnok::AppModel& model, varnok::CleanupCategory category,
                             QWidget* parent)
    : Card(parent), model_(model), category_(category) {
    setObjectName(qs(category.rawValue()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(8);

    header = new QWidget(this);
    header->setAccessibleName(tr("Review %1").arg(qs(category.rawValue())));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(12);
    headerLayout->addWidget(
        new SymbolView(std::string(category.symbol()), 28, TextRole::title, header), 0,
        Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title = makeLabel(qs(category.rawValue()), TextRole::heading, header);
    shortLine = makeLabel(categoryShortLine(category), TextRole::secondary, header);
    texts->addWidget(title);
    texts->addWidget(shortLine);
    headerLayout->addLayout(texts, 1);
    auto* figures = new QVBoxLayout;
    figures->setSpacing(2);
    size = makeLabel(QString(), TextRole::strong, header);
    size->setAlignment(Qt::AlignRight);
    selected = makeLabel(QString(), TextRole::caption, header);
    selected->setAlignment(Qt::AlignRight);
    figures->addWidget(size);
    figures->addWidget(selected);
    headerLayout->addLayout(figures);
    viewButton = makeButton(tr("View files"), header);
    viewButton->setMinimumWidth(96);
    selectButton = makeButton(tr("Select"), header);
    selectButton->setMinimumWidth(86);
    headerLayout->addWidget(viewButton);
    headerLayout->addWidget(selectButton);
    layout->addWidget(header);

    appsNote = new QWidget(this);
    auto* noteLayout = new QHBoxLayout(appsNote);
    noteLayout->setContentsMargins(40, 0, 0, 0);
    noteLayout->addWidget(new SymbolView("lock", 16, TextRole::warning, appsNote));
    appsNoteText = makeLabel(QString(), TextRole::warning, appsNote);
    noteLayout->addWidget(appsNoteText, 1);
    closeAppsButton = makeButton(QString(), appsNote);
    noteLayout->addWidget(closeAppsButton);
    layout->addWidget(appsNote);

    emptyText = makeLabel(tr("No supported temporary files were found for this category. Nothing "
                             "needs selecting here."),
                          TextRole::secondary, this);
    layout->addWidget(emptyText);

    rowsBox_ = new QWidget(this);
    rowsLayout_ = new QVBoxLayout(rowsBox_);
    rowsLayout_->setContentsMargins(32, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    layout->addWidget(rowsBox_);
    showMoreButton = makeLinkButton(tr("Show 100 more"), this);
    layout->addWidget(showMoreButton, 0, Qt::AlignLeft);

    connect(viewButton, &QPushButton::clicked, this,
            [this] { emit expandRequested(category_, !expanded_); });
    connect(selectButton, &QPushButton::clicked, this, &CategoryGroup::toggleAvailable);
    connect(showMoreButton, &QPushButton::clicked, this,
            [this] { emit showMoreRequested(category_); });
    connect(closeAppsButton, &QPushButton::clicked, this,
            [this] { emit closeAppsRequested(category_); });
}

std::vector<const varnok::CleanupCandidate*> CategoryGroup::members() const {
    std::vector<const varnok::CleanupCandidate*> found;
    for (const auto& candidate : model_.cleanup().candidates()) {
        if (candidate.category == category_) {
            found.push_back(&candidate);
        }
    }
    return found;
}

QStringList CategoryGroup::openApps() const {
    QStringList names;
    for (const auto* candidate : members()) {
        names << runningOwners(model_, candidate->id());
    }
    names.removeDuplicates();
    std::sort(names.begin(), names.end());
    return names;
}

void CategoryGroup::toggleAvailable() {
    auto queued = queuedURLs(model_);
    std::vector<varnok::CleanupCandidate> available;
    bool allQueued = true;
    for (const auto* candidate : members()) {
        if (!candidate->manualOnly && runningOwners(model_, candidate->id()).empty()) {
            available.push_back(*candidate);
            allQueued = allQueued && queued.count(candidate->id()) > 0;
        }
    }
    // One change of the queue for the whole group.
    model_.cleanup().setQueued(available, !allQueued);
}

void CategoryGroup::update(bool expanded, int rowLimit) {
    expanded_ = expanded;
    auto items = members();
    auto queued = queuedURLs(model_);
    bool busy = model_.isBusy();

    std::int64_t total = 0;
    int selectedCount = 0;
    int availableCount = 0;
    int availableQueued = 0;
    for (const auto* candidate : items) {
        total += candidate->node.logicalSize;
        bool isQueued = queued.count(candidate->id()) > 0;
        selectedCount += isQueued ? 1 : 0;
        if (!candidate->manualOnly && runningOwners(model_, candidate->id()).empty()) {
            ++availableCount;
            availableQueued += isQueued ? 1 : 0;
        }
    }
    size->setText(items.empty() ? tr("No items") : formatSize(total));
    selected->setText(tr("%1 selected").arg(selectedCount));
    selected->setVisible(selectedCount > 0);
    setButtonText(viewButton, expanded ? tr("Hide files") : tr("View files"));
    viewButton->setAccessibleName(
        (expanded ? tr("Hide files of %1") : tr("View files of %1")).arg(qs(category_.rawValue())));
    viewButton->setEnabled(!items.empty());
    bool deselect = availableCount > 0 && availableQueued == availableCount;
    setButtonText(selectButton, deselect ? tr("Deselect") : tr("Select"));
    selectButton->setAccessibleName(
        (deselect ? tr("Deselect available %1") : tr("Select available %1"))
            .arg(qs(category_.rawValue())));
    selectButton->setEnabled(!busy && availableCount > 0);
    emptyText->setVisible(items.empty());

    QStringList names = openApps();
    bool anyHeld = false;
    for (const auto* candidate : items) {
        anyHeld = anyHeld || !runningOwners(model_, candidate->id()).empty();
    }
    appsNote->setVisible(anyHeld);
    if (anyHeld) {
        QString joined = names.join(QStringLiteral(", "));
        appsNoteText->setText(names.size() == 1
                                  ? tr("%1 is open. Its caches are skipped.").arg(joined)
                                  : tr("%1 are open. Their caches are skipped.").arg(joined));
        setButtonText(closeAppsButton,
                      names.isEmpty() ? tr("Close related apps") : tr("Close %1").arg(joined));
        closeAppsButton->setEnabled(model_.canStartCleanScan());
    }

    // Rows: rebuilt only when the shown items change, updated in place otherwise.
    std::size_t shown = expanded ? std::min<std::size_t>(items.size(), std::max(rowLimit, 0)) : 0;
    bool same = rows_.size() == shown;
    for (std::size_t i = 0; same && i < shown; ++i) {
        same = rows_[i]->candidate().id() == items[i]->id();
    }
    if (!same) {
        while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
            // Later: the click that led here may come from one of these rows.
            if (QWidget* widget = item->widget()) {
                widget->hide();
                widget->deleteLater();
            }
            delete item;
        }
        rows_.clear();
        for (std::size_t i = 0; i < shown; ++i) {
            if (i > 0) {
                rowsLayout_->addWidget(makeSeparator(rowsBox_));
            }
            auto* row = new CandidateRow(model_, *items[i], rowsBox_);
            rowsLayout_->addWidget(row);
            rows_.push_back(row);
        }
    }
    for (CandidateRow* row : rows_) {
        row->update(queued.count(row->candidate().id()) > 0);
    }
    rowsBox_->setVisible(shown > 0);
    showMoreButton->setVisible(expanded && items.size() > shown);
}

} // namespace ombrelo::ui

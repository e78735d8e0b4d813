#include "app/ui/duplicates/DuplicatesPage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/duplicates/DuplicateListModel.hpp"
#include "platform/Platform.hpp"

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ombrelo::ui {

using varnok::AppModel;
using varnok::DuplicateGroup;
using varnok::FileNode;

DuplicatesPage::DuplicatesPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 20, 28, 20);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(makeLabel(tr("Duplicates"), TextRole::title, this));
    header->addSpacing(16);
    folderField = new QLineEdit(qs(model_.homeScanLocation().path()), this);
    folderField->setPlaceholderText(tr("Folder to search, for example ~/Pictures"));
    folderField->setClearButtonEnabled(true);
    nameField(folderField, tr("Folder to search"));
    header->addWidget(folderField, 1);
    chooseButton = makeButton(tr("Choose\u2026"), this);
    findButton = makeButton(tr("Find Duplicates"), this);
    findButton->setDefault(true);
    stopButton = makeButton(tr("Stop"), this);
    header->addWidget(chooseButton);
    header->addWidget(findButton);
    header->addWidget(stopButton);
    layout->addLayout(header);

    progressLine = makeLabel(QString(), TextRole::secondary, this);
    layout->addWidget(progressLine);
    summaryLine = makeLabel(QString(), TextRole::strong, this);
    layout->addWidget(summaryLine);

    auto* actions = new QHBoxLayout;
    auto* keepLabel = makeLabel(tr("Keep"), TextRole::secondary, this);
    keepRuleBox = new QComboBox(this);
    keepRuleBox->setObjectName(QStringLiteral("keepRule"));
    keepRuleBox->setAccessibleName(tr("Copy to keep in each set"));
    keepLabel->setBuddy(keepRuleBox);
    for (const auto& [rule, label] :
         {std::pair{varnok::KeepRule::original, tr("Original")},
          std::pair{varnok::KeepRule::first, tr("First by path")},
          std::pair{varnok::KeepRule::oldest, tr("Oldest")},
          std::pair{varnok::KeepRule::newest, tr("Newest")},
          std::pair{varnok::KeepRule::shortestPath, tr("Shortest path")}}) {
        keepRuleBox->addItem(label, static_cast<int>(rule));
    }
    keepRuleBox->setToolTip(tr("Original keeps a name without a copy marker such as \" (1)\" or "
                               "\" copy\", then the oldest, then the shortest path."));
    actions->addWidget(keepLabel);
    actions->addWidget(keepRuleBox);
    actions->addSpacing(12);
    selectAllButton = makeButton(tr("Select All Copies"), this);
    selectNoneButton = makeButton(tr("Select None"), this);
    keepButton = makeButton(tr("Keep This Copy"), this);
    revealButton = makeButton(tr("Show in Folder"), this);
    reviewButton = makeButton(tr("Review & Move to Trash\u2026"), this);
    actions->addWidget(selectAllButton);
    actions->addWidget(selectNoneButton);
    actions->addSpacing(12);
    actions->addWidget(keepButton);
    actions->addWidget(revealButton);
    actions->addStretch(1);
    actions->addWidget(reviewButton);
    layout->addLayout(actions);

    sets = new QTreeView(this);
    sets->setObjectName(QStringLiteral("duplicateSets"));
    sets->setAccessibleName(tr("Sets of identical files"));
    setsModel = new DuplicateListModel(model_.duplicates(), sets);
    sets->setModel(setsModel);
    sets->header()->setSectionResizeMode(DuplicateListModel::file, QHeaderView::Stretch);
    sets->header()->setSectionResizeMode(DuplicateListModel::size, QHeaderView::ResizeToContents);
    sets->header()->setSectionResizeMode(DuplicateListModel::kept, QHeaderView::ResizeToContents);
    sets->header()->setStretchLastSection(false);
    sets->setTextElideMode(Qt::ElideMiddle);
    sets->setUniformRowHeights(true);
    sets->setAlternatingRowColors(true);
    layout->addWidget(sets, 1);

    skippedLine = makeLabel(QString(), TextRole::caption, this);
    layout->addWidget(skippedLine);

    connect(folderField, &QLineEdit::textChanged, this, [this] { showState(); });
    connect(folderField, &QLineEdit::returnPressed, findButton, &QPushButton::click);
    connect(findButton, &QPushButton::clicked, this, [this] {
        if (auto folder = typedFolder()) {
            model_.duplicates().findDuplicates(*folder);
        }
    });
    connect(stopButton, &QPushButton::clicked, this,
            [this] { model_.duplicates().stopFindingDuplicates(); });
    connect(chooseButton, &QPushButton::clicked, this, [this] {
        auto* dialog = new QFileDialog(this, tr("Choose a folder to search"), folderField->text());
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::fileSelected, this,
                [this](const QString& folder) { folderField->setText(folder); });
        dialog->open();
    });
    connect(keepRuleBox, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        model_.duplicates().setKeepRule(
            static_cast<varnok::KeepRule>(keepRuleBox->itemData(index).toInt()));
    });
    connect(selectAllButton, &QPushButton::clicked, this,
            [this] { model_.duplicates().selectAllDuplicates(true); });
    connect(selectNoneButton, &QPushButton::clicked, this,
            [this] { model_.duplicates().selectAllDuplicates(false); });
    connect(keepButton, &QPushButton::clicked, this, [this] {
        const QModelIndex current = sets->currentIndex();
        const FileNode* file = setsModel->fileAt(current);
        const DuplicateGroup* group = setsModel->groupAt(current);
        if (file != nullptr && group != nullptr) {
            model_.duplicates().chooseDuplicateKeeper(group->id(), file->id);
        }
    });
    connect(revealButton, &QPushButton::clicked, this, [this] {
        if (auto url = currentFile()) {
            model_.revealURL(*url);
        }
    });
    connect(reviewButton, &QPushButton::clicked, this,
            [this] { model_.duplicates().prepareDuplicateCleanup(); });
    connect(sets->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { showState(); });
    connect(setsModel, &QAbstractItemModel::modelReset, this, [this] {
        sets->expandAll();
        showState();
    });
    using varnok::CleanupFlow;
    using varnok::DuplicatesFlow;
    connect(&model_.duplicates(), &DuplicatesFlow::changed, this,
            [this](DuplicatesFlow::Field field) {
                switch (field) {
                case DuplicatesFlow::Field::duplicateResult:
                case DuplicatesFlow::Field::duplicateKeepers:
                case DuplicatesFlow::Field::duplicateSelection:
                case DuplicatesFlow::Field::keepRule:
                case DuplicatesFlow::Field::isFindingDuplicates:
                case DuplicatesFlow::Field::duplicateProgress:
                    showState();
                    break;
                }
            });
    connect(&model_.cleanup(), &CleanupFlow::changed, this, [this](CleanupFlow::Field field) {
        if (field == CleanupFlow::Field::isWorkingCleanup ||
            field == CleanupFlow::Field::cleanupStage || field == CleanupFlow::Field::cleanupPlan) {
            showState();
        }
    });
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::homeScanLocation && !folderField->isModified()) {
            folderField->setText(qs(model_.homeScanLocation().path()));
        }
    });
    sets->expandAll();
    showState();
}

std::optional<varnok::Url> DuplicatesPage::typedFolder() const {
    const auto accepted = acceptedFolderPath(folderField->text());
    if (!accepted) {
        return std::nullopt;
    }
    const QString home = qs(varnok::Platform::current().homeDirectory().path());
    return varnok::Url::file(expandedFolderPath(*accepted, home).toStdString(), true);
}

std::optional<varnok::Url> DuplicatesPage::currentFile() const {
    if (const FileNode* file = setsModel->fileAt(sets->currentIndex())) {
        return file->id;
    }
    return std::nullopt;
}

QModelIndex DuplicatesPage::rowOf(const varnok::Url& url) const {
    return setsModel->indexOf(url);
}

void DuplicatesPage::showState() {
    const bool finding = model_.duplicates().isFindingDuplicates();
    const bool working = model_.cleanup().isWorkingCleanup();
    stopButton->setVisible(finding);
    findButton->setEnabled(!model_.isBusy() && typedFolder().has_value());
    chooseButton->setEnabled(!finding);

    if (finding) {
        const auto& progress = model_.duplicates().duplicateProgress();
        QString counts =
            progress.total > 0
                ? tr("%1 of %2 files")
                      .arg(QLocale().toString(progress.checked), QLocale().toString(progress.total))
                : tr("%1 files").arg(QLocale().toString(progress.checked));
        if (progress.bytesRead > 0) {
            counts += tr(" \u00b7 %1 read").arg(formatSize(progress.bytesRead));
        }
        progressLine->setText(tr("%1\u2026 %2").arg(qs(progress.phase), counts));
    } else if (working) {
        progressLine->setText(model_.cleanup().cleanupStage() + QStringLiteral("\u2026"));
    } else if (model_.duplicates().duplicateFolder()) {
        progressLine->setText(
            tr("Searched %1").arg(qs(model_.duplicates().duplicateFolder()->path())));
    } else {
        progressLine->setText(tr("Choose a folder. Files are compared byte by byte; nothing is "
                                 "changed until you review and confirm."));
    }

    const auto& result = model_.duplicates().duplicateResult();
    std::int64_t selectedBytes = 0;
    std::int64_t selectedCount = 0;
    if (result) {
        for (const auto& group : result->groups) {
            for (const auto& file : group.files) {
                if (model_.duplicates().duplicateSelection().count(file.id) != 0) {
                    selectedBytes += file.logicalSize;
                    ++selectedCount;
                }
            }
        }
        summaryLine->setText(result->groups.empty()
                                 ? tr("No duplicates found.")
                                 : tr("%1 %2 \u00b7 %3 could be freed \u00b7 %4 selected (%5)")
                                       .arg(result->groups.size())
                                       .arg(result->groups.size() == 1 ? tr("set") : tr("sets"))
                                       .arg(formatSize(result->extraSize()))
                                       .arg(selectedCount)
                                       .arg(formatSize(selectedBytes)));
        skippedLine->setVisible(!result->skippedFiles.empty());
        skippedLine->setText(tr("%1 files could not be compared and were left out.")
                                 .arg(result->skippedFiles.size()));
    } else {
        summaryLine->setText(QString());
        skippedLine->setVisible(false);
    }
    summaryLine->setVisible(result.has_value());
    const bool idle = !model_.isBusy() && !model_.cleanup().cleanupPlan();
    keepRuleBox->setCurrentIndex(
        keepRuleBox->findData(static_cast<int>(model_.duplicates().keepRule())));
    keepRuleBox->setEnabled(idle);
    selectAllButton->setEnabled(idle && result && !result->groups.empty());
    selectNoneButton->setEnabled(idle && selectedCount > 0);
    const auto file = currentFile();
    const DuplicateGroup* group = setsModel->groupAt(sets->currentIndex());
    const bool kept =
        group != nullptr && file && model_.duplicates().duplicateKeeper(*group).id == *file;
    keepButton->setEnabled(idle && file.has_value() && !kept);
    sets->setEnabled(idle || model_.duplicates().isFindingDuplicates());
    keepButton->setAccessibleName(file ? tr("Keep %1").arg(qs(file->path()))
                                       : tr("Keep This Copy"));
    revealButton->setEnabled(file.has_value());
    revealButton->setAccessibleName(file ? tr("Show %1 in Folder").arg(qs(file->path()))
                                         : tr("Show in Folder"));
    reviewButton->setEnabled(idle && selectedCount > 0);
}

} // namespace ombrelo::ui

#include "app/ui/pages/SettingsPage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <QDateTime>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ombrelo::ui {

using varnok::AppModel;

namespace {

QVBoxLayout* section(QVBoxLayout* page, QWidget* owner, const QString& title,
                     const QString& explanation) {
    auto* card = new Card(owner);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(20, 16, 20, 16);
    column->setSpacing(8);
    column->addWidget(makeLabel(title, TextRole::heading, card));
    column->addWidget(makeLabel(explanation, TextRole::secondary, card));
    page->addWidget(card);
    return column;
}

} // namespace

SettingsPage::SettingsPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->setSpacing(16);
    layout->addWidget(makeLabel(tr("Settings"), TextRole::title, this));

    auto* history = section(layout, this, tr("Cleanup history"),
                            tr("Every move to Trash is recorded here, so that each item can be "
                               "put back where it was."));
    historyPath =
        makeLabel(qs(varnok::TrashService::defaultHistoryFolder().path()), TextRole::body, this);
    historyPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    history->addWidget(historyPath);
    showHistoryButton = makeButton(tr("Show History"), this);
    history->addWidget(showHistoryButton, 0, Qt::AlignLeft);

    auto* access = section(layout, this, tr("Access introduction"),
                           tr("Before the first cleanup scan, Ombrelo explains which folders it "
                              "may not be able to read."));
    introState = makeLabel(QString(), TextRole::body, this);
    access->addWidget(introState);
    showIntroButton = makeButton(tr("Show It Before the Next Scan"), this);
    access->addWidget(showIntroButton, 0, Qt::AlignLeft);

    auto* folder = section(layout, this, tr("Default folder"),
                           tr("The folder offered first on the Explore and Duplicates pages."));
    defaultFolder = new QLineEdit(this);
    nameField(defaultFolder, tr("Default folder to scan"));
    folder->addWidget(defaultFolder);
    folderProblem =
        makeLabel(tr("Enter a folder path that starts with / or ~."), TextRole::warning, this);
    folder->addWidget(folderProblem);

    auto* remembered =
        section(layout, this, tr("Remembered scans"),
                tr("The explorer keeps its last five scans of each folder, up to 1 GB in all, to "
                   "show what grew since. Removing one removes only the saved scan."));
    rememberedList = new QTreeWidget(this);
    rememberedList->setObjectName(QStringLiteral("rememberedScans"));
    rememberedList->setAccessibleName(tr("Remembered scans"));
    rememberedList->setColumnCount(3);
    rememberedList->setHeaderLabels({tr("Folder"), tr("Date"), tr("Size")});
    rememberedList->setRootIsDecorated(false);
    rememberedList->setUniformRowHeights(true);
    rememberedList->setSelectionMode(QAbstractItemView::SingleSelection);
    rememberedList->header()->setStretchLastSection(false);
    rememberedList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    rememberedList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    rememberedList->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    rememberedList->setMaximumHeight(180);
    rememberedList->installEventFilter(this);
    remembered->addWidget(rememberedList);
    auto* rememberedRow = new QHBoxLayout;
    removeScanButton = makeButton(tr("Remove"), this);
    removeScanButton->setObjectName(QStringLiteral("removeRememberedScan"));
    removeScanButton->setAccessibleName(tr("Remove the selected remembered scan"));
    rememberedRow->addWidget(removeScanButton);
    rememberedTotal = makeLabel(QString(), TextRole::secondary, this);
    rememberedRow->addWidget(rememberedTotal, 1);
    remembered->addLayout(rememberedRow);
    layout->addStretch(1);

    connect(showHistoryButton, &QPushButton::clicked, this,
            [this] { model_.recovery().loadCleanupHistory(); });
    connect(showIntroButton, &QPushButton::clicked, this, [this] {
        model_.setAccessIntroSeen(false);
        refresh();
    });
    connect(defaultFolder, &QLineEdit::editingFinished, this, [this] {
        const auto accepted = acceptedFolderPath(defaultFolder->text());
        folderProblem->setVisible(!accepted.has_value());
        if (accepted) {
            const QString home = qs(varnok::Platform::current().homeDirectory().path());
            model_.setHomeScanLocation(
                varnok::Url::file(expandedFolderPath(*accepted, home).toStdString(), true));
        }
    });
    connect(removeScanButton, &QPushButton::clicked, this, [this] { removeSelectedScan(); });
    connect(rememberedList, &QTreeWidget::itemSelectionChanged, this,
            [this] { removeScanButton->setEnabled(!rememberedList->selectedItems().isEmpty()); });
    connect(&model_.remembered(), &varnok::RememberFlow::changed, this,
            [this](varnok::RememberFlow::Field field) {
                if (field == varnok::RememberFlow::Field::rememberedScans) {
                    refreshRemembered();
                }
            });
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::homeScanLocation) {
            refresh();
        }
    });
    connect(&model_.cleanup(), &varnok::CleanupFlow::changed, this,
            [this](varnok::CleanupFlow::Field field) {
                if (field == varnok::CleanupFlow::Field::showCleanAccess) {
                    refresh();
                }
            });
    refresh();
}

void SettingsPage::refresh() {
    const bool seen = model_.accessIntroSeen();
    introState->setText(seen ? tr("Seen. Scans start without it.")
                             : tr("It will be shown before the next cleanup scan."));
    showIntroButton->setEnabled(seen);
    if (!defaultFolder->hasFocus()) {
        defaultFolder->setText(qs(model_.homeScanLocation().path()));
    }
    folderProblem->setVisible(false);
    refreshRemembered();
}

void SettingsPage::refreshRemembered() {
    const auto& scans = model_.remembered().rememberedScans();
    // The selection survives a new list when its scan is still there.
    QString selected;
    if (auto* item = rememberedList->currentItem(); item != nullptr && item->isSelected()) {
        selected = item->data(0, Qt::UserRole).toString();
    }
    rememberedList->clear();
    for (const auto& scan : scans) {
        const QString folder = qs(varnok::PathText::displayable(scan.folder));
        const QString date =
            QLocale().toString(QDateTime::fromSecsSinceEpoch(scan.takenAt), QLocale::ShortFormat);
        const QString size = formatSize(scan.sizeOnDisk);
        auto* item = new QTreeWidgetItem(rememberedList, {folder, date, size});
        item->setData(0, Qt::UserRole, QString::fromStdString(scan.id));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, folder);
        if (QString::fromStdString(scan.id) == selected) {
            rememberedList->setCurrentItem(item);
        }
    }
    rememberedList->setVisible(!scans.empty());
    removeScanButton->setVisible(!scans.empty());
    removeScanButton->setEnabled(!rememberedList->selectedItems().isEmpty());
    const auto count = static_cast<std::int64_t>(scans.size());
    rememberedTotal->setText(
        count == 0 ? tr("No scans remembered yet. Each folder the explorer scans is kept here.")
                   : tr("%1 %2, %3 in all")
                         .arg(count)
                         .arg(count == 1 ? tr("scan") : tr("scans"))
                         .arg(formatSize(model_.remembered().rememberedTotal())));
}

void SettingsPage::removeSelectedScan() {
    const auto selected = rememberedList->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const int row = rememberedList->indexOfTopLevelItem(selected.front());
    model_.remembered().forget(selected.front()->data(0, Qt::UserRole).toString().toStdString());
    // The next row (or the last) takes the selection, so Delete can be pressed again.
    if (const int rows = rememberedList->topLevelItemCount(); rows > 0) {
        rememberedList->setCurrentItem(rememberedList->topLevelItem(std::min(row, rows - 1)));
        rememberedList->setFocus();
    }
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == rememberedList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            removeSelectedScan();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ombrelo::ui

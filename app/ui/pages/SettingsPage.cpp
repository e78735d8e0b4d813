#include "app/ui/pages/SettingsPage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "core/trash/TrashService.hpp"
#include "platform/Platform.hpp"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
}

} // namespace ombrelo::ui

#include "app/ui/projects/ProjectsPage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "platform/Platform.hpp"

#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>

namespace ombrelo::ui {

using varnok::AppModel;
using varnok::CleanupCandidate;
using varnok::ProjectsFlow;

namespace {

constexpr int urlRole = Qt::UserRole;
constexpr int projectRole = Qt::UserRole + 1;

enum Column { nameColumn, sizeColumn, kindColumn, changedColumn, evidenceColumn };

QString lastChange(const CleanupCandidate& candidate) {
    if (!candidate.node.identity) {
        return QString();
    }
    const auto& identity = *candidate.node.identity;
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(identity.modifiedSeconds).date(),
                              QLocale::ShortFormat);
}

} // namespace

ProjectsPage::ProjectsPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("projectsPage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 20, 28, 20);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(makeLabel(tr("Projects"), TextRole::title, this));
    header->addSpacing(16);
    folderField_ = new QLineEdit(qs(model_.projects().projectFolder().path()), this);
    folderField_->setObjectName(QStringLiteral("projectFolder"));
    folderField_->setPlaceholderText(tr("Folder to look in, for example ~/Projects"));
    folderField_->setClearButtonEnabled(true);
    nameField(folderField_, tr("Folder to look in"));
    header->addWidget(folderField_, 1);
    chooseButton_ = makeButton(tr("Choose\u2026"), this);
    chooseButton_->setObjectName(QStringLiteral("chooseProjectFolder"));
    findButton_ = makeButton(tr("Find Build Output"), this);
    findButton_->setObjectName(QStringLiteral("findProjects"));
    findButton_->setDefault(true);
    stopButton_ = makeButton(tr("Stop"), this);
    stopButton_->setObjectName(QStringLiteral("stopProjects"));
    header->addWidget(chooseButton_);
    header->addWidget(findButton_);
    header->addWidget(stopButton_);
    layout->addLayout(header);

    progressLine_ = makeLabel(QString(), TextRole::secondary, this);
    progressLine_->setObjectName(QStringLiteral("projectProgress"));
    layout->addWidget(progressLine_);
    summaryLine_ = makeLabel(QString(), TextRole::strong, this);
    summaryLine_->setObjectName(QStringLiteral("projectSummary"));
    layout->addWidget(summaryLine_);

    auto* actions = new QHBoxLayout;
    selectAllButton_ = makeButton(tr("Select All"), this);
    selectAllButton_->setObjectName(QStringLiteral("selectAllProjects"));
    selectNoneButton_ = makeButton(tr("Select None"), this);
    selectNoneButton_->setObjectName(QStringLiteral("selectNoProjects"));
    revealButton_ = makeButton(tr("Show in Folder"), this);
    revealButton_->setObjectName(QStringLiteral("revealProjectItem"));
    reviewButton_ = makeButton(tr("Review & Move to Trash\u2026"), this);
    reviewButton_->setObjectName(QStringLiteral("reviewProjects"));
    actions->addWidget(selectAllButton_);
    actions->addWidget(selectNoneButton_);
    actions->addSpacing(12);
    actions->addWidget(revealButton_);
    actions->addStretch(1);
    actions->addWidget(reviewButton_);
    layout->addLayout(actions);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("projectList"));
    list_->setAccessibleName(tr("Dependencies and build output by project"));
    list_->setColumnCount(5);
    list_->setHeaderLabels({tr("Folder"), tr("Size"), tr("Kind"), tr("Changed"), tr("Why")});
    list_->header()->setStretchLastSection(true);
    list_->setUniformRowHeights(true);
    list_->setAlternatingRowColors(true);
    // Paths are cut in the middle, never wrapped inside a name.
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setWordWrap(false);
    layout->addWidget(list_, 1);

    unreadableLine_ = makeLabel(QString(), TextRole::caption, this);
    unreadableLine_->setObjectName(QStringLiteral("projectUnreadable"));
    layout->addWidget(unreadableLine_);

    connect(folderField_, &QLineEdit::textChanged, this, [this] { showState(); });
    connect(folderField_, &QLineEdit::returnPressed, findButton_, &QPushButton::click);
    connect(findButton_, &QPushButton::clicked, this, [this] {
        if (auto folder = typedFolder()) {
            model_.projects().setProjectFolder(*folder);
            model_.projects().detectProjects();
        }
    });
    connect(stopButton_, &QPushButton::clicked, this,
            [this] { model_.projects().stopDetecting(); });
    connect(chooseButton_, &QPushButton::clicked, this, [this] {
        auto* dialog =
            new QFileDialog(this, tr("Choose a folder to look in"), folderField_->text());
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::fileSelected, this,
                [this](const QString& folder) { folderField_->setText(folder); });
        dialog->open();
    });
    connect(selectAllButton_, &QPushButton::clicked, this,
            [this] { model_.projects().selectAll(true); });
    connect(selectNoneButton_, &QPushButton::clicked, this,
            [this] { model_.projects().selectAll(false); });
    connect(revealButton_, &QPushButton::clicked, this, [this] {
        if (auto url = currentItem()) {
            model_.revealURL(*url);
        }
    });
    connect(reviewButton_, &QPushButton::clicked, this,
            [this] { model_.projects().prepareProjectCleanup(); });
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (rebuilding_ || column != nameColumn) {
            return;
        }
        const bool checked = item->checkState(nameColumn) == Qt::Checked;
        if (item->parent() == nullptr) {
            model_.projects().selectProject(
                item->data(nameColumn, projectRole).toString().toStdString(), checked);
            return;
        }
        const auto url =
            varnok::Url::parse(item->data(nameColumn, urlRole).toString().toStdString());
        if (url && checked != (model_.projects().projectSelection().count(*url) != 0)) {
            model_.projects().toggleProject(*url);
        }
    });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { showState(); });
    connect(&model_.projects(), &ProjectsFlow::changed, this, [this](ProjectsFlow::Field field) {
        switch (field) {
        case ProjectsFlow::Field::projectCandidates:
        case ProjectsFlow::Field::projectUnreadable:
            rebuild();
            break;
        case ProjectsFlow::Field::projectSelection:
            showChecks();
            break;
        case ProjectsFlow::Field::projectFolder:
            if (!folderField_->isModified()) {
                folderField_->setText(qs(model_.projects().projectFolder().path()));
            }
            break;
        default:
            showState();
            break;
        }
    });
    connect(&model_, &AppModel::busyChanged, this, [this] { showState(); });
    connect(&model_.cleanup(), &varnok::CleanupFlow::changed, this,
            [this](varnok::CleanupFlow::Field field) {
                if (field == varnok::CleanupFlow::Field::cleanupPlan) {
                    showState();
                }
            });
    rebuild();
}

std::optional<varnok::Url> ProjectsPage::typedFolder() const {
    const auto accepted = acceptedFolderPath(folderField_->text());
    if (!accepted) {
        return std::nullopt;
    }
    const QString home = qs(varnok::Platform::current().homeDirectory().path());
    return varnok::Url::file(expandedFolderPath(*accepted, home).toStdString(), true);
}

std::optional<varnok::Url> ProjectsPage::currentItem() const {
    auto* item = list_->currentItem();
    if (item == nullptr || item->parent() == nullptr) {
        return std::nullopt;
    }
    return varnok::Url::parse(item->data(nameColumn, urlRole).toString().toStdString());
}

QTreeWidgetItem* ProjectsPage::rowOf(const varnok::Url& url) const {
    const QString text = qs(url.absoluteString());
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* project = list_->topLevelItem(i);
        for (int j = 0; j < project->childCount(); ++j) {
            if (project->child(j)->data(nameColumn, urlRole).toString() == text) {
                return project->child(j);
            }
        }
    }
    return nullptr;
}

void ProjectsPage::rebuild() {
    rebuilding_ = true;
    list_->clear();
    const auto& found = model_.projects().projectCandidates();
    if (found) {
        // Projects in the order of their largest item, items largest first within each.
        std::vector<std::string> order;
        std::map<std::string, std::vector<const CleanupCandidate*>> byProject;
        for (const auto& candidate : *found) {
            auto& items = byProject[candidate.projectPath];
            if (items.empty()) {
                order.push_back(candidate.projectPath);
            }
            items.push_back(&candidate);
        }
        QList<QTreeWidgetItem*> projects;
        for (const std::string& path : order) {
            const auto& items = byProject[path];
            std::int64_t total = 0;
            for (const auto* item : items) {
                total += item->node.logicalSize;
            }
            auto* top = new QTreeWidgetItem;
            // Below the folder looked in, the project's own path is enough.
            const std::string& base = model_.projects().projectFolder().path();
            top->setText(nameColumn, varnok::PathText::isInside(path, base)
                                         ? qs(path.substr(base.size() + 1))
                                         : qs(path));
            top->setToolTip(nameColumn, qs(path));
            top->setText(sizeColumn, formatSize(total));
            top->setData(nameColumn, projectRole, qs(path));
            top->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            QFont bold = top->font(nameColumn);
            bold.setBold(true);
            top->setFont(nameColumn, bold);
            for (const auto* candidate : items) {
                auto* row = new QTreeWidgetItem(top);
                row->setText(nameColumn, qs(candidate->node.name()));
                row->setToolTip(nameColumn, qs(candidate->id().path()));
                row->setText(sizeColumn, formatSize(candidate->node.logicalSize));
                row->setText(kindColumn, qs(candidate->category.rawValue()));
                row->setText(changedColumn, lastChange(*candidate));
                row->setText(evidenceColumn, qs(candidate->evidence));
                row->setToolTip(evidenceColumn, qs(candidate->evidence));
                row->setData(nameColumn, urlRole, qs(candidate->id().absoluteString()));
                row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
                row->setCheckState(nameColumn, Qt::Unchecked);
            }
            projects.append(top);
        }
        list_->addTopLevelItems(projects);
        list_->expandAll();
        for (int column : {sizeColumn, kindColumn, changedColumn}) {
            list_->resizeColumnToContents(column);
        }
        list_->setColumnWidth(nameColumn, 420);
    }
    const QStringList& unreadable = model_.projects().projectUnreadable();
    unreadableLine_->setVisible(!unreadable.isEmpty());
    unreadableLine_->setText(unreadable.size() == 1
                                 ? tr("1 folder could not be read: %1").arg(unreadable.front())
                                 : tr("%1 folders could not be read: %2")
                                       .arg(unreadable.size())
                                       .arg(unreadable.mid(0, 5).join(QStringLiteral(", "))));
    rebuilding_ = false;
    showChecks();
}

void ProjectsPage::showChecks() {
    // Only the check marks change: the rows stay, and so does the keyboard position.
    rebuilding_ = true;
    const auto& selection = model_.projects().projectSelection();
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        auto* project = list_->topLevelItem(i);
        int checked = 0;
        for (int j = 0; j < project->childCount(); ++j) {
            auto* row = project->child(j);
            const auto url =
                varnok::Url::parse(row->data(nameColumn, urlRole).toString().toStdString());
            const bool on = url && selection.count(*url) != 0;
            checked += on ? 1 : 0;
            row->setCheckState(nameColumn, on ? Qt::Checked : Qt::Unchecked);
        }
        project->setCheckState(nameColumn, checked == 0 ? Qt::Unchecked
                                           : checked == project->childCount()
                                               ? Qt::Checked
                                               : Qt::PartiallyChecked);
    }
    rebuilding_ = false;
    showState();
}

void ProjectsPage::showState() {
    const ProjectsFlow& projects = model_.projects();
    const bool detecting = projects.isDetecting();
    stopButton_->setVisible(detecting);
    findButton_->setEnabled(!model_.isBusy() && typedFolder().has_value());
    chooseButton_->setEnabled(!detecting);
    folderField_->setEnabled(!detecting);

    if (detecting) {
        const auto& progress = projects.projectProgress();
        progressLine_->setText(tr("Looking in %1 \u00b7 %2 files \u00b7 %3")
                                   .arg(qs(projects.projectFolder().path()))
                                   .arg(QLocale().toString(progress.fileCount))
                                   .arg(qs(progress.currentPath)));
    } else if (projects.projectCandidates()) {
        progressLine_->setText(tr("Looked in %1").arg(qs(projects.projectFolder().path())));
    } else {
        progressLine_->setText(tr("Dependencies and build output can be made again by their "
                                  "tools. Choose a folder; nothing is changed until you review "
                                  "and confirm."));
    }

    const auto& found = projects.projectCandidates();
    std::int64_t total = 0;
    std::int64_t chosenBytes = 0;
    std::int64_t chosen = 0;
    if (found) {
        for (const auto& candidate : *found) {
            total += candidate.node.logicalSize;
            if (projects.projectSelection().count(candidate.id()) != 0) {
                chosenBytes += candidate.node.logicalSize;
                ++chosen;
            }
        }
        summaryLine_->setText(found->empty()
                                  ? tr("Nothing recreatable was found.")
                                  : tr("%1 %2 \u00b7 %3 \u00b7 %4 selected (%5)")
                                        .arg(found->size())
                                        .arg(found->size() == 1 ? tr("folder") : tr("folders"))
                                        .arg(formatSize(total))
                                        .arg(chosen)
                                        .arg(formatSize(chosenBytes)));
    }
    summaryLine_->setVisible(found.has_value());
    const bool idle = !model_.isBusy() && !model_.cleanup().cleanupPlan();
    list_->setEnabled(idle);
    selectAllButton_->setEnabled(idle && found && !found->empty());
    selectNoneButton_->setEnabled(idle && chosen > 0);
    const auto item = currentItem();
    revealButton_->setEnabled(item.has_value());
    revealButton_->setAccessibleName(item ? tr("Show %1 in Folder").arg(qs(item->path()))
                                          : tr("Show in Folder"));
    reviewButton_->setEnabled(idle && chosen > 0);
    setButtonText(reviewButton_, tr("Review & Move to Trash\u2026"));
}

} // namespace ombrelo::ui

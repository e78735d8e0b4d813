#include "app/ui/explore/ExplorePage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/explore/ChangeTexts.hpp"
#include "app/ui/explore/FolderMap.hpp"
#include "app/ui/explore/MapLegend.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "platform/Platform.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <set>

namespace ombrelo::ui {

using varnok::AppModel;
using varnok::ExploreFlow;
using varnok::FileNode;
using varnok::FolderMapMode;

namespace {

constexpr FolderMapMode modes[] = {FolderMapMode::treemap, FolderMapMode::sunburst,
                                   FolderMapMode::flame, FolderMapMode::bubbles,
                                   FolderMapMode::list};

// The selection as the model keeps it: the node without its subtree.
FileNode shallow(const FileNode& node) {
    return FileNode(node.id, node.isDirectory, node.logicalSize, node.allocatedSize, {},
                    node.fileCount, node.folderCount, node.isSymbolicLink, node.hasReadErrors,
                    node.allocatedSizeComplete, node.identity);
}

QString elapsedText(qint64 ms) {
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ExplorePage::ExplorePage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 20, 28, 20);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(makeLabel(tr("Explore"), TextRole::title, this));
    header->addSpacing(16);
    folderField = new QLineEdit(qs(model_.homeScanLocation().path()), this);
    folderField->setPlaceholderText(tr("Folder to scan, for example ~/Projects"));
    folderField->setClearButtonEnabled(true);
    nameField(folderField, tr("Folder to scan"));
    header->addWidget(folderField, 1);
    chooseButton = makeButton(tr("Choose\u2026"), this);
    scanButton = makeButton(tr("Scan"), this);
    scanButton->setDefault(true);
    stopButton = makeButton(tr("Stop"), this);
    header->addWidget(chooseButton);
    header->addWidget(scanButton);
    header->addWidget(stopButton);
    layout->addLayout(header);

    progressLine = makeLabel(QString(), TextRole::secondary, this);
    sampleNote = makeLabel(tr("Sample data: these folders are illustrative. Scan a folder to see "
                              "your own files."),
                           TextRole::secondary, this);
    layout->addWidget(progressLine);
    layout->addWidget(sampleNote);
    auto* comparisonRow = new QHBoxLayout;
    comparisonLine = makeLabel(QString(), TextRole::secondary, this);
    stopComparingButton = makeButton(tr("Stop comparing"), this);
    stopComparingButton->setAccessibleName(tr("Stop comparing with the earlier scan"));
    comparisonRow->addWidget(comparisonLine, 1);
    comparisonRow->addWidget(stopComparingButton);
    layout->addLayout(comparisonRow);

    auto* controls = new QHBoxLayout;
    breadcrumb = new QHBoxLayout;
    breadcrumb->setSpacing(2);
    controls->addLayout(breadcrumb);
    controls->addStretch(1);
    modeButtons = new QButtonGroup(this);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (int i = 0; i < 5; ++i) {
        auto* button = new QPushButton(qs(varnok::rawValue(modes[i])), this);
        button->setCheckable(true);
        modeButtons->addButton(button, i);
        segments->addWidget(button);
    }
    controls->addLayout(segments);
    controls->addSpacing(12);
    controls->addWidget(makeLabel(tr("Levels"), TextRole::secondary, this));
    depthBox = new QSpinBox(this);
    depthBox->setRange(1, 4);
    depthBox->setAccessibleName(tr("Map levels"));
    controls->addWidget(depthBox);
    colouring = new QComboBox(this);
    colouring->setAccessibleName(tr("Map colours"));
    colouring->addItem(tr("Colour by kind"));
    colouring->addItem(tr("Colour by age"));
    controls->addWidget(colouring);
    expandBox = new QCheckBox(tr("Larger map"), this);
    controls->addWidget(expandBox);
    apparentBox = new QCheckBox(tr("Apparent size"), this);
    apparentBox->setToolTip(tr("Off: sizes are the space files take on disk, each hard-linked "
                               "file once. On: the bytes files hold, counted at every path."));
    controls->addWidget(apparentBox);
    layout->addLayout(controls);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    mapPanel_ = new QWidget(splitter);
    auto* mapColumn = new QVBoxLayout(mapPanel_);
    mapColumn->setContentsMargins(0, 0, 0, 0);
    mapColumn->setSpacing(6);
    map = new FolderMap(mapPanel_);
    legend = new MapLegend(mapPanel_);
    mapColumn->addWidget(map, 1);
    mapColumn->addWidget(legend);
    listPanel_ = new QWidget(splitter);
    auto* panel = new QVBoxLayout(listPanel_);
    panel->setContentsMargins(0, 0, 0, 0);
    list = new QTreeView(listPanel_);
    listModel = new NodeListModel(false, list);
    list->setModel(listModel);
    list->setAccessibleName(tr("Items in the explored folder"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSortingEnabled(true);
    list->setAlternatingRowColors(true);
    list->header()->setSectionResizeMode(QHeaderView::Interactive);
    list->header()->setSectionResizeMode(NodeListModel::name, QHeaderView::Stretch);
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(40);
    list->viewport()->installEventFilter(this);
    list->sortByColumn(NodeListModel::size, Qt::DescendingOrder);
    panel->addWidget(list, 1);
    auto* actions = new QHBoxLayout;
    selectionLine = makeLabel(QString(), TextRole::secondary, listPanel_);
    selectionLine->setWordWrap(false);
    revealButton = makeButton(tr("Show in Folder"), listPanel_);
    actions->addWidget(selectionLine, 1);
    actions->addWidget(revealButton);
    panel->addLayout(actions);
    splitter->addWidget(mapPanel_);
    splitter->addWidget(listPanel_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    skippedLine = makeLabel(QString(), TextRole::caption, this);
    skippedLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(skippedLine);

    ticker_ = new QTimer(this);
    ticker_->setInterval(500);
    connect(ticker_, &QTimer::timeout, this, &ExplorePage::showProgress);

    connect(folderField, &QLineEdit::textChanged, this, [this] {
        scanButton->setEnabled(typedFolder().has_value() && !model_.explore().activeScanURL());
    });
    connect(folderField, &QLineEdit::returnPressed, scanButton, &QPushButton::click);
    connect(scanButton, &QPushButton::clicked, this, [this] {
        if (auto folder = typedFolder()) {
            model_.explore().scanFolder(*folder);
        }
    });
    connect(stopButton, &QPushButton::clicked, this, [this] { model_.explore().stopFolderScan(); });
    connect(stopComparingButton, &QPushButton::clicked, this,
            [this] { model_.explore().clearComparison(); });
    connect(chooseButton, &QPushButton::clicked, this, [this] {
        auto* dialog = new QFileDialog(this, tr("Choose a folder to scan"), folderField->text());
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
            folderField->setText(folder);
            if (auto url = typedFolder()) {
                model_.explore().scanFolder(*url);
            }
        });
        dialog->open();
    });
    // Toggled rather than clicked, so a screen reader's press switches the map too.
    connect(modeButtons, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && modes[id] != model_.explore().mapMode()) {
            model_.explore().setMapMode(modes[id]);
        }
    });
    connect(depthBox, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int depth) { model_.explore().setMapDepth(depth); });
    connect(colouring, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        map->setColouring(index == 1 ? MapColouring::age : MapColouring::kind);
        showLegend();
    });
    connect(expandBox, &QCheckBox::toggled, this,
            [this](bool on) { model_.explore().setMapExpanded(on); });
    connect(apparentBox, &QCheckBox::toggled, this,
            [this](bool on) { model_.explore().setApparentSize(on); });
    connect(map, &FolderMap::nodeClicked, this,
            [this](const FileNode& node) { model_.explore().setSelected(shallow(node)); });
    connect(map, &FolderMap::nodeActivated, this,
            [this](const FileNode& node) { model_.explore().openFolder(node); });
    connect(map, &FolderMap::revealRequested, this,
            [this](const FileNode& node) { model_.explore().reveal(node); });
    connect(map, &FolderMap::upRequested, this, [this] {
        if (const auto levels = static_cast<int>(model_.explore().history().size()); levels > 0) {
            model_.explore().navigateTo(levels - 1);
        }
    });
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (const FileNode* node = listModel->node(current.row())) {
                    if (!model_.explore().selected() ||
                        model_.explore().selected()->id != node->id) {
                        model_.explore().setSelected(shallow(*node));
                    }
                }
            });
    // Activated covers both a double click and Return on the row.
    connect(list, &QTreeView::activated, this, [this](const QModelIndex& index) {
        if (const FileNode* node = listModel->node(index.row())) {
            model_.explore().openFolder(*node);
        }
    });
    connect(listModel, &QAbstractItemModel::layoutChanged, this, &ExplorePage::showSelection);
    connect(revealButton, &QPushButton::clicked, this, [this] {
        if (model_.explore().selected()) {
            model_.explore().reveal(*model_.explore().selected());
        }
    });
    connect(&model_.explore(), &ExploreFlow::changed, this, &ExplorePage::exploreChanged);
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::homeScanLocation && !folderField->isModified()) {
            folderField->setText(qs(model_.homeScanLocation().path()));
        }
    });

    showFolder();
    showMapSettings();
    showProgress();
    showSkipped();
    showComparison();
}

std::optional<varnok::Url> ExplorePage::typedFolder() const {
    const auto accepted = acceptedFolderPath(folderField->text());
    if (!accepted) {
        return std::nullopt;
    }
    const QString home = qs(varnok::Platform::current().homeDirectory().path());
    return varnok::Url::file(expandedFolderPath(*accepted, home).toStdString(), true);
}

void ExplorePage::exploreChanged(ExploreFlow::Field field) {
    switch (field) {
    case ExploreFlow::Field::root:
    case ExploreFlow::Field::shownTree:
    case ExploreFlow::Field::history:
        showFolder();
        break;
    case ExploreFlow::Field::selected:
        showSelection();
        break;
    case ExploreFlow::Field::mapMode:
    case ExploreFlow::Field::mapDepth:
    case ExploreFlow::Field::mapExpanded:
    case ExploreFlow::Field::apparentSize:
        showMapSettings();
        break;
    case ExploreFlow::Field::activeScanURL:
    case ExploreFlow::Field::progress:
    case ExploreFlow::Field::scanURL:
    case ExploreFlow::Field::duration:
        showProgress();
        break;
    case ExploreFlow::Field::skippedPaths:
        showSkipped();
        break;
    case ExploreFlow::Field::comparison:
    case ExploreFlow::Field::comparingWith:
        showComparison();
        break;
    default:
        break;
    }
}

void ExplorePage::showFolder() {
    const FileNode& folder = model_.explore().currentFolder();
    // Both views point into the tree: they let go of the old one before anything else runs.
    map->setFolder(&folder);
    std::vector<const FileNode*> children;
    children.reserve(folder.children.size());
    for (const auto& child : folder.children) {
        children.push_back(&child);
    }
    listModel->setNodes(std::move(children), model_.explore().sharedShownTree());
    listModel->setSizeOnDisk(!model_.explore().apparentSize());
    listModel->sort(list->header()->sortIndicatorSection(), list->header()->sortIndicatorOrder());
    fitColumns();
    showLegend();
    rebuildBreadcrumb();
    showSelection();
}

void ExplorePage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        showLegend(); // the folders' hues follow the palette
    }
}

bool ExplorePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list->viewport() && event->type() == QEvent::Resize) {
        fitColumns();
    }
    return QWidget::eventFilter(watched, event);
}

void ExplorePage::fitColumns() {
    // Size, kind and date fit their contents up to a cap; when the panel is narrow they give way
    // until the names have what they need, or nearly half the row. Elided names show whole in
    // their tooltip.
    constexpr int columns[] = {NodeListModel::name, NodeListModel::size, NodeListModel::kind,
                               NodeListModel::modified};
    constexpr int caps[] = {QWIDGETSIZE_MAX, 170, 180, 150};
    QHeaderView* header = list->header();
    const QFontMetrics metrics(list->font());
    // The first rows are enough to measure: a folder of a hundred thousand entries is not read
    // whole on every resize.
    const int rows = std::min(listModel->rowCount(), 300);
    int wanted[4];
    for (int i = 0; i < 4; ++i) {
        int fit = header->sectionSizeHint(columns[i]);
        for (int row = 0; row < rows; ++row) {
            const QString text = listModel->index(row, columns[i]).data().toString();
            fit = std::max(fit, metrics.horizontalAdvance(text) + 16);
        }
        wanted[i] = std::min(fit, caps[i]);
    }
    // While comparing, the change column keeps its width and the others make room for it.
    const int changeWidth =
        listModel->showsChanges()
            ? std::max(header->sectionSizeHint(NodeListModel::change),
                       metrics.horizontalAdvance(QStringLiteral("+999.9 MB")) + 16)
            : 0;
    const int room = list->viewport()->width() - changeWidth;
    int excess = wanted[1] + wanted[2] + wanted[3] - (room - std::min(wanted[0], room * 45 / 100));
    // The date gives way first, the kind next, the size, the figure people read, last.
    const int floor = std::max(header->minimumSectionSize(), 60);
    for (int i : {3, 2, 1}) {
        const int give = std::clamp(excess, 0, std::max(wanted[i] - floor, 0));
        wanted[i] -= give;
        excess -= give;
    }
    for (int i = 1; i < 4; ++i) {
        header->resizeSection(columns[i], wanted[i]);
    }
    if (changeWidth > 0) {
        header->resizeSection(NodeListModel::change, changeWidth);
    }
}

void ExplorePage::rebuildBreadcrumb() {
    while (QLayoutItem* item = breadcrumb->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    std::vector<QString> names{qs(model_.explore().root().name().empty()
                                      ? model_.explore().root().id.path()
                                      : model_.explore().root().name())};
    for (const auto& level : model_.explore().history()) {
        names.push_back(qs(level.name()));
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            breadcrumb->addWidget(makeLabel(QStringLiteral("\u203a"), TextRole::secondary, this));
        }
        auto* button = makeLinkButton(names[i], this);
        button->setObjectName(QStringLiteral("breadcrumb"));
        button->setEnabled(i + 1 < names.size());
        connect(button, &QPushButton::clicked, this,
                [this, i] { model_.explore().navigateTo(static_cast<int>(i)); });
        breadcrumb->addWidget(button);
    }
}

void ExplorePage::showSelection() {
    const auto& selected = model_.explore().selected();
    map->setSelectedURL(selected ? std::optional(selected->id) : std::nullopt);
    revealButton->setEnabled(selected.has_value());
    revealButton->setAccessibleName(selected ? tr("Show %1 in Folder").arg(qs(selected->id.path()))
                                             : tr("Show in Folder"));
    if (!selected) {
        selectionLine->setText(tr("%1 items \u00b7 %2")
                                   .arg(listModel->itemCount())
                                   .arg(formatSize(model_.explore().currentFolder().logicalSize)));
        list->selectionModel()->clearSelection();
        return;
    }
    selectionLine->setText(map->describe(*selected).replace(QLatin1Char('\n'), tr(" \u00b7 ")));
    const int row = listModel->rowOf(selected->id);
    if (row >= 0) {
        const QModelIndex index = listModel->index(row, 0);
        if (list->currentIndex().row() != row) {
            list->setCurrentIndex(index);
        }
        list->scrollTo(index);
    } else {
        list->selectionModel()->clearSelection();
    }
}

void ExplorePage::showMapSettings() {
    const int modeIndex = static_cast<int>(model_.explore().mapMode());
    if (auto* button = modeButtons->button(modeIndex)) {
        button->setChecked(true);
    }
    // The checked state alone hardly shows in a dark palette.
    for (QAbstractButton* button : modeButtons->buttons()) {
        QFont font = button->font();
        font.setBold(button->isChecked());
        button->setFont(font);
    }
    map->setMode(model_.explore().mapMode());
    map->setDepth(model_.explore().mapDepth());
    depthBox->setValue(model_.explore().mapDepth());
    expandBox->setChecked(model_.explore().mapExpanded());
    apparentBox->setChecked(model_.explore().apparentSize());
    const bool listOnly = model_.explore().mapMode() == FolderMapMode::list;
    map->setVisible(!listOnly);
    mapPanel_->setVisible(!listOnly);
    listPanel_->setVisible(listOnly || !model_.explore().mapExpanded());
    depthBox->setEnabled(!listOnly);
    // There is no map to enlarge in List mode.
    expandBox->setEnabled(!listOnly);
    // While comparing, the map colours by change.
    colouring->setEnabled(!listOnly && !model_.explore().comparison());
    showLegend();
}

void ExplorePage::showLegend() {
    const FileNode& folder = model_.explore().currentFolder();
    if (model_.explore().comparison()) {
        // The map groups what is past its limit of siblings; two levels tell well enough.
        bool groups = folder.children.size() > 60;
        for (size_t i = 0; i < folder.children.size() && !groups; ++i) {
            groups = folder.children[i].children.size() > 60;
        }
        legend->setEntries(
            changeTexts::legend(model_.explore().changesBelow(folder), groups, isDark(palette())));
        return;
    }
    const bool byAge = colouring->currentIndex() == 1;
    // Looking up the kinds of thousands of items takes longer than a frame.
    legend->collectLater(model_.explore().sharedShownTree(), &model_.explore().currentFolder(),
                         std::clamp(model_.explore().mapDepth(), 1, 4), byAge,
                         [this, byAge](const MapLegend::Use& use) { showLegendOf(use, byAge); });
}

void ExplorePage::showLegendOf(const MapLegend::Use& use, bool byAge) {
    const auto& [groups, ages, folders, more] = use;
    const bool dark = isDark(palette());
    std::vector<LegendEntry> entries;
    if (byAge) {
        const QString labels[4] = {tr("Under 30 days"), tr("30 to 180 days"),
                                   tr("180 days to a year"), tr("Over a year")};
        for (int i = 0; i < 4; ++i) {
            if (ages[static_cast<size_t>(i)]) {
                entries.push_back({labels[i], mapColours::ofAge(i), {}});
            }
        }
    } else {
        if (folders) {
            entries.push_back(
                {tr("Folders, a hue for each"),
                 mapColours::ofFolder(0, 1, dark),
                 {mapColours::ofFolder(1, 1, dark), mapColours::ofFolder(2, 1, dark)}});
        }
        const std::pair<const char*, QString> named[] = {
            {"Video", tr("Videos")},       {"Audio", tr("Audio")},      {"Image", tr("Images")},
            {"Document", tr("Documents")}, {"Archive", tr("Archives")}, {"Code", tr("Code")},
            {"Text", tr("Text")},          {"Font", tr("Fonts")},       {"Program", tr("Programs")},
            {"Other", tr("Other files")},
        };
        for (const auto& [group, label] : named) {
            if (groups.count(group) > 0) {
                entries.push_back({label, mapColours::ofKindGroup(group), {}});
            }
        }
    }
    if (more) {
        entries.push_back({tr("More items"), mapColours::ofGroup(dark), {}});
    }
    legend->setEntries(std::move(entries));
}

void ExplorePage::showProgress() {
    const bool running = model_.explore().activeScanURL().has_value();
    if (running && !ticker_->isActive()) {
        elapsed_.start();
        ticker_->start();
    } else if (!running) {
        ticker_->stop();
    }
    stopButton->setVisible(running);
    scanButton->setEnabled(!running && typedFolder().has_value());
    chooseButton->setEnabled(!running);
    sampleNote->setVisible(model_.explore().isSample() && !running);
    if (running) {
        const auto& progress = model_.explore().progress();
        progressLine->setText(
            tr("Scanning %1 \u00b7 %2 entries \u00b7 %3 \u00b7 %4")
                .arg(qs(model_.explore().activeScanURL()->path()))
                .arg(QLocale().toString(progress.fileCount + progress.folderCount))
                .arg(elapsedText(elapsed_.elapsed()))
                .arg(qs(progress.currentPath)));
        progressLine->setVisible(true);
    } else if (!model_.explore().isSample() && model_.explore().scanURL()) {
        const double seconds = model_.explore().duration();
        // A fast scan is not "0.0 s".
        const QString took = seconds < 0.1 ? tr("scanned in under 0.1 s")
                                           : tr("scanned in %1 s").arg(seconds, 0, 'f', 1);
        progressLine->setText(tr("%1 \u00b7 %2 files in %3 folders \u00b7 %4")
                                  .arg(qs(model_.explore().scanURL()->path()))
                                  .arg(QLocale().toString(model_.explore().root().fileCount))
                                  .arg(QLocale().toString(model_.explore().root().folderCount))
                                  .arg(took));
        progressLine->setVisible(true);
    } else {
        progressLine->setVisible(false);
    }
}

void ExplorePage::showComparison() {
    ExploreFlow& flow = model_.explore();
    const auto& comparison = flow.comparison();
    NodeListModel::ChangeLookup lookup;
    if (comparison) {
        lookup = [&flow](const FileNode& node) { return flow.changeOf(node); };
    }
    map->setChanges(lookup);
    listModel->setChanges(lookup);
    QHeaderView* header = list->header();
    if (!comparison && header->sortIndicatorSection() == NodeListModel::change) {
        list->sortByColumn(NodeListModel::size, Qt::DescendingOrder);
    } else {
        listModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
    fitColumns();
    // A scan the explorer remembered is named by its date, not by the store's file name.
    auto remembered = [this](const QString& file) {
        return model_.remembered().holds(file.toStdString());
    };
    if (flow.comparingWith()) {
        comparisonLine->setText(remembered(*flow.comparingWith())
                                    ? tr("Reading the remembered scan to compare\u2026")
                                    : tr("Reading %1 to compare\u2026")
                                          .arg(QFileInfo(*flow.comparingWith()).fileName()));
    } else if (comparison) {
        comparisonLine->setText(
            changeTexts::comparedWith(*comparison, remembered(comparison->file)));
    }
    const bool shown = comparison || flow.comparingWith();
    comparisonLine->setVisible(shown);
    stopComparingButton->setVisible(shown);
    colouring->setEnabled(flow.mapMode() != FolderMapMode::list && !comparison);
    colouring->setToolTip(comparison ? tr("While comparing, the map is coloured by what changed.")
                                     : QString());
    if (!comparison) {
        // The change colours are gone from the map: so are they from the legend, until the
        // kinds are collected again.
        legend->setEntries({});
    }
    showLegend();
    showSelection();
}

void ExplorePage::showSkipped() {
    const QStringList& skipped = model_.explore().skippedPaths();
    skippedLine->setVisible(!skipped.isEmpty());
    if (!skipped.isEmpty()) {
        QStringList shown = skipped.mid(0, 5);
        QString text =
            (skipped.size() == 1 ? tr("Could not read 1 location: ")
                                 : tr("Could not read %1 locations: ").arg(skipped.size())) +
            shown.join(QStringLiteral(", "));
        if (skipped.size() > shown.size()) {
            text += tr(" and %1 more").arg(skipped.size() - shown.size());
        }
        skippedLine->setText(text);
    }
}

} // namespace ombrelo::ui

#include "app/ui/pages/HomePage.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "platform/Platform.hpp"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ombrelo::ui {

using varnok::AppModel;

ShareBars::ShareBars(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ShareBars::setValues(QStringList labels, std::vector<std::int64_t> values) {
    labels_ = std::move(labels);
    values_ = std::move(values);
    // What the bars draw, for those who cannot see them.
    double total = 0;
    for (auto value : values_) {
        total += static_cast<double>(std::max<std::int64_t>(value, 0));
    }
    QStringList parts;
    for (size_t i = 0; i < values_.size() && i < static_cast<size_t>(labels_.size()); ++i) {
        const auto value = std::max<std::int64_t>(values_[i], 0);
        const long percent = total > 0 ? std::lround(100 * static_cast<double>(value) / total) : 0;
        parts << tr("%1: %2, %3 %")
                     .arg(labels_[static_cast<qsizetype>(i)], formatSize(value))
                     .arg(percent);
    }
    setAccessibleDescription(parts.join(QStringLiteral(", ")));
    updateGeometry();
    update();
}

QSize ShareBars::sizeHint() const {
    return {320, static_cast<int>(values_.size()) * 30 + 4};
}

void ShareBars::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    std::int64_t total = 0;
    for (auto value : values_) {
        total += std::max<std::int64_t>(value, 0);
    }
    const int labelWidth = 150;
    const int sizeWidth = 90;
    const double barSpace = std::max(10, width() - labelWidth - sizeWidth - 16);
    static const QColor colours[4] = {QColor(66, 133, 220), QColor(160, 90, 200),
                                      QColor(60, 160, 110), QColor(226, 160, 50)};
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.08);
    for (size_t i = 0; i < values_.size(); ++i) {
        const int y = static_cast<int>(i) * 30;
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(0, y, labelWidth, 24), Qt::AlignVCenter | Qt::AlignLeft,
                         labels_.value(static_cast<int>(i)));
        const double share = total > 0 ? static_cast<double>(values_[i]) / total : 0;
        painter.setPen(Qt::NoPen);
        painter.setBrush(track);
        painter.drawRoundedRect(QRectF(labelWidth, y + 6, barSpace, 12), 6, 6);
        painter.setBrush(colours[i % 4]);
        painter.drawRoundedRect(QRectF(labelWidth, y + 6, std::max(2.0, barSpace * share), 12), 6,
                                6);
        painter.setPen(secondaryTextColor(palette()));
        painter.drawText(QRect(width() - sizeWidth, y, sizeWidth, 24),
                         Qt::AlignVCenter | Qt::AlignRight, formatSize(values_[i]));
    }
}

namespace {

// A folder in the home as "~/…", the home itself by name; any other folder in full.
QString folderInHome(const std::string& folder) {
    std::string home = varnok::Platform::current().homeDirectory().path();
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    if (folder == home) {
        return HomePage::tr("your home folder");
    }
    if (folder.size() > home.size() && folder.compare(0, home.size(), home) == 0 &&
        folder[home.size()] == '/') {
        return qs(varnok::PathText::displayable("~" + folder.substr(home.size())));
    }
    return qs(varnok::PathText::displayable(folder));
}

} // namespace

HomePage::HomePage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->setSpacing(16);
    layout->addWidget(makeLabel(tr("Home"), TextRole::title, this));

    auto* grid = new QGridLayout;
    grid->setSpacing(16);

    auto* volume = new Card(this);
    auto* volumeColumn = new QVBoxLayout(volume);
    volumeColumn->setContentsMargins(20, 16, 20, 16);
    volumeColumn->addWidget(makeLabel(tr("Home volume"), TextRole::heading, volume));
    volumeLine = makeLabel(QString(), TextRole::body, volume);
    volumeBar = new QProgressBar(volume);
    volumeBar->setRange(0, 1000);
    volumeBar->setTextVisible(false);
    volumeBar->setAccessibleName(tr("Space used on the home volume"));
    volumeColumn->addWidget(volumeLine);
    volumeColumn->addWidget(volumeBar);
    volumeColumn->addWidget(makeLabel(qs(varnok::Platform::current().homeDirectory().path()),
                                      TextRole::caption, volume));
    growthLine = makeLabel(QString(), TextRole::body, volume);
    growthLine->setObjectName(QStringLiteral("homeGrowth"));
    volumeColumn->addWidget(growthLine);
    volumeColumn->addStretch(1);
    grid->addWidget(volume, 0, 0);

    auto* cleanup = new Card(this);
    auto* cleanupColumn = new QVBoxLayout(cleanup);
    cleanupColumn->setContentsMargins(20, 16, 20, 16);
    cleanupColumn->addWidget(makeLabel(tr("Cleanup"), TextRole::heading, cleanup));
    cleanupLine = makeLabel(QString(), TextRole::body, cleanup);
    cleanupColumn->addWidget(cleanupLine);
    cleanupButton = makeButton(tr("Open Cleanup"), cleanup);
    projectsButton = makeButton(tr("Find Build Output"), cleanup);
    projectsButton->setObjectName(QStringLiteral("homeProjects"));
    auto* cleanupButtons = new QHBoxLayout;
    cleanupButtons->addWidget(cleanupButton);
    cleanupButtons->addWidget(projectsButton);
    cleanupButtons->addStretch(1);
    cleanupColumn->addLayout(cleanupButtons);
    cleanupColumn->addStretch(1);
    grid->addWidget(cleanup, 0, 1);

    auto* folder = new Card(this);
    auto* folderColumn = new QVBoxLayout(folder);
    folderColumn->setContentsMargins(20, 16, 20, 16);
    auto* folderHeader = new QHBoxLayout;
    folderHeader->addWidget(makeLabel(tr("Last explored folder"), TextRole::heading, folder));
    sampleMark = makeLabel(tr("Sample figures"), TextRole::warning, folder);
    folderHeader->addWidget(sampleMark);
    folderHeader->addStretch(1);
    exploreButton = makeButton(tr("Explore a Folder"), folder);
    folderHeader->addWidget(exploreButton);
    folderColumn->addLayout(folderHeader);
    folderLine = makeLabel(QString(), TextRole::secondary, folder);
    folderColumn->addWidget(folderLine);
    auto* charts = new QHBoxLayout;
    charts->setSpacing(32);
    auto* agesColumn = new QVBoxLayout;
    agesColumn->addWidget(makeLabel(tr("By age"), TextRole::strong, folder));
    ages = new ShareBars(folder);
    ages->setAccessibleName(tr("Last explored folder by age"));
    agesColumn->addWidget(ages);
    auto* typesColumn = new QVBoxLayout;
    typesColumn->addWidget(makeLabel(tr("By kind"), TextRole::strong, folder));
    types = new ShareBars(folder);
    types->setAccessibleName(tr("Last explored folder by kind"));
    typesColumn->addWidget(types);
    charts->addLayout(agesColumn, 1);
    charts->addLayout(typesColumn, 1);
    folderColumn->addLayout(charts);
    grid->addWidget(folder, 1, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch(1);

    connect(cleanupButton, &QPushButton::clicked, this,
            [this] { model_.setPage(varnok::AppPage::cleanup); });
    connect(projectsButton, &QPushButton::clicked, this,
            [this] { model_.setPage(varnok::AppPage::projects); });
    connect(exploreButton, &QPushButton::clicked, this,
            [this] { model_.setPage(varnok::AppPage::explore); });
    using varnok::CleanupFlow;
    using varnok::ExploreFlow;
    connect(&model_, &AppModel::changed, this, [this](AppModel::Field field) {
        if (field == AppModel::Field::volumeTotal || field == AppModel::Field::volumeFree) {
            refresh();
        }
    });
    connect(&model_.remembered(), &varnok::RememberFlow::changed, this,
            [this](varnok::RememberFlow::Field field) {
                if (field == varnok::RememberFlow::Field::homeGrowth) {
                    refresh();
                }
            });
    connect(&model_.cleanup(), &CleanupFlow::changed, this, [this](CleanupFlow::Field field) {
        if (field == CleanupFlow::Field::cleanResult || field == CleanupFlow::Field::candidates) {
            refresh();
        }
    });
    connect(&model_.explore(), &ExploreFlow::changed, this, [this](ExploreFlow::Field field) {
        if (field == ExploreFlow::Field::ages || field == ExploreFlow::Field::types ||
            field == ExploreFlow::Field::scanURL) {
            refresh();
        }
    });
    refresh();
}

void HomePage::refresh() {
    const std::int64_t total = model_.volumeTotal();
    const std::int64_t free = model_.volumeFree();
    volumeLine->setText(tr("%1 free of %2").arg(formatSize(free), formatSize(total)));
    volumeBar->setValue(total > 0 ? static_cast<int>(1000.0 * (total - free) / total) : 0);
    if (const auto& growth = model_.remembered().homeGrowth()) {
        growthLine->setText(
            tr("Since %1: %2 more in %3")
                .arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(growth->since),
                                        QLocale::ShortFormat),
                     formatSize(growth->size), folderInHome(growth->folder)));
    }
    growthLine->setVisible(model_.remembered().homeGrowth().has_value());

    if (model_.cleanup().cleanResult()) {
        const auto count = static_cast<std::int64_t>(model_.cleanup().candidates().size());
        cleanupLine->setText(count == 0
                                 ? tr("The last cleanup scan found nothing to clean.")
                                 : tr("The last cleanup scan found %1 in %2 %3.")
                                       .arg(formatSize(model_.cleanup().candidateTotal()))
                                       .arg(count)
                                       .arg(count == 1 ? tr("suggestion") : tr("suggestions")));
    } else {
        cleanupLine->setText(tr("No cleanup scan yet. Caches, old logs and build output are "
                                "found in a few seconds."));
    }

    const bool demo = model_.explore().isSample();
    sampleMark->setVisible(demo);
    // The same total as the explorer shows, in the measure it uses.
    const QString explored =
        model_.explore().apparentSize()
            ? tr("%1 apparent size").arg(formatSize(model_.explore().shownTree().logicalSize))
            : tr("%1 on disk").arg(formatSize(model_.explore().shownTree().logicalSize));
    folderLine->setText(
        demo || !model_.explore().scanURL()
            ? tr("Illustrative figures until a folder is explored.")
            : tr("%1 \u00b7 %2").arg(qs(model_.explore().scanURL()->path()), explored));
    const auto& a = model_.explore().ages();
    ages->setValues(
        {tr("Under 30 days"), tr("30 to 180 days"), tr("180 days to a year"), tr("Over a year")},
        {a[0], a[1], a[2], a[3]});
    const auto& t = model_.explore().types();
    types->setValues({tr("Code"), tr("Media"), tr("Documents"), tr("Other")},
                     {t[0], t[1], t[2], t[3]});
}

} // namespace ombrelo::ui

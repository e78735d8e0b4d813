#include "app/ui/cleanup/Sheets.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "core/cleanup/ConsumerCleanup.hpp"

#include <QScrollArea>

namespace ombrelo::ui {

AccessIntroSheet::AccessIntroSheet(QWidget* parent, bool canOpenAccessSettings)
    : Sheet(parent, QStringLiteral("accessIntro")) {
    setMinimumWidth(560);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(new SymbolView("lock.shield", 48, TextRole::title, this), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(10);
    texts->addWidget(makeLabel(tr("Allow Ombrelo to check more folders"), TextRole::heading, this));
    texts->addWidget(makeLabel(tr("Ombrelo checks supported temporary files and old logs. Your "
                                  "documents, photos and messages are excluded."),
                               TextRole::body, this));
    texts->addWidget(makeLabel(tr("Ombrelo reads your home folder with your own permissions. "
                                  "Nothing moves before you review it."),
                               TextRole::body, this));
    texts->addWidget(makeLabel(tr("Any folders Ombrelo cannot read will be listed in the results."),
                               TextRole::secondary, this));
    top->addLayout(texts, 1);
    content()->addLayout(top);

    // A button that could open nothing would do nothing when pressed.
    if (canOpenAccessSettings) {
        settingsButton = makeButton(tr("Open access settings"), this);
        buttonRow()->insertWidget(0, settingsButton);
        connect(settingsButton, &QPushButton::clicked, this,
                &AccessIntroSheet::openSettingsRequested);
    }
    cancelButton = addButton(tr("Cancel"));
    continueButton = addButton(tr("Scan with current access"));
    setDefaultButton(continueButton);
    connect(continueButton, &QPushButton::clicked, this, &AccessIntroSheet::continueRequested);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(continueButton, cancelButton);
    if (settingsButton) {
        setTabOrder(cancelButton, settingsButton);
    }
}

ConfirmSheet::ConfirmSheet(QWidget* parent, const varnok::CleanupPlan& plan)
    : Sheet(parent, QStringLiteral("confirmation")) {
    setMinimumSize(760, 640);
    auto count = static_cast<std::int64_t>(plan.items.size());
    content()->addWidget(makeLabel(tr("Move to Trash?"), TextRole::title, this));
    content()->addWidget(makeLabel(tr("%1 selected %2 \u00b7 %3")
                                       .arg(count)
                                       .arg(itemWord(count), formatSize(plan.totalSize())),
                                   TextRole::secondary, this));

    auto* list = new QWidget;
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    for (const auto& item : plan.items) {
        auto* card = new Card(list);
        auto* box = new QVBoxLayout(card);
        box->setContentsMargins(14, 10, 14, 10);
        box->setSpacing(3);
        auto* head = new QHBoxLayout;
        QString name = qs(varnok::PathText::displayable(
            varnok::ConsumerCleanup::title(item.node.id, plan.scanRoot)));
        head->addWidget(makeLabel(name, TextRole::strong, card), 1);
        head->addWidget(makeLabel(formatSize(item.node.logicalSize), TextRole::strong, card));
        box->addLayout(head);
        box->addWidget(new PathLabel(tr("File location") + QStringLiteral("  "),
                                     qs(varnok::PathText::displayable(item.node.id.path())),
                                     TextRole::secondary, card));
        box->addWidget(makeLabel(qs(item.category.explanation()), TextRole::caption, card));
        if (item.category == varnok::CleanupCategory::duplicates && item.keeper) {
            box->addWidget(new PathLabel(tr("Keeping: "),
                                         qs(varnok::PathText::displayable(item.keeper->id.path())),
                                         TextRole::caption, card));
        }
        rows->addWidget(card);
    }
    rows->addStretch(1);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(list);
    content()->addWidget(scroll, 1);

    content()->addWidget(makeLabel(tr("You can restore these files from Trash. Space becomes "
                                      "available after you empty Trash in your file manager."),
                                   TextRole::secondary, this));
    acknowledged = new QCheckBox(mnemonicSafe(reviewCheckboxText(plan)), this);
    content()->addWidget(acknowledged);

    cancelButton = addButton(tr("Cancel"));
    moveButton = addButton(tr("Move %1 %2 to Trash").arg(count).arg(itemWord(count)));
    moveButton->setEnabled(false);
    setDefaultButton(moveButton);
    connect(acknowledged, &QCheckBox::toggled, moveButton, &QPushButton::setEnabled);
    connect(moveButton, &QPushButton::clicked, this, &ConfirmSheet::confirmed);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    acknowledged->setFocus();
}

PathScanSheet::PathScanSheet(QWidget* parent, QString home)
    : Sheet(parent, QStringLiteral("pathScan")), home_(std::move(home)) {
    setMinimumWidth(520);
    content()->addWidget(makeLabel(tr("Scan a folder"), TextRole::heading, this));
    path = new QLineEdit(this);
    path->setPlaceholderText(tr("~/Documents"));
    path->setClearButtonEnabled(true);
    nameField(path, tr("Folder path"));
    content()->addWidget(path);
    content()->addWidget(
        makeLabel(tr("Enter an absolute folder path. You can use ~ for your Home folder."),
                  TextRole::body, this));
    content()->addWidget(
        makeLabel(tr("Read-only scan. Unreadable files are reported; no permissions are changed."),
                  TextRole::secondary, this));

    cancelButton = addButton(tr("Cancel"));
    scanButton = addButton(tr("Scan folder"));
    scanButton->setEnabled(false);
    setDefaultButton(scanButton);
    connect(path, &QLineEdit::textChanged, this, [this](const QString& text) {
        scanButton->setEnabled(acceptedFolderPath(text).has_value());
    });
    connect(scanButton, &QPushButton::clicked, this, [this] {
        std::optional<QString> accepted = acceptedFolderPath(path->text());
        if (!accepted) {
            return;
        }
        QString home = home_;
        while (home.size() > 1 && home.endsWith(QLatin1Char('/'))) {
            home.chop(1);
        }
        emit scanRequested(expandedFolderPath(*accepted, home));
    });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    path->setFocus();
}

MessageSheet::MessageSheet(QWidget* parent, const QString& note)
    : Sheet(parent, QStringLiteral("message")) {
    setMinimumWidth(460);
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(new SymbolView("info.circle", 32, TextRole::title, this), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(makeLabel(tr("Ombrelo \u00b7 Local beta"), TextRole::heading, this));
    texts->addWidget(makeLabel(note, TextRole::body, this));
    top->addLayout(texts, 1);
    content()->addLayout(top);
    doneButton = addButton(tr("Done"));
    setDefaultButton(doneButton);
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace ombrelo::ui

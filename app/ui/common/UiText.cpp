#include "app/ui/common/UiText.hpp"

#include "core/cleanup/ConsumerCleanup.hpp"

#include <QLocale>

namespace ombrelo::ui {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString formatSize(std::int64_t bytes) {
    if (bytes < 1000) {
        return QLocale().formattedDataSize(bytes, 0, QLocale::DataSizeSIFormat);
    }
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString itemWord(std::int64_t count) {
    return count == 1 ? QObject::tr("item") : QObject::tr("items");
}

QString mnemonicSafe(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString categoryShortLine(varnok::CleanupCategory category) {
    switch (category.value()) {
    case varnok::CleanupCategory::appCaches:
        return QObject::tr("Temporary cache files. The app may download or rebuild them.");
    case varnok::CleanupCategory::browserCaches:
        return QObject::tr("Cached pages and resources. Cookies, passwords and history stay.");
    case varnok::CleanupCategory::aiCaches:
        return QObject::tr("UI caches only. Conversations, projects and models stay.");
    case varnok::CleanupCategory::communicationCaches:
        return QObject::tr("UI caches only. Messages and attachments stay.");
    case varnok::CleanupCategory::oldLogs:
        return QObject::tr("Over 30 days old. Review if you are troubleshooting a problem.");
    default:
        // Developer output and duplicates carry their own reason on every row.
        return qs(category.explanation());
    }
}

QString statusLabel(varnok::TrashStatus status) {
    switch (status) {
    case varnok::TrashStatus::notAttempted:
        return QObject::tr("Not attempted");
    case varnok::TrashStatus::moving:
        return QObject::tr("Interrupted \u00b7 Check Trash");
    case varnok::TrashStatus::moved:
        return QObject::tr("Sent to Trash");
    case varnok::TrashStatus::failed:
        return QObject::tr("Not moved");
    case varnok::TrashStatus::restoring:
        return QObject::tr("Restore interrupted \u00b7 Check both paths");
    case varnok::TrashStatus::restored:
        return QObject::tr("Restored");
    }
    return {};
}

bool statusIsPositive(varnok::TrashStatus status) {
    return status == varnok::TrashStatus::moved;
}

QString reviewCheckboxText(const varnok::CleanupPlan& plan) {
    bool allConsumer = true;
    bool allDuplicates = true;
    for (const auto& item : plan.items) {
        allConsumer = allConsumer && varnok::ConsumerCleanup::isConsumer(item.category);
        allDuplicates = allDuplicates && item.category == varnok::CleanupCategory::duplicates;
    }
    if (allConsumer) {
        return QObject::tr("I reviewed the selected files.");
    }
    if (allDuplicates) {
        return QObject::tr("I reviewed these copies and the files being kept.");
    }
    return QObject::tr("I have stopped related builds, servers and tools.");
}

std::optional<QString> acceptedFolderPath(const QString& typed) {
    QString path = typed.trimmed();
    if (path.startsWith(QLatin1Char('/')) || path == QLatin1String("~") ||
        path.startsWith(QLatin1String("~/"))) {
        return path;
    }
    return std::nullopt;
}

QString expandedFolderPath(const QString& accepted, const QString& home) {
    if (accepted.startsWith(QLatin1Char('~'))) {
        return home + accepted.mid(1);
    }
    return accepted;
}

} // namespace ombrelo::ui

#include "app/ui/explore/ChangeTexts.hpp"

#include "app/ui/common/UiText.hpp"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QObject>

namespace ombrelo::ui::changeTexts {

using Kind = varnok::NodeChange::Kind;

namespace {

// A typographic minus, not a hyphen, as a reader of figures expects.
const QString minus = QStringLiteral("\u2212");

} // namespace

QString cell(const varnok::NodeChange& change) {
    switch (change.kind) {
    case Kind::unchanged:
        return QString();
    case Kind::appeared:
        return QObject::tr("New");
    case Kind::grew:
        return QLatin1Char('+') + formatSize(change.change());
    case Kind::shrank:
        return minus + formatSize(-change.change());
    }
    return QString();
}

QString spoken(const varnok::NodeChange& change) {
    switch (change.kind) {
    case Kind::unchanged:
        return QObject::tr("unchanged");
    case Kind::appeared:
        return QObject::tr("new");
    case Kind::grew:
        return QObject::tr("grew by %1").arg(formatSize(change.change()));
    case Kind::shrank:
        return QObject::tr("shrank by %1").arg(formatSize(-change.change()));
    }
    return QString();
}

std::vector<LegendEntry> legend(const varnok::ChangeTotals& totals, bool groups, bool dark) {
    using varnok::NodeChange;
    // The swatches show each hue at full strength, with a weaker shade beside it.
    auto shades = [dark](Kind kind) {
        const QColor strong = mapColours::ofChange(NodeChange{kind, 0, 100}, dark);
        return LegendEntry{
            QString(), strong, {mapColours::ofChange(NodeChange{kind, 80, 100}, dark)}};
    };
    LegendEntry grew = shades(Kind::grew);
    // A sign only on something: "+0 bytes" reads as a change.
    grew.label =
        QObject::tr("Grew (%1%2)")
            .arg(totals.grew > 0 ? QStringLiteral("+") : QString(), formatSize(totals.grew));
    LegendEntry shrank = shades(Kind::shrank);
    shrank.label = QObject::tr("Shrank (%1%2)")
                       .arg(totals.shrank > 0 ? minus : QString(), formatSize(totals.shrank));
    const LegendEntry appeared{QObject::tr("New (%1)").arg(formatSize(totals.appeared)),
                               mapColours::ofChange(NodeChange{Kind::appeared, 0, 1}, dark),
                               {}};
    const LegendEntry gone{QObject::tr("Gone (%1, not on the map)").arg(formatSize(totals.gone)),
                           QColor(Qt::transparent),
                           {}};
    const LegendEntry same{QObject::tr("Unchanged"), mapColours::ofChange(NodeChange{}, dark), {}};
    std::vector<LegendEntry> entries{grew, shrank, appeared, gone, same};
    if (groups) {
        entries.push_back({QObject::tr("More items"), mapColours::ofGroup(dark), {}});
    }
    return entries;
}

QString comparedWith(const varnok::ExploreComparison& comparison, bool remembered) {
    const QString file = QFileInfo(comparison.file).fileName();
    const QString when =
        QLocale().toString(QDateTime::fromSecsSinceEpoch(comparison.takenAt), QLocale::ShortFormat);
    if (remembered) {
        return QObject::tr("Compared with the remembered scan of %1").arg(when);
    }
    if (comparison.takenAt <= 0) {
        return QObject::tr("Compared with the saved scan %1").arg(file);
    }
    return QObject::tr("Compared with the scan of %1 (%2)").arg(when, file);
}

} // namespace ombrelo::ui::changeTexts

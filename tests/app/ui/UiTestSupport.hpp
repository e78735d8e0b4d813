#pragma once

#include "app/model/AppModel.hpp"
#include "app/ui/explore/MapLegend.hpp"

#include <QAbstractItemModel>
#include <QColor>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace ombrelo::testing {

// The usual contrast ratio, computed here on its own so that the window's colours are checked
// against the definition rather than against themselves.
inline double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& colour) {
        auto channel = [](double value) {
            return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
               0.0722 * channel(colour.blueF());
    };
    const double la = luminance(a.toRgb());
    const double lb = luminance(b.toRgb());
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

inline QStringList legendLabels(const ui::MapLegend& legend) {
    QStringList labels;
    for (const auto& entry : legend.entries()) {
        labels << entry.label;
    }
    return labels;
}

// Scans `folder` in the explorer; true once its tree is shown and remembered.
inline bool explore(varnok::AppModel& model, const std::string& folder) {
    model.explore().scanFolder(varnok::Url::file(folder, true));
    return QTest::qWaitFor(
               [&] {
                   return !model.explore().activeScanURL() && !model.remembered().isRemembering();
               },
               20000) &&
           !model.explore().isSample();
}

// The texts of one column, top to bottom.
inline QStringList columnTexts(const QAbstractItemModel& rows, int column) {
    QStringList texts;
    for (int row = 0; row < rows.rowCount(); ++row) {
        texts << rows.index(row, column).data().toString();
    }
    return texts;
}

} // namespace ombrelo::testing

#pragma once

#include "app/model/ExploreFlow.hpp"
#include "app/ui/explore/MapColours.hpp"

#include <QString>

#include <vector>

namespace ombrelo::ui {

// What the explorer shows of a comparison with an earlier scan, in words.
namespace changeTexts {

// The list's cell: "+1.2 GB", "−300 MB", "New", or nothing when unchanged.
QString cell(const varnok::NodeChange& change);
// What a screen reader hears and the tooltip says: "grew by 1.2 GB", "shrank by 300 MB", "new",
// "unchanged".
QString spoken(const varnok::NodeChange& change);
// The legend while comparing: grew, shrank, new, gone and unchanged with the totals below the
// shown folder, and "More items" when the map groups small ones. Gone items are not on the map;
// their swatch is empty.
std::vector<LegendEntry> legend(const varnok::ChangeTotals& totals, bool groups, bool dark);
// "Compared with the scan of 5 Dec 2026, 14:30 (before.json.gz)".
// `remembered`: the scan is one the explorer keeps, whose file name means nothing to the user.
QString comparedWith(const varnok::ExploreComparison& comparison, bool remembered);

} // namespace changeTexts

} // namespace ombrelo::ui

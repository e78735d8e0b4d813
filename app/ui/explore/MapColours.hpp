#pragma once

#include "core/scan/FileNode.hpp"
#include "core/snapshot/TreeChanges.hpp"

#include <QColor>
#include <QString>

#include <string>
#include <vector>

namespace ombrelo::ui {

// The map's colours, shared by the map and its legend so that both always agree.
namespace mapColours {

// A file's colour by its kind's group ("Video", "Code", ... "Other").
QColor ofKindGroup(const std::string& group);
// The group of a file's kind, from the shared-mime-info names.
std::string kindGroupOf(const varnok::FileNode& node);
// A file's colour by its age bucket, 0 (under 30 days) to 3 (over a year).
QColor ofAge(int bucket);
// The age bucket of a node's last change; a node without a date counts as new.
int ageBucketOf(const varnok::FileNode& node);
// A folder's colour when colouring by kind: one hue per first-level branch, deeper levels lighter.
QColor ofFolder(int branch, int depth, bool dark);
// The shade of "More items".
QColor ofGroup(bool dark);
// A node's colour while the map is compared with an earlier scan: one hue for grew and one for
// shrank, stronger the larger the change against the node's size; another for new, at full
// strength; a neutral shade for unchanged.
QColor ofChange(const varnok::NodeChange& change, bool dark);
// Text drawn on `fill`: near-black or near-white, whichever stands out more.
QColor textOn(const QColor& fill);

} // namespace mapColours

// One line of the map's legend.
struct LegendEntry {
    QString label;
    QColor colour;
    // Several hues in one swatch: the folders, each branch in its own.
    std::vector<QColor> more;
};

} // namespace ombrelo::ui

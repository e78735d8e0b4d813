#pragma once

#include "app/ui/explore/MapColours.hpp"
#include "core/common/Task.hpp"
#include "core/scan/FileNode.hpp"

#include <QUuid>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ombrelo::ui {

// The colours in use on the map, each a swatch and its meaning, in rows as wide as the map.
// A screen reader hears the same list as its description.
class MapLegend : public QWidget {
    Q_OBJECT
public:
    // What a map of a folder shows: its files' kind groups or age buckets, whether it has
    // folders, and whether items are grouped as more items.
    struct Use {
        std::set<std::string> groups;
        std::array<bool, 4> ages{};
        bool folders = false;
        bool more = false;
    };

    explicit MapLegend(QWidget* parent = nullptr);
    ~MapLegend() override;

    // What the map of `folder` shows with `depth` levels. Looks up each file's kind (or age), so
    // it runs on any thread and visits a bounded number of items.
    static Use collect(const varnok::FileNode& folder, int depth, bool byAge);
    // Collects in the background and hands the result to `show`, unless asked again meanwhile.
    // `tree` holds `folder`'s tree while the work reads it.
    void collectLater(std::shared_ptr<const varnok::FileNode> tree, const varnok::FileNode* folder,
                      int depth, bool byAge, std::function<void(const Use&)> show);
    // A collection is under way.
    bool collecting() const { return collector_.has_value(); }

    // Shows `entries`; a collection under way is dropped.
    void setEntries(std::vector<LegendEntry> entries);
    const std::vector<LegendEntry>& entries() const { return entries_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Each entry's box for a legend `width` wide.
    std::vector<QRect> arrange(int width) const;

    std::vector<LegendEntry> entries_;
    QUuid collectToken_;
    std::optional<varnok::TaskHandle> collector_;
};

} // namespace ombrelo::ui

#pragma once

#include "app/ui/explore/MapColours.hpp"

#include <QWidget>

#include <vector>

namespace ombrelo::ui {

// The colours in use on the map, each a swatch and its meaning, in rows as wide as the map.
// A screen reader hears the same list as its description.
class MapLegend : public QWidget {
    Q_OBJECT
public:
    explicit MapLegend(QWidget* parent = nullptr);

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
};

} // namespace ombrelo::ui

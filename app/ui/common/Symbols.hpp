#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string_view>

namespace ombrelo::ui {

// Line symbols drawn from small built-in SVGs in a given colour, so that they follow the palette
// (there is no icon theme to rely on). Unknown names give the square stack.
QIcon symbolIcon(std::string_view name, const QColor& color);
QPixmap symbolPixmap(std::string_view name, const QColor& color, int size, qreal devicePixelRatio);

// The application's own icon.
QIcon applicationIcon();

} // namespace ombrelo::ui

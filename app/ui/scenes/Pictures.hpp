#pragma once

#include <QImage>
#include <QPalette>

class QWidget;

namespace ombrelo::pictures {

QPalette lightPalette();
QPalette darkPalette();

// The window as the user sees it: its content, and each open dialog drawn on top of a dimmed
// window, centred near the top as a sheet.
QImage capture(QWidget* window);

} // namespace ombrelo::pictures

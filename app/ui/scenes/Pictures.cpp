#include "app/ui/scenes/Pictures.hpp"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace ombrelo::pictures {

QPalette lightPalette() {
    QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QPalette palette = fusion->standardPalette();
    delete fusion;
    palette.setColor(QPalette::Window, QColor(0xf3, 0xf3, 0xf5));
    palette.setColor(QPalette::Base, QColor(0xff, 0xff, 0xff));
    palette.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf7, 0xf9));
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xde));
    palette.setColor(QPalette::Link, QColor(0x1f, 0x5f, 0xcc));
    // Fusion's own placeholder (the text at half strength) reads at under 4:1 on white.
    palette.setColor(QPalette::PlaceholderText, QColor(0x6e, 0x6e, 0x73));
    return palette;
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x24, 0x25, 0x29);
    const QColor base(0x1b, 0x1c, 0x1f);
    const QColor button(0x34, 0x35, 0x3a);
    const QColor text(0xe8, 0xe8, 0xea);
    const QColor disabled(0x7a, 0x7b, 0x80);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2b, 0x30));
    palette.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3b, 0x40));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8f, 0x90, 0x96));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4b, 0x52));
    palette.setColor(QPalette::Midlight, QColor(0x3c, 0x3d, 0x43));
    palette.setColor(QPalette::Mid, QColor(0x2c, 0x2d, 0x31));
    palette.setColor(QPalette::Dark, QColor(0x16, 0x16, 0x19));
    palette.setColor(QPalette::Shadow, QColor(0x08, 0x08, 0x0a));
    palette.setColor(QPalette::Highlight, QColor(0x4a, 0x8d, 0xf2));
    palette.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    palette.setColor(QPalette::Link, QColor(0x7a, 0xb0, 0xff));
    palette.setColor(QPalette::LinkVisited, QColor(0xb4, 0x9c, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabled);
    }
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(0x2c, 0x2d, 0x31));
    return palette;
}

QImage capture(QWidget* window) {
    QImage image = window->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = window->palette().color(QPalette::Window).lightness() < 128;
    const QSize logical = window->size();
    // A dialog opened on another dialog is drawn after it.
    std::vector<std::pair<int, QDialog*>> dialogs;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(top);
        if (dialog == nullptr || !dialog->isVisible()) {
            continue;
        }
        int depth = 0;
        for (QWidget* up = dialog->parentWidget(); up != nullptr; up = up->parentWidget()) {
            depth += qobject_cast<QDialog*>(up) != nullptr ? 1 : 0;
        }
        dialogs.emplace_back(depth, dialog);
    }
    std::stable_sort(dialogs.begin(), dialogs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [depth, dialog] : dialogs) {
        painter.fillRect(QRect(QPoint(), logical), QColor(0, 0, 0, dark ? 110 : 70));
        QPixmap sheet = dialog->grab();
        QSize size = dialog->size();
        QPoint at((logical.width() - size.width()) / 2,
                  std::max(40, (logical.height() - size.height()) / 4));
        QRectF frame(at, size);
        for (int i = 8; i > 0; --i) {
            QPainterPath shadow;
            shadow.addRoundedRect(frame.adjusted(-i, -i + 4, i, i + 4), 10 + i, 10 + i);
            painter.fillPath(shadow, QColor(0, 0, 0, dark ? 14 : 8));
        }
        QPainterPath clip;
        clip.addRoundedRect(frame, 10, 10);
        painter.save();
        painter.setClipPath(clip);
        painter.drawPixmap(at, sheet);
        painter.restore();
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 50), 1));
        painter.drawPath(clip);
    }
    painter.end();
    return image;
}

} // namespace ombrelo::pictures

#include "app/ui/common/Symbols.hpp"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>
#include <array>

namespace ombrelo::ui {
namespace {

struct Symbol {
    std::string_view name;
    // The inner SVG of a 24 × 24 drawing stroked in "currentColor".
    std::string_view body;
};

constexpr std::array<Symbol, 16> symbols = {{
    {"square.stack", R"(<rect x="4" y="8" width="12" height="12" rx="2"/>
        <path d="M8 4h10a2 2 0 0 1 2 2v10"/>)"},
    {"globe", R"(<circle cx="12" cy="12" r="8.5"/><path d="M3.5 12h17"/>
        <path d="M12 3.5c2.6 2.4 3.8 5.2 3.8 8.5s-1.2 6.1-3.8 8.5c-2.6-2.4-3.8-5.2-3.8-8.5s1.2-6.1 3.8-8.5z"/>)"},
    {"doc.text", R"(<path d="M6 3h8l4 4v14H6z"/><path d="M14 3v4h4"/>
        <path d="M9 12h6M9 15.5h6M9 19h4"/>)"},
    {"sparkles", R"(<path d="M10 4l1.6 4.4L16 10l-4.4 1.6L10 16l-1.6-4.4L4 10l4.4-1.6z"/>
        <path d="M17.5 14l.8 2.2 2.2.8-2.2.8-.8 2.2-.8-2.2-2.2-.8 2.2-.8z"/>)"},
    {"bubble.left.and.bubble.right",
     R"(<path d="M3.5 5h10a1.5 1.5 0 0 1 1.5 1.5v5a1.5 1.5 0 0 1-1.5 1.5H8l-3 2.5V13H3.5A1.5 1.5 0 0 1 2 11.5v-5A1.5 1.5 0 0 1 3.5 5z"/>
        <path d="M17.5 9h3a1.5 1.5 0 0 1 1.5 1.5v5a1.5 1.5 0 0 1-1.5 1.5H19v2.5L16 17h-4.5a1.5 1.5 0 0 1-1.5-1.5V15"/>)"},
    {"magnifyingglass", R"(<circle cx="10.5" cy="10.5" r="6"/><path d="M15 15l5 5"/>)"},
    {"checkmark.circle", R"(<circle cx="12" cy="12" r="8.5"/><path d="M8 12.3l2.7 2.7L16 9.5"/>)"},
    {"lock", R"(<rect x="5.5" y="10.5" width="13" height="9.5" rx="2"/>
        <path d="M8.5 10.5V8a3.5 3.5 0 0 1 7 0v2.5"/>)"},
    {"lock.shield",
     R"(<path d="M12 2.8l7.5 3v5.7c0 4.7-3.1 8.3-7.5 9.7-4.4-1.4-7.5-5-7.5-9.7V5.8z"/>
        <rect x="9" y="11" width="6" height="5" rx="1"/><path d="M10.3 11V9.6a1.7 1.7 0 0 1 3.4 0V11"/>)"},
    {"arrow.forward", R"(<path d="M5 12h13M13 7l5 5-5 5"/>)"},
    {"arrow.clockwise", R"(<path d="M19 12a7 7 0 1 1-2.1-5"/><path d="M17.5 3.5v4h-4"/>)"},
    {"info.circle", R"(<circle cx="12" cy="12" r="8.5"/><path d="M12 11v5.5"/>
        <circle cx="12" cy="7.8" r=".6"/>)"},
    {"trash", R"(<path d="M4.5 6.5h15M9.5 6.5V4.5h5v2"/><path d="M6.5 6.5l1 13.5h9l1-13.5"/>
        <path d="M10 10v6.5M14 10v6.5"/>)"},
    {"exclamationmark.triangle", R"(<path d="M12 4l9 15.5H3z"/><path d="M12 10v4.5"/>
        <circle cx="12" cy="17" r=".6"/>)"},
    {"folder",
     R"(<path d="M3.5 6.5a1.5 1.5 0 0 1 1.5-1.5h4l2 2h8a1.5 1.5 0 0 1 1.5 1.5v9a1.5 1.5 0 0 1-1.5 1.5H5a1.5 1.5 0 0 1-1.5-1.5z"/>)"},
    {"clock.arrow.circlepath",
     R"(<path d="M4.5 12a7.5 7.5 0 1 0 2.2-5.3"/><path d="M4 4.5v3.5h3.5"/>
        <path d="M12 8v4.3l3 1.7"/>)"},
}};

QByteArray svgFor(std::string_view name, const QColor& color) {
    std::string_view body = symbols.front().body;
    for (const Symbol& symbol : symbols) {
        if (symbol.name == name) {
            body = symbol.body;
        }
    }
    QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" "
                     "fill=\"none\" stroke=\"currentColor\" stroke-width=\"1.7\" "
                     "stroke-linecap=\"round\" stroke-linejoin=\"round\">";
    svg.append(body.data(), static_cast<qsizetype>(body.size()));
    svg.append("</svg>");
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    return svg;
}

// Renders at whatever size and scale is asked, so symbols stay sharp at 200 %.
class SymbolEngine : public QIconEngine {
public:
    explicit SymbolEngine(QByteArray svg) : svg_(std::move(svg)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer renderer(svg_);
        if (mode == QIcon::Disabled) {
            painter->setOpacity(0.4);
        }
        renderer.render(painter, rect);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SymbolEngine(svg_); }

private:
    QByteArray svg_;
};

} // namespace

QIcon symbolIcon(std::string_view name, const QColor& color) {
    return QIcon(new SymbolEngine(svgFor(name, color)));
}

QPixmap symbolPixmap(std::string_view name, const QColor& color, int size, qreal devicePixelRatio) {
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QSvgRenderer(svgFor(name, color)).render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/ombrelo/ombrelo.svg"));
}

} // namespace ombrelo::ui

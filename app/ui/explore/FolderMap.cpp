#include "app/ui/explore/FolderMap.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/explore/MapColours.hpp"
#include "core/layout/BubbleLayout.hpp"
#include "core/layout/FlameLayout.hpp"
#include "core/layout/SunburstLayout.hpp"
#include "core/layout/TreemapLayout.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QDateTime>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <map>

namespace ombrelo::ui {

using varnok::FileNode;
using varnok::FolderMapMode;

namespace {

// Enough shapes to read a folder at a glance while painting stays well under a frame.
constexpr int tileLimit = 2500;
constexpr int siblingLimit = 60;

constexpr double degreesPerRadian = 57.29577951308232;

QPainterPath ringSegment(QPointF centre, double inner, double outer, double start, double end) {
    // Angles run clockwise from twelve o'clock; Qt's run counter-clockwise from three.
    const double from = 90.0 - start * degreesPerRadian;
    const double span = (end - start) * degreesPerRadian;
    const QRectF outerBox(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    const QRectF innerBox(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
    QPainterPath path;
    path.arcMoveTo(outerBox, from);
    path.arcTo(outerBox, from, -span);
    path.arcTo(innerBox, from - span, span);
    path.closeSubpath();
    return path;
}

QColor readableText(const QColor& fill) {
    return fill.lightnessF() > 0.6 ? QColor(20, 20, 24) : QColor(250, 250, 252);
}

} // namespace

FolderMap::FolderMap(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 240);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void FolderMap::setFolder(const FileNode* folder) {
    folder_ = folder;
    invalidate();
}

void FolderMap::setMode(FolderMapMode mode) {
    if (mode_ != mode) {
        mode_ = mode;
        invalidate();
    }
}

void FolderMap::setDepth(int depth) {
    if (depth_ != depth) {
        depth_ = depth;
        invalidate();
    }
}

void FolderMap::setColouring(MapColouring colouring) {
    if (colouring_ != colouring) {
        colouring_ = colouring;
        invalidate();
    }
}

void FolderMap::setSelectedURL(std::optional<varnok::Url> url) {
    if (selected_ != url) {
        selected_ = std::move(url);
        update();
    }
}

void FolderMap::invalidate() {
    hovered_ = nullptr;
    layoutDirty_ = true;
    pictureDirty_ = true;
    shapes_.clear();
    update();
}

void FolderMap::layOut() {
    layoutDirty_ = false;
    shapes_.clear();
    hovered_ = nullptr;
    if (folder_ == nullptr || mode_ == FolderMapMode::list || width() < 2 || height() < 2) {
        return;
    }
    const auto& children = folder_->children;
    const double w = width();
    const double h = height();
    std::map<const FileNode*, int> branches;
    auto branchOf = [&](const varnok::LayoutEntry& entry) {
        const FileNode* top = entry.ancestors.empty() ? entry.node : entry.ancestors.front();
        return branches.emplace(top, static_cast<int>(branches.size())).first->second;
    };
    auto add = [&](const varnok::LayoutEntry& entry, QPainterPath path, QRectF label,
                   bool expanded) {
        Shape shape;
        shape.path = std::move(path);
        shape.labelRect = label;
        shape.node = entry.node;
        shape.group = entry.group;
        shape.branch = branchOf(entry);
        shape.depth = entry.depth;
        shape.expanded = expanded;
        shapes_.push_back(std::move(shape));
    };

    switch (mode_) {
    case FolderMapMode::treemap:
        for (const auto& tile :
             varnok::TreemapLayout::make(children, {w, h}, depth_, tileLimit, siblingLimit)) {
            const QRectF rect(tile.rect.x, tile.rect.y, tile.rect.width, tile.rect.height);
            QPainterPath path;
            path.addRect(rect);
            QRectF label = rect.adjusted(4, 2, -4, -2);
            if (tile.expanded) {
                const auto inside = varnok::TreemapLayout::childArea(tile.rect);
                label.setBottom(inside.y);
            }
            add(tile, std::move(path), label, tile.expanded);
        }
        break;
    case FolderMapMode::sunburst: {
        const int rings = std::clamp(depth_, 1, 3);
        const QPointF centre(w / 2, h / 2);
        const double outer = std::min(w, h) / 2 - 8;
        const double hole = outer * 0.28;
        const double ring = (outer - hole) / rings;
        if (outer <= hole) {
            break;
        }
        for (const auto& segment :
             varnok::SunburstLayout::make(children, rings, tileLimit, siblingLimit)) {
            const double inner = hole + (segment.depth - 1) * ring;
            const double middle = (segment.start + segment.end) / 2;
            const double radius = inner + ring / 2;
            const QPointF at(centre.x() + radius * std::sin(middle),
                             centre.y() - radius * std::cos(middle));
            const double arc = (segment.end - segment.start) * radius;
            const QRectF label = arc > 60 ? QRectF(at.x() - 50, at.y() - 9, 100, 18) : QRectF();
            add(segment, ringSegment(centre, inner, inner + ring - 1, segment.start, segment.end),
                label, false);
        }
        break;
    }
    case FolderMapMode::flame: {
        const int rows = std::clamp(depth_, 1, 3);
        const double rowHeight = std::clamp(h / rows, 24.0, 96.0);
        for (const auto& bar : varnok::FlameLayout::make(children, w, rowHeight, rows, tileLimit)) {
            const QRectF rect(bar.rect.x, bar.rect.y, bar.rect.width, bar.rect.height);
            QPainterPath path;
            path.addRect(rect.adjusted(0, 0, -1, -1));
            add(bar, std::move(path), rect.adjusted(4, 0, -4, 0), false);
        }
        break;
    }
    case FolderMapMode::bubbles:
        for (const auto& bubble : varnok::BubbleLayout::make(children, {w, h}, depth_, tileLimit)) {
            const QPointF centre(bubble.circle.center.x, bubble.circle.center.y);
            const double r = bubble.circle.radius;
            QPainterPath path;
            path.addEllipse(centre, r, r);
            QRectF label(centre.x() - r * 0.8, centre.y() - 10, r * 1.6, 20);
            if (bubble.expanded) {
                label.moveTop(centre.y() - r + 4);
            }
            add(bubble, std::move(path), r > 28 ? label : QRectF(), bubble.expanded);
        }
        break;
    case FolderMapMode::list:
        break;
    }
}

QColor FolderMap::fill(const Shape& shape) const {
    const bool dark = isDark(palette());
    if (varnok::isLayoutGroup(*shape.node)) {
        return mapColours::ofGroup(dark);
    }
    if (colouring_ == MapColouring::age) {
        // Folders a shade lighter than files, deeper ones lighter still.
        const QColor colour = mapColours::ofAge(mapColours::ageBucketOf(*shape.node));
        const int lift = std::min(shape.depth - 1, 3) * 7;
        return shape.node->isDirectory ? colour.lighter(115 + lift) : colour;
    }
    if (!shape.node->isDirectory) {
        return mapColours::ofKindGroup(mapColours::kindGroupOf(*shape.node));
    }
    return mapColours::ofFolder(shape.branch, shape.depth, dark);
}

void FolderMap::paintShapes(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing, mode_ != FolderMapMode::treemap);
    const QColor edge = palette().color(QPalette::Base);
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.9);
    painter.setFont(small);
    const QFontMetricsF metrics(small);
    for (const auto& shape : shapes_) {
        const QColor colour = fill(shape);
        painter.setPen(QPen(edge, 1));
        painter.setBrush(colour);
        painter.drawPath(shape.path);
        if (shape.labelRect.width() < 36 || shape.labelRect.height() < 14) {
            continue;
        }
        painter.setPen(readableText(colour));
        const bool group = varnok::isLayoutGroup(*shape.node);
        const QString name = group ? tr("More items") : qs(shape.node->name());
        QString text = name;
        if (!shape.expanded && shape.labelRect.height() >= 2 * metrics.height()) {
            text += QLatin1Char('\n') + formatSize(shape.node->logicalSize);
        }
        const Qt::Alignment align =
            mode_ == FolderMapMode::treemap || mode_ == FolderMapMode::flame
                ? Qt::AlignLeft | (shape.expanded ? Qt::AlignTop : Qt::AlignVCenter)
                : Qt::AlignCenter;
        QStringList lines = text.split(QLatin1Char('\n'));
        for (auto& line : lines) {
            line = metrics.elidedText(line, Qt::ElideRight, shape.labelRect.width());
        }
        painter.drawText(shape.labelRect, static_cast<int>(align), lines.join(QLatin1Char('\n')));
    }
    if (mode_ == FolderMapMode::sunburst && folder_ != nullptr) {
        painter.setPen(palette().color(QPalette::WindowText));
        const QRectF middle(width() / 2.0 - 70, height() / 2.0 - 24, 140, 48);
        painter.drawText(middle, Qt::AlignCenter,
                         metrics.elidedText(qs(folder_->name()), Qt::ElideMiddle, 130) +
                             QLatin1Char('\n') + formatSize(folder_->logicalSize));
    }
}

void FolderMap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    if (layoutDirty_) {
        layOut();
    }
    if (pictureDirty_) {
        pictureDirty_ = false;
        const qreal ratio = devicePixelRatioF();
        picture_ = QPixmap(size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        picture_.fill(Qt::transparent);
        QPainter cache(&picture_);
        paintShapes(cache);
    }
    painter.drawPixmap(0, 0, picture_);
    if (shapes_.empty()) {
        painter.setPen(secondaryTextColor(palette()));
        painter.drawText(rect(), Qt::AlignCenter,
                         folder_ != nullptr && mode_ != FolderMapMode::list
                             ? tr("This folder is empty.")
                             : QString());
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    if (selected_) {
        for (const auto& shape : shapes_) {
            if (shape.node->id == *selected_) {
                painter.setPen(QPen(accentColor(palette()), 3));
                painter.drawPath(shape.path);
            }
        }
    }
    if (hovered_ != nullptr) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
        painter.drawPath(hovered_->path);
    }
}

void FolderMap::resizeEvent(QResizeEvent*) {
    invalidate();
}

void FolderMap::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        invalidate();
    }
    QWidget::changeEvent(event);
}

const FolderMap::Shape* FolderMap::shapeAt(QPointF point) const {
    // Inner shapes follow the shapes that hold them, so the last hit is the innermost.
    for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it) {
        if (it->path.contains(point)) {
            return &*it;
        }
    }
    return nullptr;
}

const FileNode* FolderMap::nodeAt(QPointF point) {
    if (layoutDirty_) {
        layOut();
    }
    const Shape* shape = shapeAt(point);
    return shape != nullptr ? shape->node : nullptr;
}

QString FolderMap::describe(const FileNode& node) const {
    const std::int64_t whole = folder_ != nullptr ? folder_->logicalSize : 0;
    const double share = whole > 0 ? 100.0 * static_cast<double>(node.logicalSize) / whole : 0;
    const QString name = varnok::isLayoutGroup(node) ? tr("More items") : qs(node.name());
    return tr("%1\n%2 \u00b7 %3% of this folder")
        .arg(name, formatSize(node.logicalSize), QString::number(share, 'f', share < 10 ? 1 : 0));
}

void FolderMap::mouseMoveEvent(QMouseEvent* event) {
    if (layoutDirty_) {
        return;
    }
    const Shape* shape = shapeAt(event->position());
    if (shape != hovered_) {
        hovered_ = shape;
        update();
        if (shape != nullptr) {
            QToolTip::showText(event->globalPosition().toPoint(), describe(*shape->node), this);
        } else {
            QToolTip::hideText();
        }
    }
}

void FolderMap::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (const FileNode* node = nodeAt(event->position())) {
        emit nodeClicked(*node);
    }
}

void FolderMap::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (const FileNode* node = nodeAt(event->position())) {
        emit nodeActivated(*node);
    }
}

void FolderMap::leaveEvent(QEvent*) {
    if (hovered_ != nullptr) {
        hovered_ = nullptr;
        update();
    }
}

} // namespace ombrelo::ui

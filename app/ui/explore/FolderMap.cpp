#include "app/ui/explore/FolderMap.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/common/Widgets.hpp"
#include "app/ui/explore/ChangeTexts.hpp"
#include "app/ui/explore/FolderMapAccessible.hpp"
#include "app/ui/explore/MapColours.hpp"
#include "app/ui/explore/NodeListModel.hpp"
#include "core/layout/BubbleLayout.hpp"
#include "core/layout/FlameLayout.hpp"
#include "core/layout/SunburstLayout.hpp"
#include "core/layout/TreemapLayout.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QAccessible>
#include <QDateTime>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
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

} // namespace

FolderMap::FolderMap(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    installFolderMapAccessibility();
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

void FolderMap::setChanges(ChangeLookup lookup) {
    changes_ = std::move(lookup);
    pictureDirty_ = true;
    update();
}

void FolderMap::invalidate() {
    hovered_ = nullptr;
    layoutDirty_ = true;
    pictureDirty_ = true;
    shapes_.clear();
    update();
    if (QAccessible::isActive()) {
        // Readers ask for the new tiles again; the layout is made then, not here.
        QAccessibleEvent event(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
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
            shapes_.back().angle = middle;
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
    if (changes_) {
        return mapColours::ofChange(changes_(*shape.node), dark);
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
        painter.setPen(mapColours::textOn(colour));
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
    if (hasFocus()) {
        if (const int focused = focusedTile(); focused >= 0) {
            // A dashed ring in the text colour stays visible on every fill and beside the
            // selection's accent.
            painter.setPen(QPen(palette().color(QPalette::WindowText), 2, Qt::DashLine));
            painter.drawPath(shapes_[static_cast<size_t>(focused)].path);
        }
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
    QString text = tr("%1\n%2 \u00b7 %3% of this folder")
                       .arg(name, formatSize(node.logicalSize),
                            QString::number(share, 'f', share < 10 ? 1 : 0));
    if (changes_ && !varnok::isLayoutGroup(node)) {
        text += QStringLiteral(" \u00b7 ") + changeTexts::spoken(changes_(node));
    }
    return text;
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
        focusedURL_ = node->id;
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

QString FolderMap::folderName() const {
    return folder_ != nullptr ? qs(folder_->name()) : QString();
}

void FolderMap::ensureLayout() {
    if (layoutDirty_) {
        layOut();
    }
}

int FolderMap::tileCount() {
    ensureLayout();
    return static_cast<int>(shapes_.size());
}

const FileNode* FolderMap::tileNode(int index) {
    ensureLayout();
    return index >= 0 && index < static_cast<int>(shapes_.size())
               ? shapes_[static_cast<size_t>(index)].node
               : nullptr;
}

QRect FolderMap::tileRect(int index) {
    ensureLayout();
    if (index < 0 || index >= static_cast<int>(shapes_.size())) {
        return {};
    }
    return shapes_[static_cast<size_t>(index)].path.boundingRect().toAlignedRect() & rect();
}

QString FolderMap::tileName(int index) {
    const FileNode* node = tileNode(index);
    if (node == nullptr) {
        return {};
    }
    return varnok::isLayoutGroup(*node) ? tr("More items") : qs(node->name());
}

QString FolderMap::tileDescription(int index) {
    const FileNode* node = tileNode(index);
    if (node == nullptr) {
        return {};
    }
    // The tooltip's second line holds size and share, so both always say the same.
    QString text = describe(*node).section(QLatin1Char('\n'), 1);
    if (!varnok::isLayoutGroup(*node)) {
        text += QStringLiteral(" \u00b7 ") + NodeListModel::kindText(*node);
    }
    return text;
}

int FolderMap::tileAt(QPointF point) {
    ensureLayout();
    const Shape* shape = shapeAt(point);
    return shape != nullptr ? static_cast<int>(shape - shapes_.data()) : -1;
}

int FolderMap::focusedTile() {
    ensureLayout();
    if (!focusedURL_) {
        return -1;
    }
    for (size_t i = 0; i < shapes_.size(); ++i) {
        if (shapes_[i].node->id == *focusedURL_) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FolderMap::focusTile(int index) {
    ensureLayout();
    if (index >= 0 && index < static_cast<int>(shapes_.size())) {
        moveFocus(index, true);
    }
}

void FolderMap::moveFocus(int index, bool select) {
    const Shape& shape = shapes_[static_cast<size_t>(index)];
    focusedURL_ = shape.node->id;
    // The signal may lay the map out again; the node stays alive, the shape may not.
    const FileNode& node = *shape.node;
    const auto keepGroup = shape.group;
    update();
    announceFocus();
    if (select) {
        emit nodeClicked(node);
    }
}

void FolderMap::announceFocus() {
    if (!QAccessible::isActive() || !hasFocus()) {
        return;
    }
    const int index = focusedTile();
    if (index < 0) {
        return;
    }
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(index);
    QAccessible::updateAccessibility(&event);
}

int FolderMap::neighbour(int from, int key) const {
    const Shape& current = shapes_[static_cast<size_t>(from)];
    std::vector<int> level;
    for (size_t i = 0; i < shapes_.size(); ++i) {
        if (shapes_[i].depth == current.depth) {
            level.push_back(static_cast<int>(i));
        }
    }
    if (key == Qt::Key_Home || key == Qt::Key_End) {
        return key == Qt::Key_Home ? level.front() : level.back();
    }
    if (mode_ == FolderMapMode::sunburst) {
        // Round the ring: right and down go clockwise, left and up back, wrapping at the top.
        std::sort(level.begin(), level.end(),
                  [&](int a, int b) { return shapes_[a].angle < shapes_[b].angle; });
        const auto at = std::find(level.begin(), level.end(), from) - level.begin();
        const auto count = static_cast<std::ptrdiff_t>(level.size());
        const bool forward = key == Qt::Key_Right || key == Qt::Key_Down;
        return level[static_cast<size_t>((at + (forward ? 1 : count - 1)) % count)];
    }
    // Elsewhere the nearest tile in that direction: the gap along the way counts once, being
    // off to the side twice, so a tile straight ahead wins over a closer one diagonally.
    const QRectF here = current.path.boundingRect();
    const bool horizontal = key == Qt::Key_Left || key == Qt::Key_Right;
    const double sign = key == Qt::Key_Right || key == Qt::Key_Down ? 1 : -1;
    int best = -1;
    double bestScore = 0;
    for (int index : level) {
        if (index == from) {
            continue;
        }
        const QRectF there = shapes_[static_cast<size_t>(index)].path.boundingRect();
        const QPointF step = there.center() - here.center();
        const double along = sign * (horizontal ? step.x() : step.y());
        if (along < 1) {
            continue;
        }
        const double gap = horizontal ? std::max(0.0, sign > 0 ? there.left() - here.right()
                                                               : here.left() - there.right())
                                      : std::max(0.0, sign > 0 ? there.top() - here.bottom()
                                                               : here.top() - there.bottom());
        const double aside =
            horizontal ? std::max({0.0, there.top() - here.bottom(), here.top() - there.bottom()})
                       : std::max({0.0, there.left() - here.right(), here.left() - there.right()});
        const double offCentre = std::abs(horizontal ? step.y() : step.x());
        const double score = gap + 2 * aside + 0.01 * offCentre;
        if (best < 0 || score < bestScore) {
            best = index;
            bestScore = score;
        }
    }
    return best;
}

void FolderMap::keyPressEvent(QKeyEvent* event) {
    ensureLayout();
    const int key = event->key();
    const bool menu =
        key == Qt::Key_Menu || (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menu) {
        showActions();
        return;
    }
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End: {
        if (shapes_.empty()) {
            break;
        }
        const int from = focusedTile();
        const int to = from < 0 ? 0 : neighbour(from, key);
        if (to >= 0 && to != from) {
            moveFocus(to, true);
            // Sighted keyboard users read the tile's size here, as the pointer's users do.
            if (const int now = focusedTile(); now >= 0) {
                QToolTip::showText(mapToGlobal(tileRect(now).center()),
                                   describe(*shapes_[static_cast<size_t>(now)].node), this,
                                   tileRect(now));
            }
        }
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (const FileNode* node = tileNode(focusedTile())) {
            const auto keepGroup = shapes_[static_cast<size_t>(focusedTile())].group;
            emit nodeActivated(*node);
        }
        return;
    case Qt::Key_Backspace:
        emit upRequested();
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void FolderMap::showActions() {
    const int index = focusedTile();
    if (index < 0) {
        return;
    }
    const Shape& shape = shapes_[static_cast<size_t>(index)];
    // The menu holds its own copy of the node's address and finds the node again when chosen,
    // since a new scan may replace the tree while the menu is open.
    const varnok::Url url = shape.node->id;
    const bool folder = shape.node->isDirectory && !varnok::isLayoutGroup(*shape.node) &&
                        !shape.node->isSymbolicLink;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(tr("Actions for %1").arg(tileName(index)));
    auto act = [this, url](bool reveal) {
        for (const auto& candidate : shapes_) {
            if (candidate.node->id == url) {
                const auto keepGroup = candidate.group;
                if (reveal) {
                    emit revealRequested(*candidate.node);
                } else {
                    emit nodeActivated(*candidate.node);
                }
                return;
            }
        }
    };
    if (folder) {
        connect(menu->addAction(tr("Open")), &QAction::triggered, this, [act] { act(false); });
    }
    connect(menu->addAction(tr("Show in Folder")), &QAction::triggered, this, [act] { act(true); });
    const QRect bounds = tileRect(index);
    menu->popup(mapToGlobal(bounds.isEmpty() ? QPoint() : bounds.center()));
}

void FolderMap::contextMenuEvent(QContextMenuEvent* event) {
    ensureLayout();
    if (event->reason() == QContextMenuEvent::Mouse) {
        const int index = tileAt(event->pos());
        if (index < 0) {
            return;
        }
        moveFocus(index, true);
    }
    showActions();
}

void FolderMap::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Coming in, start on the selected tile, so a choice made in the list carries over; else
    // where the keyboard was, else the largest tile.
    ensureLayout();
    const auto selected = std::find_if(shapes_.begin(), shapes_.end(), [this](const Shape& shape) {
        return selected_ && shape.node->id == *selected_;
    });
    if (selected != shapes_.end()) {
        focusedURL_ = selected->node->id;
    } else if (focusedTile() < 0 && !shapes_.empty()) {
        focusedURL_ = shapes_.front().node->id;
    }
    update();
    announceFocus();
}

void FolderMap::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void FolderMap::leaveEvent(QEvent*) {
    if (hovered_ != nullptr) {
        hovered_ = nullptr;
        update();
    }
}

} // namespace ombrelo::ui

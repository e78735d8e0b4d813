#pragma once

#include "app/model/AppModel.hpp"
#include "core/layout/LayoutGroup.hpp"

#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace ombrelo::ui {

// How the map colours its shapes.
enum class MapColouring { kind, age };

// The folder map: one of the core's layouts of a folder's children, painted once into a cached
// picture; the shapes are kept for hit-testing, and hover and selection are drawn on top.
// From the keyboard, the arrows move between the tiles of one level (round the ring in the
// sunburst), Return opens, Backspace goes up and the menu key or Shift+F10 shows a tile's actions;
// screen readers see the drawn tiles as a list.
class FolderMap : public QWidget {
    Q_OBJECT
public:
    explicit FolderMap(QWidget* parent = nullptr);

    // `folder` must outlive the map's use of it, or be replaced first; null shows nothing.
    void setFolder(const varnok::FileNode* folder);
    // `list` shows nothing: the explorer shows its list instead.
    void setMode(varnok::FolderMapMode mode);
    void setDepth(int depth);
    void setColouring(MapColouring colouring);
    void setSelectedURL(std::optional<varnok::Url> url);
    // While set, shapes are coloured by how their node changed since an earlier scan, whatever
    // the colouring, and the tooltips say it.
    using ChangeLookup = std::function<varnok::NodeChange(const varnok::FileNode&)>;
    void setChanges(ChangeLookup lookup);

    // The node drawn under a point of the widget, the innermost one; null over empty space.
    const varnok::FileNode* nodeAt(QPointF point);
    // How many shapes the current layout drew.
    size_t shapeCount() const { return shapes_.size(); }
    // The tooltip text for a node: name, size and share of the folder.
    QString describe(const varnok::FileNode& node) const;

    // The shown folder's name, empty with none.
    QString folderName() const;

    // The drawn tiles, for the keyboard and for screen readers; the layout is made when needed.
    int tileCount();
    const varnok::FileNode* tileNode(int index);
    // The tile's bounds in the widget's coordinates.
    QRect tileRect(int index);
    // What a screen reader says of a tile: its name, then size, share and kind.
    QString tileName(int index);
    QString tileDescription(int index);
    int tileAt(QPointF point);
    // The tile the keyboard is on, or -1.
    int focusedTile();
    // Puts the keyboard on a tile and selects it, as a click does.
    void focusTile(int index);
    // Opens the actions of the focused tile (Open, Show in Folder) beside it.
    void showActions();

signals:
    void nodeClicked(const varnok::FileNode& node);
    void nodeActivated(const varnok::FileNode& node);
    // Backspace: the folder above this one.
    void upRequested();
    void revealRequested(const varnok::FileNode& node);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Shape {
        QPainterPath path;
        QRectF labelRect;
        const varnok::FileNode* node = nullptr;
        // Keeps a "More items" node alive.
        std::shared_ptr<const varnok::LayoutGroup> group;
        // Index of the first-level entry this shape belongs to, for its hue.
        int branch = 0;
        int depth = 1;
        bool expanded = false;
        // Middle of a sunburst segment, clockwise from twelve o'clock, for ring order.
        double angle = 0;
    };

    void invalidate();
    void layOut();
    void paintShapes(QPainter& painter) const;
    QColor fill(const Shape& shape) const;
    const Shape* shapeAt(QPointF point) const;
    void ensureLayout();
    int neighbour(int from, int key) const;
    void moveFocus(int index, bool select);
    void announceFocus();

    const varnok::FileNode* folder_ = nullptr;
    varnok::FolderMapMode mode_ = varnok::FolderMapMode::treemap;
    int depth_ = 2;
    MapColouring colouring_ = MapColouring::kind;
    std::optional<varnok::Url> selected_;
    ChangeLookup changes_;
    std::vector<Shape> shapes_;
    QPixmap picture_;
    bool layoutDirty_ = true;
    bool pictureDirty_ = true;
    const Shape* hovered_ = nullptr;
    // The keyboard's tile, kept by address so it survives a new layout of the same folder.
    std::optional<varnok::Url> focusedURL_;
};

} // namespace ombrelo::ui

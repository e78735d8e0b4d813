#include "app/ui/explore/FolderMapAccessible.hpp"

#include "app/ui/common/UiText.hpp"
#include "app/ui/explore/FolderMap.hpp"

#include <QAccessibleWidget>
#include <QPointer>

#include <unordered_map>

namespace ombrelo::ui {

namespace {

// One drawn tile. It reads the map by position each time it is asked, so a new layout needs no
// bookkeeping here: the same position then simply describes the new tile.
class TileAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TileAccessible(FolderMap* map, int index) : map_(map), index_(index) {}

    bool isValid() const override { return map_ && index_ < map_->tileCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return map_ ? map_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return map_ ? QAccessible::queryAccessibleInterface(map_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        if (!isValid()) {
            return {};
        }
        switch (kind) {
        case QAccessible::Name:
            return map_->tileName(index_);
        case QAccessible::Description:
            return map_->tileDescription(index_);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) {
            return {};
        }
        const QRect local = map_->tileRect(index_);
        return {map_->mapToGlobal(local.topLeft()), local.size()};
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.selectable = true;
        state.focused = map_->hasFocus() && map_->focusedTile() == index_;
        state.selected = map_->focusedTile() == index_;
        state.invisible = !map_->isVisible();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction(), showMenuAction()}; }
    void doAction(const QString& name) override {
        if (!isValid()) {
            return;
        }
        // Pressing a tile does what a click does; its menu is the one the menu key opens.
        map_->focusTile(index_);
        if (name == showMenuAction()) {
            map_->showActions();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    const FolderMap* map() const { return map_.data(); }
    int index() const { return index_; }

private:
    QPointer<FolderMap> map_;
    int index_;
};

class FolderMapAccessible : public QAccessibleWidget {
public:
    explicit FolderMapAccessible(FolderMap* map) : QAccessibleWidget(map, QAccessible::List) {}
    ~FolderMapAccessible() override {
        for (const auto& [index, id] : tiles_) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return map()->tileCount(); }
    // Tiles are made only when a reader asks for them, and then kept for the map's life.
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= map()->tileCount()) {
            return nullptr;
        }
        if (auto found = tiles_.find(index); found != tiles_.end()) {
            return QAccessible::accessibleInterface(found->second);
        }
        auto* tile = new TileAccessible(map(), index);
        tiles_.emplace(index, QAccessible::registerAccessibleInterface(tile));
        return tile;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* tile = dynamic_cast<const TileAccessible*>(child);
        return tile != nullptr && tile->map() == map() && tile->isValid() ? tile->index() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return child(map()->tileAt(map()->mapFromGlobal(QPoint(x, y))));
    }
    QAccessibleInterface* focusChild() const override {
        return map()->hasFocus() ? child(map()->focusedTile()) : nullptr;
    }
    QString text(QAccessible::Text kind) const override {
        QString own = QAccessibleWidget::text(kind);
        if (!own.isEmpty()) {
            return own;
        }
        if (kind == QAccessible::Name) {
            const QString folder = map()->folderName();
            return folder.isEmpty() ? FolderMap::tr("Folder map")
                                    : FolderMap::tr("Map of %1").arg(folder);
        }
        if (kind == QAccessible::Description) {
            return FolderMap::tr("Arrow keys move between tiles, Return opens a folder, "
                                 "Backspace goes up, the menu key shows the tile's actions.");
        }
        return own;
    }

private:
    FolderMap* map() const { return static_cast<FolderMap*>(widget()); }

    mutable std::unordered_map<int, QAccessible::Id> tiles_;
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
    if (auto* map = qobject_cast<FolderMap*>(object)) {
        return new FolderMapAccessible(map);
    }
    return nullptr;
}

} // namespace

void installFolderMapAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&makeInterface);
        return true;
    }();
    (void)installed;
}

} // namespace ombrelo::ui

#include "app/ui/explore/MapLegend.hpp"

#include "app/model/Background.hpp"

#include <QPainter>
#include <QStringList>

namespace ombrelo::ui {

namespace {

constexpr int swatch = 12;
constexpr int gap = 6;
constexpr int spacing = 16;

} // namespace

MapLegend::MapLegend(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(tr("Map colours"));
}

MapLegend::~MapLegend() {
    if (collector_) {
        collector_->cancel();
    }
}

MapLegend::Use MapLegend::collect(const varnok::FileNode& folder, int depth, bool byAge) {
    // What the map can show: the levels it draws, and no more nodes than it draws shapes.
    constexpr size_t visitLimit = 20000;
    constexpr size_t siblingLimit = 60;
    Use use;
    std::vector<std::pair<const varnok::FileNode*, int>> pending;
    for (const auto& child : folder.children) {
        pending.emplace_back(&child, 1);
    }
    use.more = folder.children.size() > siblingLimit;
    size_t visited = 0;
    while (!pending.empty() && visited < visitLimit) {
        const auto [node, level] = pending.back();
        pending.pop_back();
        if (++visited % 1024 == 0) {
            varnok::Task::checkCancellation();
        }
        if (node->isDirectory) {
            use.folders = true;
        }
        if (byAge) {
            use.ages[static_cast<size_t>(mapColours::ageBucketOf(*node))] = true;
        } else if (!node->isDirectory) {
            use.groups.insert(mapColours::kindGroupOf(*node));
        }
        if (level < depth) {
            use.more = use.more || node->children.size() > siblingLimit;
            for (const auto& child : node->children) {
                pending.emplace_back(&child, level + 1);
            }
        }
    }
    return use;
}

void MapLegend::collectLater(std::shared_ptr<const varnok::FileNode> tree,
                             const varnok::FileNode* folder, int depth, bool byAge,
                             std::function<void(const Use&)> show) {
    if (collector_) {
        collector_->cancel();
    }
    const QUuid token = QUuid::createUuid();
    collectToken_ = token;
    collector_ = varnok::model::runInBackground(
        this, &MapLegend::collectToken_, token,
        [tree = std::move(tree), folder, depth, byAge] { return collect(*folder, depth, byAge); },
        [show = std::move(show)](MapLegend& legend, varnok::model::Outcome<Use> outcome) {
            legend.collector_.reset();
            if (outcome.value) {
                show(*outcome.value);
            }
        });
}

void MapLegend::setEntries(std::vector<LegendEntry> entries) {
    // Entries given now win over a collection still under way.
    if (collector_) {
        collector_->cancel();
        collector_.reset();
    }
    collectToken_ = QUuid::createUuid();
    entries_ = std::move(entries);
    QStringList meanings;
    for (const auto& entry : entries_) {
        meanings << entry.label;
    }
    setAccessibleDescription(meanings.join(QStringLiteral(", ")));
    updateGeometry();
    update();
}

std::vector<QRect> MapLegend::arrange(int width) const {
    std::vector<QRect> boxes;
    const QFontMetrics metrics(font());
    const int line = std::max(metrics.height(), swatch);
    int x = 0;
    int y = 0;
    for (const auto& entry : entries_) {
        const int w = swatch + gap + metrics.horizontalAdvance(entry.label);
        if (x > 0 && x + w > width) {
            x = 0;
            y += line + 4;
        }
        boxes.emplace_back(x, y, w, line);
        x += w + spacing;
    }
    return boxes;
}

QSize MapLegend::sizeHint() const {
    const auto boxes = arrange(QWIDGETSIZE_MAX);
    return {boxes.empty() ? 0 : boxes.back().right() + 1, heightForWidth(QWIDGETSIZE_MAX)};
}

QSize MapLegend::minimumSizeHint() const {
    return {0, heightForWidth(width() > 0 ? width() : 400)};
}

int MapLegend::heightForWidth(int width) const {
    const auto boxes = arrange(width);
    return boxes.empty() ? 0 : boxes.back().bottom() + 1;
}

void MapLegend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto boxes = arrange(width());
    const QColor edge = palette().color(QPalette::WindowText);
    for (size_t i = 0; i < entries_.size(); ++i) {
        const LegendEntry& entry = entries_[i];
        const QRect& box = boxes[i];
        const QRectF square(box.x() + 0.5, box.center().y() - swatch / 2.0 + 0.5, swatch - 1,
                            swatch - 1);
        std::vector<QColor> colours{entry.colour};
        colours.insert(colours.end(), entry.more.begin(), entry.more.end());
        // Several hues share the square in vertical stripes.
        const double stripe = square.width() / static_cast<double>(colours.size());
        painter.setPen(Qt::NoPen);
        for (size_t c = 0; c < colours.size(); ++c) {
            painter.setBrush(colours[c]);
            painter.drawRect(QRectF(square.x() + c * stripe, square.y(), stripe, square.height()));
        }
        // A faint frame keeps pale swatches apart from the background in both palettes.
        QColor frame = edge;
        frame.setAlphaF(0.35);
        painter.setPen(QPen(frame, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(square);
        painter.setPen(edge);
        painter.drawText(
            QRect(box.x() + swatch + gap, box.y(), box.width() - swatch - gap, box.height()),
            Qt::AlignLeft | Qt::AlignVCenter, entry.label);
    }
}

} // namespace ombrelo::ui

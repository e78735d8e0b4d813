#include "app/ui/explore/MapColours.hpp"

#include "core/kinds/MimeDatabase.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace ombrelo::ui::mapColours {

QColor ofKindGroup(const std::string& group) {
    // Each hue carries its label at 4.5:1 or more in dark or light text (see textOn).
    static const std::array<std::pair<const char*, QColor>, 10> colours{{
        {"Video", QColor(180, 62, 136)},
        {"Audio", QColor(132, 84, 196)},
        {"Image", QColor(226, 146, 44)},
        {"Document", QColor(58, 132, 214)},
        {"Archive", QColor(164, 116, 72)},
        {"Code", QColor(52, 160, 108)},
        {"Text", QColor(70, 164, 184)},
        {"Font", QColor(214, 112, 96)},
        {"Program", QColor(192, 60, 60)},
        {"Other", QColor(128, 134, 146)},
    }};
    for (const auto& [name, colour] : colours) {
        if (group == name) {
            return colour;
        }
    }
    return colours.back().second;
}

std::string kindGroupOf(const varnok::FileNode& node) {
    return varnok::MimeDatabase::shared().kindOfFile(node.name()).group;
}

QColor ofAge(int bucket) {
    static const QColor ages[4] = {QColor(52, 168, 120), QColor(120, 176, 70), QColor(226, 160, 50),
                                   QColor(214, 92, 70)};
    return ages[std::clamp(bucket, 0, 3)];
}

int ageBucketOf(const varnok::FileNode& node) {
    if (!node.identity) {
        return 0;
    }
    const double days =
        static_cast<double>(QDateTime::currentSecsSinceEpoch() - node.identity->modifiedSeconds) /
        86400.0;
    return varnok::ScanEngine::ageBucket(days);
}

QColor ofFolder(int branch, int depth, bool dark) {
    static const int hues[8] = {210, 150, 30, 280, 0, 185, 50, 330};
    const double lift = std::min(depth - 1, 3) * 0.07;
    const double lightness = (dark ? 0.36 : 0.62) + lift;
    return QColor::fromHslF(hues[branch % 8] / 360.0, dark ? 0.45 : 0.55,
                            std::min(lightness, 0.85));
}

QColor ofGroup(bool dark) {
    return dark ? QColor(88, 90, 98) : QColor(196, 198, 204);
}

QColor ofChange(const varnok::NodeChange& change, bool dark) {
    using Kind = varnok::NodeChange::Kind;
    // Kept light enough for dark text in the light palette and dark enough for light text in the
    // dark one, at every strength in between.
    const QColor neutral = dark ? QColor(72, 74, 82) : QColor(226, 228, 233);
    QColor full;
    switch (change.kind) {
    case Kind::unchanged:
        return neutral;
    case Kind::appeared:
        return dark ? QColor::fromHslF(290 / 360.0, 0.50, 0.42)
                    : QColor::fromHslF(290 / 360.0, 0.55, 0.72);
    case Kind::grew:
        full = dark ? QColor::fromHslF(20 / 360.0, 0.75, 0.40)
                    : QColor::fromHslF(22 / 360.0, 0.85, 0.62);
        break;
    case Kind::shrank:
        full = dark ? QColor::fromHslF(208 / 360.0, 0.65, 0.38)
                    : QColor::fromHslF(208 / 360.0, 0.75, 0.66);
        break;
    }
    // Doubling and halving are equally strong; the square root lifts small changes into sight.
    const double larger = static_cast<double>(std::max(change.before, change.after));
    const double relative =
        larger > 0 ? std::abs(static_cast<double>(change.change())) / larger : 1.0;
    const double strength = 0.25 + 0.75 * std::sqrt(std::clamp(relative, 0.0, 1.0));
    auto mix = [&](int from, int to) {
        return static_cast<int>(std::lround(from + (to - from) * strength));
    };
    const QColor rgb = full.toRgb();
    return QColor(mix(neutral.red(), rgb.red()), mix(neutral.green(), rgb.green()),
                  mix(neutral.blue(), rgb.blue()));
}

namespace {

double luminance(const QColor& colour) {
    auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor textOn(const QColor& fill) {
    // Lightness alone misjudges saturated yellows and oranges, where light text fades.
    const QColor darkText(20, 20, 24);
    const QColor lightText(250, 250, 252);
    return contrast(fill, darkText) >= contrast(fill, lightText) ? darkText : lightText;
}

} // namespace ombrelo::ui::mapColours

#include "app/ui/explore/MapColours.hpp"

#include "core/kinds/MimeDatabase.hpp"
#include "core/scan/ScanEngine.hpp"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <utility>

namespace ombrelo::ui::mapColours {

QColor ofKindGroup(const std::string& group) {
    static const std::array<std::pair<const char*, QColor>, 10> colours{{
        {"Video", QColor(196, 78, 150)},
        {"Audio", QColor(140, 92, 204)},
        {"Image", QColor(226, 146, 44)},
        {"Document", QColor(58, 132, 214)},
        {"Archive", QColor(164, 116, 72)},
        {"Code", QColor(52, 160, 108)},
        {"Text", QColor(70, 164, 184)},
        {"Font", QColor(214, 112, 96)},
        {"Program", QColor(204, 72, 72)},
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

} // namespace ombrelo::ui::mapColours

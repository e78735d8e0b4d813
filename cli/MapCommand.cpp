#include "cli/Cli.hpp"
#include "cli/FolderScan.hpp"
#include "cli/MapPicture.hpp"
#include "cli/SavedScans.hpp"

#include "platform/Platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace ombrelo::cli {
namespace {

const char* const mapHelp =
    "Usage: ombrelo-cli map [DIR] [--mode MODE] [--width W] [--height H] [--depth D]\n"
    "                       [--limit N] [--json] [--svg FILE] [--disk-usage] [-x]\n"
    "                       [--bytes] [--exclude PATTERN]... [--load FILE]\n"
    "\n"
    "Scans DIR (default: the current folder) read-only and lays out its size tree as\n"
    "a folder map: a treemap of nested tiles, a sunburst of rings, a flame chart of\n"
    "rows, or packed bubbles.\n"
    "Areas, angles and widths follow the content size. Large folders open to show\n"
    "their contents down to the depth; the smallest entries of a level are gathered\n"
    "into one \"More items\" group.\n"
    "\n"
    "Options:\n"
    "  --mode MODE   treemap (default), sunburst, flame or bubbles\n"
    "  --width W     canvas width in points (default 1200)\n"
    "  --height H    canvas height in points (default 800); a flame chart divides\n"
    "                it into one row per level\n"
    "  --depth D     levels to open, 1 to 4 (default 2; sunburst, flame and\n"
    "                bubbles show at most 3)\n"
    "  --limit N     most shapes in the whole map (default: treemap 600, sunburst\n"
    "                900, flame 900, bubbles 300). At most 80 tiles, 60 segments,\n"
    "                40 bars or 24 bubbles are shown under one parent.\n"
    "  --json        print {\"placements\": [...]} in drawing order: id, name,\n"
    "                logicalSize, depth, ancestors (ids) and the geometry (rect and\n"
    "                expanded; start and end in radians; circle and expanded)\n"
    "  --svg FILE    write the map as an SVG picture to FILE, which must not exist\n"
    "  --disk-usage  size the shapes by bytes on disk, as du counts them, so that\n"
    "                sparse files do not take the most room and a file with several\n"
    "                hard links counts once; the JSON then gives \"allocatedSize\" in\n"
    "                place of \"logicalSize\"\n"
    "  --bytes       list sizes as exact byte counts, as du -b does\n"
    "  -x, --one-file-system\n"
    "                do not enter other file systems mounted below DIR\n"
    "  --exclude PATTERN\n"
    "                leave out entries matching a shell glob (repeatable): a pattern\n"
    "                with a '/' matches the path below DIR, one without matches the\n"
    "                name of any entry\n"
    "  --load FILE   map a scan saved by 'scan --save', ncdu -o or gdu -o instead\n"
    "                of scanning a folder; - reads it from standard input\n"
    "  --help        show this help\n"
    "\n"
    "Without --json or --svg, the map is listed as text, one line per shape.\n"
    "Progress goes to stderr when it is a terminal. Ctrl-C stops.\n"
    "Exit status: 0 done, 1 the folder cannot be scanned, is a system folder (/usr,\n"
    "/etc, /var, /opt, ...) or FILE cannot be written, 2 usage error, 130 interrupted.\n";

enum class Mode { treemap, sunburst, flame, bubbles };

Mode parseMode(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "treemap") {
        return Mode::treemap;
    }
    if (lower == "sunburst") {
        return Mode::sunburst;
    }
    if (lower == "flame") {
        return Mode::flame;
    }
    if (lower == "bubbles" || lower == "bubble") {
        return Mode::bubbles;
    }
    throw UsageError("option '--mode' takes treemap, sunburst, flame or bubbles, not '" + text +
                     "'");
}

double dimension(const Arguments& args, const std::string& name, double fallback) {
    auto text = args.value(name);
    if (!text) {
        return fallback;
    }
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text->c_str(), &end);
    if (text->empty() || end != text->c_str() + text->size() || errno != 0 ||
        !std::isfinite(value) || value < 16 || value > 100000) {
        throw UsageError("option '--" + name +
                         "' takes a number of points from 16 to 100000, not '" + *text + "'");
    }
    return value;
}

nlohmann::json entryJson(const varnok::LayoutEntry& entry, bool diskUsage) {
    nlohmann::json ancestors = nlohmann::json::array();
    for (const varnok::FileNode* ancestor : entry.ancestors) {
        ancestors.push_back(varnok::PathText::displayable(ancestor->id.absoluteString()));
    }
    return {{"id", varnok::PathText::displayable(entry.node->id.absoluteString())},
            {"name", varnok::PathText::displayable(entry.node->name())},
            {diskUsage ? "allocatedSize" : "logicalSize", entry.node->logicalSize},
            {"depth", entry.depth},
            {"ancestors", std::move(ancestors)}};
}

nlohmann::json rectJson(const varnok::LayoutRect& r) {
    return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

std::string lineFor(const varnok::LayoutEntry& entry, bool exact, const std::string& geometry) {
    std::string name =
        entry.group ? "More items (" +
                          counted(static_cast<std::int64_t>(entry.group->members.size()), "entry",
                                  "entries") +
                          ")"
                    : pastablePath(entry.node->name()) + (entry.node->isDirectory ? "/" : "");
    return std::string(static_cast<size_t>(2 * entry.depth), ' ') +
           formatSize(entry.node->logicalSize, exact) + "  " + name + "  " + geometry;
}

std::string formatted(const char* format, double a, double b, double c = 0, double d = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

std::string rectText(const varnok::LayoutRect& r) {
    return formatted("[%.0f, %.0f  %.0f x %.0f]", r.x, r.y, r.width, r.height);
}

struct Rendered {
    nlohmann::json placements = nlohmann::json::array();
    std::vector<std::string> lines;
    std::string svg;
};

int runMap(const std::vector<std::string>& raw) {
    std::vector<std::string> flags = scanFlags;
    flags.push_back("json");
    Arguments args(withLongOptions(raw), flags,
                   {"mode", "width", "height", "depth", "limit", "svg", "load"}, scanRepeatable);
    const varnok::ScanOptions options = scanOptions(args);
    const bool diskUsage = args.has("disk-usage");
    const bool exact = args.has("bytes");
    const Mode mode = args.value("mode") ? parseMode(*args.value("mode")) : Mode::treemap;
    const varnok::LayoutSize canvas{dimension(args, "width", 1200), dimension(args, "height", 800)};
    const int depth = static_cast<int>(args.integer("depth", 2, 1, 4));
    const int defaultLimit = mode == Mode::treemap ? 600 : mode == Mode::bubbles ? 300 : 900;
    const int limit = static_cast<int>(args.integer("limit", defaultLimit, 1, 1000000));
    std::optional<varnok::Url> svgFile;
    if (auto path = args.value("svg")) {
        if (path->empty()) {
            throw UsageError("option '--svg' needs a file name");
        }
        svgFile = folderArgument(*path).withDirectoryForm(false);
        struct stat record {};
        if (::lstat(svgFile->path().c_str(), &record) == 0) {
            std::fprintf(stderr,
                         "ombrelo-cli: %s already exists; the map is never written over a file. "
                         "Choose another name.\n",
                         varnok::PathText::displayable(svgFile->path()).c_str());
            return static_cast<int>(exitFailure);
        }
        // The picture is written only after the scan: a folder that is not there is told now.
        if (reportUnusableFolder(svgFile->deletingLastPathComponent().path())) {
            return static_cast<int>(exitFailure);
        }
    }
    const std::optional<std::string> load = loadArgument(args);
    varnok::Url folder;
    if (!load) {
        folder = scannedFolder(args, "give at most one folder to map");
        if (reportUnusableFolder(folder.path()) || reportSystemFolder(folder)) {
            return exitFailure;
        }
    }
    return runCancellable([&]() {
        varnok::SavedScan source = scanOrLoad(load, folder, options);
        varnok::ScanResult& result = source.result;
        folder = result.root.id;
        if (diskUsage) {
            sizeByDiskUsage(result.root);
        }
        const auto& nodes = result.root.children;
        MapHeading heading{varnok::PathText::displayable(folder.path()), result.root.logicalSize,
                           result.root.fileCount, depth};
        Rendered out;
        size_t count = 0;
        switch (mode) {
        case Mode::treemap: {
            auto tiles = varnok::TreemapLayout::make(nodes, canvas, depth, limit, 80);
            count = tiles.size();
            for (const auto& tile : tiles) {
                auto item = entryJson(tile, diskUsage);
                item["rect"] = rectJson(tile.rect);
                item["expanded"] = tile.expanded;
                out.placements.push_back(std::move(item));
                out.lines.push_back(lineFor(tile, exact, rectText(tile.rect)));
            }
            if (svgFile) {
                out.svg = MapPicture::treemap(tiles, canvas, heading);
            }
            break;
        }
        case Mode::sunburst: {
            auto segments = varnok::SunburstLayout::make(nodes, depth, limit, 60);
            count = segments.size();
            for (const auto& segment : segments) {
                auto item = entryJson(segment, diskUsage);
                item["start"] = segment.start;
                item["end"] = segment.end;
                out.placements.push_back(std::move(item));
                out.lines.push_back(
                    lineFor(segment, exact,
                            formatted("[%.1f\xC2\xB0 to %.1f\xC2\xB0]", segment.start * 180 / M_PI,
                                      segment.end * 180 / M_PI)));
            }
            if (svgFile) {
                out.svg = MapPicture::sunburst(segments, canvas, heading);
            }
            break;
        }
        case Mode::flame: {
            double rowHeight = canvas.height / std::clamp(depth, 1, 3);
            auto bars = varnok::FlameLayout::make(nodes, canvas.width, rowHeight, depth, limit);
            count = bars.size();
            for (const auto& bar : bars) {
                auto item = entryJson(bar, diskUsage);
                item["rect"] = rectJson(bar.rect);
                out.placements.push_back(std::move(item));
                out.lines.push_back(lineFor(bar, exact, rectText(bar.rect)));
            }
            if (svgFile) {
                out.svg = MapPicture::flame(bars, canvas, heading);
            }
            break;
        }
        case Mode::bubbles: {
            auto bubbles = varnok::BubbleLayout::make(nodes, canvas, depth, limit);
            count = bubbles.size();
            for (const auto& bubble : bubbles) {
                auto item = entryJson(bubble, diskUsage);
                const auto& c = bubble.circle;
                item["circle"] = {{"center", {{"x", c.center.x}, {"y", c.center.y}}},
                                  {"radius", c.radius}};
                item["expanded"] = bubble.expanded;
                out.placements.push_back(std::move(item));
                out.lines.push_back(lineFor(bubble, exact,
                                            formatted("[centre %.0f, %.0f  radius %.1f]",
                                                      c.center.x, c.center.y, c.radius)));
            }
            if (svgFile) {
                out.svg = MapPicture::bubbles(bubbles, canvas, heading);
            }
            break;
        }
        }
        if (svgFile) {
            varnok::Platform::current().writeNew(*svgFile, out.svg);
        }
        if (args.has("json")) {
            nlohmann::json document = {{"version", jsonVersion},
                                       {"placements", std::move(out.placements)}};
            if (load) {
                document["savedScan"] = savedScanJson(*load, source);
            }
            std::printf("%s\n", document.dump(2).c_str());
        } else if (svgFile) {
            std::printf("Wrote %s: %s shapes of %s.\n", pastablePath(svgFile->path()).c_str(),
                        formatCount(static_cast<std::int64_t>(count)).c_str(),
                        pastablePath(folder.path()).c_str());
        } else {
            std::printf("%s  %s%s\n", pastablePath(folder.path()).c_str(),
                        formatSize(result.root.logicalSize, exact).c_str(),
                        diskUsage ? (exact ? " bytes on disk" : " on disk")
                                  : (exact ? " bytes" : ""));
            if (load) {
                const std::string taken = takenText(source);
                std::printf("Saved scan: %s\n",
                            taken.empty() ? "date not recorded" : taken.c_str());
            }
            printLeftOut(result, "");
            for (const std::string& line : out.lines) {
                std::printf("%s\n", line.c_str());
            }
        }
        return static_cast<int>(finishOutput() ? exitSuccess : exitFailure);
    });
}

const CommandRegistration registration{
    Command{"map", "Lay out a folder as a treemap, sunburst, flame chart or bubbles", mapHelp,
            runMap, 30, "folder"}};

} // namespace
} // namespace ombrelo::cli

#include "cli/MapPicture.hpp"

#include "cli/Cli.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>

namespace ombrelo::cli {
namespace {

using varnok::FileNode;
using varnok::LayoutEntry;
using varnok::LayoutSize;

constexpr double headingHeight = 48;
constexpr double legendWidth = 280;

struct Colour {
    double r, g, b;
};

// A calm qualitative palette; neighbours differ clearly in hue.
constexpr Colour palette[] = {
    {0x4e, 0x79, 0xa7}, {0xf2, 0x8e, 0x2b}, {0x59, 0xa1, 0x4f}, {0xe1, 0x57, 0x59},
    {0x76, 0xb7, 0xb2}, {0xed, 0xc9, 0x48}, {0xb0, 0x7a, 0xa1}, {0xff, 0x9d, 0xa7},
    {0x9c, 0x75, 0x5f}, {0x86, 0xbc, 0xb6}, {0x8c, 0xd1, 0x7d}, {0xd3, 0x72, 0x95},
};
constexpr Colour groupColour{0xd6, 0xd6, 0xd6};

Colour towardsWhite(Colour c, double share) {
    return {c.r + (255 - c.r) * share, c.g + (255 - c.g) * share, c.b + (255 - c.b) * share};
}

std::string hex(Colour c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(std::lround(c.r)),
                  static_cast<int>(std::lround(c.g)), static_cast<int>(std::lround(c.b)));
    return text;
}

bool isLight(Colour c) {
    return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b > 150;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

// Text safe inside XML: valid UTF-8, markup characters escaped, control characters replaced.
std::string xml(std::string_view raw) {
    std::string text = varnok::PathText::displayable(raw);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\xEF\xBF\xBD";
            } else {
                out += c;
            }
        }
    }
    return out;
}

// `text` cut to about `width` pixels at `fontSize`, with an ellipsis; empty when not even a few
// characters fit.
std::string fitted(const std::string& text, double width, double fontSize) {
    const double perCharacter = fontSize * 0.6;
    size_t fits = width > 0 ? static_cast<size_t>(width / perCharacter) : 0;
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    if (starts.size() <= fits) {
        return text;
    }
    if (fits < 4) {
        return "";
    }
    return text.substr(0, starts[fits - 1]) + "\xE2\x80\xA6";
}

// "name  size" when it fits, else the name alone, shortened if need be.
std::string titleWithSize(const std::string& name, const std::string& size, double width,
                          double fontSize) {
    std::string both = name + "  " + size;
    if (fitted(both, width, fontSize) == both) {
        return both;
    }
    return fitted(name, width, fontSize);
}

// The whole text, or nothing: a cut size would mislead.
std::string wholeOrNothing(const std::string& text, double width, double fontSize) {
    return fitted(text, width, fontSize) == text ? text : "";
}

std::string displayName(const FileNode& node) {
    return varnok::PathText::displayable(node.name());
}

std::string tooltip(const LayoutEntry& entry) {
    const FileNode& node = *entry.node;
    std::string text;
    if (entry.group) {
        text =
            "More items: " + formatCount(static_cast<std::int64_t>(entry.group->members.size())) +
            " smaller entries";
        if (!entry.group->members.empty()) {
            text += " in " + entry.group->members.front()->id.deletingLastPathComponent().path();
        }
    } else {
        text = node.id.path() + (node.isDirectory ? "/" : "");
    }
    std::string size = formatBytes(node.logicalSize);
    if (node.isDirectory) {
        size += " in " + counted(node.fileCount, "file", "files");
    }
    // A character reference, so that the line break is kept while control characters in names
    // are not.
    return xml(text) + "&#10;" + xml(size);
}

std::string groupLabel(const LayoutEntry& entry) {
    return "More items (" + formatCount(static_cast<std::int64_t>(entry.group->members.size())) +
           ")";
}

std::string label(const LayoutEntry& entry) {
    return entry.group ? groupLabel(entry) : displayName(*entry.node);
}

// Colours by top-level branch, lighter the deeper an entry lies.
class Colouring {
public:
    template <typename Placement> explicit Colouring(const std::vector<Placement>& placements) {
        for (const Placement& p : placements) {
            if (p.depth == 1 && !p.group) {
                branches_.emplace(p.node, static_cast<int>(branches_.size()));
            }
        }
    }

    Colour fill(const LayoutEntry& entry) const {
        if (entry.group) {
            return groupColour;
        }
        return towardsWhite(base(entry), std::min(0.22 * (entry.depth - 1), 0.7));
    }

    Colour base(const LayoutEntry& entry) const {
        const FileNode* top = entry.ancestors.empty() ? entry.node : entry.ancestors.front();
        auto it = branches_.find(top);
        if (it == branches_.end()) {
            return groupColour;
        }
        return palette[static_cast<size_t>(it->second) % std::size(palette)];
    }

private:
    std::map<const FileNode*, int> branches_;
};

class Svg {
public:
    Svg(double width, double height) {
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) +
                "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(width) + " " +
                number(height) + "\">\n";
        out_ += "<style>text{font-family:'DejaVu Sans','Helvetica Neue',Arial,sans-serif;"
                "pointer-events:none}.t{font-size:11px}.s{font-size:10px;opacity:.8}"
                ".h{font-size:12px;font-weight:bold}.title{font-size:17px;font-weight:bold;"
                "fill:#1d1d1f}.sub{font-size:12px;fill:#6e6e73}</style>\n";
        out_ += "<defs><pattern id=\"more\" width=\"8\" height=\"8\" "
                "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
                "<rect width=\"8\" height=\"8\" fill=\"#e4e4e4\"/>"
                "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"8\" stroke=\"#bdbdbd\" "
                "stroke-width=\"3\"/></pattern></defs>\n";
        out_ += "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbfd\"/>\n";
    }

    void heading(const MapHeading& heading, const std::string& mode, size_t shapes,
                 const std::string& shapeName) {
        text(16, 24, "title", "#1d1d1f", xml(mode + " of " + heading.folderPath));
        text(16, 41, "sub", "#6e6e73",
             xml(formatBytes(heading.logicalSize) + " in " +
                 counted(heading.fileCount, "file", "files") + " \xC2\xB7 " +
                 formatCount(static_cast<std::int64_t>(shapes)) + " " + shapeName +
                 " \xC2\xB7 depth " + std::to_string(heading.depth) +
                 " \xC2\xB7 hatched grey: smaller items grouped"));
    }

    void text(double x, double y, const std::string& cls, const std::string& colour,
              const std::string& escaped, const std::string& extra = "") {
        out_ += "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" class=\"" + cls +
                "\" fill=\"" + colour + "\"" + extra + ">" + escaped + "</text>\n";
    }

    void raw(const std::string& text) { out_ += text; }

    // A shape with its tooltip; `shape` is the element's name and attributes.
    void shape(const std::string& shape, const std::string& title) {
        out_ += "<" + shape + "><title>" + title + "</title></" + shape.substr(0, shape.find(' ')) +
                ">\n";
    }

    std::string finish() {
        out_ += "</svg>\n";
        return std::move(out_);
    }

private:
    std::string out_;
};

std::string fillAttributes(const LayoutEntry& entry, const Colouring& colours) {
    if (entry.group) {
        return "fill=\"url(#more)\" stroke=\"#9a9a9a\" stroke-dasharray=\"4 3\"";
    }
    return "fill=\"" + hex(colours.fill(entry)) + "\" stroke=\"#ffffff\"";
}

std::string textColour(const LayoutEntry& entry, const Colouring& colours) {
    return entry.group || isLight(colours.fill(entry)) ? "#1d1d1f" : "#ffffff";
}

template <typename Placement>
void legend(Svg& svg, const std::vector<Placement>& placements, const Colouring& colours, double x,
            double y) {
    svg.text(x, y, "h", "#1d1d1f", "Largest entries");
    y += 10;
    int shown = 0;
    for (const Placement& p : placements) {
        if (p.depth != 1 || shown >= 16) {
            continue;
        }
        ++shown;
        std::string swatch = p.group ? "url(#more)" : hex(colours.base(p));
        svg.raw("<rect x=\"" + number(x) + "\" y=\"" + number(y + 4) +
                "\" width=\"14\" height=\"14\" rx=\"3\" fill=\"" + swatch + "\"/>\n");
        svg.text(x + 22, y + 15, "t", "#1d1d1f", xml(fitted(label(p), legendWidth - 110, 11)));
        svg.text(x + legendWidth - 32, y + 15, "t", "#6e6e73",
                 xml(formatBytes(p.node->logicalSize)), " text-anchor=\"end\"");
        y += 22;
    }
}

// A point at `angle` (0 at the top, growing clockwise) and `radius` from the centre.
struct Polar {
    double cx, cy;
    double x(double angle, double radius) const { return cx + radius * std::sin(angle); }
    double y(double angle, double radius) const { return cy - radius * std::cos(angle); }
};

std::string ringPath(const Polar& p, double start, double end, double inner, double outer) {
    const double turn = 2 * std::numbers::pi;
    if (end - start >= turn - 1e-9) {
        // A whole ring: two half arcs each way, with the hole cut out by the even-odd rule.
        auto circle = [&](double r) {
            return "M" + number(p.cx) + " " + number(p.cy - r) + "A" + number(r) + " " + number(r) +
                   " 0 1 1 " + number(p.cx) + " " + number(p.cy + r) + "A" + number(r) + " " +
                   number(r) + " 0 1 1 " + number(p.cx) + " " + number(p.cy - r) + "Z";
        };
        return circle(outer) + (inner > 0 ? circle(inner) : "");
    }
    std::string large = end - start > std::numbers::pi ? "1" : "0";
    std::string d = "M" + number(p.x(start, outer)) + " " + number(p.y(start, outer));
    d += "A" + number(outer) + " " + number(outer) + " 0 " + large + " 1 " +
         number(p.x(end, outer)) + " " + number(p.y(end, outer));
    d += "L" + number(p.x(end, inner)) + " " + number(p.y(end, inner));
    d += "A" + number(inner) + " " + number(inner) + " 0 " + large + " 0 " +
         number(p.x(start, inner)) + " " + number(p.y(start, inner)) + "Z";
    return d;
}

// A tile or bar: the rectangle inset by half a pixel, so that neighbours show a gap.
void drawRect(Svg& svg, const varnok::LayoutRect& r, const std::string& fill,
              const std::string& tip) {
    svg.shape("rect x=\"" + number(r.x + 0.5) + "\" y=\"" + number(r.y + 0.5) + "\" width=\"" +
                  number(std::max(r.width - 1, 0.0)) + "\" height=\"" +
                  number(std::max(r.height - 1, 0.0)) + "\" rx=\"2\" " + fill,
              tip);
}

} // namespace

std::string MapPicture::treemap(const std::vector<varnok::TreemapPlacement>& tiles,
                                LayoutSize canvas, const MapHeading& heading) {
    Colouring colours(tiles);
    Svg svg(canvas.width, canvas.height + headingHeight);
    svg.heading(heading, "Treemap", tiles.size(), "tiles");
    svg.raw("<g transform=\"translate(0," + number(headingHeight) + ")\">\n");
    for (const auto& tile : tiles) {
        const auto& r = tile.rect;
        drawRect(svg, r, fillAttributes(tile, colours), tooltip(tile));
        std::string ink = textColour(tile, colours);
        std::string size = formatBytes(tile.node->logicalSize);
        if (tile.expanded) {
            // The title band above the children.
            std::string name = titleWithSize(label(tile), size, r.width - 12, 12);
            if (!name.empty()) {
                svg.text(r.x + 6, r.y + 19, "h", ink, xml(name));
            }
            continue;
        }
        if (r.width < 36 || r.height < 16) {
            continue;
        }
        std::string name = fitted(label(tile), r.width - 10, 11);
        if (name.empty()) {
            continue;
        }
        svg.text(r.x + 5, r.y + 14, "t", ink, xml(name));
        if (r.height >= 30) {
            std::string sizeText = wholeOrNothing(size, r.width - 10, 10);
            if (!sizeText.empty()) {
                svg.text(r.x + 5, r.y + 27, "s", ink, xml(sizeText));
            }
        }
    }
    svg.raw("</g>\n");
    return svg.finish();
}

std::string MapPicture::sunburst(const std::vector<varnok::SunburstSegment>& segments,
                                 LayoutSize canvas, const MapHeading& heading) {
    Colouring colours(segments);
    // Angles need no canvas: the rings take the largest circle it holds, the legend its side.
    double outer = std::max(std::min(canvas.width, canvas.height) / 2 - 8, 1.0);
    double pictureWidth = std::max(2 * outer + 40 + legendWidth, 560.0);
    Svg svg(pictureWidth, canvas.height + headingHeight);
    svg.heading(heading, "Sunburst", segments.size(), "segments");
    int rings = 1;
    for (const auto& segment : segments) {
        rings = std::max(rings, segment.depth);
    }
    Polar polar{outer + 16, headingHeight + canvas.height / 2};
    double hole = outer * 0.24;
    double ringWidth = (outer - hole) / rings;
    for (const auto& segment : segments) {
        double inner = hole + ringWidth * (segment.depth - 1);
        svg.shape(
            "path d=\"" + ringPath(polar, segment.start, segment.end, inner, inner + ringWidth) +
                "\" fill-rule=\"evenodd\" stroke-width=\"1\" " + fillAttributes(segment, colours),
            tooltip(segment));
        // Labels run along the radius, reading outwards on the right half and inwards on the
        // left, where the segment is thick enough for a line of text.
        double middle = inner + ringWidth / 2;
        double thickness = (segment.end - segment.start) * middle;
        if (thickness < 13) {
            continue;
        }
        double angle = (segment.start + segment.end) / 2;
        double degrees = angle * 180 / std::numbers::pi - 90;
        if (angle > std::numbers::pi) {
            degrees += 180;
        }
        std::string ink = textColour(segment, colours);
        std::string name = fitted(label(segment), ringWidth - 10, 11);
        if (name.empty()) {
            continue;
        }
        std::string rotate = " text-anchor=\"middle\" transform=\"rotate(" + number(degrees) + " " +
                             number(polar.x(angle, middle)) + " " + number(polar.y(angle, middle)) +
                             ")\"";
        bool twoLines = thickness >= 28;
        svg.text(polar.x(angle, middle), polar.y(angle, middle) + (twoLines ? -1 : 4), "t", ink,
                 xml(name), rotate);
        if (twoLines) {
            svg.text(
                polar.x(angle, middle), polar.y(angle, middle) + 11, "s", ink,
                xml(wholeOrNothing(formatBytes(segment.node->logicalSize), ringWidth - 10, 10)),
                rotate);
        }
    }
    std::string folder = varnok::PathText::lastComponent(heading.folderPath);
    svg.text(polar.cx, polar.cy - 2, "h", "#1d1d1f", xml(fitted(folder, hole * 1.8, 12)),
             " text-anchor=\"middle\"");
    svg.text(polar.cx, polar.cy + 14, "t", "#6e6e73", xml(formatBytes(heading.logicalSize)),
             " text-anchor=\"middle\"");
    legend(svg, segments, colours, 2 * outer + 40, headingHeight + 24);
    return svg.finish();
}

std::string MapPicture::flame(const std::vector<varnok::FlamePlacement>& bars, LayoutSize canvas,
                              const MapHeading& heading) {
    Colouring colours(bars);
    Svg svg(canvas.width, canvas.height + headingHeight);
    svg.heading(heading, "Flame chart", bars.size(), "bars");
    svg.raw("<g transform=\"translate(0," + number(headingHeight) + ")\">\n");
    for (const auto& bar : bars) {
        const auto& r = bar.rect;
        drawRect(svg, r, fillAttributes(bar, colours), tooltip(bar));
        if (r.width < 36 || r.height < 16) {
            continue;
        }
        std::string ink = textColour(bar, colours);
        std::string size = formatBytes(bar.node->logicalSize);
        if (r.height >= 40) {
            std::string name = fitted(label(bar), r.width - 10, 11);
            if (!name.empty()) {
                svg.text(r.x + 5, r.y + 17, "t", ink, xml(name));
                std::string sizeText = wholeOrNothing(size, r.width - 10, 10);
                if (!sizeText.empty()) {
                    svg.text(r.x + 5, r.y + 31, "s", ink, xml(sizeText));
                }
            }
            continue;
        }
        std::string shown = titleWithSize(label(bar), size, r.width - 10, 11);
        if (!shown.empty()) {
            svg.text(r.x + 5, r.y + r.height / 2 + 4, "t", ink, xml(shown));
        }
    }
    svg.raw("</g>\n");
    return svg.finish();
}

std::string MapPicture::bubbles(const std::vector<varnok::BubblePlacement>& bubbles,
                                LayoutSize canvas, const MapHeading& heading) {
    Colouring colours(bubbles);
    // The bubbles fill the largest circle of the canvas; the empty sides of a wide canvas are
    // cut off and the legend goes beside the circle.
    double radius = std::min(canvas.width, canvas.height) / 2;
    double cut = std::max(canvas.width / 2 - radius - 12, 0.0);
    double pictureWidth = std::max(canvas.width - 2 * cut + legendWidth, 560.0);
    Svg svg(pictureWidth, canvas.height + headingHeight);
    svg.heading(heading, "Bubbles", bubbles.size(), "bubbles");
    svg.raw("<g transform=\"translate(" + number(-cut) + "," + number(headingHeight) + ")\">\n");
    for (const auto& bubble : bubbles) {
        const auto& c = bubble.circle;
        std::string attributes = fillAttributes(bubble, colours);
        if (bubble.expanded) {
            // An opened folder is a pale disc outlined in its colour, its contents on top.
            Colour base = colours.base(bubble);
            attributes = "fill=\"" + hex(towardsWhite(base, 0.82)) + "\" stroke=\"" + hex(base) +
                         "\" stroke-width=\"1.5\"";
        }
        svg.shape("circle cx=\"" + number(c.center.x) + "\" cy=\"" + number(c.center.y) +
                      "\" r=\"" + number(std::max(c.radius - 0.5, 0.0)) + "\" " + attributes,
                  tooltip(bubble));
        std::string anchor = " text-anchor=\"middle\"";
        if (bubble.expanded) {
            // The band above the contents, which sit 0.14 r lower in a circle of 0.76 r.
            double y = c.center.y - 0.8 * c.radius + 5;
            std::string title = titleWithSize(label(bubble), formatBytes(bubble.node->logicalSize),
                                              1.1 * c.radius, 12);
            if (!title.empty()) {
                svg.text(c.center.x, y, "h", "#1d1d1f", xml(title), anchor);
            }
            continue;
        }
        if (c.radius < 16) {
            continue;
        }
        std::string ink = textColour(bubble, colours);
        std::string name = fitted(label(bubble), 1.7 * c.radius, 11);
        if (name.empty()) {
            continue;
        }
        bool twoLines = c.radius >= 26;
        svg.text(c.center.x, c.center.y + (twoLines ? -1 : 4), "t", ink, xml(name), anchor);
        if (twoLines) {
            svg.text(c.center.x, c.center.y + 12, "s", ink,
                     xml(wholeOrNothing(formatBytes(bubble.node->logicalSize), 1.7 * c.radius, 10)),
                     anchor);
        }
    }
    svg.raw("</g>\n");
    legend(svg, bubbles, colours, canvas.width - 2 * cut + 10, headingHeight + 24);
    return svg.finish();
}

} // namespace ombrelo::cli

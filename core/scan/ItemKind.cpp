#include "core/scan/ItemKind.hpp"

#include "core/scan/FileNode.hpp"

#include <string>
#include <utf8proc.h>

namespace varnok {

namespace {

constexpr std::array<std::string_view, 5> kindTexts{"Files", "Folders", "Videos", "Archives",
                                                    "Applications"};
constexpr std::array<std::string_view, 6> videoExtensions{"mp4", "mov", "mkv",
                                                          "avi", "m4v", "webm"};
constexpr std::array<std::string_view, 9> archiveExtensions{"zip", "tar", "gz",  "bz2", "xz",
                                                            "7z",  "rar", "dmg", "iso"};

// Lower-cases code point by code point, so that "MKV" and any other spelling of a listed
// extension match; bytes that are not UTF-8 are kept.
std::string lowerCased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto data = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        if (*data < 0x80) {
            char c = static_cast<char>(*data);
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            ++data;
            --remaining;
            continue;
        }
        utf8proc_int32_t codepoint = 0;
        auto used = utf8proc_iterate(data, remaining, &codepoint);
        if (used <= 0) {
            out += static_cast<char>(*data);
            ++data;
            --remaining;
            continue;
        }
        utf8proc_uint8_t encoded[4];
        auto length = utf8proc_encode_char(utf8proc_tolower(codepoint), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
        data += used;
        remaining -= used;
    }
    return out;
}

template <size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view extension) {
    for (std::string_view entry : list) {
        if (entry == extension) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string_view textValue(ItemKind kind) {
    return kindTexts[static_cast<size_t>(kind)];
}

std::optional<ItemKind> itemKindFromText(std::string_view text) {
    for (ItemKind kind : allItemKinds) {
        if (textValue(kind) == text) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string_view fileExtension(const FileNode& node) {
    std::string_view name = node.id.lastPathComponentView();
    auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool itemKindMatches(ItemKind kind, const FileNode& node) {
    switch (kind) {
    case ItemKind::files:
        return !node.isDirectory;
    case ItemKind::folders:
        return node.isDirectory;
    case ItemKind::videos:
        return !node.isDirectory && listed(videoExtensions, lowerCased(fileExtension(node)));
    case ItemKind::archives:
        return !node.isDirectory && listed(archiveExtensions, lowerCased(fileExtension(node)));
    case ItemKind::applications:
        return node.isDirectory && lowerCased(fileExtension(node)) == "app";
    }
    return false;
}

} // namespace varnok

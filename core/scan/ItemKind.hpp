#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace varnok {

struct FileNode;

// Which items a listing shows. The text value is also the identifier.
enum class ItemKind { files, folders, videos, archives, applications };

inline constexpr std::array<ItemKind, 5> allItemKinds{ItemKind::files, ItemKind::folders,
                                                      ItemKind::videos, ItemKind::archives,
                                                      ItemKind::applications};

// "Files", "Folders", "Videos", "Archives", "Applications".
std::string_view textValue(ItemKind kind);
// Exact, case-sensitive match of a text value; nothing for any other text.
std::optional<ItemKind> itemKindFromText(std::string_view text);

// Whether `node` is of `kind`, judged by its folder flag and the lower-cased extension of its name.
bool itemKindMatches(ItemKind kind, const FileNode& node);

// The text after the last "." of the last path component as stored; empty when there is none.
std::string_view fileExtension(const FileNode& node);

} // namespace varnok

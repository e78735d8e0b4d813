#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace varnok {

// The order of a listing.
enum class ItemSort { largest, oldest, newest, type };

inline constexpr std::array<ItemSort, 4> allItemSorts{ItemSort::largest, ItemSort::oldest,
                                                      ItemSort::newest, ItemSort::type};

// "Largest", "Oldest", "Newest", "Type".
std::string_view textValue(ItemSort sort);
// Exact, case-sensitive match of a text value; nothing for any other text.
std::optional<ItemSort> itemSortFromText(std::string_view text);

} // namespace varnok

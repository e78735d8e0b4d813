#include "core/scan/ItemSort.hpp"

namespace varnok {

namespace {
constexpr std::array<std::string_view, 4> sortTexts{"Largest", "Oldest", "Newest", "Type"};
} // namespace

std::string_view textValue(ItemSort sort) {
    return sortTexts[static_cast<size_t>(sort)];
}

std::optional<ItemSort> itemSortFromText(std::string_view text) {
    for (ItemSort sort : allItemSorts) {
        if (textValue(sort) == text) {
            return sort;
        }
    }
    return std::nullopt;
}

} // namespace varnok

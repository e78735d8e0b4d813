#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace varnok {

// The nine kinds of reclaimable space. A value type over its case, usable as a set element and a
// map key; the raw value is also its identifier and the title the user sees.
class CleanupCategory {
public:
    enum Case : std::uint8_t {
        appCaches,
        browserCaches,
        oldLogs,
        aiCaches,
        communicationCaches,
        xcode,
        dependencies,
        builds,
        duplicates,
    };

    constexpr CleanupCategory(Case value) : value_(value) {}

    // Exactly one of the nine raw values, whole and case-sensitive; nothing otherwise.
    static std::optional<CleanupCategory> fromRawValue(std::string_view rawValue);
    // The nine cases in declaration order.
    static const std::array<CleanupCategory, 9>& allCases();

    constexpr Case value() const { return value_; }
    std::string_view rawValue() const;
    std::string_view id() const { return rawValue(); }
    std::string_view explanation() const;
    // The system symbol the cleanup screen shows in the header of the category's group.
    std::string_view symbol() const;

    friend constexpr bool operator==(CleanupCategory a, CleanupCategory b) {
        return a.value_ == b.value_;
    }
    friend constexpr bool operator<(CleanupCategory a, CleanupCategory b) {
        return a.value_ < b.value_;
    }

private:
    Case value_;
};

} // namespace varnok

template <> struct std::hash<varnok::CleanupCategory> {
    size_t operator()(varnok::CleanupCategory category) const noexcept {
        return static_cast<size_t>(category.value());
    }
};

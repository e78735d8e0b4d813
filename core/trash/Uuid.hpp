#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnok {

// A random (version 4) UUID. Its text is upper-case and hyphenated, 36 characters, which is also
// how plans name their report files.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid random();
    // Hyphenated text in either case; nothing for anything else.
    static std::optional<Uuid> parse(std::string_view text);
    std::string uuidString() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
};

} // namespace varnok

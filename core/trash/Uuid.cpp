#include "core/trash/Uuid.hpp"

#include "core/common/Url.hpp"

#include <cerrno>
#include <random>
#include <sys/random.h>

namespace varnok {

Uuid Uuid::random() {
    Uuid uuid;
    size_t filled = 0;
    while (filled < uuid.bytes.size()) {
        ssize_t got = ::getrandom(uuid.bytes.data() + filled, uuid.bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // No kernel randomness: the identifiers only need to be unique, not secret.
            std::random_device device;
            for (auto& byte : uuid.bytes) {
                byte = static_cast<std::uint8_t>(device());
            }
            break;
        }
        filled += static_cast<size_t>(got);
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
    return uuid;
}

namespace {
bool isHyphenPosition(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}
} // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        int high = PathText::hexDigitValue(text[i]);
        int low = PathText::hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        uuid.bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return uuid;
}

std::string Uuid::uuidString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

} // namespace varnok

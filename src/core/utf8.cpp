// Strict UTF-8 validation, after the well-formed byte sequences table of Unicode 3.9.
#include "core/utf8.hpp"

#include <cstddef>

namespace orvek {

bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b0 = bytes[i];
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) low = 0xA0;   // no overlong three-byte forms
            if (b0 == 0xED) high = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) low = 0x90;   // no overlong four-byte forms
            if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace orvek

// Size arithmetic for values that come from untrusted headers: never wraps.
#pragma once

#include <cstdint>
#include <optional>

namespace orvek {

// a × b, or nothing when the product does not fit 64 bits.
inline std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t result;
    if (__builtin_mul_overflow(a, b, &result)) return std::nullopt;
    return result;
}

// a + b, or nothing when the sum does not fit 64 bits.
inline std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t result;
    if (__builtin_add_overflow(a, b, &result)) return std::nullopt;
    return result;
}

}  // namespace orvek

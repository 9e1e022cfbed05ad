// Strict UTF-8 validation (no overlong forms, no surrogates, nothing above U+10FFFF).
#pragma once

#include <cstdint>
#include <span>

namespace orvek {

bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace orvek

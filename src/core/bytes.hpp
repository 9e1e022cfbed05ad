// Fixed-width loads and stores on unaligned byte buffers, with an explicit byte order.
// Never cast a pointer into a file buffer: copy the bytes, then swap as needed.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace orvek {

namespace detail {
template <typename T>
inline T load_raw(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
template <typename T>
inline void store_raw(std::uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}
inline std::uint16_t to_le(std::uint16_t v) { return std::endian::native == std::endian::little ? v : __builtin_bswap16(v); }
inline std::uint32_t to_le(std::uint32_t v) { return std::endian::native == std::endian::little ? v : __builtin_bswap32(v); }
inline std::uint64_t to_le(std::uint64_t v) { return std::endian::native == std::endian::little ? v : __builtin_bswap64(v); }
inline std::uint16_t to_be(std::uint16_t v) { return std::endian::native == std::endian::big ? v : __builtin_bswap16(v); }
inline std::uint32_t to_be(std::uint32_t v) { return std::endian::native == std::endian::big ? v : __builtin_bswap32(v); }
inline std::uint64_t to_be(std::uint64_t v) { return std::endian::native == std::endian::big ? v : __builtin_bswap64(v); }
}  // namespace detail

inline std::uint16_t load_le16(const std::uint8_t* p) { return detail::to_le(detail::load_raw<std::uint16_t>(p)); }
inline std::uint32_t load_le32(const std::uint8_t* p) { return detail::to_le(detail::load_raw<std::uint32_t>(p)); }
inline std::uint64_t load_le64(const std::uint8_t* p) { return detail::to_le(detail::load_raw<std::uint64_t>(p)); }
inline std::uint16_t load_be16(const std::uint8_t* p) { return detail::to_be(detail::load_raw<std::uint16_t>(p)); }
inline std::uint32_t load_be32(const std::uint8_t* p) { return detail::to_be(detail::load_raw<std::uint32_t>(p)); }
inline std::uint64_t load_be64(const std::uint8_t* p) { return detail::to_be(detail::load_raw<std::uint64_t>(p)); }

inline void store_le16(std::uint8_t* p, std::uint16_t v) { detail::store_raw(p, detail::to_le(v)); }
inline void store_le32(std::uint8_t* p, std::uint32_t v) { detail::store_raw(p, detail::to_le(v)); }
inline void store_be16(std::uint8_t* p, std::uint16_t v) { detail::store_raw(p, detail::to_be(v)); }
inline void store_be32(std::uint8_t* p, std::uint32_t v) { detail::store_raw(p, detail::to_be(v)); }

// IEEE-754 binary32 taken bit for bit (NaN payloads and infinities pass through).
inline float load_le_f32(const std::uint8_t* p) { return std::bit_cast<float>(load_le32(p)); }
inline float load_be_f32(const std::uint8_t* p) { return std::bit_cast<float>(load_be32(p)); }
inline void store_be_f32(std::uint8_t* p, float v) { store_be32(p, std::bit_cast<std::uint32_t>(v)); }

}  // namespace orvek

// Shared pieces of the header-text readers (HD, RAD, GRD, DZG): lines, Unicode white
// space, key upper-casing and the strict number texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvek::text {

// The lines of a text: split at every LF, a CR directly before the LF removed with it;
// a final line without LF counts when it is not empty (no empty line after a last LF).
std::vector<std::string_view> split_lines(std::string_view text);

// Removes the Unicode White_Space characters (25 code points) at both ends.
std::string_view trim(std::string_view text);

// Byte position and byte length of the first Unicode White_Space character, if any.
struct Match {
    std::size_t position;
    std::size_t length;
};
std::optional<Match> find_white_space(std::string_view text);

// The Unicode upper-case mapping of a key, as far as it can matter: a key can only ever
// match an ASCII key, so letters whose full capital is all ASCII are mapped (a-z, ı, ſ,
// ß, the Latin ligatures ﬀ…ﬆ); every other character is kept as it stands.
std::string upper_key(std::string_view key);

// Unsigned integer text: an optional "+", then one or more ASCII digits, nothing else,
// at most `max`. Leading zeros are allowed.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max);
inline std::optional<std::uint64_t> parse_u64(std::string_view t) { return parse_unsigned(t, UINT64_MAX); }
inline std::optional<std::uint16_t> parse_u16(std::string_view t) {
    auto v = parse_unsigned(t, UINT16_MAX);
    return v ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*v)) : std::nullopt;
}
inline std::optional<std::uint8_t> parse_u8(std::string_view t) {
    auto v = parse_unsigned(t, UINT8_MAX);
    return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*v)) : std::nullopt;
}

// Float text: optional sign; then inf, infinity or nan in any letter case, or digits
// with an optional point and fraction (at least one digit in all) and an optional
// exponent (e/E, optional sign, at least one digit). Nothing else. Rounded correctly
// and once, straight to the target width; overflow gives ±infinity, tiny values
// underflow to subnormals or zero.
std::optional<float> parse_f32(std::string_view text);
std::optional<double> parse_f64(std::string_view text);

}  // namespace orvek::text

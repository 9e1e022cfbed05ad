// Shared pieces of the header-text readers: lines, Unicode white space, key
// upper-casing and the strict number texts.
#include "parser/text.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace orvek::text {

namespace {

// Length in bytes of the White_Space character that starts at `p`, or 0. The texts
// are UTF-8, whose lead bytes never occur inside another character, so a byte-wise
// match at any position is a match of a whole character.
//   U+0009..000D, U+0020            one byte
//   U+0085, U+00A0                  C2 85, C2 A0
//   U+1680                          E1 9A 80
//   U+2000..200A, 2028, 2029, 202F  E2 80 80..8A, A8, A9, AF
//   U+205F                          E2 81 9F
//   U+3000                          E3 80 80
std::size_t white_space_at(const unsigned char* p, std::size_t available) {
    const unsigned char b0 = p[0];
    if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
    if (b0 < 0xC2 || available < 2) return 0;
    const unsigned char b1 = p[1];
    if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
    if (available < 3) return 0;
    const unsigned char b2 = p[2];
    switch (b0) {
        case 0xE1:
            return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
        case 0xE2:
            if (b1 == 0x80) {
                return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
            }
            return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;
        case 0xE3:
            return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
        default:
            return 0;
    }
}

const unsigned char* bytes_of(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// Length of the White_Space character that ends the text, or 0.
std::size_t white_space_before_end(std::string_view text) {
    const std::size_t n = text.size();
    for (std::size_t length = 1; length <= 3 && length <= n; ++length) {
        if (white_space_at(bytes_of(text) + (n - length), length) == length) return length;
    }
    return 0;
}

// Letters outside a-z whose full upper case is all ASCII: the only ones that can make
// a key match one of the readers' ASCII keys.
struct Capital {
    std::string_view letter;   // UTF-8 of the small letter
    std::string_view capital;  // its full upper-case mapping
};
constexpr Capital kAsciiCapitals[] = {
    {"\u0131", "I"},    // dotless i
    {"\u017F", "S"},    // long s
    {"\u00DF", "SS"},   // sharp s
    {"\uFB00", "FF"},   // ligature ff
    {"\uFB01", "FI"},   // ligature fi
    {"\uFB02", "FL"},   // ligature fl
    {"\uFB03", "FFI"},  // ligature ffi
    {"\uFB04", "FFL"},  // ligature ffl
    {"\uFB05", "ST"},   // ligature long s t
    {"\uFB06", "ST"},   // ligature st
};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != lower_word[i]) return false;
    }
    return true;
}

// The shape of a decimal number text (sign already removed): digits, an optional
// point and fraction, at least one digit in all, then an optional exponent.
struct DecimalShape {
    bool valid = false;
    bool all_zero = true;  // no non-zero digit in the significand
    // Decimal exponent of the leading non-zero digit (value = d.ddd × 10^this),
    // saturated far beyond any binary64 range; meaningful when !all_zero.
    std::int64_t leading_exponent = 0;
};

DecimalShape scan_decimal(std::string_view text) {
    DecimalShape shape;
    std::size_t i = 0;
    const std::size_t n = text.size();
    std::int64_t digits_before_point = 0;  // counted from the first non-zero digit
    std::int64_t zeros_after_point = 0;    // leading zeros of the fraction before any non-zero digit
    std::size_t digit_count = 0;
    constexpr std::int64_t kSaturation = std::int64_t{1} << 40;

    while (i < n && is_digit(text[i])) {
        if (text[i] != '0') shape.all_zero = false;
        if (!shape.all_zero && digits_before_point < kSaturation) ++digits_before_point;
        ++digit_count;
        ++i;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && is_digit(text[i])) {
            if (text[i] != '0' && shape.all_zero) {
                shape.all_zero = false;
            } else if (shape.all_zero && zeros_after_point < kSaturation) {
                ++zeros_after_point;
            }
            ++digit_count;
            ++i;
        }
    }
    if (digit_count == 0) return shape;

    std::int64_t exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        if (i == n || !is_digit(text[i])) return shape;
        while (i < n && is_digit(text[i])) {
            if (exponent < kSaturation) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (negative) exponent = -exponent;
    }
    if (i != n) return shape;

    shape.valid = true;
    shape.leading_exponent =
        digits_before_point > 0 ? exponent + digits_before_point - 1 : exponent - zeros_after_point - 1;
    return shape;
}

template <typename Float>
std::optional<Float> parse_float(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity")) {
        const Float inf = std::numeric_limits<Float>::infinity();
        return negative ? -inf : inf;
    }
    if (equals_ignoring_ascii_case(text, "nan")) {
        return std::copysign(std::numeric_limits<Float>::quiet_NaN(), negative ? Float(-1) : Float(1));
    }

    const DecimalShape shape = scan_decimal(text);
    if (!shape.valid) return std::nullopt;
    if (shape.all_zero) return negative ? -Float(0) : Float(0);

    // std::from_chars at the target width rounds once, correctly, to nearest-even.
    // It reports results beyond the range as out_of_range without a value; the
    // decimal exponent then tells overflow (±infinity) from underflow (±0).
    Float value{};
    const char* first = text.data();
    const char* last = first + text.size();
    const std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = shape.leading_exponent >= 0 ? std::numeric_limits<Float>::infinity() : Float(0);
    } else if (result.ec != std::errc() || result.ptr != last) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t feed = text.find('\n', start);
        if (feed == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::size_t end = feed;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = feed + 1;
    }
    return lines;
}

std::string_view trim(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = white_space_at(bytes_of(text), text.size());
        if (length == 0) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        const std::size_t length = white_space_before_end(text);
        if (length == 0) break;
        text.remove_suffix(length);
    }
    return text;
}

std::optional<Match> find_white_space(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t length = white_space_at(bytes_of(text) + i, text.size() - i);
        if (length != 0) return Match{i, length};
    }
    return std::nullopt;
}

std::string upper_key(std::string_view key) {
    std::string upper;
    upper.reserve(key.size());
    std::size_t i = 0;
    while (i < key.size()) {
        const char c = key[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            upper.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
            ++i;
            continue;
        }
        bool mapped = false;
        for (const Capital& entry : kAsciiCapitals) {
            if (key.substr(i, entry.letter.size()) == entry.letter) {
                upper.append(entry.capital);
                i += entry.letter.size();
                mapped = true;
                break;
            }
        }
        if (!mapped) {
            upper.push_back(c);
            ++i;
        }
    }
    return upper;
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!is_digit(c)) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > max || value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<float> parse_f32(std::string_view text) {
    return parse_float<float>(text);
}
std::optional<double> parse_f64(std::string_view text) {
    return parse_float<double>(text);
}

}  // namespace orvek::text

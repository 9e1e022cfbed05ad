// The shared header-text helpers: lines, white space, key upper-casing, number texts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "parser/text.hpp"

namespace {

using namespace orvek::text;

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> out;
    for (std::string_view line : split_lines(text)) out.emplace_back(line);
    return out;
}

using Lines = std::vector<std::string>;

TEST(SplitLines, LineEndings) {
    EXPECT_EQ(lines_of(""), Lines{});
    EXPECT_EQ(lines_of("\n"), Lines{""});
    EXPECT_EQ(lines_of("a\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(lines_of("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(lines_of("a\n\nb"), (Lines{"a", "", "b"}));      // blank lines keep their place
    EXPECT_EQ(lines_of("a\r\r\nb\r"), (Lines{"a\r", "b\r"}));  // only the CR before LF goes
    EXPECT_EQ(lines_of("\r\n"), Lines{""});
}

// The 25 White_Space code points, in UTF-8.
const char* const kWhiteSpace[] = {
    "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

TEST(Trim, EveryWhiteSpaceCodePointAtBothEnds) {
    ASSERT_EQ(std::size(kWhiteSpace), 25u);
    for (const char* space : kWhiteSpace) {
        const std::string padded = std::string(space) + space + "a" + space + "b" + space;
        EXPECT_EQ(trim(padded), std::string("a") + space + "b") << padded;
        EXPECT_EQ(trim(std::string(space) + space), "");
        const auto match = find_white_space(std::string("ab") + space + "c");
        ASSERT_TRUE(match.has_value()) << padded;
        EXPECT_EQ(match->position, 2u);
        EXPECT_EQ(match->length, std::string(space).size());
    }
}

TEST(Trim, LookAlikesAreNotWhiteSpace) {
    // zero-width space, word joiner, zero-width no-break space, Mongolian vowel
    // separator, NUL and the neighbours of the ranges are not White_Space.
    for (const char* other : {"\u200B", "\u2060", "\uFEFF", "\u180E", "\u2030", "\u200C", "\u00A1", "\u3001",
                              "\x1f", "\u2027", "\u205E"}) {
        const std::string text = std::string(other) + "x" + other;
        EXPECT_EQ(trim(text), text) << text;
        EXPECT_FALSE(find_white_space(text).has_value()) << text;
    }
    EXPECT_EQ(trim(std::string_view("\0a", 2)), std::string_view("\0a", 2));
}

TEST(UpperKey, AsciiAndTheLettersWithAsciiCapitals) {
    EXPECT_EQ(upper_key("numberOfPts_1"), "NUMBEROFPTS_1");
    EXPECT_EQ(upper_key("bıts"), "BITS");
    EXPECT_EQ(upper_key("ſamples"), "SAMPLES");
    EXPECT_EQ(upper_key("maß"), "MASS");
    EXPECT_EQ(upper_key("\uFB00\uFB01\uFB02\uFB03\uFB04\uFB05\uFB06"), "FFFIFLFFIFFLSTST");
    EXPECT_EQ(upper_key("pulldelay"), "PULLDELAY");
    // Letters whose capital is not ASCII can never match an ASCII key: kept as they are.
    EXPECT_EQ(upper_key("é\u212Aµ"), "é\u212Aµ");
    EXPECT_EQ(upper_key(""), "");
}

TEST(ParseUnsigned, Grammar) {
    EXPECT_EQ(parse_u64("512"), 512u);
    EXPECT_EQ(parse_u64("+007"), 7u);
    EXPECT_EQ(parse_u64("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", "+", "-1", "-0", "512.0", " 1", "1 ", "0x10", "1e3", "++1",
                            "18446744073709551616", "99999999999999999999999", "１"}) {
        EXPECT_FALSE(parse_u64(bad).has_value()) << bad;
    }
}

TEST(ParseUnsigned, Widths) {
    EXPECT_EQ(parse_u8("255"), 255);
    EXPECT_FALSE(parse_u8("256").has_value());
    EXPECT_FALSE(parse_u8("300").has_value());
    EXPECT_EQ(parse_u16("65535"), 65535);
    EXPECT_FALSE(parse_u16("65536").has_value());
    EXPECT_EQ(parse_u16("0000000000000000000000001"), 1);
}

std::uint32_t bits(float v) {
    return std::bit_cast<std::uint32_t>(v);
}
std::uint64_t bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

struct F32Case {
    const char* text;
    std::uint32_t expected_bits;
};

TEST(ParseF32, RoundsOnceStraightToBinary32) {
    const F32Case cases[] = {
        {"1", 0x3F800000},
        {"+1.5", 0x3FC00000},
        {"-2", 0xC0000000},
        {"5.", 0x40A00000},
        {".5", 0x3F000000},
        {"1E2", 0x42C80000},
        {"1e+2", 0x42C80000},
        {"25e-1", 0x40200000},
        {"0", 0x00000000},
        {"-0", 0x80000000},
        {"-0.0e-999999999999", 0x80000000},
        {"0.1", 0x3DCCCCCD},
        // 1 + 2^-24 is halfway between 1 and the next float: ties to even gives 1.
        {"1.000000059604644775390625", 0x3F800000},
        // just above the halfway point rounds up
        {"1.000000059604644775390626", 0x3F800001},
        // 1 + 3·2^-24 is halfway between two floats with an odd lower neighbour: up.
        {"1.000000178813934326171875", 0x3F800002},
        // Rounding through binary64 would first give exactly 1 + 2^-24 and then 1 (double
        // rounding); the value lies above the halfway point, so it is 1 + 2^-23.
        {"1.0000000596046447753906250000000001", 0x3F800001},
        {"3.4028234663852886e38", 0x7F7FFFFF},  // the largest float
        {"3.4028235e38", 0x7F7FFFFF},
        {"3.4028236e38", 0x7F800000},  // above the halfway point to 2^128
        {"1e39", 0x7F800000},
        {"-1e39", 0xFF800000},
        {"1e99999999999999999999", 0x7F800000},
        {"1e-40", 0x000116C2},                  // subnormal
        {"1.401298464324817e-45", 0x00000001},  // the smallest subnormal
        {"7.1e-46", 0x00000001},                // above half of it: rounds up
        {"7e-46", 0x00000000},                  // below half of it: zero
        {"1e-50", 0x00000000},
        {"-1e-50", 0x80000000},
        {"1e-99999999999999999999", 0x00000000},
        {"0.0000000000000000000000000000000000000000000014", 0x00000001},
        {"340282346638528859811704183484516925440.0", 0x7F7FFFFF},
    };
    for (const F32Case& c : cases) {
        const auto value = parse_f32(c.text);
        ASSERT_TRUE(value.has_value()) << c.text;
        EXPECT_EQ(bits(*value), c.expected_bits) << c.text;
    }
}

TEST(ParseF64, RoundsCorrectly) {
    EXPECT_EQ(bits(*parse_f64("0.1")), 0x3FB999999999999Aull);
    EXPECT_EQ(bits(*parse_f64("1.0000000596046447753906250000000001")), bits(1.0000000596046448));
    EXPECT_EQ(bits(*parse_f64("4807.038")), bits(4807.038));
    EXPECT_EQ(*parse_f64("1e308"), 1e308);
    EXPECT_EQ(*parse_f64("1e309"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(*parse_f64("-1e309"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(bits(*parse_f64("4.9406564584124654e-324")), 1u);
    EXPECT_EQ(bits(*parse_f64("2e-324")), 0u);
    EXPECT_EQ(bits(*parse_f64("-1e-400")), 0x8000000000000000ull);
    EXPECT_EQ(*parse_f64("1e39"), 1e39);  // in range at 64 bits
    // 2^53 + 1 is halfway: ties to even.
    EXPECT_EQ(*parse_f64("9007199254740993"), 9007199254740992.0);
}

TEST(ParseFloat, Words) {
    for (const char* word : {"inf", "INF", "Infinity", "+iNfInItY"}) {
        EXPECT_EQ(*parse_f32(word), std::numeric_limits<float>::infinity()) << word;
        EXPECT_EQ(*parse_f64(word), std::numeric_limits<double>::infinity()) << word;
    }
    EXPECT_EQ(*parse_f32("-inf"), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(*parse_f64("-Infinity"), -std::numeric_limits<double>::infinity());
    for (const char* word : {"nan", "NaN", "+NAN", "-nan"}) {
        EXPECT_TRUE(std::isnan(*parse_f32(word))) << word;
        EXPECT_TRUE(std::isnan(*parse_f64(word))) << word;
    }
}

TEST(ParseFloat, RejectsEverythingElse) {
    for (const char* bad :
         {"",      ".",     "+",         "-",    "+.",   "e5",     ".e1",   "1e",   "1e+",
          "1e-",   "1.2.3", "1..2",      " 1",   "1 ",   "1_000",  "0x1p3", "0x10", "nan(1)",
          "nan()", "infin", "infinityy", "in",   "+-1",  "--1",    "1e1.5", "1,5",  "１",
          "1f",    "1d",    "e",         "i nf", "1 e5", "\u00A01"}) {
        EXPECT_FALSE(parse_f32(bad).has_value()) << bad;
        EXPECT_FALSE(parse_f64(bad).has_value()) << bad;
    }
}

}  // namespace

// The SEG-Y layout rules and encoders below the Python boundary: byte-order decision,
// coordinate scalar, text-header encoding, value encodings and the writer's size checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "parser/segy.hpp"
#include "parser/segy_write.hpp"

namespace orvek::segy {
namespace {

TEST(SegyLayout, BytesPerSampleKnowsFiveCodes) {
    const std::vector<std::pair<std::int16_t, int>> cases = {
        {1, 4}, {2, 4}, {3, 2}, {4, 0}, {5, 4}, {6, 0}, {7, 0}, {8, 1}, {0, 0}, {9, 0}, {-1, 0}, {1024, 0}};
    for (const auto& [code, bytes] : cases) EXPECT_EQ(bytes_per_sample(code), bytes) << code;
}

TEST(SegyLayout, ByteOrderComesFromTheFormatField) {
    struct Case {
        std::uint8_t first, second;
        ByteOrder order;
    };
    const Case cases[] = {
        {0x00, 0x05, ByteOrder::big},     // big-endian 5
        {0x05, 0x00, ByteOrder::little},  // little-endian 5
        {0x00, 0x08, ByteOrder::big},    {0x03, 0x00, ByteOrder::little},
        {0x00, 0x04, ByteOrder::big},  // 4 either way is unsupported: big, then refused
        {0x01, 0x01, ByteOrder::big},  // 257 both ways
        {0xFF, 0xFF, ByteOrder::big},
    };
    for (const Case& c : cases) EXPECT_EQ(byte_order_of_format_field(c.first, c.second), c.order);
}

TEST(SegyLayout, CoordinateScalarMultipliesOrDivides) {
    EXPECT_EQ(apply_coordinate_scalar(250, -100), 2.5f);
    EXPECT_EQ(apply_coordinate_scalar(10, -3), static_cast<float>(10.0 / 3.0));
    EXPECT_EQ(apply_coordinate_scalar(5, 10), 50.0f);
    EXPECT_EQ(apply_coordinate_scalar(-7, 0), -7.0f);
    EXPECT_EQ(apply_coordinate_scalar(65536, -32768), 2.0f);
    EXPECT_EQ(apply_coordinate_scalar(std::numeric_limits<std::int32_t>::min(), 32767),
              static_cast<float>(-2147483648.0 * 32767.0));
}

TEST(SegyTextHeader, EncodesCodePage037Capitals) {
    const auto block = build_text_header("Line 1: x=2.5");
    const std::uint8_t expected[] = {0xD3, 0xC9, 0xD5, 0xC5, 0x40, 0xF1, 0x7A,
                                     0x40, 0xE7, 0x7E, 0xF2, 0x4B, 0xF5};
    for (std::size_t i = 0; i < sizeof expected; ++i) EXPECT_EQ(block[i], expected[i]) << i;
    for (std::size_t i = sizeof expected; i < block.size(); ++i) ASSERT_EQ(block[i], 0x40) << i;
}

TEST(SegyTextHeader, EveryByteHasAnEncoding) {
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    const auto block = build_text_header(all);
    int kept = 0;
    for (int i = 0; i < 256; ++i) kept += block[i] != 0x40;
    // 26 letters twice, 10 digits, 8 punctuation marks; the space maps to itself.
    EXPECT_EQ(kept, 52 + 10 + 8);
    EXPECT_EQ(block['Z'], 0xE9);
    EXPECT_EQ(block['z'], 0xE9);
    EXPECT_EQ(block['J'], 0xD1);
    EXPECT_EQ(block['i'], 0xC9);
    EXPECT_EQ(block['>'], 0x6E);
}

TEST(SegyWriterValues, IntervalWordRoundsHalfAwayAndClamps) {
    const std::pair<float, std::int16_t> cases[] = {
        {100.0f, 0},       {500.0f, 1},         {1500.0f, 2},         {250000.0f, 250},
        {4.0e7f, 32767},   {-500.0f, -1},       {-4.0e7f, -32768},    {NAN, 0},
        {INFINITY, 32767}, {-INFINITY, -32768}, {32767499.0f, 32767}, {-32768000.0f, -32768}};
    for (const auto& [ns, word] : cases) EXPECT_EQ(interval_word(ns), word) << ns;
}

TEST(SegyWriterValues, CoordinateWordTruncatesAndClamps) {
    const std::pair<float, std::int32_t> cases[] = {{10.9f, 10},
                                                    {-0.7f, 0},
                                                    {-10.9f, -10},
                                                    {NAN, 0},
                                                    {3.0e9f, 2147483647},
                                                    {-3.0e9f, -2147483647 - 1},
                                                    {2147483520.0f, 2147483520},
                                                    {INFINITY, 2147483647}};
    for (const auto& [value, word] : cases) EXPECT_EQ(coordinate_word(value), word) << value;
}

TEST(SegyWriterValues, Int16SampleClampsThenTruncates) {
    const std::pair<double, std::int16_t> cases[] = {
        {1.0, 1},           {1.9, 1},      {-1.9, -1},        {-1.5, -1},          {40000.0, 32767},
        {-40000.0, -32768}, {NAN, -32768}, {INFINITY, 32767}, {-INFINITY, -32768}, {32767.9, 32767},
        {-32768.9, -32768}, {-0.0, 0}};
    for (const auto& [value, word] : cases) {
        EXPECT_EQ(int16_sample(value), word) << value;
        // 32-bit input gives the same word as its exact 64-bit widening.
        const auto narrow = static_cast<float>(value);
        EXPECT_EQ(int16_sample(narrow), int16_sample(static_cast<double>(narrow))) << value;
    }
}

SegyWriteRequest request_for(const std::vector<double>& samples, std::uint64_t n_traces,
                             std::uint64_t n_samples) {
    SegyWriteRequest request;
    request.traces = {SampleView::Type::f64, samples.data(), samples.size()};
    request.n_traces = n_traces;
    request.n_samples = n_samples;
    request.sample_interval_ns = 1000.0f;
    return request;
}

TEST(SegyWriter, RefusesSizesThatOverflow) {
    const std::vector<double> none;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {1, max / 4 + 1}, {max / 240 + 1, 0}, {max, max}, {2, max / 8}, {1, max / 4 - 59}};
    for (const auto& [n_traces, n_samples] : cases) {
        EXPECT_THROW(build_segy(request_for(none, n_traces, n_samples)), Failure)
            << n_traces << " " << n_samples;
    }
}

TEST(SegyWriter, TooFewSamplesIsAnInternalFault) {
    const std::vector<double> five(5, 1.0);
    try {
        build_segy(request_for(five, 2, 3));
        FAIL() << "no fault";
    } catch (const InternalFault& fault) {
        EXPECT_STREQ(fault.what(), "index out of bounds: the len is 5 but the index is 5");
    }
}

TEST(SegyWriter, EncodesFloat32InputStraightFromTheBuffer) {
    const std::vector<float> samples = {1.0f, -2.0f, 0.5f, NAN};
    SegyWriteRequest request;
    request.traces = {SampleView::Type::f32, samples.data(), samples.size()};
    request.n_traces = 2;
    request.n_samples = 2;
    const ByteBuffer file = build_segy(request);
    ASSERT_EQ(file.size(), 3600u + 2 * (240 + 8));
    const std::uint8_t* second = file.data() + 3600 + 248 + 240;
    EXPECT_EQ(load_be32(second), 0x3F000000u);
    EXPECT_EQ(load_be32(second + 4), std::bit_cast<std::uint32_t>(NAN));
}

// What the writer writes, the reader reads back; the same file made little-endian
// reads the same.
TEST(SegyRoundTrip, BigAndLittleEndianReadAlike) {
    const std::vector<double> samples = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
    const std::vector<float> x = {12.7f, -3.0f};
    SegyWriteRequest request = request_for(samples, 2, 3);
    request.sample_interval_ns = 250000.0f;
    request.trace_x_coords = x;
    request.measurement_system = 2;
    ByteBuffer file = build_segy(request);

    const auto check = [](const Survey& survey) {
        EXPECT_EQ(survey.format, "segy");
        EXPECT_EQ(survey.format_code, 5);
        EXPECT_EQ(survey.bits_per_sample, 32);
        EXPECT_EQ(survey.samples_per_trace, 3u);
        EXPECT_EQ(survey.num_traces, 2u);
        EXPECT_EQ(survey.header_offset, 3600u);
        EXPECT_EQ(survey.measurement_system, 2);
        EXPECT_EQ(survey.sample_interval_ns, 250000.0f);
        EXPECT_EQ(survey.time_window_ns, 750000.0f);
        EXPECT_EQ(survey.trace_data.size(), 504u);
        EXPECT_EQ(survey.src_x_coords, (std::vector<float>{12.0f, -3.0f}));
        EXPECT_EQ(survey.src_y_coords, (std::vector<float>{0.0f, 0.0f}));
        EXPECT_EQ(survey.trace_positions, survey.src_x_coords);
        EXPECT_EQ(survey.traces_per_meter, 1.0f / 15.0f);
    };
    check(parse_segy("a.sgy", file.span()));

    // Swap every header field this module touches to little-endian.
    const auto swap = [](std::uint8_t* block, Field field) {
        std::reverse(block + field.offset, block + field.offset + field.width);
    };
    for (Field f :
         {binary_header::sample_interval_us, binary_header::samples_per_trace, binary_header::format_code,
          binary_header::measurement_system, binary_header::fixed_length_flag}) {
        swap(file.data() + kBinaryHeaderOffset, f);
    }
    for (std::size_t k = 0; k < 2; ++k) {
        std::uint8_t* header = file.data() + 3600 + k * 252;
        for (Field f : {trace_header::sequence_number, trace_header::coordinate_scalar,
                        trace_header::source_x, trace_header::source_y, trace_header::sample_count}) {
            swap(header, f);
        }
    }
    check(parse_segy("a.sgy", file.span()));
}

}  // namespace
}  // namespace orvek::segy

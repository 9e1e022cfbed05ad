// DZT reader: decodes the fixed little-endian header fields in file order and derives
// the data offset and the trace count from them and the file's length.
#include "parser/dzt.hpp"

#include <algorithm>
#include <string>

#include "core/bytes.hpp"
#include "core/failure.hpp"

namespace orvek {

namespace {

// The header fields the reader decodes, in file order. The block at 30 is not
// interpreted, but a header must hold it whole.
enum class DztField {
    tag,
    data,
    samples,
    bits,
    zero,
    scans_per_second,
    scans_per_meter,
    marks,
    position,
    range,
    block,
    channels
};
struct FieldLayout {
    DztField field;
    std::size_t offset;
    std::size_t size;
    const char* name;
};
constexpr FieldLayout kDztHeader[] = {
    {DztField::tag, 0, 2, "tag"},
    {DztField::data, 2, 2, "data field"},
    {DztField::samples, 4, 2, "sample count"},
    {DztField::bits, 6, 2, "bit depth"},
    {DztField::zero, 8, 2, "zero field"},
    {DztField::scans_per_second, 10, 4, "scans per second"},
    {DztField::scans_per_meter, 14, 4, "scans per metre"},
    {DztField::marks, 18, 4, "marks field"},
    {DztField::position, 22, 4, "position"},
    {DztField::range, 26, 4, "range"},
    {DztField::block, 30, 22, "reserved block"},
    {DztField::channels, 52, 2, "channel count"},
};
static_assert(kDztHeader[std::size(kDztHeader) - 1].offset + kDztHeader[std::size(kDztHeader) - 1].size ==
              kDztHeaderBytes);

// The data field counts 1024-byte blocks when it is below 1024; from 1024 on it is the
// byte offset itself. Samples never start before byte 1024.
constexpr std::int64_t kDztBlock = 1024;

[[noreturn, gnu::cold]] void fail_early_end(const FieldLayout& field, std::span<const std::uint8_t> header) {
    std::string message = "Failed to parse DZT header: input ended before the ";
    message += field.name;
    message += " at byte " + std::to_string(field.offset) + " was complete (needs " +
               std::to_string(field.size) + " bytes); remaining bytes: [";
    for (std::size_t i = field.offset; i < header.size(); ++i) {
        if (i != field.offset) message += ", ";
        message += std::to_string(header[i]);
    }
    message += "]";
    throw Failure(message);
}

struct DztHeader {
    std::int16_t data = 0;
    std::int16_t samples = 0;
    std::int16_t bits = 0;
    float scans_per_second = 0.0f;
    float scans_per_meter = 0.0f;
    float position_ns = 0.0f;
    float range_ns = 0.0f;
    std::int16_t channels = 0;
};

DztHeader decode_header(std::span<const std::uint8_t> header) {
    DztHeader decoded;
    for (const FieldLayout& field : kDztHeader) {
        if (header.size() < field.offset || header.size() - field.offset < field.size)
            fail_early_end(field, header);
        const std::uint8_t* p = header.data() + field.offset;
        switch (field.field) {
            case DztField::data:
                decoded.data = static_cast<std::int16_t>(load_le16(p));
                break;
            case DztField::samples:
                decoded.samples = static_cast<std::int16_t>(load_le16(p));
                break;
            case DztField::bits:
                decoded.bits = static_cast<std::int16_t>(load_le16(p));
                break;
            case DztField::scans_per_second:
                decoded.scans_per_second = load_le_f32(p);
                break;
            case DztField::scans_per_meter:
                decoded.scans_per_meter = load_le_f32(p);
                break;
            case DztField::position:
                decoded.position_ns = load_le_f32(p);
                break;
            case DztField::range:
                decoded.range_ns = load_le_f32(p);
                break;
            case DztField::channels:
                decoded.channels = static_cast<std::int16_t>(load_le16(p));
                break;
            case DztField::tag:
            case DztField::zero:
            case DztField::marks:
            case DztField::block:
                break;
        }
    }
    return decoded;
}

}  // namespace

Survey parse_dzt(std::string_view path, std::span<const std::uint8_t> header, std::uint64_t file_size) {
    const DztHeader h = decode_header(header);
    const std::int64_t data = h.data;
    const std::int64_t samples = h.samples;
    const std::int64_t channels = h.channels;

    // A negative data field gives a negative E, which as unsigned lies far beyond any
    // file: such a record has no traces.
    const std::int64_t e = data < kDztBlock ? data * kDztBlock : data;
    const std::uint64_t data_offset =
        std::max(static_cast<std::uint64_t>(e), static_cast<std::uint64_t>(kDztBlock));

    // Bytes per sample truncate toward zero (12 bits give 1, -8 bits give -1); the
    // product of three 16-bit values cannot overflow 64 bits.
    const std::int64_t bytes_per_sample = h.bits / 8;
    const std::int64_t trace_size = samples * channels * bytes_per_sample;
    std::uint64_t num_traces = 0;
    if (trace_size > 0 && file_size > data_offset) {
        num_traces = (file_size - data_offset) / static_cast<std::uint64_t>(trace_size);
    }

    Survey survey;
    survey.path = std::string(path);
    survey.format = "dzt";
    survey.num_traces = num_traces;
    survey.samples_per_trace = static_cast<std::uint64_t>(samples);
    survey.bits_per_sample = static_cast<std::uint8_t>(h.bits & 0xFF);
    survey.format_code = 0;
    survey.measurement_system = 0;
    survey.sample_interval_ns = h.range_ns / static_cast<float>(h.samples);
    survey.traces_per_second = h.scans_per_second;
    survey.traces_per_meter = h.scans_per_meter;
    survey.time_zero_ns = h.position_ns;
    survey.time_window_ns = h.range_ns;
    survey.channels = static_cast<std::uint16_t>(h.channels);
    survey.header_offset = data_offset;
    return survey;
}

}  // namespace orvek

// SEG-Y reader: binary header, trace walk and per-trace coordinates into a Survey.
#include "parser/segy.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.hpp"

namespace orvek::segy {

namespace {

[[noreturn, gnu::cold]] void fail(const char* message) {
    throw Failure(message);
}

[[noreturn, gnu::cold]] void fail_format_code(std::int16_t code) {
    throw Failure("Unsupported SEG-Y format code: " + std::to_string(code));
}

// What the reader keeps of one trace header.
struct TraceFields {
    std::int32_t sequence_number;
    float x;
    float y;
};

TraceFields read_trace_fields(const FieldReader& reader, const std::uint8_t* header) {
    const std::int16_t scalar = reader.read16(header, trace_header::coordinate_scalar);
    return {reader.read(header, trace_header::sequence_number),
            apply_coordinate_scalar(reader.read(header, trace_header::source_x), scalar),
            apply_coordinate_scalar(reader.read(header, trace_header::source_y), scalar)};
}

// The per-trace values, gathered while walking.
struct TraceTable {
    std::vector<std::int32_t> sequence_numbers;
    std::vector<float> x;
    std::vector<float> y;

    void reserve(std::size_t n) {
        sequence_numbers.reserve(n);
        x.reserve(n);
        y.reserve(n);
    }
    void add(const TraceFields& fields) {
        sequence_numbers.push_back(fields.sequence_number);
        x.push_back(fields.x);
        y.push_back(fields.y);
    }
    std::size_t size() const noexcept { return x.size(); }
};

// Keeps the first `kept` bytes of the buffer as the trace data. A buffer that would
// carry much dead space (many extended headers, many short traces) is traded for one of
// the exact size, so that a long-lived record does not hold memory it never uses.
void keep_front(ByteBuffer& buffer, std::size_t kept) {
    if (buffer.size() - kept <= kept / 4) {
        buffer.shrink(kept);
        return;
    }
    ByteBuffer exact = ByteBuffer::uninitialized(kept);
    if (kept != 0) std::memcpy(exact.data(), buffer.data(), kept);
    buffer = std::move(exact);
}

// Fixed-length traces: every trace header sits at its computed place, whatever its own
// sample count says; the trace area is kept whole, any incomplete last trace included.
// The trace area is moved to the front of the file buffer, which becomes `trace_data`.
void walk_fixed(const FieldReader& reader, ByteBuffer& file, std::size_t data_start,
                std::size_t samples_per_trace, std::size_t sample_bytes, TraceTable& traces) {
    if (samples_per_trace == 0) fail("Cannot determine trace layout");
    // At most 240 + 32767 × 4 bytes: no overflow possible.
    const std::size_t stride = kTraceHeaderSize + samples_per_trace * sample_bytes;
    const std::size_t area = file.size() - data_start;
    const std::size_t count = area / stride;
    traces.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        traces.add(read_trace_fields(reader, file.data() + data_start + k * stride));
    }
    std::memmove(file.data(), file.data() + data_start, area);
    keep_front(file, area);
}

// Variable-length traces: each header's own sample count leads to the next header.
// The walk stops at a count that is not positive or at a trace that would run past the
// end of the file (that trace is dropped). Only the sample bytes are kept, gathered at
// the front of the file buffer: each header is read before any byte is moved over it.
void walk_variable(const FieldReader& reader, ByteBuffer& file, std::size_t data_start,
                   std::size_t sample_bytes, TraceTable& traces) {
    const std::size_t size = file.size();
    if (size <= data_start + kTraceHeaderSize) fail("Cannot determine trace layout");
    std::uint8_t* const bytes = file.data();
    std::size_t kept = 0;
    std::size_t header = data_start;
    while (header + kTraceHeaderSize <= size) {
        const std::uint8_t* p = bytes + header;
        const std::int16_t count = reader.read16(p, trace_header::sample_count);
        if (count <= 0) break;
        const std::size_t length = static_cast<std::size_t>(count) * sample_bytes;
        const std::size_t end = header + kTraceHeaderSize + length;
        if (end > size) break;
        traces.add(read_trace_fields(reader, p));
        std::memmove(bytes + kept, p + kTraceHeaderSize, length);
        kept += length;
        header = end;
    }
    keep_front(file, kept);
}

}  // namespace

Survey parse_segy(std::string path, std::span<const std::uint8_t> file) {
    ByteBuffer copy = ByteBuffer::uninitialized(file.size());
    if (!file.empty()) std::memcpy(copy.data(), file.data(), file.size());
    return parse_segy(std::move(path), std::move(copy));
}

Survey parse_segy(std::string path, ByteBuffer file) {
    if (file.size() < kFileHeaderSize) fail("File too small for SEG-Y header (min 3600 bytes)");

    const std::uint8_t* binary = file.data() + kBinaryHeaderOffset;
    const std::uint8_t* format_field = binary + binary_header::format_code.offset;
    const FieldReader reader(byte_order_of_format_field(format_field[0], format_field[1]));

    const std::int16_t format_code = reader.read16(binary, binary_header::format_code);
    const std::size_t sample_bytes = bytes_per_sample(format_code);
    if (sample_bytes == 0) fail_format_code(format_code);

    const std::int16_t extended_headers = reader.read16(binary, binary_header::extended_header_count);
    const std::size_t data_start =
        kFileHeaderSize +
        (extended_headers > 0 ? static_cast<std::size_t>(extended_headers) : 0) * kExtendedHeaderSize;
    if (file.size() <= data_start) fail("Trace data start exceeds file size");

    // The binary header's count when positive, else the first trace header's.
    std::size_t samples_per_trace = 0;
    if (const std::int16_t count = reader.read16(binary, binary_header::samples_per_trace); count > 0) {
        samples_per_trace = static_cast<std::size_t>(count);
    } else if (file.size() >= data_start + kTraceHeaderSize) {
        const std::int16_t first = reader.read16(file.data() + data_start, trace_header::sample_count);
        if (first > 0) samples_per_trace = static_cast<std::size_t>(first);
    }

    const std::int16_t fixed_length = reader.read16(binary, binary_header::fixed_length_flag);
    const std::int16_t measurement_system = reader.read16(binary, binary_header::measurement_system);
    const std::int16_t interval_us = reader.read16(binary, binary_header::sample_interval_us);

    // From here on the file buffer turns into the trace data.
    TraceTable traces;
    if (fixed_length != 0) {
        walk_fixed(reader, file, data_start, samples_per_trace, sample_bytes, traces);
    } else {
        walk_variable(reader, file, data_start, sample_bytes, traces);
    }
    if (traces.size() == 0) fail("No traces found in SEG-Y file");

    Survey survey;
    survey.path = std::move(path);
    survey.format = "segy";
    survey.num_traces = traces.size();
    survey.samples_per_trace = samples_per_trace;
    survey.bits_per_sample = static_cast<std::uint8_t>(8 * sample_bytes);
    survey.format_code = format_code;
    survey.measurement_system = measurement_system;
    survey.sample_interval_ns = static_cast<float>(interval_us) * 1000.0f;
    survey.time_window_ns = survey.sample_interval_ns * static_cast<float>(samples_per_trace);
    survey.header_offset = data_start;
    survey.trace_data = std::move(file);
    survey.channels = 1;

    // Positions along the line: the X coordinates when any is set, else the sequence
    // numbers. (A NaN compares unequal to 0 and counts as set.)
    bool any_x = false;
    for (const float x : traces.x) any_x = any_x || x != 0.0f;
    if (any_x) {
        survey.trace_positions = traces.x;
    } else {
        survey.trace_positions.reserve(traces.size());
        for (const std::int32_t q : traces.sequence_numbers)
            survey.trace_positions.push_back(static_cast<float>(q));
    }
    if (traces.size() >= 2) {
        const float spacing = traces.x[1] - traces.x[0];
        if (spacing != 0.0f && !std::isnan(spacing)) survey.traces_per_meter = 1.0f / std::fabs(spacing);
    }
    survey.src_x_coords = std::move(traces.x);
    survey.src_y_coords = std::move(traces.y);
    return survey;
}

}  // namespace orvek::segy

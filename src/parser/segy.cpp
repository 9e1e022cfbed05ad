// SEG-Y reader: binary header, trace walk and per-trace coordinates into a Survey.
#include "parser/segy.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "io/file_access.hpp"

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
// carry much dead space (many short traces) is traded for one of the exact size, so
// that a long-lived record does not hold memory it never uses.
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
void walk_fixed(const FieldReader& reader, const ByteBuffer& area, std::size_t samples_per_trace,
                std::size_t sample_bytes, TraceTable& traces) {
    if (samples_per_trace == 0) fail("Cannot determine trace layout");
    // At most 240 + 32767 × 4 bytes: no overflow possible.
    const std::size_t stride = kTraceHeaderSize + samples_per_trace * sample_bytes;
    const std::size_t count = area.size() / stride;
    traces.reserve(count);
    for (std::size_t k = 0; k < count; ++k) traces.add(read_trace_fields(reader, area.data() + k * stride));
}

// Variable-length traces: each header's own sample count leads to the next header.
// The walk stops at a count that is not positive or at a trace that would run past the
// end of the file (that trace is dropped). Only the sample bytes are kept, gathered at
// the front of the area: each header is read before any byte is moved over it.
void walk_variable(const FieldReader& reader, ByteBuffer& area, std::size_t sample_bytes, TraceTable& traces) {
    const std::size_t size = area.size();
    if (size <= kTraceHeaderSize) fail("Cannot determine trace layout");
    std::uint8_t* const bytes = area.data();
    std::size_t kept = 0;
    std::size_t header = 0;
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
    keep_front(area, kept);
}

// What the binary header says, decided before the trace area is read.
struct BinaryHeader {
    FieldReader reader;
    std::int16_t format_code;
    std::size_t sample_bytes;
    std::uint64_t data_start;
    std::int16_t samples_per_trace;
    std::int16_t fixed_length;
    std::int16_t measurement_system;
    std::int16_t interval_us;
};

// Checks, in this order, the file's length, the format code and the data start.
// `file_header` holds the first min(file_size, 3600) bytes of the file.
BinaryHeader read_binary_header(std::span<const std::uint8_t> file_header, std::uint64_t file_size) {
    if (file_size < kFileHeaderSize || file_header.size() < kFileHeaderSize)
        fail("File too small for SEG-Y header (min 3600 bytes)");
    const std::uint8_t* binary = file_header.data() + kBinaryHeaderOffset;
    const std::uint8_t* format_field = binary + binary_header::format_code.offset;
    const FieldReader reader(byte_order_of_format_field(format_field[0], format_field[1]));

    const std::int16_t format_code = reader.read16(binary, binary_header::format_code);
    const std::size_t sample_bytes = bytes_per_sample(format_code);
    if (sample_bytes == 0) fail_format_code(format_code);

    const std::int16_t extended_headers = reader.read16(binary, binary_header::extended_header_count);
    const std::uint64_t data_start =
        kFileHeaderSize +
        (extended_headers > 0 ? static_cast<std::uint64_t>(extended_headers) : 0) * kExtendedHeaderSize;
    if (file_size <= data_start) fail("Trace data start exceeds file size");

    return {reader,
            format_code,
            sample_bytes,
            data_start,
            reader.read16(binary, binary_header::samples_per_trace),
            reader.read16(binary, binary_header::fixed_length_flag),
            reader.read16(binary, binary_header::measurement_system),
            reader.read16(binary, binary_header::sample_interval_us)};
}

// The record from the binary header and the trace area (the file from the data start
// to its end), which becomes `trace_data`.
Survey build_survey(std::string path, const BinaryHeader& header, ByteBuffer area) {
    // The binary header's count when positive, else the first trace header's.
    std::size_t samples_per_trace = 0;
    if (header.samples_per_trace > 0) {
        samples_per_trace = static_cast<std::size_t>(header.samples_per_trace);
    } else if (area.size() >= kTraceHeaderSize) {
        const std::int16_t first = header.reader.read16(area.data(), trace_header::sample_count);
        if (first > 0) samples_per_trace = static_cast<std::size_t>(first);
    }

    TraceTable traces;
    if (header.fixed_length != 0) {
        walk_fixed(header.reader, area, samples_per_trace, header.sample_bytes, traces);
    } else {
        walk_variable(header.reader, area, header.sample_bytes, traces);
    }
    if (traces.size() == 0) fail("No traces found in SEG-Y file");

    Survey survey;
    survey.path = std::move(path);
    survey.format = "segy";
    survey.num_traces = traces.size();
    survey.samples_per_trace = samples_per_trace;
    survey.bits_per_sample = static_cast<std::uint8_t>(8 * header.sample_bytes);
    survey.format_code = header.format_code;
    survey.measurement_system = header.measurement_system;
    survey.sample_interval_ns = static_cast<float>(header.interval_us) * 1000.0f;
    survey.time_window_ns = survey.sample_interval_ns * static_cast<float>(samples_per_trace);
    survey.header_offset = header.data_start;
    survey.trace_data = std::move(area);
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

}  // namespace

Survey parse_segy(std::string path, std::span<const std::uint8_t> file) {
    const BinaryHeader header =
        read_binary_header(file.first(std::min<std::size_t>(file.size(), kFileHeaderSize)), file.size());
    const auto trace_area = file.subspan(static_cast<std::size_t>(header.data_start));
    ByteBuffer area = ByteBuffer::uninitialized(trace_area.size());
    std::memcpy(area.data(), trace_area.data(), trace_area.size());
    return build_survey(std::move(path), header, std::move(area));
}

Survey read_segy(std::string path, SequentialFile& file) {
    // The file and binary headers first: they say where the trace area begins.
    std::array<std::uint8_t, kFileHeaderSize> file_header;
    const std::size_t header_bytes = file.read_pieces(std::array{std::span<std::uint8_t>(file_header)});
    const BinaryHeader header =
        read_binary_header(std::span<const std::uint8_t>(file_header.data(), header_bytes), file.size());

    // The extended text headers are passed over unread, then the trace area goes
    // straight into the buffer that becomes `trace_data`: no second copy of the file.
    std::array<std::uint8_t, kExtendedHeaderSize> skipped;
    std::vector<std::span<std::uint8_t>> pieces(
        static_cast<std::size_t>((header.data_start - kFileHeaderSize) / kExtendedHeaderSize),
        std::span<std::uint8_t>(skipped));
    ByteBuffer area = ByteBuffer::uninitialized(static_cast<std::size_t>(file.size() - header.data_start));
    pieces.emplace_back(area.data(), area.size());
    const std::size_t got = file.read_pieces(pieces);
    // A file that shrank while it was read is taken as it was read.
    const std::size_t skip_bytes = static_cast<std::size_t>(header.data_start - kFileHeaderSize);
    if (got <= skip_bytes) fail("Trace data start exceeds file size");
    area.shrink(got - skip_bytes);
    return build_survey(std::move(path), header, std::move(area));
}

}  // namespace orvek::segy

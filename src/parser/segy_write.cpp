// SEG-Y writer: text-header encoding, header blocks and sample encoding into one buffer.
#include "parser/segy_write.hpp"

#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/checked.hpp"
#include "core/failure.hpp"
#include "io/file_access.hpp"

namespace orvek::segy {

namespace {

// ---- text header -------------------------------------------------------------
inline constexpr std::uint8_t kEbcdicSpace = 0x40;

// Byte → EBCDIC code page 037 for the characters a text header keeps; every other byte
// maps to a space. Lower-case letters take the codes of their capitals.
constexpr std::array<std::uint8_t, 256> make_ebcdic_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& code : table) code = kEbcdicSpace;
    constexpr std::pair<char, std::uint8_t> punctuation[] = {
        {'+', 0x4E}, {',', 0x6B}, {'-', 0x60}, {'.', 0x4B},
        {'/', 0x61}, {':', 0x7A}, {'=', 0x7E}, {'>', 0x6E},
    };
    for (const auto& [character, code] : punctuation) table[static_cast<std::uint8_t>(character)] = code;
    for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(0xF0 + i);
    // The alphabet sits in three runs in EBCDIC: A-I, J-R, S-Z.
    constexpr struct {
        char first, last;
        std::uint8_t code;
    } letter_runs[] = {{'A', 'I', 0xC1}, {'J', 'R', 0xD1}, {'S', 'Z', 0xE2}};
    for (const auto& run : letter_runs) {
        for (char c = run.first; c <= run.last; ++c) {
            const auto code = static_cast<std::uint8_t>(run.code + (c - run.first));
            table[static_cast<std::uint8_t>(c)] = code;
            table[static_cast<std::uint8_t>(c - 'A' + 'a')] = code;
        }
    }
    return table;
}
inline constexpr std::array<std::uint8_t, 256> kEbcdic = make_ebcdic_table();

void encode_text_header(std::string_view description, std::uint8_t* out) noexcept {
    const std::size_t used = description.size() < kTextHeaderSize ? description.size() : kTextHeaderSize;
    for (std::size_t i = 0; i < used; ++i) out[i] = kEbcdic[static_cast<std::uint8_t>(description[i])];
    std::memset(out + used, kEbcdicSpace, kTextHeaderSize - used);
}

// ---- header blocks -----------------------------------------------------------
struct FieldValue {
    Field field;
    std::int32_t value;
};

// The binary header fields whose written value never changes; every field not named
// here or set per call stays 0.
inline constexpr FieldValue kFixedBinaryFields[] = {
    {binary_header::line_number, 1},       {binary_header::data_traces_per_ensemble, 1},
    {binary_header::revision, 0x0100},  // revision 1.0: bytes 01 00
    {binary_header::fixed_length_flag, 1}, {binary_header::extended_header_count, 0},
};

void encode_binary_header(const SegyWriteRequest& request, std::int16_t interval, std::int16_t sample_count,
                          std::int16_t format_code, std::uint8_t* out) noexcept {
    std::memset(out, 0, kBinaryHeaderSize);
    for (const FieldValue& entry : kFixedBinaryFields) write_field_be(out, entry.field, entry.value);
    write_field_be(out, binary_header::sample_interval_us, interval);
    write_field_be(out, binary_header::samples_per_trace, sample_count);
    write_field_be(out, binary_header::format_code, format_code);
    write_field_be(out, binary_header::measurement_system, request.measurement_system);
}

std::int32_t coordinate_of(std::span<const float> coordinates, std::uint64_t trace) noexcept {
    return trace < coordinates.size() ? coordinate_word(coordinates[trace]) : 0;
}

// ---- samples -----------------------------------------------------------------
// Each loop encodes one trace's samples into the file buffer, each output from its own
// input alone. Compiled twice and chosen at run time: the AVX2 build swaps bytes with
// vector shuffles, which baseline x86-64 lacks.
#if defined(__x86_64__) && defined(__GNUC__)
#define ORVEK_SIMD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVEK_SIMD_CLONES
#endif

ORVEK_SIMD_CLONES void encode_ieee_f32(const float* __restrict in, std::size_t count,
                                       std::uint8_t* __restrict out) noexcept {
    for (std::size_t i = 0; i < count; ++i) store_be_f32(out + 4 * i, in[i]);
}

ORVEK_SIMD_CLONES void encode_ieee_f64(const double* __restrict in, std::size_t count,
                                       std::uint8_t* __restrict out) noexcept {
    for (std::size_t i = 0; i < count; ++i) store_be_f32(out + 4 * i, static_cast<float>(in[i]));
}

ORVEK_SIMD_CLONES void encode_int16_f32(const float* __restrict in, std::size_t count,
                                        std::uint8_t* __restrict out) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        store_be16(out + 2 * i, static_cast<std::uint16_t>(int16_sample(in[i])));
    }
}

ORVEK_SIMD_CLONES void encode_int16_f64(const double* __restrict in, std::size_t count,
                                        std::uint8_t* __restrict out) noexcept {
    for (std::size_t i = 0; i < count; ++i)
        store_be16(out + 2 * i, static_cast<std::uint16_t>(int16_sample(in[i])));
}

using TraceEncoder = void (*)(const void* in, std::size_t count, std::uint8_t* out);

TraceEncoder trace_encoder(SampleView::Type type, bool ieee) noexcept {
    if (type == SampleView::Type::f32) {
        if (ieee)
            return [](const void* in, std::size_t n, std::uint8_t* out) {
                encode_ieee_f32(static_cast<const float*>(in), n, out);
            };
        return [](const void* in, std::size_t n, std::uint8_t* out) {
            encode_int16_f32(static_cast<const float*>(in), n, out);
        };
    }
    if (ieee)
        return [](const void* in, std::size_t n, std::uint8_t* out) {
            encode_ieee_f64(static_cast<const double*>(in), n, out);
        };
    return [](const void* in, std::size_t n, std::uint8_t* out) {
        encode_int16_f64(static_cast<const double*>(in), n, out);
    };
}

std::size_t element_size(SampleView::Type type) noexcept {
    return type == SampleView::Type::f32 ? sizeof(float) : sizeof(double);
}

[[noreturn, gnu::cold]] void fail_file_size(const SegyWriteRequest& request) {
    throw Failure("SEG-Y file too large: " + std::to_string(request.n_traces) + " traces of " +
                  std::to_string(request.n_samples) + " samples do not fit in memory");
}

[[noreturn, gnu::cold]] void fail_sample_count(std::uint64_t n_samples) {
    throw Failure("SEG-Y cannot hold " + std::to_string(n_samples) + " samples per trace: its sample-count " +
                  "fields are 16 bits wide (at most " + std::to_string(kMaxSamplesPerTrace) + ")");
}

[[noreturn, gnu::cold]] void fail_too_few_samples(std::size_t length) {
    const std::string len = std::to_string(length);
    throw InternalFault("index out of bounds: the len is " + len + " but the index is " + len);
}

}  // namespace

std::array<std::uint8_t, kTextHeaderSize> build_text_header(std::string_view description) noexcept {
    std::array<std::uint8_t, kTextHeaderSize> block;
    encode_text_header(description, block.data());
    return block;
}

ByteBuffer build_segy(const SegyWriteRequest& request) {
    const bool ieee = request.format_code == kIeeeFloat32;
    const std::int16_t format_code = ieee ? kIeeeFloat32 : kInt16;
    const std::size_t sample_bytes = bytes_per_sample(format_code);
    const std::int16_t interval = interval_word(request.sample_interval_ns);
    // The count fields are 16 bits, read as unsigned by revision-2 readers: 40000 is the
    // bit pattern of -25536. A longer trace cannot be described at all, and writing the
    // low 16 bits would give a file whose headers disagree with its traces: refused.
    if (request.n_samples > kMaxSamplesPerTrace) fail_sample_count(request.n_samples);
    const auto sample_count = static_cast<std::int16_t>(static_cast<std::uint16_t>(request.n_samples));

    // 3600 + n_traces × (240 + n_samples × B), never wrapping.
    static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
    std::optional<std::uint64_t> file_size = checked_mul(request.n_samples, sample_bytes);
    if (file_size) file_size = checked_add(*file_size, kTraceHeaderSize);
    if (file_size) file_size = checked_mul(*file_size, request.n_traces);
    if (file_size) file_size = checked_add(*file_size, kFileHeaderSize);
    if (!file_size) fail_file_size(request);
    ByteBuffer file = ByteBuffer::uninitialized(*file_size);

    // Fits: n_traces × n_samples is at most the file size.
    const std::uint64_t needed = request.n_traces * request.n_samples;
    if (request.traces.size < needed) fail_too_few_samples(request.traces.size);

    std::uint8_t* out = file.data();
    encode_text_header(request.description, out);
    encode_binary_header(request, interval, sample_count, format_code, out + kBinaryHeaderOffset);
    out += kFileHeaderSize;

    std::array<std::uint8_t, kTraceHeaderSize> header_template{};
    write_field_be(header_template.data(), trace_header::sample_count, sample_count);
    write_field_be(header_template.data(), trace_header::sample_interval_us, interval);

    const TraceEncoder encode = trace_encoder(request.traces.type, ieee);
    const auto* samples = static_cast<const std::uint8_t*>(request.traces.data);
    const std::size_t input_stride = request.n_samples * element_size(request.traces.type);
    const std::size_t output_stride = request.n_samples * sample_bytes;
    for (std::uint64_t k = 0; k < request.n_traces; ++k) {
        std::memcpy(out, header_template.data(), kTraceHeaderSize);
        const std::int32_t x = coordinate_of(request.trace_x_coords, k);
        const std::int32_t y = coordinate_of(request.trace_y_coords, k);
        // Scalar 1 where a coordinate is set, so that the integers read back unchanged.
        write_field_be(out, trace_header::sequence_number, static_cast<std::int32_t>(k + 1));
        write_field_be(out, trace_header::coordinate_scalar, x != 0 || y != 0 ? 1 : 0);
        write_field_be(out, trace_header::source_x, x);
        write_field_be(out, trace_header::source_y, y);
        out += kTraceHeaderSize;
        if (output_stride != 0) encode(samples + k * input_stride, request.n_samples, out);
        out += output_stride;
    }
    return file;
}

void write_segy(std::string_view path, const SegyWriteRequest& request) {
    const ByteBuffer file = build_segy(request);
    write_file(path, file.span());
}

}  // namespace orvek::segy

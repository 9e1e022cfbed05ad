// SEG-Y writer and its EBCDIC text-header encoder.
//
// The writer lays out a big-endian file with the positions of parser/segy.hpp: an
// EBCDIC text header from the caller's description, the binary header, then for each
// trace a 240-byte header and its samples, as 32-bit IEEE floats (format code 5) or
// 16-bit integers (format code 3). The whole file is assembled in one buffer of its
// exact size and handed to the operating system in one write.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "parser/segy.hpp"
#include "types/byte_buffer.hpp"
#include "types/samples.hpp"

namespace orvek::segy {

// The description's bytes (UTF-8) as a 3200-byte EBCDIC (code page 037) block: digits,
// letters (lower case written as capitals), space and + , - . / : = > keep their
// meaning; every other byte, line feeds and each byte of a non-ASCII character
// included, becomes a space. Bytes past the 3200th are dropped, a shorter description
// is padded with spaces. No line structure is imposed. Never fails.
std::array<std::uint8_t, kTextHeaderSize> build_text_header(std::string_view description) noexcept;

// What write_segy writes. `traces` is trace-major: sample s of trace k is element
// k × n_samples + s; values past the first n_traces × n_samples are ignored. A trace
// without a coordinate (the span is shorter or empty) gets 0.
// The most samples per trace that the 16-bit sample-count fields can describe.
inline constexpr std::uint64_t kMaxSamplesPerTrace = 65535;

struct SegyWriteRequest {
    SampleView traces;
    std::uint64_t n_traces = 0;
    std::uint64_t n_samples = 0;
    float sample_interval_ns = 0.0f;
    std::string_view description;             // UTF-8
    std::int16_t format_code = kIeeeFloat32;  // 5: IEEE floats; anything else: 16-bit integers
    std::span<const float> trace_x_coords;
    std::span<const float> trace_y_coords;
    std::int16_t measurement_system = 1;
};

// The whole file as bytes. Throws Failure when n_samples exceeds kMaxSamplesPerTrace,
// when the file's size does not fit in memory or cannot be allocated, and InternalFault ("index out of bounds: ...") when `traces`
// holds fewer than n_traces × n_samples values.
ByteBuffer build_segy(const SegyWriteRequest& request);

// Builds the file, then creates or truncates `path` and writes it whole. Every failure
// of build_segy is raised before the file is opened; the write's own failures are
// SystemFailure and may leave a partly written file.
void write_segy(std::string_view path, const SegyWriteRequest& request);

// ---- value encodings -----------------------------------------------------------
// The sample interval in whole microseconds for the 16-bit interval fields: divided by
// 1000 in 32-bit arithmetic, rounded half away from zero, clamped; NaN gives 0.
inline std::int16_t interval_word(float sample_interval_ns) noexcept {
    const float us = std::round(sample_interval_ns / 1000.0f);
    if (std::isnan(us)) return 0;
    if (us >= 32767.0f) return 32767;
    if (us <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(us);
}

// A coordinate as the 32-bit integer written: truncated toward zero, clamped; NaN gives 0.
inline std::int32_t coordinate_word(float coordinate) noexcept {
    if (std::isnan(coordinate)) return 0;
    if (coordinate >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (coordinate <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(coordinate);
}

// A sample as a 16-bit integer (format code 3): clamped to the 16-bit range, a NaN
// counting as the lowest value, then truncated toward zero (1.9 gives 1, −1.9 gives −1).
// Exact for float and double alike: both bounds are exact in either type.
template <typename T>
inline std::int16_t int16_sample(T value) noexcept {
    const T clamped = value >= T(32767) ? T(32767) : (value > T(-32768) ? value : T(-32768));
    return static_cast<std::int16_t>(static_cast<std::int32_t>(clamped));
}

}  // namespace orvek::segy

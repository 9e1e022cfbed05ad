// The SEG-Y layout as this module reads and writes it, and the reader.
//
// The layout is described once, here: block sizes, the position and width of every
// header field either direction touches (revision 1 positions), the sample-format
// table, the byte-order rule and the coordinate-scalar rule. The reader below and the
// writer (segy_write.hpp) both take their positions from these tables.
//
// File layout, offsets from the start of the file:
//   0                 3200 bytes   text header (EBCDIC; the reader skips it)
//   3200              400 bytes    binary header
//   3600              3200 × E     E extended text headers (skipped unread)
//   3600 + 3200 × E   rest         traces: a 240-byte trace header, then its samples
// The offset where the traces begin is the data start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/bytes.hpp"
#include "types/survey.hpp"

namespace orvek {
class SequentialFile;
}

namespace orvek::segy {

// ---- blocks ------------------------------------------------------------------
inline constexpr std::size_t kTextHeaderSize = 3200;
inline constexpr std::size_t kBinaryHeaderOffset = 3200;
inline constexpr std::size_t kBinaryHeaderSize = 400;
inline constexpr std::size_t kExtendedHeaderSize = 3200;
inline constexpr std::size_t kFileHeaderSize = kBinaryHeaderOffset + kBinaryHeaderSize;  // 3600
inline constexpr std::size_t kTraceHeaderSize = 240;

// ---- header fields -----------------------------------------------------------
// A two's-complement integer field of a header block: its byte offset from the start
// of that block (the standard's byte numbers are offset + 1 onward) and its width.
struct Field {
    std::uint16_t offset;
    std::uint8_t width;  // 2 or 4
};

// The 400-byte binary header. Offsets 26..53, 56..299 and 306..399 hold fields that
// neither the reader nor the writer touches; the writer leaves them 0.
namespace binary_header {
inline constexpr Field job_id{0, 4};
inline constexpr Field line_number{4, 4};
inline constexpr Field reel_number{8, 4};
inline constexpr Field data_traces_per_ensemble{12, 2};
inline constexpr Field auxiliary_traces_per_ensemble{14, 2};
inline constexpr Field sample_interval_us{16, 2};
inline constexpr Field original_sample_interval_us{18, 2};
inline constexpr Field samples_per_trace{20, 2};
inline constexpr Field original_samples_per_trace{22, 2};
inline constexpr Field format_code{24, 2};
inline constexpr Field measurement_system{54, 2};  // 1 metres, 2 feet
inline constexpr Field revision{300, 2};           // unsigned: major byte, then minor byte
inline constexpr Field fixed_length_flag{302, 2};
inline constexpr Field extended_header_count{304, 2};
}  // namespace binary_header

// The 240-byte trace header. Offsets 4..69, 80..113 and 118..239 are not used.
namespace trace_header {
inline constexpr Field sequence_number{0, 4};  // trace sequence number within line
inline constexpr Field coordinate_scalar{70, 2};
inline constexpr Field source_x{72, 4};
inline constexpr Field source_y{76, 4};
inline constexpr Field sample_count{114, 2};
inline constexpr Field sample_interval_us{116, 2};
}  // namespace trace_header

// ---- sample formats ----------------------------------------------------------
// Data sample format codes (binary header offset 24) the module knows. Samples are
// never decoded: the reader hands them on in the file's encoding and byte order.
enum FormatCode : std::int16_t {
    kIbmFloat32 = 1,
    kInt32 = 2,
    kInt16 = 3,
    kIeeeFloat32 = 5,
    kInt8 = 8,
};

// Bytes per sample indexed by code − 1. The zeros stand for codes 4, 6 and 7, which
// the module does not support.
inline constexpr std::array<std::uint8_t, 8> kBytesPerSample{4, 4, 2, 0, 4, 0, 0, 1};

// Bytes per sample of a format code, 0 for every code the module does not support.
constexpr std::uint8_t bytes_per_sample(std::int16_t code) noexcept {
    return code >= 1 && code <= 8 ? kBytesPerSample[static_cast<std::size_t>(code - 1)] : 0;
}

// ---- byte order --------------------------------------------------------------
// The writer writes big-endian. A file is read in one byte order throughout, decided
// from the two bytes of the format-code field: big-endian when they read as a
// supported code that way, else little-endian when they do so that way, else
// big-endian (and the code is then refused). The order applies to header fields only.
enum class ByteOrder { big, little };

constexpr ByteOrder byte_order_of_format_field(std::uint8_t first, std::uint8_t second) noexcept {
    const auto big = static_cast<std::int16_t>(static_cast<std::uint16_t>(first << 8 | second));
    const auto little = static_cast<std::int16_t>(static_cast<std::uint16_t>(second << 8 | first));
    if (bytes_per_sample(big) != 0) return ByteOrder::big;
    if (bytes_per_sample(little) != 0) return ByteOrder::little;
    return ByteOrder::big;
}

// Reads fields of header blocks in one byte order. `block` points at the start of a
// header block that holds the whole field.
class FieldReader {
public:
    explicit constexpr FieldReader(ByteOrder order) noexcept : order_(order) {}

    std::int32_t read(const std::uint8_t* block, Field field) const noexcept {
        const std::uint8_t* p = block + field.offset;
        if (field.width == 2) {
            const std::uint16_t raw = order_ == ByteOrder::big ? load_be16(p) : load_le16(p);
            return static_cast<std::int16_t>(raw);
        }
        const std::uint32_t raw = order_ == ByteOrder::big ? load_be32(p) : load_le32(p);
        return static_cast<std::int32_t>(raw);
    }
    std::int16_t read16(const std::uint8_t* block, Field field) const noexcept {
        return static_cast<std::int16_t>(read(block, field));
    }

private:
    ByteOrder order_;
};

// Stores the low `field.width` bytes of `value` big-endian (two's complement).
inline void write_field_be(std::uint8_t* block, Field field, std::int32_t value) noexcept {
    std::uint8_t* p = block + field.offset;
    if (field.width == 2) {
        store_be16(p, static_cast<std::uint16_t>(value));
    } else {
        store_be32(p, static_cast<std::uint32_t>(value));
    }
}

// ---- units -------------------------------------------------------------------
// Source coordinates are integers to be combined with the trace's coordinate scalar:
// a positive scalar multiplies, a negative one divides by its magnitude, 0 leaves the
// integer as it is. Computed in 64 bits, kept as a 32-bit float.
inline float apply_coordinate_scalar(std::int32_t value, std::int16_t scalar) noexcept {
    const double v = static_cast<double>(value);
    if (scalar > 0) return static_cast<float>(v * static_cast<double>(scalar));
    if (scalar < 0) return static_cast<float>(v / -static_cast<double>(scalar));
    return static_cast<float>(v);
}

// ---- reader ------------------------------------------------------------------
// Reads a whole SEG-Y file, big- or little-endian, into a record with format "segy".
// The text and extended text headers are skipped; sample bytes are kept undecoded.
// With the binary header's fixed-length flag set, the trace count comes from the file
// length and `trace_data` is the file from the data start on, trace headers included;
// otherwise each trace header's own sample count walks the file and `trace_data` holds
// only the sample bytes of the whole traces found. `path` is stored as given.
// Throws Failure with the reader's message when the file cannot be read as SEG-Y.
// The trace area is copied from `file` into the record's `trace_data`.
Survey parse_segy(std::string path, std::span<const std::uint8_t> file);
// The same straight from an open file: the headers are read first, then the trace
// area goes directly into `trace_data`, so reading costs no second copy of the file.
Survey read_segy(std::string path, SequentialFile& file);

}  // namespace orvek::segy

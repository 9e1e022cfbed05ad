// Magnetometry grid reader: GRD header text and the zigzag-corrected DAT grid.
#include "parser/magnetometry.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "core/checked.hpp"
#include "core/failure.hpp"
#include "parser/text.hpp"

namespace orvek {

namespace {

enum class GrdSetting { rows, columns, cell_size, origin_easting, origin_northing, rotation, zigzag };

struct GrdKey {
    std::string_view key;
    GrdSetting setting;
};

// Grid software of different makers names the same setting differently.
constexpr std::array<GrdKey, 16> kGrdKeys{{
    {"NR", GrdSetting::rows},
    {"ROWS", GrdSetting::rows},
    {"GRID_ROWS", GrdSetting::rows},
    {"NC", GrdSetting::columns},
    {"COLS", GrdSetting::columns},
    {"GRID_COLS", GrdSetting::columns},
    {"DX", GrdSetting::cell_size},
    {"DY", GrdSetting::cell_size},
    {"CELL_SIZE", GrdSetting::cell_size},
    {"XE", GrdSetting::origin_easting},
    {"ORIGIN_EASTING", GrdSetting::origin_easting},
    {"YN", GrdSetting::origin_northing},
    {"ORIGIN_NORTHING", GrdSetting::origin_northing},
    {"ANGLE", GrdSetting::rotation},
    {"ROTATION", GrdSetting::rotation},
    {"ZIGZAG", GrdSetting::zigzag},
}};

std::optional<GrdSetting> find_setting(std::string_view key) {
    for (const GrdKey& entry : kGrdKeys) {
        if (key == entry.key) return entry.setting;
    }
    return std::nullopt;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::uint64_t to_count(std::string_view value) {
    if (const auto count = text::parse_u64(value)) return *count;
    std::string_view digits = value;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    bool only_digits = !digits.empty();
    for (const char c : digits) only_digits = only_digits && is_digit(c);
    throw Failure(only_digits ? "number too large to fit in target type" : "invalid digit found in string");
}

template <typename T>
T to_float(const std::optional<T>& value) {
    if (!value) throw Failure("invalid float literal");
    return *value;
}

// "true" in any letter case, or "1"; every other value is false. No non-ASCII letter
// lower-cases to one of t, r, u, e, so an ASCII comparison is the whole rule.
bool to_flag(std::string_view value) {
    if (value == "1") return true;
    constexpr std::string_view kTrue = "true";
    if (value.size() != kTrue.size()) return false;
    for (std::size_t i = 0; i < kTrue.size(); ++i) {
        const char c =
            value[i] >= 'A' && value[i] <= 'Z' ? static_cast<char>(value[i] + ('a' - 'A')) : value[i];
        if (c != kTrue[i]) return false;
    }
    return true;
}

void store(GrdHeader& header, GrdSetting setting, std::string_view value) {
    switch (setting) {
        case GrdSetting::rows:
            header.rows = to_count(value);
            break;
        case GrdSetting::columns:
            header.columns = to_count(value);
            break;
        case GrdSetting::cell_size:
            header.cell_size_m = to_float(text::parse_f32(value));
            break;
        case GrdSetting::origin_easting:
            header.origin_easting = to_float(text::parse_f64(value));
            break;
        case GrdSetting::origin_northing:
            header.origin_northing = to_float(text::parse_f64(value));
            break;
        case GrdSetting::rotation:
            header.rotation_deg = to_float(text::parse_f32(value));
            break;
        case GrdSetting::zigzag:
            header.zigzag = to_flag(value);
            break;
    }
}

// Reverses the 16-bit values of one row in place, swapping from both ends: blocks of
// eight values at a time (the compiler turns the fixed permutation into shuffles), then
// the middle one by one. Values keep their two bytes; only their order changes.
void reverse_row(std::uint8_t* row, std::uint64_t columns) {
    constexpr std::size_t kBlock = 8;
    std::size_t left = 0;
    std::size_t right = static_cast<std::size_t>(columns);  // one past the last value
    while (right - left >= 2 * kBlock) {
        std::uint16_t head[kBlock];
        std::uint16_t tail[kBlock];
        std::memcpy(head, row + 2 * left, sizeof head);
        std::memcpy(tail, row + 2 * (right - kBlock), sizeof tail);
        std::uint16_t new_head[kBlock];
        std::uint16_t new_tail[kBlock];
        for (std::size_t k = 0; k < kBlock; ++k) {
            new_head[k] = tail[kBlock - 1 - k];
            new_tail[k] = head[kBlock - 1 - k];
        }
        std::memcpy(row + 2 * left, new_head, sizeof new_head);
        std::memcpy(row + 2 * (right - kBlock), new_tail, sizeof new_tail);
        left += kBlock;
        right -= kBlock;
    }
    while (right - left >= 2) {
        --right;
        std::uint16_t a;
        std::uint16_t b;
        std::memcpy(&a, row + 2 * left, 2);
        std::memcpy(&b, row + 2 * right, 2);
        std::memcpy(row + 2 * left, &b, 2);
        std::memcpy(row + 2 * right, &a, 2);
        ++left;
    }
}

// 2 × rows × columns, refused when it does not fit 64 bits (or the address space).
std::size_t grid_bytes(const GrdHeader& header) {
    std::optional<std::uint64_t> size = checked_mul(header.rows, header.columns);
    if (size) size = checked_mul(*size, 2);
    if (!size || *size > SIZE_MAX) {
        throw Failure("Invalid .grd file: a grid of " + std::to_string(header.rows) + " rows and " +
                      std::to_string(header.columns) + " columns does not fit 64 bits");
    }
    return static_cast<std::size_t>(*size);
}

}  // namespace

GrdHeader read_grd_header(std::string_view grd_text) {
    GrdHeader header;
    for (std::string_view line : text::split_lines(grd_text)) {
        line = text::trim(line);
        if (line.empty() || line.front() == '#' || line.starts_with("//")) continue;
        // Only the first separator splits: in "ROWS = 3" the value is "= 3".
        const std::size_t at = line.find_first_of(" :=");
        if (at == std::string_view::npos) continue;
        const std::string_view key = text::trim(line.substr(0, at));
        const std::string_view value = text::trim(line.substr(at + 1));
        if (key.empty() || value.empty()) continue;
        if (const auto setting = find_setting(text::upper_key(key))) store(header, *setting, value);
    }
    if (header.rows == 0 || header.columns == 0) throw Failure("Invalid .grd file: missing rows/cols");
    // Settled here, before the DAT file is opened: no DAT file can hold such a grid.
    grid_bytes(header);
    return header;
}

Survey parse_magnetometry(std::string path, const GrdHeader& header, ByteBuffer dat) {
    const std::size_t size = grid_bytes(header);
    if (dat.size() < size) {
        throw Failure("File too small: " + std::to_string(dat.size()) + " bytes, expected at least " +
                      std::to_string(size));
    }
    // The file's own buffer becomes trace_data unless the bytes after the grid would
    // hold on to much more memory than the grid needs; then the grid is copied out.
    if (dat.size() - size > size / 8) {
        ByteBuffer grid = ByteBuffer::uninitialized(size);
        std::memcpy(grid.data(), dat.data(), size);
        dat = std::move(grid);
    }
    dat.shrink(size);

    const std::size_t row_bytes = static_cast<std::size_t>(header.columns) * 2;
    if (header.zigzag && header.columns > 1) {
        for (std::uint64_t row = 1; row < header.rows; row += 2) {
            reverse_row(dat.data() + row * row_bytes, header.columns);
        }
    }

    Survey survey;
    survey.path = std::move(path);
    survey.format = "magnetometry";
    survey.num_traces = header.rows;
    survey.samples_per_trace = header.columns;
    survey.bits_per_sample = 16;
    survey.channels = 1;
    survey.trace_data = std::move(dat);
    survey.cell_size = header.cell_size_m;
    survey.origin_easting = header.origin_easting;
    survey.origin_northing = header.origin_northing;
    survey.rotation_deg = header.rotation_deg;
    survey.zigzag = header.zigzag;
    return survey;
}

}  // namespace orvek

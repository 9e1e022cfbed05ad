// MALA RD3/RD7 reader: RAD header text and the raw sample copy.
#include "parser/mala.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "core/checked.hpp"
#include "core/failure.hpp"
#include "parser/text.hpp"

namespace orvek {

namespace {

enum class RadSetting { samples_per_trace, num_traces, channels, time_window };

struct RadKey {
    std::string_view key;
    RadSetting setting;
};

// "UNITS", "STACKS", "FREQUENCY", "POSITION" and "INTERVAL" appear in every RAD file
// but nothing of the record comes from them, so they are left out like any other key.
constexpr std::array<RadKey, 4> kRadKeys{{
    {"SAMPLES", RadSetting::samples_per_trace},
    {"LAST TRACE", RadSetting::num_traces},
    {"CHANNELS", RadSetting::channels},
    {"TIMEWINDOW", RadSetting::time_window},
}};

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

// Splits a trimmed line at its separator. Instruments write "KEY=VALUE", "KEY:VALUE"
// and "KEY VALUE"; an "=" anywhere wins over a ":", and both win over white space, so
// that a key with a blank in it ("LAST TRACE") is whole on "=" and ":" lines.
std::optional<KeyValue> split_rad_line(std::string_view line) {
    std::size_t at = line.find('=');
    std::size_t length = 1;
    if (at == std::string_view::npos) at = line.find(':');
    if (at == std::string_view::npos) {
        const auto blank = text::find_white_space(line);
        if (!blank) return std::nullopt;
        at = blank->position;
        length = blank->length;
    }
    return KeyValue{text::trim(line.substr(0, at)), text::trim(line.substr(at + length))};
}

void store(RadHeader& header, RadSetting setting, std::string_view value) {
    // A value that does not convert clears the setting; it does not keep an earlier one.
    switch (setting) {
        case RadSetting::samples_per_trace:
            header.samples_per_trace = text::parse_u64(value).value_or(0);
            break;
        case RadSetting::num_traces:
            header.num_traces = text::parse_u64(value).value_or(0);
            break;
        case RadSetting::channels:
            header.channels = text::parse_u16(value).value_or(0);
            break;
        case RadSetting::time_window:
            header.time_window_ns = text::parse_f32(value).value_or(0.0f);
            break;
    }
}

[[noreturn, gnu::cold]] void fail_data_size(const RadHeader& header, unsigned bytes_per_sample) {
    throw Failure("Invalid .rad metadata: LAST TRACE (" + std::to_string(header.num_traces) +
                  ") times SAMPLES (" + std::to_string(header.samples_per_trace) + ") times " +
                  std::to_string(bytes_per_sample) + " bytes does not fit 64 bits");
}

}  // namespace

RadHeader read_rad_header(std::string_view rad_content) {
    RadHeader header;
    for (std::string_view line : text::split_lines(rad_content)) {
        line = text::trim(line);
        if (line.empty() || line.front() == '#') continue;  // ";" starts no comment here
        const auto pair = split_rad_line(line);
        if (!pair) continue;
        const std::string key = text::upper_key(pair->key);
        for (const RadKey& entry : kRadKeys) {
            if (key == entry.key) {
                store(header, entry.setting, pair->value);
                break;
            }
        }
    }
    if (header.channels < 2) header.channels = 1;
    if (header.samples_per_trace == 0 || header.num_traces == 0) {
        throw Failure("Invalid .rad metadata: SAMPLES or LAST TRACE is zero");
    }
    return header;
}

Survey parse_mala(std::string path, const RadHeader& header, bool is_rd7,
                  std::span<const std::uint8_t> data) {
    const unsigned bytes_per_sample = is_rd7 ? 4 : 2;
    std::optional<std::uint64_t> size = checked_mul(header.num_traces, header.samples_per_trace);
    if (size) size = checked_mul(*size, bytes_per_sample);
    if (!size || *size > SIZE_MAX) fail_data_size(header, bytes_per_sample);

    Survey survey;
    survey.path = std::move(path);
    survey.format = is_rd7 ? "mala_rd7" : "mala_rd3";
    survey.num_traces = header.num_traces;
    survey.samples_per_trace = header.samples_per_trace;
    survey.bits_per_sample = static_cast<std::uint8_t>(8 * bytes_per_sample);
    survey.channels = header.channels;
    survey.time_window_ns = header.time_window_ns;
    survey.sample_interval_ns = header.time_window_ns / static_cast<float>(header.samples_per_trace);

    // A file shorter than the header says is padded with zeros: calloc'd pages that no
    // file byte lands on are never written, so a wild claimed size costs address space.
    survey.trace_data = ByteBuffer::zeroed(static_cast<std::size_t>(*size));
    const std::size_t copied = data.size() < *size ? data.size() : static_cast<std::size_t>(*size);
    if (copied != 0) std::memcpy(survey.trace_data.data(), data.data(), copied);
    return survey;
}

}  // namespace orvek

// DT1 reader: HD settings, the trace layout they give, and the walk over the traces.
#include "parser/dt1.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bytes.hpp"
#include "core/checked.hpp"
#include "core/failure.hpp"
#include "io/file_access.hpp"
#include "parser/text.hpp"

namespace orvek {

namespace {

// ---- HD text ---------------------------------------------------------------------

enum class HdSetting { samples_per_trace, bits_per_sample, channels, time_window, time_zero, none };

struct HdKey {
    std::string_view key;  // as it reads after upper-casing
    HdSetting setting;
};

// Real HD files spell their settings in words with spaces ("NUMBER OF PTS/TRC",
// "TOTAL TIME WINDOW"); older writers run the words together. Both are read; any
// other spaced spelling matches nothing. Keys without a setting are recognised but
// change nothing: the trace count always comes from the file length.
constexpr HdKey kHdKeys[] = {
    {"NUMBEROFPTS", HdSetting::samples_per_trace},
    {"NUMBEROFPOINTS", HdSetting::samples_per_trace},
    {"NUMBER OF PTS/TRC", HdSetting::samples_per_trace},
    {"BITSPERSAMPLE", HdSetting::bits_per_sample},
    {"BITS_PER_SAMPLE", HdSetting::bits_per_sample},
    {"NUMBEROFCHANNELS", HdSetting::channels},
    {"TIMEWINDOW", HdSetting::time_window},
    {"TOTAL TIME WINDOW", HdSetting::time_window},
    {"PULLDELAY", HdSetting::time_zero},
    {"NUMBEROFTRACES", HdSetting::none},
    {"NUMBER OF TRACES", HdSetting::none},
    {"SURVEYNAME", HdSetting::none},
    {"TRANSMITRATE", HdSetting::none},
};

constexpr std::uint64_t kDefaultSamplesPerTrace = 512;
constexpr std::uint8_t kDefaultBitsPerSample = 16;

// Sets the setting when the value converts at its width; otherwise leaves it.
void apply_hd_value(Dt1Settings& settings, HdSetting setting, std::string_view value) {
    switch (setting) {
        case HdSetting::samples_per_trace:
            if (auto v = text::parse_u64(value)) settings.samples_per_trace = *v;
            break;
        case HdSetting::bits_per_sample:
            if (auto v = text::parse_u8(value)) settings.bits_per_sample = *v;
            break;
        case HdSetting::channels:
            if (auto v = text::parse_u16(value)) settings.channels = *v;
            break;
        case HdSetting::time_window:
            if (auto v = text::parse_f32(value)) settings.time_window_ns = *v;
            break;
        case HdSetting::time_zero:
            if (auto v = text::parse_f32(value)) settings.time_zero_ns = *v;
            break;
        case HdSetting::none:
            break;
    }
}

// ---- trace layout ----------------------------------------------------------------

// The three words of the 128-byte trace header that the record keeps.
constexpr std::size_t kPositionOffset = 4;    // position, m
constexpr std::size_t kElevationOffset = 12;  // topography, m
constexpr std::size_t kTimeZeroOffset = 80;   // time-zero adjustment, ns
constexpr std::uint64_t kMinimumFileBytes = 144;

struct Dt1Layout {
    std::uint64_t sample_bytes = 0;  // D: sample bytes per trace
    std::uint64_t stride = 0;        // 128 + D
    std::uint64_t num_traces = 0;
};

[[noreturn, gnu::cold]] void fail_no_traces() {
    throw Failure("No valid traces found in DT1 file");
}
[[noreturn, gnu::cold]] void fail_too_small() {
    throw Failure("File too small for DT1 format");
}

// A trace size that does not fit 64 bits cannot fit in any file either.
Dt1Layout layout_for(const Dt1Settings& settings, std::uint64_t file_size) {
    Dt1Layout layout;
    const auto sample_bytes = checked_mul(settings.bits_per_sample / 8u, settings.samples_per_trace);
    if (!sample_bytes) fail_no_traces();
    const auto stride = checked_add(kDt1TraceHeaderBytes, *sample_bytes);
    if (!stride || *stride > file_size) fail_no_traces();
    layout.sample_bytes = *sample_bytes;
    layout.stride = *stride;
    layout.num_traces = file_size / *stride;
    return layout;
}

// The record with everything but the per-trace data.
Survey record_for(std::string_view path, const Dt1Settings& settings) {
    Survey survey;
    survey.path = std::string(path);
    survey.format = "dt1";
    survey.samples_per_trace = settings.samples_per_trace;
    survey.bits_per_sample = settings.bits_per_sample;
    survey.channels = settings.channels;
    survey.time_window_ns = settings.time_window_ns;
    survey.time_zero_ns = settings.time_zero_ns;
    survey.sample_interval_ns =
        settings.samples_per_trace == 0
            ? 0.0f
            : settings.time_window_ns / static_cast<float>(settings.samples_per_trace);
    survey.header_offset = 0;
    return survey;
}

// Sizes the per-trace storage of the record for `num_traces` traces. The sample bytes
// of all traces never exceed the file's length, so the product cannot wrap.
void allocate_traces(Survey& survey, const Dt1Layout& layout, std::uint64_t num_traces) {
    survey.num_traces = num_traces;
    survey.trace_data = ByteBuffer::uninitialized(static_cast<std::size_t>(num_traces * layout.sample_bytes));
    try {
        survey.trace_positions.resize(num_traces);
        survey.trace_elevations.resize(num_traces);
        survey.trace_time_zeros.resize(num_traces);
    } catch (const std::bad_alloc&) {
        throw Failure("cannot allocate the trace headers of " + std::to_string(num_traces) + " traces");
    } catch (const std::length_error&) {
        throw Failure("cannot allocate the trace headers of " + std::to_string(num_traces) + " traces");
    }
}

// DT1 trace headers carry the position in their second word, the topography in the
// fourth and the time-zero adjustment in the twenty-first, all taken bit for bit.
void take_trace_header(Survey& survey, std::uint64_t k, const std::uint8_t* header) {
    survey.trace_positions[k] = load_le_f32(header + kPositionOffset);
    survey.trace_elevations[k] = load_le_f32(header + kElevationOffset);
    survey.trace_time_zeros[k] = load_le_f32(header + kTimeZeroOffset);
}

}  // namespace

Dt1Settings read_hd_settings(std::optional<std::string_view> hd_content) {
    Dt1Settings settings;
    if (!hd_content) return settings;
    for (std::string_view line : text::split_lines(*hd_content)) {
        line = text::trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::size_t separator = line.find('=');
        if (separator == std::string_view::npos) continue;
        const std::string key = text::upper_key(text::trim(line.substr(0, separator)));
        const std::string_view value = text::trim(line.substr(separator + 1));
        for (const HdKey& entry : kHdKeys) {
            if (entry.key == key) {
                apply_hd_value(settings, entry.setting, value);
                break;
            }
        }
    }
    if (settings.samples_per_trace == 0) settings.samples_per_trace = kDefaultSamplesPerTrace;
    if (settings.bits_per_sample == 0) settings.bits_per_sample = kDefaultBitsPerSample;
    if (settings.channels < 2) settings.channels = 1;
    return settings;
}

Survey parse_dt1(std::string_view path, std::span<const std::uint8_t> file,
                 std::optional<std::string_view> hd_content) {
    if (file.size() < kMinimumFileBytes) fail_too_small();
    const Dt1Settings settings = read_hd_settings(hd_content);
    const Dt1Layout layout = layout_for(settings, file.size());

    Survey survey = record_for(path, settings);
    allocate_traces(survey, layout, layout.num_traces);
    const std::size_t sample_bytes = static_cast<std::size_t>(layout.sample_bytes);
    const std::uint8_t* trace = file.data();
    std::uint8_t* out = survey.trace_data.data();
    for (std::uint64_t k = 0; k < layout.num_traces; ++k, trace += layout.stride) {
        take_trace_header(survey, k, trace);
        if (sample_bytes != 0)
            std::memcpy(out + k * sample_bytes, trace + kDt1TraceHeaderBytes, sample_bytes);
    }
    return survey;
}

Survey read_dt1(std::string_view path, SequentialFile& file, std::optional<std::string_view> hd_content) {
    if (file.size() < kMinimumFileBytes) fail_too_small();
    const Dt1Settings settings = read_hd_settings(hd_content);
    const Dt1Layout layout = layout_for(settings, file.size());

    Survey survey = record_for(path, settings);
    allocate_traces(survey, layout, layout.num_traces);

    // Each trace header goes to a small scratch block and each trace's samples straight
    // to their place in trace_data, a batch of traces per read.
    const std::size_t sample_bytes = static_cast<std::size_t>(layout.sample_bytes);
    constexpr std::uint64_t kTracesPerBatch = 512;
    std::vector<std::uint8_t> headers(kTracesPerBatch * kDt1TraceHeaderBytes);
    std::vector<std::span<std::uint8_t>> pieces;
    pieces.reserve(2 * kTracesPerBatch);
    std::uint64_t bytes_read = 0;
    for (std::uint64_t first = 0; first < layout.num_traces; first += kTracesPerBatch) {
        const std::uint64_t count = std::min(kTracesPerBatch, layout.num_traces - first);
        pieces.clear();
        for (std::uint64_t j = 0; j < count; ++j) {
            pieces.emplace_back(headers.data() + j * kDt1TraceHeaderBytes, kDt1TraceHeaderBytes);
            if (sample_bytes != 0)
                pieces.emplace_back(survey.trace_data.data() + (first + j) * sample_bytes, sample_bytes);
        }
        const std::size_t got = file.read_pieces(pieces);
        bytes_read += got;
        const std::uint64_t whole = got / layout.stride;  // traces of this batch read whole
        for (std::uint64_t j = 0; j < whole; ++j)
            take_trace_header(survey, first + j, headers.data() + j * kDt1TraceHeaderBytes);
        if (whole < count) {
            // The file shrank after its length was taken: keep what a read of the
            // shorter file would have given.
            if (bytes_read < kMinimumFileBytes) fail_too_small();
            const std::uint64_t kept = first + whole;
            if (kept == 0) fail_no_traces();
            survey.num_traces = kept;
            survey.trace_data.shrink(static_cast<std::size_t>(kept * layout.sample_bytes));
            survey.trace_positions.resize(kept);
            survey.trace_elevations.resize(kept);
            survey.trace_time_zeros.resize(kept);
            break;
        }
    }
    return survey;
}

}  // namespace orvek

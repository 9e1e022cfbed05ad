// The survey record and its processing history: plain values, no Python.
//
// Every reader builds one complete Survey from bytes and texts and hands it to the
// binding, which moves it into a Python object. Field order is the attribute order
// of the Python class; the initialisers are the values of a fresh record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "types/byte_buffer.hpp"

namespace orvek {

inline constexpr const char* kSoftwareVersion = "0.2.0";

// One entry of the audit trail.
struct ProcessingStep {
    std::string name;
    std::string parameters;   // stored verbatim, never parsed
    double timestamp = 0.0;   // seconds since 1970-01-01 00:00:00 UTC, with fraction
    std::string software_version = kSoftwareVersion;
};

// The step appended by add_step: the clock is read now. Throws InternalFault when the
// real-time clock cannot be read; a clock before 1970 gives timestamp 0.0.
ProcessingStep make_processing_step(std::string name, std::string parameters);

struct Survey {
    std::string path;
    std::string format;  // "dzt", "dt1", "mala_rd3", "mala_rd7", "segy", "magnetometry"
    std::uint64_t num_traces = 0;
    std::uint64_t samples_per_trace = 0;
    std::uint8_t bits_per_sample = 16;
    std::int16_t format_code = 0;         // SEG-Y sample format; 0 where not applicable
    std::int16_t measurement_system = 0;  // SEG-Y 1 metres, 2 feet; 0 where not applicable
    float sample_interval_ns = 0.0f;
    float traces_per_second = 0.0f;
    float traces_per_meter = 0.0f;
    float time_zero_ns = 0.0f;
    float time_window_ns = 0.0f;
    std::uint16_t channels = 1;
    std::uint64_t header_offset = 0;  // first sample (DZT) or first trace header (SEG-Y)
    ByteBuffer trace_data;            // raw bytes exactly as the file holds them
    std::vector<float> trace_positions;   // m, one per trace or empty
    std::vector<float> trace_time_zeros;  // ns
    std::vector<float> trace_elevations;  // m
    std::vector<float> src_x_coords;
    std::vector<float> src_y_coords;
    float cell_size = 0.0f;  // grid metadata (magnetometry)
    double origin_easting = 0.0;
    double origin_northing = 0.0;
    float rotation_deg = 0.0f;
    bool zigzag = false;
    std::vector<ProcessingStep> history;  // oldest first, append-only
};

// "PySurvey(format={format}, traces={n}, samples={n}, bits={n})".
std::string survey_repr(const Survey& survey);

}  // namespace orvek

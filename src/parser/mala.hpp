// MALA RD3/RD7 reader: the RAD header text gives the trace geometry, the data file
// holds nothing but samples, traces back to back with no headers at all.
//
// Reading runs in two steps so that the caller can touch the data file only once the
// header text has proved usable: read_rad_header() first, then the data file's bytes
// (mapped or read by the caller) go to parse_mala(). Both report failures as Failure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "types/survey.hpp"

namespace orvek {

// The settings of a RAD text that shape the record.
struct RadHeader {
    std::uint64_t samples_per_trace = 0;  // "SAMPLES"
    std::uint64_t num_traces = 0;         // "LAST TRACE"
    std::uint16_t channels = 0;           // "CHANNELS", 1 after read_rad_header when below 2
    float time_window_ns = 0.0f;          // "TIMEWINDOW"
};

// Reads the RAD text line by line. Lines are "KEY=VALUE", "KEY:VALUE" or "KEY VALUE":
// the separator is the first "=" of the line, else its first ":", else its first white
// space. Keys are compared upper-cased; unknown keys and lines without a separator are
// ignored; a value that does not convert sets its setting to 0, and the last line of a
// key wins. The text itself never fails, but the geometry does: samples per trace or
// number of traces still 0 afterwards throws
// Failure("Invalid .rad metadata: SAMPLES or LAST TRACE is zero").
RadHeader read_rad_header(std::string_view rad_content);

// The record of a data file whose RAD header is `header`: trace_data holds exactly
// num_traces × samples_per_trace × (2 for RD3, 4 for RD7) bytes, the first of them
// copied from `data` and the rest, where `data` is shorter, zero. Bytes of `data`
// beyond that size are not touched. Zero padding costs address space, not memory:
// pages that no file byte lands on are never written. Throws Failure when the size
// does not fit 64 bits or cannot be allocated.
Survey parse_mala(std::string path, const RadHeader& header, bool is_rd7, std::span<const std::uint8_t> data);

}  // namespace orvek

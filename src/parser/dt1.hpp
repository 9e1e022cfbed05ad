// DT1 reader: traces of a DT1 radar file, laid out by the settings of its HD text.
//
// A DT1 file is a plain run of traces, each a 128-byte trace header followed by its
// samples; how many samples and how wide comes only from the HD text. The record
// keeps the sample bytes of all traces back to back, headers removed, and three words
// of every trace header in the per-trace arrays.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "types/survey.hpp"

namespace orvek {

class SequentialFile;

inline constexpr std::size_t kDt1TraceHeaderBytes = 128;

// The settings an HD text gives (after its defaults), or all zero without a text.
struct Dt1Settings {
    std::uint64_t samples_per_trace = 0;
    std::uint8_t bits_per_sample = 0;
    std::uint16_t channels = 0;
    float time_window_ns = 0.0f;
    float time_zero_ns = 0.0f;
};

// Reads the HD text line by line: lines without "=", unknown keys and values that do
// not convert are ignored, a later line that converts wins. No text (nullopt) gives
// all zeros; a text, even an empty one, gets the defaults 512 samples, 16 bits and at
// least 1 channel.
Dt1Settings read_hd_settings(std::optional<std::string_view> hd_content);

// Parses a whole DT1 file held in memory. Throws Failure "File too small for DT1
// format" (fewer than 144 bytes, checked before the HD text is read) or "No valid
// traces found in DT1 file" (not even one whole trace, or a trace size beyond 64 bits).
Survey parse_dt1(std::string_view path, std::span<const std::uint8_t> file,
                 std::optional<std::string_view> hd_content);

// The same from an open file: sample bytes are read straight into the record.
Survey read_dt1(std::string_view path, SequentialFile& file, std::optional<std::string_view> hd_content);

}  // namespace orvek

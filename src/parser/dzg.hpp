// DZG reader: the positions of the NMEA fix ($GPGGA) and minimum-navigation ($GPRMC)
// sentences of a DZT survey's GPS companion text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvek {

struct DzgPosition {
    std::uint64_t line = 0;  // index of the line in the text, every line counted from 0
    double latitude = 0.0;   // decimal degrees, negative in the south
    double longitude = 0.0;  // decimal degrees, negative in the west
    double altitude = 0.0;   // from $GPGGA; 0.0 for $GPRMC
};

// The positions in text order. Lines that are not one of the two sentences, or whose
// fields are missing or do not read as numbers, are skipped: nothing here fails.
std::vector<DzgPosition> parse_dzg(std::string_view text);

// Degrees from an NMEA ddmm.mmmm / dddmm.mmmm value and its hemisphere ("S" and "W"
// negate; any other text leaves the value positive); nothing when the value is not a
// number text.
std::optional<double> nmea_coordinate(std::string_view value, std::string_view hemisphere);

}  // namespace orvek

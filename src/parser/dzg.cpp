// DZG reader: scans the NMEA text line by line for the two position sentences.
#include "parser/dzg.hpp"

#include <cmath>

#include "parser/text.hpp"

namespace orvek {

namespace {

// Fields of each sentence after splitting at commas; field 0 is the sentence name.
struct SentenceLayout {
    std::string_view name;
    std::size_t min_fields;
    std::size_t latitude, latitude_hemisphere;
    std::size_t longitude, longitude_hemisphere;
    std::size_t altitude;  // kNoAltitude when the sentence has none
};
constexpr std::size_t kNoAltitude = 0;
constexpr SentenceLayout kSentences[] = {
    {"$GPGGA", 10, 2, 3, 4, 5, 9},
    {"$GPRMC", 8, 3, 4, 5, 6, kNoAltitude},
};

// Fields of a line split at every comma, empty ones kept, none trimmed; only as many
// as a sentence can use (the rest is never read).
constexpr std::size_t kMaxFields = 10;
struct Fields {
    std::string_view items[kMaxFields];
    std::size_t count = 0;  // all fields of the line, also past kMaxFields
};

Fields split_fields(std::string_view line) {
    Fields fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        const std::string_view field =
            line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (fields.count < kMaxFields) fields.items[fields.count] = field;
        ++fields.count;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

std::optional<DzgPosition> read_sentence(const SentenceLayout& layout, const Fields& fields,
                                         std::uint64_t line) {
    if (fields.count < layout.min_fields || fields.items[0] != layout.name) return std::nullopt;
    for (std::size_t i :
         {layout.latitude, layout.latitude_hemisphere, layout.longitude, layout.longitude_hemisphere}) {
        if (fields.items[i].empty()) return std::nullopt;
    }
    const auto latitude =
        nmea_coordinate(fields.items[layout.latitude], fields.items[layout.latitude_hemisphere]);
    if (!latitude) return std::nullopt;
    const auto longitude =
        nmea_coordinate(fields.items[layout.longitude], fields.items[layout.longitude_hemisphere]);
    if (!longitude) return std::nullopt;
    double altitude = 0.0;
    if (layout.altitude != kNoAltitude) {
        const auto value = text::parse_f64(fields.items[layout.altitude]);
        if (!value) return std::nullopt;
        altitude = *value;
    }
    return DzgPosition{line, *latitude, *longitude, altitude};
}

}  // namespace

std::optional<double> nmea_coordinate(std::string_view value, std::string_view hemisphere) {
    const auto v = text::parse_f64(value);
    if (!v) return std::nullopt;
    // Evaluated in this order; a negative value goes through the same formula.
    const double degrees = std::floor(*v / 100.0);
    double result = degrees + (*v - degrees * 100.0) / 60.0;
    if (hemisphere == "S" || hemisphere == "W") result = -result;
    return result;
}

std::vector<DzgPosition> parse_dzg(std::string_view text) {
    std::vector<DzgPosition> positions;
    std::uint64_t index = 0;
    for (std::string_view line : text::split_lines(text)) {
        const std::uint64_t line_index = index++;
        line = text::trim(line);
        if (line.empty()) continue;
        const Fields fields = split_fields(line);
        for (const SentenceLayout& layout : kSentences) {
            if (auto position = read_sentence(layout, fields, line_index)) {
                positions.push_back(*position);
                break;
            }
        }
    }
    return positions;
}

}  // namespace orvek

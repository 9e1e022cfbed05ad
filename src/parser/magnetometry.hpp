// Magnetometry grid reader: a GRD text of key-value lines gives the grid's size and
// placement, the DAT file its values as signed 16-bit little-endian integers, row after
// row. Each grid row becomes one trace, each column one sample.
//
// Reading runs in two steps so that the DAT file is opened only once the GRD text has
// been read and validated completely: read_grd_header() first, then the DAT file's bytes
// go to parse_magnetometry(). Both report failures as Failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "types/byte_buffer.hpp"
#include "types/survey.hpp"

namespace orvek {

// The settings of a GRD text, at their start values.
struct GrdHeader {
    std::uint64_t rows = 0;        // "NR", "ROWS", "GRID_ROWS"
    std::uint64_t columns = 0;     // "NC", "COLS", "GRID_COLS"
    float cell_size_m = 0.5f;      // "DX", "DY", "CELL_SIZE": one setting, the last line wins
    double origin_easting = 0.0;   // "XE", "ORIGIN_EASTING"
    double origin_northing = 0.0;  // "YN", "ORIGIN_NORTHING"
    float rotation_deg = 0.0f;     // "ANGLE", "ROTATION"
    bool zigzag = true;            // "ZIGZAG": grids are walked back and forth unless told not
};

// Reads the GRD text line by line. A line splits at its first " ", ":" or "=" (a tab
// does not split); lines starting with "#" or "//", lines without a separator and lines
// whose key or value is empty are skipped, as are unknown keys. A value that does not
// convert fails the whole call: Failure "invalid digit found in string" or "number too
// large to fit in target type" for rows and columns, "invalid float literal" for the
// floats. Afterwards rows or columns 0 fails with "Invalid .grd file: missing
// rows/cols", and a grid whose byte size does not fit 64 bits is refused as well.
GrdHeader read_grd_header(std::string_view grd_text);

// The record of the grid `header` over the whole DAT file `dat`, whose memory it takes
// over for trace_data where that wastes little: rows × columns values, odd rows
// reversed when the grid is zigzag so that every row runs the same way. Fails with
// "File too small: {L} bytes, expected at least {N}" when `dat` is shorter than the grid.
Survey parse_magnetometry(std::string path, const GrdHeader& header, ByteBuffer dat);

}  // namespace orvek

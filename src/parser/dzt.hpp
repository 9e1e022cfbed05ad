// DZT reader: the geometry of a DZT radar file from its 54-byte header and its length.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "types/survey.hpp"

namespace orvek {

// Bytes of the header that the reader decodes; nothing after them is read.
inline constexpr std::size_t kDztHeaderBytes = 54;

// Decodes `header` (the file's first bytes: all of it when the file is shorter than
// kDztHeaderBytes) of a file of `file_size` bytes into a record with format "dzt",
// `path` stored as given and no samples: the caller maps them from `header_offset`.
// A header shorter than 54 bytes throws Failure "Failed to parse DZT header: …",
// listing the bytes that remained for the field that did not fit. No header value is
// validated.
Survey parse_dzt(std::string_view path, std::span<const std::uint8_t> header, std::uint64_t file_size);

}  // namespace orvek

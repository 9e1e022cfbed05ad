// Operating-system file access for the readers and the writer. Every failure is a
// Failure: the system's refusals as SystemFailure ("<description> (os error N)"),
// a NUL in a path as "file name contained an unexpected NUL byte", text that is not
// UTF-8 as "stream did not contain valid UTF-8". Nothing stays open after a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "types/byte_buffer.hpp"

namespace orvek {

// The whole file, read with one allocation of its size.
ByteBuffer read_file(std::string_view path);

// The whole file as text; fails unless it is valid UTF-8.
std::string read_text_file(std::string_view path);

// The length of the file and its first `count` bytes (fewer when the file is shorter).
struct FilePrefix {
    std::uint64_t file_size = 0;
    ByteBuffer bytes;
};
FilePrefix read_file_prefix(std::string_view path, std::size_t count);

// A read-only shared mapping of a whole file, released when the object goes.
// A file of size 0 maps no bytes (the mapping routine is not called for it).
class FileMapping {
public:
    explicit FileMapping(std::string_view path);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Creates or truncates the file and writes `bytes` to it whole.
void write_file(std::string_view path, std::span<const std::uint8_t> bytes);

}  // namespace orvek

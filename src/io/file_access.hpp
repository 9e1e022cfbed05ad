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

// A file opened for reading from its start onward, straight into the caller's memory
// (a scatter read: no intermediate buffer). A directory is refused as by read_file.
class SequentialFile {
public:
    explicit SequentialFile(std::string_view path);
    ~SequentialFile();
    SequentialFile(const SequentialFile&) = delete;
    SequentialFile& operator=(const SequentialFile&) = delete;

    // The file's length when it was opened.
    std::uint64_t size() const noexcept { return size_; }

    // Fills `pieces` in order with the next bytes of the file and returns how many bytes
    // were filled: their total, or fewer only where the file ended.
    std::size_t read_pieces(std::span<const std::span<std::uint8_t>> pieces);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Creates or truncates the file and writes `bytes` to it whole.
void write_file(std::string_view path, std::span<const std::uint8_t> bytes);

}  // namespace orvek

// An owned block of bytes with an explicit allocation policy: uninitialised for data
// that is about to be overwritten, zeroed lazily (calloc) where a short file is padded,
// so that a large claimed size costs address space, not resident memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace orvek {

class ByteBuffer {
public:
    ByteBuffer() = default;

    // `size` bytes of unspecified content. Throws Failure when the memory cannot be had.
    static ByteBuffer uninitialized(std::size_t size);
    // `size` zero bytes, from calloc: pages never written stay untouched.
    static ByteBuffer zeroed(std::size_t size);

    std::uint8_t* data() noexcept { return data_.get(); }
    const std::uint8_t* data() const noexcept { return data_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::span<std::uint8_t> span() noexcept { return {data_.get(), size_}; }
    std::span<const std::uint8_t> span() const noexcept { return {data_.get(), size_}; }

    // Keeps the first `size` bytes (size <= this->size()); memory is not returned.
    void shrink(std::size_t size) noexcept {
        if (size < size_) size_ = size;
    }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const noexcept { std::free(p); }
    };
    ByteBuffer(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::unique_ptr<std::uint8_t, FreeDeleter> data_;
    std::size_t size_ = 0;
};

}  // namespace orvek

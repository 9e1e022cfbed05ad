// Allocation of owned byte blocks.
#include "types/byte_buffer.hpp"

#include <string>

#include "core/failure.hpp"

namespace orvek {

namespace {
[[noreturn, gnu::cold]] void fail_allocation(std::size_t size) {
    throw Failure("cannot allocate " + std::to_string(size) + " bytes");
}
}  // namespace

ByteBuffer ByteBuffer::uninitialized(std::size_t size) {
    if (size == 0) return {};
    auto* p = static_cast<std::uint8_t*>(std::malloc(size));
    if (p == nullptr) fail_allocation(size);
    return {p, size};
}

ByteBuffer ByteBuffer::zeroed(std::size_t size) {
    if (size == 0) return {};
    auto* p = static_cast<std::uint8_t*>(std::calloc(size, 1));
    if (p == nullptr) fail_allocation(size);
    return {p, size};
}

}  // namespace orvek

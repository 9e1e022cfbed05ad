// A read-only view of caller samples as the caller holds them: 32-bit or 64-bit floats.
// Lets a consumer that converts element by element (the SEG-Y writer) read straight
// from a NumPy buffer instead of from an intermediate copy.
#pragma once

#include <cstddef>

namespace orvek {

struct SampleView {
    enum class Type { f32, f64 };
    Type type = Type::f64;
    const void* data = nullptr;
    std::size_t size = 0;

    // Element i widened to 64 bits (exact for 32-bit elements).
    double at(std::size_t i) const noexcept {
        return type == Type::f32 ? static_cast<double>(static_cast<const float*>(data)[i])
                                 : static_cast<const double*>(data)[i];
    }
};

}  // namespace orvek

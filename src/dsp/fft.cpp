// The FFT wrapper over pocketfft: the one place that includes the library and the one
// place its exceptions are caught. Its configuration (no plan cache, no threads) is set
// where the build pulls the header in.
#include "dsp/fft.hpp"

#include <exception>
#include <new>
// GCC cannot see that a Bluestein plan always has a length of at least 1, so it takes
// the first scratch element as possibly unset; it is always written before it is read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <pocketfft_hdronly.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <string>

#include "core/failure.hpp"

namespace orvek::dsp {
namespace {

using pocketfft::detail::cmplx;

static_assert(sizeof(cmplx<float>) == sizeof(std::complex<float>) &&
                  alignof(cmplx<float>) == alignof(std::complex<float>),
              "pocketfft's complex type must share the layout of std::complex<float>");

// Runs a call into the library; lets running out of memory through as it is and turns
// anything else it might throw (third-party code) into an InternalFault.
template <typename Body>
void guarded(std::size_t length, Body&& body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        throw InternalFault("FFT of length " + std::to_string(length) + " failed: " + error.what());
    } catch (...) {
        throw InternalFault("FFT of length " + std::to_string(length) + " failed");
    }
}

}  // namespace

struct ComplexFft::Plan {
    explicit Plan(std::size_t length) : fft(length) {}
    pocketfft::detail::pocketfft_c<float> fft;
};

ComplexFft::ComplexFft(std::size_t length) : length_(length) {
    if (length == 0) return;  // pocketfft refuses a zero-length plan; there is nothing to do
    guarded(length, [&] { plan_ = std::make_unique<Plan>(length); });
}

ComplexFft::~ComplexFft() = default;

void ComplexFft::forward(std::span<std::complex<float>> data) const {
    run(data, true);
}
void ComplexFft::inverse(std::span<std::complex<float>> data) const {
    run(data, false);
}

void ComplexFft::run(std::span<std::complex<float>> data, bool forward) const {
    if (data.size() != length_) {
        throw InternalFault("FFT planned for length " + std::to_string(length_) + " given " +
                            std::to_string(data.size()) + " values");
    }
    if (length_ == 0) return;
    // A factor of exactly 1 leaves the result unscaled: pocketfft skips its scaling pass.
    guarded(length_, [&] { plan_->fft.exec(reinterpret_cast<cmplx<float>*>(data.data()), 1.0f, forward); });
}

}  // namespace orvek::dsp

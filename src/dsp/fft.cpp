// The FFT wrapper over pocketfft: the one place that includes the library and the one
// place its exceptions are caught. Its configuration (no plan cache, no threads) is set
// where the build pulls the header in.
#include "dsp/fft.hpp"

#include <exception>
#include <new>
#include <pocketfft_hdronly.hpp>
#include <string>

#include "core/failure.hpp"

namespace orvek::dsp {
namespace {

using pocketfft::detail::cmplx;
using pocketfft::detail::pocketfft_c;

static_assert(sizeof(cmplx<float>) == sizeof(std::complex<float>) &&
                  alignof(cmplx<float>) == alignof(std::complex<float>),
              "pocketfft's complex type must share the layout of std::complex<float>");

void transform(std::span<std::complex<float>> data, bool forward) {
    if (data.empty()) return;  // pocketfft refuses a zero-length plan
    try {
        // Planned afresh on every call: nothing outlives a call. A factor of exactly
        // 1 leaves the result unscaled (pocketfft skips the scaling pass).
        const pocketfft_c<float> plan(data.size());
        plan.exec(reinterpret_cast<cmplx<float>*>(data.data()), 1.0f, forward);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        throw InternalFault(std::string("FFT of length ") + std::to_string(data.size()) +
                            " failed: " + error.what());
    } catch (...) {
        // The library is third-party code: whatever else it might throw stops here.
        throw InternalFault("FFT of length " + std::to_string(data.size()) + " failed");
    }
}

}  // namespace

void fft_forward(std::span<std::complex<float>> data) {
    transform(data, true);
}
void fft_inverse(std::span<std::complex<float>> data) {
    transform(data, false);
}

}  // namespace orvek::dsp

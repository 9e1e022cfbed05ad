// Complex fast Fourier transform of any length on 32-bit values.
//
// A ComplexFft is the plan for one length n; both directions are the plain discrete
// Fourier transforms of length n, computed in place in 32-bit complex arithmetic and
// left unscaled:
//   forward  X[k] = sum_j x[j] e^(-2 pi i jk / n)
//   inverse  x[j] = sum_k X[k] e^(+2 pi i jk / n)    (no division by n)
// Every length works, primes included (long prime lengths go through Bluestein's
// algorithm); a length of 0 makes both directions do nothing. Callers make a plan for
// the call at hand and drop it with the call: nothing outlives a call. A failure inside
// the FFT library (it can only run out of memory) surfaces as std::bad_alloc or
// InternalFault, never as any other exception.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>

namespace orvek::dsp {

class ComplexFft {
public:
    explicit ComplexFft(std::size_t length);
    ~ComplexFft();
    ComplexFft(const ComplexFft&) = delete;
    ComplexFft& operator=(const ComplexFft&) = delete;

    std::size_t length() const noexcept { return length_; }

    // data.size() must equal length(); anything else is an InternalFault.
    void forward(std::span<std::complex<float>> data) const;
    void inverse(std::span<std::complex<float>> data) const;

private:
    struct Plan;
    void run(std::span<std::complex<float>> data, bool forward) const;

    std::size_t length_;
    std::unique_ptr<Plan> plan_;  // empty for length 0
};

}  // namespace orvek::dsp

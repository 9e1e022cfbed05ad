// Complex fast Fourier transform of any length on 32-bit values.
//
// Both directions are the plain discrete Fourier transforms of length n = data.size(),
// computed in place in 32-bit complex arithmetic and left unscaled:
//   forward  X[k] = sum_j x[j] e^(-2 pi i jk / n)
//   inverse  x[j] = sum_k X[k] e^(+2 pi i jk / n)    (no division by n)
// Every length works, primes included (long prime lengths go through Bluestein's
// algorithm). Each call plans its own transform: nothing outlives a call. A length of 0
// returns at once. A failure inside the FFT library (it can only run out of memory)
// surfaces as std::bad_alloc or InternalFault, never as any other exception.
#pragma once

#include <complex>
#include <span>

namespace orvek::dsp {

void fft_forward(std::span<std::complex<float>> data);
void fft_inverse(std::span<std::complex<float>> data);

}  // namespace orvek::dsp

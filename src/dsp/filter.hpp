// Trace filters: dewow, automatic gain control, SEC gain and the bandpass filter.
//
// Each takes the samples of one trace (sample 0 earliest), computes in 32-bit floating
// point exactly as documented below and returns a new trace of the same length. None
// validates its parameters: zero, negative, infinite or NaN values give the numeric
// result the formulas define (NaN, infinity, zeros or the unchanged input), never a
// failure. Only running out of memory can fail a call.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orvek::dsp {

// Instruction-set paths of the window kernels (dewow, AGC). All paths give bit-identical
// results; `best` takes AVX2 where the processor offers it. Tests name a path to check
// that each agrees with the others.
enum class KernelPath { best, baseline, avx2 };

// True when the processor (and the operating system) can run the AVX2 path.
bool cpu_has_avx2() noexcept;

// The window of output j, for half-width h = window_size / 2 (rounded down), is the
// input range [start, end) with start = j - h (0 when j < h) and end = min(n, j + h):
// at most h samples before j, j itself and h - 1 after it, clipped (not mirrored) at
// both ends of the trace; count = end - start. Every window is summed afresh from 0.0f
// in index order.

// output[j] = input[j] - sum / count. An empty window (h = 0) gives NaN.
std::vector<float> apply_dewow(std::span<const float> trace, std::uint64_t window_size,
                               KernelPath path = KernelPath::best);

// output[j] = input[j] / rms with rms = sqrt(sum of input[k] * input[k] / count), raised
// to at least 1e-10f; an empty window's rms (NaN) is taken as 1e-10f.
std::vector<float> apply_agc(std::span<const float> trace, std::uint64_t window_size,
                             KernelPath path = KernelPath::best);

// output[i] = (expf(alpha * t) * t) * input[i] with t = float(i) * (1.0f / sample_rate).
// sample_rate 0 makes t infinite: output[0] is then NaN.
std::vector<float> apply_sec_gain(std::span<const float> trace, float sample_rate, float alpha);

// Forward FFT of (input[j], 0), bin m weighted by a raised-cosine band, inverse FFT,
// output[j] = real part / float(n). Bin m has the folded index k = min(m, n - m) and the
// frequency f = (float(k) / float(n)) * sample_rate. Bins with low_cut <= f <= high_cut
// pass unchanged; elsewhere d = (low_cut - f) / wl below the band (f < low_cut), else
// d = (f - high_cut) / wh, with wl = max(0.1f * low_cut, 1.0f), wh = max(0.1f * high_cut,
// 1.0f), and the weight is (cosf(d * 3.1415927f) + 1) * 0.5f for d < 1, else 0.
std::vector<float> apply_bandpass(std::span<const float> trace, float sample_rate, float low_cut,
                                  float high_cut);

}  // namespace orvek::dsp

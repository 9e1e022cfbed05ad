// Trace filters: dewow and AGC over sliding windows, SEC gain, and the FFT bandpass.
#include "dsp/filter.hpp"

#include <math.h>

#include <algorithm>
#include <complex>
#include <cstring>

#include "dsp/fft.hpp"

namespace orvek::dsp {
namespace {

// ---- window sums -------------------------------------------------------------
//
// A window sum is fixed as sum = 0.0f; sum += term(x[k]) for k = start ... end - 1. The
// kernels below compute many sums at once but never reorder one: each vector lane is
// one output and adds its own terms in index order.

using f32x8 = float __attribute__((vector_size(32)));

// One step of a window sum, sum += term(x[k]), for one output (T = float) or for eight
// neighbouring outputs at once (T = f32x8, one per lane). The term is the sample itself
// or, for AGC, its square, rounded to 32 bits before it is added.
template <bool Squared, typename T>
[[gnu::always_inline]] inline void accumulate(T& sum, const float* sample) {
    T term;
    std::memcpy(&term, sample, sizeof term);
    if constexpr (Squared) term = term * term;
    sum += term;
}

// sums[j] for the interior outputs j in [first, last), whose windows [j - h, j + h) lie
// wholly inside the trace. Lane l of a vector covers output j + l; at step k every lane
// adds the term of its own window's k-th sample, x[j + l - h + k].
template <bool Squared>
[[gnu::always_inline]] inline void interior_sums(const float* x, std::size_t first, std::size_t last,
                                                 std::size_t h, float* sums) {
    const std::size_t width = 2 * h;
    std::size_t j = first;
    // 32 outputs a block: four independent chains of additions keep the adder busy.
    for (; last - j >= 32; j += 32) {
        const float* p = x + (j - h);
        f32x8 a0{}, a1{}, a2{}, a3{};
        for (std::size_t k = 0; k < width; ++k) {
            accumulate<Squared>(a0, p + k);
            accumulate<Squared>(a1, p + k + 8);
            accumulate<Squared>(a2, p + k + 16);
            accumulate<Squared>(a3, p + k + 24);
        }
        std::memcpy(sums + j, &a0, sizeof a0);
        std::memcpy(sums + j + 8, &a1, sizeof a1);
        std::memcpy(sums + j + 16, &a2, sizeof a2);
        std::memcpy(sums + j + 24, &a3, sizeof a3);
    }
    for (; last - j >= 8; j += 8) {
        const float* p = x + (j - h);
        f32x8 a{};
        for (std::size_t k = 0; k < width; ++k) accumulate<Squared>(a, p + k);
        std::memcpy(sums + j, &a, sizeof a);
    }
    for (; j < last; ++j) {
        float sum = 0.0f;
        for (std::size_t k = j - h; k < j + h; ++k) accumulate<Squared>(sum, x + k);
        sums[j] = sum;
    }
}

// Instantiated once per instruction set; the processor picks at run time.
template <bool Squared>
void interior_sums_baseline(const float* x, std::size_t first, std::size_t last, std::size_t h, float* sums) {
    interior_sums<Squared>(x, first, last, h, sums);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVEK_HAVE_AVX2_PATH 1
template <bool Squared>
[[gnu::target("avx2")]] void interior_sums_avx2(const float* x, std::size_t first, std::size_t last,
                                                std::size_t h, float* sums) {
    interior_sums<Squared>(x, first, last, h, sums);
}
#endif

template <bool Squared>
void run_interior_sums(KernelPath path, const float* x, std::size_t first, std::size_t last, std::size_t h,
                       float* sums) {
#ifdef ORVEK_HAVE_AVX2_PATH
    if (path == KernelPath::avx2 || (path == KernelPath::best && cpu_has_avx2())) {
        interior_sums_avx2<Squared>(x, first, last, h, sums);
        return;
    }
#endif
    interior_sums_baseline<Squared>(x, first, last, h, sums);
}

// The start of output j's window and its count of samples.
struct Window {
    std::size_t start;
    std::size_t count;
};
inline Window window_of(std::size_t j, std::size_t n, std::size_t h) {
    const std::size_t start = j >= h ? j - h : 0;
    const std::size_t end = h >= n - j ? n : j + h;  // min(n, j + h) without overflow
    return {start, end - start};
}

// sums[j] = the window sum of every output j of a trace of n samples.
template <bool Squared>
void window_sums(std::span<const float> trace, std::uint64_t window_size, KernelPath path, float* sums) {
    const float* x = trace.data();
    const std::size_t n = trace.size();
    const std::size_t h = window_size / 2;

    // Left edge, j < h: the windows [0, end) only grow, so each one's sum in index order
    // is the previous one's continued: a prefix, bit for bit what a fresh sum would give.
    const std::size_t left_end = std::min<std::size_t>(h, n);
    float prefix = 0.0f;
    std::size_t summed = 0;
    for (std::size_t j = 0; j < left_end; ++j) {
        const std::size_t end = h >= n - j ? n : j + h;
        for (; summed < end; ++summed) accumulate<Squared>(prefix, x + summed);
        sums[j] = prefix;
    }

    // Interior, h <= j and j + h <= n: full windows of 2h samples.
    std::size_t right_begin = left_end;
    if (h < n) {
        const std::size_t last = std::min(n, n - h + 1);
        if (h < last) {
            run_interior_sums<Squared>(path, x, h, last, h, sums);
            right_begin = last;
        }
    }

    // Right edge, j + h > n: windows [j - h, n), each summed afresh.
    for (std::size_t j = right_begin; j < n; ++j) {
        float sum = 0.0f;
        for (std::size_t k = j - h; k < n; ++k) accumulate<Squared>(sum, x + k);
        sums[j] = sum;
    }
}

}  // namespace

bool cpu_has_avx2() noexcept {
#ifdef ORVEK_HAVE_AVX2_PATH
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::vector<float> apply_dewow(std::span<const float> trace, std::uint64_t window_size, KernelPath path) {
    const std::size_t n = trace.size();
    std::vector<float> output(n);
    window_sums<false>(trace, window_size, path, output.data());
    const std::size_t h = window_size / 2;
    for (std::size_t j = 0; j < n; ++j) {
        const float mean = output[j] / static_cast<float>(window_of(j, n, h).count);
        output[j] = trace[j] - mean;
    }
    return output;
}

std::vector<float> apply_agc(std::span<const float> trace, std::uint64_t window_size, KernelPath path) {
    constexpr float rms_floor = 1e-10f;
    const std::size_t n = trace.size();
    std::vector<float> output(n);
    window_sums<true>(trace, window_size, path, output.data());
    const std::size_t h = window_size / 2;
    for (std::size_t j = 0; j < n; ++j) {
        float rms = sqrtf(output[j] / static_cast<float>(window_of(j, n, h).count));
        if (!(rms >= rms_floor)) rms = rms_floor;  // also an empty window's NaN
        output[j] = trace[j] / rms;
    }
    return output;
}

std::vector<float> apply_sec_gain(std::span<const float> trace, float sample_rate, float alpha) {
    const std::size_t n = trace.size();
    std::vector<float> output(n);
    // The interval is a reciprocal taken once; times are multiples of it.
    const float dt = 1.0f / sample_rate;
    for (std::size_t i = 0; i < n; ++i) {
        const float t = static_cast<float>(i) * dt;
        const float gain = expf(alpha * t) * t;
        output[i] = gain * trace[i];
    }
    return output;
}

std::vector<float> apply_bandpass(std::span<const float> trace, float sample_rate, float low_cut,
                                  float high_cut) {
    constexpr float pi = 3.1415927f;
    const std::size_t n = trace.size();
    if (n == 0) return {};
    // One plan serves both directions; it lives for this call only.
    const ComplexFft fft(n);
    std::vector<std::complex<float>> spectrum(n);
    for (std::size_t j = 0; j < n; ++j) spectrum[j] = {trace[j], 0.0f};
    fft.forward(spectrum);

    // Taper widths never fall below 1.0 in the caller's frequency unit. (A NaN cut-off
    // never reaches its width: no bin compares below or inside a NaN band edge.)
    const float low_width = std::max(0.1f * low_cut, 1.0f);
    const float high_width = std::max(0.1f * high_cut, 1.0f);
    const float n_f = static_cast<float>(n);
    // Bins m and n - m share the folded index k and so their weight: k runs to n / 2
    // (for even n the Nyquist bin, which has no partner).
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const float f = (static_cast<float>(k) / n_f) * sample_rate;
        if (low_cut <= f && f <= high_cut) continue;  // inside the band: unchanged
        const float d = f < low_cut ? (low_cut - f) / low_width : (f - high_cut) / high_width;
        const float weight = d < 1.0f ? (cosf(d * pi) + 1.0f) * 0.5f : 0.0f;  // NaN d gives 0
        spectrum[k] *= weight;
        if (k != 0 && k != n - k) spectrum[n - k] *= weight;
    }

    fft.inverse(spectrum);
    std::vector<float> output(n);
    for (std::size_t j = 0; j < n; ++j) output[j] = spectrum[j].real() / n_f;
    return output;
}

}  // namespace orvek::dsp

// Window kernels of dewow and AGC on every instruction-set path against a plain scalar
// model, and the FFT wrapper against a direct DFT.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/failure.hpp"
#include "dsp/fft.hpp"
#include "dsp/filter.hpp"

namespace {

using orvek::dsp::KernelPath;

// The window arithmetic written out once, the obvious way: a fresh sum per output.
std::vector<float> model(const std::vector<float>& x, std::uint64_t window_size, bool agc) {
    const std::size_t n = x.size();
    const std::uint64_t h = window_size / 2;
    std::vector<float> out(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t start = j >= h ? j - h : 0;
        const std::size_t end = j + h < j || j + h > n ? n : j + h;
        float sum = 0.0f;
        for (std::size_t k = start; k < end; ++k) sum += agc ? x[k] * x[k] : x[k];
        const float count = static_cast<float>(end - start);
        if (agc) {
            float rms = std::sqrt(sum / count);
            if (std::isnan(rms) || rms < 1e-10f) rms = 1e-10f;
            out[j] = x[j] / rms;
        } else {
            out[j] = x[j] - sum / count;
        }
    }
    return out;
}

std::vector<float> random_trace(std::size_t n, std::mt19937& rng) {
    std::normal_distribution<float> normal(0.0f, 1000.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = normal(rng);
    return x;
}

// Bit patterns, so that NaNs, signed zeros and every last bit must agree.
std::vector<std::uint32_t> bits(const std::vector<float>& values) {
    std::vector<std::uint32_t> out;
    for (float v : values) out.push_back(std::bit_cast<std::uint32_t>(v));
    return out;
}

std::vector<KernelPath> paths() {
    std::vector<KernelPath> out{KernelPath::best, KernelPath::baseline};
    if (orvek::dsp::cpu_has_avx2()) out.push_back(KernelPath::avx2);
    return out;
}

TEST(WindowKernels, EveryPathMatchesFreshSumsBitForBit) {
    std::mt19937 rng(20240611);
    const std::vector<std::uint64_t> windows = {
        0, 1, 2, 3, 4, 7, 10, 20, 64, 65, 129, std::numeric_limits<std::uint64_t>::max()};
    for (std::size_t n : {0, 1, 2, 3, 7, 8, 31, 32, 33, 63, 64, 65, 100, 257, 1000}) {
        const auto x = random_trace(n, rng);
        std::vector<std::uint64_t> sizes = windows;
        for (std::uint64_t w : {n, n + 1, 2 * n - (n > 0), 2 * n, 2 * n + 1}) sizes.push_back(w);
        for (std::uint64_t w : sizes) {
            const auto dewow = bits(model(x, w, false));
            const auto agc = bits(model(x, w, true));
            for (KernelPath path : paths()) {
                SCOPED_TRACE("n=" + std::to_string(n) + " window=" + std::to_string(w) +
                             " path=" + std::to_string(static_cast<int>(path)));
                EXPECT_EQ(bits(orvek::dsp::apply_dewow(x, w, path)), dewow);
                EXPECT_EQ(bits(orvek::dsp::apply_agc(x, w, path)), agc);
            }
        }
    }
}

TEST(WindowKernels, SpecialValuesStayInTheirOwnWindows) {
    // NaN, infinities, signed zeros, subnormals and squares that overflow, spread so that
    // every vector lane and block boundary sees some of them.
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              -0.0f,
                              0.0f,
                              1e-40f,
                              -3e38f,
                              2e20f};
    std::vector<float> x(300, -0.0f);
    for (std::size_t i = 0; i < x.size(); i += 37) x[i] = specials[(i / 37) % 8];
    for (std::size_t i = 150; i < 200; ++i) x[i] = static_cast<float>(i) * 0.1f;
    for (std::uint64_t w : {2, 10, 64, 200}) {
        for (KernelPath path : paths()) {
            SCOPED_TRACE("window=" + std::to_string(w));
            EXPECT_EQ(bits(orvek::dsp::apply_dewow(x, w, path)), bits(model(x, w, false)));
            EXPECT_EQ(bits(orvek::dsp::apply_agc(x, w, path)), bits(model(x, w, true)));
        }
    }
}

// Direct DFT in double: the transform the wrapper must compute, up to float rounding.
std::vector<std::complex<double>> dft(const std::vector<std::complex<float>>& x, bool forward) {
    const std::size_t n = x.size();
    const double sign = forward ? -1.0 : 1.0;
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const double angle =
                sign * 2.0 * M_PI * static_cast<double>((j * k) % n) / static_cast<double>(n);
            sum += std::complex<double>(x[j]) * std::polar(1.0, angle);
        }
        out[k] = sum;
    }
    return out;
}

TEST(Fft, MatchesDirectTransformInBothDirectionsUnscaled) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    // Powers of two, mixed radices, small primes and long primes (Bluestein's algorithm).
    for (std::size_t n : {1, 2, 3, 5, 8, 12, 97, 128, 360, 1009, 2003, 4096}) {
        std::vector<std::complex<float>> x(n);
        for (auto& v : x) v = {uniform(rng), uniform(rng)};
        for (bool forward : {true, false}) {
            SCOPED_TRACE("n=" + std::to_string(n) + (forward ? " forward" : " inverse"));
            const auto expected = dft(x, forward);
            auto y = x;
            const orvek::dsp::ComplexFft fft(n);
            forward ? fft.forward(y) : fft.inverse(y);
            double worst = 0.0;
            for (std::size_t k = 0; k < n; ++k)
                worst = std::max(worst, std::abs(std::complex<double>(y[k]) - expected[k]));
            // Entries are of size about sqrt(n); float rounding grows like log n.
            EXPECT_LT(worst, 1e-5 * std::sqrt(static_cast<double>(n)) * std::log2(2.0 * n));
        }
    }
}

TEST(Fft, LengthZeroIsANoOp) {
    std::vector<std::complex<float>> empty;
    const orvek::dsp::ComplexFft fft(0);
    fft.forward(empty);
    fft.inverse(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(Fft, AWrongLengthIsAnInternalFault) {
    std::vector<std::complex<float>> values(5);
    const orvek::dsp::ComplexFft fft(4);
    EXPECT_THROW(fft.forward(values), orvek::InternalFault);
    EXPECT_THROW(orvek::dsp::ComplexFft(0).inverse(values), orvek::InternalFault);
}

TEST(Fft, LargePrimeRoundTrip) {
    // 100003 is prime: a single-factor plan would cost n^2, Bluestein keeps it n log n.
    const std::size_t n = 100003;
    std::vector<std::complex<float>> x(n);
    for (std::size_t j = 0; j < n; ++j) x[j] = {std::sin(0.01f * j), 0.0f};
    auto y = x;
    const orvek::dsp::ComplexFft fft(n);
    fft.forward(y);
    fft.inverse(y);
    double worst = 0.0;
    for (std::size_t j = 0; j < n; ++j)
        worst =
            std::max(worst, std::abs(std::complex<double>(y[j]) / double(n) - std::complex<double>(x[j])));
    EXPECT_LT(worst, 1e-5);
}

}  // namespace

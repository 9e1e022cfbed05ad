// Spiking and gapped deconvolution: autocorrelation, dense Toeplitz solve, filtering.
//
// Every sum keeps the order its definition gives (increasing lag or coefficient index);
// where SIMD computes several outputs at once (several lags, several samples), each
// output keeps its own accumulator and its own order, so the results do not depend on
// the instruction set.
#include "dsp/deconv.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/failure.hpp"

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ORVEK_SIMD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVEK_SIMD_CLONES
#endif

// The 32-byte vectors below live only inside functions (no call passes one), so the
// warning that their calling convention differs between instruction sets is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace orvek::dsp {
namespace {

// Four independent 64-bit lanes; without AVX the compiler splits them into SSE2 pairs.
typedef double f64x4 __attribute__((vector_size(32)));

inline constexpr double kTiny = 1e-30;

// Resizes `buffer` to hold `count` elements from a 64-byte boundary on and returns the
// first of them: the solvers' 32-byte vectors then never straddle a cache line, which
// would cost them a split load or store each.
double* aligned_elements(std::vector<double>& buffer, std::size_t count) {
    constexpr std::size_t kSpare = 64 / sizeof(double);
    buffer.resize(count + kSpare);
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    return buffer.data() + (-address % 64) / sizeof(double);
}

// Always inlined into the instruction-set clone that uses them, so the 32-byte vectors
// never cross a call (whose convention would depend on the instruction set).
[[gnu::always_inline]] inline f64x4 load4(const double* p) {
    f64x4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store4(double* p, f64x4 v) {
    std::memcpy(p, &v, sizeof v);
}

// One lag of the autocorrelation from product index `from` on, continuing `sum`.
inline double lag_tail(std::span<const double> values, std::size_t lag, std::size_t from, double sum) {
    const std::size_t n = values.size();
    for (std::size_t j = from; j + lag < n; ++j) sum += values[j] * values[j + lag];
    return sum;
}

// r[k] for k < r.size() (r.size() <= values.size()). The lanes of the vector loops are
// consecutive lags: they share the product index j, and each lag finishes its own last
// products (which the later lags lack) in scalar code, still in increasing j.
ORVEK_SIMD_CLONES
void auto_correlate_into(std::span<const double> values, std::span<double> r) {
    const std::size_t n = values.size();
    const double* v = values.data();
    std::size_t k = 0;
    for (; k + 16 <= r.size(); k += 16) {
        f64x4 s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
        const std::size_t shared = n - (k + 15);  // products that all 16 lags have
        for (std::size_t j = 0; j < shared; ++j) {
            const f64x4 vj = {v[j], v[j], v[j], v[j]};
            s0 += vj * load4(v + j + k);
            s1 += vj * load4(v + j + k + 4);
            s2 += vj * load4(v + j + k + 8);
            s3 += vj * load4(v + j + k + 12);
        }
        double sums[16];
        store4(sums, s0);
        store4(sums + 4, s1);
        store4(sums + 8, s2);
        store4(sums + 12, s3);
        for (std::size_t q = 0; q < 16; ++q)
            r[k + q] = lag_tail(values, k + q, shared, sums[q]) / static_cast<double>(n - (k + q));
    }
    for (; k + 4 <= r.size(); k += 4) {
        f64x4 s = {0, 0, 0, 0};
        const std::size_t shared = n - (k + 3);
        for (std::size_t j = 0; j < shared; ++j) {
            const f64x4 vj = {v[j], v[j], v[j], v[j]};
            s += vj * load4(v + j + k);
        }
        double sums[4];
        store4(sums, s);
        for (std::size_t q = 0; q < 4; ++q)
            r[k + q] = lag_tail(values, k + q, shared, sums[q]) / static_cast<double>(n - (k + q));
    }
    for (; k < r.size(); ++k) r[k] = lag_tail(values, k, 0, 0.0) / static_cast<double>(n - k);
}

// Scratch of the solver, kept across the traces of one call.
struct SolverScratch {
    std::vector<double> augmented;    // m + 1 columns of m rows and padding, column by column
    std::vector<double> multipliers;  // f of each row below the pivot
    std::vector<double> x;
};

// Gaussian elimination with partial pivoting on the augmented Toeplitz system; writes
// the m = rhs.size() unknowns into scratch.x. False when the system is (near) singular.
// The matrix is stored column by column, so that the pivot search, the multipliers and
// each column's update run over contiguous rows; every element still goes through
// exactly A[k][l] − A[c][l] × f with f = A[k][c] / A[c][c]. Columns are padded to whole
// vectors with rows that start as zeros, so the updates run in whole aligned groups of
// four rows: what they compute in the padding is never read.
ORVEK_SIMD_CLONES
bool solve_toeplitz_into(std::span<const double> r, std::span<const double> rhs, SolverScratch& scratch) {
    const std::size_t m = rhs.size();
    scratch.x.assign(m, 0.0);
    if (m == 0) return true;
    if (std::fabs(r[0]) < kTiny) return false;

    const std::size_t last_lag = r.size() - 1;
    const std::size_t stride = (m + 3) / 4 * 4;
    double* a = aligned_elements(scratch.augmented, stride * (m + 1));  // A[k][l] is a[l * stride + k]
    double* f = aligned_elements(scratch.multipliers, stride);
    std::fill_n(a, stride * (m + 1), 0.0);
    std::fill_n(f, stride, 0.0);
    for (std::size_t l = 0; l < m; ++l) {
        double* column = a + l * stride;
        if (last_lag + 1 >= m) {  // every lag is at hand: r[l], …, r[1] above the diagonal, r[0], … below
            std::reverse_copy(r.begin() + 1, r.begin() + l + 1, column);
            std::copy(r.begin(), r.begin() + (m - l), column + l);
        } else {
            for (std::size_t k = 0; k < m; ++k) column[k] = r[std::min(k > l ? k - l : l - k, last_lag)];
        }
    }
    std::copy(rhs.begin(), rhs.end(), a + m * stride);

    for (std::size_t c = 0; c < m; ++c) {
        const double* column = a + c * stride;
        std::size_t pivot = c;
        double largest = std::fabs(column[c]);
        for (std::size_t p = c + 1; p < m; ++p) {
            const double magnitude = std::fabs(column[p]);
            if (magnitude > largest) {  // strictly: a tie keeps the upper row
                largest = magnitude;
                pivot = p;
            }
        }
        if (largest < kTiny) return false;
        if (pivot != c)
            for (std::size_t l = c; l <= m; ++l) std::swap(a[l * stride + c], a[l * stride + pivot]);
        for (std::size_t k = c + 1; k < m; ++k) f[k] = column[k] / column[c];
        // column c below the pivot is never read again, so it is left as it is
        const std::size_t group = std::min(m, (c + 4) / 4 * 4);  // the first group of rows after c's
        for (std::size_t l = c + 1; l <= m; ++l) {
            double* target = a + l * stride;
            const double top = target[c];
            for (std::size_t k = c + 1; k < group; ++k) target[k] = target[k] - top * f[k];
            const f64x4 top4 = {top, top, top, top};
            for (std::size_t k = group; k < m; k += 4)
                store4(target + k, load4(target + k) - top4 * load4(f + k));
        }
    }

    double* x = scratch.x.data();
    for (std::size_t i = m; i-- > 0;) {
        double s = a[m * stride + i];
        for (std::size_t l = i + 1; l < m; ++l) s = s - a[l * stride + i] * x[l];
        x[i] = s / a[i * stride + i];
    }
    return true;
}

// Four independent systems side by side, lane q of every group of four belonging to
// system q: each lane goes through exactly the operations of solve_toeplitz_into on its
// own system, with its own pivots and row swaps, so its solution has the same bits. All
// four systems have m unknowns and m lags. Values are kept as plain doubles, four per
// element (lane q of element e at [4e + q]), and loaded as unaligned vectors.
struct SolverScratch4 {
    std::vector<double> r, rhs;     // m elements each: the systems
    std::vector<double> augmented;  // m + 1 columns of m rows, column by column
    std::vector<double> multipliers;
    std::vector<double> x;  // the solutions
};

// Returns bit q set when system q has a solution.
ORVEK_SIMD_CLONES
unsigned solve_toeplitz_x4(std::size_t m, SolverScratch4& s) {
    unsigned solved = 0;
    for (unsigned q = 0; q < 4; ++q)
        if (!(std::fabs(s.r[q]) < kTiny)) solved |= 1u << q;
    double* a = aligned_elements(s.augmented, 4 * m * (m + 1));  // A[k][l] of lane q is a[4 (l m + k) + q]
    double* f = aligned_elements(s.multipliers, 4 * m);
    s.x.assign(4 * m, 0.0);
    auto at = [&](std::size_t k, std::size_t l) { return a + 4 * (l * m + k); };
    for (std::size_t l = 0; l < m; ++l) {
        for (std::size_t k = 0; k < l; ++k) store4(at(k, l), load4(&s.r[4 * (l - k)]));
        for (std::size_t k = l; k < m; ++k) store4(at(k, l), load4(&s.r[4 * (k - l)]));
    }
    std::copy(s.rhs.begin(), s.rhs.end(), at(0, m));

    for (std::size_t c = 0; c < m; ++c) {
        for (unsigned q = 0; q < 4; ++q) {
            std::size_t pivot = c;
            double largest = std::fabs(at(c, c)[q]);
            for (std::size_t p = c + 1; p < m; ++p) {
                const double magnitude = std::fabs(at(p, c)[q]);
                if (magnitude > largest) {  // strictly: a tie keeps the upper row
                    largest = magnitude;
                    pivot = p;
                }
            }
            if (largest < kTiny) solved &= ~(1u << q);  // this lane's later values are never used
            if (pivot != c)
                for (std::size_t l = c; l <= m; ++l) std::swap(at(c, l)[q], at(pivot, l)[q]);
        }
        const f64x4 pivot_value = load4(at(c, c));
        for (std::size_t k = c + 1; k < m; ++k) store4(f + 4 * k, load4(at(k, c)) / pivot_value);
        for (std::size_t l = c + 1; l <= m; ++l) {
            const f64x4 top = load4(at(c, l));
            for (std::size_t k = c + 1; k < m; ++k)
                store4(at(k, l), load4(at(k, l)) - top * load4(f + 4 * k));
        }
    }

    double* x = s.x.data();
    for (std::size_t i = m; i-- > 0;) {
        f64x4 sum = load4(at(i, m));
        for (std::size_t l = i + 1; l < m; ++l) sum = sum - load4(at(i, l)) * load4(x + 4 * l);
        store4(x + 4 * i, sum / load4(at(i, i)));
    }
    return solved;
}

// out[t] = x[t] − Σ c[q] × x[t − shift − q] over the q = 0 … c.size() − 1 with
// t ≥ shift + q, each sum starting from 0 and running in increasing q. The vector loop
// covers the samples that have every term: 16 samples at a time, one lane each.
ORVEK_SIMD_CLONES
void subtract_prediction(std::span<const double> trace, std::span<const double> c, std::size_t shift,
                         std::span<double> out) {
    const std::size_t n = trace.size();
    const std::size_t terms = c.size();
    const double* x = trace.data();
    auto scalar = [&](std::size_t t) {
        double sum = 0.0;
        for (std::size_t q = 0; q < terms && shift + q <= t; ++q) sum += c[q] * x[t - shift - q];
        out[t] = x[t] - sum;
    };
    if (shift >= n || terms == 0) {
        for (std::size_t t = 0; t < n; ++t) scalar(t);
        return;
    }
    const std::size_t full = std::min(n, shift + terms - 1);  // first sample with every term
    std::size_t t = 0;
    for (; t < full; ++t) scalar(t);
    for (; t + 16 <= n; t += 16) {
        f64x4 s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
        const double* base = x + t - shift;
        for (std::size_t q = 0; q < terms; ++q) {
            const f64x4 cq = {c[q], c[q], c[q], c[q]};
            const double* p = base - q;
            s0 += cq * load4(p);
            s1 += cq * load4(p + 4);
            s2 += cq * load4(p + 8);
            s3 += cq * load4(p + 12);
        }
        store4(&out[t], load4(x + t) - s0);
        store4(&out[t + 4], load4(x + t + 4) - s1);
        store4(&out[t + 8], load4(x + t + 8) - s2);
        store4(&out[t + 12], load4(x + t + 12) - s3);
    }
    for (; t < n; ++t) scalar(t);
}

[[noreturn]] void throw_empty_autocorrelation() {
    throw InternalFault("index out of bounds: the len is 0 but the index is 0");
}

[[noreturn]] void throw_range(std::size_t end, std::size_t length) {
    throw InternalFault("range end index " + std::to_string(end) + " out of range for slice of length " +
                        std::to_string(length));
}

// The faults that end a call before any output exists, in the order the traces would
// meet them: a trace beyond the end of `data`, or an empty autocorrelation at trace 0.
void check_traces(std::size_t data_size, std::size_t n_traces, std::size_t n_samples,
                  std::size_t operator_length) {
    if (n_traces == 0) return;
    const std::size_t fitting = n_samples == 0 ? n_traces : std::min(n_traces, data_size / n_samples);
    if (fitting == 0) throw_range(n_samples, data_size);
    if (std::min(n_samples, operator_length) == 0) throw_empty_autocorrelation();
    // fitting ≥ 1 traces fit, so (fitting + 1) × n_samples ≤ 2 × data_size: no wrap-around
    if (fitting < n_traces) throw_range((fitting + 1) * n_samples, data_size);
}

}  // namespace

std::vector<double> auto_correlate(std::span<const double> values, std::size_t max_lag) {
    std::vector<double> r(std::min(values.size(), max_lag));
    auto_correlate_into(values, r);
    return r;
}

std::optional<std::vector<double>> solve_toeplitz(std::span<const double> r, std::span<const double> rhs) {
    if (r.empty() && !rhs.empty()) throw_empty_autocorrelation();
    SolverScratch scratch;
    if (!solve_toeplitz_into(r, rhs, scratch)) return std::nullopt;
    return std::move(scratch.x);
}

namespace {

// One trace's system: its autocorrelation with the zero lag pre-whitened (which scales
// the matrix diagonal only) into r, and the right-hand side into rhs. Spiking (gap 0 or
// 1): the whitened zero lag alone; gapped: the unwhitened lags from `gap` on, those at
// or beyond L counting as zero since they were not computed. False for a trace without
// energy (|r[0]| < 1e-30), which has no system.
bool design_system(std::span<const double> x, std::size_t gap, double pre_whitening, std::span<double> r,
                   std::span<double> rhs) {
    const std::size_t length = r.size();
    auto_correlate_into(x, r);
    if (std::fabs(r[0]) < kTiny) return false;
    const double whitened = r[0] * (1.0 + pre_whitening);
    for (std::size_t d = 0; d < length; ++d) {
        if (gap <= 1)
            rhs[d] = d == 0 ? whitened : 0.0;
        else
            rhs[d] = gap < length && d < length - gap ? r[gap + d] : 0.0;
    }
    r[0] = whitened;
    return true;
}

// One trace's output. Without energy: zeros when spiking, the trace itself when gapped;
// without a solution: the trace itself; otherwise the trace less its prediction. The
// spiking prediction-error filter is 1, −a[1], −a[2], …: a[0] plays no part.
void filter_trace(std::span<const double> x, bool has_energy, const double* solution, std::size_t length,
                  std::size_t gap, std::span<double> out) {
    if (!has_energy && gap <= 1) {
        std::fill(out.begin(), out.end(), 0.0);
        return;
    }
    if (!has_energy || solution == nullptr) {
        std::copy(x.begin(), x.end(), out.begin());
        return;
    }
    if (gap <= 1)
        subtract_prediction(x, std::span<const double>(solution + 1, length - 1), 1, out);
    else
        subtract_prediction(x, std::span<const double>(solution, length), gap, out);
}

// Operators up to this length are solved four traces at a time; longer ones one by one,
// so the solver never holds more than one L × (L + 1) system of a long operator.
inline constexpr std::size_t kBatchedLength = 64;

// Each output trace is computed into one small buffer and handed to the sink from
// there: the whole output never has to exist in one piece.
void deconvolve(std::span<const double> data, std::size_t n_traces, std::size_t n_samples,
                std::size_t operator_length, std::size_t gap, double pre_whitening, const TraceSink& sink) {
    check_traces(data.size(), n_traces, n_samples, operator_length);
    const std::size_t length = std::min(n_samples, operator_length);
    auto trace = [&](std::size_t i) { return data.subspan(i * n_samples, n_samples); };
    std::vector<double> out(n_samples);
    std::vector<double> r(length), rhs(length);

    if (length > kBatchedLength) {
        SolverScratch scratch;
        for (std::size_t i = 0; i < n_traces; ++i) {
            const bool has_energy = design_system(trace(i), gap, pre_whitening, r, rhs);
            const bool solved = has_energy && solve_toeplitz_into(r, rhs, scratch);
            filter_trace(trace(i), has_energy, solved ? scratch.x.data() : nullptr, length, gap, out);
            sink(out);
        }
        return;
    }

    SolverScratch4 systems;
    systems.r.resize(4 * length);
    systems.rhs.resize(4 * length);
    std::vector<double> solution(length);
    for (std::size_t first = 0; first < n_traces; first += 4) {
        const std::size_t lanes = std::min<std::size_t>(4, n_traces - first);
        unsigned has_energy = 0;
        for (std::size_t q = 0; q < 4; ++q) {
            if (q < lanes && design_system(trace(first + q), gap, pre_whitening, r, rhs)) {
                has_energy |= 1u << q;
            } else {  // a lane without a system of its own solves a harmless one: r = 1, 0, …
                std::fill(r.begin(), r.end(), 0.0);
                std::fill(rhs.begin(), rhs.end(), 0.0);
                r[0] = 1.0;
            }
            for (std::size_t d = 0; d < length; ++d) {
                systems.r[4 * d + q] = r[d];
                systems.rhs[4 * d + q] = rhs[d];
            }
        }
        const unsigned solved = solve_toeplitz_x4(length, systems);
        for (std::size_t q = 0; q < lanes; ++q) {
            for (std::size_t k = 0; k < length; ++k) solution[k] = systems.x[4 * k + q];
            filter_trace(trace(first + q), has_energy >> q & 1, solved >> q & 1 ? solution.data() : nullptr,
                         length, gap, out);
            sink(out);
        }
    }
}

// The output of `run` in one vector, trace after trace.
template <class Run>
std::vector<double> collected(std::size_t n_traces, std::size_t n_samples, Run&& run) {
    std::vector<double> output;
    run([&](std::span<const double> trace) {
        if (output.empty()) output.reserve(n_traces * n_samples);  // every trace fits in `data`
        output.insert(output.end(), trace.begin(), trace.end());
    });
    return output;
}

}  // namespace

void spike_deconvolution(std::span<const double> data, std::size_t n_traces, std::size_t n_samples,
                         std::size_t operator_length, double pre_whitening, const TraceSink& sink) {
    deconvolve(data, n_traces, n_samples, operator_length, 1, pre_whitening, sink);
}

void gapped_deconvolution(std::span<const double> data, std::size_t n_traces, std::size_t n_samples,
                          std::size_t operator_length, std::size_t gap, double pre_whitening,
                          const TraceSink& sink) {
    deconvolve(data, n_traces, n_samples, operator_length, gap, pre_whitening, sink);
}

std::vector<double> spike_deconvolution(std::span<const double> data, std::size_t n_traces,
                                        std::size_t n_samples, std::size_t operator_length,
                                        double pre_whitening) {
    return collected(n_traces, n_samples, [&](const TraceSink& sink) {
        deconvolve(data, n_traces, n_samples, operator_length, 1, pre_whitening, sink);
    });
}

std::vector<double> gapped_deconvolution(std::span<const double> data, std::size_t n_traces,
                                         std::size_t n_samples, std::size_t operator_length, std::size_t gap,
                                         double pre_whitening) {
    return collected(n_traces, n_samples, [&](const TraceSink& sink) {
        deconvolve(data, n_traces, n_samples, operator_length, gap, pre_whitening, sink);
    });
}

}  // namespace orvek::dsp

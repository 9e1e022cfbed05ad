// Kirchhoff migration: a sample-major copy of the profile, travel-time tables per output
// sample and trace offset, and sums held in vector registers over blocks of output traces.
//
// The travel time, and with it the sample index and the interpolation weights, depends
// only on the offset d = |j − k| and the output sample l, so it is computed once per
// (l, d) with exactly the operations of the definition and reused: the values are the
// same bits as when recomputed for every (k, l, j).
//
// The profile is first copied sample-major: row i of the copy holds sample i of every
// trace side by side, between zero columns. At output sample l, offset d reads rows i0
// and i0 + 1 at column k ± d for every output trace k alike, so neighbouring output
// traces read neighbouring columns: two plain vector loads serve a whole vector of them.
// Each output sum stays in its vector lane while its window passes in increasing j, as
// the definition orders the contributions; SIMD only handles several independent output
// traces at once. A lane whose j lies outside the profile reads the zero columns and
// adds +0.0, which leaves its sum as it was (a sum that starts at +0.0 never becomes
// −0.0, and x + 0.0 is x for every other x).
#include "dsp/migration.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "core/checked.hpp"
#include "core/failure.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVEK_MIGRATION_X86 1
#endif

namespace orvek::dsp {
namespace {

// What offset d adds at one output sample l, to every output trace alike.
struct Contribution {
    double next;         // f, the weight of D[j][i0 + 1]
    double here;         // 1 − f, the weight of D[j][i0]
    std::size_t row;     // where row i0 of the sample-major copy starts
    std::size_t offset;  // d
};

// Output traces are migrated in blocks of up to `lanes × vectors` neighbours; the last
// block takes the fewest vectors (1, 2, 4 or 8) that hold the traces left.
struct Blocking {
    std::size_t lanes, vectors;
    std::size_t width() const { return lanes * vectors; }
    std::size_t vectors_at(std::size_t k0, std::size_t n_traces) const {
        const std::size_t needed = (n_traces - k0 + lanes - 1) / lanes;
        std::size_t count = 1;
        while (count < needed && count < vectors) count *= 2;
        return count;
    }
};

struct Plan {
    std::size_t n_traces = 0, n_samples = 0;
    std::size_t max_offset = 0;  // the aperture, clipped to the profile
    // The sample-major copy: D[j][i] at samples[i × row_length + left + j]. The columns
    // before `left` and after the last trace hold zeros, as many as a block can reach.
    std::size_t left = 0, row_length = 0;
    std::vector<double> samples;
    // The offsets that contribute at output sample l, in increasing d:
    // contributions[first[l] … first[l + 1]).
    std::vector<Contribution> contributions;
    std::vector<std::size_t> first;
};

std::size_t product_or_bad_alloc(std::size_t a, std::size_t b) {
    const auto product = checked_mul(a, b);
    if (!product || *product > std::vector<double>().max_size()) throw std::bad_alloc();
    return static_cast<std::size_t>(*product);
}

Plan make_plan(const ProfileView& input, const MigrationParameters& p, Blocking blocking) {
    Plan plan;
    const std::size_t n = input.n_traces, m = input.n_samples;
    plan.n_traces = n;
    plan.n_samples = m;
    plan.max_offset = std::min<std::uint64_t>(p.aperture_traces, n - 1);
    const std::size_t a = plan.max_offset;

    // The columns that the blocks reach: k0 − d … k0 + d + width − 1 for d up to the
    // reach of the block on either side.
    plan.left = std::min(a, blocking.width() - 1);
    std::size_t right = n;
    for (std::size_t k0 = 0; k0 < n; k0 += blocking.width())
        right = std::max(right, k0 + blocking.lanes * blocking.vectors_at(k0, n) + std::min(a, n - 1 - k0));
    plan.row_length = (plan.left + right + 7) / 8 * 8;  // rows start 64 bytes apart
    plan.samples.assign(product_or_bad_alloc(m, plan.row_length), 0.0);
    constexpr std::size_t kTile = 16;  // traces and samples copied together
    for (std::size_t j0 = 0; j0 < n; j0 += kTile)
        for (std::size_t i0 = 0; i0 < m; i0 += kTile)
            for (std::size_t j = j0; j < std::min(n, j0 + kTile); ++j) {
                const unsigned char* trace = input.data + static_cast<std::ptrdiff_t>(j) * input.trace_stride;
                double* column = plan.samples.data() + plan.left + j;
                for (std::size_t i = i0; i < std::min(m, i0 + kTile); ++i)
                    std::memcpy(column + i * plan.row_length, trace + static_cast<std::ptrdiff_t>(i) * input.sample_stride,
                                sizeof(double));
            }

    const double v = p.velocity_m_ns * 1e9;
    const double dt = p.sample_interval_ns * 1e-9;
    const double limit = static_cast<double>(m - 1);
    std::vector<double> h(a + 1);
    for (std::size_t d = 0; d <= a; ++d) h[d] = 2.0 * (static_cast<double>(d) * p.trace_spacing_m) / v;
    plan.first.resize(m + 1);
    for (std::size_t l = 0; l < m; ++l) {
        plan.first[l] = plan.contributions.size();
        const double t0 = static_cast<double>(l) * dt;
        if (t0 <= 0.0) continue;
        for (std::size_t d = 0; d <= a; ++d) {
            const double tau = std::sqrt(h[d] * h[d] + t0 * t0) / dt;
            if (!(tau >= 0.0 && tau < limit)) continue;  // also drops a τ that is not a number
            const auto i0 = static_cast<std::size_t>(tau);
            const double f = tau - static_cast<double>(i0);
            plan.contributions.push_back({f, 1.0 - f, i0 * plan.row_length, d});
        }
    }
    plan.first[m] = plan.contributions.size();
    return plan;
}

// Adds one offset's contribution, read at `column` of rows i0 and i0 + 1, to the sums.
template <class V, std::size_t kVectors>
[[gnu::always_inline]] inline void accumulate(V (&sums)[kVectors], const Contribution& c, const double* column,
                                              std::size_t row_length) {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(double);
    const double* here = column + c.row;
    const double* next = here + row_length;
    for (std::size_t r = 0; r < kVectors; ++r) {
        V after, before;
        std::memcpy(&after, next + r * kLanes, sizeof after);
        std::memcpy(&before, here + r * kLanes, sizeof before);
        sums[r] = sums[r] + (c.next * after + c.here * before);
    }
}

// The divisors of output traces k0 … k0 + width − 1 at one sample, whose contributions
// are c[0 … total), offset 0 first when `zero`: for trace k, the offsets 1 … min(A, k)
// behind and 1 … min(A, n − 1 − k) ahead that contribute, plus offset 0, at least 1.
void count_windows(const Contribution* c, std::size_t total, std::size_t zero, std::size_t k0,
                   std::size_t width, std::size_t n, std::size_t a, double* divisors) {
    std::size_t behind[64], end = zero;
    for (std::size_t q = 0; q < width; ++q) {
        const std::size_t k = k0 + q, reach = std::min(a, k);
        while (end < total && c[end].offset <= reach) ++end;
        behind[q] = end - zero;
    }
    end = zero;
    for (std::size_t q = width; q-- > 0;) {
        const std::size_t k = k0 + q, reach = k < n ? std::min(a, n - 1 - k) : 0;
        while (end < total && c[end].offset <= reach) ++end;
        const std::size_t count = zero + behind[q] + (end - zero);
        divisors[q] = count > 1 ? static_cast<double>(count) : 1.0;
    }
}

inline constexpr std::size_t kTileSamples = 8;  // output samples written to the output together

// Output traces k0 … k0 + kVectors × lanes − 1 (those below n_traces), every sample.
template <class V, std::size_t kVectors>
[[gnu::always_inline]] inline void migrate_block(const Plan& p, std::size_t k0, double* output) {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(double);
    constexpr std::size_t kWidth = kVectors * kLanes;
    static_assert(kWidth <= 64);
    const std::size_t n = p.n_traces, m = p.n_samples, a = p.max_offset;
    // the farthest offsets whose trace j lies in the profile for some lane of the block
    const std::size_t reach_behind = std::min(a, k0 + kWidth - 1);
    const std::size_t reach_ahead = std::min(a, n - 1 - k0);
    // every trace of the block has its whole window of 2A + 1 traces in the profile
    const bool whole_windows = k0 >= a && k0 + kWidth - 1 + a <= n - 1;
    const double* const origin = p.samples.data() + p.left + k0;  // trace k0 in row 0
    const std::size_t traces = std::min(kWidth, n - k0);

    alignas(64) double tile[kTileSamples][kWidth];
    alignas(64) double divisors[kWidth];
    for (std::size_t l0 = 0; l0 < m; l0 += kTileSamples) {
        const std::size_t samples = std::min(kTileSamples, m - l0);
        for (std::size_t t = 0; t < samples; ++t) {
            const std::size_t l = l0 + t;
            const Contribution* c = p.contributions.data() + p.first[l];
            const std::size_t total = p.first[l + 1] - p.first[l];
            const std::size_t zero = total > 0 && c[0].offset == 0 ? 1 : 0;
            std::size_t behind = total, ahead = total;
            while (behind > zero && c[behind - 1].offset > reach_behind) --behind;
            while (ahead > zero && c[ahead - 1].offset > reach_ahead) --ahead;

            V sums[kVectors] = {};
            for (std::size_t e = behind; e-- > zero;) accumulate(sums, c[e], origin - c[e].offset, p.row_length);
            if (zero) accumulate(sums, c[0], origin, p.row_length);
            for (std::size_t e = zero; e < ahead; ++e) accumulate(sums, c[e], origin + c[e].offset, p.row_length);

            if (whole_windows) {
                const std::size_t count = zero + 2 * (total - zero);
                const double divisor = count > 1 ? static_cast<double>(count) : 1.0;
                for (std::size_t r = 0; r < kVectors; ++r) {
                    const V result = sums[r] / divisor;
                    std::memcpy(&tile[t][r * kLanes], &result, sizeof result);
                }
            } else {
                count_windows(c, total, zero, k0, kWidth, n, a, divisors);
                for (std::size_t r = 0; r < kVectors; ++r) {
                    V divisor;
                    std::memcpy(&divisor, &divisors[r * kLanes], sizeof divisor);
                    const V result = sums[r] / divisor;
                    std::memcpy(&tile[t][r * kLanes], &result, sizeof result);
                }
            }
        }
        for (std::size_t q = 0; q < traces; ++q) {
            double* row = output + (k0 + q) * m + l0;
            for (std::size_t t = 0; t < samples; ++t) row[t] = tile[t][q];
        }
    }
}

template <class V, std::size_t kVectors>
[[gnu::always_inline]] inline void migrate_blocks(const Plan& p, double* output) {
    const Blocking blocking{sizeof(V) / sizeof(double), kVectors};
    for (std::size_t k0 = 0; k0 < p.n_traces; k0 += blocking.width()) {
        switch (blocking.vectors_at(k0, p.n_traces)) {
            case 1: migrate_block<V, 1>(p, k0, output); break;
            case 2: migrate_block<V, 2>(p, k0, output); break;
            case 4: migrate_block<V, 4>(p, k0, output); break;
            default: migrate_block<V, kVectors>(p, k0, output); break;
        }
    }
}

// Eight vectors of sums: as many as the registers hold beside the operands.
inline constexpr std::size_t kVectors = 8;

typedef double Pair __attribute__((vector_size(16)));
void migrate_portable(const Plan& p, double* output) { migrate_blocks<Pair, kVectors>(p, output); }

#ifdef ORVEK_MIGRATION_X86
typedef double Quad __attribute__((vector_size(32)));
__attribute__((target("avx2"))) void migrate_avx2(const Plan& p, double* output) {
    migrate_blocks<Quad, kVectors>(p, output);
}

typedef double Octet __attribute__((vector_size(64)));
__attribute__((target("avx512f"))) void migrate_avx512(const Plan& p, double* output) {
    migrate_blocks<Octet, kVectors>(p, output);
}
#endif

}  // namespace

bool migration_kernel_available(MigrationKernel kernel) {
    switch (kernel) {
        case MigrationKernel::automatic:
        case MigrationKernel::portable:
            return true;
#ifdef ORVEK_MIGRATION_X86
        case MigrationKernel::avx2:
            return __builtin_cpu_supports("avx2");
        case MigrationKernel::avx512:
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

void kirchhoff_migration(const ProfileView& input, const MigrationParameters& parameters, double* output,
                         MigrationKernel kernel) {
    if (kernel == MigrationKernel::automatic)
        kernel = migration_kernel_available(MigrationKernel::avx512) ? MigrationKernel::avx512
                 : migration_kernel_available(MigrationKernel::avx2) ? MigrationKernel::avx2
                                                                      : MigrationKernel::portable;
    if (!migration_kernel_available(kernel)) throw InternalFault("migration kernel not available on this processor");
    if (input.n_traces == 0 || input.n_samples < 2) return;  // no τ can satisfy 0 ≤ τ < n_samples − 1
    switch (kernel) {
#ifdef ORVEK_MIGRATION_X86
        case MigrationKernel::avx512:
            migrate_avx512(make_plan(input, parameters, {8, kVectors}), output);
            return;
        case MigrationKernel::avx2:
            migrate_avx2(make_plan(input, parameters, {4, kVectors}), output);
            return;
#endif
        default:
            migrate_portable(make_plan(input, parameters, {2, kVectors}), output);
            return;
    }
}

}  // namespace orvek::dsp

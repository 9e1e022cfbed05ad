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
//
// Neighbouring output samples are migrated together, a group at a time: at one offset
// their i0 mostly stay or grow by one from sample to sample, so the group reads a few
// neighbouring rows and loads each of them once for all its samples.
#include "dsp/migration.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "core/checked.hpp"
#include "core/failure.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVEK_MIGRATION_X86 1
#include <immintrin.h>
#endif

namespace orvek::dsp {
namespace {

// ---- scratch memory -------------------------------------------------------------------

// Storage kept by each thread from one migration to the next, one vector per Tag, with
// the contents the last call left. The scratch of a profile is about as large as the
// profile, and the first touch of every fresh page costs a page fault: allocated anew for
// every call, it made a call on 500 × 512 samples take a third longer. Storage above
// kKeptBytes is given back at the end of the call.
template <class T, class Tag>
class Scratch {
public:
    Scratch() : kept_(kept()) {}
    ~Scratch() {
        if (kept_.capacity() * sizeof(T) > kKeptBytes) std::vector<T>().swap(kept_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::vector<T>& operator*() const { return kept_; }
    std::vector<T>* operator->() const { return &kept_; }

private:
    static constexpr std::size_t kKeptBytes = std::size_t{64} << 20;
    static std::vector<T>& kept() {
        thread_local std::vector<T> storage;
        return storage;
    }
    std::vector<T>& kept_;
};

std::size_t product_or_bad_alloc(std::size_t a, std::size_t b) {
    const auto product = checked_mul(a, b);
    if (!product || *product > std::vector<double>().max_size() - 8) throw std::bad_alloc();
    return static_cast<std::size_t>(*product);
}

// ---- the plan: the slab and the travel-time tables ------------------------------------

// Output traces are migrated in blocks of `lanes × vectors` neighbours; the last block
// takes the fewest vectors (1, 2, 4 …) that hold the traces left.
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

// What offset d adds to a group of kSamples neighbouring output samples l0 … l0 + kSamples − 1.
template <std::size_t kSamples>
struct Entry {
    static constexpr unsigned kIrregular = 1u << (kSamples - 1);
    double next[kSamples];      // f of each sample, the weight of D[j][i0 + 1] (1 − f is that of D[j][i0])
    std::size_t row[kSamples];  // where row i0 of each sample starts in the copy
    std::size_t offset;         // d
    unsigned used;              // the samples that offset d contributes to, one bit each
    // When offset d contributes to every sample and i0 grows by 0 or 1 from one sample
    // to the next: those steps, one bit each (bit t − 1: sample t over sample t − 1).
    // Otherwise kIrregular, and each used sample is added on its own.
    unsigned shape;
};

struct SamplesTag;
struct EntriesTag;
struct BesideTag;

template <std::size_t kSamples>
struct Plan {
    std::size_t n_traces = 0, n_samples = 0;
    std::size_t max_offset = 0;  // the aperture, clipped to the profile: A
    // A sample-major copy of the traces that one block of output traces reads, the slab:
    // row i holds sample i of those traces side by side (row_length apart, rows 64-byte
    // aligned), zeros where a trace lies outside the profile. It stays in cache while
    // the block is migrated.
    std::size_t row_length = 0;
    Scratch<double, SamplesTag> samples;
    double* rows = nullptr;
    // The offsets that contribute to group g, in increasing d: entries[first[g] … first[g + 1]).
    Scratch<Entry<kSamples>, EntriesTag> entries;
    std::vector<std::size_t> first;
    // For each output sample, the number of contributions to a window that the profile
    // does not clip, or 1 when that is 0: the divisor of most output traces.
    std::vector<double> whole_window_divisor;
    // For the output traces whose window the profile clips: at sample l, own[l] (1 when
    // offset 0 contributes) and beside[l × (A + 1) + c], how many of the offsets 1 … c do.
    std::vector<double> own;
    Scratch<double, BesideTag> beside;

    // The divisor of output trace k at sample l: the contributions of offset 0 and of
    // offsets 1 … min(A, k) behind and 1 … min(A, n − 1 − k) ahead, at least 1.
    double clipped_window_divisor(std::size_t k, std::size_t l) const {
        const double* counts = beside->data() + l * (max_offset + 1);
        const double count = own[l] + counts[std::min(max_offset, k)] + counts[std::min(max_offset, n_traces - 1 - k)];
        return count > 1.0 ? count : 1.0;
    }
};

// Copies samples i0 … i0 + 7 (those inside the profile) of traces j_begin … j_end − 1 into
// rows i0 … of the slab, `rows` pointing at trace j_begin in row i0, for traces whose
// samples are contiguous. The kernels' own instruction sets transpose them in tiles.
using CopyStrip = void (*)(const ProfileView& input, std::size_t i0, std::size_t j_begin, std::size_t j_end,
                           double* rows, std::size_t row_length);

void copy_strip_portable(const ProfileView& input, std::size_t i0, std::size_t j_begin, std::size_t j_end,
                         double* rows, std::size_t row_length) {
    const std::size_t count = std::min<std::size_t>(8, input.n_samples - i0);
    const unsigned char* sample = input.data + static_cast<std::ptrdiff_t>(i0) * input.sample_stride;
    for (std::size_t j = j_begin; j < j_end; ++j) {
        const unsigned char* at = sample + static_cast<std::ptrdiff_t>(j) * input.trace_stride;
        for (std::size_t q = 0; q < count; ++q)
            std::memcpy(rows + q * row_length + (j - j_begin), at + static_cast<std::ptrdiff_t>(q) * input.sample_stride,
                        sizeof(double));
    }
}

// The traces that a block of output traces k0 … k0 + width − 1 reads: k0 − behind …
// k0 + width − 1 + ahead, for the offsets up to `behind` and `ahead` whose trace lies in
// the profile for some trace of the block.
struct Reach {
    std::size_t behind, ahead;
    Reach(std::size_t k0, std::size_t width, std::size_t n_traces, std::size_t max_offset)
        : behind(std::min(max_offset, k0 + width - 1)), ahead(std::min(max_offset, n_traces - 1 - k0)) {}
};

// Fills the slab with the traces block k0 … k0 + width − 1 reads: slab column c holds
// trace k0 − behind + c.
template <std::size_t kSamples>
void fill_slab(const ProfileView& input, CopyStrip copy_strip, std::size_t k0, std::size_t width, Reach reach,
               const Plan<kSamples>& plan) {
    const std::size_t n = input.n_traces, m = input.n_samples;
    const std::size_t first = k0 - std::min(k0, reach.behind);  // the first trace inside the profile
    const std::size_t end = std::min(n, k0 + width + reach.ahead);
    const std::size_t zeros_before = first - (k0 - reach.behind), columns = width + reach.behind + reach.ahead;
    const std::size_t zeros_after = columns - zeros_before - (end - first);
    double* const column = plan.rows + zeros_before;  // trace `first` in row 0
    if (zeros_before + zeros_after > 0)
        for (std::size_t i = 0; i < m; ++i) {
            std::fill_n(plan.rows + i * plan.row_length, zeros_before, 0.0);
            std::fill_n(column + i * plan.row_length + (end - first), zeros_after, 0.0);
        }
    if (input.trace_stride == sizeof(double)) {  // a sample of consecutive traces is contiguous: whole rows
        const unsigned char* trace = input.data + static_cast<std::ptrdiff_t>(first) * input.trace_stride;
        for (std::size_t i = 0; i < m; ++i)
            std::memcpy(column + i * plan.row_length, trace + static_cast<std::ptrdiff_t>(i) * input.sample_stride,
                        (end - first) * sizeof(double));
    } else {
        if (input.sample_stride != sizeof(double)) copy_strip = copy_strip_portable;
        for (std::size_t i0 = 0; i0 < m; i0 += 8)
            copy_strip(input, i0, first, end, column + i0 * plan.row_length, plan.row_length);
    }
}

template <std::size_t kSamples>
void make_plan(const ProfileView& input, const MigrationParameters& p, Blocking blocking, Plan<kSamples>& plan) {
    using Entry = dsp::Entry<kSamples>;
    const std::size_t n = input.n_traces, m = input.n_samples;
    plan.n_traces = n;
    plan.n_samples = m;
    plan.max_offset = std::min<std::uint64_t>(p.aperture_traces, n - 1);
    const std::size_t a = plan.max_offset;
    plan.row_length = (blocking.width() + 2 * a + 7) / 8 * 8;
    const std::size_t size = product_or_bad_alloc(m, plan.row_length) + 8;
    if (plan.samples->size() < size) plan.samples->resize(size);
    const auto misalignment = reinterpret_cast<std::uintptr_t>(plan.samples->data()) / sizeof(double) % 8;
    plan.rows = plan.samples->data() + (8 - misalignment) % 8;

    const double v = p.velocity_m_ns * 1e9;
    const double dt = p.sample_interval_ns * 1e-9;
    const double limit = static_cast<double>(m - 1);
    std::vector<double> h(a + 1);
    for (std::size_t d = 0; d <= a; ++d) h[d] = 2.0 * (static_cast<double>(d) * p.trace_spacing_m) / v;
    plan.own.assign(m, 0.0);
    const std::size_t counts = product_or_bad_alloc(m, a + 1);
    if (plan.beside->size() < counts) plan.beside->resize(counts);
    std::fill_n(plan.beside->data(), counts, 0.0);
    plan.entries->clear();
    plan.first.reserve(m / kSamples + 2);
    for (std::size_t l0 = 0; l0 < m; l0 += kSamples) {
        plan.first.push_back(plan.entries->size());
        const std::size_t samples = std::min(kSamples, m - l0);
        for (std::size_t d = 0; d <= a; ++d) {
            Entry e{};
            e.offset = d;
            std::size_t i0s[kSamples] = {};
            for (std::size_t t = 0; t < samples; ++t) {
                const double t0 = static_cast<double>(l0 + t) * dt;
                if (t0 <= 0.0) continue;
                const double tau = std::sqrt(h[d] * h[d] + t0 * t0) / dt;
                if (!(tau >= 0.0 && tau < limit)) continue;  // also drops a τ that is not a number
                const auto i0 = static_cast<std::size_t>(tau);
                e.next[t] = tau - static_cast<double>(i0);
                e.row[t] = i0 * plan.row_length;
                e.used |= 1u << t;
                i0s[t] = i0;
                (d == 0 ? plan.own[l0 + t] : plan.beside->data()[(l0 + t) * (a + 1) + d]) = 1.0;
            }
            if (e.used == 0) continue;
            for (std::size_t t = 1; t < kSamples; ++t) {
                const bool steps = e.used == (1u << kSamples) - 1 && i0s[t] >= i0s[t - 1] && i0s[t] - i0s[t - 1] <= 1;
                e.shape = steps && e.shape != Entry::kIrregular
                              ? e.shape | static_cast<unsigned>(i0s[t] - i0s[t - 1]) << (t - 1)
                              : Entry::kIrregular;
            }
            plan.entries->push_back(e);
        }
    }
    plan.first.push_back(plan.entries->size());
    plan.whole_window_divisor.resize(m);
    for (std::size_t l = 0; l < m; ++l) {
        double* beside = plan.beside->data() + l * (a + 1);
        for (std::size_t d = 1; d <= a; ++d) beside[d] += beside[d - 1];
        const double count = plan.own[l] + 2.0 * beside[a];
        plan.whole_window_divisor[l] = count > 1.0 ? count : 1.0;
    }
}

// ---- the kernel ------------------------------------------------------------------------

// Keeps a loaded vector in a register: the compiler would otherwise fold the load into
// each arithmetic instruction that uses it, loading it again every time.
template <class V>
[[gnu::always_inline]] inline void load(V& value, const double* at) {
    std::memcpy(&value, at, sizeof value);
#ifdef ORVEK_MIGRATION_X86
    __asm__("" : "+v"(value));
#endif
}

// Adds one sample's contribution, read at rows i0 and i0 + 1 from `at` on, to its sums.
template <class V, std::size_t kVectors>
[[gnu::always_inline]] inline void add_sample(V (&sums)[kVectors], double next, const double* at,
                                              std::size_t row_length) {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(double);
    const V here = (V{} + 1.0) - next;  // 1 − f, computed once for all vectors
#pragma GCC unroll 16
    for (std::size_t r = 0; r < kVectors; ++r) {
        V after, before;
        load(after, at + row_length + r * kLanes);
        load(before, at + r * kLanes);
        sums[r] = sums[r] + (next * after + here * before);
    }
}

// i0 of sample t minus that of sample 0 in an entry of shape kShape.
template <unsigned kShape>
constexpr std::size_t step(std::size_t t) {
    std::size_t rows = 0;
    for (std::size_t u = 1; u <= t; ++u) rows += kShape >> (u - 1) & 1;
    return rows;
}

// Adds an entry of shape kShape to the sums of every sample of the group: each row that
// the samples read is loaded once.
template <class V, std::size_t kSamples, std::size_t kVectors, unsigned kShape>
[[gnu::always_inline]] inline void add_shape(V (&sums)[kSamples][kVectors], const Entry<kSamples>& e,
                                             const double* column, std::size_t row_length) {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(double);
    constexpr std::size_t kRows = step<kShape>(kSamples - 1) + 2;
    const double* at = column + e.row[0];
    V here[kSamples];  // 1 − f of each sample, computed once for all vectors
#pragma GCC unroll 16
    for (std::size_t t = 0; t < kSamples; ++t) here[t] = (V{} + 1.0) - e.next[t];
#pragma GCC unroll 16
    for (std::size_t r = 0; r < kVectors; ++r) {
        V rows[kRows];
#pragma GCC unroll 16
        for (std::size_t q = 0; q < kRows; ++q) load(rows[q], at + q * row_length + r * kLanes);
#pragma GCC unroll 16
        for (std::size_t t = 0; t < kSamples; ++t)
            sums[t][r] = sums[t][r] + (e.next[t] * rows[step<kShape>(t) + 1] + here[t] * rows[step<kShape>(t)]);
    }
}

template <class V, std::size_t kSamples, std::size_t kVectors, unsigned... kShapes>
[[gnu::always_inline]] inline void add_entry(V (&sums)[kSamples][kVectors], const Entry<kSamples>& e,
                                             const double* column, std::size_t row_length,
                                             std::integer_sequence<unsigned, kShapes...>) {
    const bool regular =
        ((e.shape == kShapes ? (add_shape<V, kSamples, kVectors, kShapes>(sums, e, column, row_length), true)
                             : false) ||
         ...);
    if (regular) return;
#pragma GCC unroll 16
    for (std::size_t t = 0; t < kSamples; ++t)
        if (e.used >> t & 1) add_sample(sums[t], e.next[t], column + e.row[t], row_length);
}

// Output samples of a tile, written to the output together.
inline constexpr std::size_t kTileSamples = 8;

// Output traces k0 … k0 + kVectors × lanes − 1 at samples l0 … l0 + 7 (those inside the
// profile), into tile[t × kWidth + q] for sample l0 + t, trace k0 + q.
template <class V, std::size_t kSamples, std::size_t kVectors>
[[gnu::always_inline]] inline void migrate_tile(const Plan<kSamples>& p, std::size_t k0, std::size_t l0,
                                                double* tile) {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(double);
    constexpr std::size_t kWidth = kVectors * kLanes;
    static_assert(kTileSamples % kSamples == 0);
    const std::size_t n = p.n_traces, m = p.n_samples, a = p.max_offset;
    const Reach reach(k0, kWidth, n, a);
    // every trace of the block has its whole window of 2A + 1 traces in the profile
    const bool whole_windows = k0 >= a && k0 + kWidth - 1 + a <= n - 1;
    const double* const origin = p.rows + reach.behind;  // trace k0 in row 0 of the slab
    const auto shapes = std::make_integer_sequence<unsigned, Entry<kSamples>::kIrregular>();

    alignas(64) double divisors[kWidth];
    for (std::size_t g0 = l0; g0 < std::min(m, l0 + kTileSamples); g0 += kSamples) {
        const std::size_t group = g0 / kSamples;
        const Entry<kSamples>* e = p.entries->data() + p.first[group];
        const std::size_t total = p.first[group + 1] - p.first[group];
        const std::size_t zero = total > 0 && e[0].offset == 0 ? 1 : 0;
        std::size_t behind = total, ahead = total;
        while (behind > zero && e[behind - 1].offset > reach.behind) --behind;
        while (ahead > zero && e[ahead - 1].offset > reach.ahead) --ahead;

        V sums[kSamples][kVectors] = {};
        for (std::size_t i = behind; i-- > zero;) add_entry(sums, e[i], origin - e[i].offset, p.row_length, shapes);
        if (zero) add_entry(sums, e[0], origin, p.row_length, shapes);
        for (std::size_t i = zero; i < ahead; ++i) add_entry(sums, e[i], origin + e[i].offset, p.row_length, shapes);

#pragma GCC unroll 16
        for (std::size_t t = 0; t < kSamples; ++t) {
            if (g0 + t >= m) break;
            double* out = tile + (g0 + t - l0) * kWidth;
            if (whole_windows) {
                const double divisor = p.whole_window_divisor[g0 + t];
#pragma GCC unroll 16
                for (std::size_t r = 0; r < kVectors; ++r) {
                    const V result = sums[t][r] / divisor;
                    std::memcpy(out + r * kLanes, &result, sizeof result);
                }
            } else {
                for (std::size_t q = 0; q < kWidth; ++q)
                    divisors[q] = k0 + q < n ? p.clipped_window_divisor(k0 + q, g0 + t) : 1.0;
#pragma GCC unroll 16
                for (std::size_t r = 0; r < kVectors; ++r) {
                    V divisor;
                    std::memcpy(&divisor, &divisors[r * kLanes], sizeof divisor);
                    const V result = sums[t][r] / divisor;
                    std::memcpy(out + r * kLanes, &result, sizeof result);
                }
            }
        }
    }
}

// Writes a tile of `width` traces × 8 samples to output traces k0 … at samples l0 … (those
// inside the profile). The kernels' own instruction sets transpose whole tiles faster.
using WriteTile = void (*)(const double* tile, std::size_t width, std::size_t k0, std::size_t l0,
                           std::size_t n_traces, std::size_t n_samples, double* output);

void write_tile_portable(const double* tile, std::size_t width, std::size_t k0, std::size_t l0, std::size_t n_traces,
                         std::size_t n_samples, double* output) {
    const std::size_t traces = std::min(width, n_traces - k0), samples = std::min<std::size_t>(8, n_samples - l0);
    for (std::size_t q = 0; q < traces; ++q)
        for (std::size_t t = 0; t < samples; ++t) output[(k0 + q) * n_samples + l0 + t] = tile[t * width + q];
}

// What an instruction set brings: its vector type and shape of work, its transposes.
template <class Vector, std::size_t kGroupSamples, std::size_t kBlockVectors>
struct Isa {
    using V = Vector;
    static constexpr std::size_t kSamples = kGroupSamples, kVectors = kBlockVectors;
    CopyStrip copy_strip;
    WriteTile write_tile;
};

template <class V, std::size_t kSamples, std::size_t kVectors, class I>
[[gnu::always_inline]] inline void migrate_block(const I& isa, const ProfileView& input, const Plan<kSamples>& p,
                                                 std::size_t k0, double* output) {
    constexpr std::size_t kWidth = kVectors * sizeof(V) / sizeof(double);
    fill_slab(input, isa.copy_strip, k0, kWidth, Reach(k0, kWidth, p.n_traces, p.max_offset), p);
    const WriteTile write_tile = isa.write_tile;
    alignas(64) double tile[kTileSamples * kWidth];
    for (std::size_t l0 = 0; l0 < p.n_samples; l0 += kTileSamples) {
        migrate_tile<V, kSamples, kVectors>(p, k0, l0, tile);
        write_tile(tile, kWidth, k0, l0, p.n_traces, p.n_samples, output);
    }
}

template <class I>
[[gnu::always_inline]] inline void migrate_with(const I& isa, const ProfileView& input,
                                                const MigrationParameters& parameters, double* output) {
    using V = typename I::V;
    constexpr std::size_t kSamples = I::kSamples, kVectors = I::kVectors;
    const Blocking blocking{sizeof(V) / sizeof(double), kVectors};
    Plan<kSamples> plan;
    make_plan(input, parameters, blocking, plan);
    for (std::size_t k0 = 0; k0 < plan.n_traces; k0 += blocking.width()) {
        switch (blocking.vectors_at(k0, plan.n_traces)) {
            case 1: migrate_block<V, kSamples, 1>(isa, input, plan, k0, output); break;
            case 2: migrate_block<V, kSamples, std::min<std::size_t>(2, kVectors)>(isa, input, plan, k0, output); break;
            case 4: migrate_block<V, kSamples, std::min<std::size_t>(4, kVectors)>(isa, input, plan, k0, output); break;
            default: migrate_block<V, kSamples, kVectors>(isa, input, plan, k0, output); break;
        }
    }
}

// ---- instruction sets --------------------------------------------------------------------

typedef double Pair __attribute__((vector_size(16)));
void migrate_portable(const ProfileView& input, const MigrationParameters& parameters, double* output) {
    migrate_with(Isa<Pair, 2, 4>{copy_strip_portable, write_tile_portable}, input, parameters, output);
}

#ifdef ORVEK_MIGRATION_X86
// Transposes of 4 × 4 and 8 × 8 doubles: row r of `in` becomes column r of `out`.
__attribute__((target("avx2"), always_inline)) inline void transpose(const __m256d (&in)[4], __m256d (&out)[4]) {
    const __m256d t0 = _mm256_unpacklo_pd(in[0], in[1]), t1 = _mm256_unpackhi_pd(in[0], in[1]);
    const __m256d t2 = _mm256_unpacklo_pd(in[2], in[3]), t3 = _mm256_unpackhi_pd(in[2], in[3]);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

__attribute__((target("avx512f"), always_inline)) inline void transpose(const __m512d (&in)[8], __m512d (&out)[8]) {
    __m512d t[8], u[8];
    const __m512i even = _mm512_set_epi64(14, 6, 12, 4, 10, 2, 8, 0);
    const __m512i odd = _mm512_set_epi64(15, 7, 13, 5, 11, 3, 9, 1);
    for (int r = 0; r < 8; r += 2) {
        t[r] = _mm512_permutex2var_pd(in[r], even, in[r + 1]);
        t[r + 1] = _mm512_permutex2var_pd(in[r], odd, in[r + 1]);
    }
    const __m512i low_pairs = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const __m512i high_pairs = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    for (int r = 0; r < 8; r += 4) {
        u[r] = _mm512_permutex2var_pd(t[r], low_pairs, t[r + 2]);
        u[r + 1] = _mm512_permutex2var_pd(t[r + 1], low_pairs, t[r + 3]);
        u[r + 2] = _mm512_permutex2var_pd(t[r], high_pairs, t[r + 2]);
        u[r + 3] = _mm512_permutex2var_pd(t[r + 1], high_pairs, t[r + 3]);
    }
    const __m512i low_halves = _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0);
    const __m512i high_halves = _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4);
    for (int r = 0; r < 4; ++r) {
        out[r] = _mm512_permutex2var_pd(u[r], low_halves, u[r + 4]);
        out[r + 4] = _mm512_permutex2var_pd(u[r], high_halves, u[r + 4]);
    }
}

__attribute__((target("avx2"))) void copy_strip_avx2(const ProfileView& input, std::size_t i0, std::size_t j_begin,
                                                     std::size_t j_end, double* rows, std::size_t row_length) {
    if (input.n_samples - i0 < 8) return copy_strip_portable(input, i0, j_begin, j_end, rows, row_length);
    const unsigned char* sample = input.data + static_cast<std::ptrdiff_t>(i0) * input.sample_stride;
    std::size_t j0 = j_begin;
    for (; j0 + 4 <= j_end; j0 += 4)
        for (std::size_t q0 = 0; q0 < 8; q0 += 4) {
            __m256d in[4], out[4];
            for (std::size_t j = 0; j < 4; ++j)
                in[j] = _mm256_loadu_pd(reinterpret_cast<const double*>(
                    sample + static_cast<std::ptrdiff_t>(j0 + j) * input.trace_stride + q0 * sizeof(double)));
            transpose(in, out);
            for (std::size_t q = 0; q < 4; ++q) _mm256_storeu_pd(rows + (q0 + q) * row_length + (j0 - j_begin), out[q]);
        }
    copy_strip_portable(input, i0, j0, j_end, rows + (j0 - j_begin), row_length);
}

__attribute__((target("avx2"))) void write_tile_avx2(const double* tile, std::size_t width, std::size_t k0,
                                                     std::size_t l0, std::size_t n_traces, std::size_t n_samples,
                                                     double* output) {
    if (n_samples - l0 < 8 || n_traces - k0 < width)
        return write_tile_portable(tile, width, k0, l0, n_traces, n_samples, output);
    for (std::size_t q0 = 0; q0 < width; q0 += 4)
        for (std::size_t t0 = 0; t0 < 8; t0 += 4) {
            __m256d in[4], out[4];
            for (std::size_t t = 0; t < 4; ++t) in[t] = _mm256_load_pd(tile + (t0 + t) * width + q0);
            transpose(in, out);
            for (std::size_t q = 0; q < 4; ++q) _mm256_storeu_pd(output + (k0 + q0 + q) * n_samples + l0 + t0, out[q]);
        }
}

__attribute__((target("avx512f"))) void copy_strip_avx512(const ProfileView& input, std::size_t i0,
                                                           std::size_t j_begin, std::size_t j_end, double* rows,
                                                           std::size_t row_length) {
    if (input.n_samples - i0 < 8) return copy_strip_portable(input, i0, j_begin, j_end, rows, row_length);
    const unsigned char* sample = input.data + static_cast<std::ptrdiff_t>(i0) * input.sample_stride;
    std::size_t j0 = j_begin;
    for (; j0 + 8 <= j_end; j0 += 8) {
        __m512d in[8], out[8];
        for (std::size_t j = 0; j < 8; ++j)
            in[j] = _mm512_loadu_pd(sample + static_cast<std::ptrdiff_t>(j0 + j) * input.trace_stride);
        transpose(in, out);
        for (std::size_t q = 0; q < 8; ++q) _mm512_storeu_pd(rows + q * row_length + (j0 - j_begin), out[q]);
    }
    copy_strip_portable(input, i0, j0, j_end, rows + (j0 - j_begin), row_length);
}

__attribute__((target("avx512f"))) void write_tile_avx512(const double* tile, std::size_t width, std::size_t k0,
                                                         std::size_t l0, std::size_t n_traces, std::size_t n_samples,
                                                         double* output) {
    if (n_samples - l0 < 8 || n_traces - k0 < width)
        return write_tile_portable(tile, width, k0, l0, n_traces, n_samples, output);
    for (std::size_t q0 = 0; q0 < width; q0 += 8) {
        __m512d in[8], out[8];
        for (std::size_t t = 0; t < 8; ++t) in[t] = _mm512_load_pd(tile + t * width + q0);
        transpose(in, out);
        for (std::size_t q = 0; q < 8; ++q) _mm512_storeu_pd(output + (k0 + q0 + q) * n_samples + l0, out[q]);
    }
}

typedef double Quad __attribute__((vector_size(32)));
__attribute__((target("avx2"))) void migrate_avx2(const ProfileView& input, const MigrationParameters& parameters,
                                                  double* output) {
    migrate_with(Isa<Quad, 2, 4>{copy_strip_avx2, write_tile_avx2}, input, parameters, output);
}

typedef double Octet __attribute__((vector_size(64)));
__attribute__((target("avx512f"))) void migrate_avx512(const ProfileView& input,
                                                       const MigrationParameters& parameters, double* output) {
    migrate_with(Isa<Octet, 4, 4>{copy_strip_avx512, write_tile_avx512}, input, parameters, output);
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
            migrate_avx512(input, parameters, output);
            return;
        case MigrationKernel::avx2:
            migrate_avx2(input, parameters, output);
            return;
#endif
        default:
            migrate_portable(input, parameters, output);
            return;
    }
}

}  // namespace orvek::dsp

// Kirchhoff migration: travel-time tables per trace offset, then one pass over the input.
//
// The travel time, and with it the sample index and the interpolation weights, depends
// only on the offset d = |j − k| and the output sample l, so it is computed once per
// (d, l) with exactly the operations of the definition and reused: the values are the
// same bits as when recomputed for every (k, l, j).
//
// The input traces are visited once, in increasing j; trace j, interpolated at offset d,
// is added to the sums of both output traces j − d and j + d. So every output sample
// receives its contributions in increasing j, as the definition orders them, whatever
// the instruction set; SIMD only handles several independent output samples at once.
#include "dsp/migration.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ORVEK_MIGRATION_AVX2 1
#endif

namespace orvek::dsp {
namespace {

inline constexpr std::size_t kLanes = 4;  // output samples per group (one AVX2 vector)
// Output samples per block. The work runs one block of samples at a time, so that the
// running sums and the tables of a block stay in cache while every input trace passes
// through; blocks much smaller than this measured slower (more rows to set up per trace).
inline constexpr std::size_t kBlock = 192;
inline constexpr std::size_t kGroupsPerBlock = kBlock / kLanes;

// What one offset contributes to four neighbouring output samples.
struct Group {
    // f, the weight of D[j][i0 + 1]; the weight of D[j][i0] is 1 − f. −0.0 where the
    // offset contributes nothing to the lane (a used f is +0.0 or more): the sign bit
    // marks the unused lanes.
    double next[kLanes];
    // For traces with contiguous samples: the first of five samples that hold every
    // D[j][i0] and D[j][i0 + 1] of the group, or −1 when no five do.
    std::int32_t base;
    std::uint32_t pattern;  // i0 − base of each lane, two bits per lane, lane 0 lowest
};

// The tables of the offsets that contribute at least one sample, in increasing d, laid
// out block by block: a block holds every row's groups for its samples.
struct TravelTimeTables {
    struct Row {
        std::size_t offset_traces;  // d
        std::size_t first, last;    // the used samples lie in [first, last)
    };
    std::size_t width = 0;  // samples per row, a whole number of blocks
    std::vector<Row> rows;
    std::vector<Group> groups;              // [block][row][group of the block]
    std::vector<std::int64_t> byte_offset;  // [block][row][sample of the block]: D[j][i0] in trace j
    // used_total[r × width + l]: how many positive offsets up to that of row r use sample
    // l; used_at_zero[l]: 1 where offset 0 uses it. A window's contribution count is one
    // row of each side plus the zero offset.
    std::vector<double> used_total;
    std::vector<double> used_at_zero;

    std::size_t slot(std::size_t block, std::size_t row) const { return block / kBlock * rows.size() + row; }
    const Group* groups_of(std::size_t block, std::size_t row) const {
        return &groups[slot(block, row) * kGroupsPerBlock];
    }
    const std::int64_t* offsets_of(std::size_t block, std::size_t row) const {
        return &byte_offset[slot(block, row) * kBlock];
    }
};

TravelTimeTables build_tables(const ProfileView& input, const MigrationParameters& p) {
    const std::size_t n_samples = input.n_samples;
    const std::size_t max_offset = std::min<std::uint64_t>(p.aperture_traces, input.n_traces - 1);
    const double v = p.velocity_m_ns * 1e9;
    const double dt = p.sample_interval_ns * 1e-9;
    const double limit = static_cast<double>(n_samples - 1);
    constexpr std::size_t kSpan = kLanes + 1;  // samples that a group's operands may need

    TravelTimeTables t;
    t.width = (n_samples + kBlock - 1) / kBlock * kBlock;
    t.used_at_zero.assign(t.width, 0.0);
    // per row, in sample order; rearranged block by block at the end
    std::vector<std::size_t> index(t.width);
    std::vector<double> next(t.width);
    std::vector<bool> in_use(t.width);
    std::vector<double> used(t.width, 0.0);
    std::vector<Group> row_groups;
    std::vector<std::int64_t> row_offsets;
    for (std::size_t d = 0; d <= max_offset; ++d) {
        const double h = 2.0 * (static_cast<double>(d) * p.trace_spacing_m) / v;
        std::size_t first = n_samples, last = 0;
        std::fill(index.begin(), index.end(), 0);
        std::fill(next.begin(), next.end(), 0.0);
        std::fill(in_use.begin(), in_use.end(), false);
        for (std::size_t l = 0; l < n_samples; ++l) {
            const double t0 = static_cast<double>(l) * dt;
            if (t0 <= 0.0) continue;
            const double tau = std::sqrt(h * h + t0 * t0) / dt;
            if (!(tau >= 0.0 && tau < limit)) continue;  // also drops a τ that is not a number
            const auto i0 = static_cast<std::size_t>(tau);
            index[l] = i0;
            next[l] = tau - static_cast<double>(i0);
            in_use[l] = true;
            first = std::min(first, l);
            last = l + 1;
        }
        if (first >= last) continue;

        auto& counts = d == 0 ? t.used_at_zero : used;
        for (std::size_t l = first; l < last; ++l) counts[l] += in_use[l] ? 1.0 : 0.0;
        t.rows.push_back({d, first, last});
        t.used_total.insert(t.used_total.end(), used.begin(), used.end());
        for (std::size_t l = 0; l < t.width; ++l)
            row_offsets.push_back(static_cast<std::int64_t>(index[l]) * input.sample_stride);
        for (std::size_t g = 0; g < t.width; g += kLanes) {
            Group group{};
            std::size_t low = n_samples, high = 0;
            for (std::size_t q = 0; q < kLanes; ++q) {
                group.next[q] = in_use[g + q] ? next[g + q] : -0.0;
                if (!in_use[g + q]) continue;
                low = std::min(low, index[g + q]);
                high = std::max(high, index[g + q]);
            }
            if (low > high) low = high = 0;  // no lane used: any samples in range serve
            // the five samples base … base + 4 must lie inside the trace
            const std::size_t base = n_samples >= kSpan ? std::min(low, n_samples - kSpan) : 0;
            const bool fits = n_samples >= kSpan && n_samples <= INT32_MAX && high - base < kLanes;
            for (std::size_t q = 0; fits && q < kLanes; ++q)
                if (in_use[g + q])
                    group.pattern |= static_cast<std::uint32_t>(index[g + q] - base) << (2 * q);
            group.base = fits ? static_cast<std::int32_t>(base) : -1;
            row_groups.push_back(group);
        }
    }

    const std::size_t n_rows = t.rows.size(), row_groups_count = t.width / kLanes;
    t.groups.resize(row_groups.size());
    t.byte_offset.resize(row_offsets.size());
    for (std::size_t block = 0; block < t.width; block += kBlock)
        for (std::size_t r = 0; r < n_rows; ++r) {
            std::copy_n(&row_groups[r * row_groups_count + block / kLanes], kGroupsPerBlock,
                        &t.groups[t.slot(block, r) * kGroupsPerBlock]);
            std::copy_n(&row_offsets[r * t.width + block], kBlock, &t.byte_offset[t.slot(block, r) * kBlock]);
        }
    return t;
}

// The rows of the tables that reach into one block of samples, with their groups there.
struct BlockRow {
    std::size_t row;
    std::size_t offset_traces;  // d
    std::size_t first, last;    // the groups of the block that the row uses lie in [first, last)
};

// Input trace j and what it adds to over one block: for each row of offset d, the sums of
// output traces j − d (behind) and j + d (ahead), held in a ring of `ring_rows` rows of
// kBlock sums where trace k has row k mod ring_rows (trace j has `slot`).
struct TraceSpread {
    const unsigned char* trace;
    std::ptrdiff_t sample_stride;
    const TravelTimeTables* tables;
    std::size_t block;
    const BlockRow* rows;
    std::size_t n_rows;
    double* ring;
    std::size_t ring_rows, slot;
    std::size_t j, n_traces;
};

// Calls add(row, behind, ahead) for each row in increasing d with the sums it reaches
// (nullptr for a side that lies outside the profile), until neither side does.
template <class Add>
inline void for_each_reached(const TraceSpread& s, Add&& add) {
    for (std::size_t i = 0; i < s.n_rows; ++i) {
        const BlockRow& row = s.rows[i];
        const std::size_t d = row.offset_traces;  // d < ring_rows
        double* const behind =
            d <= s.j ? s.ring + (s.slot >= d ? s.slot - d : s.slot + s.ring_rows - d) * kBlock : nullptr;
        double* const ahead =
            d > 0 && d < s.n_traces - s.j
                ? s.ring + (s.slot + d < s.ring_rows ? s.slot + d : s.slot + d - s.ring_rows) * kBlock
                : nullptr;
        if (!behind && !ahead) break;  // the rows come in increasing d
        add(row, behind, ahead);
    }
}

void spread_baseline(const TraceSpread& s) {
    for_each_reached(s, [&](const BlockRow& row, double* behind, double* ahead) {
        const Group* groups = s.tables->groups_of(s.block, row.row);
        const std::int64_t* byte_offset = s.tables->offsets_of(s.block, row.row);
        for (std::size_t g = row.first; g < row.last; ++g) {
            const Group& group = groups[g];
            for (std::size_t q = 0; q < kLanes; ++q) {
                const double f = group.next[q];
                if (std::signbit(f)) continue;
                const std::size_t l = g * kLanes + q;
                double here, after;
                std::memcpy(&here, s.trace + byte_offset[l], sizeof here);
                std::memcpy(&after, s.trace + byte_offset[l] + s.sample_stride, sizeof after);
                const double contribution = f * after + (1.0 - f) * here;
                if (behind) behind[l] = behind[l] + contribution;
                if (ahead) ahead[l] = ahead[l] + contribution;
            }
        }
    });
}

#ifdef ORVEK_MIGRATION_AVX2
// Four output samples at a time. A lane whose sample the offset does not use adds +0.0,
// which leaves its sum as it was (a sum that starts at +0.0 never becomes −0.0); the
// samples loaded for it are in range but never enter the sum.
//
// Contiguous samples: the four D[j][i0] of a group lie among five neighbouring samples
// (i0 grows by at most one per output sample), so two unaligned loads and one lane
// permutation give both operands; a group without such a base gathers instead, as do
// all groups of other layouts, by byte offset. Nothing here needs alignment.
struct PermuteTable {
    // for each pattern, the 32-bit lanes that bring double `from` into lane q
    alignas(32) std::int32_t control[256][8];
};
constexpr PermuteTable make_permute_table() {
    PermuteTable table{};
    for (int pattern = 0; pattern < 256; ++pattern)
        for (int q = 0; q < 4; ++q) {
            const int from = (pattern >> (2 * q)) & 3;
            table.control[pattern][2 * q] = 2 * from;
            table.control[pattern][2 * q + 1] = 2 * from + 1;
        }
    return table;
}
constexpr PermuteTable kPermute = make_permute_table();

template <bool kContiguous, bool kBehind, bool kAhead>
__attribute__((target("avx2"), always_inline)) inline void spread_row_avx2(
    const double* trace, __m256i step, const Group* groups, const std::int64_t* byte_offset,
    std::size_t first, std::size_t last, double* behind, double* ahead) {
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    for (std::size_t g = first; g < last; ++g) {
        const Group& group = groups[g];
        const __m256d f = _mm256_loadu_pd(group.next);
        __m256d here, after;
        if (kContiguous && group.base >= 0) {
            const auto* five = reinterpret_cast<const float*>(trace + group.base);
            const __m256i control =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(kPermute.control[group.pattern]));
            here = _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(five), control));
            after = _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(five + 2), control));
        } else {
            const __m256i where =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(byte_offset + g * kLanes));
            // gather only the used lanes: those whose f has a clear sign bit
            const __m256d used =
                _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_castpd_si256(f), _mm256_set1_epi64x(-1)));
            here = _mm256_mask_i64gather_pd(zero, trace, where, used, 1);
            after = _mm256_mask_i64gather_pd(zero, trace, _mm256_add_epi64(where, step), used, 1);
        }
        const __m256d contribution = _mm256_blendv_pd(
            _mm256_add_pd(_mm256_mul_pd(f, after), _mm256_mul_pd(_mm256_sub_pd(one, f), here)), zero, f);
        if (kBehind) {
            double* const at = behind + g * kLanes;
            _mm256_storeu_pd(at, _mm256_add_pd(_mm256_loadu_pd(at), contribution));
        }
        if (kAhead) {
            double* const at = ahead + g * kLanes;
            _mm256_storeu_pd(at, _mm256_add_pd(_mm256_loadu_pd(at), contribution));
        }
    }
}

template <bool kContiguous>
__attribute__((target("avx2"))) void spread_avx2(const TraceSpread& s) {
    const auto* trace = reinterpret_cast<const double*>(s.trace);
    const __m256i step = _mm256_set1_epi64x(s.sample_stride);
    for_each_reached(
        s, [&](const BlockRow& row, double* behind, double* ahead) __attribute__((target("avx2"))) {
            const Group* groups = s.tables->groups_of(s.block, row.row);
            const std::int64_t* byte_offset = s.tables->offsets_of(s.block, row.row);
            if (behind && ahead)
                spread_row_avx2<kContiguous, true, true>(trace, step, groups, byte_offset, row.first,
                                                         row.last, behind, ahead);
            else if (behind)
                spread_row_avx2<kContiguous, true, false>(trace, step, groups, byte_offset, row.first,
                                                          row.last, behind, ahead);
            else
                spread_row_avx2<kContiguous, false, true>(trace, step, groups, byte_offset, row.first,
                                                          row.last, behind, ahead);
        });
}
#endif

using SpreadKernel = void (*)(const TraceSpread&);

SpreadKernel select_kernel(std::ptrdiff_t sample_stride) {
#ifdef ORVEK_MIGRATION_AVX2
    if (__builtin_cpu_supports("avx2"))
        return sample_stride == sizeof(double) ? spread_avx2<true> : spread_avx2<false>;
#else
    (void)sample_stride;
#endif
    return spread_baseline;
}

void migrate(const ProfileView& input, const MigrationParameters& parameters, double* output, bool portable) {
    const std::size_t n_traces = input.n_traces, n_samples = input.n_samples;
    if (n_traces == 0 || n_samples < 2) return;  // no τ can satisfy 0 ≤ τ < n_samples − 1
    const TravelTimeTables t = build_tables(input, parameters);
    if (t.rows.empty()) return;
    const SpreadKernel spread = portable ? spread_baseline : select_kernel(input.sample_stride);
    const std::size_t n_rows = t.rows.size();

    // The count of trace k's window from the tables: it reaches min(A, k) traces back
    // and min(A, n_traces − 1 − k) ahead.
    const bool has_zero = t.rows.front().offset_traces == 0;
    const std::size_t first_side = has_zero ? 1 : 0;  // the first row of a positive offset
    const std::vector<double> nothing(t.width, 0.0);
    auto side = [&](std::size_t reach) {
        std::size_t end = first_side;
        while (end < n_rows && t.rows[end].offset_traces <= reach) ++end;
        return end > first_side ? &t.used_total[(end - 1) * t.width] : nothing.data();
    };

    // The running sums of the output traces that the current input trace can reach,
    // over one block of samples: a ring of one row per trace of the widest window.
    const std::size_t reach = t.rows.back().offset_traces;  // the largest offset that contributes
    const std::size_t ring_rows = std::min(n_traces, 2 * reach + 1);
    std::vector<double> ring(ring_rows * kBlock, 0.0);
    std::vector<BlockRow> block_rows;
    block_rows.reserve(n_rows);

    for (std::size_t block = 0; block < n_samples; block += kBlock) {
        const std::size_t block_end = std::min(n_samples, block + kBlock);
        block_rows.clear();
        for (std::size_t r = 0; r < n_rows; ++r) {
            const auto& row = t.rows[r];
            if (row.last <= block || row.first >= block_end) continue;
            block_rows.push_back({r, row.offset_traces, (std::max(row.first, block) - block) / kLanes,
                                  (std::min(row.last, block_end) - block + kLanes - 1) / kLanes});
        }
        // Output trace k over this block, once every input trace of its window has added to it.
        auto finish = [&](std::size_t k) {
            double* sums = &ring[k % ring_rows * kBlock];
            const double* behind = side(k);
            const double* ahead = side(n_traces - 1 - k);
            double* out = output + k * n_samples;
            for (std::size_t l = block; l < block_end; ++l) {
                const double count = t.used_at_zero[l] + behind[l] + ahead[l];
                out[l] = sums[l - block] / (count > 1.0 ? count : 1.0);
            }
            std::fill(sums, sums + kBlock, 0.0);
        };

        TraceSpread s{nullptr,     input.sample_stride, &t, block, block_rows.data(), block_rows.size(),
                      ring.data(), ring_rows,           0,  0,     n_traces};
        for (s.j = 0, s.slot = 0; s.j < n_traces; ++s.j, s.slot = s.slot + 1 == ring_rows ? 0 : s.slot + 1) {
            s.trace = input.data + static_cast<std::ptrdiff_t>(s.j) * input.trace_stride;
            if (!block_rows.empty()) spread(s);
            if (s.j >= reach) finish(s.j - reach);  // no later input trace reaches it
        }
        for (std::size_t k = n_traces - reach; k < n_traces; ++k) finish(k);
    }
}

}  // namespace

void kirchhoff_migration(const ProfileView& input, const MigrationParameters& parameters, double* output) {
    migrate(input, parameters, output, false);
}

void kirchhoff_migration_portable(const ProfileView& input, const MigrationParameters& parameters,
                                  double* output) {
    migrate(input, parameters, output, true);
}

}  // namespace orvek::dsp

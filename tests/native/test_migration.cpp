// Kirchhoff migration core: every layout and every kernel this processor runs against
// the definition, bit for bit, with the travel time recomputed for every (k, l, j) as the definition does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dsp/migration.hpp"

namespace orvek::dsp {
namespace {

// A profile stored in some layout inside a byte buffer, element [i][s] at
// origin + i × trace_stride + s × sample_stride.
struct StoredProfile {
    std::vector<unsigned char> bytes;
    ProfileView view;

    double at(std::size_t i, std::size_t s) const {
        double value;
        std::memcpy(&value,
                    view.data + static_cast<std::ptrdiff_t>(i) * view.trace_stride +
                        static_cast<std::ptrdiff_t>(s) * view.sample_stride,
                    sizeof value);
        return value;
    }
};

enum class Layout { c_order, fortran, reversed_samples, reversed_traces, unaligned, every_other_sample };

StoredProfile store(const std::vector<double>& values, std::size_t n, std::size_t m, Layout layout) {
    StoredProfile p;
    const std::ptrdiff_t e = sizeof(double);
    const auto sn = static_cast<std::ptrdiff_t>(n), sm = static_cast<std::ptrdiff_t>(m);
    std::ptrdiff_t trace_stride = sm * e, sample_stride = e, spread = 1, shift = 0;
    switch (layout) {
        case Layout::c_order:
            break;
        case Layout::fortran:
            trace_stride = e, sample_stride = sn * e;
            break;
        case Layout::reversed_samples:
            sample_stride = -e;
            break;
        case Layout::reversed_traces:
            trace_stride = -sm * e;
            break;
        case Layout::unaligned:
            shift = 3;
            break;
        case Layout::every_other_sample:
            spread = 2, trace_stride = 2 * sm * e, sample_stride = 2 * e;
            break;
    }
    p.bytes.assign(static_cast<std::size_t>(sn * sm * e * spread + shift + 8), 0xEE);
    // the origin is element [0][0]: where the strides are negative it lies at the far end
    std::ptrdiff_t origin = shift;
    if (sample_stride < 0) origin += (sm - 1) * -sample_stride;
    if (trace_stride < 0) origin += (sn - 1) * -trace_stride;
    p.view = {p.bytes.data() + origin, n, m, trace_stride, sample_stride};
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t s = 0; s < m; ++s)
            std::memcpy(p.bytes.data() + origin + static_cast<std::ptrdiff_t>(i) * trace_stride +
                            static_cast<std::ptrdiff_t>(s) * sample_stride,
                        &values[i * m + s], sizeof(double));
    return p;
}

// The definition, one output sample at a time.
std::vector<double> reference(const StoredProfile& p, const MigrationParameters& q) {
    const std::size_t n = p.view.n_traces, m = p.view.n_samples;
    std::vector<double> out(n * m, 0.0);
    const double v = q.velocity_m_ns * 1e9, dt = q.sample_interval_ns * 1e-9;
    const std::uint64_t a = q.aperture_traces;
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t l = 0; l < m; ++l) {
            const double t0 = static_cast<double>(l) * dt;
            if (t0 <= 0) continue;
            double sum = 0;
            std::uint64_t count = 0;
            const std::size_t lo = k > a ? k - a : 0;
            const std::size_t hi = a >= n ? n : std::min<std::uint64_t>(n, k + a + 1);
            for (std::size_t j = lo; j < hi; ++j) {
                const double x = static_cast<double>(j > k ? j - k : k - j) * q.trace_spacing_m;
                const double h = 2.0 * x / v;
                const double tau = std::sqrt(h * h + t0 * t0) / dt;
                if (!(tau >= 0 && tau < static_cast<double>(m) - 1)) continue;
                const auto i0 = static_cast<std::size_t>(tau);
                const double f = tau - static_cast<double>(i0);
                sum = sum + (f * p.at(j, i0 + 1) + (1 - f) * p.at(j, i0));
                ++count;
            }
            out[k * m + l] = sum / static_cast<double>(std::max<std::uint64_t>(count, 1));
        }
    return out;
}

std::vector<double> random_values(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal;
    std::vector<double> values(count);
    for (auto& x : values) x = normal(engine);
    return values;
}

void expect_same_bits(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(double)), 0)
            << "element " << i << ": " << got[i] << " vs " << want[i];
}

std::vector<double> run(const StoredProfile& p, const MigrationParameters& q, MigrationKernel kernel) {
    std::vector<double> out(p.view.n_traces * p.view.n_samples, 0.0);
    kirchhoff_migration(p.view, q, out.data(), kernel);
    return out;
}

// The kernels to hold to the definition: each one that this processor can run.
std::vector<MigrationKernel> kernels() {
    std::vector<MigrationKernel> available;
    for (MigrationKernel kernel : {MigrationKernel::automatic, MigrationKernel::portable, MigrationKernel::avx2,
                                   MigrationKernel::avx512})
        if (migration_kernel_available(kernel)) available.push_back(kernel);
    return available;
}

struct Case {
    const char* name;
    std::size_t n, m;
    MigrationParameters parameters;
};

const Case kCases[] = {
    {"defaults", 23, 67, {}},
    {"wide_aperture", 9, 40, {0.1, 0.1, 0.05, 1000}},
    {"aperture_zero", 7, 33, {0.1, 0.1, 0.05, 0}},
    {"coarse_spacing", 17, 50, {0.12, 0.2, 0.3, 5}},
    {"fine_sampling", 12, 101, {0.08, 0.03, 0.02, 7}},
    {"negative_spacing", 11, 30, {0.1, 0.1, -0.05, 4}},
    {"few_samples", 6, 4, {0.1, 0.1, 0.01, 3}},
    {"two_samples", 5, 2, {0.1, 0.1, 0.01, 3}},
    {"zero_velocity", 6, 20, {0.0, 0.1, 0.05, 30}},
    {"negative_interval", 6, 20, {0.1, -0.1, 0.05, 30}},
    {"nan_velocity", 6, 20, {std::numeric_limits<double>::quiet_NaN(), 0.1, 0.05, 30}},
    {"huge_aperture", 8, 24, {0.1, 0.1, 0.05, std::numeric_limits<std::uint64_t>::max()}},
    {"long_traces", 70, 517, {}},
    // several blocks of output traces, the last one partly empty
    {"many_blocks", 150, 90, {}},
    // windows wider than a block: a block reads traces far beyond its neighbours
    {"aperture_beyond_block", 100, 60, {0.1, 0.1, 0.02, 70}},
    // coarse sampling: i0 steps by 0 or 1 from sample to sample in every pattern
    {"coarse_time", 41, 300, {0.05, 0.5, 0.05, 12}},
};

TEST(Migration, MatchesDefinitionInEveryLayoutOnEveryKernel) {
    const Layout layouts[] = {Layout::c_order,         Layout::fortran,   Layout::reversed_samples,
                              Layout::reversed_traces, Layout::unaligned, Layout::every_other_sample};
    std::uint64_t seed = 1;
    for (const Case& c : kCases) {
        const auto values = random_values(c.n * c.m, seed++);
        for (Layout layout : layouts) {
            SCOPED_TRACE(testing::Message() << c.name << " layout " << static_cast<int>(layout));
            const StoredProfile p = store(values, c.n, c.m, layout);
            const auto bytes_before = p.bytes;
            const auto want = reference(p, c.parameters);
            for (MigrationKernel kernel : kernels()) {
                SCOPED_TRACE(testing::Message() << "kernel " << static_cast<int>(kernel));
                expect_same_bits(run(p, c.parameters, kernel), want);
            }
            EXPECT_EQ(p.bytes, bytes_before);  // read only
        }
    }
}

// Each thread keeps its scratch from one call to the next: a smaller profile after a
// larger one must not read what the larger one left.
TEST(Migration, ScratchLeftByAnotherProfileDoesNotLeak) {
    const struct {
        std::size_t n, m;
        MigrationParameters parameters;
    } calls[] = {{90, 130, {0.1, 0.1, 0.05, 40}}, {13, 21, {}}, {90, 130, {0.1, 0.1, 0.05, 40}}, {33, 64, {0.1, 0.1, 0.05, 3}}};
    std::uint64_t seed = 500;
    for (MigrationKernel kernel : kernels())
        for (const auto& call : calls) {
            SCOPED_TRACE(testing::Message() << "kernel " << static_cast<int>(kernel) << ", " << call.n << " x " << call.m);
            const StoredProfile p = store(random_values(call.n * call.m, seed++), call.n, call.m, Layout::c_order);
            expect_same_bits(run(p, call.parameters, kernel), reference(p, call.parameters));
        }
}

TEST(Migration, PortableKernelIsAlwaysAvailable) {
    EXPECT_TRUE(migration_kernel_available(MigrationKernel::automatic));
    EXPECT_TRUE(migration_kernel_available(MigrationKernel::portable));
}

TEST(Migration, NonFiniteSamplesReachOnlyTheOutputsThatUseThem) {
    const std::size_t n = 9, m = 64;
    auto values = random_values(n * m, 99);
    values[4 * m + 50] = std::numeric_limits<double>::infinity();
    values[2 * m + 63] = std::numeric_limits<double>::quiet_NaN();  // the last sample: reached only as i0 + 1
    values[7 * m + 0] = -std::numeric_limits<double>::infinity();
    const StoredProfile p = store(values, n, m, Layout::c_order);
    const MigrationParameters q{0.1, 0.1, 0.05, 4};
    const auto want = reference(p, q);
    for (MigrationKernel kernel : kernels()) expect_same_bits(run(p, q, kernel), want);
}

}  // namespace
}  // namespace orvek::dsp

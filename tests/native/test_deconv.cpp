// Deconvolution routines: the autocorrelation's divisors, the solver's pivoting and
// failure rules, the call faults, and the vectorised routines against plain loops of
// their definitions, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "dsp/deconv.hpp"

namespace orvek::dsp {
namespace {

// ---- the definitions, written as plainly as possible ---------------------------------

std::vector<double> plain_auto_correlate(const std::vector<double>& v, std::size_t max_lag) {
    std::vector<double> r(std::min(v.size(), max_lag));
    for (std::size_t k = 0; k < r.size(); ++k) {
        double sum = 0.0;
        for (std::size_t j = 0; j + k < v.size(); ++j) sum += v[j] * v[j + k];
        r[k] = sum / static_cast<double>(v.size() - k);
    }
    return r;
}

std::optional<std::vector<double>> plain_solve(const std::vector<double>& r, const std::vector<double>& rhs) {
    const std::size_t m = rhs.size();
    if (m == 0) return std::vector<double>{};
    if (std::fabs(r[0]) < 1e-30) return std::nullopt;
    std::vector<std::vector<double>> a(m);
    for (std::size_t i = 0; i < m; ++i) {
        a[i].resize(rhs.size() + 1);
        for (std::size_t k = 0; k < m; ++k)
            a[i][k] = r[std::min<std::size_t>(i > k ? i - k : k - i, r.size() - 1)];
        a[i][m] = rhs[i];
    }
    for (std::size_t c = 0; c < m; ++c) {
        std::size_t p = c;
        for (std::size_t q = c + 1; q < m; ++q)
            if (std::fabs(a[q][c]) > std::fabs(a[p][c])) p = q;
        if (std::fabs(a[p][c]) < 1e-30) return std::nullopt;
        if (p != c) std::swap(a[p], a[c]);
        for (std::size_t k = c + 1; k < m; ++k) {
            const double f = a[k][c] / a[c][c];
            for (std::size_t l = c; l <= m; ++l) a[k][l] = a[k][l] - a[c][l] * f;
        }
    }
    std::vector<double> x(m, 0.0);
    for (std::size_t i = m; i-- > 0;) {
        double s = a[i][m];
        for (std::size_t l = i + 1; l < m; ++l) s = s - a[i][l] * x[l];
        x[i] = s / a[i][i];
    }
    return x;
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

// ---- autocorrelation ---------------------------------------------------------------

TEST(AutoCorrelate, DividesEachLagByItsOwnNumberOfProducts) {
    const std::vector<double> v{1.0, 2.0, 3.0};
    // lag 0: (1 + 4 + 9) / 3, lag 1: (2 + 6) / 2, lag 2: 3 / 1
    EXPECT_EQ(auto_correlate(v, 5), (std::vector<double>{14.0 / 3.0, 4.0, 3.0}));
    EXPECT_EQ(auto_correlate(v, 2), (std::vector<double>{14.0 / 3.0, 4.0}));
    EXPECT_TRUE(auto_correlate(v, 0).empty());
    EXPECT_TRUE(auto_correlate({}, 4).empty());
}

TEST(AutoCorrelate, VectorisedLagsKeepTheOrderOfEachSum) {
    std::uint64_t seed = 7;
    for (std::size_t n : {1, 3, 4, 15, 16, 17, 20, 33, 64, 100, 513})
        for (std::size_t lags : {1, 3, 4, 5, 16, 17, 19, 32, 40, 1000}) {
            SCOPED_TRACE(testing::Message() << "n " << n << " lags " << lags);
            auto v = random_values(n, seed++);
            for (auto& x : v) x *= std::ldexp(1.0, static_cast<int>(seed % 40) - 20);  // uneven magnitudes
            expect_same_bits(auto_correlate(v, lags), plain_auto_correlate(v, lags));
        }
}

// ---- linear solve --------------------------------------------------------------------

TEST(SolveToeplitz, SolvesASmallSystemExactly) {
    // [[2, 1], [1, 2]] x = [3, 3]  →  x = [1, 1]
    const auto x = solve_toeplitz(std::vector<double>{2.0, 1.0}, std::vector<double>{3.0, 3.0});
    ASSERT_TRUE(x);
    EXPECT_EQ(*x, (std::vector<double>{1.0, 1.0}));
}

std::string fault_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const InternalFault& fault) {
        return fault.what();
    }
    return "no fault";
}

TEST(SolveToeplitz, EmptyRightHandSideNeedsNoLags) {
    const auto x = solve_toeplitz({}, {});
    ASSERT_TRUE(x);
    EXPECT_TRUE(x->empty());
    EXPECT_EQ(fault_of([] { solve_toeplitz({}, std::vector<double>{1.0}); }),
              "index out of bounds: the len is 0 but the index is 0");
}

TEST(SolveToeplitz, LagsPastTheEndTakeTheLastOne) {
    // r = [4, 1] for a 3 × 3 system: [[4, 1, 1], [1, 4, 1], [1, 1, 4]] x = [6, 6, 6] → x = 1
    const auto x = solve_toeplitz(std::vector<double>{4.0, 1.0}, std::vector<double>{6.0, 6.0, 6.0});
    ASSERT_TRUE(x);
    EXPECT_EQ(*x, (std::vector<double>{1.0, 1.0, 1.0}));
    // a single lag makes every element equal: singular
    EXPECT_FALSE(solve_toeplitz(std::vector<double>{1.0}, std::vector<double>{1.0, 2.0}));
}

TEST(SolveToeplitz, SmallZeroLagOrPivotHasNoSolution) {
    EXPECT_FALSE(solve_toeplitz(std::vector<double>{9e-31, 0.0}, std::vector<double>{1.0, 0.0}));
    EXPECT_TRUE(solve_toeplitz(std::vector<double>{1e-30}, std::vector<double>{1.0}));  // not below
    // [[1, 1], [1, 1]]: the second pivot is 0
    EXPECT_FALSE(solve_toeplitz(std::vector<double>{1.0, 1.0}, std::vector<double>{1.0, 0.0}));
    EXPECT_FALSE(solve_toeplitz(std::vector<double>{-1e-31}, std::vector<double>{1.0}));
}

TEST(SolveToeplitz, APivotTieKeepsTheUpperRow) {
    // column 0 holds 1, 0.5, −1: rows 0 and 2 tie, row 0 stays. Taking row 2 instead
    // gives different bits, which the plain definition (ties to the upper row) pins.
    const std::vector<double> r{1.0, 0.5, -1.0}, rhs{0.3, 0.7, 1.1};
    const auto x = solve_toeplitz(r, rhs);
    ASSERT_TRUE(x);
    expect_same_bits(*x, *plain_solve(r, rhs));
}

TEST(SolveToeplitz, MatchesThePlainEliminationBitForBit) {
    std::uint64_t seed = 100;
    for (std::size_t m : {1, 2, 3, 5, 8, 13, 32, 47}) {
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(testing::Message() << "m " << m << " trial " << trial);
            auto r = random_values(trial % 3 == 0 ? m / 2 + 1 : m, seed++);
            if (trial % 2) r[0] = std::fabs(r[0]) + 2.0;  // better conditioned
            if (trial % 5 == 4) r.back() = r[0];          // a tie in column 0
            const auto rhs = random_values(m, seed++);
            const auto got = solve_toeplitz(r, rhs), want = plain_solve(r, rhs);
            ASSERT_EQ(got.has_value(), want.has_value());
            if (got) expect_same_bits(*got, *want);
        }
    }
}

// ---- whole calls -----------------------------------------------------------------------

TEST(Deconvolution, ShortDataNamesTheFirstTraceThatDoesNotFit) {
    const std::vector<double> data(10, 1.0);
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, 3, 4, 2, 0.01); }),
              "range end index 12 out of range for slice of length 10");
    EXPECT_EQ(fault_of([&] { gapped_deconvolution(data, 5, 4, 2, 3, 0.01); }),
              "range end index 12 out of range for slice of length 10");
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, 1, 11, 2, 0.01); }),
              "range end index 11 out of range for slice of length 10");
    // huge counts: the message, not an allocation
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, SIZE_MAX, SIZE_MAX, 2, 0.01); }),
              "range end index 18446744073709551615 out of range for slice of length 10");
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, SIZE_MAX, 2, 2, 0.01); }),
              "range end index 12 out of range for slice of length 10");
}

TEST(Deconvolution, EmptyOperatorFailsAtTheFirstTrace) {
    const std::vector<double> data(10, 1.0);
    const std::string empty = "index out of bounds: the len is 0 but the index is 0";
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, 2, 5, 0, 0.01); }), empty);
    EXPECT_EQ(fault_of([&] { gapped_deconvolution(data, 2, 5, 0, 2, 0.01); }), empty);
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, SIZE_MAX, 0, 32, 0.01); }), empty);
    // the first trace is sliced before its autocorrelation is taken
    EXPECT_EQ(fault_of([&] { spike_deconvolution(data, 1, 11, 0, 0.01); }),
              "range end index 11 out of range for slice of length 10");
    EXPECT_TRUE(spike_deconvolution(data, 0, 5, 0, 0.01).empty());
}

}  // namespace
}  // namespace orvek::dsp

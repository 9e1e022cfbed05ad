// Kirchhoff migration core on profiles of the Python benchmark's sizes, aperture 30, in
// nanoseconds per contribution (one output sample and one input trace of its window).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/migration.hpp"

namespace {

using orvek::dsp::MigrationParameters;
using orvek::dsp::ProfileView;

double contributions(std::size_t n, std::size_t m, std::size_t aperture) {
    double total = 0;
    for (std::size_t k = 0; k < n; ++k)
        total += static_cast<double>(std::min(n - 1, k + aperture) - (k > aperture ? k - aperture : 0) + 1);
    return total * static_cast<double>(m);
}

template <orvek::dsp::MigrationKernel kKernel, bool kFortran>
void migrate(benchmark::State& state) {
    if (!orvek::dsp::migration_kernel_available(kKernel)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const auto n = static_cast<std::size_t>(state.range(0)), m = static_cast<std::size_t>(state.range(1));
    std::mt19937_64 engine(7);
    std::normal_distribution<double> normal;
    std::vector<double> input(n * m), output(n * m);
    for (auto& x : input) x = normal(engine);
    const auto e = static_cast<std::ptrdiff_t>(sizeof(double));
    const ProfileView view{reinterpret_cast<const unsigned char*>(input.data()), n, m,
                           kFortran ? e : static_cast<std::ptrdiff_t>(m) * e,
                           kFortran ? static_cast<std::ptrdiff_t>(n) * e : e};
    const MigrationParameters parameters{};
    for (auto _ : state) {
        std::fill(output.begin(), output.end(), 0.0);
        orvek::dsp::kirchhoff_migration(view, parameters, output.data(), kKernel);
        benchmark::DoNotOptimize(output.data());
    }
    state.counters["ns/contr"] = benchmark::Counter(contributions(n, m, 30) * 1e-9,
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({200, 256})->Args({500, 512})->Args({1000, 1024})->Unit(benchmark::kMillisecond);
}

using orvek::dsp::MigrationKernel;
BENCHMARK(migrate<MigrationKernel::avx512, false>)->Name("migration/avx512")->Apply(sizes);
BENCHMARK(migrate<MigrationKernel::avx512, true>)->Name("migration/avx512_fortran")->Apply(sizes);
BENCHMARK(migrate<MigrationKernel::avx2, false>)->Name("migration/avx2")->Apply(sizes);
BENCHMARK(migrate<MigrationKernel::portable, false>)->Name("migration/portable")->Apply(sizes);

}  // namespace

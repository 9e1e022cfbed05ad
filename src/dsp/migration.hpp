// Kirchhoff migration of a radar profile under a constant velocity, in 64-bit arithmetic.
//
// For every output point (trace k, sample l) with two-way time t0 = l × dt > 0, the
// traces j = k − A … k + A of the profile (clipped to it) are visited in increasing j.
// Trace j contributes its amplitude at the diffraction travel time
//     h = 2 × (|j − k| × trace_spacing_m) / v,   τ = sqrt(h² + t0²) / dt   (in samples)
// linearly interpolated, f × D[j][i0 + 1] + (1 − f) × D[j][i0] with i0 = ⌊τ⌋, f = τ − i0,
// when 0 ≤ τ < n_samples − 1 (a τ that is not a number is not used). The output is the
// sum of the used contributions divided by their number (by 1 when there is none).
// v = velocity_m_ns × 1e9 m/s, dt = sample_interval_ns × 1e-9 s. No value is checked:
// zero or negative parameters give zeros or the results of these formulas.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvek::dsp {

// A read-only view of a two-dimensional array of 64-bit floats as its owner lays it out:
// element [i][s] is the 8 bytes at data + i × trace_stride + s × sample_stride. Strides
// are in bytes and may be negative; elements need not be aligned.
struct ProfileView {
    const unsigned char* data = nullptr;
    std::size_t n_traces = 0;
    std::size_t n_samples = 0;
    std::ptrdiff_t trace_stride = 0;
    std::ptrdiff_t sample_stride = 0;
};

struct MigrationParameters {
    double velocity_m_ns = 0.1;
    double sample_interval_ns = 0.1;
    double trace_spacing_m = 0.05;
    std::uint64_t aperture_traces = 30;
};

// The instruction sets a migration can run on. Every one gives the same result, bit for
// bit; `automatic` takes the widest that the processor offers.
enum class MigrationKernel { automatic, portable, avx2, avx512 };

// Whether this build and processor can run `kernel` (`automatic` and `portable` always).
bool migration_kernel_available(MigrationKernel kernel);

// Migrates `input` into `output`: n_traces × n_samples doubles, C-ordered, which the
// caller has zero-filled. Reads the input in place and never writes it. Its scratch
// memory, a copy of the traces that one block of output traces reads and travel-time
// tables, is at most a few times the size of the input; the calling thread keeps it for
// the next call unless it exceeds 64 MiB. Throws std::bad_alloc when that memory cannot
// be had, and InternalFault when `kernel` is not available.
void kirchhoff_migration(const ProfileView& input, const MigrationParameters& parameters, double* output,
                         MigrationKernel kernel = MigrationKernel::automatic);

}  // namespace orvek::dsp

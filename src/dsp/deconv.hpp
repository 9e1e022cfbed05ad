// Spiking and predictive (gapped) deconvolution: Wiener filters designed from each
// trace's own autocorrelation, in 64-bit arithmetic.
//
// The traces come as one flat trace-major matrix: sample s of trace i is element
// i × n_samples + s. Every trace is processed on its own, and the result has exactly
// n_traces × n_samples elements in the same layout; elements of `data` past that are
// ignored. The effective operator length is L = min(n_samples, operator_length).
//
// Faults (InternalFault, nothing is returned):
//   - `data` too short: "range end index {(i + 1) × n_samples} out of range for slice of
//     length {data.size()}" for the first trace i that does not fit;
//   - n_traces ≥ 1 with L = 0: "index out of bounds: the len is 0 but the index is 0".
// A singular system or a trace of (near) zero energy is not a fault (see below).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace orvek::dsp {

// r[k] = Σ values[j] × values[j + k] / (N − k) for k = 0 … min(N, max_lag) − 1: each lag
// summed in increasing j and divided by its own number of products. Empty when N or
// max_lag is 0.
std::vector<double> auto_correlate(std::span<const double> values, std::size_t max_lag);

// Solves the symmetric Toeplitz system whose first column is r (a lag past the end of r
// takes r's last element) for the right-hand side rhs, by dense Gaussian elimination with
// partial pivoting (ties go to the upper row). Nothing when |r[0]| or any pivot
// magnitude is below 1e-30. An empty rhs gives an empty solution; otherwise an empty r
// is the InternalFault of an empty autocorrelation.
std::optional<std::vector<double>> solve_toeplitz(std::span<const double> r, std::span<const double> rhs);

// Spiking deconvolution of every trace: prediction-error filter of length L with the
// zero lag pre-whitened by (1 + pre_whitening). A trace with |r[0]| < 1e-30 comes out as
// zeros; a trace whose system has no solution comes out unchanged.
std::vector<double> spike_deconvolution(std::span<const double> data, std::size_t n_traces,
                                        std::size_t n_samples, std::size_t operator_length,
                                        double pre_whitening);

// Predictive deconvolution with prediction distance `gap`. A gap of 0 or 1 is spiking
// deconvolution. Otherwise each trace keeps its first `gap` samples and loses the part of
// every later sample that its samples from `gap` to `gap` + L − 1 earlier predict; a
// trace with |r[0]| < 1e-30 or without a solution comes out unchanged.
std::vector<double> gapped_deconvolution(std::span<const double> data, std::size_t n_traces,
                                         std::size_t n_samples, std::size_t operator_length, std::size_t gap,
                                         double pre_whitening);

// Receives the output one trace at a time, in trace order; the samples are valid only
// during the call.
using TraceSink = std::function<void(std::span<const double> trace)>;

// The same two routines handing each output trace to `sink` as soon as it is computed,
// so that a caller can move the result where it belongs without a copy of the whole.
// Every fault is raised before the first trace reaches the sink.
void spike_deconvolution(std::span<const double> data, std::size_t n_traces, std::size_t n_samples,
                         std::size_t operator_length, double pre_whitening, const TraceSink& sink);
void gapped_deconvolution(std::span<const double> data, std::size_t n_traces, std::size_t n_samples,
                          std::size_t operator_length, std::size_t gap, double pre_whitening,
                          const TraceSink& sink);

}  // namespace orvek::dsp

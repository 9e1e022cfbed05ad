// Adapters of spiking and gapped deconvolution and of Kirchhoff migration.
#include <cstdint>
#include <optional>
#include <span>

#include "dsp/deconv.hpp"
#include "dsp/migration.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "numpy_api.hpp"

namespace orvek::py {
namespace {

// `data` of the migration: a 2-D float64 NumPy array, else the argument's TypeError.
dsp::ProfileView to_profile(PyObject* object) {
    if (auto view = profile_view(object)) return *view;
    fail_type(object, kProfileTypeName);
    throw argument_failure("data");
}

// Runs a deconvolution whose output traces go straight into a new list of floats, with
// no copy of the whole output in between. The list is made when the first trace
// arrives: by then the routine has checked that every trace fits in `data`, so the
// size is sound.
template <class Run>
Ref deconvolved_list(std::uint64_t n_traces, std::uint64_t n_samples, Run&& run) {
    std::optional<FloatListWriter> list;
    run([&](std::span<const double> trace) {
        if (!list) list.emplace(n_traces * n_samples);
        list->append(trace);
    });
    return list ? std::move(*list).finish() : list_from(std::span<const double>());
}

}  // namespace

Ref call_apply_kirchhoff_migration(const Args& args) {
    to_profile(args[0]);  // `data` is converted first: its TypeError wins over the others
    dsp::MigrationParameters parameters;
    parameters.velocity_m_ns = to_f64(args[1], "velocity_m_ns");
    parameters.sample_interval_ns = to_f64(args[2], "sample_interval_ns");
    parameters.trace_spacing_m = to_f64(args[3], "trace_spacing_m");
    parameters.aperture_traces = to_size(args[4], "aperture_traces");
    // The conversions above may have run Python code (__float__, __index__) that
    // reshaped or re-typed the array: its view is taken afresh after them.
    const dsp::ProfileView input = to_profile(args[0]);
    double* output = nullptr;
    Ref result = new_zeroed_profile(input.n_traces, input.n_samples, output);
    dsp::kirchhoff_migration(input, parameters, output);
    return result;
}

Ref call_apply_spike_deconv(const Args& args) {
    const F64Samples data = to_f64_samples(args[0], "data");
    const std::uint64_t n_traces = to_size(args[1], "n_traces");
    const std::uint64_t n_samples = to_size(args[2], "n_samples");
    const std::uint64_t operator_length = to_size(args[3], "operator_length");
    const double pre_whitening = to_f64(args[4], "pre_whitening");
    return deconvolved_list(n_traces, n_samples, [&](const dsp::TraceSink& sink) {
        dsp::spike_deconvolution(data.span(), n_traces, n_samples, operator_length, pre_whitening, sink);
    });
}

Ref call_apply_gapped_deconv(const Args& args) {
    const F64Samples data = to_f64_samples(args[0], "data");
    const std::uint64_t n_traces = to_size(args[1], "n_traces");
    const std::uint64_t n_samples = to_size(args[2], "n_samples");
    const std::uint64_t operator_length = to_size(args[3], "operator_length");
    const std::uint64_t gap = to_size(args[4], "gap");
    const double pre_whitening = to_f64(args[5], "pre_whitening");
    return deconvolved_list(n_traces, n_samples, [&](const dsp::TraceSink& sink) {
        dsp::gapped_deconvolution(data.span(), n_traces, n_samples, operator_length, gap, pre_whitening, sink);
    });
}

}  // namespace orvek::py

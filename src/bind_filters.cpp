// Adapters of the trace filters: one trace in as 32-bit samples, a new list of floats out.
#include "dsp/filter.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_apply_dewow(const Args& args) {
    const F32Samples data = to_f32_samples(args[0], "data");
    const std::uint64_t window_size = to_size(args[1], "window_size");
    return list_from(dsp::apply_dewow(data.span(), window_size));
}

Ref call_apply_bandpass(const Args& args) {
    const F32Samples data = to_f32_samples(args[0], "data");
    const float sample_rate = to_f32(args[1], "sample_rate");
    const float low_cut = to_f32(args[2], "low_cut");
    const float high_cut = to_f32(args[3], "high_cut");
    return list_from(dsp::apply_bandpass(data.span(), sample_rate, low_cut, high_cut));
}

Ref call_apply_sec_gain(const Args& args) {
    const F32Samples data = to_f32_samples(args[0], "data");
    const float sample_rate = to_f32(args[1], "sample_rate");
    const float alpha = to_f32(args[2], "alpha");
    return list_from(dsp::apply_sec_gain(data.span(), sample_rate, alpha));
}

Ref call_apply_agc(const Args& args) {
    const F32Samples data = to_f32_samples(args[0], "data");
    const std::uint64_t window_size = to_size(args[1], "window_size");
    return list_from(dsp::apply_agc(data.span(), window_size));
}

}  // namespace orvek::py

// Adapters of the SEG-Y functions: parse_segy reads the file and hands its bytes to the
// reader; write_segy hands the caller's samples, in place where it can, to the writer.
#include "functions.hpp"
#include "io/file_access.hpp"
#include "parser/segy.hpp"
#include "parser/segy_write.hpp"

namespace orvek::py {

Ref call_parse_segy(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    SequentialFile file(path);
    return survey_object(segy::read_segy(std::string(path), file));
}

Ref call_write_segy(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    const SampleInput traces = to_samples(args[1], "traces");
    segy::SegyWriteRequest request;
    request.traces = traces.view();
    request.n_traces = to_size(args[2], "n_traces");
    request.n_samples = to_size(args[3], "n_samples");
    request.sample_interval_ns = to_f32(args[4], "sample_interval_ns");
    request.description = to_text(args[5], "description");
    request.format_code = to_i16(args[6], "format_code");
    const std::optional<F32Samples> x = to_optional_f32_samples(args[7], "trace_x_coords");
    const std::optional<F32Samples> y = to_optional_f32_samples(args[8], "trace_y_coords");
    if (x) request.trace_x_coords = x->span();
    if (y) request.trace_y_coords = y->span();
    request.measurement_system = to_i16(args[9], "measurement_system");
    segy::write_segy(path, request);
    return none();
}

}  // namespace orvek::py

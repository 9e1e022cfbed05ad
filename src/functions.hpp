// The adapters behind the module's function table: each converts its bound arguments
// in signature order, runs the native routine and converts the result. They may throw
// PythonError or any native failure; the dispatcher maps them to Python exceptions.
#pragma once

#include "convert.hpp"

namespace orvek::py {

// DZT, DT1 and DZG readers (bind_readers.cpp); MALA and magnetometry (bind_grids.cpp)
Ref call_parse_dzt(const Args& args);
Ref call_parse_dt1(const Args& args);
Ref call_parse_dzg(const Args& args);
Ref call_parse_magnetometry(const Args& args);
Ref call_parse_mala(const Args& args);
// SEG-Y (bind_segy.cpp)
Ref call_parse_segy(const Args& args);
Ref call_write_segy(const Args& args);
// trace filters (bind_filters.cpp)
Ref call_apply_dewow(const Args& args);
Ref call_apply_bandpass(const Args& args);
Ref call_apply_sec_gain(const Args& args);
Ref call_apply_agc(const Args& args);
// deconvolution and migration (bind_deconv.cpp)
Ref call_apply_kirchhoff_migration(const Args& args);
Ref call_apply_spike_deconv(const Args& args);
Ref call_apply_gapped_deconv(const Args& args);

}  // namespace orvek::py

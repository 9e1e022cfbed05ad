// Adapters of the filters functions (placeholder until the routines land).
#include "core/failure.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_apply_dewow(const Args&) { throw InternalFault("apply_dewow is not available yet"); }
Ref call_apply_bandpass(const Args&) { throw InternalFault("apply_bandpass is not available yet"); }
Ref call_apply_sec_gain(const Args&) { throw InternalFault("apply_sec_gain is not available yet"); }
Ref call_apply_agc(const Args&) { throw InternalFault("apply_agc is not available yet"); }

}  // namespace orvek::py

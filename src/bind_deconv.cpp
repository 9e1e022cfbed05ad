// Adapters of the deconv functions (placeholder until the routines land).
#include "core/failure.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_apply_kirchhoff_migration(const Args&) { throw InternalFault("apply_kirchhoff_migration is not available yet"); }
Ref call_apply_spike_deconv(const Args&) { throw InternalFault("apply_spike_deconv is not available yet"); }
Ref call_apply_gapped_deconv(const Args&) { throw InternalFault("apply_gapped_deconv is not available yet"); }

}  // namespace orvek::py

// Adapters of the segy functions (placeholder until the routines land).
#include "core/failure.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_parse_segy(const Args&) { throw InternalFault("parse_segy is not available yet"); }
Ref call_write_segy(const Args&) { throw InternalFault("write_segy is not available yet"); }

}  // namespace orvek::py

// Adapters of the readers functions (placeholder until the routines land).
#include "core/failure.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_parse_dzt(const Args&) { throw InternalFault("parse_dzt is not available yet"); }
Ref call_parse_dt1(const Args&) { throw InternalFault("parse_dt1 is not available yet"); }
Ref call_parse_dzg(const Args&) { throw InternalFault("parse_dzg is not available yet"); }

}  // namespace orvek::py

// Adapters of the MALA and magnetometry readers (placeholder until the routines land).
#include "core/failure.hpp"
#include "functions.hpp"

namespace orvek::py {

Ref call_parse_magnetometry(const Args&) { throw InternalFault("parse_magnetometry is not available yet"); }
Ref call_parse_mala(const Args&) { throw InternalFault("parse_mala is not available yet"); }

}  // namespace orvek::py

// The entry layer's own state (one copy per build): the request's
// polynomial table, the debug level, the options reader and the export
// buffer of the receive entry.
#pragma once
#include "core/quor_build.h"

#include "api/transfer.h"

namespace quor::QUOR_NS {

// The request's polynomials (inputs, then results); global_nb (api/request.h) of them are valid.
extern InPoly base[kMaxiBase];
// Debug level: non-zero turns the recorder on at the next init.
extern i32 current_debug;

// Outcome of reading an options array.
enum class OptionsCheck {
  ok,
  too_few,           // o[0] < 4
  beyond_the_array,  // o[0] claims more entries than the array holds
};
// Fills d from the strategy code, _nb, _force_elim and the options o[0 .. count-1]
// (o[0] = the number of options counting itself; fields past o[0] take their defaults).
OptionsCheck fill_comp_desc(sQUOR_Comp_Desc& d, I32 code, I32 nb, I32 force_elim, const I32* o, i64 count);

// Forgets the export buffer of the receive entry.
QUOR_EXPORT void QUOR_NAME(local_reset_memory)();

}  // namespace quor::QUOR_NS

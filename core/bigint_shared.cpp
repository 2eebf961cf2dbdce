// GMP's memory functions are process-wide: the remembered triple is the one
// the host services keep (one for both builds); these names reach it.
#include "core/bigint_shared.h"
#include "host/C/host_sink_shared.h"

namespace quor {

void memo_mp_set_memory_functions(gmp_alloc_fn a, gmp_realloc_fn r, gmp_free_fn f) {
  Quor_push_gmp_alloc_fnct(a, r, f);
}

// Without a remembered triple the host's functions are still in place:
// nothing is installed (an empty triple would select GMP's defaults).
void memo_reset_mp_set_memory_functions() { Quor_pop_gmp_alloc_fnct(); }

void memo_reset_mp_set_memory_functions_safe() { Quor_pop_gmp_alloc_fnct(); }

int memo_mp_memory_functions_set() { return gmp_alloc_switched() ? 1 : 0; }

}  // namespace quor

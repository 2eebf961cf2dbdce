// The change of ordering behind the bridge: a zero-dimensional reduced basis
// for the engine's order becomes the lexicographic basis in shape position
// for the last variable.  It runs one sparse FGLM per prime of the block on
// the multiplication matrix by x_last (engine/multmatrix.h), the same matrix
// the matrix request builds; the integer passes of the dispatch lift the
// results as they lift any other.
//
// Results, in list order (increasing leading monomial for the lexicographic
// order): f(x_last), then x_j + g_j(x_last) for j = n-2 down to 0; with
// flag = 1 the minimal polynomial f alone.  With sqfr = 1, f is the
// square-free part of the minimal polynomial and every g_j is reduced by it
// (the shape basis of the radical when the quotient is cyclic).
#include "engine/tesk_bridge.h"

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/monomial.h"
#include "engine/multmatrix.h"
#include "engine/zerodim_checks.h"
#include "host/C/host_services.h"
#if !QUOR_INT
#include "minpolyvgf/prime_sign.h"
#endif

namespace quor::QUOR_NS {

#if QUOR_INT
u32 lib_fast_chg_order(Dpol* G, u32 nG, Dpol* out, i32 sqfr, i32 flag, i32 estimate, i32 dump) {
  const double t0 = QUOR_NAME(cpu)();
  const u32 dim = zero_dim_quotient(G, nG);
  if (dump) lib_dump_mult_matrix(G, nG);
  const bool minpoly_only = flag != 0;
  if (!minpoly_only && !shape_position_checked(G, nG, dim)) return 0;
  SoftFglmFailure soft;
  MultMatrix M;
  build_mult_matrix(G, nG, dim, &M);
  const double t1 = QUOR_NAME(cpu)();
  QUOR_NAME(Stderr)("Send polys to Tesk: %.2fsec\n", t1 - t0);
  const ShapeResidues r = sparse_fglm_slots(&M, sqfr, minpoly_only, estimate);
  const double t2 = QUOR_NAME(cpu)();
  QUOR_NAME(Stderr)("FGLM: %.2fsec\n", t2 - t1);
  const u32 last = M.n - 1;
  u32 k = 0;
  out[k++] = shape_result(r, last);
  if (!minpoly_only)
    for (u32 j = last; j-- > 0;) out[k++] = shape_result(r, j);
  QUOR_NAME(Stderr)("Receive polys from Tesk: %.2fsec\n", QUOR_NAME(cpu)() - t2);
  return minimal_polynomial_sound(out[0], dim, minpoly_only, sqfr != 0) ? k : 0;
}
#else
u32 lib_fast_chg_order(Dpol*, u32, Dpol*, i32, i32, i32, i32) {
  QUOR_NAME(Fatal)("Change of ordering: not available in the prime-field build\n");
}
#endif

}  // namespace quor::QUOR_NS

// Column byte code: the zone-backed encoder, the expander and the named
// kernels of the eliminations (thin wrappers over the templates of the header).
#include "engine/lzw_code.h"

#include <atomic>

#include "core/channels.h"
#include "core/zone.h"
#include "engine/symbolic.h"

namespace quor::QUOR_NS {

u32 context_vectorize = 0;
u32 QUOR_NAME(Prime) = 0;

u8* compress_lzw(const u32* positions, u32 n, u32* codes, u64* bytes) {
  // One allocation of the worst case, the unused tail given back at once.
  const u64 worst = lzw_worst_bytes(n);
  u8* out = static_cast<u8*>(QUOR_NAME(alloc64)(worst));
  const u64 b = n < 2 ? 0 : lzw_encode(positions, n, out, worst, codes);
  if (n < 2) *codes = 0;
  QUOR_NAME(realloca)(out, b, worst);
  *bytes = b;
  return out;
}

void decompress_lzw(LzwAcc* acc, const sALGO_Dpol* row) {
  lzw_expand<Dom>(acc, row->span, row->code, row->nb_codes, row->coeffs[context_vectorize]);
}

#if QUOR_INT
void QUOR_NAME(lzw_basic_step_lin_d_2)(LzwCell96* acc, u32 m, const u8* code, const u32* coef,
                                      u32 ncodes) {
  lzw_axpy<u32>(acc, m, code, coef, ncodes);
}
#else
u64 complexite = 0;

void QUOR_NAME(lzw_basic_step_lin_d_2)(u64* acc, u32 m, const u8* code, const u16* coef,
                                      u32 ncodes) {
  // Several threads back-reduce at once: one atomic addition per row.
  const u64 n = lzw_axpy<u16>(acc, m, code, coef, ncodes);
  std::atomic_ref<u64>(complexite).fetch_add(n, std::memory_order_relaxed);
}

void QUOR_NAME(lzw_basic_step_lin_d_multi)(u64* acc, u32 m, const u8* code, const u16* coef,
                                          u32 ncodes) {
  lzw_axpy<u16>(acc, m, code, coef, ncodes);
}

void comb_linear_step1_lzw(u64* cell, const sALGO_Dpol* pivot) {
  const u32 p = QUOR_NAME(Prime);
  const u32 c = u32(*cell % p);
  QUOR_NAME(lzw_basic_step_lin_d_2)(cell, c ? p - c : 0, pivot->code, pivot->coeffs[0],
                                    pivot->nb_codes);
  *cell = 0;
}

u64* lzw_lin_d_multi(u64* cells, u32* lead, u32* span, const u8* code, const u16* coef,
                     u32 ncodes) {
  const u32 p = QUOR_NAME(Prime);
  const u32 c = u32(cells[0] % p);
  lzw_axpy<u16>(cells, c ? p - c : 0, code, coef, ncodes);
  cells[0] = 0;
  const u32 sp = *span;
  for (u32 k = 1; k < sp; ++k) {
    const u64 r = cells[k] % p;
    cells[k] = r;
    if (r) {
      *lead += k;
      *span = sp - k;
      return cells + k;
    }
  }
  *lead = 0;
  *span = 0;
  return nullptr;
}
#endif

}  // namespace quor::QUOR_NS

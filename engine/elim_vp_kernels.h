// AXPY kernels of the integer elimination driven by decoded positions: a
// pivot row's code is decoded once (lzw_tail_positions) into the positions
// of its entries after the lead, and every AXPY with it walks that array
// instead of the byte code, whose run/gap branches mispredict on short runs.
// Cells are WrapMod's (engine/elim_kernels.h): 64-bit, modulo 2^64 - p^2.
#ifndef QUOR_ENGINE_ELIM_VP_KERNELS_H
#define QUOR_ENGINE_ELIM_VP_KERNELS_H
#include "engine/elim_kernels.h"

namespace quor {

// The delayed-reduction bound of every kernel here: a product of two
// residues, and p^2 itself, fit a 64-bit cell, so add() absorbs any number
// of products (there is no count to bound between two reductions).
static_assert((unsigned __int128)0xFFFFFFFFu * 0xFFFFFFFFu < ((unsigned __int128)1 << 64),
              "a product of two residues and p^2 fit a 64-bit wrapping cell");

// cells[pos[j]] = mod.add(cells[pos[j]], m * coef[j]) for j < n; the
// positions are distinct, m < p.
inline void wrap_axpy_at(u64* cells, u64 m, const u32* pos, const u32* coef, u32 n, const WrapMod& mod) {
#pragma GCC unroll 4
  for (u32 j = 0; j < n; ++j) {
    u64& c = cells[pos[j]];
    c = mod.add(c, m * coef[j]);
  }
}

// The same over G interleaved slots: cells[G*pos[j] + g] += m[g] * coef[g][j]
// in the wrapping cells of mods[g].
template <u32 G>
inline void wrap_axpy_group_at(u64* cells, const u64* m, const u32* pos, u32 n, const u32* const* coef,
                               const WrapMod* mods) {
  for (u32 j = 0; j < n; ++j) {
    u64* q = cells + u64(pos[j]) * G;
    for (u32 g = 0; g < G; ++g) q[g] = mods[g].add(q[g], m[g] * coef[g][j]);
  }
}

// wrap_axpy_group_at<8> with the coefficients transposed (tcoef[8*j + g] =
// entry j of slot g) on AVX2 (see wrap_simd_available), four slots per vector.
__attribute__((target("avx2"))) inline void wrap_axpy8_at_avx2(u64* cells, const u64* m, const u32* pos, u32 n,
                                                              const u32* tcoef, const WrapMod* mods) {
  u64 c2[8];
  for (u32 g = 0; g < 8; ++g) c2[g] = mods[g].c2;
  Wrap8Consts k;
  k.m_lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
  k.m_hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + 4));
  k.c2_lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c2));
  k.c2_hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c2 + 4));
  k.sign = _mm256_set1_epi64x(i64(u64(1) << 63));
  for (u32 j = 0; j < n; ++j) wrap8_update(cells + u64(pos[j]) * 8, tcoef + 8 * u64(j), k);
}

// Rows as lanes: kLanes rows reduced together modulo one prime, cell (k, g)
// at cells[kLanes*k + g].  cells[kLanes*pos[j] + g] += m[g] * coef[j] for
// j < n: one pivot, whose coefficient is the same for every lane (a lane
// that does not need the pivot takes m[g] = 0).
inline constexpr u32 kLanes = 8;
inline void wrap_axpy_lanes_at(u64* cells, const u64* m, const u32* pos, u32 n, const u32* coef,
                               const WrapMod& mod) {
  for (u32 j = 0; j < n; ++j) {
    u64* q = cells + u64(pos[j]) * kLanes;
    const u64 c = coef[j];
    for (u32 g = 0; g < kLanes; ++g) q[g] = mod.add(q[g], m[g] * c);
  }
}

// wrap_axpy_lanes_at on AVX2 (see wrap_simd_available): the coefficient
// broadcast, four lanes per vector.
__attribute__((target("avx2"))) inline void wrap_axpy_lanes_avx2(u64* cells, const u64* m, const u32* pos, u32 n,
                                                                const u32* coef, const WrapMod& mod) {
  Wrap8Consts k;
  k.m_lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
  k.m_hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + 4));
  k.c2_lo = k.c2_hi = _mm256_set1_epi64x(i64(mod.c2));
  k.sign = _mm256_set1_epi64x(i64(u64(1) << 63));
  alignas(32) u32 c8[8];
  for (u32 j = 0; j < n; ++j) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(c8), _mm256_set1_epi32(i32(coef[j])));
    wrap8_update(cells + u64(pos[j]) * kLanes, c8, k);
  }
}

// 1 when this processor runs the 512-bit kernels below.
inline bool wrap_avx512_available() { return simd_avx512(); }

// add_g(x[g], m[g] * c[g]) for the 8 cells of one column: vpmuludq
// takes the low 32 bits of the factors (residues and multipliers below p),
// and a carry out of 64 bits is an unsigned compare of the sum with the
// product.  (The zero-masked forms with a full mask are the plain
// instructions; the unmasked intrinsics trip GCC 12's uninitialised warning.)
__attribute__((target("avx512f"))) inline __m512i wrap8_madd512(__m512i x, __m512i c, __m512i m, __m512i c2) {
  const __m512i prod = _mm512_maskz_mul_epu32(0xFF, c, m);
  const __m512i sum = _mm512_add_epi64(x, prod);
  return _mm512_mask_add_epi64(sum, _mm512_cmplt_epu64_mask(sum, prod), sum, c2);
}
// The same on 8 cells in memory.
__attribute__((target("avx512f"))) inline void wrap8_update512(u64* q, __m512i c, __m512i m, __m512i c2) {
  _mm512_storeu_si512(q, wrap8_madd512(_mm512_loadu_si512(q), c, m, c2));
}

// wrap_axpy_lanes_at on 512-bit vectors (see wrap_avx512_available).
__attribute__((target("avx512f"))) inline void wrap_axpy_lanes_avx512(u64* cells, const u64* m, const u32* pos,
                                                                     u32 n, const u32* coef, const WrapMod& mod) {
  const __m512i mv = _mm512_loadu_si512(m), c2v = _mm512_set1_epi64(i64(mod.c2));
  for (u32 j = 0; j < n; ++j)
    wrap8_update512(cells + u64(pos[j]) * kLanes, _mm512_set1_epi32(i32(coef[j])), mv, c2v);
}

// NR rows of one interleaved accumulator over a group of 8 slots (column k
// of a row at cells[k * stride + its offset]), one pivot: for a < NR,
// cells[pos[j] * stride + roff[a] + g] += m[8a + g] * tcoef[8j + g].  One
// load of the pivot's coefficients serves every row.
template <u32 NR>
__attribute__((target("avx512f"))) inline void wrap_axpy8_rows_avx512(u64* cells, u64 stride, const u32* roff,
                                                                     const u64* m, const u32* pos, u32 n,
                                                                     const u32* tcoef, const WrapMod* mods) {
  u64 c2[8];
  for (u32 g = 0; g < 8; ++g) c2[g] = mods[g].c2;
  const __m512i c2v = _mm512_loadu_si512(c2);
  __m512i mv[NR];
  for (u32 a = 0; a < NR; ++a) mv[a] = _mm512_loadu_si512(m + 8 * a);
  for (u32 j = 0; j < n; ++j) {
    const __m256i c32 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tcoef + 8 * u64(j)));
    const __m512i c = _mm512_maskz_cvtepu32_epi64(0xFF, c32);
    u64* q = cells + pos[j] * stride;
    for (u32 a = 0; a < NR; ++a) wrap8_update512(q + roff[a], c, mv[a], c2v);
  }
}

// wrap_axpy8_at_avx2 on 512-bit vectors (see wrap_avx512_available): one row.
__attribute__((target("avx512f"))) inline void wrap_axpy8_at_avx512(u64* cells, const u64* m, const u32* pos, u32 n,
                                                                   const u32* tcoef, const WrapMod* mods) {
  const u32 off = 0;
  wrap_axpy8_rows_avx512<1>(cells, 8, &off, m, pos, n, tcoef, mods);
}

// WrapMod::of lane by lane for 8 cells: lane g modulo p[g], with v[g] its
// constant floor((2^64 - p*2^32) / p); the steps of normal2_step, so the
// same residues.
__attribute__((target("avx512f"))) inline __m512i wrap8_residues512(__m512i x, __m512i p, __m512i v) {
  const __m512i low32 = _mm512_set1_epi64(0xFFFFFFFF), two32 = _mm512_set1_epi64(i64(1) << 32);
  __m512i hi = _mm512_maskz_srli_epi64(0xFF, x, 32);
  hi = _mm512_mask_sub_epi64(hi, _mm512_cmpge_epu64_mask(hi, p), hi, p);
  const __m512i est = _mm512_maskz_srli_epi64(0xFF, _mm512_maskz_mul_epu32(0xFF, hi, v), 32);
  const __m512i q = _mm512_and_si512(_mm512_add_epi64(hi, est), low32);
  const __m512i num = _mm512_or_si512(_mm512_maskz_slli_epi64(0xFF, hi, 32), _mm512_and_si512(x, low32));
  __m512i r = _mm512_sub_epi64(num, _mm512_maskz_mul_epu32(0xFF, q, p));
  r = _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, two32), r, p);
  r = _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, two32), r, p);
  return _mm512_mask_sub_epi64(r, _mm512_cmpge_epu64_mask(r, p), r, p);
}

// r[g] = WrapMod::of(c[g]) modulo p[g], v[g] its constant, for g < 8.
__attribute__((target("avx512f"))) inline void wrap8_residues(const u64* c, const u64* p, const u64* v, u64* r) {
  _mm512_storeu_si512(r, wrap8_residues512(_mm512_loadu_si512(c), _mm512_loadu_si512(p), _mm512_loadu_si512(v)));
}

}  // namespace quor
#endif

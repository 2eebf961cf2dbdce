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

}  // namespace quor
#endif

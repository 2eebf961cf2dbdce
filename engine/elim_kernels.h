// Reduction kernels of the eliminations, written once for both residue
// widths: the residue of an accumulator cell, the search of the next lead,
// the compactions of an accumulator row into a coefficient array, and the
// sort of the matrix rows.
//
// Accumulator cells are Mod::Cell, CellMod<D> by default: LzwCell<D>::type
// (engine/lzw_code.h), a u64 for 16-bit residues and three u32 words for
// 32-bit residues.  The integer elimination uses WrapMod instead: 32-bit
// residues in u64 cells that wrap modulo 2^64 - p^2, optionally interleaved
// over a group of primes.  The AXPY kernels add products without reducing;
// a cell is reduced here only when it is inspected.  A reduced cell holds
// its residue alone (upper words cleared).
#ifndef QUOR_ENGINE_ELIM_KERNELS_H
#define QUOR_ENGINE_ELIM_KERNELS_H
#include <immintrin.h>

#include <cstring>

#include "core/quor_build.h"
#include "engine/lzw_code.h"

namespace quor {

// Largest number of columns of a matrix.  Every AXPY into a row eliminates
// one of its columns, so no cell takes more than kElimMaxColumns products
// between two reductions: the delayed reduction below is safe for both widths.
inline constexpr u64 kElimMaxColumns = (u64(1) << 31) - 2;
static_assert(kElimMaxColumns + 1 <= LzwCell<u16>::kMaxAdds,
              "a 64-bit cell must absorb one product of 16-bit residues per column");
static_assert(kElimMaxColumns + 1 <= LzwCell<u32>::kMaxAdds,
              "the high word of a 96-bit cell must stay below p > 2^31");

// Prime-field elimination: rows-to-reduce times columns per thread below
// which a matrix runs on fewer threads (the result is the same; tests lower it).
extern u64 elim_cells_per_thread;

// (hi*2^32 + lo) mod p for p > 2^31 and hi < p, with v = floor((2^64 - p*2^32)/p):
// the estimated quotient is at most 3 below the true one.
inline u32 normal2_step(u32 hi, u32 lo, u32 p, u32 v) {
  const u32 q = u32(hi + ((u64(hi) * v) >> 32));
  u64 r = ((u64(hi) << 32) | lo) - u64(q) * p;
  if (r >> 32) r -= p;
  if (r >> 32) r -= p;
  if (r >= p) r -= p;
  return u32(r);
}

// Modulus of one residue width: residues, products and cells modulo p.
template <class D> struct CellMod;

// 16-bit residues, 64-bit cells: x mod p by a multiply-high with
// m = floor((2^64 - 1)/p); the quotient estimate is at most 1 below the true one.
template <> struct CellMod<u16> {
  using Cell = u64;
  u32 p;
  u64 m;
  explicit CellMod(u32 prime) : p(prime), m(~u64(0) / prime) {}
  u32 of(u64 x) const {
    const u64 q = u64((unsigned __int128)x * m >> 64);
    u64 r = x - q * p;
    if (r >= p) r -= p;
    return u32(r);
  }
  u32 residue(const Cell& c) const { return of(c); }
  u32 mul(u32 a, u32 b) const { return of(u64(a) * b); }
  static bool zero(const Cell& c) { return c == 0; }
  static u32 low(const Cell& c) { return u32(c); }
  static void set(Cell& c, u32 r) { c = r; }
};

// 32-bit residues (p > 2^31), 96-bit cells.  The cell's residue needs w2 < p.
template <> struct CellMod<u32> {
  using Cell = LzwCell96;
  u32 p;
  u32 v;
  explicit CellMod(u32 prime) : p(prime), v(u32(((u64(0) - prime) << 32) / prime)) {}
  CellMod(u32 prime, u32 inv) : p(prime), v(inv) {}
  u32 of(u64 x) const { return normal2_step(u32(x >> 32), u32(x), p, v); }
  u32 residue(const Cell& c) const {
    u32 r1;
    if (c.w[2]) r1 = normal2_step(c.w[2], c.w[1], p, v);
    else r1 = c.w[1] >= p ? c.w[1] - p : c.w[1];
    return normal2_step(r1, c.w[0], p, v);
  }
  u32 mul(u32 a, u32 b) const { return of(u64(a) * b); }
  static bool zero(const Cell& c) { return (c.w[0] | c.w[1] | c.w[2]) == 0; }
  static u32 low(const Cell& c) { return c.w[0]; }
  static void set(Cell& c, u32 r) { c.w[0] = r, c.w[1] = 0, c.w[2] = 0; }
};

// 32-bit residues (2^31 < p < 2^32) in 64-bit cells kept modulo 2^64 - p^2
// (the integer elimination's accumulator): a cell holds some value
// congruent to its entry.  Adding a product m*c (m, c < p, so below p^2)
// that carries out of 64 bits subtracts p^2 from the true sum, which then
// lies in [2^64 - p^2, 2^64): a cell absorbs any number of products with one
// compare, and a 64-bit cell's residue takes one reduction step.
struct WrapMod {
  using Cell = u64;
  u32 p;
  u32 v;   // floor((2^64 - p*2^32) / p)
  u64 c2;  // 2^64 - p^2
  explicit WrapMod(u32 prime)
      : p(prime), v(u32(((u64(0) - prime) << 32) / prime)), c2(u64(0) - u64(prime) * prime) {}
  u64 add(u64 c, u64 prod) const {
    // Carries are frequent and random: a mask, never a branch.
    const u64 s = c + prod;
    return s + (c2 & (u64(0) - u64(s < prod)));
  }
  u32 of(u64 x) const {
    u32 hi = u32(x >> 32);
    if (hi >= p) hi -= p;
    return normal2_step(hi, u32(x), p, v);
  }
  u32 residue(const Cell& c) const { return of(c); }
  u32 mul(u32 a, u32 b) const { return of(u64(a) * b); }
  static bool zero(const Cell& c) { return c == 0; }
  static u32 low(const Cell& c) { return u32(c); }
  static void set(Cell& c, u32 r) { c = r; }
};
// The bound behind add(): p < 2^32, so a product of residues (< p^2) and
// p^2 itself fit 64 bits, and c + prod - p^2 < 2^64 for every cell c.
static_assert((unsigned __int128)0xFFFFFFFFu * 0xFFFFFFFFu < ((unsigned __int128)1 << 64),
              "p^2 and every product of two residues fit a 64-bit cell");

// Clears span cells and writes coef (column order, lead first) at the
// row's positions.
inline void wrap_expand(u64* cells, u64 span, const u8* code, u32 ncodes, const u32* coef) {
  std::memset(static_cast<void*>(cells), 0, span * sizeof(u64));
  cells[0] = coef[0];
  const u32* cf = coef + 1;
  lzw_walk(
      code, ncodes, [&](u64 p) { cells[p] = *cf++; },
      [&](u64 p, u32 r) {
        for (u32 j = 0; j < r; ++j) cells[p + j] = cf[j];
        cf += r;
      });
}

// Interleaved accumulator of G prime slots sharing one column pattern:
// cell (k, g) at cells[k*G + g].  cells[G*k + g] += m[g] * coef[g][entry]
// for every entry after the pivot's lead (cells at the pivot's lead group),
// each slot in the wrapping cells of mods[g]; the code is read once for
// the G slots.
template <u32 G>
inline void wrap_axpy_group(u64* cells, const u64* m, const u8* s, u32 ncodes, const u32* const* coef,
                            const WrapMod* mods) {
  u64* pos = cells;
  u32 j = 1;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (b >= 0x80 && b != 0xFF) {
      const u32 r = b & 0x7F;
      for (u32 t = 0; t < r; ++t) {
        u64* q = pos + u64(t + 1) * G;
        for (u32 g = 0; g < G; ++g) q[g] = mods[g].add(q[g], m[g] * coef[g][j + t]);
      }
      pos += u64(r) * G;
      j += r;
    } else {
      pos += lzw_read_gap(b, s) * G;
      for (u32 g = 0; g < G; ++g) pos[g] = mods[g].add(pos[g], m[g] * coef[g][j]);
      ++j;
    }
  }
}

// Constants of one vector AXPY: multipliers, wrap constants (slots 0-3 and
// 4-7) and the sign flip of the unsigned compare.
struct Wrap8Consts {
  __m256i m_lo, m_hi, c2_lo, c2_hi, sign;
};

// q[g] = add_g(q[g], m[g] * c[g]) for the 8 slots of one entry.
__attribute__((target("avx2"))) inline void wrap8_update(u64* q, const u32* c, const Wrap8Consts& k) {
  const __m256i cv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
  const __m256i p_lo = _mm256_mul_epu32(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(cv)), k.m_lo);
  const __m256i p_hi = _mm256_mul_epu32(_mm256_cvtepu32_epi64(_mm256_extracti128_si256(cv, 1)), k.m_hi);
  __m256i s_lo = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), p_lo);
  __m256i s_hi = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 4)), p_hi);
  const __m256i k_lo = _mm256_cmpgt_epi64(_mm256_xor_si256(p_lo, k.sign), _mm256_xor_si256(s_lo, k.sign));
  const __m256i k_hi = _mm256_cmpgt_epi64(_mm256_xor_si256(p_hi, k.sign), _mm256_xor_si256(s_hi, k.sign));
  s_lo = _mm256_add_epi64(s_lo, _mm256_and_si256(k_lo, k.c2_lo));
  s_hi = _mm256_add_epi64(s_hi, _mm256_and_si256(k_hi, k.c2_hi));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), s_lo);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 4), s_hi);
}

// wrap_axpy_group<8> with the pivot's coefficients transposed (tcoef[8*j + g]
// = entry j of slot g), four slots per 256-bit vector: the product of two
// 32-bit residues is vpmuludq's, and the carry test of add() is an unsigned
// 64-bit compare made signed by flipping the top bits.  Needs AVX2 (see
// wrap_simd_available).
__attribute__((target("avx2"))) inline void wrap_axpy8_avx2(u64* cells, const u64* m, const u8* s, u32 ncodes,
                                                           const u32* tcoef, const WrapMod* mods) {
  Wrap8Consts k;
  k.m_lo = _mm256_set_epi64x(i64(m[3]), i64(m[2]), i64(m[1]), i64(m[0]));
  k.m_hi = _mm256_set_epi64x(i64(m[7]), i64(m[6]), i64(m[5]), i64(m[4]));
  k.c2_lo = _mm256_set_epi64x(i64(mods[3].c2), i64(mods[2].c2), i64(mods[1].c2), i64(mods[0].c2));
  k.c2_hi = _mm256_set_epi64x(i64(mods[7].c2), i64(mods[6].c2), i64(mods[5].c2), i64(mods[4].c2));
  k.sign = _mm256_set1_epi64x(i64(u64(1) << 63));
  u64* pos = cells;
  const u32* cf = tcoef + 8;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (b >= 0x80 && b != 0xFF) {
      const u32 r = b & 0x7F;
      for (u32 t = 0; t < r; ++t) wrap8_update(pos + u64(t + 1) * 8, cf + 8 * t, k);
      pos += u64(r) * 8;
      cf += 8 * r;
    } else {
      pos += lzw_read_gap(b, s) * 8;
      wrap8_update(pos, cf, k);
      cf += 8;
    }
  }
}

// Widest vector instructions the kernels may take: 2 AVX-512, 1 AVX2, 0
// none (what the processor has, in any case).  Tests lower it to run the
// narrower paths that other processors take.
inline int simd_cap = 2;
// 1 when the kernels may use AVX2 / AVX-512 here.
inline bool simd_avx2() {
  static const bool ok = __builtin_cpu_supports("avx2");
  return ok && simd_cap >= 1;
}
inline bool simd_avx512() {
  static const bool ok = __builtin_cpu_supports("avx512f");
  return ok && simd_cap >= 2;
}

// 1 when this processor runs wrap_axpy8_avx2.
inline bool wrap_simd_available() { return simd_avx2(); }

// wrap_axpy_group<1> with the runs of the code four entries per 256-bit
// vector (the same sums as the scalar loop, cell by cell, so the same cells):
// m * coef is vpmuludq's, add()'s carry an unsigned compare made signed.
// Needs AVX2 (see wrap_simd_available).
// vpmuludq reads 32 bits of each factor: the multiplier (below p) and the
// residues must fit them, and their product a 64-bit lane.
static_assert((unsigned __int128)0xFFFFFFFFu * 0xFFFFFFFFu < ((unsigned __int128)1 << 64),
              "a product of two 32-bit factors fits a 64-bit lane");
__attribute__((target("avx2"))) inline void wrap_axpy1_avx2(u64* cells, u64 m, const u8* s, const u32* coef,
                                                           u32 ncodes, const WrapMod& mod) {
  const __m256i mv = _mm256_set1_epi64x(i64(m));
  const __m256i c2 = _mm256_set1_epi64x(i64(mod.c2));
  const __m256i sign = _mm256_set1_epi64x(i64(u64(1) << 63));
  u64* pos = cells;
  const u32* cf = coef + 1;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (b >= 0x80 && b != 0xFF) {
      const u32 r = b & 0x7F;
      u64* q = pos + 1;
      u32 t = 0;
      for (; t + 4 <= r; t += 4) {
        const __m256i c = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cf + t)));
        const __m256i prod = _mm256_mul_epu32(c, mv);
        __m256i sum = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + t)), prod);
        const __m256i carry = _mm256_cmpgt_epi64(_mm256_xor_si256(prod, sign), _mm256_xor_si256(sum, sign));
        sum = _mm256_add_epi64(sum, _mm256_and_si256(carry, c2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + t), sum);
      }
      for (; t < r; ++t) q[t] = mod.add(q[t], m * cf[t]);
      pos += r;
      cf += r;
    } else {
      pos += lzw_read_gap(b, s);
      *pos = mod.add(*pos, m * *cf++);
    }
  }
}

// The one-slot case: cells[pos] += m * coef[entry] for every entry after
// the pivot's lead (m < p).
inline void wrap_axpy(u64* cells, u64 m, const u8* code, const u32* coef, u32 ncodes, const WrapMod& mod) {
  if (wrap_simd_available()) return wrap_axpy1_avx2(cells, m, code, coef, ncodes, mod);
  wrap_axpy_group<1>(cells, &m, code, ncodes, &coef, &mod);
}

// First k of from .. end-1 whose cell is not zero, end when none: rows are
// mostly empty, so 64-bit cells are tested four at a time.  Other cells
// are taken one by one.
inline u64 first_nonzero_cell(const u64* cells, u64 from, u64 end) {
  u64 k = from;
  while (k + 4 <= end && (cells[k] | cells[k + 1] | cells[k + 2] | cells[k + 3]) == 0) k += 4;
  while (k < end && cells[k] == 0) ++k;
  return k;
}
template <class Cell>
inline u64 first_nonzero_cell(const Cell*, u64 from, u64) {
  return from;
}

// Reduces cell in place and returns its residue.
template <class D, class Mod = CellMod<D>>
inline u32 reduce_cell(typename Mod::Cell& c, const Mod& mod) {
  // Accumulator rows are mostly empty: an empty cell costs one test.
  if (Mod::zero(c)) return 0;
  const u32 r = mod.residue(c);
  Mod::set(c, r);
  return r;
}

// Clears cell 0, then reduces cells 1, 2, ... until one has a non-zero
// residue: returns its position (cell reduced), or 0 when all of the span vanish.
template <class D, class Mod = CellMod<D>>
inline u64 next_lead(typename Mod::Cell* cells, u64 span, const Mod& mod) {
  Mod::set(cells[0], 0);
  for (u64 k = first_nonzero_cell(cells, 1, span); k < span; k = first_nonzero_cell(cells, k + 1, span))
    if (reduce_cell<D, Mod>(cells[k], mod)) return k;
  return 0;
}

// Eliminates the lead cell with a pivot whose lead lies there (its lead
// coefficient taken as 1), then moves to the next non-zero cell.  Returns
// that position, or 0 when the row vanished; *products counts the products.
template <class D>
inline u64 eliminate_lead(typename CellMod<D>::Cell* cells, u64 span, const u8* code,
                          const D* coef, u32 ncodes, const CellMod<D>& mod, u64* products) {
  const u32 c = mod.residue(cells[0]);
  if (c) *products += lzw_axpy<D>(cells, mod.p - c, code, coef, ncodes);
  return next_lead<D>(cells, span, mod);
}

// Compaction of cells already reduced (residue in the low word): the non-zero
// entries of positions 0 .. span-1 into coef / pos; returns their count.
template <class D, class Mod = CellMod<D>>
inline u32 compact_reduced(const typename Mod::Cell* cells, u64 span, D* coef, u32* pos) {
  u32 n = 0;
  for (u64 k = 0; k < span; ++k) {
    const u32 r = Mod::low(cells[k]);
    if (r) coef[n] = D(r), pos[n++] = u32(k);
  }
  return n;
}

// Compaction that reduces every cell first; returns the count of non-zero entries.
template <class D, class Mod = CellMod<D>>
inline u32 compact_long(typename Mod::Cell* cells, u64 span, D* coef, u32* pos, const Mod& mod) {
  u32 n = 0;
  for (u64 k = 0; k < span; ++k) {
    const u32 r = reduce_cell<D, Mod>(cells[k], mod);
    if (r) coef[n] = D(r), pos[n++] = u32(k);
  }
  return n;
}

// Compaction of 64-bit cells that are mostly empty: empty runs are skipped
// four cells at a time, each other cell reduced; the non-zero entries go to
// coef / pos and every cell is left empty (the accumulator is ready for the
// next row).  Returns their count.
template <class D, class Mod>
inline u32 compact_sparse_scalar(u64* cells, u64 span, D* coef, u32* pos, const Mod& mod) {
  u32 n = 0;
  for (u64 k = first_nonzero_cell(cells, 0, span); k < span; k = first_nonzero_cell(cells, k + 1, span)) {
    const u32 r = mod.residue(cells[k]);
    cells[k] = 0;
    if (r) coef[n] = D(r), pos[n++] = u32(k);
  }
  return n;
}
// The same, eight cells tested at once: their non-zero ones as a mask.
template <class D, class Mod>
__attribute__((target("avx512f"))) u32 compact_sparse_avx512(u64* cells, u64 span, D* coef, u32* pos,
                                                             const Mod& mod) {
  u32 n = 0;
  auto take = [&](u64 k) {
    const u32 r = mod.residue(cells[k]);
    cells[k] = 0;
    if (r) coef[n] = D(r), pos[n++] = u32(k);
  };
  u64 k = 0;
  for (; k + 8 <= span; k += 8) {
    const __m512i v = _mm512_loadu_si512(cells + k);
    for (u32 m = _mm512_test_epi64_mask(v, v); m; m &= m - 1) take(k + u32(__builtin_ctz(m)));
  }
  for (; k < span; ++k)
    if (cells[k]) take(k);
  return n;
}
template <class D, class Mod>
inline u32 compact_sparse(u64* cells, u64 span, D* coef, u32* pos, const Mod& mod) {
  if (simd_avx512()) return compact_sparse_avx512<D>(cells, span, coef, pos, mod);
  return compact_sparse_scalar<D>(cells, span, coef, pos, mod);
}

// Compaction onto a given pattern of n positions: coef[j] = residue at
// pat[j] (zero included).  reduce: cells are reduced first (else they already
// are).  Returns the number of non-zero residues outside the pattern (the
// row then disagrees with the pattern's prime); *zeros counts the pattern
// positions whose residue is 0.
template <class D, class Mod = CellMod<D>>
inline u32 compact_onto(typename Mod::Cell* cells, u64 span, const u32* pat, u32 n, D* coef,
                        bool reduce, const Mod& mod, u32* zeros) {
  u32 outside = 0, j = 0;
  *zeros = 0;
  for (u64 k = 0; k < span; ++k) {
    const u32 r = reduce ? reduce_cell<D, Mod>(cells[k], mod) : Mod::low(cells[k]);
    if (j < n && pat[j] == k) {
      coef[j++] = D(r);
      if (!r) ++*zeros;
    } else if (r) {
      ++outside;
    }
  }
  return outside;
}

// Positions (relative to the lead) of the entries after the lead of a coded
// row, written to out; returns their count.  Decoded once per pivot row, they
// spare the AXPY below the byte-code branches.
inline u32 lzw_tail_positions(const u8* code, u32 ncodes, u32* out) {
  u32 n = 0;
  lzw_walk(
      code, ncodes, [&](u64 p) { out[n++] = u32(p); },
      [&](u64 p, u32 r) {
        for (u32 j = 0; j < r; ++j) out[n++] = u32(p + j);
      });
  return n;
}

// Positions a padded decode may write beyond the last entry.
inline constexpr u32 kTailSlack = 16;
// lzw_tail_positions without a branch on the kind of code: a code writes
// kTailSlack consecutive positions from its first one, of which the next
// code overwrites those beyond its count (a gap writes one, a run r), so
// out needs room for the entries and kTailSlack more.  One body for every
// vector width, as axpy_lanes32_vec.
template <unsigned W>
__attribute__((always_inline)) inline u32 tail_positions_vec(const u8* s, u32 ncodes, u32* out) {
  typedef u32 Vec __attribute__((vector_size(W)));
  constexpr u32 K = W / sizeof(u32);
  static_assert(kTailSlack % K == 0, "whole vectors of positions");
  u32 ramp[K];
  for (u32 k = 0; k < K; ++k) ramp[k] = k;
  Vec iota;
  std::memcpy(&iota, ramp, sizeof iota);
  u32* o = out;
  u32 pos = 0;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (__builtin_expect(b == 0xFF, 0)) {
      pos += u32(lzw_read_gap(b, s));
      *o++ = pos;
      continue;
    }
    // Masks rather than a choice, which the compiler would make a branch.
    const u32 run = 0u - (b >> 7);  // all ones for a run
    const u32 r = (run & (b & 0x7F)) | (~run & 1);
    const u32 first = pos + ((run & 1) | (~run & b));
    for (u32 k = 0; k < kTailSlack; k += K) {
      const Vec v = iota + (first + k);
      std::memcpy(o + k, &v, sizeof v);
    }
    if (__builtin_expect(r > kTailSlack, 0))
      for (u32 k = kTailSlack; k < r; ++k) o[k] = first + k;
    o += r;
    pos = first + r - 1;
  }
  return u32(o - out);
}
__attribute__((target("avx512f"))) inline u32 tail_positions_avx512(const u8* s, u32 ncodes, u32* out) {
  return tail_positions_vec<64>(s, ncodes, out);
}
inline u32 lzw_tail_positions_padded(const u8* s, u32 ncodes, u32* out) {
  if (simd_avx512()) return tail_positions_avx512(s, ncodes, out);
  return tail_positions_vec<16>(s, ncodes, out);
}

// AXPY from a decoded row: cells[pos[j]] += m * coef[j] for j < n, without
// reduction.  Positions are distinct, so each call adds at most one product
// to a cell (the bound of lzw_axpy applies).
template <class D, class P>
inline void axpy_positions(typename LzwCell<D>::type* cells, u64 m, const P* pos, const D* coef,
                           u64 n) {
  using C = LzwCell<D>;
#pragma GCC unroll 4
  for (u64 j = 0; j < n; ++j) C::add(cells[pos[j]], m * coef[j]);
}

// 32-bit cells for residues below 2^16, kept modulo 2^32 - p^2 (the
// block accumulator of the prime-field elimination): a product m*c of
// residues is below p^2 < 2^32, and an addition that carries out of 32 bits
// subtracts p^2 from the true sum, which stays below 2^32.  A cell thus
// absorbs any number of products and always holds a value congruent to its
// entry; half the bytes of a 64-bit cell keep a block's rows in cache.
static_assert(u64(0xFFFF) * 0xFFFF < (u64(1) << 32),
              "p^2 and every product of two residues below 2^16 fit a 32-bit lane");
struct Lane32 {
  u32 c2;  // 2^32 - p^2
  explicit Lane32(u32 p) : c2(u32(0) - p * p) {}
  u32 add(u32 cell, u32 prod) const {
    const u32 s = cell + prod;
    return s + (c2 & (u32(0) - u32(s < prod)));
  }
};

// cells[L*pos[j] + b] = add(cells[L*pos[j] + b], m[b] * coef[j]) for every
// lane b and entry j: L rows interleaved (L a multiple of 8, cells 32-byte
// aligned; 64 when L is a multiple of 16), so one entry of the decoded row
// is one update of L consecutive cells.  A lane with m[b] = 0 is left as it is.
// One body for every vector width: W-byte vectors of lanes (the compiler's
// vector extensions), compiled for the instruction set of the function it
// is inlined into.  The carry is an unsigned compare.
template <unsigned L, unsigned W, class P>
__attribute__((always_inline)) inline void axpy_lanes32_vec(u32* cells, const u32* m, const P* pos, const u16* coef,
                                                           u64 n, const Lane32& lane) {
  typedef u32 Vec __attribute__((vector_size(W)));
  constexpr unsigned K = W / sizeof(u32), V = L / K;
  static_assert(L % K == 0, "whole vectors of lanes");
  Vec mv[V];
  std::memcpy(mv, m, sizeof mv);
  const Vec c2 = Vec{} + lane.c2;
  for (u64 j = 0; j < n; ++j) {
    Vec* q = reinterpret_cast<Vec*>(cells + L * u64(pos[j]));
    const Vec c = Vec{} + u32(coef[j]);
    for (unsigned v = 0; v < V; ++v) {
      const Vec prod = mv[v] * c;
      const Vec sum = q[v] + prod;
      q[v] = sum < prod ? sum + c2 : sum;
    }
  }
}
// The same on 256-bit vectors (cells 32-byte aligned) and on 512-bit ones
// (L a multiple of 16, cells 64-byte aligned).
template <unsigned L, class P>
__attribute__((target("avx2"))) inline void axpy_lanes32_avx2(u32* cells, const u32* m, const P* pos,
                                                            const u16* coef, u64 n, const Lane32& lane) {
  axpy_lanes32_vec<L, 32>(cells, m, pos, coef, n, lane);
}
template <unsigned L, class P>
__attribute__((target("avx512f"))) inline void axpy_lanes32_avx512(u32* cells, const u32* m, const P* pos,
                                                                 const u16* coef, u64 n, const Lane32& lane) {
  axpy_lanes32_vec<L, 64>(cells, m, pos, coef, n, lane);
}
// The same, one cell at a time.
template <unsigned L, class P>
inline void axpy_lanes32_scalar(u32* cells, const u32* m, const P* pos, const u16* coef, u64 n, const Lane32& lane) {
  for (u64 j = 0; j < n; ++j) {
    u32* q = cells + L * u64(pos[j]);
    for (unsigned b = 0; b < L; ++b) q[b] = lane.add(q[b], m[b] * u32(coef[j]));
  }
}
template <unsigned L, class P>
inline void axpy_lanes32(u32* cells, const u32* m, const P* pos, const u16* coef, u64 n, const Lane32& lane) {
  if constexpr (L % 16 == 0)
    if (simd_avx512()) return axpy_lanes32_avx512<L>(cells, m, pos, coef, n, lane);
  if (simd_avx2()) return axpy_lanes32_avx2<L>(cells, m, pos, coef, n, lane);
  axpy_lanes32_scalar<L>(cells, m, pos, coef, n, lane);
}

// One lane b of that layout (cells at lane b): cells[L*pos[j]] takes m * coef[j].
template <unsigned L, class P>
inline void axpy_strided32(u32* cells, u32 m, const P* pos, const u16* coef, u64 n, const Lane32& lane) {
#pragma GCC unroll 4
  for (u64 j = 0; j < n; ++j) cells[L * u64(pos[j])] = lane.add(cells[L * u64(pos[j])], m * u32(coef[j]));
}

// Multiplies the n residues by the inverse inv of the first one.
template <class D>
inline void scale_residues(D* c, u32 n, u32 inv, const CellMod<D>& mod) {
  c[0] = 1;
  for (u32 j = 1; j < n; ++j) c[j] = D(mod.mul(c[j], inv));
}

}  // namespace quor
#endif

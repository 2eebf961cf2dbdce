// Dense matrix-vector kernels: SSE dot products on signed 16-bit words with
// their threaded driver (prime-field build), and plain loops on residues.
#include "minpolyvgf/wiedemann_lowlevel.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/coeffs.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "minpolyvgf/scratch.h"

#if !QUOR_INT
#include <smmintrin.h>  // SSE4.1 (sign extension); SSE2 multiply-add
#endif

namespace quor::QUOR_NS {

namespace {
inline u32 prime() { return *QUOR_NAME(modulo); }

// Plain dot product of unsigned residues, reduced once (integer build: the
// vector kernel of scratch.h where the processor has it).
inline Dom plain_dot(const Dom* a, const Dom* b, i32 n, u32 p) {
#if QUOR_INT
  return dot_u32(a, b, n, p);
#else
  DotAcc<Dom> acc;
  for (i32 i = 0; i < n; ++i) acc.add(a[i], b[i]);
  return Dom(acc.reduce(p));
#endif
}
}  // namespace

Dom QUOR_NAME(dot_product_dense)(Dom* out, const Dom* a, const Dom* b, i32 n) {
  const Dom r = plain_dot(a, b, n, prime());
  *out = r;
  return r;
}

// The rows are zero beyond D: the plain loops stop at D and never read the
// padding of x.
void QUOR_NAME(dense_matrix_I32_align)(Dom* y, const Dom* x, i32 D, const i32* list, const Dom* rows) {
  const u32 p = prime();
  const std::size_t n = QUOR_NAME(align_vector_size)(u32(std::max(D, 0)));
  for (std::size_t r = 0; list[2 * r] >= 0; ++r) y[list[2 * r]] = plain_dot(rows + r * n, x, D, p);
}

void QUOR_NAME(dense_matrix_I32)(Dom* y, const Dom* x, i32 D, const i32* list, const Dom* packed) {
  const u32 p = prime();
  for (; list[0] >= 0; list += 2) {
    const i32 s = std::max(list[1], 0);
    const i32 len = s < D ? D - s : 0;
    y[list[0]] = plain_dot(packed, x + s, len, p);
    packed += len;
  }
}

void QUOR_NAME(dense_matrix_I32_align_vect)(Dom* y, const Dom* x, i32 D, const i32* list, i32 count,
                                            const Dom* rows) {
  const u32 p = prime();
  const std::size_t n = QUOR_NAME(align_vector_size)(u32(std::max(D, 0)));
  if (count <= 0) return;
#if QUOR_INT
  // One vector dot product per row: x stays in the first-level cache.
  for (i32 r = 0; r < count; ++r) y[list[r]] = plain_dot(rows + std::size_t(r) * n, x, D, p);
#else
#pragma omp parallel num_threads(team_width(u32(omp_get_max_threads())))
  {
    const i32 T = omp_get_num_threads(), t = omp_get_thread_num();
    const i32 block = (count + T - 1) / T;
    const i32 lo = std::min(t * block, count), hi = std::min(lo + block, count);
    for (i32 r = lo; r < hi; ++r) y[list[r]] = plain_dot(rows + std::size_t(r) * n, x, D, p);
  }
#endif
}

u32 QUOR_NAME(sparsity_align2)(i32 D, const i32* list, const Dom* rows) {
  const std::size_t n = QUOR_NAME(align_vector_size)(u32(std::max(D, 0)));
  u32 count = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r)
    for (i32 i = 0; i < D; ++i) count += rows[r * n + i] != 0;
  return count;
}

void QUOR_NAME(dense_trace_I32_align)(Dom* out, i32 D, const i32* list, const Dom* rows) {
  const u32 p = prime();
  const std::size_t n = QUOR_NAME(align_vector_size)(u32(std::max(D, 0)));
  u64 sum = 0;
  *out = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r) {
    sum += rows[r * n + std::size_t(list[2 * r])] % p;
    if (sum >= p) sum -= p;
    *out = Dom(sum);
  }
}

void QUOR_NAME(dense_matrix)() {
#if !QUOR_INT
  std::fputs("NYA\n", stderr);
#endif
}

u32 QUOR_NAME(NEG)(u32 a, u32 p) { return a == 0 ? 0 : p - a; }

void* QUOR_NAME(realign_ptr)(void* ptr) {
  return reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(ptr) + 16) & ~std::uintptr_t(15));
}

#if QUOR_INT
// MatDom1 entries of the integer build are residues: the plain dot product.
void QUOR_NAME(dot_product_dense_C)(Dom* out, const Dom* a, const Dom* b, i32 n) {
  *out = plain_dot(a, b, n, prime());
}
#else

namespace {
// Signed sum of products into the symmetric representative of its residue.
inline Dom symmetric(i64 sum, u32 p) {
  const i64 h = (i64(p) - 1) / 2;
  i64 r = sum % i64(p);
  if (r < -h) r += p;
  else if (r > h) r -= p;
  return Dom(u16(std::int16_t(r)));
}

// One pair of 16-bit products summed in a 32-bit lane: a word is at most
// 2^15 in magnitude and the matrix factor lies in the symmetric range of a
// prime below 2^16, so the pair sum stays below 2^31.
static_assert(2 * i64((65521 - 1) / 2) * 32768 < (i64(1) << 31),
              "madd pair sums of a symmetric entry and a word fit 32 bits");
// 64-bit accumulators: n < 2^31 products, each below 2^30 in magnitude.
static_assert((i64(1) << 31) * ((i64(1) << 30)) <= INT64_MAX, "lane sums fit 64 bits");

// R rows against one x over n entries (n a multiple of 8), 16-byte aligned.
// Each row keeps two 64-bit accumulator pairs (low and high lanes of the madd).
template <int R, bool Prefetch>
inline void dot_rows_sse(Dom* const* out, const Dom* const* rows, const Dom* x, i32 n) {
  __m128i lo[R], hi[R];
  for (int k = 0; k < R; ++k) lo[k] = hi[k] = _mm_setzero_si128();
  const i32 blocks = n / 8;
  for (i32 b = 0; b < blocks; ++b) {
    if constexpr (Prefetch) {
      _mm_prefetch(reinterpret_cast<const char*>(x + 8 * (b + 4)), _MM_HINT_T0);
      for (int k = 0; k < R; ++k)
        _mm_prefetch(reinterpret_cast<const char*>(rows[k] + 8 * (b + 4)), _MM_HINT_T0);
    }
    const __m128i xv = _mm_load_si128(reinterpret_cast<const __m128i*>(x + 8 * b));
    for (int k = 0; k < R; ++k) {
      const __m128i rv = _mm_load_si128(reinterpret_cast<const __m128i*>(rows[k] + 8 * b));
      const __m128i m = _mm_madd_epi16(rv, xv);
      lo[k] = _mm_add_epi64(lo[k], _mm_cvtepi32_epi64(m));
      hi[k] = _mm_add_epi64(hi[k], _mm_cvtepi32_epi64(_mm_srli_si128(m, 8)));
    }
  }
  const u32 p = prime();
  for (int k = 0; k < R; ++k) {
    alignas(16) i64 v[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(v), _mm_add_epi64(lo[k], hi[k]));
    *out[k] = symmetric(v[0] + v[1], p);
  }
}
}  // namespace

void dot_product_dense_sse_prefetch(Dom* out, const Dom* row, const Dom* x, i32 n) {
  dot_rows_sse<1, true>(&out, &row, x, n);
}

void dot_product_dense_sse(Dom* out, const Dom* row, const Dom* x, i32 n) {
  dot_rows_sse<1, false>(&out, &row, x, n);
}

void dot_product_dense_sse2(Dom* out1, Dom* out2, const Dom* row1, const Dom* row2, const Dom* x, i32 n) {
  Dom* out[] = {out1, out2};
  const Dom* rows[] = {row1, row2};
  dot_rows_sse<2, false>(out, rows, x, n);
}

void dot_product_dense_sse4(Dom* out1, Dom* out2, Dom* out3, Dom* out4, const Dom* row1, const Dom* row2,
                            const Dom* row3, const Dom* row4, const Dom* x, i32 n) {
  Dom* out[] = {out1, out2, out3, out4};
  const Dom* rows[] = {row1, row2, row3, row4};
  dot_rows_sse<4, false>(out, rows, x, n);
}

void dot_product_dense_sse8(Dom* out1, Dom* out2, Dom* out3, Dom* out4, Dom* out5, Dom* out6, Dom* out7,
                            Dom* out8, const Dom* row1, const Dom* row2, const Dom* row3, const Dom* row4,
                            const Dom* row5, const Dom* row6, const Dom* row7, const Dom* row8, const Dom* x,
                            i32 n) {
  Dom* out[] = {out1, out2, out3, out4, out5, out6, out7, out8};
  const Dom* rows[] = {row1, row2, row3, row4, row5, row6, row7, row8};
  dot_rows_sse<8, false>(out, rows, x, n);
}

void QUOR_NAME(dot_product_dense_C)(Dom* out, const Dom* a, const Dom* b, i32 n) {
  i64 sum = 0;
  for (i32 i = n - 1; i >= 0; --i) sum += i64(i32(std::int16_t(a[i])) * i32(std::int16_t(b[i])));
  *out = symmetric(sum, prime());
}

void dense_matrix_I32_align_vect_openmp(Dom* y, const Dom* x, i32 D, const i32* list, i32 count,
                                        const Dom* const* table) {
  const i32 n = i32(QUOR_NAME(align_vector_size)(u32(std::max(D, 0))));
  const i32 chunks = std::max(nb_threads, 1);
  const i32 chunk = count > 0 ? (count + chunks - 1) / chunks : 0;
#pragma omp parallel num_threads(team_width(u32(omp_get_max_threads())))
  {
    const i32 T = omp_get_num_threads(), t = omp_get_thread_num();
    for (i32 c = t; c < chunks; c += T) {
      const i32 lo = std::min(c * chunk, std::max(count, 0));
      const i32 hi = std::min(lo + chunk, std::max(count, 0));
      i32 r = lo;
      // Four rows per step share the loads of x.
      for (; r + 4 <= hi; r += 4) {
        Dom* out[] = {&y[list[r]], &y[list[r + 1]], &y[list[r + 2]], &y[list[r + 3]]};
        for (Dom* o : out) _mm_prefetch(reinterpret_cast<const char*>(o), _MM_HINT_T0);
        dot_rows_sse<4, true>(out, table + r, x, n);
      }
      for (; r < hi; ++r) dot_product_dense_sse_prefetch(&y[list[r]], table[r], x, n);
    }
  }
}

u32 sparsity_align2_openmp(i32 D, const i32* list, const Dom* const* table) {
  u32 count = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r)
    for (i32 i = 0; i < D; ++i) count += table[r][i] != 0;
  return count;
}

// Entries of the row table are symmetric words: lift them before summing.
void dense_trace_I32_align_openmp(Dom* out, i32 D, const i32* list, const Dom* const* table) {
  const u32 p = prime();
  u32 sum = 0;
  *out = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r) {
    const i32 v = std::int16_t(table[r][list[2 * r]]);
    sum += u32(v < 0 ? v + i32(p) : v) % p;
    if (sum >= p) sum -= p;
    *out = Dom(sum);
  }
}

u32 MUL(u32 a, u32 b, u32 p) { return (a * b) % p; }

u32 ADDMUL(u32 a, u32 b, u32 c, u32 p) { return u32((u64(a) * b + c) % p); }
#endif

}  // namespace quor::QUOR_NS

// Small dense matrices over Z/p: additions, delayed-reduction products and
// sums of products, scalar and matrix inverses.
#include "minpolyvgf/matdom1.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "minpolyvgf/unipoly.h"

namespace quor::QUOR_NS {

namespace {
inline u32 prime() { return *QUOR_NAME(modulo); }
}  // namespace

u32 check_block_prime(const char* who) {
  if (QUOR_NAME(modulo) == nullptr) QUOR_NAME(Fatal)("%s: no prime installed for the block computation\n", who);
  const u32 p = *QUOR_NAME(modulo);
  if (p < 2) QUOR_NAME(Fatal)("%s: %u is not a prime\n", who, p);
#if !QUOR_INT
  // Entries are 16-bit words: a larger prime does not fit them.
  if (p > 65521) QUOR_NAME(Fatal)("%s: the prime %u is above 65521\n", who, p);
  if (PrimeSign != i32(p) || PrimeHalf != (i32(p) - 1) / 2)
    QUOR_NAME(Fatal)("%s: PrimeSign=%d and PrimeHalf=%d do not match the prime %u\n", who, PrimeSign, PrimeHalf, p);
#endif
  return p;
}

Dom1 Dom1_of(u32 r, u32 p) {
#if QUOR_INT
  (void)p;
  return r;
#else
  return Dom1(r > (p - 1) / 2 ? i32(r) - i32(p) : i32(r));
#endif
}

u32 residue_of(Dom1 a, u32 p) {
#if QUOR_INT
  (void)p;
  return a;
#else
  return a < 0 ? u32(i32(a) + i32(p)) : u32(a);
#endif
}

Dom1 Dom1_of_word(Dom w, u32 p) {
#if QUOR_INT
  return w % p;
#else
  const i32 v = std::int16_t(w) % i32(p);
  return Dom1_of(u32(v < 0 ? v + i32(p) : v), p);
#endif
}

namespace {
inline Dom1 add1(Dom1 a, Dom1 b) {
#if QUOR_INT
  const u32 p = prime();
  const u64 s = u64(a) + b;
  return Dom1(s >= p ? s - p : s);
#else
  // Inputs in [-h, h]: one correction brings the sum back.
  const i32 s = i32(a) + i32(b);
  return Dom1(s > PrimeHalf ? s - PrimeSign : s < -PrimeHalf ? s + PrimeSign : s);
#endif
}
inline i64 entries(i32 n) { return n > 0 ? i64(n) * n : 0; }
}  // namespace

void add_MatDom1_d(const Dom1* A, Dom1* B, i32 n) {
  for (i64 e = 0; e < entries(n); ++e) B[e] = add1(A[e], B[e]);
}

void add_MatDom1(const Dom1* A, const Dom1* B, Dom1* D, i32 n) {
  for (i64 e = 0; e < entries(n); ++e) D[e] = add1(A[e], B[e]);
}

void neg_MatDom1_d(Dom1* A, i32 n) {
  const u32 p = prime();
  for (i64 e = 0; e < entries(n); ++e) A[e] = Dom1_of(residue_of(A[e], p) ? p - residue_of(A[e], p) : 0, p);
}

void mult_MatDom1s(const Dom1* A, const Dom1* B, Dom1* D, i32 n) {
  if (n <= 0) return;
  MatSum s(n);
  s.add_product(A, B);
  s.store(D);
}

// ---- sums of products ----

#if QUOR_INT
// Each product of two residues splits into two words below 2^32, summed
// apart (as DotAcc<u32> does); 2^31 of them stay below 2^63.
constexpr i64 kMaxTerms = i64(1) << 31;
static_assert(u64(UINT32_MAX) * u64(kMaxTerms) < (u64(1) << 63), "delayed sums of 32-bit words fit 63 bits");
#else
// Sums are kept in doubles, which hold integers below 2^53 exactly: a
// product of two 16-bit entries is at most 2^30 in magnitude, so 2^22 of
// them stay below 2^52 (and so does the quotient rounding below).
constexpr i64 kMaxTerms = i64(1) << 22;
static_assert(kMaxTerms * (i64(1) << 30) <= (i64(1) << 52), "delayed sums of 16-bit products stay exact in doubles");
#endif

MatSum::MatSum(i32 n)
    : n_(std::max(n, 0)),
      p_(prime()),
      h_(i32((p_ - 1) / 2)),
      pinv_(1.0 / double(p_)),
#if QUOR_INT
      lo_(entries(n)),
      hi_(entries(n))
#else
      acc_(entries(n)),
      b_(entries(n))
#endif
{
  clear();
}

void MatSum::clear() {
#if QUOR_INT
  std::fill(lo_.data(), lo_.data() + entries(n_), u64(0));
  std::fill(hi_.data(), hi_.data() + entries(n_), u64(0));
#else
  std::fill(acc_.data(), acc_.data() + entries(n_), 0.0);
#endif
  terms_ = 0;
}

namespace {
#if !QUOR_INT
// acc += A B over exact doubles (bd: B as doubles), row i of acc gaining
// a_ik times row k of B.  N > 0 fixes the order at compile time (the block
// sizes in use), so that a row of acc stays in registers; N = 0: any order n.
template <i32 N>
inline __attribute__((always_inline)) void add_rows(double* __restrict acc, const Dom1* __restrict A,
                                                    const double* __restrict bd, i32 n) {
  const i32 m = N > 0 ? N : n;
  for (i32 i = 0; i < m; ++i) {
    double* s = acc + i64(i) * m;
    for (i32 k = 0; k < m; ++k) {
      const double a = A[i64(i) * m + k];
      const double* b = bd + i64(k) * m;
      for (i32 j = 0; j < m; ++j) s[j] += a * b[j];
    }
  }
}

// The common order 8 on four-lane vectors where the processor has them.
__attribute__((target("avx2"))) void add_rows8_avx2(double* acc, const Dom1* A, const double* bd) {
  add_rows<8>(acc, A, bd, 8);
}
void add_rows8(double* acc, const Dom1* A, const double* bd) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) add_rows8_avx2(acc, A, bd);
  else add_rows<8>(acc, A, bd, 8);
}
#endif
}  // namespace

// The hot kernel of the block method: products summed without reduction.
void MatSum::add_product(const Dom1* A, const Dom1* B) {
  const i32 n = n_;
  if (terms_ + n > kMaxTerms) fold();
  terms_ += n;
#if QUOR_INT
  for (i32 i = 0; i < n; ++i) {
    u64* lo = lo_.data() + i64(i) * n;
    u64* hi = hi_.data() + i64(i) * n;
    for (i32 k = 0; k < n; ++k) {
      const u64 a = A[i64(i) * n + k];
      const Dom1* b = B + i64(k) * n;
      for (i32 j = 0; j < n; ++j) {
        const u64 t = a * b[j];
        lo[j] += u32(t);
        hi[j] += t >> 32;
      }
    }
  }
#else
  for (i64 e = 0; e < entries(n); ++e) b_[e] = B[e];
  switch (n) {
    case 4: add_rows<4>(acc_.data(), A, b_.data(), n); break;
    case 8: add_rows8(acc_.data(), A, b_.data()); break;
    case 16: add_rows<16>(acc_.data(), A, b_.data(), n); break;
    default: add_rows<0>(acc_.data(), A, b_.data(), n);
  }
#endif
}

void MatSum::add(const Dom1* C) {
  if (terms_ + 1 > kMaxTerms) fold();
  ++terms_;
  for (i64 e = 0; e < entries(n_); ++e) {
#if QUOR_INT
    lo_[e] += C[e];
#else
    acc_[e] += C[e];
#endif
  }
}

namespace {
#if QUOR_INT
inline u32 reduce(u64 lo, u64 hi, u32 p) { return u32((((unsigned __int128)hi << 32) + lo) % p); }
#else
// Symmetric residue of the integer s, |s| < 2^52: s / p rounded to the
// nearest (adding and removing 1.5 2^52 rounds a double of magnitude below
// 2^51) is off by at most one, and s - q p is exact; one correction.
inline double reduce(double s, double p, double h, double pinv) {
  constexpr double kRound = 6755399441055744.0;  // 1.5 * 2^52
  const double q = (s * pinv + kRound) - kRound;
  double r = s - q * p;
  r = r > h ? r - p : r;
  return r < -h ? r + p : r;
}
#endif
}  // namespace

void MatSum::fold() {
  for (i64 e = 0; e < entries(n_); ++e) {
#if QUOR_INT
    lo_[e] = reduce(lo_[e], hi_[e], p_);
    hi_[e] = 0;
#else
    acc_[e] = reduce(acc_[e], p_, h_, pinv_);
#endif
  }
  terms_ = 1;
}

void MatSum::store(Dom1* D, bool negate) {
  for (i64 e = 0; e < entries(n_); ++e) {
#if QUOR_INT
    const u32 r = reduce(lo_[e], hi_[e], p_);
    D[e] = negate && r ? p_ - r : r;
#else
    const double r = reduce(acc_[e], p_, h_, pinv_);
    D[e] = Dom1(i32(negate ? -r : r));
#endif
  }
  clear();
}

// ---- inverses ----

u32 inv_Dom1(u32 a, u32 p) {
  if constexpr (!kIntBuild) a &= 0xFFFF;
  if (a >= p) {
    std::fprintf(stderr, "Le facteur 0 -> %u a ete trouve !\n", p);
    return 0;
  }
  return INV_2args(a, p);
}

#if !QUOR_INT
i32 inv_Dom1s(i32 a, u32 p) {
  if (a < 0) a += PrimeSign;
  const i32 t = i32(inv_Dom1(u32(a), p) & 0xFFFF);
  return t > PrimeHalf ? t - PrimeSign : t;
}
#endif

namespace {
// Gauss-Jordan accumulators: each term is below p^2, so with 16-bit primes
// 2^31 terms fit 64 bits; 32-bit primes need 128 bits.
using InvAcc = std::conditional_t<kIntBuild, unsigned __int128, u64>;
static_assert(kIntBuild || u64(65535) * 65535 <= UINT64_MAX / u64(INT32_MAX),
              "2^31 products of 16-bit residues fit 64 bits");

struct GaussJordan {
  GaussJordan(const Dom1* A, i32 n, u32 p) : n(n), w(2 * n), p(p), W(entries(n) * 2), acc(2 * i64(n)) {
    for (i32 i = 0; i < n; ++i)
      for (i32 j = 0; j < n; ++j) {
        row(i)[j] = residue_of(A[i64(i) * n + j], p);
        row(i)[n + j] = i == j;
      }
  }
  u32* row(i32 r) { return W.data() + i64(r) * w; }
  // Row r minus its components along the normalised rows 0 .. k-1 (columns
  // k and up; the columns below k become 0).
  void eliminate(i32 r, i32 k) {
    u32* x = row(r);
    for (i32 t = 0; t < w; ++t) acc[t] = x[t];
    for (i32 j = 0; j < k; ++j) {
      const u32 c = u32(acc[j] % p);
      if (c == 0) continue;
      const u32* y = row(j);
      for (i32 t = j + 1; t < w; ++t) acc[t] += InvAcc(u64(y[t]) * (p - c));
    }
    for (i32 t = 0; t < w; ++t) x[t] = t < k ? 0 : u32(acc[t] % p);
  }
  // Finds the pivot of column k among rows k .. n-1; false when there is none.
  bool pivot(i32 k) {
    i32 r = k;
    for (; r < n; ++r) {
      eliminate(r, k);
      if (row(r)[k] != 0) break;
    }
    if (r == n) return false;
    if (r != k) {
      std::swap_ranges(row(k), row(k) + w, row(r));
      std::fprintf(stderr, "Swap row %d and %d\n", k, r);
    }
    u32* x = row(k);
    const u64 c = inv_Dom1(x[k], p);
    x[k] = 1;
    for (i32 t = k + 1; t < w; ++t) x[t] = u32(x[t] * c % p);
    return true;
  }
  // Row k of the inverse into the right half, rows k+1 .. n-1 being done.
  void back(i32 k) {
    u32* x = row(k);
    for (i32 t = n; t < w; ++t) acc[t] = x[t];
    for (i32 j = k + 1; j < n; ++j) {
      const u32 c = x[j];
      if (c == 0) continue;
      const u32* y = row(j);
      for (i32 t = n; t < w; ++t) acc[t] += InvAcc(u64(y[t]) * (p - c));
    }
    for (i32 t = n; t < w; ++t) x[t] = u32(acc[t] % p);
  }
  i32 n, w;
  u32 p;
  Scratch<u32> W;
  Scratch<InvAcc> acc;
};
}  // namespace

void inv_MatDom1s(const Dom1* A, Dom1* R, i32 n) {
  if (n < 1) QUOR_NAME(Fatal)("Singular matrix: 1st column is 0!\n");
  const u32 p = prime();
  GaussJordan g(A, n, p);
  for (i32 k = 0; k < n; ++k)
    if (!g.pivot(k)) QUOR_NAME(Fatal)(k == 0 ? "Singular matrix: 1st column is 0!\n" : "Singular matrix\n");
  for (i32 k = n - 1; k >= 0; --k) g.back(k);
  for (i32 i = 0; i < n; ++i)
    for (i32 j = 0; j < n; ++j) R[i64(i) * n + j] = Dom1_of(g.row(i)[n + j], p);
}

void display_MatDom1(const Dom1* m, i32 n) {
  std::printf("[");
  for (i32 i = 0; i < n; ++i) {
    std::printf(i ? ",[" : "[");
    for (i32 j = 0; j < n; ++j) std::printf(j ? ",%lld" : "%lld", (long long)m[i64(i) * n + j]);
    std::printf("]");
  }
  std::printf("]:\n");
}

}  // namespace quor::QUOR_NS

// Rational form of a triangular basis (integer build).
//
// The product by f'/d modulo f is one linear map for every tail of a prime
// slot: its rows X^i Dp mod F (i < d) are made once per slot, a chunk at a
// time, and every tail V = sum V[i] X^i accumulates sum V[i] row_i in
// unreduced split sums (see accumulate), reduced once at the end.  Both
// kernels have an AVX2 form, taken when the processor has it.
#include "engine/rrform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"
#include "engine/lzw_code.h"
#include "engine/mainloop.h"
#include "host/C/host_services.h"
#include "minpolyvgf/euclid.h"

namespace quor::QUOR_NS {

namespace {

// Rows of the map made and consumed together (the scratch is kChunk rows).
constexpr u32 kChunk = 64;

template <class T>
T* zone_array(u64 n) {
  return static_cast<T*>(QUOR_NAME(alloc64)((n ? n : 1) * sizeof(T)));
}

// Exponent of x_last when e is a power of x_last (1 included), else -1.
i32 power_of_last(const u64* e, u32 n) {
  const u32 x = n ? expos_slot(e, n - 1) : 0;
  return degree_Expos(e) == x ? i32(x) : -1;
}

bool univariate(const sDpol* g, u32 n) {
  for (u32 t = 0; t < g->nb_terms; ++t)
    if (power_of_last(g->monoms[t] + 1, n) < 0) return false;
  return true;
}

// The text of the monomial e (no header) in buf, cut to its size; the string
// is gone before the caller raises a host error with it.
const char* monomial_text(const u64* e, char (&buf)[160]) {
  const std::string s = expos_to_string(e, 0);
  std::snprintf(buf, sizeof buf, "%s", s.c_str());
  return buf;
}

const char* variable_name(u32 v) {
  const char* name = v < QUOR_MAX_VARIABLE_NAMES ? Liste_variables[v] : nullptr;
  return name ? name : "?";
}

// The refusals of a basis that is not triangular, each naming what is wrong
// (polynomials counted from 1 in the order of G).
[[noreturn]] void no_univariate(u32 nG, u32 n) {
  if (nG == 0) QUOR_NAME(Fatal)("Cannot find the univariate polynomial ! The basis is empty\n");
  QUOR_NAME(Fatal)("Cannot find the univariate polynomial ! No polynomial of the basis (%u) is in %s alone\n", nG,
                   variable_name(n - 1));
}

// g = G[i] (not f) led by x_j, j < n - 1, with a tail of powers of x_last
// below d; fatal otherwise.
void check_triangular(const sDpol* g, u32 i, u32 nG, u32 n, u32 d, u32 fi) {
  char buf[160];
  if (g->nb_terms == 0) QUOR_NAME(Fatal)("Pas une base reduite: polynomial %u of %u is zero\n", i + 1, nG);
  const u64* lead = lead_Expos(g);
  if (power_of_last(lead, n) >= 0)
    QUOR_NAME(Fatal)("Pas une base reduite: polynomial %u of %u is led by %s, in %s alone like polynomial %u\n",
                     i + 1, nG, monomial_text(lead, buf), variable_name(n - 1), fi + 1);
  if (degree_Expos(lead) != 1)
    QUOR_NAME(Fatal)("Pas une base reduite: polynomial %u of %u is led by %s, not by a variable other than %s to "
                     "the first power\n",
                     i + 1, nG, monomial_text(lead, buf), variable_name(n - 1));
  for (u32 t = 1; t < g->nb_terms; ++t) {
    const i32 e = power_of_last(g->monoms[t] + 1, n);
    if (e < 0 || u32(e) >= d)
      QUOR_NAME(Fatal)("Pas une base reduite: polynomial %u of %u has the term %s, not a power of %s below %u, the "
                       "degree of the univariate polynomial %u\n",
                       i + 1, nG, monomial_text(g->monoms[t] + 1, buf), variable_name(n - 1), d, fi + 1);
  }
}

// The record of x_last^e (fresh, hashed).
u64* x_last_power(u32 n, u32 e) {
  u64* r = QUOR_NAME(new_Expos)();
  std::memset(r + 1, 0, 8 * u64(nb_of_blocks_of_variables));
  if (e) expos_set_slot(r + 1, n - 1, e);
  r[0] = hash_Expos(r + 1);
  return r;
}

// gcd(F, Dp) = 1 modulo p (F monic of degree d, Dp = F'/d monic of degree d - 1).
bool coprime_to_derivative(u32 p, const u32* F, const u32* Dp, u32 d) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u32* A = zone_array<u32>(u64(d) + 2);
  u32* B = zone_array<u32>(u64(d) + 2);
  std::copy(F, F + d, A);
  A[d] = 1;
  std::copy(Dp, Dp + d, B);
  i32 da = i32(d), db = i32(d) - 1;
  u32* saved = QUOR_NAME(modulo);
  QUOR_NAME(modulo) = &p;
  gcd(A, &da, B, &db);
  QUOR_NAME(modulo) = saved;
  QUOR_NAME(restore_GC_state)(&mark);
  return da == 0;
}

// Slot k of f as the monic F[0..d-1] and Dp = f'/d; false when the leading
// coefficient vanishes modulo the slot's prime.
bool slot_polynomials(const sDpol* f, u32 n, u32 d, u32 k, u32 p, u32* F, u32* Dp) {
  std::fill(F, F + d, 0u);
  u32 lc = 0;
  for (u32 t = 0; t < f->nb_terms; ++t) {
    const u32 e = u32(power_of_last(f->monoms[t] + 1, n));
    const u32 c = f->coeffs[k][t] % p;
    if (e == d) lc = c;
    else F[e] = c;
  }
  if (lc == 0) return false;
  if (lc != 1) {
    const u64 il = inv_Dom(lc, p);
    for (u32 e = 0; e < d; ++e) F[e] = u32(F[e] * il % p);
  }
  const u64 invd = inv_Dom(d % p, p);
  for (u32 e = 1; e < d; ++e) Dp[e - 1] = u32(u64(e) * F[e] % p * invd % p);
  Dp[d - 1] = 1;
  return true;
}


// The product sums of mul_mod_monic: for every lane x of a chunk of c rows
// (T: blocks of four lanes, block xb holding row r's lanes at 4 (xb c + r)),
// S[x] += sum v[r] T_r[x] modulo 2^64 and H[x] += the high words of the
// products: the true sum is H 2^32 + (S - H 2^32 mod 2^64) as long as fewer
// than 2^32 products enter: a lane takes one per row, d of them, and a
// degree is a u32.
constexpr u64 kMaxLaneProducts = 0xFFFFFFFFull;
static_assert((unsigned __int128)kMaxLaneProducts * 0xFFFFFFFFull < ((unsigned __int128)1 << 64),
              "the high words and the low words of a lane's products each sum below 2^64");
void accumulate(u64* S, u64* H, const u32* T, u32 nb, u32 c, const u32* v) {
  for (u32 xb = 0; xb < nb; ++xb) {
    const u32* t = T + 4 * u64(xb) * c;
    for (u32 r = 0; r < c; ++r)
      for (u32 l = 0; l < 4; ++l) {
        const u64 pr = u64(v[r]) * t[4 * r + l];
        S[4 * xb + l] += pr;
        H[4 * xb + l] += pr >> 32;
      }
  }
}

__attribute__((target("avx2"))) void accumulate_avx2(u64* S, u64* H, const u32* T, u32 nb, u32 c, const u32* v) {
  for (u32 xb = 0; xb < nb; ++xb) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(S + 4 * xb));
    __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H + 4 * xb));
    const u32* t = T + 4 * u64(xb) * c;
    for (u32 r = 0; r < c; ++r) {
      const __m256i w = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4 * r)));
      const __m256i pr = _mm256_mul_epu32(w, _mm256_set1_epi64x(i64(v[r])));
      s = _mm256_add_epi64(s, pr);
      h = _mm256_add_epi64(h, _mm256_srli_epi64(pr, 32));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(S + 4 * xb), s);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(H + 4 * xb), h);
  }
}

// nxt[x] = cur[x - 1] + t F[x] mod p for x < 4 nb (cur[-1] = 0), by
// Shoup's product: with tq = floor(t 2^32 / p), t F - floor(F tq / 2^32) p
// lies in [0, 2p) for F < 2^32.
void next_row(u32* nxt, const u32* cur, const u32* F, u32 n, u32 t, u32 p) {
  const u64 tq = (u64(t) << 32) / p;
  for (u32 x = 0; x < n; ++x) {
    u64 r = u64(t) * F[x] - ((F[x] * tq) >> 32) * p + cur[i64(x) - 1];
    if (r >= p) r -= p;
    if (r >= p) r -= p;
    nxt[x] = u32(r);
  }
}

__attribute__((target("avx2"))) void next_row_avx2(u32* nxt, const u32* cur, const u32* F, u32 nb, u32 t, u32 p) {
  const __m256i tv = _mm256_set1_epi64x(i64(t));
  const __m256i tq = _mm256_set1_epi64x(i64((u64(t) << 32) / p));
  const __m256i pv = _mm256_set1_epi64x(i64(p));
  const __m256i pm1 = _mm256_set1_epi64x(i64(p) - 1);
  const __m256i low = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  for (u32 xb = 0; xb < nb; ++xb) {
    const __m256i f = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(F + 4 * xb)));
    const __m256i old = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + 4 * xb - 1)));
    const __m256i q = _mm256_srli_epi64(_mm256_mul_epu32(f, tq), 32);
    __m256i r = _mm256_sub_epi64(_mm256_mul_epu32(f, tv), _mm256_mul_epu32(q, pv));
    r = _mm256_add_epi64(r, old);  // below 3p < 2^34: signed compares are exact
    r = _mm256_sub_epi64(r, _mm256_and_si256(_mm256_cmpgt_epi64(r, pm1), pv));
    r = _mm256_sub_epi64(r, _mm256_and_si256(_mm256_cmpgt_epi64(r, pm1), pv));
    const __m256i packed = _mm256_permutevar8x32_epi32(r, low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nxt + 4 * xb), _mm256_castsi256_si128(packed));
  }
}
}  // namespace

bool rr_simd_available() { return wrap_simd_available(); }

void mul_mod_monic(u32 p, const u32* F, const u32* Dp, u32 d, const u32* const* V, u32* const* R, u32 m,
                   bool simd) {
  if (d == 0 || m == 0) return;
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  const u32 dp = (d + 3) & ~3u, nb = dp / 4;
  const u32 chunk = std::min(d, kChunk);
  // Rows of length dp (the padding lanes hold values never read back), one
  // zero word before each for the shift; F padded with zeros.
  u32* Fz = zone_array<u32>(dp);
  std::fill(std::copy(F, F + d, Fz), Fz + dp, 0u);
  u32* buf = zone_array<u32>(2 * (u64(dp) + 4));
  std::fill(buf, buf + 2 * (u64(dp) + 4), 0u);
  u32* cur = buf + 4;
  u32* nxt = buf + dp + 8;
  std::copy(Dp, Dp + d, cur);
  u32* T = zone_array<u32>(u64(dp) * chunk);
  u64* S = zone_array<u64>(2 * u64(m) * dp);
  u64* H = S + u64(m) * dp;
  std::memset(S, 0, 2 * u64(m) * dp * sizeof(u64));
  for (u32 i0 = 0; i0 < d; i0 += chunk) {
    const u32 c = std::min(chunk, d - i0);
    for (u32 r = 0; r < c; ++r) {
      for (u32 xb = 0; xb < nb; ++xb) std::memcpy(T + 4 * (u64(xb) * c + r), cur + 4 * xb, 16);
      if (i0 + r + 1 == d) break;
      // nxt = X cur mod F: the shift minus the top times F.
      const u32 t = cur[d - 1] ? p - cur[d - 1] : 0;
      if (simd) next_row_avx2(nxt, cur, Fz, nb, t, p);
      else next_row(nxt, cur, Fz, dp, t, p);
      std::swap(cur, nxt);
    }
    for (u32 j = 0; j < m; ++j) {
      u64* Sj = S + u64(j) * dp;
      u64* Hj = H + u64(j) * dp;
      if (simd) accumulate_avx2(Sj, Hj, T, nb, c, V[j] + i0);
      else accumulate(Sj, Hj, T, nb, c, V[j] + i0);
    }
  }
  const u64 two32 = (u64(1) << 32) % p;
  for (u32 j = 0; j < m; ++j)
    for (u32 x = 0; x < d; ++x) {
      const u64 s = S[u64(j) * dp + x], h = H[u64(j) * dp + x];
      // The true sum is h 2^32 + l, l = s - h 2^32 (mod 2^64) below 2^64.
      const u64 l = s - (h << 32);
      R[j][x] = u32(((h % p) * two32 + l % p) % p);
    }
  QUOR_NAME(restore_GC_state)(&mark);
}

void apply_rr(Dpol* G, u32 nG) {
  const double t0 = QUOR_NAME(cpu)();
  const u32 n = nb_of_affine_variables;
  u32 fi = 0;
  while (fi < nG && !univariate(G[fi], n)) ++fi;
  if (fi == nG) no_univariate(nG, n);
  const sDpol* f = G[fi];
  const u32 d = f->nb_terms ? degree_Expos(lead_Expos(f)) : 0;
  // Every other polynomial must be x_j + v_j(x_last), deg v_j < d: another
  // lead (x_j^2, a product) would be rewritten as if it were x_j, a tail with
  // other monomials silently mixed in.
  for (u32 i = 0; i < nG; ++i)
    if (i != fi) check_triangular(G[i], i, nG, n, d, fi);
  const u32 V = QUOR_NAME(vectorize);
  const u32 m = nG - 1;
  if (d == 0 || m == 0) {
    if (V) make_slot_current(V - 1);
    return;
  }

  u32* F = zone_array<u32>(u64(V) * d);
  u32* Dp = zone_array<u32>(u64(V) * d);
  for (u32 k = 0; k < V; ++k)
    if (!slot_polynomials(f, n, d, k, QUOR_NAME(Primes)[k], F + u64(k) * d, Dp + u64(k) * d)) {
      elim_fail(kElimBadPrime, "A prime of the block divides the leading coefficient of the univariate polynomial\n");
      return;
    }
  // A multiple root makes the form 0/0 there.  f is square-free over the
  // rationals exactly when it is so modulo almost every prime, and the
  // residues of the form at a prime dividing its discriminant are still
  // right: one slot decides, the others are asked only when it fails.
  if (!coprime_to_derivative(QUOR_NAME(Primes)[0], F, Dp, d)) {
    u32 bad = 1;
    for (u32 k = 1; k < V; ++k)
      bad += !coprime_to_derivative(QUOR_NAME(Primes)[k], F + u64(k) * d, Dp + u64(k) * d, d);
    if (bad == V)
      QUOR_NAME(Fatal)("The univariate polynomial is not square-free: the rational form is undefined at its "
                       "multiple roots (it is the minimal polynomial of the last variable, of degree %u; the radical "
                       "strategies or a request modulo a prime give an answer)\n",
                       d);
    elim_fail(kElimBadPrime, "The univariate polynomial is not square-free modulo a prime of the block\n");
    return;
  }

  // Tails and results of every slot: a term of the result exists where any
  // slot is non-zero.
  Dpol* others = zone_array<Dpol>(m);
  for (u32 i = 0, j = 0; i < nG; ++i)
    if (i != fi) others[j++] = G[i];
  u32* res = zone_array<u32>(u64(V) * m * d);
  u32* tails = zone_array<u32>(u64(m) * d);
  const u32** vin = zone_array<const u32*>(m);
  u32** vout = zone_array<u32*>(m);
  for (u32 k = 0; k < V; ++k) {
    make_slot_current(k);
    const u32 p = QUOR_NAME(Primes)[k];
    std::memset(tails, 0, u64(m) * d * sizeof(u32));
    for (u32 j = 0; j < m; ++j) {
      const sDpol* g = others[j];
      u32* v = tails + u64(j) * d;
      for (u32 t = 1; t < g->nb_terms; ++t) v[expos_slot(g->monoms[t] + 1, n - 1)] = g->coeffs[k][t] % p;
      vin[j] = v;
      vout[j] = res + (u64(k) * m + j) * d;
    }
    mul_mod_monic(p, F + u64(k) * d, Dp + u64(k) * d, d, vin, vout, m);
  }

  for (u32 i = 0, j = 0; i < nG; ++i) {
    if (i == fi) continue;
    const sDpol* g = others[j];
    auto at = [&](u32 k, u32 e) { return res[(u64(k) * m + j) * d + e]; };
    auto present = [&](u32 e) {
      for (u32 k = 0; k < V; ++k)
        if (at(k, e)) return true;
      return false;
    };
    u32 z = 0;
    for (u32 e = 0; e < d; ++e) z += present(e);
    Dpol q = new_Dpol(1 + z);
    q->monoms[0] = g->monoms[0];
    for (u32 k = 0; k < V; ++k) q->coeffs[k][0] = g->coeffs[k][0];
    u32 t = 1;
    for (u32 e = d; e-- > 0;) {
      if (!present(e)) continue;
      q->monoms[t] = x_last_power(n, e);
      for (u32 k = 0; k < V; ++k) q->coeffs[k][t] = at(k, e);
      ++t;
    }
    G[i] = q;
    ++j;
  }
  if (want_pipe2) QUOR_NAME(Stderr)("Time RR: %.2f sec\n", QUOR_NAME(cpu)() - t0);
}

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

QUOR_EXPORT void QUOR_NAME(Pprime)(u32 k, const u32* F, const u32* Dp, const u32* V, u32* R, u32 d) {
  if (k >= QUOR_NAME(vectorize))
    QUOR_NAME(Fatal)("Quor interface error: prime slot %u outside the block of %u\n", k, QUOR_NAME(vectorize));
  make_slot_current(k);
  if (d == 0) return;
  mul_mod_monic(QUOR_NAME(Prime), F, Dp, d, &V, &R, 1);
}

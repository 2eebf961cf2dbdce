// Wiedemann's minimal polynomial of the sparse matrix of the globals: the
// scalar sequence u.A^i.b, Berlekamp-Massey, the generator reversed at the
// linear complexity.
#include "minpolyvgf/wminpoly.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/coeffs.h"
#include "minpolyvgf/euclid.h"
#include "minpolyvgf/matdom1.h"
#include "minpolyvgf/minpoly.h"
#include "minpolyvgf/wiedemann_lowlevel.h"

namespace quor::QUOR_NS {

namespace {
inline u32 prime() { return *QUOR_NAME(modulo); }

// The older entry's prime, kept by value for the run.
QUOR_FGLM_LOCAL u32 minpoly_prime = 0;

// Both drivers: shift-form or pair-form products; `verbose2` adds the vector
// printing, the square-free line and the two lines after Berlekamp-Massey.
i32 run_minpoly(i32 D, u32* out, bool shift_form, bool verbose2, i32 sqfr) {
  const double t0 = delay();
  if (verbose2) std::fprintf(diag(), "want_sqrt=%d\n", sqfr);
  const u32 p = prime();
  const std::size_t len = std::size_t(std::max(D, 1));
  std::vector<Dom> u = heap_array<Dom>(len, "the projection vector");
  std::vector<Dom> x = heap_array<Dom>(len, "a Krylov vector");
  std::vector<Dom> y = heap_array<Dom>(len, "a Krylov vector");
  std::vector<Dom> s = heap_array<Dom>(2 * std::size_t(std::max(D, 0)) + 1, "the sequence");
  choose_random(u.data(), D);
  choose_random(x.data(), D);  // b
  delay();
  const i32 mark = QUOR_INT ? 256 : 1024;
  // Only the projections are kept: two vectors alternate for A^i b.
  for (i32 i = 0; i < 2 * D; ++i) {
    if (i % mark == 0) {
      std::fprintf(diag(), "[%d]", i / 2);
      std::fflush(stderr);
    }
    if (i > 0) {
      // A row that is neither a copy nor a dense row is a zero row.
      std::fill(y.begin(), y.end(), Dom(0));
      if (shift_form) QUOR_NAME(apply)(y.data(), x.data(), D);
      else QUOR_NAME(apply2)(y.data(), x.data(), D);
      std::swap(x, y);
    }
    if (verbose2 && i >= D) {
      std::printf("span A^%d b = [", i);
      // Residues printed whole (a 16-bit signed reading would misprint those from 32768 on).
      for (i32 c = 0; c < D; ++c) std::printf(c ? ", %u " : " %u ", unsigned(x[c]));
      std::printf("]:\n");
    }
    s[i] = Dom(dot_product(u.data(), x.data(), D));
  }

  const double t1 = delay();
  std::vector<Dom> K = heap_array<Dom>(2 * std::size_t(std::max(D, 0)) + 2, "the generator");
  i32 L = 0;
  berlekamp(s.data(), 2 * D, K.data(), &L);
  if (verbose2) {
    std::fprintf(diag(), "Trouve un poly de taille %d\n", L);
    std::fprintf(diag(), "Time for 2nd part: %.2f sec\n", delay() - t1);
  }
  // X^L K(1/X) at the linear complexity L is the monic generator, with its
  // factors X (K has degree below L then); the square-free part is taken of it.
  std::vector<Dom> mu = heap_array<Dom>(std::size_t(L) + 1, "the minimal polynomial");
  for (i32 i = 0; i <= L; ++i) mu[L - i] = K[i];
  i32 e = L, flag = 0;
  if (sqfr) e = sqr_free(mu.data(), L, &flag);
  if (out)
    for (i32 i = 0; i <= e; ++i) out[i] = u32(mu[i]) % p;
#if QUOR_INT
  const bool total = true;
#else
  const bool total = nb_threads == 1;
#endif
  if (total) std::fprintf(diag(), "Total time %.2f sec\n", delay() - t0);
  return e;
}

// The common checks and globals of the two entries.
void set_up(i32 D, i32* pairs, i32* nosp, void* cfs, bool shift_form, const char* who) {
  const u32 p = *QUOR_NAME(Table_Primes);
  if (p < 2) QUOR_NAME(Fatal)("%s: %u is not a prime\n", who, p);
#if !QUOR_INT
  // Residues are 16-bit words here.
  if (p > 65521) QUOR_NAME(Fatal)("Pas la bonne version de la lib !\n");
#endif
  if (D < 0 || D > INT32_MAX / 2) QUOR_NAME(Fatal)("%s: bad matrix size %d\n", who, D);
  QUOR_NAME(w_sparse) = pairs;
  QUOR_NAME(w_nosp) = nosp;
  QUOR_NAME(w_cfs) = static_cast<Dom*>(cfs);
  QUOR_NAME(wid_size_matrix) = D;
  if (check_matrix_lists(D, shift_form, who) > 0 && cfs == nullptr)
    QUOR_NAME(Fatal)("%s: dense rows listed but none given\n", who);
}
}  // namespace

u32 dot_product(const Dom* u, const Dom* v, i32 n) {
  Dom r = 0;
  return QUOR_NAME(dot_product_dense)(&r, u, v, n);
}

i32 minpoly_sparse2(i32 D, u32* out, i32 sqfr) { return run_minpoly(D, out, false, true, sqfr); }

i32 minpoly_sparse(i32 D, u32* out) { return run_minpoly(D, out, true, false, 0); }

}  // namespace quor::QUOR_NS

QUOR_EXPORT quor::i32 QUOR_NAME(w_minpoly)(quor::u32 prime, quor::i32 D, quor::i32* pairs, quor::i32* nosp,
                                           void* cfs) {
  using namespace quor::QUOR_NS;
  minpoly_prime = prime;
  QUOR_NAME(Table_Primes) = &minpoly_prime;
  init_wiedemann();
  std::fprintf(diag(), "Prime = %d\n", int(prime));
  set_up(D, pairs, nosp, cfs, true, "w_minpoly");
  return minpoly_sparse(D, static_cast<quor::u32*>(cfs));
}

QUOR_EXPORT quor::i32 QUOR_NAME(w_minpoly2)(quor::u32* prime, quor::i32 D, quor::i32* pairs, quor::i32* nosp,
                                            void* cfs, quor::i32 sqfr) {
  using namespace quor::QUOR_NS;
  if (prime == nullptr) QUOR_NAME(Fatal)("w_minpoly2: no prime given\n");
  QUOR_NAME(Table_Primes) = prime;
  init_wiedemann();
  std::fprintf(diag(), "Prime = %u\n", *prime);
  set_up(D, pairs, nosp, cfs, false, "w_minpoly2");
  return minpoly_sparse2(D, static_cast<quor::u32*>(cfs), sqfr);
}

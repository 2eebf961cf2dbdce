// Sparse FGLM by Wiedemann's method: Krylov sequence of the multiplication
// matrix, Pade cofactors of the sequence, then the minimal polynomial of the
// last variable and one numerator per other variable.
#include "minpolyvgf/fglm.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "minpolyvgf/euclid.h"
#include "minpolyvgf/matdom1.h"
#include "minpolyvgf/minpoly.h"
#include "minpolyvgf/unipoly.h"
#include "minpolyvgf/wiedemann_lowlevel.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

namespace {

inline u32 prime() { return *QUOR_NAME(modulo); }

// Krylov vector: 16-byte aligned (the SSE kernels load aligned blocks) and
// zero over the padding up to the aligned length, which the kernels read.
struct AlignedVec {
  explicit AlignedVec(std::size_t n)
      : p(static_cast<Dom*>(::operator new[](n * sizeof(Dom), std::align_val_t(16)))) {
    std::memset(p, 0, n * sizeof(Dom));
  }
  ~AlignedVec() { ::operator delete[](p, std::align_val_t(16)); }
  AlignedVec(const AlignedVec&) = delete;
  AlignedVec& operator=(const AlignedVec&) = delete;
  Dom* p;
};

// A sequence term as a residue in [0, p).  Prime-field Krylov words are read
// as signed: random start words from 32768 on and the symmetric outputs of
// the dense rows are negative there, and all of it is consistent modulo p.
inline Dom residue(Dom w, u32 p) {
#if QUOR_INT
  return w;
#else
  const i32 v = std::int16_t(w);
  return Dom(v < 0 ? v + i32(p) : v);
#endif
}

// The matrix comes from other subsystems: a coordinate outside [0, D) would
// write outside the Krylov vectors, an unaligned row would fault in the SSE
// loads.  Returns the number of dense rows.
i32 check_matrix(i32 D, i32 nvars, const i32* idx) {
  const i32 count = check_matrix_lists(D, false, "w_fglm");
  for (i32 r = 0; r < count; ++r) {
    if (w_cfs_tab == nullptr || w_cfs_tab[r] == nullptr) QUOR_NAME(Fatal)("Missing dense row %d in w_fglm\n", r);
#if !QUOR_INT
    if (reinterpret_cast<std::uintptr_t>(w_cfs_tab[r]) % 16 != 0)
      QUOR_NAME(Fatal)("Dense row %d not aligned in w_fglm\n", r);
#endif
  }
  for (i32 j = 0; j < nvars; ++j)
    if (idx[j] >= D || (j == nvars - 1 && idx[j] < 0))
      QUOR_NAME(Fatal)("Bad coordinate index %d of variable %d in w_fglm (D=%d)\n", idx[j], j, D);
  return count;
}

void timing_line(double w0, double terms, u32 nonzero) {
#if !QUOR_INT
  const double sec = omp_get_wtime() - w0;
  std::fprintf(diag(), "\nEllapsed time (FGLM): %.2f sec GOP:%.2f\n", sec,
               terms * double(nonzero) / std::max(sec, 1e-9) / 1e9);
#endif
}

constexpr const char* kNoGenerator = "Cas pas encore fait ! [msg 2]\n";

// A residue as a Krylov word the matrix application reads back to it.
inline Dom krylov_word(u32 r, u32 p) {
#if QUOR_INT
  (void)p;
  return Dom(r);
#else
  return Dom(u16(r > (p - 1) / 2 ? i32(r) - i32(p) : i32(r)));
#endif
}

// The products y = T x of one run.  Dense rows without a non-zero entry are
// rows of zeros: their coordinates are set to 0 instead of costing a dot
// product over D each (a matrix file may hold thousands of them).  While it
// lives, the dense-row table holds the other rows only, in the list's order.
class Products {
 public:
  Products(i32 D, i32 ndense) : D_(D), table_(w_cfs_tab) {
    const Dom* zero = nullptr;  // rows often share one zero buffer: looked at once
    for (i32 r = 0; r < ndense; ++r) {
      const Dom* row = table_[r];
      const bool empty = row == zero || std::all_of(row, row + D, [](Dom c) { return c == 0; });
      if (empty) zero = row;
      (empty ? zeros_ : list_).push_back(QUOR_NAME(w_nosp)[2 * r]);
      if (!empty) rows_.push_back(table_[r]);
    }
    count_ = i32(list_.size());
    list_.push_back(0);  // one entry past the count, as the kernels were given before
    w_cfs_tab = rows_.data();
  }
  ~Products() { w_cfs_tab = table_; }
  Products(const Products&) = delete;
  Products& operator=(const Products&) = delete;

  void apply(Dom* y, const Dom* x) const {
    QUOR_NAME(apply2v)(y, x, D_, list_.data(), count_);
    for (const i32 z : zeros_) y[z] = 0;
  }

 private:
  i32 D_, count_ = 0;
  Dom** table_;
  std::vector<i32> list_, zeros_;
  std::vector<Dom*> rows_;
};

// 1 when f(T) v = 0 (f monic of degree deg, Horner: deg products); w and t
// are scratch Krylov vectors.  A wrong f passes for a random v with
// probability at most 1/p.
bool annihilates(const Dom* f, i32 deg, const Dom* v, i32 D, const Products& T, Dom* w, Dom* t) {
  const u32 p = prime();
  std::copy(v, v + D, w);
  for (i32 i = deg - 1; i >= 0; --i) {
    T.apply(t, w);
    for (i32 x = 0; x < D; ++x)
      w[x] = krylov_word(u32((u64(f[i]) * residue(v[x], p) + residue(t[x], p)) % p), p);
  }
  for (i32 x = 0; x < D; ++x)
    if (residue(w[x], p) != 0) return false;
  return true;
}

// A := lcm(A, B), monic; A, B monic of degrees degA, degB (-1 or 0: A := B)
// dividing one polynomial of degree <= room, A with room + 2 entries; the new degree.
i32 lcm_into(Dom* A, i32 degA, const Dom* B, i32 degB, i32 room) {
  if (degA <= 0) {
    std::copy(B, B + degB + 1, A);
    return degB;
  }
  if (degB <= 0) return degA;
  const u32 p = prime();
  // b := gcd(A, B), g := B / gcd up to a constant; then A := A g.
  std::vector<Dom> b(B, B + degB + 1), g(A, A + degA + 1);
  g.resize(std::size_t(std::max(degA, degB)) + 2);
  b.resize(g.size());
  i32 db = degB, dg = degA;
  gcd(b.data(), &db, g.data(), &dg);
  std::vector<Dom> r(std::size_t(degA) + std::size_t(std::max(dg, 0)) + 2);
  i32 dr = -1;
  mul_tronquer(r.data(), &dr, A, degA, g.data(), dg, degA + dg + 1);
  if (dr < 0 || dr > room) QUOR_NAME(Fatal)("Bug in the minimal polynomial: lcm of degree %d > %d\n", dr, room);
  const u32 il = INV_2args(r[dr], p);
  for (i32 i = 0; i <= dr; ++i) A[i] = Dom(u64(r[i]) * il % p);
  return dr;
}

// The values of a session line: bw random projections of a Krylov vector,
// by the same vectors in every process (drawn first after the reseed).
// Leading coordinates would not do: in a multiplication matrix a copy row
// links two of them (e_c T = e_c', 1 and x_last for a start), so the
// sequences lose a dimension at every step and the block Hankel matrix of
// order D / b that combines them is singular.
struct Projector {
  Projector(i32 bw, i32 D) : bw(bw), D(D), U(heap_array<Dom>(std::size_t(std::max(bw, 0)) * D, "the session projections")),
        r(heap_array<Dom>(std::size_t(D), "a session vector")), v(heap_array<Dom>(std::size_t(std::max(bw, 1)), "a session line")) {
    for (i32 j = 0; j < bw; ++j) choose_random(U.data() + std::size_t(j) * D, D);
  }
  void write(std::FILE* file, const Dom* x) {
    const u32 p = prime();
    for (i32 c = 0; c < D; ++c) r[c] = residue(x[c], p);
    for (i32 j = 0; j < bw; ++j) {
      Dom t = 0;
      v[j] = krylov_word(QUOR_NAME(dot_product_dense)(&t, U.data() + std::size_t(j) * D, r.data(), D), p);
    }
    write_session(file, v.data(), bw);
  }
  i32 bw, D;
  std::vector<Dom> U, r, v;
};

}  // namespace

i32 want_fglm_soft_failure = 0;

void fglm_sparse(i32 D, i32 verbose, i32 nvars, const i32* idx, Dom** out, i32* outdeg, char** names,
                 i32 sqfr, i32 minpoly_only, i32 N, i32 P, i32 b) {
  const double w0 = omp_get_wtime();
  const double c0 = delay();
  const u32 p = prime();
  const bool session = P > 0;

  // The parametrisation reads 2D terms whatever N says; a block size only
  // means something for a session (a shorter sequence would be read past).
  if (N <= 0 || N >= D || (!session && !minpoly_only)) N = D;
  i32 L = session && b > 0 ? N / b : N;

  const i32 ndense = check_matrix(D, nvars, idx);
  // The projections are drawn before the start vectors (and before the file
  // is opened, so that nothing fatal comes between the opening and the closing).
  std::unique_ptr<Projector> projector;
  if (session) projector = std::make_unique<Projector>(std::min(b, D), D);  // at most D independent values
  std::FILE* file = session ? QUOR_NAME(ouvrir_paral)(P) : nullptr;
  const u32 nonzero = QUOR_NAME(sparsity_align)(D);
  if (verbose) std::fprintf(diag(), "Sparsity: %.2f%%\n", double(nonzero) / D / D * 100);
  if (verbose) std::fprintf(diag(), "Nb vars=%d\n", nvars);

  const std::size_t n = QUOR_NAME(align_vector_size)(u32(D));
  AlignedVec xv(n), yv(n);
  Dom* x = xv.p;
  Dom* y = yv.p;

  // The variables that get a numerator, with their sequence buffers.
  std::vector<i32> vars;
  if (!session && !minpoly_only)
    for (i32 j = 0; j < nvars - 1; ++j)
      if (idx[j] >= 0) vars.push_back(j);
  const std::size_t hlen = std::size_t(D) + 1;
  std::vector<Dom> H(vars.size() * hlen);
  std::vector<Dom> G(2 * std::size_t(std::max(L, 0)) + 1);

  const Products T(D, ndense);

  if (out)
    for (i32 j : vars)
      if (out[j] == nullptr) QUOR_NAME(Fatal)("Missing result row %d in w_fglm\n", j);
  if (out && !session && out[nvars - 1] == nullptr)
    QUOR_NAME(Fatal)("Missing result row %d in w_fglm\n", nvars - 1);

  const i32 one = idx[nvars - 1];
  const i32 mark = QUOR_INT ? 256 : 1024;

  // Pade buffers: N + 2 entries for the minimal polynomial alone, D + 1 for
  // the cofactors; SOLVE reads and reverses its cofactors at degree D.
  std::vector<Dom> Y(std::size_t(D) + 2), Q(std::size_t(D) + 2);
  i32 deg = -1, qdeg = -1;
  // Minimal-polynomial path: lcm of the sequences' generators, and the
  // vector that checks it.
  std::vector<Dom> Mu(std::size_t(D) + 2);
  i32 degMu = -1;
  std::unique_ptr<AlignedVec> check;

  for (i32 attempt = 1;; ++attempt) {
    for (i32 k = 0; k < (session ? P : 1); ++k) choose_random(x, D);
    if (session) {
      std::fputs("[\n", file);
      projector->write(file, x);
    } else {
      G[0] = x[one];
      for (std::size_t v = 0; v < vars.size(); ++v) H[v * hlen] = x[idx[vars[v]]];
    }
    for (i32 k = 1; k < 2 * L; ++k) {
      if (verbose && k % mark == 0) {
        std::fprintf(diag(), "[%d]", k / 2);
        std::fflush(stderr);
      }
      // Outside a team the request's interrupt poll may unwind here (no file is open then).
      if (!session && !omp_in_parallel()) QUOR_NAME(checkInterrupt)();
      T.apply(y, x);
      std::swap(x, y);
      if (session) {
        std::fputs(",", file);
        projector->write(file, x);
        continue;
      }
      G[k] = x[one];
      if (k <= D)
        for (std::size_t v = 0; v < vars.size(); ++v) H[v * hlen + k] = x[idx[vars[v]]];
    }

    if (session) {
#if !QUOR_INT
      const double sec = omp_get_wtime() - w0;
      std::fprintf(diag(), "\nEllapsed time (FGLM): %.2f sec GOP:%.2f for proc %d\n", sec,
                   2.0 * L * double(nonzero) / std::max(sec, 1e-9) / 1e9, P);
#endif
      std::fputs("]:\n", file);
      close_ouvrir(file);
      return;
    }

    for (i32 k = 0; k < 2 * L; ++k) G[k] = residue(G[k], p);
    for (Dom& h : H) h = residue(h, p);

    bool found;
    if (minpoly_only) {
      found = algo_AD_part1(G.data(), N, Y.data(), &deg) >= 0;
      if (verbose) std::fprintf(diag(), "Find Polynomial of degree %d", deg);
      if (found) {
        // One projection misses a factor with probability about deg/p: take
        // the lcm over start vectors until it annihilates T.  Degree D is
        // that of the characteristic polynomial, so nothing is missing then.
        degMu = lcm_into(Mu.data(), degMu, Y.data(), deg, D);
        if (degMu == D) break;
        if (!check) check = std::make_unique<AlignedVec>(n);
        choose_random(check->p, D);
        if (annihilates(Mu.data(), degMu, check->p, D, T, x, y)) break;
        std::fprintf(diag(), "\nThe polynomial of degree %d does not annihilate the matrix: another start vector\n",
                     degMu);
        if (N < D) {
          // Too short a sequence for the degree: its generator need not divide.
          N = L = D;
          G.assign(2 * std::size_t(L) + 1, 0);
          degMu = -1;
        }
        if (attempt == kFglmAttempts)
          QUOR_NAME(Fatal)("No minimal polynomial annihilates the matrix after %d start vectors\n", attempt);
        continue;
      }
    } else {
      found = algo_AD(G.data(), D - 1, Y.data(), &deg, Q.data(), &qdeg) != 0;
      if (!found) timing_line(w0, 2.0 * N, nonzero);
    }
    if (found) break;
    // An unlucky start vector gives a sequence of too low a complexity; a
    // matrix that is not cyclic gives it for every vector.
    std::fprintf(diag(), "%s", kNoGenerator);
    if (attempt == kFglmAttempts) {
      if (!minpoly_only && want_fglm_soft_failure) return;  // results untouched
      QUOR_NAME(Fatal)("%s", kNoGenerator);
    }
  }

  // x and y are no longer needed; T may now be overwritten by the results.
  if (minpoly_only) {
    std::copy(Mu.begin(), Mu.begin() + (degMu + 1), Y.begin());
    deg = degMu;
    i32 flag = 0;
    if (sqfr) deg = sqr_free(Y.data(), deg, &flag);
    if (out) {
      std::copy(Y.begin(), Y.begin() + (deg + 1), out[nvars - 1]);
      outdeg[nvars - 1] = deg;
    } else {
      std::printf("\n[");
      display_poly(Y.data(), deg + 1);
      std::printf("]\n");
    }
    timing_line(w0, 2.0 * N, nonzero);
    return;
  }

  std::vector<Dom> S(std::size_t(D) + 1), E(std::size_t(D) + 1), F(std::size_t(D) + 2);
  std::copy(G.begin() + D, G.begin() + 2 * D, S.begin());
  i32 e = -1;
  SOLVE(E.data(), &e, Y.data(), Q.data(), qdeg, S.data(), D - 1);
  // F = X^D - sum E[i] X^(D-1-i): built at the degree D the sequence was
  // checked to have, not at e + 1, which would drop a factor X (a solution
  // with x_last = 0).
  for (i32 i = 0; i < D; ++i) F[D - 1 - i] = i <= e ? Dom(QUOR_NAME(NEG)(E[i], p)) : Dom(0);
  F[D] = 1;
  i32 degF = D;
  i32 flag = 0;
  if (sqfr) degF = sqr_free(F.data(), degF, &flag);

  bool first = true;
  for (std::size_t v = 0; v < vars.size(); ++v) {
    const i32 j = vars[v];
    SOLVE(E.data(), &e, Y.data(), Q.data(), qdeg, H.data() + v * hlen, D - 1);
    if (e >= 0) {
      for (i32 i = 0; i <= e; ++i) E[i] = Dom(QUOR_NAME(NEG)(E[i], p));
      std::fill(E.begin() + (e + 1), E.begin() + D, Dom(0));
      e = reverse(E.data(), D - 1);
      if (flag) e = rem_d(E.data(), e, F.data(), degF);
    }
    if (out) {
      if (e >= 0) std::copy(E.begin(), E.begin() + (e + 1), out[j]);
      outdeg[j] = e;
    } else {
      std::printf(first ? "[%s+" : ",%s+", names && names[j] ? names[j] : "");
      display_poly(E.data(), e + 1);
      first = false;
    }
  }
  if (out) {
    std::copy(F.begin(), F.begin() + (degF + 1), out[nvars - 1]);
    outdeg[nvars - 1] = degF;
  } else {
    std::printf(first ? "[" : ",\n");
    display_poly(F.data(), degF + 1);
    std::printf("]\n");
  }
  timing_line(w0, 2.0 * N, nonzero);
#if QUOR_INT
  const bool total = verbose != 0;
#else
  const bool total = verbose && nb_threads == 1;
#endif
  if (total) std::fprintf(diag(), "Total time %.2f sec\n", delay() - c0);
}

}  // namespace quor::QUOR_NS

void quor::QUOR_NS::fglm_request(u32 D, i32* pairs, i32* nosp, u32 nvars, i32* idx, Dom** rows, i32 version,
                                 i32* outdeg, u32* prime, i32 verbose, i32 print, char** names, i32 sqfr,
                                 i32 minpoly_only, i32 N, i32 P, i32 b) {
  QUOR_NAME(Table_Primes) = prime;
  init_wiedemann();
  QUOR_NAME(w_sparse) = pairs;
  QUOR_NAME(w_nosp) = nosp;
  w_cfs_tab = rows;
  QUOR_NAME(wid_size_matrix) = i32(D);
  w_lvars = names && nvars > 0 ? names[nvars - 1] : nullptr;
  // A caller built for another interface: its arguments cannot be trusted.
  if (version != kFglmVersion) QUOR_NAME(Fatal)("incompatible V=%d<>%d\n", kFglmVersion, version);
  if (nvars < 1 || idx == nullptr || (print == 0 && (rows == nullptr || outdeg == nullptr)))
    QUOR_NAME(Fatal)("Bad arguments of w_fglm (nvars=%u)\n", nvars);
  if (D > u32(INT32_MAX / 2)) QUOR_NAME(Fatal)("Bad arguments of w_fglm (D=%u)\n", D);
  if (D == 0) {
    // The zero quotient: the minimal polynomial is 1, no variable is a basis monomial.
    if (print == 0 && P <= 0) {
      rows[nvars - 1][0] = 1;
      outdeg[nvars - 1] = 0;
    }
    return;
  }
  fglm_sparse(i32(D), verbose, i32(nvars), idx, print == 0 ? rows : nullptr, outdeg,
              print == 0 ? nullptr : names, sqfr, minpoly_only, N, P, b);
}

QUOR_EXPORT void QUOR_NAME(w_fglm)(quor::u32 D, quor::i32* pairs, quor::i32* nosp, quor::u32 nvars,
                                   quor::i32* idx, quor::QUOR_NS::Dom** rows, quor::i32 version,
                                   quor::i32* outdeg, quor::u32* prime, quor::i32 verbose, quor::i32 print,
                                   char** names, quor::i32 sqfr, quor::i32 minpoly_only, quor::i32 N,
                                   quor::i32 P, quor::i32 b) {
  quor::QUOR_NS::entry_guard([&] {
    quor::QUOR_NS::fglm_request(D, pairs, nosp, nvars, idx, rows, version, outdeg, prime, verbose, print, names, sqfr,
                                minpoly_only, N, P, b);
  });
}

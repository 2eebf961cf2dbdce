// Block Hankel solver of the block method and the combination of session files.
//
// With P_0 = I, P_1, ... monic matrix polynomials (P_k of degree k) and the
// moments Q[k][j] = sum_t P_k[t] S_{t+j}, the recurrence
//   P_{l+1} = (x I + W2) P_l + W3 P_{l-1},
//   W3 = -Q[l][l] Q[l-1][l-1]^-1,  W2 = -(W3 Q[l-1][l] + Q[l][l+1]) Q[l][l]^-1
// makes Q[l+1][j] = W2 Q[l][j] + Q[l][j+1] + W3 Q[l-1][j] vanish for j <= l:
// the block Hankel matrix becomes block upper triangular with the pivots
// Q[k][k] on its diagonal, and MX solves sum_{i=k..d} Q[k][i] MX[i] = 0,
// k = d-1 .. 0, by back substitution.  Row k of the moments is needed for
// j in [k, 2d-1-k] (so that Q[k][d] is one of them), the polynomials
// themselves never: only three full rows are kept, and of each row the part
// j <= d that the back substitution reads.
#include "minpolyvgf/blockhankel.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "core/coeffs.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

namespace {

// Largest table the solver takes (bytes): beyond it the request is refused
// rather than left to the allocator.
constexpr unsigned __int128 kMaxTable = (unsigned __int128)1 << 40;

// One full row of moments, Q[k][j] for j in [k, 2d-1-k].
struct MomentRow {
  std::vector<Dom1> store;
  i64 m = 0;
  i32 k = 0;
  Dom1* at(i32 j) { return store.data() + i64(j - k) * m; }
};

}  // namespace

void block_hankel1(const Dom1* const* S, Dom1* const* MX, i32 n, i32 d, i32 verbose) {
  if (n < 1) QUOR_NAME(Fatal)("block_hankel1: block size %d (at least 1)\n", n);
  if (d < 2) QUOR_NAME(Fatal)("block_hankel1: generator degree %d (at least 2)\n", d);
  const double t0 = omp_get_wtime();
  const i64 m = i64(n) * n;
  // Kept part of row k: j in [k, d] (d - k + 1 matrices); three full rows;
  // the d pivot inverses; four scratch matrices.
  const unsigned __int128 matrices =
      (unsigned __int128)d * (d + 3) / 2 + 3 * 2 * (unsigned __int128)d + d + 4;
  const unsigned __int128 bytes = matrices * (unsigned __int128)m * sizeof(Dom1);
  std::fprintf(stderr, "Need to alloc: %lu\n", (unsigned long)bytes);
  if (bytes > kMaxTable) QUOR_NAME(Fatal)("block_hankel1: n=%d, d=%d need too much memory\n", n, d);

  std::vector<i64> start = heap_array<i64>(std::size_t(d) + 1, "the moment table");
  for (i32 k = 0; k < d; ++k) start[k + 1] = start[k] + i64(d - k + 1) * m;
  std::vector<Dom1> kept = heap_array<Dom1>(std::size_t(start[d]), "the moment table");
  auto Q = [&](i32 k, i32 j) { return kept.data() + start[k] + i64(j - k) * m; };
  std::vector<Dom1> inv = heap_array<Dom1>(std::size_t(d * m), "the pivot inverses");
  std::vector<Dom1> scratch = heap_array<Dom1>(std::size_t(4 * m), "the solver");
  Dom1 *W2 = scratch.data(), *W3 = W2 + m, *W4 = W3 + m, *W5 = W4 + m;
  MomentRow rows[3];
  for (MomentRow& r : rows) {
    r.store = heap_array<Dom1>(std::size_t(2 * d * m), "the moment rows");
    r.m = m;
  }
  MomentRow *prev = &rows[0], *cur = &rows[1], *next = &rows[2];
  auto keep = [&](MomentRow* r) {
    std::memcpy(Q(r->k, r->k), r->at(r->k), sizeof(Dom1) * std::size_t((d - r->k + 1) * m));
  };
  MatSum sum(n);

  // Row 0 is the sequence itself; P_1 = x I + W2 with W2 = -S_1 S_0^-1.
  cur->k = 0;
  for (i32 j = 0; j < 2 * d; ++j) std::memcpy(cur->at(j), S[j], sizeof(Dom1) * std::size_t(m));
  keep(cur);
  inv_MatDom1s(S[0], inv.data(), n);
  sum.add_product(S[1], inv.data());
  sum.store(W2, true);
  next->k = 1;
  for (i32 j = 1; j <= 2 * d - 2; ++j) {
    sum.add_product(W2, S[j]);
    sum.add(S[j + 1]);
    sum.store(next->at(j));
  }
  std::swap(prev, cur);
  std::swap(cur, next);
  keep(cur);

  // Step l makes P_{l+1}; inv holds Q[k][k]^-1 for k < l.
  for (i32 l = 1; l <= d - 2; ++l) {
    if (verbose && l % 128 == 0) std::fprintf(stderr, "l=%d\n", l);
    Dom1* Wl = inv.data() + i64(l) * m;
    sum.add_product(cur->at(l), inv.data() + i64(l - 1) * m);
    sum.store(W3, true);
    inv_MatDom1s(cur->at(l), Wl, n);
    sum.add_product(W3, prev->at(l));
    sum.add(cur->at(l + 1));
    sum.store(W4);
    sum.add_product(W4, Wl);
    sum.store(W2, true);
    next->k = l + 1;
    for (i32 j = l + 1; j <= 2 * d - 2 - l; ++j) {
      sum.add_product(W2, cur->at(j));
      sum.add(cur->at(j + 1));
      sum.add_product(W3, prev->at(j));
      sum.store(next->at(j));
    }
    std::swap(prev, cur);
    std::swap(cur, next);
    keep(cur);
  }
  inv_MatDom1s(Q(d - 1, d - 1), inv.data() + i64(d - 1) * m, n);
  std::fprintf(diag(), "\n*** 1st Hankel bk=%d time: %.2f sec\n", n, omp_get_wtime() - t0);

  const u32 p = *QUOR_NAME(modulo);
  for (i64 e = 0; e < m; ++e) MX[d][e] = Dom1_of(e / n == e % n, p);
  for (i32 k = d - 1; k >= 0; --k) {
    sum.add(Q(k, d));
    for (i32 i = k + 1; i < d; ++i) sum.add_product(Q(k, i), MX[i]);
    sum.store(W5);
    sum.add_product(inv.data() + i64(k) * m, W5);
    sum.store(MX[k], true);
  }
}

i32 first_unannihilated(const Dom1* const* S, const Dom1* const* MX, i32 n, i32 d) {
  const std::size_t m = std::size_t(n) * std::size_t(n);
  std::vector<Dom1> sum(m), product(m);
  const u32 p = *QUOR_NAME(modulo);
  for (i32 j = 0; j < d; ++j) {
    std::fill(sum.begin(), sum.end(), Dom1(0));
    for (i32 i = 0; i <= d; ++i) {
      mult_MatDom1s(S[i + j], MX[i], product.data(), n);
      add_MatDom1_d(product.data(), sum.data(), n);
    }
    for (const Dom1 e : sum)
      if (residue_of(e, p) != 0) return j;
  }
  return -1;
}

std::vector<Dom1> combine_results(const char* base, i32 n, i32 N) {
  if (base == nullptr) QUOR_NAME(Fatal)("combine_results: no session name\n");
  if (n < 1) QUOR_NAME(Fatal)("combine_results: %d processes (at least 1)\n", n);
  const i32 d = N / n;
  if (d < 2) QUOR_NAME(Fatal)("combine_results: generator degree %d = %d / %d (at least 2)\n", d, N, n);
  const i64 count = 2 * i64(d) * n;
  if (count > INT32_MAX) QUOR_NAME(Fatal)("combine_results: %lld values per session is too many\n", (long long)count);
  if (QUOR_NAME(Primes) == nullptr) QUOR_NAME(Fatal)("combine_results: no working prime\n");
  const u32 p = QUOR_NAME(Primes)[0];
  // Every value takes a digit and a separator: a file too short for count
  // values is refused before the sessions' memory is taken.
  for (i32 i = 1; i <= n; ++i) {
    char name[kSessionNameSize];
    if (!session_file_name(name, base, i)) QUOR_NAME(Fatal)("Session name too long: %.64s... (%d)\n", base, i);
    std::FILE* f = QUOR_NAME(ouvrir)(name, "r");
    struct stat st {};
    const bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    close_ouvrir(f);
    if (regular && i64(st.st_size) < 2 * count - 1)
      QUOR_NAME(Fatal)("combine_results: session file %s holds %lld bytes, too few for %lld values\n", name,
                       (long long)st.st_size, (long long)count);
  }

  std::vector<Dom> values = heap_array<Dom>(std::size_t(count) * std::size_t(n), "the sessions");
  std::vector<Dom*> seqs(std::size_t(n), nullptr);
  for (i32 i = 1; i <= n; ++i) {
    seqs[i - 1] = values.data() + (i - 1) * count;
    // The reader has said what is wrong; none of it may go to the solver.
    if (!read_session_file(base, i, seqs[i - 1], i32(count)))
      QUOR_NAME(Fatal)("combine_results: session file %s.%d does not hold %lld values\n", base, i,
                       (long long)count);
    // Sessions of another prime read as residues of this one would give a
    // generator of nothing.  The prime-field build writes symmetric words.
    const i64 low = QUOR_INT ? 0 : -i64((p - 1) / 2);
    for (i64 k = 0; k < count; ++k) {
      const i64 v = QUOR_INT ? i64(seqs[i - 1][k]) : i64(std::int16_t(seqs[i - 1][k]));
      if (v < low || v >= i64(p))
        QUOR_NAME(Fatal)("combine_results: session file %s.%d: value %lld at position %lld is not a residue modulo "
                         "%u (%lld .. %u expected)\n",
                         base, i, (long long)v, (long long)(k + 1), p, (long long)low, p - 1);
    }
  }

  QUOR_NAME(init_BlockHankel)(p);
  QUOR_NAME(test_MatDom1)();
  const i64 m = i64(n) * n;
  std::vector<Dom1> generator = heap_array<Dom1>(std::size_t((d + 1) * m), "the generator");
  std::vector<Dom1*> MX(std::size_t(d) + 1);
  for (i32 k = 0; k <= d; ++k) MX[k] = generator.data() + k * m;
  fglm_polys_request(MX.data(), seqs.data(), n, d, 1);
  return generator;
}

}  // namespace quor::QUOR_NS

namespace {
QUOR_FGLM_LOCAL quor::u32 block_prime = 0;
}  // namespace

QUOR_EXPORT void QUOR_NAME(init_BlockHankel)(quor::u32 p) {
  using namespace quor::QUOR_NS;
  if (p < 2) QUOR_NAME(Fatal)("init_BlockHankel: %u is not a prime\n", p);
#if !QUOR_INT
  if (p > 65521) QUOR_NAME(Fatal)("init_BlockHankel: the prime %u is above 65521\n", p);
#endif
  block_prime = p;
  QUOR_NAME(Table_Primes) = &block_prime;
  init_wiedemann();
#if !QUOR_INT
  // The signed pair the additions read, kept equal to the prime by construction.
  PrimeSign = quor::i32(p);
  PrimeHalf = (PrimeSign - 1) / 2;
#endif
}

void quor::QUOR_NS::fglm_polys_request(Dom1** MX, Dom** seqs, i32 n, i32 d, i32 verbose) {
  const u32 p = check_block_prime("fglm_polys");
  if (n < 1 || d < 2) QUOR_NAME(Fatal)("fglm_polys: n=%d, d=%d (n >= 1 and d >= 2 needed)\n", n, d);
  if (MX == nullptr || seqs == nullptr) QUOR_NAME(Fatal)("fglm_polys: no generator or no sequences\n");
  for (i32 k = 0; k <= d; ++k)
    if (MX[k] == nullptr) QUOR_NAME(Fatal)("fglm_polys: no block for MX[%d]\n", k);
  for (i32 i = 0; i < n; ++i)
    if (seqs[i] == nullptr) QUOR_NAME(Fatal)("fglm_polys: no sequence %d\n", i);
  if (verbose) std::fprintf(diag(), "\nfglm_polys uses %s implementation\n", "MatSum");
  const i64 m = i64(n) * n;
  if ((unsigned __int128)2 * d * m * sizeof(Dom1) > kMaxTable)
    QUOR_NAME(Fatal)("fglm_polys: n=%d, d=%d need too much memory\n", n, d);
  std::vector<Dom1> store = heap_array<Dom1>(std::size_t(2 * d * m), "the sequence matrices");
  std::vector<const Dom1*> S(2 * std::size_t(d));
  for (i32 k = 0; k < 2 * d; ++k) {
    Dom1* s = store.data() + k * m;
    for (i32 i = 0; i < n; ++i)
      for (i32 j = 0; j < n; ++j) s[i * n + j] = Dom1_of_word(seqs[i][i64(k) * n + j], p);
    S[k] = s;
  }
  const double w0 = omp_get_wtime();
  block_hankel1(S.data(), MX, n, d, verbose);
  std::fprintf(diag(), "\nEllapsed time: %.2f sec\n", omp_get_wtime() - w0);
  const i32 j = first_unannihilated(S.data(), MX, n, d);
  if (j >= 0)
    QUOR_NAME(Fatal)("fglm_polys: the generator found does not annihilate the sequences (block equation %d of %d)\n", j,
                     d);
  if (verbose)
    for (i32 k = 0; k <= d; ++k) {
      std::printf("MX[%d]=", k);
      display_MatDom1(MX[k], n);
    }
}

QUOR_EXPORT void QUOR_NAME(fglm_polys)(quor::QUOR_NS::Dom1** MX, quor::QUOR_NS::Dom** seqs, quor::i32 n,
                                       quor::i32 d, quor::i32 verbose) {
  quor::QUOR_NS::entry_guard([&] { quor::QUOR_NS::fglm_polys_request(MX, seqs, n, d, verbose); });
}

QUOR_EXPORT void QUOR_NAME(combine_results)(const char* base, quor::i32 n, quor::i32 N) {
  quor::QUOR_NS::entry_guard([&] { quor::QUOR_NS::combine_results(base, n, N); });
}

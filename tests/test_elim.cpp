// Elimination of coded matrices: random sparse matrices against a plain dense
// Gaussian elimination modulo each prime (same pivots, same reduced rows),
// the thread count (prime field), the zero-row heuristic, the trace written
// and replayed over a block of primes, and the failures that must come back
// to the caller (bad prime, trace out of step, interrupt) instead of ending
// the process.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"
#include "engine/radix_sort.h"
#if QUOR_INT
#include "engine/elim_vp_kernels.h"
#endif
#include "host/C/host_services.h"
#include "tests/dual_test.h"

#if !QUOR_INT
#include "api/request.h"
#endif

QUOR_TEST_BEGIN

namespace {

// A row over the integers: absolute columns (ascending, first = lead) and
// small coefficients, reduced modulo each prime when the row is built.
struct IRow {
  std::vector<u32> cols;
  std::vector<i64> val;
  u32 key;
  u32 flag;
};

// One output row: lead, key, and the dense residues of each slot.
struct Out {
  u32 lead, key;
  std::vector<std::vector<u32>> dense;  // per slot, columns 1..ncols (index 0 unused)
  bool operator==(const Out&) const = default;
};

u32 res(i64 v, u32 p) { return u32(((v % i64(p)) + p) % p); }

std::vector<u32> primes() {
  std::vector<u32> ps;
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) ps.push_back(QUOR_NAME(Primes)[k]);
  return ps;
}

ALGO_Dpol build_row(const IRow& r, u32 ncols) {
  const u32 V = QUOR_NAME(vectorize);
  auto* row = static_cast<sALGO_Dpol*>(QUOR_NAME(alloc64)(ALGO_Dpol_bytes(V)));
  std::memset(static_cast<void*>(row), 0, ALGO_Dpol_bytes(V));
  std::vector<u32> pos;
  for (u32 c : r.cols) pos.push_back(c - r.cols[0]);
  u64 bytes = 0;
  row->code = compress_lzw(pos.data(), u32(pos.size()), &row->nb_codes, &bytes);
  row->lead = r.cols[0];
  row->span = ncols - row->lead + 1;
  row->key = r.key;
  row->flag = r.flag;
  row->new_flag = r.flag;
  row->encoding = CODE_LZW;
  for (u32 s = 0; s < V; ++s) {
    Dom* c = static_cast<Dom*>(QUOR_NAME(alloc64)(r.val.size() * sizeof(Dom)));
    for (size_t j = 0; j < r.val.size(); ++j) c[j] = Dom(res(r.val[j], QUOR_NAME(Primes)[s]));
    row->coeffs[s] = c;
  }
  return row;
}

// Runs the elimination on the rows inside a zone mark; the output decoded.
std::vector<Out> run(const std::vector<IRow>& m, u32 ncols, u32* nreduce_out = nullptr) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  std::vector<ALGO_Dpol> rows;
  u32 nreduce = 0;
  for (const IRow& r : m) rows.push_back(build_row(r, ncols)), nreduce += r.flag != 0;
  if (nreduce_out) *nreduce_out = nreduce;
  std::vector<ALGO_Dpol> out(nreduce + 1);
  sort_matrix_rows(rows.data(), u32(rows.size()));
  const u32 n = eliminate_sorted(rows.data(), u32(rows.size()), ncols, nreduce, out.data());
  std::vector<Out> got;
  std::vector<u64> pos(ncols + 1);
  for (u32 i = 0; i < n; ++i) {
    const sALGO_Dpol* r = out[i];
    Out o{r->lead, r->key, {}};
    const u64 k = lzw_decode(r->code, r->nb_codes, pos.data(), pos.size(), r->span);
    EXPECT_NE(k, ~u64(0));
    if (k == ~u64(0)) break;
    for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) {
      std::vector<u32> d(ncols + 1, 0);
      for (u64 j = 0; j < k; ++j) d[r->lead + pos[j]] = r->coeffs[s][j];
      o.dense.push_back(d);
    }
    // An entry of the code holds a non-zero coefficient for some prime.
    for (u64 j = 0; j < k; ++j) {
      bool any = false;
      for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) any |= r->coeffs[s][j] != 0;
      EXPECT_TRUE(any) << "row of lead " << r->lead << ", entry " << j;
    }
    got.push_back(o);
  }
  QUOR_NAME(restore_GC_state)(&mark);
  return got;
}

// Dense Gaussian elimination modulo every prime: rows taken in the matrix
// order (lead descending, key ascending), each reduced by the pivots known so
// far, the new rows then fully inter-reduced.  Slot 0 decides the pattern.
// skip > 0: the zero-row heuristic's skip phase, the skip rows to reduce
// after a vanished one are passed over.
std::vector<Out> reference(std::vector<IRow> m, u32 ncols, bool renorm_lone = true, u32 skip = 0) {
  std::stable_sort(m.begin(), m.end(), [](const IRow& a, const IRow& b) {
    return a.cols[0] != b.cols[0] ? a.cols[0] > b.cols[0] : a.key < b.key;
  });
  const std::vector<u32> ps = primes();
  std::vector<Out> outs;
  for (size_t s = 0; s < ps.size(); ++s) {
    const u32 p = ps[s];
    std::map<u32, std::vector<u32>> piv;  // column -> monic dense row
    std::vector<std::pair<u32, u32>> found;  // (lead, key)
    for (const IRow& r : m)
      if (!r.flag && !piv.count(r.cols[0])) {
        std::vector<u32> d(ncols + 1, 0);
        for (size_t j = 0; j < r.cols.size(); ++j) d[r.cols[j]] = res(r.val[j], p);
        piv[r.cols[0]] = d;
      }
    std::vector<u32> order;
    u32 passing = 0;
    for (const IRow& r : m) {
      if (!r.flag) continue;
      if (passing) {
        --passing;
        continue;
      }
      std::vector<u32> d(ncols + 1, 0);
      for (size_t j = 0; j < r.cols.size(); ++j) d[r.cols[j]] = res(r.val[j], p);
      u32 lead = 0;
      for (u32 c = 1; c <= ncols; ++c) {
        if (!d[c]) continue;
        auto it = piv.find(c);
        if (it == piv.end()) {
          if (!lead) lead = c;
          continue;
        }
        const u64 f = d[c];
        for (u32 x = c; x <= ncols; ++x) d[x] = u32((d[x] + u64(p - f) * it->second[x]) % p);
      }
      if (!lead) {
        passing = skip;
        continue;
      }
      u32 nz = 0;
      for (u32 c = 1; c <= ncols; ++c) nz += d[c] != 0;
      if (nz > 1 || renorm_lone) {
        const u64 inv = inv_Dom(d[lead], p);
        for (u32 c = 1; c <= ncols; ++c) d[c] = u32(d[c] * inv % p);
      }
      piv[lead] = d;
      found.push_back({lead, r.key});
    }
    std::sort(found.begin(), found.end());
    // Back-reduction, right to left, against the final rows on the right.
    for (size_t t = found.size(); t-- > 0;) {
      std::vector<u32>& d = piv[found[t].first];
      for (size_t q = t + 1; q < found.size(); ++q) {
        const u32 c = found[q].first;
        const u64 f = d[c];
        if (!f) continue;
        const std::vector<u32>& pq = piv[c];
        for (u32 x = c; x <= ncols; ++x) d[x] = u32((d[x] + u64(p - f) * pq[x]) % p);
      }
    }
    if (s == 0)
      for (auto& [lead, key] : found) outs.push_back(Out{lead, key, {}});
    EXPECT_EQ(found.size(), outs.size());
    for (size_t t = 0; t < std::min(found.size(), outs.size()); ++t)
      outs[t].dense.push_back(piv[found[t].first]);
  }
  return outs;
}

// A random matrix over the integers: monic known pivots on distinct leads
// (keys 1..), rows to reduce with fresh larger keys, a share of them integer
// combinations of earlier rows so that some vanish.
std::vector<IRow> random_matrix(u32 seed, u32 ncols, u32 nknown, u32 nred, u32 density) {
  std::mt19937 g(seed);
  std::vector<IRow> m;
  auto tail = [&](u32 lead, IRow& r) {
    for (u32 c = lead + 1; c <= ncols; ++c)
      if (g() % 100 < density) r.cols.push_back(c), r.val.push_back(i64(g() % 19) - 9);
    for (size_t j = r.cols.size(); j-- > 1;)
      if (r.val[j] == 0) r.cols.erase(r.cols.begin() + j), r.val.erase(r.val.begin() + j);
  };
  std::vector<u32> leads(ncols);
  for (u32 c = 0; c < ncols; ++c) leads[c] = c + 1;
  std::shuffle(leads.begin(), leads.end(), g);
  u32 key = 1;
  for (u32 k = 0; k < nknown && k < ncols; ++k) {
    IRow r{{leads[k]}, {1}, key++, 0};
    tail(leads[k], r);
    m.push_back(r);
  }
  for (u32 k = 0; k < nred; ++k) {
    IRow r{{}, {}, 1000 + key++, 1};
    if (k > 2 && g() % 3 == 0) {
      // A combination of two earlier rows: dense sum over the integers.
      std::map<u32, i64> acc;
      for (int t = 0; t < 2; ++t) {
        const IRow& a = m[g() % m.size()];
        const i64 f = i64(g() % 5) + 1;
        for (size_t j = 0; j < a.cols.size(); ++j) acc[a.cols[j]] += f * a.val[j];
      }
      for (auto [c, v] : acc)
        if (v) r.cols.push_back(c), r.val.push_back(v);
      if (r.cols.empty()) continue;
    } else {
      const u32 lead = 1 + g() % ncols;
      r.cols.push_back(lead), r.val.push_back(i64(g() % 7) + 1);
      tail(lead, r);
    }
    m.push_back(r);
  }
  return m;
}

}  // namespace

class QUOR_SUITE(Elim) : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_reset_memory(0);
    zone_init_tables();
    if (zone_memory_allocated < (1u << 20)) zone_memory_allocated = 1u << 20;
    Quor_verb_info = 0;
    elim_status_clear();
    QUOR_NAME(want_no_renorm_cste) = 0;
    QUOR_NAME(want_aggressive) = 0;
    QUOR_NAME(stop_immediately_semaphore) = 0;
#if QUOR_INT
    use_primes(3, 0);
    simul_write = 1;
    QUOR_NAME(want_ignore_simulin) = 0;
    QUOR_NAME(reset_simulation)();
#else
    set_field_prime(65521);
    nb_threads = 1;
    // Every matrix is worth the threads asked for: the threaded path is the one tested.
    elim_cells_per_thread = 1;
#endif
  }
  void TearDown() override {
    QUOR_NAME(stop_immediately_semaphore) = 0;
    QUOR_NAME(want_aggressive) = 0;
    QUOR_NAME(want_skip_comput) = 0;
    elim_status_clear();
#if QUOR_INT
    simul_write = 1;
    QUOR_NAME(reset_simulation)();
#else
    nb_threads = 1;
    elim_cells_per_thread = u64(1) << 20;
#endif
    zone_reset_memory(0);
  }
#if QUOR_INT
  // V primes above 2^31, the block starting at the given offset of the table.
  void use_primes(u32 V, u32 offset) {
    const u32* t = default_primes32();
    primes_.assign(t + kDefaultPrimesCount - V - offset, t + kDefaultPrimesCount - offset);
    QUOR_NAME(Primes) = primes_.data();
    QUOR_NAME(vectorize) = V;
  }
  std::vector<u32> primes_;
#endif
};

QTEST(ElimKernels, CellResiduesAgreeWithDivision) {
  std::mt19937_64 g(3);
  for (u32 p : {65521u, 3u, 257u, 40961u}) {
    const CellMod<u16> m(p);
    for (int i = 0; i < 20000; ++i) {
      const u64 x = i < 100 ? ~u64(0) - u64(i) : g();
      ASSERT_EQ(m.of(x), x % p) << x << " mod " << p;
    }
  }
  for (u32 p : {4294967291u, 2147483659u, 3221225473u}) {
    const CellMod<u32> m(p);
    for (int i = 0; i < 20000; ++i) {
      const u32 hi = u32(g() % p), lo = u32(g());
      ASSERT_EQ(normal2_step(hi, lo, p, m.v), ((u64(hi) << 32) | lo) % p);
      LzwCell96 c{{u32(g()), u32(g()), u32(g() % (u64(1) << 31))}};
      if (i < 50) c = LzwCell96{{~0u, ~0u, u32(kElimMaxColumns)}};
      const unsigned __int128 v = (unsigned __int128)c.w[2] << 64 | (u64(c.w[1]) << 32 | c.w[0]);
      ASSERT_EQ(m.residue(c), u32(v % p));
    }
  }
}

QTEST_F(Elim, RandomMatricesMatchDenseReference) {
  u32 pivots = 0, reduced = 0;
  for (u32 seed = 1; seed <= 12; ++seed) {
    const u32 ncols = 20 + seed * 17;
    const auto m = random_matrix(seed, ncols, ncols / 3, ncols / 2, seed % 2 ? 8 : 30);
    const auto want = reference(m, ncols);
    u32 nred = 0;
    ASSERT_EQ(run(m, ncols, &nred), want) << "seed " << seed;
    EXPECT_EQ(elim_status(), kElimOk);
    pivots += u32(want.size()), reduced += nred;
  }
  // Both fates occur: new pivots and vanished rows.
  EXPECT_GT(pivots, reduced / 4);
  EXPECT_LT(pivots, reduced);
}

QTEST_F(Elim, SmallCases) {
  // Nothing to reduce; a lone row; rows that all vanish.
  std::vector<IRow> m{{{2, 4}, {1, 5}, 1, 0}};
  EXPECT_TRUE(run(m, 5).empty());
  m.push_back({{3, 5}, {4, 2}, 9, 1});
  auto got = run(m, 5);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].lead, 3u);
  EXPECT_EQ(got[0].dense[0][3], 1u);
  EXPECT_EQ(got, reference(m, 5));
  m.back() = {{2, 4}, {3, 15}, 9, 1};  // 3 * the pivot
  EXPECT_TRUE(run(m, 5).empty());
  // Two known pivots on one lead: the first in sorted order is the pivot,
  // the other is passed over.
  std::vector<IRow> d{{{1, 2}, {1, 1}, 1, 0}, {{1, 3}, {1, 1}, 2, 0}, {{1, 2, 3}, {1, 1, 1}, 9, 1}};
  got = run(d, 3);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].lead, 3u);
  EXPECT_EQ(got, reference(d, 3));
}

QTEST_F(Elim, LoneEntryStaysUnnormalisedOnlyWithTheSwitch) {
  const std::vector<IRow> m{{{4}, {6}, 5, 1}};
  EXPECT_EQ(run(m, 6)[0].dense[0][4], 1u);
  QUOR_NAME(want_no_renorm_cste) = 1;
  auto got = run(m, 6);
  EXPECT_EQ(got[0].dense[0][4], 6u);
  EXPECT_EQ(got, reference(m, 6, false));
}

QTEST_F(Elim, SolveLeavesNoZoneAllocationBehind) {
  GC_state before, after;
  std::vector<ALGO_Dpol> rows{build_row({{1, 2}, {1, 3}, 1, 0}, 4), build_row({{1, 2}, {2, 6}, 5, 1}, 4)};
  QUOR_NAME(save_GC_state)(&before);
  Dpol result[2] = {};
  EXPECT_EQ(QUOR_NAME(LINEAR_solve)(rows.data(), 2, 4, 1, result, nullptr), 0u);
  EXPECT_EQ(QUOR_NAME(LINEAR_solve)(nullptr, 0, 0, 0, result, nullptr), 0u);
  QUOR_NAME(save_GC_state)(&after);
  EXPECT_EQ(before.bignum_tas, after.bignum_tas);
  EXPECT_EQ(elim_status(), kElimOk);
}

#if !QUOR_INT
// The result is the same for every thread count, to the byte of the codes.
QTEST_F(Elim, ThreadCountDoesNotChangeTheResult) {
  for (u32 seed = 20; seed < 23; ++seed) {
    const u32 ncols = 100 + seed;
    auto m = random_matrix(seed, ncols, ncols / 4, ncols / 2, 10);
    // Several rows of one batch sharing a lead.
    for (u32 k = 0; k < 6; ++k) m.push_back({{7, 9 + k, ncols}, {1 + k, 3, 5}, 5000 + k, 1});
    const auto want = reference(m, ncols);
    for (int t : {1, 2, 4, 8, 3}) {
      nb_threads = t;
      ASSERT_EQ(run(m, ncols), want) << "seed " << seed << " threads " << t;
      // The heuristic on (never firing) takes the threaded path without the
      // first pass against the known pivots.
      QUOR_NAME(want_aggressive) = 1;
      QUOR_NAME(want_aggressive2) = 1 << 30;
      EXPECT_EQ(run(m, ncols), want) << "seed " << seed << " threads " << t;
      QUOR_NAME(want_aggressive) = 0;
    }
  }
}

// A basis reducing itself that is already reduced (rows to reduce only,
// leads apart, no tail entry in a lead column) comes back made monic, on
// any team; a tail entry in a lead column, or a shared lead, still gets
// its reduction.
QTEST_F(Elim, ReducedBasisComesBackMonic) {
  std::mt19937 g(61);
  const u32 ncols = 300;
  std::vector<IRow> m;
  std::vector<bool> lead(ncols + 1, false);
  for (u32 c = 1; c <= ncols; c += 1 + g() % 4) lead[c] = true;
  for (u32 c = 1, key = 1; c <= ncols; ++c) {
    if (!lead[c]) continue;
    IRow r{{c}, {i64(g() % 9) + 2}, key++, 1};
    for (u32 t = c + 1; t <= ncols; ++t)
      if (!lead[t] && g() % 6 == 0) r.cols.push_back(t), r.val.push_back(i64(g() % 19) + 1);
    m.push_back(r);
  }
  auto check = [&](const std::vector<IRow>& rows, const char* what) {
    const auto want = reference(rows, ncols);
    for (int t : {1, 4}) {
      nb_threads = t;
      EXPECT_EQ(run(rows, ncols), want) << what << ", threads " << t;
    }
  };
  check(m, "reduced");
  auto tail_on_lead = m;
  IRow& r = tail_on_lead[0];
  const auto at = std::lower_bound(r.cols.begin() + 1, r.cols.end(), m.back().cols[0]);
  r.val.insert(r.val.begin() + (at - r.cols.begin()), 3);
  r.cols.insert(at, m.back().cols[0]);
  check(tail_on_lead, "a tail entry in a lead column");
  auto shared = m;
  shared.push_back({{m[3].cols[0], ncols}, {5, 1}, 999, 1});
  check(shared, "a shared lead");
  // Monic rows stand as they are, but for one whose tail holds a zero.
  auto monic = m;
  for (IRow& row : monic) row.val[0] = 1;
  for (IRow& row : monic)
    if (row.val.size() > 2) {
      row.val[1] = 0;
      break;
    }
  check(monic, "monic rows");
}

// A row to reduce sorted before the known pivot of its lead may take that
// column; the rows after it that hold the column must still meet it there,
// while the threaded passes skip the columns the known pivots cleared.
QTEST_F(Elim, ContestedColumnIsReducedInTheLaterRows) {
  const u32 ncols = 90;
  auto m = random_matrix(31, ncols, ncols - 2, 30, 12);  // few columns without a known pivot
  for (IRow& r : m) r.key += 100;
  for (u32 n = 0, i = 0; n < 3; ++i) {
    if (m[i].flag != 0 || m[i].cols[0] < 8) continue;
    const u32 lead = m[i].cols[0];
    m.push_back({{lead, ncols}, {2, 1}, 1 + n, 1});  // sorted before the known pivot
    for (u32 k = 0; k < 4; ++k) m.push_back({{lead - 7 + k, lead, ncols - k}, {1, 4 + k, 3}, 7000 + 10 * n + k, 1});
    ++n;
  }
  nb_threads = 1;
  const auto want = run(m, ncols);
  for (int t : {2, 4, 8}) {
    nb_threads = t;
    EXPECT_EQ(run(m, ncols), want) << "threads " << t;
  }
}

// Known pivots at columns 6..10, four rows to reduce that vanish (sorted
// first: their leads are the largest columns), then one independent row.
std::vector<IRow> vanishing_then_one() {
  std::vector<IRow> m;
  for (u32 c = 6; c <= 10; ++c) m.push_back({{c}, {1}, c, 0});
  for (u32 c = 10; c >= 7; --c) m.push_back({{c}, {3}, 100 + c, 1});
  m.push_back({{1, 3}, {1, 1}, 200, 1});
  return m;
}

QTEST_F(Elim, ZeroRowHeuristicIsIndependentOfThreads) {
  const auto m = vanishing_then_one();
  QUOR_NAME(want_aggressive) = 1;
  QUOR_NAME(want_skip_comput) = 0;
  for (int t : {1, 2, 4, 8}) {
    nb_threads = t;
    QUOR_NAME(want_aggressive2) = 2;  // ends after 3 consecutive vanished rows
    EXPECT_TRUE(run(m, 10).empty()) << t;
    QUOR_NAME(want_aggressive2) = 4;
    EXPECT_EQ(run(m, 10).size(), 1u) << t;
  }
  // Skip phase: every vanished row makes the next one be passed over.  The
  // rows passed over were reduced with their block all the same: what they
  // leave behind must not reach the later rows.
  QUOR_NAME(want_aggressive2) = 0;
  QUOR_NAME(want_skip_comput) = 1;
  auto r = random_matrix(7, 120, 40, 90, 6);
  for (u32 k = 0; k < 30; ++k) r.push_back(r[k % 40]), r.back().flag = 1, r.back().key = 9000 + k;
  const auto want = reference(r, 120, true, 1);
  for (int t : {1, 2, 4, 8}) {
    nb_threads = t;
    EXPECT_EQ(run(r, 120), want) << t;
  }
}

// Collecting ends inside a block whose later rows are already being
// reduced: those rows are dropped, and what they leave in the accumulators
// must not reach the back-reduction of the new rows found before.
QTEST_F(Elim, RowsLeftWhenCollectingEndsDoNotReachTheNewRows) {
  std::vector<IRow> kept;
  for (u32 c = 5; c <= 7; ++c) kept.push_back({{c}, {1}, c, 0});
  for (u32 k = 0; k < 16; ++k) kept.push_back({{10 + k, 38, 39}, {1, 2 + k, 5}, 100 + k, 1});
  for (u32 c = 7; c >= 5; --c) kept.push_back({{c}, {4}, 200 + c, 1});
  std::vector<IRow> m = kept;
  // The rest of that block and a whole later one, which a second worker
  // reduces while it waits for its turn.
  for (u32 k = 0; k < 29; ++k) m.push_back({{1 + k % 4, 30, 35 + k % 3}, {1, 7, 3}, 300 + k, 1});
  const auto want = reference(kept, 40);
  ASSERT_EQ(want.size(), 16u);
  QUOR_NAME(want_aggressive) = 1;
  QUOR_NAME(want_aggressive2) = 2;  // ends after 3 consecutive vanished rows
  QUOR_NAME(want_skip_comput) = 0;
  for (int t : {1, 2, 4}) {
    nb_threads = t;
    EXPECT_EQ(run(m, 40), want) << t;
  }
}

// The decoded AXPY kernels add what the byte-code kernel adds: one row, and
// sixteen rows interleaved in wrapping 32-bit lanes (every lane, one lane
// alone, lanes left out with a zero multiplier; cells near 2^32 so that
// the wrap is taken), with narrow and wide positions.
QTEST(ElimKernels, DecodedAxpyMatchesTheCodedOne) {
  constexpr u32 L = 16;
  const u32 p = 65521;
  const Lane32 lane(p);
  std::mt19937 g(11);
  for (int round = 0; round < 48; ++round) {
    const u32 span = 50 + g() % 3000;
    std::vector<u32> pos{0};
    for (u32 c = 1; c < span; ++c)
      if (g() % 4 == 0 || (round % 3 == 0 && g() % 2)) pos.push_back(c);
    std::vector<u16> coef(pos.size());
    for (u16& x : coef) x = u16(1 + g() % (p - 1));
    std::vector<u8> code(lzw_worst_bytes(pos.size()));
    u32 ncodes = 0;
    lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes);
    std::vector<u32> tail(pos.size());
    ASSERT_EQ(lzw_tail_positions(code.data(), ncodes, tail.data()), pos.size() - 1);
    ASSERT_TRUE(std::equal(pos.begin() + 1, pos.end(), tail.begin()));
    std::vector<u16> narrow(tail.begin(), tail.end());
    const u64 n = pos.size() - 1;
    // Lanes taking the pivot: all, one, or a random subset.
    alignas(32) u32 m[L];
    const u32 alone = g() % L;
    for (u32 b = 0; b < L; ++b)
      m[b] = round % 3 == 0 ? (b == alone ? 1 + g() % (p - 1) : 0)
             : round % 3 == 1 ? 1 + g() % (p - 1) : (g() % 2) * (1 + g() % (p - 1));
    std::vector<std::vector<u64>> want(L, std::vector<u64>(span));
    for (auto& w : want)
      for (u64& x : w) x = round % 2 ? g() : u32(0) - 1 - g() % 4096;
    std::vector<u64> one = want[0];
    axpy_positions<u16>(one.data(), m[0], tail.data(), coef.data() + 1, n);
    // The interleaved kernels need 32-byte aligned cells.
    struct Free {
      void operator()(u32* q) const { std::free(q); }
    };
    const u64 bytes = (u64(L) * span * sizeof(u32) + 63) & ~u64(63);
    std::unique_ptr<u32[], Free> lanes(static_cast<u32*>(std::aligned_alloc(64, bytes)));
    std::unique_ptr<u32[], Free> lanes16(static_cast<u32*>(std::aligned_alloc(64, bytes)));
    for (u32 c = 0; c < span; ++c)
      for (u32 b = 0; b < L; ++b) lanes[u64(L) * c + b] = lanes16[u64(L) * c + b] = u32(want[b][c]);
    // Each vector width the processor has, and the scalar loop, in turn.
    const int path = round % 4;
    if (path == 1 && !__builtin_cpu_supports("avx512f")) continue;
    if (path == 2 && !__builtin_cpu_supports("avx2")) continue;
    auto lanes_axpy = [&](u32* cells, const auto* at) {
      if (path == 1) axpy_lanes32_avx512<L>(cells, m, at, coef.data() + 1, n, lane);
      else if (path == 2) axpy_lanes32_avx2<L>(cells, m, at, coef.data() + 1, n, lane);
      else if (path == 3) axpy_lanes32_scalar<L>(cells, m, at, coef.data() + 1, n, lane);
      else axpy_lanes32<L>(cells, m, at, coef.data() + 1, n, lane);
    };
    if (round % 3 == 0) {
      axpy_strided32<L>(lanes.get() + alone, m[alone], tail.data(), coef.data() + 1, n, lane);
      axpy_strided32<L>(lanes16.get() + alone, m[alone], narrow.data(), coef.data() + 1, n, lane);
    } else {
      lanes_axpy(lanes.get(), tail.data());
      lanes_axpy(lanes16.get(), narrow.data());
    }
    for (u32 b = 0; b < L; ++b)
      if (m[b]) lzw_axpy<u16>(want[b].data(), m[b], code.data(), coef.data(), ncodes);
    EXPECT_EQ(one, want[0]) << round;
    for (u32 c = 0; c < span; ++c)
      for (u32 b = 0; b < L; ++b) {
        const u32 r = u32(want[b][c] % p);
        ASSERT_EQ(lanes[u64(L) * c + b] % p, r) << round << " lane " << b << " column " << c;
        ASSERT_EQ(lanes16[u64(L) * c + b] % p, r) << round << " lane " << b << " column " << c;
      }
  }
}

// The one-slot vector kernel leaves every cell as the scalar loop does:
// runs of every length (remainders of four included), gaps of every width,
// and cells near 2^64 so that the wrap is taken.
QTEST(ElimKernels, VectorRunsMatchTheScalarWrapAxpy) {
  if (!wrap_simd_available()) GTEST_SKIP() << "no AVX2";
  std::mt19937_64 g(5);
  const u32 primes[] = {4294967291u, 2147483659u};
  for (int round = 0; round < 60; ++round) {
    const WrapMod mod(primes[round % 2]);
    std::vector<u32> pos{0};
    while (pos.size() < 400) {
      const u32 kind = g() % 40 ? u32(g() % 3) : 3;
      const u32 last = pos.back();
      if (kind == 0)
        for (u32 r = 1 + u32(g() % 130); r-- > 0;) pos.push_back(pos.back() + 1);
      else
        pos.push_back(last + (kind == 1 ? 2 + u32(g() % 120) : kind == 2 ? 126 + u32(g() % 2000) : 70000));
    }
    std::vector<u32> coef(pos.size());
    for (u32& x : coef) x = u32(g() % mod.p);
    std::vector<u8> code(lzw_worst_bytes(pos.size()));
    u32 ncodes = 0;
    lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes);
    std::vector<u64> want(pos.back() + 1);
    for (u64& x : want) x = g() % 3 ? g() : ~u64(0) - g() % 1000;
    std::vector<u64> got = want;
    const u64 m = g() % mod.p;
    const u32* cf = coef.data();
    wrap_axpy_group<1>(want.data(), &m, code.data(), ncodes, &cf, &mod);
    wrap_axpy1_avx2(got.data(), m, code.data(), coef.data(), ncodes, mod);
    ASSERT_EQ(got, want) << "round " << round;
  }
}

// The row sort gives the order of the Shell sort with the gaps n/2 .. 1,
// rows alike in lead and key included (their order is that sort's own).
// The branch-free decode of the pivots gives the code walk's positions on
// every vector path: runs shorter and longer than one store, gaps of every
// code width, the empty run byte 0x80; it writes nothing beyond its slack.
QTEST(ElimKernels, PaddedDecodeMatchesTheCodeWalk) {
  struct Restore {
    ~Restore() { simd_cap = 2; }
  } restore;
  std::mt19937 g(5);
  auto check = [](const std::vector<u8>& code, u32 ncodes) {
    std::vector<u32> want(1 << 16), got(want.size() + kTailSlack + 8, 0xDEADBEEFu);
    const u32 n = lzw_tail_positions(code.data(), ncodes, want.data());
    for (int cap : {2, 0}) {
      simd_cap = cap;
      std::fill(got.begin(), got.end(), 0xDEADBEEFu);
      ASSERT_EQ(lzw_tail_positions_padded(code.data(), ncodes, got.data()), n) << "cap " << cap;
      ASSERT_TRUE(std::equal(want.begin(), want.begin() + n, got.begin())) << "cap " << cap;
      ASSERT_EQ(got[n + kTailSlack], 0xDEADBEEFu) << "cap " << cap;
    }
  };
  for (int round = 0; round < 40; ++round) {
    std::vector<u32> pos{0};
    while (pos.size() < 400) {
      const u32 kind = u32(g() % 4);
      if (kind == 0)
        for (u32 r = 1 + u32(g() % (round % 2 ? 20 : 140)); r-- > 0;) pos.push_back(pos.back() + 1);
      else
        pos.push_back(pos.back() + (kind == 1 ? 2 + u32(g() % 120) : kind == 2 ? 126 + u32(g() % 3000) : 65280 + g() % 9));
    }
    std::vector<u8> code(lzw_worst_bytes(pos.size()));
    u32 ncodes = 0;
    code.resize(lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes));
    check(code, ncodes);
  }
  check({0x80, 0x05, 0x83, 0x80}, 4);  // positions 5, 6, 7, 8
}

QTEST_F(Elim, RowSortIsTheShellSortsOrder) {
  std::mt19937 g(8);
  for (int round = 0; round < 40; ++round) {
    // Every fourth round is long enough for the radix sort.
    const u32 n = round % 4 == 3 ? u32(kRadixSortFrom) + g() % 6000 : 1 + g() % 300;
    const bool ties = round % 2;
    std::vector<sALGO_Dpol> recs(n);
    std::vector<ALGO_Dpol> rows(n), want(n);
    for (u32 i = 0; i < n; ++i) {
      recs[i] = sALGO_Dpol{};
      recs[i].lead = 1 + g() % (n < kRadixSortFrom ? 40 : 70000);
      recs[i].key = ties ? g() % 5 : i * 7 + 3;
      rows[i] = want[i] = &recs[i];
    }
    shell_sort_indices(
        n,
        [&](u32 a, u32 b) {
          return want[a]->lead < want[b]->lead || (want[a]->lead == want[b]->lead && want[a]->key > want[b]->key);
        },
        [&](u32 a, u32 b) { std::swap(want[a], want[b]); });
    sort_matrix_rows(rows.data(), n);
    ASSERT_EQ(rows, want) << "round " << round;
  }
}

// The radix sort is a stable sort by the key words, the first the most
// significant: keys alike, keys apart only in their high bits or in the
// second word, all keys equal.
QTEST(ElimKernels, RadixSortIsAStableSort) {
  std::mt19937_64 g(12);
  struct Rec {
    u64 w[2];
    u32 at;
  };
  for (int round = 0; round < 24; ++round) {
    const u32 n = round % 3 == 0 ? 1 + u32(g() % 50) : 1000 + u32(g() % 20000);
    const u32 words = 1 + round % 2;
    std::vector<Rec> a(n), scratch(n);
    for (u32 i = 0; i < n; ++i) {
      const u64 r = g();
      switch (round % 4) {
        case 0: a[i].w[0] = r; break;
        case 1: a[i].w[0] = r % 7; break;            // many alike
        case 2: a[i].w[0] = (r % 5) << 50; break;    // high bits only
        default: a[i].w[0] = round % 8 == 3 ? 9 : r % 3;  // all equal, or few values
      }
      a[i].w[1] = g() % 1000;
      a[i].at = i;
    }
    auto want = a;
    std::stable_sort(want.begin(), want.end(), [&](const Rec& x, const Rec& y) {
      return x.w[0] != y.w[0] ? x.w[0] < y.w[0] : words == 2 && x.w[1] < y.w[1];
    });
    radix_sort(a.data(), scratch.data(), n, words, [](const Rec& r, u32 i) { return r.w[i]; });
    for (u32 i = 0; i < n; ++i) ASSERT_EQ(a[i].at, want[i].at) << "round " << round << " record " << i;
  }
}

// Columns beyond 16-bit positions, on one thread and on several.
QTEST_F(Elim, WideMatricesMatchDenseReference) {
  const u32 ncols = 70000;
  std::vector<IRow> m;
  std::mt19937 g(5);
  auto row = [&](u32 lead, u32 key, u32 flag) {
    IRow r{{lead}, {flag ? 1 + i64(g() % 5) : 1}, key, flag};  // known pivots are monic
    for (u32 c = lead + 1 + g() % 900; c <= ncols; c += 1 + g() % 6000)
      r.cols.push_back(c), r.val.push_back(1 + i64(g() % 9));
    r.cols.push_back(ncols), r.val.push_back(1);
    if (r.cols[r.cols.size() - 2] == ncols) r.cols.pop_back(), r.val.pop_back();
    return r;
  };
  for (u32 k = 0; k < 12; ++k) m.push_back(row(100 + k * 5000, k + 1, 0));
  for (u32 k = 0; k < 14; ++k) m.push_back(row(100 + (k % 7) * 5000, 100 + k, 1));
  const auto want = reference(m, ncols);
  for (int t : {1, 4}) {
    nb_threads = t;
    EXPECT_EQ(run(m, ncols), want) << t;
  }
}

// Enough rows to reduce for the first pass's wide blocks on two and three
// threads (the last block cut short, many rows vanishing), on every vector
// width; the ordered pass then walks narrower blocks on the same buffers.
QTEST_F(Elim, WideFirstPassBlocksMatchDenseReference) {
  struct Restore {
    ~Restore() { simd_cap = 2; }
  } restore;
  const u32 ncols = 260;
  const auto m = random_matrix(31, ncols, 120, 420, 12);
  const auto want = reference(m, ncols);
  for (int cap : {2, 1, 0}) {
    simd_cap = cap;
    for (int t : {2, 3}) {
      nb_threads = t;
      u32 nreduce = 0;
      EXPECT_EQ(run(m, ncols, &nreduce), want) << "cap " << cap << " threads " << t;
      ASSERT_GE(nreduce, 4u * 32 * 3);
    }
  }
}

// A row to reduce sorted before the known pivot of its lead takes the column;
// rows after it are then reduced by it, whatever the thread count.
QTEST_F(Elim, RowToReduceBeforeTheKnownPivotTakesTheColumn) {
  std::vector<IRow> m{{{5, 8}, {1, 2}, 50, 0}, {{5, 9}, {2, 3}, 10, 1}, {{6, 7}, {1, 1}, 60, 0}};
  for (u32 k = 0; k < 40; ++k)
    m.push_back({{1 + k % 4, 5, 7, 8 + k % 3}, {1, i64(k % 5) + 1, 2, 3}, 200 + k, 1});
  nb_threads = 1;
  const auto one = run(m, 12);
  ASSERT_FALSE(one.empty());
  bool took = false;
  for (const Out& o : one) took |= o.lead == 5 && o.key == 10;
  EXPECT_TRUE(took);
  for (int t : {2, 3, 4, 8}) {
    nb_threads = t;
    EXPECT_EQ(run(m, 12), one) << t;
  }
}
#endif

#if QUOR_INT
// The AXPYs driven by decoded positions leave every cell as the walks of the
// code do, one slot and eight interleaved slots or rows, on every vector
// width this processor has: runs and gaps of every width, cells near 2^64
// so that the wrap is taken.
QTEST(ElimKernels, PositionAxpysMatchTheCodeWalks) {
  std::mt19937_64 g(9);
  const u32 primes[8] = {4294967291u, 2147483659u, 4294967279u, 4294967231u,
                         4294967197u, 4294967189u, 4294967161u, 4294967143u};
  WrapMod mods[8] = {WrapMod(primes[0]), WrapMod(primes[1]), WrapMod(primes[2]), WrapMod(primes[3]),
                     WrapMod(primes[4]), WrapMod(primes[5]), WrapMod(primes[6]), WrapMod(primes[7])};
  for (int round = 0; round < 30; ++round) {
    std::vector<u32> pos{0};
    while (pos.size() < 300) {
      // One gap of the longest code in every other round (cells cost time).
      const u32 kind = pos.size() == 150 && round % 2 ? 3 : u32(g() % 3);
      if (kind == 0)
        for (u32 r = 1 + u32(g() % 9); r-- > 0;) pos.push_back(pos.back() + 1);
      else
        pos.push_back(pos.back() + (kind == 1 ? 2 + u32(g() % 120) : kind == 2 ? 126 + u32(g() % 2000) : 70000));
    }
    const u64 span = pos.back() + 1;
    std::vector<u8> code(lzw_worst_bytes(pos.size()));
    u32 ncodes = 0;
    lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes);
    std::vector<u32> tail(pos.size());
    const u32 n = lzw_tail_positions(code.data(), ncodes, tail.data());
    ASSERT_EQ(n, pos.size() - 1);
    std::vector<std::vector<u32>> coef(8, std::vector<u32>(pos.size()));
    std::vector<u32> tcoef(8 * pos.size());
    u64 m[8];
    const u32* cf[8];
    const u32* cf1[8];
    for (u32 s = 0; s < 8; ++s) {
      for (size_t j = 0; j < pos.size(); ++j) tcoef[8 * j + s] = coef[s][j] = u32(g() % mods[s].p);
      m[s] = g() % mods[s].p;
      cf[s] = coef[s].data(), cf1[s] = coef[s].data() + 1;
    }
    auto start = [&](u64 cells) {
      std::vector<u64> c(cells);
      for (u64& x : c) x = g() % 3 ? g() : ~u64(0) - g() % 1000;
      return c;
    };
    std::vector<u64> want = start(span), got = want;
    wrap_axpy_group<1>(want.data(), m, code.data(), ncodes, cf, mods);
    wrap_axpy_at(got.data(), m[0], tail.data(), coef[0].data() + 1, n, mods[0]);
    ASSERT_EQ(got, want) << "round " << round;
    want = start(span * 8), got = want;
    wrap_axpy_group<8>(want.data(), m, code.data(), ncodes, cf, mods);
    std::vector<u64> vec = got;
    wrap_axpy_group_at<8>(got.data(), m, tail.data(), n, cf1, mods);
    ASSERT_EQ(got, want) << "round " << round;
    std::vector<u64> vec512 = vec;
    if (wrap_simd_available()) {
      wrap_axpy8_at_avx2(vec.data(), m, tail.data(), n, tcoef.data() + 8, mods);
      ASSERT_EQ(vec, want) << "round " << round;
    }
    if (wrap_avx512_available()) {
      wrap_axpy8_at_avx512(vec512.data(), m, tail.data(), n, tcoef.data() + 8, mods);
      ASSERT_EQ(vec512, want) << "round " << round;
    }
    // Rows as lanes: one prime, one coefficient per entry, lanes with a zero
    // multiplier untouched; every lane as the one-row kernel leaves it.
    for (u32 s = 0; s < 8; ++s) m[s] = round % 3 == 0 && s % 3 == 1 ? 0 : g() % mods[0].p;
    want = start(span * 8), got = want, vec = want, vec512 = want;
    wrap_axpy_lanes_at(want.data(), m, tail.data(), n, coef[0].data() + 1, mods[0]);
    for (u32 s = 0; s < 8; ++s) {
      std::vector<u64> one(span), lane(span);
      for (u64 k = 0; k < span; ++k) one[k] = got[8 * k + s], lane[k] = want[8 * k + s];
      wrap_axpy_at(one.data(), m[s], tail.data(), coef[0].data() + 1, n, mods[0]);
      ASSERT_EQ(lane, one) << "round " << round << " lane " << s;
    }
    if (wrap_simd_available()) {
      wrap_axpy_lanes_avx2(vec.data(), m, tail.data(), n, coef[0].data() + 1, mods[0]);
      ASSERT_EQ(vec, want) << "round " << round;
    }
    if (wrap_avx512_available()) {
      wrap_axpy_lanes_avx512(vec512.data(), m, tail.data(), n, coef[0].data() + 1, mods[0]);
      ASSERT_EQ(vec512, want) << "round " << round;
    }
  }
}

// The 512-bit residues of eight cells modulo eight primes are WrapMod's,
// cells near 2^64 and multiples of the primes included.
QTEST(ElimKernels, VectorResiduesMatchTheScalarOnes) {
  if (!wrap_avx512_available()) GTEST_SKIP() << "no AVX-512";
  std::mt19937_64 g(13);
  const u32 primes[8] = {4294967291u, 2147483659u, 2147483693u, 4294967279u,
                         3221225473u, 4294967197u, 2147483743u, 4294967143u};
  u64 p[8], v[8];
  for (u32 s = 0; s < 8; ++s) p[s] = primes[s], v[s] = WrapMod(primes[s]).v;
  for (int round = 0; round < 20000; ++round) {
    u64 c[8], got[8];
    for (u32 s = 0; s < 8; ++s) {
      const u32 kind = u32(g() % 4);
      c[s] = kind == 0 ? g() : kind == 1 ? ~u64(0) - g() % 5000 : kind == 2 ? p[s] * (g() % (u64(1) << 32)) : g() % p[s];
    }
    wrap8_residues(c, p, v, got);
    for (u32 s = 0; s < 8; ++s) ASSERT_EQ(got[s], WrapMod(primes[s]).of(c[s])) << c[s] << " mod " << p[s];
  }
}

QTEST_F(Elim, OnePrimeAndManyPrimes) {
  for (u32 V : {1u, 2u, 7u}) {
    use_primes(V, 10);
    const auto m = random_matrix(40 + V, 90, 30, 50, 12);
    EXPECT_EQ(run(m, 90), reference(m, 90)) << V;
  }
}

// Rows to reduce are taken several at a time for the first prime: many rows
// on few columns (they eliminate each other and most vanish), over one
// prime, a full vector group and one more, several groups (each reduced on
// its own walk over the surviving rows); a replay over other primes agrees.
QTEST_F(Elim, CrowdedRowsMatchDenseReference) {
  for (u32 V : {1u, 8u, 9u, 25u}) {
    for (u32 seed = 0; seed < 4; ++seed) {
      const auto m = random_matrix(80 + seed, 40, 12, 70, seed % 2 ? 10 : 40);
      simul_write = 1;
      use_primes(V, 20);
      QUOR_NAME(reset_simulation)();
      const auto first = run(m, 40);
      EXPECT_EQ(first, reference(m, 40)) << V << " seed " << seed;
      simul_write = 0;
      use_primes(V, 40);
      QUOR_NAME(reset_simulation)();
      EXPECT_EQ(run(m, 40), reference(m, 40)) << V << " seed " << seed;
      EXPECT_EQ(elim_status(), kElimOk) << elim_status_text();
    }
  }
}

// Processors without AVX-512, or without AVX2, take narrower paths through
// the same eliminations: random matrices, and in the integer build crowded
// rows over groups of primes, first pass and replay.
QTEST_F(Elim, NarrowerVectorPathsGiveTheSameResults) {
  struct Restore {
    ~Restore() { simd_cap = 2; }
  } restore;
  for (int cap : {1, 0}) {
    simd_cap = cap;
#if QUOR_INT
    // The fixture's block of primes, recording (the last round replayed).
    use_primes(3, 0);
    simul_write = 1;
    QUOR_NAME(reset_simulation)();
#endif
    for (u32 seed = 1; seed <= 6; ++seed) {
      const u32 ncols = 20 + seed * 17;
      const auto m = random_matrix(seed, ncols, ncols / 3, ncols / 2, seed % 2 ? 8 : 30);
      EXPECT_EQ(run(m, ncols), reference(m, ncols)) << "cap " << cap << " seed " << seed;
    }
#if QUOR_INT
    for (u32 V : {8u, 9u, 20u}) {
      const auto m = random_matrix(80 + V, 40, 12, 70, 40);
      simul_write = 1;
      use_primes(V, 20);
      QUOR_NAME(reset_simulation)();
      EXPECT_EQ(run(m, 40), reference(m, 40)) << "cap " << cap << " V " << V;
      simul_write = 0;
      use_primes(V, 40);
      QUOR_NAME(reset_simulation)();
      EXPECT_EQ(run(m, 40), reference(m, 40)) << "cap " << cap << " V " << V;
      EXPECT_EQ(elim_status(), kElimOk) << elim_status_text();
    }
#endif
  }
}

// A row to reduce sorted before the known pivot of its lead takes that
// column, and a later row on the same lead is eliminated by it, not by the
// known pivot: x2 + x3 and x2 + x5 (key 9) against the pivot x2 + x4 give
// x2 + x5 and x3 - x5.
QTEST_F(Elim, RowBeforeTheKnownPivotIsThePivotOfTheLaterRows) {
  use_primes(1, 0);
  const u32 p = QUOR_NAME(Primes)[0];
  const std::vector<IRow> m{{{2, 4}, {1, 1}, 5, 0}, {{2, 3}, {1, 1}, 1, 1}, {{2, 5}, {1, 1}, 9, 1}};
  const auto got = run(m, 5);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].lead, 2u);
  EXPECT_EQ(got[0].dense[0], (std::vector<u32>{0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(got[1].lead, 3u);
  EXPECT_EQ(got[1].dense[0], (std::vector<u32>{0, 0, 0, 1, 0, p - 1}));
}

// The first pass writes the trace; a pass over other primes replays it, skips
// the vanished rows and finds the same pivots, over several matrices of which
// one is not compared, as when a pass computes two bases.
QTEST_F(Elim, TraceReplayStaysInStep) {
  const auto a = random_matrix(51, 80, 20, 60, 10), b = random_matrix(52, 60, 20, 40, 15);
  auto pass = [&](u32 offset) {
    use_primes(3, offset);
    QUOR_NAME(reset_simulation)();
    std::vector<std::vector<Out>> r;
    r.push_back(run(a, 80));
    QUOR_NAME(want_ignore_simulin) = 1;
    r.push_back(run(b, 60));
    QUOR_NAME(want_ignore_simulin) = 0;
    r.push_back(run(b, 60));
    r.push_back(run(a, 80));
    return r;
  };
  simul_write = 1;
  const auto first = pass(0);
  EXPECT_EQ(simulation_matrices(), 4u);
  simul_write = 0;
  const auto second = pass(100);
  EXPECT_EQ(elim_status(), kElimOk) << elim_status_text();
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0], reference(a, 80));
  EXPECT_EQ(second[2], reference(b, 60));
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(second[k].size(), first[k].size());
    for (size_t i = 0; i < first[k].size(); ++i) EXPECT_EQ(second[k][i].lead, first[k][i].lead);
  }
}

QTEST_F(Elim, ReplayMismatchIsABadPrimeNotAnExit) {
  const auto a = random_matrix(61, 50, 10, 30, 10);
  simul_write = 1;
  QUOR_NAME(reset_simulation)();
  run(a, 50);
  simul_write = 0;
  // A pass that runs one matrix more than the recorded one.
  QUOR_NAME(reset_simulation)();
  run(a, 50);
  EXPECT_EQ(elim_status(), kElimOk);
  EXPECT_TRUE(run(a, 50).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_NE(std::string(elim_status_text()).find("out of step"), std::string::npos);
  // Same shape, but a row that survives with another span than recorded,
  // or vanishes where the recorded pass kept it.
  for (int variant = 0; variant < 2; ++variant) {
    elim_status_clear();
    simul_write = 1;
    QUOR_NAME(reset_simulation)();
    std::vector<IRow> c{{{2, 5}, {1, 3}, 1, 0}, {{3, 4}, {1, 1}, 7, 1}};
    run(c, 6);
    simul_write = 0;
    QUOR_NAME(reset_simulation)();
    c[1] = variant ? IRow{{2, 5}, {4, 12}, 7, 1} : IRow{{4, 6}, {1, 1}, 7, 1};
    EXPECT_TRUE(run(c, 6).empty());
    EXPECT_EQ(elim_status(), kElimBadPrime) << variant;
    EXPECT_NE(std::string(elim_status_text()).find("(Mesg 2)"), std::string::npos);
  }
}

// A row that vanishes modulo prime 1 but not modulo prime 0, and one whose
// pattern modulo prime 1 is wider: the block holds a bad prime.
QTEST_F(Elim, DisagreeingPrimeIsReported) {
  use_primes(2, 0);
  const i64 p0 = QUOR_NAME(Primes)[0], p1 = QUOR_NAME(Primes)[1];
  std::vector<IRow> m{{{1, 3}, {1, 2}, 1, 0}, {{1, 3, 4}, {1, 2, p1}, 5, 1}};
  EXPECT_TRUE(run(m, 4).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_NE(std::string(elim_status_text()).find("Bad prime number bp="), std::string::npos);
  elim_status_clear();
  m[1] = {{2, 4}, {1, p0}, 5, 1};
  EXPECT_TRUE(run(m, 4).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_NE(std::string(elim_status_text()).find("Probably a bad prime"), std::string::npos);
}

// Rows known to survive are reduced together over each group of eight
// primes; a row that disagrees there still fails with its own message, and
// the rows after it, which it eliminated, are not taken.  Row 0 (3*q*x3 +
// x5) loses its lead modulo the prime q of one slot while row 1 (x2 + x3)
// needs it as the pivot of x3; in a replay, row 0 loses its lead modulo
// the block's first prime.
QTEST_F(Elim, RowOfAGroupThatDisagreesFailsWithItsMessage) {
  // Slot 3 of a full group; slot 8, alone in the last group of nine slots;
  // slot 17, in the third group of twenty.
  for (u32 slot : {3u, 8u, 17u}) {
    use_primes(slot < 16 ? 9 : 20, 30);
    const i64 q = QUOR_NAME(Primes)[slot];
    const std::vector<IRow> bad{{{3, 5}, {3 * q, 1}, 1, 1}, {{2, 3}, {1, 1}, 2, 1}};
    EXPECT_TRUE(run(bad, 6).empty());
    EXPECT_EQ(elim_status(), kElimBadPrime);
    const std::string want = "Cas complique line 0 for p[" + std::to_string(slot) + "]=";
    EXPECT_NE(std::string(elim_status_text()).find(want), std::string::npos) << elim_status_text();
    elim_status_clear();
  }
  std::vector<IRow> m{{{3, 5}, {3, 1}, 1, 1}, {{2, 3}, {1, 1}, 2, 1}};
  use_primes(8, 60);
  const i64 q0 = QUOR_NAME(Primes)[0];
  m[0].val[0] = 3 * q0;
  use_primes(8, 30);
  QUOR_NAME(reset_simulation)();
  EXPECT_EQ(run(m, 6), reference(m, 6));
  simul_write = 0;
  use_primes(8, 60);
  QUOR_NAME(reset_simulation)();
  EXPECT_TRUE(run(m, 6).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_NE(std::string(elim_status_text()).find("(Mesg 2)"), std::string::npos) << elim_status_text();
}

// The back-reduction cancels an entry modulo the last prime only: x3 + x6
// + (1 + p1)*x7 less the new row x6 + x7 leaves p1*x7, so the slots
// disagree and the block holds a bad prime.
QTEST_F(Elim, BackReductionThatDisagreesIsABadPrime) {
  use_primes(2, 0);
  const i64 p1 = QUOR_NAME(Primes)[1];
  const std::vector<IRow> m{
      {{2, 6}, {1, 1}, 1, 0}, {{3, 6, 7}, {1, 1, 1 + p1}, 5, 1}, {{2, 6, 7}, {1, 2, 1}, 9, 1}};
  EXPECT_TRUE(run(m, 8).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_NE(std::string(elim_status_text()).find("NOT DONE"), std::string::npos) << elim_status_text();
  // With 2 for 1 + p1 the entry x7 stays in both slots.
  elim_status_clear();
  std::vector<IRow> good = m;
  good[1].val[2] = 2;
  EXPECT_EQ(run(good, 8), reference(good, 8));
  EXPECT_EQ(elim_status(), kElimOk);
}

QTEST_F(Elim, InterruptIsReportedAsInterrupt) {
  use_primes(3, 0);
  const auto m = random_matrix(71, 60, 20, 30, 10);
  QUOR_NAME(stop_immediately_semaphore) = 1;
  EXPECT_TRUE(run(m, 60).empty());
  EXPECT_EQ(elim_status(), kElimInterrupted);
  EXPECT_STREQ(elim_status_text(), "");
}
#endif

// A progress stream set by a host program receives each matrix's size, the
// percentage every 10th row to reduce and "ok" once the rows are reduced,
// whatever the number of threads.
QTEST_F(Elim, ProgressStreamSetByTheHostFollowsTheElimination) {
  std::vector<IRow> m;
  for (u32 c = 1; c <= 40; ++c) m.push_back({{c, 41}, {1, i64(c % 5) + 1}, c, 1});
  const auto want = reference(m, 41);
#if QUOR_INT
  const std::vector<int> teams{1};
#else
  const std::vector<int> teams{1, 4};
#endif
  for (int t : teams) {
#if !QUOR_INT
    nb_threads = t;
#endif
    char* text = nullptr;
    size_t size = 0;
    QUOR_NAME(xwindow_bus) = open_memstream(&text, &size);
    ASSERT_NE(QUOR_NAME(xwindow_bus), nullptr);
    EXPECT_EQ(run(m, 41), want) << t;
    std::fclose(QUOR_NAME(xwindow_bus));
    QUOR_NAME(xwindow_bus) = nullptr;
    EXPECT_STREQ(text, "Mat 40x41\n25.000\n50.000\n75.000\n100.000\nok\n") << t;
    std::free(text);
  }
  // Without a stream nothing is written anywhere.
  EXPECT_EQ(run(m, 41), want);
}

QUOR_TEST_END

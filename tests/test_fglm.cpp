// Sparse FGLM on quotients whose answer is known: Z/p[y]/(f) with the basis
// 1, y, ..., y^(D-1), and the shape-position ideal (x - g(y), f(y)) on a
// basis that holds x; plus the matrix application it runs on.
#include "tests/dual_test.h"

#include <omp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/coeffs.h"
#include "core/zone.h"
#include "host/C/host_services.h"
#include "minpolyvgf/fglm.h"
#include "minpolyvgf/prime_sign.h"
#include "minpolyvgf/wiedemann_lowlevel.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/naive_poly.h"


QUOR_TEST_BEGIN

using naive::Poly;

// A multiplication matrix in the three-piece form, with its row table.
struct Mat {
  explicit Mat(i32 d, u32 p) : D(d), p(p), n(QUOR_NAME(align_vector_size)(u32(d))) {}
  i32 D;
  u32 p;
  std::size_t n;
  std::vector<i32> pairs, nosp;
  std::vector<std::vector<Dom>> store;
  std::vector<Dom*> table;

  void copy(i32 c, i32 src) { pairs.insert(pairs.end(), {c, src}); }
  // Row c of T from residues (index = coordinate), stored as the entry expects.
  void dense(i32 c, const Poly& v) {
    Dom* r = new_row();
    for (std::size_t k = 0; k < v.size(); ++k) r[k] = stored(v[k] % p);
    nosp.insert(nosp.end(), {c, 0});
    table.push_back(r);
  }
  // Ends the lists; the table gets a result row for every variable.
  void finish(i32 nvars) {
    pairs.push_back(-1);
    pairs.push_back(-1);
    nosp.push_back(-1);
    nosp.push_back(-1);
    while (i32(table.size()) < nvars) table.push_back(new_row());
  }
  Dom* new_row() {
    store.emplace_back(n + 16, Dom(0));  // room for D + 1 after realignment
    return static_cast<Dom*>(QUOR_NAME(realign_ptr)(store.back().data()));
  }
  Dom stored(u64 v) const {
    if (kIntBuild) return Dom(v);
    const i64 s = v > (p - 1) / 2 ? i64(v) - p : i64(v);
    return Dom(u16(std::int16_t(s)));
  }
};

// Z/p[y]/(f), basis y^0..y^(D-1): the shift as copy pairs, one dense row.
Mat companion(const Poly& f, u32 p, bool all_dense = false) {
  const i32 D = i32(f.size()) - 1;
  Mat m(D, p);
  for (i32 c = 0; c + 1 < D; ++c) {
    if (!all_dense) m.copy(c, c + 1);
    else {
      Poly unit(D, 0);
      unit[c + 1] = 1;
      m.dense(c, unit);
    }
  }
  Poly last(D);
  for (i32 k = 0; k < D; ++k) last[k] = f[k] ? p - f[k] : 0;
  m.dense(D - 1, last);
  return m;
}

// (x - g(y), f(y)) with g monic of degree D-1, basis y^0..y^(D-2), x (x at
// coordinate D-1): y * y^(D-2) = x - h(y), y * x = y g(y) mod f rewritten.
Mat shape(const Poly& f, const Poly& g, u32 p) {
  const i32 D = i32(f.size()) - 1;
  Mat m(D, p);
  for (i32 c = 0; c + 2 < D; ++c) m.copy(c, c + 1);
  Poly row(D, 0);
  for (i32 k = 0; k + 1 < D; ++k) row[k] = g[k] ? p - g[k] : 0;
  row[D - 1] = 1;
  m.dense(D - 2, row);
  Poly yg(g.size() + 1, 0);
  for (std::size_t k = 0; k < g.size(); ++k) yg[k + 1] = g[k];
  Poly r = naive::mod(yg, f, p);
  r.resize(D, 0);
  const u64 top = r[D - 1];
  for (i32 k = 0; k + 1 < D; ++k) r[k] = (r[k] + (p - top) * g[k]) % p;
  m.dense(D - 1, r);
  return m;
}

class QUOR_SUITE(Fglm) : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_hook_ = set_process_exit_hook(quor_test::throw_on_exit);
#if !QUOR_INT
    PrimeSign = i32(prime_);
    PrimeHalf = i32((prime_ - 1) / 2);
#endif
  }
  void TearDown() override {
    set_process_exit_hook(previous_hook_);
#if !QUOR_INT
    nb_threads = 1;
    omp_set_num_threads(1);
#endif
  }
  struct Out {
    std::vector<Poly> poly;
    std::vector<i32> deg;
  };
  // One call with results into the row table; degrees preset to -7.
  Out run(Mat& m, std::vector<i32> idx, i32 sqfr, i32 minpoly_only, i32 N = -1, i32 version = 1,
          i32 print = 0, i32 P = -1, i32 b = -1) {
    const i32 nvars = i32(idx.size());
    m.finish(nvars);
    std::vector<std::string> nm;
    for (i32 j = 0; j < nvars; ++j) nm.push_back("v" + std::to_string(j));
    std::vector<char*> names;
    for (auto& s : nm) names.push_back(s.data());
    Out o{std::vector<Poly>(nvars), std::vector<i32>(nvars, -7)};
    QUOR_NAME(w_fglm)(u32(m.D), m.pairs.data(), m.nosp.data(), u32(nvars), idx.data(), m.table.data(),
                      version, o.deg.data(), &prime_, 0, print, names.data(), sqfr, minpoly_only, N, P, b);
    for (i32 j = 0; j < nvars; ++j)
      for (i32 i = 0; i <= o.deg[j]; ++i) o.poly[j].push_back(m.table[j][i]);
    return o;
  }
  Poly neg(const Poly& a) const {
    Poly r;
    for (u64 c : a) r.push_back(c ? prime_ - c : 0);
    return naive::trim(r);
  }
  Poly times(const Poly& a, const Poly& b) const { return naive::mul(a, b, prime_); }
  Poly linear(u64 root) const { return {root ? prime_ - root : 0, 1}; }

  u32 prime_ = kIntBuild ? 4294967291u : 65521u;
  std::mt19937_64 rng_{2027};
  ProcessExitHook previous_hook_ = nullptr;
};

// y = T x: copies first, dense rows last, nothing else written; the measurements.
QTEST_F(Fglm, MatrixApplication) {
  QUOR_NAME(Table_Primes) = &prime_;
  init_wiedemann();
  const i32 D = 5;
  Mat m(D, prime_);
  m.copy(0, 3);
  m.copy(2, 4);
  m.copy(4, 0);  // also a dense row below: the dense value wins
  m.dense(4, {1, 2, 0, 0, prime_ - 1});
  m.dense(1, {0, 7, 0, 0, 0});
  m.finish(1);
  const i32 none[] = {-1, -1}, list[] = {4, 1}, one_row[] = {3, 0, -1, -1}, shift[] = {0, 2, -1};
  std::vector<Dom> x(m.n, 0), y;
  for (i32 i = 0; i < D; ++i) x[i] = Dom(10 + i);
  auto product = [&](const i32* pairs, const i32* nosp, void (*f)(Dom*, const Dom*, i32), i32 count) {
    QUOR_NAME(w_sparse) = const_cast<i32*>(pairs);
    QUOR_NAME(w_nosp) = const_cast<i32*>(nosp);
    y.assign(m.n, Dom(99));
    if (f) f(y.data(), x.data(), D);
    else QUOR_NAME(apply2v)(y.data(), x.data(), D, list, count);
    return std::vector<Dom>(y.begin(), y.begin() + D);
  };
  using V = std::vector<Dom>;
  w_cfs_tab = m.table.data();
  EXPECT_EQ(product(m.pairs.data(), m.nosp.data(), nullptr, 2), (V{13, 77, 14, 99, 10 + 22 - 14}));
  EXPECT_EQ(QUOR_NAME(sparsity_align)(D), 4u);
  Dom tr = 0;
  QUOR_NAME(compute_trace2)(&tr, D);
  EXPECT_EQ(tr, Dom(6));  // -1 + 7
  EXPECT_EQ(product(none, m.nosp.data(), nullptr, 2), (V{99, 77, 99, 99, 18}));
  EXPECT_EQ(product(m.pairs.data(), none, nullptr, 0), (V{13, 99, 14, 99, 10}));
  EXPECT_EQ(QUOR_NAME(sparsity_align)(D), 0u);
  QUOR_NAME(compute_trace2)(&tr, D);
  EXPECT_EQ(tr, 0);

  // Contiguous rows (residues) with the pair form, and with the shift form.
  std::vector<Dom> block(m.n + 16, 0);
  Dom* row = static_cast<Dom*>(QUOR_NAME(realign_ptr)(block.data()));
  row[0] = 2;
  row[4] = Dom(prime_ - 1);
  QUOR_NAME(w_cfs) = row;
  EXPECT_EQ(product(m.pairs.data(), one_row, QUOR_NAME(apply2), 0), (V{13, 99, 14, 6, 10}));
  EXPECT_EQ(product(shift, one_row, QUOR_NAME(apply), 0), (V{11, 99, 13, 6, 99}));
}

// The minimal polynomial comes back as f, also with a factor X (f(0) = 0)
// and with the matrix given as dense rows only; minimal-polynomial-only too.
QTEST_F(Fglm, MinimalPolynomialOfCompanion) {
  std::vector<Poly> fs;
  fs.push_back(naive::random_poly(rng_, 12, prime_, true));
  fs.push_back(times(linear(0), naive::random_poly(rng_, 9, prime_, true)));           // X | f
  fs.push_back(times(times(linear(0), linear(0)), naive::random_poly(rng_, 5, prime_, true)));  // X^2 | f
  fs.push_back({3, 1});                                                                 // D = 1
  for (const Poly& f : fs) {
    for (bool all_dense : {false, true}) {
      Mat m = companion(f, prime_, all_dense);
      Out o = run(m, {0}, 0, 0);
      EXPECT_EQ(o.deg[0], i32(f.size()) - 1);
      EXPECT_EQ(o.poly[0], f) << "D=" << f.size() - 1 << " dense=" << all_dense;
    }
    Mat m = companion(f, prime_);
    Out o = run(m, {-1, 0}, 0, 1);
    EXPECT_EQ(o.poly[1], f);
    EXPECT_EQ(o.deg[0], -7) << "a variable that is not a basis monomial is left alone";
  }
}

// (x - g(y), f(y)): x + g_x(y) with g_x = -g; a variable z that is the basis
// monomial y^2 gets -y^2; a variable off the basis keeps its row and degree.
QTEST_F(Fglm, ShapePositionParametrisation) {
  for (i32 D : {2, 7, 16}) {
    const Poly f = D == 7 ? times(linear(0), naive::random_poly(rng_, D - 1, prime_, true))
                          : naive::random_poly(rng_, D, prime_, true);
    const Poly g = naive::random_poly(rng_, D - 1, prime_, true);
    Mat m = shape(f, g, prime_);
    const i32 zidx = D > 2 ? 2 : -1;
    m.finish(4);
    const Dom sentinel = Dom(4321 % prime_);
    m.table[2][0] = sentinel;
    Out o = run(m, {D - 1, zidx, -1, 0}, 0, 0);
    EXPECT_EQ(o.poly[3], f) << "D=" << D;
    EXPECT_EQ(o.poly[0], neg(g)) << "D=" << D;
    if (D > 2) {
      EXPECT_EQ(o.poly[1], neg(Poly{0, 0, 1}));
    }
    EXPECT_EQ(o.deg[2], -7);
    EXPECT_EQ(m.table[2][0], sentinel);
  }
}

// Square-free option: the last polynomial becomes rad(f), numerators are
// reduced modulo it; with the minimal polynomial alone, rad(f) too.
QTEST_F(Fglm, SquareFreePart) {
  const Poly q = {1, 0, 1};  // y^2 + 1
  const Poly rad = times(times(linear(0), linear(5)), times(linear(1), q));
  const Poly f = times(times(rad, linear(1)), times(times(linear(0), linear(0)), q));
  const i32 D = i32(f.size()) - 1;
  const Poly g = naive::random_poly(rng_, D - 1, prime_, true);
  Mat m = shape(f, g, prime_);
  Out o = run(m, {D - 1, 0}, 1, 0);
  EXPECT_EQ(o.poly[1], rad);
  EXPECT_EQ(o.poly[0], naive::mod(neg(g), rad, prime_));
  EXPECT_EQ(o.deg[0], i32(naive::mod(neg(g), rad, prime_).size()) - 1);

  Mat c = companion(f, prime_);
  Out mo = run(c, {0}, 1, 1);
  EXPECT_EQ(mo.poly[0], rad);
  Mat c2 = companion(f, prime_);
  EXPECT_EQ(run(c2, {0}, 0, 0).poly[0], f) << "without the option f stays whole";
}

#if !QUOR_INT
// The threaded products give the same results for any team width.
QTEST_F(Fglm, SameResultsForAnyThreadCount) {
  const Poly f = naive::random_poly(rng_, 150, prime_, true);
  std::vector<Out> outs;
  for (i32 t : {1, 2, 4}) {
    nb_threads = t;
    omp_set_num_threads(t);
    Mat m = companion(f, prime_, true);
    outs.push_back(run(m, {3, 40, 0}, 0, 0));
  }
  Poly z3(4, 0), z40(41, 0);
  z3[3] = 1;
  z40[40] = 1;
  EXPECT_EQ(outs[0].poly[2], f);
  EXPECT_EQ(outs[0].poly[0], neg(z3));
  EXPECT_EQ(outs[0].poly[1], neg(z40));
  for (const Out& o : outs) {
    EXPECT_EQ(o.poly, outs[0].poly);
    EXPECT_EQ(o.deg, outs[0].deg);
  }
}
#endif

// Failures never come back as results: a wrong version and a matrix that is
// not cyclic (no start vector gives a sequence of degree D) are fatal, and
// the caller's rows and degrees are untouched.
QTEST_F(Fglm, FailuresAreFatal) {
  Mat m = companion({6, 5, 1}, prime_);
  try {
    run(m, {0}, 0, 0, -1, 2);
    ADD_FAILURE() << "version 2 accepted";
  } catch (const quor_test::FatalExit&) {
  }

  // T diagonalisable with eigenvalues 1, 1, 2: minimal polynomial of degree 2 < D = 3
  // (row 0 also reads x2, so the projected sequence sees both eigenvalues).
  auto derogatory = [&] {
    Mat d(3, prime_);
    d.dense(0, {1, 0, 1});
    d.dense(1, {0, 1, 0});
    d.dense(2, {0, 0, 2});
    return d;
  };
  Mat d = derogatory();
  const Dom before = d.table[0][0];
  ::testing::internal::CaptureStderr();
  try {
    run(d, {0}, 0, 0);
    ADD_FAILURE() << "a non-cyclic matrix gave a parametrisation";
  } catch (const quor_test::FatalExit&) {
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Cas pas encore fait ! [msg 2]"), std::string::npos) << err;
  EXPECT_EQ(d.table[0][0], before);
  // The minimal polynomial alone is well defined there.
  Mat d2 = derogatory();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(run(d2, {0}, 0, 1).poly[0], times(linear(1), linear(2)));
  ::testing::internal::GetCapturedStderr();
}

// An unlucky start vector (an eigenvector direction as seen from the
// projection) is replaced by the next one, not reported as a result.
QTEST_F(Fglm, UnluckyStartVectorIsRetried) {
  QUOR_NAME(Table_Primes) = &prime_;
  init_wiedemann();
  Dom w[8] = {};
  choose_random(w, 2);  // the entry draws this vector first
  auto value = [&](Dom v) -> u64 {
    const i64 s = kIntBuild ? i64(v) : i64(std::int16_t(v));
    return u64(s < 0 ? s + prime_ : s);
  };
  ASSERT_NE(value(w[0]), 0u);
  // T = companion of (X - a)(X - b) with (x0, x1) = x0 (1, a): the sequence is x0 a^k.
  const u64 a = value(w[1]) * naive::inv(value(w[0]), prime_) % prime_;
  const Poly f = times(linear(a), linear((a + 1) % prime_));
  Mat m = companion(f, prime_);
  ::testing::internal::CaptureStderr();
  Out o = run(m, {0}, 0, 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(o.poly[0], f);
  EXPECT_NE(err.find("Cas pas encore fait"), std::string::npos) << "the first vector should have failed";
}

// The minimal polynomial alone: a generator that misses a factor (the same
// unlucky first vector) does not annihilate T; the lcm with the next one does.
QTEST_F(Fglm, MinimalPolynomialMissingAFactorIsCompleted) {
  QUOR_NAME(Table_Primes) = &prime_;
  init_wiedemann();
  Dom w[8] = {};
  choose_random(w, 3);
  auto value = [&](Dom v) -> u64 {
    const i64 s = kIntBuild ? i64(v) : i64(std::int16_t(v));
    return u64(s < 0 ? s + prime_ : s);
  };
  ASSERT_NE(value(w[0]), 0u);
  // Z/p[y]/(f) with f = g (y - 5), where the first vector's three terms
  // (the sequence's first terms) already follow g = y^2 - y - c: its
  // generator is g alone.
  const u64 x0 = value(w[0]), x1 = value(w[1]), x2 = value(w[2]);
  const u64 c = (x2 + prime_ - x1) % prime_ * naive::inv(x0, prime_) % prime_;
  const Poly f = times({c ? prime_ - c : 0, prime_ - 1, 1}, linear(5));
  Mat m = companion(f, prime_);
  ::testing::internal::CaptureStderr();
  const Out o = run(m, {0}, 0, 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(o.poly[0], f);
  EXPECT_NE(err.find("does not annihilate the matrix"), std::string::npos) << err;

  // T = diag(1, 2) with coordinate 0 as 1: no start vector shows the factor
  // y - 2, so no answer rather than a wrong one.
  Mat d(2, prime_);
  d.dense(0, {1, 0});
  d.dense(1, {0, 2});
  ::testing::internal::CaptureStderr();
  try {
    run(d, {0}, 0, 1);
    ADD_FAILURE() << "a proper divisor of the minimal polynomial was returned";
  } catch (const quor_test::FatalExit&) {
  }
  ::testing::internal::GetCapturedStderr();

}

// With the soft-failure switch a matrix that is not cyclic leaves the
// results as they were, for a caller that tries another prime.
QTEST_F(Fglm, SoftFailureLeavesTheResultsUntouched) {
  Mat d(3, prime_);
  d.dense(0, {1, 0, 1});
  d.dense(1, {0, 1, 0});
  d.dense(2, {0, 0, 2});
  want_fglm_soft_failure = 1;
  ::testing::internal::CaptureStderr();
  Out o;
  try {
    o = run(d, {0}, 0, 0);
  } catch (const quor_test::FatalExit&) {
    ADD_FAILURE() << "soft failure was fatal";
  }
  ::testing::internal::GetCapturedStderr();
  want_fglm_soft_failure = 0;
  EXPECT_EQ(o.deg, std::vector<i32>{-7});
}

QUOR_TEST_END

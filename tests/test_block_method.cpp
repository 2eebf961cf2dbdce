// The block method: small matrices over Z/p against naive arithmetic,
// Wiedemann's minimal polynomial, sessions of the sparse FGLM on katsura-7
// combined into a matrix generator, the refusals of the combination and the
// self test's recorded values.
#include "tests/dual_test.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/coeffs.h"
#include "core/zone.h"
#include "host/C/host_services.h"
#include "host/standin/host_session.h"
#include "minpolyvgf/blockhankel.h"
#include "minpolyvgf/fglm.h"
#include "minpolyvgf/minpoly.h"
#include "minpolyvgf/wiedemann_lowlevel.h"
#include "minpolyvgf/wminpoly.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/naive_poly.h"
#include "tests/support/xlast_matrix.h"

QUOR_TEST_BEGIN

using Naive = std::vector<u64>;  // n x n residues, row-major

class QUOR_SUITE(BlockMethod) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    dir_ = std::filesystem::temp_directory_path() / ("quor_block_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    use(kIntBuild ? 4294967291u : 65521u);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    session_base = nullptr;
    QUOR_NAME(Primes) = saved_primes_;
    Host_kernel = nullptr;
  }
  // p becomes the block prime and the working prime.
  void use(u32 p) {
    p_ = p;
    QUOR_NAME(init_BlockHankel)(p_);
    QUOR_NAME(Primes) = &p_;
  }
  Naive random(i32 n) {
    Naive a(std::size_t(n) * n);
    for (u64& v : a) v = rng_() % p_;
    return a;
  }
  std::vector<Dom1> entries(const Naive& a) const {
    std::vector<Dom1> r;
    for (u64 v : a) r.push_back(Dom1_of(u32(v), p_));
    return r;
  }
  Naive residues(const Dom1* a, i32 n) const {
    Naive r;
    for (i64 e = 0; e < i64(n) * n; ++e) r.push_back(residue_of(a[e], p_));
    return r;
  }
  Naive mul(const Naive& a, const Naive& b, i32 n) const {
    Naive c(std::size_t(n) * n, 0);
    for (i32 i = 0; i < n; ++i)
      for (i32 k = 0; k < n; ++k)
        for (i32 j = 0; j < n; ++j) c[i * n + j] = (c[i * n + j] + a[i * n + k] * b[k * n + j]) % p_;
    return c;
  }
  Naive identity(i32 n) const {
    Naive c(std::size_t(n) * n, 0);
    for (i32 i = 0; i < n; ++i) c[i * n + i] = 1;
    return c;
  }

  u32 p_ = 0;
  u32* saved_primes_ = QUOR_NAME(Primes);
  std::mt19937_64 rng_{77};
  std::filesystem::path dir_;
  quor::standin::Host host_;
};

// Products (also into an operand), sums and inverses against the naive ones;
// a zero pivot repaired by a row two below; singular matrices refused, and
// the next operation done.
QTEST_F(BlockMethod, MatricesAgreeWithNaiveArithmetic) {
  for (i32 n : {1, 5, 8}) {
    const Naive a = random(n), b = random(n);
    std::vector<Dom1> A = entries(a), B = entries(b), D(A.size());
    mult_MatDom1s(A.data(), B.data(), D.data(), n);
    EXPECT_EQ(residues(D.data(), n), mul(a, b, n)) << n;
    mult_MatDom1s(A.data(), B.data(), B.data(), n);
    EXPECT_EQ(residues(B.data(), n), mul(a, b, n)) << "into B, n=" << n;
    add_MatDom1(A.data(), A.data(), D.data(), n);
    add_MatDom1_d(A.data(), D.data(), n);
    neg_MatDom1_d(D.data(), n);
    for (std::size_t e = 0; e < a.size(); ++e) EXPECT_EQ(residue_of(D[e], p_), (p_ - 3 * a[e] % p_) % p_);
    std::vector<Dom1> R(A.size());
    inv_MatDom1s(A.data(), R.data(), n);
    EXPECT_EQ(mul(a, residues(R.data(), n), n), identity(n)) << n;
  }

  // L P U with U unit upper triangular and rows 2 and 4 of U exchanged: the
  // pivot of column 2 is in row 4 only.
  const i32 n = 5;
  Naive u = random(n), l = random(n);
  for (i32 i = 0; i < n; ++i)
    for (i32 j = 0; j < n; ++j) {
      if (j <= i) u[i * n + j] = i == j;
      if (j >= i) l[i * n + j] = i == j;
    }
  for (i32 j = 0; j < n; ++j) std::swap(u[2 * n + j], u[4 * n + j]);
  const Naive m = mul(l, u, n);
  std::vector<Dom1> M = entries(m), R(M.size());
  ::testing::internal::CaptureStderr();
  inv_MatDom1s(M.data(), M.data(), n);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Swap row 2 and 4\n");
  EXPECT_EQ(mul(m, residues(M.data(), n), n), identity(n));

  Naive singular = random(n);
  for (i32 j = 0; j < n; ++j) singular[3 * n + j] = (singular[j] + 2 * singular[n + j]) % p_;
  std::vector<Dom1> S = entries(singular), before = S;
  EXPECT_EQ(quor_test::fatal_text([&] { inv_MatDom1s(S.data(), S.data(), n); }), "Singular matrix\n");
  EXPECT_EQ(S, before);
  for (i32 i = 0; i < n; ++i) S[i * n] = 0;
  EXPECT_EQ(quor_test::fatal_text([&] { inv_MatDom1s(S.data(), R.data(), n); }), "Singular matrix: 1st column is 0!\n");
  inv_MatDom1s(entries(m).data(), R.data(), n);
  EXPECT_EQ(mul(m, residues(R.data(), n), n), identity(n)) << "after a refusal";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(inv_Dom1(0, p_), 0u);
  EXPECT_EQ(inv_Dom1(p_, p_), 0u);
  ::testing::internal::GetCapturedStderr();
}

// diag(C(f1), C(f2)), f1 = X (X - 3)^2 (X^2 + 1), f2 = (X - 3)(X + 5): the
// monic minimal polynomial lcm(f1, f2) with its factor X, its square-free
// part, the same at every run; the shift-form entry on C(f1) alone.
QTEST_F(BlockMethod, WiedemannMinimalPolynomial) {
  const u64 p = p_;
  auto lin = [&](u64 r) { return naive::Poly{(p - r) % p, 1}; };
  const naive::Poly q = {1, 0, 1};
  const naive::Poly f1 = naive::mul(naive::mul(lin(0), naive::mul(lin(3), lin(3), p), p), q, p);
  const naive::Poly f2 = naive::mul(lin(3), lin(p - 5), p);
  const naive::Poly mu = naive::mul(f1, lin(p - 5), p);
  const naive::Poly rad = naive::mul(naive::mul(naive::mul(lin(0), lin(3), p), q, p), lin(p - 5), p);
  struct Companions {
    i32 D = 0;
    std::vector<i32> pairs, shift, nosp;
    std::vector<std::vector<u64>> rows;
  } c;
  for (const naive::Poly* f : {&f1, &f2}) {
    const i32 k = i32(f->size()) - 1, o = c.D;
    for (i32 r = o; r + 1 < o + k; ++r) {
      c.pairs.insert(c.pairs.end(), {r, r + 1});
      c.shift.push_back(r);
    }
    c.nosp.insert(c.nosp.end(), {o + k - 1, 0});
    c.rows.emplace_back(o, 0);
    for (i32 i = 0; i < k; ++i) c.rows.back().push_back((p - (*f)[i]) % p);
    c.D += k;
  }
  c.pairs.insert(c.pairs.end(), {-1, -1});
  c.shift.push_back(-1);
  c.nosp.insert(c.nosp.end(), {-1, -1});
  auto run = [&](bool older, i32 rows, i32 sqfr) {
    const std::size_t stride = QUOR_NAME(align_vector_size)(u32(c.D));
    std::vector<u32> block(stride * 2 + c.D + 1, 0);  // room for the D + 1 words of the result
    Dom* dense = reinterpret_cast<Dom*>(block.data());
    for (i32 r = 0; r < rows; ++r)
      for (std::size_t x = 0; x < c.rows[r].size(); ++x) dense[r * stride + x] = Dom(c.rows[r][x]);
    std::vector<i32> nosp(c.nosp.begin() + 2 * (2 - rows), c.nosp.end());
    u32 prime = p_;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const i32 deg = older ? QUOR_NAME(w_minpoly)(p_, c.D, c.shift.data(), c.nosp.data(), block.data())
                          : QUOR_NAME(w_minpoly2)(&prime, c.D, c.pairs.data(), nosp.data(), block.data(), sqfr);
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    return naive::Poly(block.begin(), block.begin() + (deg + 1));
  };
  EXPECT_EQ(run(false, 2, 0), mu);
  EXPECT_EQ(run(false, 2, 1), rad);
  EXPECT_EQ(run(false, 2, 1), rad) << "a second run";
  c.D = i32(f1.size()) - 1;  // C(f1) alone: its copies and its row
  c.shift.resize(std::size_t(c.D - 1));
  c.shift.push_back(-1);
  c.nosp.erase(c.nosp.begin() + 2, c.nosp.begin() + 4);
  EXPECT_EQ(run(true, 1, 0), f1);

  u32 big = 65537, one = 1;
  ::testing::internal::CaptureStderr();
  if (!kIntBuild) {
    EXPECT_EQ(quor_test::fatal_text([&] { QUOR_NAME(w_minpoly2)(&big, 1, nullptr, nullptr, nullptr, 0); }),
              "Pas la bonne version de la lib !\n");
  }
  EXPECT_NE(quor_test::fatal_text([&] { QUOR_NAME(w_minpoly2)(&one, 1, nullptr, nullptr, nullptr, 0); }), "");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(run(true, 1, 0), f1) << "after a refusal";
}

// Sessions P = 1 .. 8 (block size 8) of the sparse FGLM on katsura-7's
// multiplication matrix, modulo 65521 and 32003, combined: the generator
// annihilates the sequences read back.  One session alone gives the
// Berlekamp-Massey generator of its scalar sequence.
QTEST_F(BlockMethod, SessionsCombineToAGenerator) {
  quor::standin::System sys;
  const i32 nk = 7;
  for (i32 i = 0; i <= nk; ++i) sys.vars.push_back("x" + std::to_string(i + 1));
  std::string text = "[";
  auto u = [&](i32 i) { return std::abs(i) <= nk ? sys.vars[std::abs(i)] : std::string(); };
  for (i32 m = 0; m < nk; ++m) {
    for (i32 l = -nk; l <= nk; ++l)
      if (!u(l).empty() && !u(m - l).empty()) text += "+" + u(l) + "*" + u(m - l);
    text += "-" + u(m) + ",";
  }
  text += sys.vars[0];
  for (i32 i = 1; i <= nk; ++i) text += "+2*" + sys.vars[i];
  sys.polys = quor::standin::parse_poly_list(text + "-1]", sys, "katsura-7");

  for (u32 p : {65521u, 32003u}) {
    quor::standin::RequestOptions o;
    o.prime = p;
    const auto gb = quor::standin::run_request(host_, sys, o).basis;
    std::vector<refgb::Pol<u64>> G;
    for (const auto& f : gb) {
      auto& g = G.emplace_back();
      for (const auto& t : f) g[refgb::Mono(t.e.begin(), t.e.end())] = mpz_fdiv_ui(t.c.get(), p);
    }
    refgb::XlastMatrix T = refgb::XlastBuilder(G, p).build();
    const i32 D = i32(T.D);
    ASSERT_EQ(D, 128);
    use(p);
    const std::size_t stride = QUOR_NAME(align_vector_size)(u32(D)) + 16;
    std::vector<std::vector<Dom>> store;
    std::vector<Dom*> rows;
    for (const auto& r : T.rows) {
      store.emplace_back(stride, Dom(0));
      rows.push_back(static_cast<Dom*>(QUOR_NAME(realign_ptr)(store.back().data())));
      for (i32 x = 0; x < D; ++x) rows.back()[x] = kIntBuild ? Dom(r[x]) : Dom(u16(std::int16_t(Dom1_of(u32(r[x]), p))));
    }
    const std::string base = (dir_ / ("k7_" + std::to_string(p))).string();
    session_base = base.c_str();
    auto sessions = [&](i32 n) {
      i32 idx = 0, deg = 0;
      char name[] = "x8";
      char* names[] = {name};
      ::testing::internal::CaptureStderr();
      for (i32 P = 1; P <= n; ++P)
        QUOR_NAME(w_fglm)(u32(D), T.pairs.data(), T.nosp.data(), 1, &idx, rows.data(), 1, &deg, &p, 0, 0, names, 0, 0,
                          D, P, n);
      ::testing::internal::CaptureStdout();
      std::vector<Dom1> mx = combine_results(base.c_str(), n, D);
      ::testing::internal::GetCapturedStdout();
      ::testing::internal::GetCapturedStderr();
      use(p);  // the self test of the combination put its own prime back
      std::vector<std::vector<Dom>> seq(n, std::vector<Dom>(2 * std::size_t(D)));
      for (i32 i = 0; i < n; ++i) EXPECT_EQ(read_session_file(base.c_str(), i + 1, seq[i].data(), 2 * D), 1);
      return std::make_pair(mx, seq);
    };

    const i32 n = 8, d = D / n;
    const auto [mx, seq] = sessions(n);
    auto S = [&, &seq = seq](i32 k) {  // row i of S_k: vector k of process i
      Naive s;
      for (i32 i = 0; i < n; ++i)
        for (i32 j = 0; j < n; ++j) s.push_back(residue_of(Dom1_of_word(seq[i][k * n + j], p), p));
      return s;
    };
    for (i32 j = 0; j < d; ++j) {
      Naive sum(n * n, 0);
      for (i32 i = 0; i <= d; ++i) {
        const Naive t = mul(S(i + j), residues(mx.data() + i * n * n, n), n);
        for (i32 e = 0; e < n * n; ++e) sum[e] = (sum[e] + t[e]) % p;
      }
      EXPECT_EQ(sum, Naive(n * n, 0)) << "p=" << p << " j=" << j;
    }

    const auto [mx1, seq1] = sessions(1);
    std::vector<Dom> s(seq1[0].size()), K(s.size() + 1);
    for (std::size_t k = 0; k < s.size(); ++k) s[k] = Dom(residue_of(Dom1_of_word(seq1[0][k], p), p));
    i32 L = 0;
    berlekamp(s.data(), i32(s.size()), K.data(), &L);
    ASSERT_EQ(L, D);
    for (i32 i = 0; i <= D; ++i) EXPECT_EQ(residue_of(mx1[i], p), K[D - i]) << "p=" << p << " i=" << i;
  }
  // The sessions written modulo 65521 are no sequences modulo 32003.
  use(32003);
  ::testing::internal::CaptureStderr();
  const std::string refusal = quor_test::fatal_text([&] { combine_results((dir_ / "k7_65521").c_str(), 8, 128); });
  ::testing::internal::GetCapturedStderr();
  EXPECT_NE(refusal.find("is not a residue modulo 32003"), std::string::npos) << refusal;
}

// A process of the block method runs with no host kernel: a refusal of
// either entry ends it with status 1 and its text on standard error.
QTEST_F(BlockMethod, WithNoHostARefusalIsToldOnStandardErrorBeforeTheEnd) {
  i32 pairs[] = {0, 1, -1}, nosp[] = {-1}, idx[] = {0}, deg = 0;
  Dom row[16] = {};
  Dom* rows[] = {row};
  u32 p = p_;
  auto session = [&](i32 version) {
    set_process_exit_hook(nullptr);
    Host_kernel = nullptr;
    QUOR_NAME(w_fglm)(2, pairs, nosp, 1, idx, rows, version, &deg, &p, 0, 0, nullptr, 0, 0, 2, 1, 1);
  };
  const std::string unwritable = (dir_ / "none" / "s").string();
  EXPECT_EXIT(session(kFglmVersion + 1), ::testing::ExitedWithCode(1),
              "incompatible V=" + std::to_string(kFglmVersion) + "<>" + std::to_string(kFglmVersion + 1));
  session_base = unwritable.c_str();
  EXPECT_EXIT(session(kFglmVersion), ::testing::ExitedWithCode(1), "Can't open " + unwritable + ".1");
  const std::string missing = (dir_ / "missing").string();
  EXPECT_EXIT(
      {
        set_process_exit_hook(nullptr);
        Host_kernel = nullptr;
        QUOR_NAME(combine_results)(missing.c_str(), 1, 4);
      },
      ::testing::ExitedWithCode(1), "Can't open " + missing + ".1");
}

// Files the combination cannot use are refused before any work, with the
// reason; the next combination runs.
QTEST_F(BlockMethod, CombinationRefusesWhatItCannotUse) {
  const std::string base = (dir_ / "s").string();
  auto write = [&](i32 P, const std::string& text) { std::ofstream(base + "." + std::to_string(P)) << text; };
  auto sequence = [&](i32 count) {
    std::string t = "[\n[";
    for (i32 k = 0; k < count; ++k) t += (k ? "," : "") + std::to_string(rng_() % 1000);
    return t + "]\n]:\n";
  };
  auto refused = [&](i32 n, i32 N) {
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    const std::string t = quor_test::fatal_text([&] { QUOR_NAME(combine_results)(base.c_str(), n, N); });
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    return t;
  };
  EXPECT_EQ(refused(0, 8), "combine_results: 0 processes (at least 1)\n");
  EXPECT_EQ(refused(2, 3), "combine_results: generator degree 1 = 3 / 2 (at least 2)\n");
  EXPECT_EQ(refused(2, 8).rfind("Can't open " + base + ".1", 0), 0u);
  write(1, sequence(16));
  write(2, sequence(15));
  EXPECT_EQ(refused(2, 8), "combine_results: session file " + base + ".2 does not hold 16 values\n");
  write(2, sequence(15) + "7x");
  EXPECT_NE(refused(2, 8), "");
  write(2, "[99999," + sequence(15).substr(2));
  EXPECT_EQ(refused(2, 8) != "", !kIntBuild) << "a value beyond 16 bits";
  write(2, sequence(16));
  EXPECT_EQ(refused(2, 8), "");
  // Sessions of a larger prime: a value that is no residue of this one is named with its place.
  const u32 p = QUOR_NAME(Primes)[0];
  const long low = kIntBuild ? 0 : -long((p - 1) / 2);  // the prime field's words are symmetric
  const std::string word = std::to_string(kIntBuild ? long(p) : low - 1);
  write(2, "[1,2,3," + word + "," + sequence(12).substr(2));
  EXPECT_EQ(refused(2, 8), "combine_results: session file " + base + ".2: value " + word +
                               " at position 4 is not a residue modulo " + std::to_string(p) + " (" +
                               std::to_string(low) + " .. " + std::to_string(p - 1) + " expected)\n");
  // A short file against a large degree is refused before 8 GB are taken.
  write(1, "[1,2]\n");
  EXPECT_EQ(refused(1, 1000000000),
            "combine_results: session file " + base + ".1 holds 6 bytes, too few for 2000000000 values\n");
  write(1, sequence(16));
  write(2, sequence(16));
  EXPECT_EQ(refused(2, 8), "");
}

// The check made before a generator is printed: the Fibonacci numbers are
// annihilated by x^2 - x - 1 and by nothing of its degree else.
QTEST_F(BlockMethod, AGeneratorIsCheckedOnTheSequences) {
  const u32 p = QUOR_NAME(Primes)[0];
  QUOR_NAME(init_BlockHankel)(p);
  std::vector<Dom1> s;
  for (u32 a = 1, b = 1, k = 0; k < 4; ++k, std::tie(a, b) = std::make_pair(b, a + b)) s.push_back(Dom1_of(a, p));
  const Dom1* S[] = {&s[0], &s[1], &s[2], &s[3]};
  std::vector<Dom1> mx = {Dom1_of(p - 1, p), Dom1_of(p - 1, p), Dom1_of(1, p)};
  const Dom1* MX[] = {&mx[0], &mx[1], &mx[2]};
  EXPECT_EQ(first_unannihilated(S, MX, 1, 2), -1);
  mx[1] = Dom1_of(1, p);
  EXPECT_EQ(first_unannihilated(S, MX, 1, 2), 0);
  mx = {Dom1_of(p - 1, p), Dom1_of(p - 1, p), Dom1_of(1, p)};
  s[3] = Dom1_of(4, p);
  EXPECT_EQ(first_unannihilated(S, MX, 1, 2), 1);
}

// The self test's recorded values, derived here by naive arithmetic modulo
// 65521 (the generator by elimination on the whole block Hankel system); the
// test passes under any installed prime and leaves that prime installed.
QTEST_F(BlockMethod, SelfTestHoldsIndependentlyDerivedValues) {
  const SelfTestData t = self_test_data();
  const i32 n = SelfTestData::kN, d = SelfTestData::kD;
  const u64 P = SelfTestData::kPrime;
  auto res = [&](const std::int16_t* v, i64 count) {
    Naive r;
    for (i64 e = 0; e < count; ++e) r.push_back(u64((v[e] + i64(P)) % i64(P)));
    return r;
  };
  if (!kIntBuild) {  // the same recorded values in both builds: derived once
    const u32 saved = p_;
    p_ = u32(P);
    EXPECT_EQ(mul(res(t.A, n * n), res(t.B, n * n), n), res(t.AB, n * n));
    EXPECT_EQ(u64(t.scalar) * u64(t.scalar_inverse) % P, 1u);
    EXPECT_EQ(mul(res(t.M1, n * n), res(t.inv1, n * n), n), identity(n));
    EXPECT_EQ(mul(res(t.M2, n * n), res(t.inv2, n * n), n), identity(n));
    // sum_i S_{i+j} MX[i] = -S_{d+j}, j < d: one (n d) x (n d) system, n right-hand sides.
    const i32 m = n * d;
    auto S = [&](i32 k, i32 r, i32 c) { return u64((t.sessions[r][k * n + c] + i64(P)) % i64(P)); };
    std::vector<Naive> A(m, Naive(m + n));
    for (i32 j = 0; j < d; ++j)
      for (i32 r = 0; r < n; ++r) {
        for (i32 i = 0; i < d; ++i)
          for (i32 c = 0; c < n; ++c) A[j * n + r][i * n + c] = S(i + j, r, c);
        for (i32 c = 0; c < n; ++c) A[j * n + r][m + c] = (P - S(d + j, r, c)) % P;
      }
    for (i32 k = 0; k < m; ++k) {  // forward elimination, then back substitution of the right-hand sides
      i32 q = k;
      while (A[q][k] == 0) ++q;
      std::swap(A[k], A[q]);
      const u64 c = naive::inv(A[k][k], P);
      for (u64& v : A[k]) v = v * c % P;
      for (i32 i = k + 1; i < m; ++i)
        if (const u64 f = (P - A[i][k]) % P)
          for (i32 x = k; x < m + n; ++x) A[i][x] = (A[i][x] + f * A[k][x]) % P;
    }
    for (i32 k = m - 1; k >= 0; --k)
      for (i32 i = 0; i < k; ++i)
        if (const u64 f = (P - A[i][k]) % P)
          for (i32 x = m; x < m + n; ++x) A[i][x] = (A[i][x] + f * A[k][x]) % P;
    for (auto [k, want] : {std::pair{0, t.MX0}, {32, t.MX32}, {127, t.MX127}})
      for (i32 a = 0; a < n; ++a)
        for (i32 c = 0; c < n; ++c) EXPECT_EQ(A[k * n + a][m + c], res(want, n * n)[a * n + c]) << k;
    p_ = saved;
  }

  use(kIntBuild ? 4294967291u : 32003u);
  ::testing::internal::CaptureStderr();
  QUOR_NAME(test_MatDom1)();
  const std::string err = ::testing::internal::GetCapturedStderr();
  for (const char* line : {"mult_MatDom1s ok\n", "inv_Dom1s ok\n", "inv_MatDom1 ok\n", "inv_MatDom1 (2) ok\n",
                           "fglm_polys kat10 ok\n"})
    EXPECT_NE(err.find(line), std::string::npos) << err;
  EXPECT_EQ(*QUOR_NAME(modulo), p_);
#if !QUOR_INT
  EXPECT_EQ(PrimeSign, 32003);
#endif
}

QUOR_TEST_END

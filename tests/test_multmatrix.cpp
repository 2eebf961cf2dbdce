// Multiplication matrix by the last variable: its rows against the naive
// normal forms of x_last * m, the minimal polynomial and the parametrisation
// of every variable (also one over the staircase) against the ideal in every
// prime slot, the refusals, and the matrix file reader on good, malformed and
// truncated files.
#include <unistd.h>
#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>

#include "engine/matrixfile.h"
#include "engine/multmatrix.h"
#include "engine/staircase.h"
#include "tests/support/zero_dim_fixture.h"

QUOR_TEST_BEGIN

namespace {
// Runs f on a thread with a 256 KB stack and returns its fatal text.
template <class F>
std::string on_small_stack(F f) {
  std::pair<F*, std::string> box{&f, ""};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t th;
  auto run = [](void* a) -> void* {
    auto* b = static_cast<std::pair<F*, std::string>*>(a);
    b->second = fatal_text(*b->first);
    return nullptr;
  };
  if (pthread_create(&th, &attr, run, &box) != 0) return "no thread";
  pthread_join(th, nullptr);
  pthread_attr_destroy(&attr);
  return box.second;
}
// x1 - 2 x2 - 1, x2^2 - 3.
const Sys kSmall = {{{{1, 0}, 1}, {{0, 1}, -2}, {{0, 0}, -1}}, {{{0, 2}, 1}, {{0, 0}, -3}}};
}  // namespace

class QUOR_SUITE(MultMatrix) : public QUOR_SUITE(ZeroDim) {
 protected:
  void TearDown() override {
    unsetenv("MINPOLY");
    QUOR_SUITE(ZeroDim)::TearDown();
  }
  u32 dim(std::vector<Dpol>& G) {
    u32 c = 0;
    staircase(G.data(), u32(G.size()), &c);
    return c;
  }
  std::vector<Dpol> run(std::vector<Dpol> G, u32* count) {
    std::vector<Dpol> result(nb_of_affine_variables, nullptr);
    *count = build_last_matrix(G.data(), u32(G.size()), result.data(), dim(G));
    return result;
  }
  // Row c of the matrix, in every prime slot, is the normal form of x_last * m_c.
  void expect_rows_are_normal_forms(std::vector<Dpol> G) {
    const u32 D = dim(G), n = nb_of_affine_variables;
    MultMatrix M;
    build_mult_matrix(G.data(), u32(G.size()), D, &M);
    std::map<Mono, u32> coord;
    for (u32 c = 0; c < D; ++c) coord[mono_of(M.stair[c])] = c;
    for (u32 j = 0; j + 1 < n; ++j) {
      Mono xj(n, 0);
      xj[j] = 1;
      EXPECT_EQ(M.idx[j], coord.count(xj) ? i32(coord[xj]) : -1);
    }
    std::map<u32, u32> copy, dense;
    for (u32 i = 0; M.pairs[i] >= 0; i += 2) copy[u32(M.pairs[i])] = u32(M.pairs[i + 1]);
    for (u32 i = 0; M.dense[i] >= 0; i += 2) dense[u32(M.dense[i])] = i / 2;
    ASSERT_EQ(copy.size() + dense.size(), D);
    Dom** rows = new_row_table(M.nrows, M.stride);
    for (u32 k = 0; k < V(); ++k) {
      const i64 p = prime(k);
      fill_dense_rows(&M, k, prime(k), rows);
      for (u32 c = 0; c < D; ++c) {
        Mono prod = mono_of(M.stair[c]);
        prod[n - 1] += 1;
        std::vector<u64> want(M.stride, 0), got(M.stride, 0);
        for (auto& [m, v] : normal_form(RPol{{prod, 1}}, G, k)) want[coord.at(m)] = v;
        if (copy.count(c)) got[copy[c]] = 1;
        for (u32 x = 0; !copy.count(c) && x < M.stride; ++x) {
          // Prime-field rows hold symmetric signed words.
          const i64 s = QUOR_INT ? i64(rows[dense.at(c)][x]) : i64(std::int16_t(rows[dense.at(c)][x]));
          EXPECT_LE(s, QUOR_INT ? p - 1 : (p - 1) / 2);
          got[x] = u64((s + p) % p);
        }
        EXPECT_EQ(got, want) << "row " << c << " slot " << k;
      }
    }
  }
};

QTEST_F(MultMatrix, TheSmallExampleGivesItsPiecesAndATrueParametrisation) {
  layout(2);
  auto G = hand(kSmall);
  MultMatrix M;
  build_mult_matrix(G.data(), 2, 2, &M);
  EXPECT_EQ(std::vector<i32>(M.pairs, M.pairs + 3), (std::vector<i32>{0, 1, -1}));
  EXPECT_EQ(std::vector<i32>(M.dense, M.dense + 3), (std::vector<i32>{1, 0, -1}));
  EXPECT_EQ(std::vector<i32>(M.idx, M.idx + 2), (std::vector<i32>{-1, 0}));
  Dom** rows = new_row_table(M.nrows, M.stride);
  fill_dense_rows(&M, 0, prime(0), rows);
  EXPECT_EQ(std::vector<Dom>(rows[0], rows[0] + 2), (std::vector<Dom>{3, 0}));

  // The caller's hash prime and the stored hashes of G survive the matrix's own table.
  const u32 index = quor_max_index, hp = quor_hash_prime;
  const u64 h = G[0]->monoms[1][0];
  Quor_verb_info = 4;
  u32 count = 0;
  auto result = run(G, &count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(quor_max_index, index);
  EXPECT_EQ(quor_hash_prime, hp);
  EXPECT_EQ(G[0]->monoms[1][0], h);
  EXPECT_NE(host_.output().find("Matrix (1/2)\n"), std::string::npos);
  for (u32 k = 0; k < V(); ++k) {
    const u64 p = prime(k);
    EXPECT_EQ(as_rpol(result[1], k), (RPol{{{0, 2}, 1}, {{0, 0}, p - 3}}));
    // x1 lies over the staircase: its basis element, not the bare x1.
    EXPECT_EQ(as_rpol(result[0], k), (RPol{{{1, 0}, 1}, {{0, 1}, p - 2}, {{0, 0}, p - 1}}));
  }

  setenv("MINPOLY", "1", 1);
  result = run(G, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(as_rpol(result[0], 0), (RPol{{{0, 2}, 1}, {{0, 0}, prime(0) - 3}}));
  EXPECT_NE(host_.output().find("**** WARNING MinPoly Only !Build the matrix"), std::string::npos);
}

QTEST_F(MultMatrix, RowsAreNormalFormsAndEveryResultLiesInTheIdeal) {
  std::mt19937 rng(11);
  for (u32 n : {2u, 3u})
    for (int trial = 0; trial < 3; ++trial) {
      // Generic quadrics; in the last trial the first one is a linear form,
      // whose variable lies over the staircase.
      layout(n);
      Sys sys(n);
      for (u32 i = 0; i < n; ++i)
        for (Mono m(n, 0);;) {
          if (deg(m) <= (trial == 2 && i == 0 ? 1u : 2u)) sys[i].push_back({m, i64(rng() % 199) - 99});
          u32 v = 0;
          while (v < n && ++m[v] > 2) m[v++] = 0;
          if (v == n) break;
        }
      auto G = basis(sys);
      ASSERT_EQ(is_zerodim(G.data(), u32(G.size())), 1u);
      expect_rows_are_normal_forms(G);
      const u32 D = dim(G);
      EXPECT_EQ(D, trial == 2 ? 1u << (n - 1) : 1u << n);
      u32 count = 0;
      auto result = run(G, &count);
      ASSERT_EQ(count, n);
      for (u32 k = 0; k < V(); ++k)
        for (u32 j = 0; j < n; ++j) {
          const RPol r = as_rpol(result[j], k);
          Mono lead(n, 0);
          lead[j] = j + 1 == n ? D : 1;  // shape position: x_j + g_j(x_last), minimal polynomial of degree D
          EXPECT_EQ(r.count(lead) ? r.at(lead) : 0, 1u);
          for (auto& [m, v] : r) EXPECT_TRUE(m == lead || (deg(m) == m[n - 1] && m[n - 1] < D));
          EXPECT_TRUE(normal_form(r, G, k).empty()) << "n=" << n << " trial " << trial << " result " << j;
        }
      if (trial == 2) {
        EXPECT_GT(result[0]->nb_terms, 1u);
      }
    }
}

QTEST_F(MultMatrix, ProductsOverTheStaircaseGetTheirNormalForms) {
  layout(2);
  // x2 * (x1 x2) = x1 * x2^2 is a proper multiple of x2^2: its row is NF = x1.
  auto G = hand({{{{2, 0}, 1}, {{0, 0}, -1}}, {{{0, 2}, 1}, {{0, 0}, -1}}});
  expect_rows_are_normal_forms(G);
  MultMatrix M;
  build_mult_matrix(G.data(), 2, 4, &M);
  EXPECT_EQ(M.ndense, 2u);
  EXPECT_EQ(M.nnodes, 1u);
  // Chains: x1 x2 x3^3 -> x1^2 x2 + 2 x1 x2 -> x2^2 + x2 + 2 x1 x2 -> x3 + ...
  // through basis elements free of x3 (coprime leads: a reduced basis).
  layout(3);
  G = hand({{{{2, 0, 0}, 1}, {{0, 1, 0}, -1}, {{0, 0, 0}, -1}},
            {{{0, 2, 0}, 1}, {{0, 0, 1}, -1}},
            {{{0, 0, 3}, 1}, {{1, 0, 0}, -1}, {{0, 0, 0}, -2}}});
  expect_rows_are_normal_forms(G);
  build_mult_matrix(G.data(), 3, 12, &M);
  EXPECT_EQ(M.ndense, 4u);  // x3^3 and three proper multiples of it
  EXPECT_EQ(M.nnodes, 6u);  // with x1^2, x1^2 x2 and x2^2 on the way
  // Only the minimal polynomial: x2^2 - 1 is of lower degree than the quotient.
  layout(2);
  G = hand({{{{2, 0}, 1}, {{0, 0}, -1}}, {{{0, 2}, 1}, {{0, 0}, -1}}});
  setenv("MINPOLY", "1", 1);
  u32 count = 0;
  auto result = run(G, &count);
  ASSERT_EQ(count, 1u);
  for (u32 k = 0; k < V(); ++k) EXPECT_EQ(as_rpol(result[0], k), (RPol{{{0, 2}, 1}, {{0, 0}, prime(k) - 1}}));
}

QTEST_F(MultMatrix, Refusals) {
  layout(2);
  EXPECT_EQ(build_last_matrix(nullptr, 0, nullptr, 5), 0u);
  std::vector<Dpol> out(2);
  auto G = hand(kSmall);
  EXPECT_EQ(fatal_text([&] { build_last_matrix(G.data(), 2, out.data(), 3); }), "Bug in build_last_matrix nb=2<>3\n");
  EXPECT_EQ(fatal_text([&] { build_last_matrix(G.data(), 2, out.data(), 1); }), "bug2 in build_last_matrix\n");
  // A leading monomial in a tail: not a reduced basis.
  G = hand({{{{2, 0}, 1}, {{0, 0}, -1}}, {{{0, 3}, 1}, {{2, 0}, -1}}});
  EXPECT_NE(fatal_text([&] { build_last_matrix(G.data(), 2, out.data(), 6); }).find("not reduced"), std::string::npos);
}

QTEST_F(MultMatrix, LargeStaircasesNeedNoStackProportionalToTheirSize) {
  layout(2);
  const u32 D = 20000;
  auto G = hand({{{{1, 0}, 1}, {{0, 1}, -1}}, {{{0, D}, 1}, {{0, 0}, -1}}});
  MultMatrix M;
  EXPECT_EQ(on_small_stack([&] {
              build_mult_matrix(G.data(), 2, D, &M);
              fill_dense_rows(&M, 0, prime(0), new_row_table(M.nrows, M.stride));
            }),
            "");
  EXPECT_EQ(M.ndense, 1u);
  EXPECT_EQ(M.pairs[2 * (D - 1)], -1);
}

// ---------------------------------------------------------------- matrix file

using FileValue = std::conditional_t<QUOR_INT, u32, u16>;

class QUOR_SUITE(MatrixFile) : public QUOR_SUITE(ZeroDim) {
 protected:
  void SetUp() override {
    QUOR_SUITE(ZeroDim)::SetUp();
    layout(2);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    QUOR_SUITE(ZeroDim)::TearDown();
  }
  static std::string bytes(u32 N0, u64 nb, const std::vector<FileValue>& nz, const std::vector<u32>& pos,
                           const std::vector<u32>& sz) {
    const u32 mod = 65521;
    std::string s;
    auto put = [&](const void* p, size_t n) { s.append(static_cast<const char*>(p), n); };
    put(&N0, 4), put(&N0, 4), put(&mod, 4), put(&nb, 8);
    put(nz.data(), nz.size() * sizeof(FileValue)), put(pos.data(), pos.size() * 4), put(sz.data(), sz.size() * 4);
    return s;
  }
  // Reads the file holding these bytes; the fatal text, or "" with *out set.
  std::string read(const std::string& content, Dpol* out, std::string* err = nullptr) {
    std::ofstream(path_, std::ios::binary).write(content.data(), std::streamsize(content.size()));
    ::testing::internal::CaptureStderr();
    std::string t = fatal_text([&] { EXPECT_EQ(rebuild_matrix(path_.c_str(), out), 1u); });
    const std::string e = ::testing::internal::GetCapturedStderr();
    if (err) *err = e;
    return t;
  }
  // The 2 x 2 matrix whose row 0 copies x[1] and whose dense row 1 is (a, b).
  static std::string companion(FileValue a, FileValue b) { return bytes(2, 3, {5, a, b}, {1, 0, 1}, {1, 2}); }
  // One file per process: ctest runs the cases of this suite in parallel.
  std::string path_ = ::testing::TempDir() + "quor_matrix_" + QUOR_BUILD_STR + "_" + std::to_string(::getpid()) + ".bin";
};

QTEST_F(MatrixFile, CopyRowsDenseRowsAndTheSymmetricForm) {
  Dpol mu = nullptr;
  std::string err;
  ASSERT_EQ(read(bytes(2, 2, {9, 3}, {1, 0}, {1, 1}), &mu, &err), "");
  EXPECT_NE(err.find("2 x 2 matrix\n"), std::string::npos);
  EXPECT_NE(err.find("\nSparse: 2 Non sparse 0\n"), std::string::npos);
  for (u32 k = 0; k < V(); ++k)  // two copy rows (values unread): the swap, x^2 - 1
    EXPECT_EQ(as_rpol(mu, k), (RPol{{{0, 2}, 1}, {{0, 0}, prime(k) - 1}}));
  // 40000 lies above p/2 for p = 65521: it goes in as a negative word.
  for (FileValue a : {3, 40000, 30000}) {
    ASSERT_EQ(read(companion(a, 5), &mu), "");
    for (u32 k = 0; k < V(); ++k)
      EXPECT_EQ(as_rpol(mu, k), (RPol{{{0, 2}, 1}, {{0, 1}, prime(k) - 5}, {{0, 0}, prime(k) - a}})) << a;
  }
  if (!QUOR_INT) {  // a value at or above the prime is taken modulo it
    ASSERT_EQ(read(companion(65530, 0), &mu), "");
    EXPECT_EQ(as_rpol(mu, 0), (RPol{{{0, 2}, 1}, {{0, 0}, 65521 - 9}}));
  }
}

// Rows with no entry are rows of zeros: 3,000 of them (12 KB of file) after
// three copy rows x0 <- x1 <- x2 <- x3 make a nilpotent matrix of minimal
// polynomial x^4, at a cost in proportion to the file, not to the cube of its
// row count (minutes before).
QTEST_F(MatrixFile, EmptyRowsAreRowsOfZeros) {
  const u32 N0 = 3000;
  std::vector<u32> sz(N0, 0);
  sz[0] = sz[1] = sz[2] = 1;
  Dpol mu = nullptr;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(read(bytes(N0, 3, {1, 1, 1}, {1, 2, 3}, sz), &mu), "");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  for (u32 k = 0; k < V(); ++k) EXPECT_EQ(as_rpol(mu, k), (RPol{{{0, 4}, 1}}));
  EXPECT_LT(seconds, 20.0);
}

QTEST_F(MatrixFile, TruncatedAndInconsistentFilesAreRefused) {
  const std::string good = companion(3, 0);
  const size_t nzb = 3 * sizeof(FileValue);
  Dpol out = nullptr;
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const char* want = cut < 4          ? "fread(&N0,sizeof(UI32), 1,f)==1"
                       : cut < 8        ? "fread(&m,sizeof(UI32), 1,f)==1"
                       : cut < 12       ? "fread(&mod,sizeof(UI32), 1,f)==1"
                       : cut < 20       ? "fread(&nb,sizeof(UI64),1,f)==1"
                       : cut < 20 + nzb ? (QUOR_INT ? "fread(nz, sizeof(compact_Dom), nb,f)==nb"
                                                    : "fread(nz, sizeof(short int), nb,f)==nb")
                       : cut < 32 + nzb ? "fread(pos,sizeof(UI32),nb,f)==nb"
                                        : "fread(sz, sizeof(UI32),N0, f)==N0";
    const std::string t = read(good.substr(0, cut), &out);
    EXPECT_NE(t.find(want), std::string::npos) << "cut at " << cut << ": " << t;
    EXPECT_NE(t.find("rebuild_matrix"), std::string::npos);
  }
  // A header promising far more entries than there are fails on the read, not on memory.
  EXPECT_NE(read(bytes(2, u64(1) << 40, {5, 3, 0}, {1, 0, 1}, {1, 2}), &out).find("fread(nz"), std::string::npos);
  EXPECT_NE(read(bytes(2, 3, {5, 3, 0}, {1, 0, 7}, {1, 2}), &out).find("column 7"), std::string::npos);
  EXPECT_NE(read(bytes(2, 3, {5, 3, 0}, {1, 0, 1}, {1, 5}), &out).find("add up to 6"), std::string::npos);
  EXPECT_NE(read(bytes(0, 0, {}, {}, {}), &out).find("empty matrix"), std::string::npos);
  EXPECT_NE(fatal_text([&] { rebuild_matrix("/nonexistent/quor_matrix.bin", &out); }).find("Can't open"),
            std::string::npos);
}

QUOR_TEST_END

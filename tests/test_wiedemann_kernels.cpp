// Dense matrix-vector kernels: SSE, multi-row and threaded forms against a
// reference sum, and the plain loops on residues.
#include "tests/dual_test.h"

#include <omp.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/zone.h"
#include "minpolyvgf/scratch.h"
#include "core/coeffs.h"
#include "minpolyvgf/wiedemann_lowlevel.h"

QUOR_TEST_BEGIN

class QUOR_SUITE(Kernels) : public ::testing::Test {
 protected:
  void SetUp() override {
    QUOR_NAME(Table_Primes) = &prime_;
    init_wiedemann();
  }
  // Aligned words, zero beyond the first `used` of each n-entry row; signed
  // entries in the symmetric range when `symmetric`, residues otherwise.
  struct Rows {
    std::vector<Dom> store;
    Dom* base;
    std::size_t n;
    Dom* row(std::size_t r) { return base + r * n; }
  };
  Rows make(i32 count, i32 D, i32 used, bool symmetric) {
    Rows m{std::vector<Dom>(), nullptr, QUOR_NAME(align_vector_size)(u32(D))};
    m.store.assign(m.n * std::max(count, 1) + 16, Dom(0));
    m.base = static_cast<Dom*>(QUOR_NAME(realign_ptr)(m.store.data()));
    const i32 h = i32((prime_ - 1) / 2);
    for (i32 r = 0; r < count; ++r)
      for (i32 i = 0; i < used; ++i)
        m.row(r)[i] = rng_() % 5 == 0 ? Dom(0)
                      : symmetric     ? Dom(u16(std::int16_t(i32(rng_() % u32(2 * h + 1)) - h)))
                                      : Dom(rng_() % prime_);
    return m;
  }
  Dom signed_ref(const Dom* a, const Dom* b, i32 n) const {
    i64 s = 0;
    for (i32 i = 0; i < n; ++i) s += i64(std::int16_t(a[i])) * std::int16_t(b[i]);
    i64 r = ((s % i64(prime_)) + prime_) % prime_;
    return Dom(u16(std::int16_t(r > i64(prime_ - 1) / 2 ? r - prime_ : r)));
  }
  Dom plain_ref(const Dom* a, const Dom* b, i32 n) const {
    u64 s = 0;
    for (i32 i = 0; i < n; ++i) s = (s + u64(a[i]) * b[i]) % prime_;
    return Dom(s);
  }
  u32 prime_ = kIntBuild ? 4294967291u : 65521u;
  std::mt19937_64 rng_{4242};
};

QTEST_F(Kernels, PlainLoopsOnResidues) {
  for (i32 D : {0, 1, 3, 8, 13, 257}) {
    const i32 count = 7;
    Rows m = make(count, D, D, false), x = make(1, D, D, false);
    std::vector<i32> list2, compact;
    for (i32 r = 0; r < count; ++r) {
      compact.push_back((r * 5) % count);
      list2.insert(list2.end(), {compact.back(), 0});
    }
    list2.insert(list2.end(), {-1, 0});
    std::vector<Dom> y1(count, Dom(1)), y2(count, Dom(2));
    QUOR_NAME(dense_matrix_I32_align)(y1.data(), x.base, D, list2.data(), m.base);
    QUOR_NAME(dense_matrix_I32_align_vect)(y2.data(), x.base, D, compact.data(), count, m.base);
    u32 nonzero = 0;
    u64 trace = 0;
    for (i32 r = 0; r < count; ++r) {
      const Dom want = plain_ref(m.row(r), x.base, D);
      Dom out;
      ASSERT_EQ(y1[compact[r]], want) << "D=" << D;
      ASSERT_EQ(y2[compact[r]], want) << "D=" << D;
      ASSERT_EQ(QUOR_NAME(dot_product_dense)(&out, m.row(r), x.base, D), want);
      ASSERT_EQ(out, want);
      for (i32 i = 0; i < D; ++i) nonzero += m.row(r)[i] != 0;
      if (D > count) trace += m.row(r)[compact[r]];
    }
    EXPECT_EQ(QUOR_NAME(sparsity_align2)(D, list2.data(), m.base), nonzero);
    if (D > count) {
      Dom tr;
      QUOR_NAME(dense_trace_I32_align)(&tr, D, list2.data(), m.base);
      EXPECT_EQ(tr, Dom(trace % prime_));
    }
    // Packed rows: the row starting at column s holds D - s entries (none from D on).
    std::vector<i32> plist = {2, 0, 0, 1, 5, D / 2, 3, D, 4, D + 3, -1, 0};
    std::vector<Dom> packed, yp(6, Dom(9)), want(6, Dom(9));
    for (std::size_t k = 0; plist[k] >= 0; k += 2) {
      const i32 s = plist[k + 1], len = s < D ? D - s : 0;
      Rows r = make(1, len, len, false);
      want[plist[k]] = plain_ref(r.base, x.base + s, len);
      packed.insert(packed.end(), r.base, r.base + len);
    }
    packed.push_back(0);
    QUOR_NAME(dense_matrix_I32)(yp.data(), x.base, D, plist.data(), packed.data());
    EXPECT_EQ(yp, want) << "D=" << D;
  }
  std::vector<i32> empty = {-1, 0};
  Dom t = 5;
  QUOR_NAME(dense_trace_I32_align)(&t, 4, empty.data(), nullptr);
  EXPECT_EQ(t, Dom(0));
}

#if QUOR_INT
// The vector and plain forms of the 32-bit dot product against a step-by-step
// reduction, at the largest residues (every product fills both words of its
// lane) and at every tail length of the vector loop.
QTEST_F(Kernels, WideDotProductsAtTheLargestResidues) {
  const std::size_t big = (std::size_t(1) << 20) + 5;
  std::vector<u32> a(big, prime_ - 1), b(big, prime_ - 1);
  for (std::size_t i = 0; i < big; i += 7) b[i] = u32(rng_() % prime_);
  const bool avx2 = __builtin_cpu_supports("avx2");
  for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(8), std::size_t(9),
                        std::size_t(15), std::size_t(16), std::size_t(17), big}) {
    const u32 want = plain_ref(a.data(), b.data(), i32(n));
    EXPECT_EQ(quor::dot_u32_plain(a.data(), b.data(), std::ptrdiff_t(n), prime_), want) << n;
    if (avx2) {
      EXPECT_EQ(quor::dot_u32_avx2(a.data(), b.data(), std::ptrdiff_t(n), prime_), want) << n;
    }
  }
}
#endif

#if !QUOR_INT
QTEST_F(Kernels, SseFamilyMatchesSignedReference) {
  for (i32 D : {0, 5, 8, 9, 100, 4099}) {
    Rows m = make(8, D, D, true), x = make(1, D, 0, false);
    const i32 n = i32(m.n);
    for (i32 i = 0; i < n; ++i) x.base[i] = Dom(rng_());  // any word, padding included
    Dom want[8], o[8], o2[8], c;
    for (int r = 0; r < 8; ++r) {
      want[r] = signed_ref(m.row(r), x.base, D);
      dot_product_dense_sse(&o[r], m.row(r), x.base, n);
      dot_product_dense_sse_prefetch(&o2[r], m.row(r), x.base, n);
      QUOR_NAME(dot_product_dense_C)(&c, m.row(r), x.base, D);
      ASSERT_EQ(o[r], want[r]) << "D=" << D << " row " << r;
      ASSERT_EQ(o2[r], want[r]);
      ASSERT_EQ(c, want[r]);
    }
    dot_product_dense_sse2(&o[0], &o[1], m.row(0), m.row(1), x.base, n);
    dot_product_dense_sse4(&o[2], &o[3], &o[4], &o[5], m.row(2), m.row(3), m.row(4), m.row(5), x.base, n);
    for (int r = 0; r < 6; ++r) EXPECT_EQ(o[r], want[r]);
    dot_product_dense_sse8(&o[0], &o[1], &o[2], &o[3], &o[4], &o[5], &o[6], &o[7], m.row(0), m.row(1),
                           m.row(2), m.row(3), m.row(4), m.row(5), m.row(6), m.row(7), x.base, n);
    for (int r = 0; r < 8; ++r) EXPECT_EQ(o[r], want[r]);
  }
  // Largest products everywhere; a sum of exactly -p; -1 against 1.
  alignas(16) Dom big[4096], xs[4096];
  for (i32 i = 0; i < 4096; ++i) big[i] = Dom(u16(std::int16_t(-32760))), xs[i] = Dom(0x8000);
  Dom out;
  dot_product_dense_sse(&out, big, xs, 4096);
  EXPECT_EQ(out, signed_ref(big, xs, 4096));
  alignas(16) Dom row[8] = {65535, 65534}, x[8] = {32753, 16384};  // -32753 - 32768 = -p
  dot_product_dense_sse(&out, row, x, 8);
  EXPECT_EQ(out, Dom(0));
  x[0] = 1, x[1] = 0;
  dot_product_dense_sse(&out, row, x, 8);
  EXPECT_EQ(out, Dom(65535));
  EXPECT_EQ(QUOR_NAME(dot_product_dense)(&out, row, x, 8), Dom(14));  // 65535 read unsigned
  EXPECT_EQ(MUL(70000, 70000, 65521), u32(70000u * 70000u) % 65521u);
  EXPECT_EQ(ADDMUL(70000, 70000, 5, 65521), u32((u64(70000) * 70000 + 5) % 65521));
}

// The threaded driver writes the same vector, only at the listed rows, for
// 1 to 4 chunks and teams smaller and larger than the chunk count.
QTEST_F(Kernels, ThreadedDriverIndependentOfThreadCount) {
  const i32 saved = nb_threads;
  const int saved_team = omp_get_max_threads();
  for (i32 D : {10, 5, 333}) {
    const i32 count = D == 333 ? 200 : D;
    Rows m = make(count, D, D, true), x = make(1, D, D, true);
    std::vector<const Dom*> table(count);
    std::vector<i32> list(count), list2;
    std::vector<Dom> want(D, Dom(0xBEEF));
    u32 nonzero = 0;
    u64 trace = 0;
    for (i32 r = 0; r < count; ++r) {
      table[r] = m.row(r);
      list[r] = (r * 7 + 3) % D;  // distinct while count <= D
      want[list[r]] = signed_ref(table[r], x.base, D);
      list2.insert(list2.end(), {r, 0});
      for (i32 i = 0; i < D; ++i) nonzero += table[r][i] != 0;
      trace += u64((i32(std::int16_t(table[r][r])) + i32(prime_)) % i32(prime_));
    }
    list2.push_back(-1);
    for (int chunks : {1, 2, 3, 4}) {
      for (int team : {1, chunks, 8}) {
        nb_threads = chunks;
        omp_set_num_threads(team);
        std::vector<Dom> y(D, Dom(0xBEEF));
        dense_matrix_I32_align_vect_openmp(y.data(), x.base, D, list.data(), count, table.data());
        ASSERT_EQ(y, want) << "D=" << D << " chunks=" << chunks << " team=" << team;
      }
    }
    EXPECT_EQ(sparsity_align2_openmp(D, list2.data(), table.data()), nonzero);
    Dom tr;
    dense_trace_I32_align_openmp(&tr, D, list2.data(), table.data());
    EXPECT_EQ(tr, Dom(trace % prime_));  // symmetric entries are lifted, not read unsigned
  }
  nb_threads = saved;
  omp_set_num_threads(saved_team);
}
#endif

QUOR_TEST_END

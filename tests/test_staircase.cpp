// Zero-dimensionality and the staircase: hand-made monomial ideals and
// random ones against a brute-force enumeration.
#include <random>
#include <set>

#include "engine/staircase.h"
#include "tests/support/zero_dim_fixture.h"

QUOR_TEST_BEGIN

class QUOR_SUITE(Staircase) : public QUOR_SUITE(ZeroDim) {
 protected:
  std::vector<Dpol> leads(const std::vector<Mono>& ms) {
    Sys sys;
    for (auto& m : ms) sys.push_back({{m, 1}});
    return hand(sys);
  }
  std::vector<Mono> listed(const std::vector<Mono>& ms, u32* c) {
    auto G = leads(ms);
    std::vector<Mono> out;
    for (List_Expos l = staircase(G.data(), u32(G.size()), c); l; l = l->next) out.push_back(mono_of(l->expos));
    return out;
  }
};

QTEST_F(Staircase, ZeroDimensionalityWantsAPurePowerOfEveryVariable) {
  layout(2);
  EXPECT_EQ(is_zerodim(leads({{2, 0}, {1, 1}}).data(), 2), 0u);  // x1*x2 marks nothing
  EXPECT_EQ(is_zerodim(leads({{2, 0}, {1, 1}, {0, 5}}).data(), 3), 1u);
  EXPECT_EQ(is_zerodim(nullptr, 0), 1u);
  EXPECT_EQ(is_zerodim(leads({{0, 0}}).data(), 1), 0u);  // a constant is no pure power
  // The homogenising slot is not looked at: x2*h counts for x2.
  auto G = leads({{3, 0}, {0, 1}});
  expos_set_slot(G[1]->monoms[0] + 1, 2, 1);
  EXPECT_EQ(is_zerodim(G.data(), 2), 1u);
}

QTEST_F(Staircase, SmallIdealsConstantsAndTheEmptyBasis) {
  layout(2);
  u32 c = 0;
  EXPECT_EQ(listed({{0, 0}, {1, 0}}, &c), (std::vector<Mono>{{0, 0}}));
  EXPECT_EQ(c, 1u);
  EXPECT_EQ(staircase(nullptr, 0, &c), nullptr);
  EXPECT_EQ(c, 0u);
}

QTEST_F(Staircase, RandomMonomialIdealsMatchTheBruteForceStaircase) {
  std::mt19937 rng(7);
  for (u32 n : {1u, 2u, 3u, 4u}) {
    layout(n);
    for (int trial = 0; trial < 25; ++trial) {
      std::vector<Mono> ms;
      Mono box(n);
      for (u32 v = 0; v < n; ++v) {
        ms.push_back(Mono(n, 0));
        ms.back()[v] = box[v] = 1 + rng() % 6;
      }
      for (int extra = rng() % 6; extra-- > 0;) {
        Mono m(n);
        for (auto& e : m) e = rng() % 4;
        if (deg(m)) ms.push_back(m);
      }
      std::shuffle(ms.begin(), ms.end(), rng);
      std::set<Mono> want;
      for (Mono m(n, 0);;) {
        if (std::none_of(ms.begin(), ms.end(), [&](const Mono& l) {
              for (u32 i = 0; i < n; ++i)
                if (l[i] > m[i]) return false;
              return true;
            }))
          want.insert(m);
        u32 i = 0;
        while (i < n && ++m[i] >= box[i]) m[i++] = 0;
        if (i == n) break;
      }
      u32 c = 0;
      const auto got = listed(ms, &c);
      EXPECT_EQ(std::set<Mono>(got.begin(), got.end()), want) << "n=" << n << " trial " << trial;
      EXPECT_EQ(c, want.size());
      for (u32 i = 1; i < got.size(); ++i)  // reverse lexicographic, 1 first
        EXPECT_TRUE(std::lexicographical_compare(got[i - 1].rbegin(), got[i - 1].rend(), got[i].rbegin(),
                                                 got[i].rend()));
      auto G = leads(ms);
      EXPECT_EQ(mono_of(staircase_records(G.data(), u32(G.size()), c, &c)[0] + 1), Mono(n, 0));
    }
  }
}

QTEST_F(Staircase, PositiveDimensionAndTooManyMonomialsAreRefused) {
  layout(2);
  u32 c = 0;
  auto G = leads({{2, 0}, {1, 1}});
  EXPECT_EQ(fatal_text([&] { staircase(G.data(), 2, &c); }), "Not a zero-dimensional system\n");
  G = leads({{2, 0}, {0, 2}});
  EXPECT_EQ(fatal_text([&] { staircase_records(G.data(), 2, 3, &c); }), "bug2 in build_last_matrix\n");
}

QUOR_TEST_END

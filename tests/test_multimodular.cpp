// Multi-modular kernels of the integer build: wrapping accumulator cells,
// the grouped AXPY over several primes, and the reconstruction of whole
// polynomials whose coefficients share their denominators.
#include "tests/dual_test.h"

#include <gmp.h>

#include <random>
#include <string>
#include <vector>

#include "core/bigint.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/elim_kernels.h"
#include "engine/reconstruct.h"
#include "host/C/host_services.h"
#include "tests/support/fatal_exit.h"

QUOR_TEST_BEGIN

#if QUOR_INT

class QUOR_SUITE(MultiModular) : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_reset_memory(0);
    zone_init_tables();
    if (zone_memory_allocated < (1u << 16)) zone_memory_allocated = 1u << 16;
    Quor_verb_info = 0;
    previous_hook_ = set_process_exit_hook(quor_test::throw_on_exit);
    QUOR_NAME(enter_INT)();
    QUOR_NAME(want_quiet) = 1;
    block(5, 0);
  }
  void TearDown() override {
    QUOR_NAME(want_quiet) = 0;
    QUOR_NAME(exit_INT)();
    set_process_exit_hook(previous_hook_);
    zone_reset_memory(0);
  }
  void block(u32 size, u32 offset) {
    offset_primes = offset;
    QUOR_NAME(vectorize) = QUOR_NAME(maxi_vectorize) = size;
    QUOR_NAME(swap_zone3)();
    init_Dom();
    QUOR_NAME(re_init_Chineese_INT)();
    QUOR_NAME(swap_zone3)();
  }
  ProcessExitHook previous_hook_ = nullptr;
};

// A cell is only ever congruent to its entry: after any number of products
// (carries included) its residue is the exact sum's.
QTEST_F(MultiModular, WrappingCellsKeepTheResidueOverManyProducts) {
  std::mt19937_64 rng(7);
  for (u32 p : {QUOR_NAME(Primes)[0], 2147483659u, 4294967291u}) {
    const WrapMod mod(p);
    u64 cell = rng() % p;
    unsigned __int128 exact = cell;
    for (int k = 0; k < 20000; ++k) {
      // Large factors make carries frequent; small ones keep some steps carry-free.
      const u64 m = (k % 3) ? p - 1 - rng() % 5 : rng() % p, c = rng() % p;
      cell = mod.add(cell, m * c);
      exact = (exact + (unsigned __int128)(m * c)) % p;
      if (k % 997 == 0) {
        ASSERT_EQ(mod.residue(cell), u32(exact)) << p << " step " << k;
      }
    }
    EXPECT_EQ(mod.residue(cell), u32(exact));
    EXPECT_EQ(mod.residue(~u64(0)), u32(~u64(0) % p));
    EXPECT_EQ(mod.mul(p - 1, p - 1), 1u);
  }
}

// The grouped AXPY gives every slot what the one-slot kernel gives it.
QTEST_F(MultiModular, GroupedAxpyMatchesOneSlotAtATime) {
  constexpr u32 G = 3;
  std::mt19937_64 rng(11);
  // Pivot positions with gaps of every code length and runs.
  std::vector<u32> pos = {0};
  for (u32 gap : {1u, 1u, 1u, 5u, 1u, 200u, 1u, 1u, 70000u, 3u, 1u})
    pos.push_back(pos.back() + gap);
  const u64 span = pos.back() + 1;
  std::vector<u8> code(lzw_worst_bytes(pos.size()));
  u32 ncodes = 0;
  ASSERT_NE(lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes), ~u64(0));
  const WrapMod mods[G] = {WrapMod(QUOR_NAME(Primes)[0]), WrapMod(QUOR_NAME(Primes)[1]),
                           WrapMod(QUOR_NAME(Primes)[2])};
  std::vector<std::vector<u32>> coef(G, std::vector<u32>(pos.size()));
  u64 m[G];
  for (u32 g = 0; g < G; ++g) {
    for (u32& c : coef[g]) c = u32(rng() % mods[g].p);
    m[g] = rng() % mods[g].p;
  }
  const u32* cf[G] = {coef[0].data(), coef[1].data(), coef[2].data()};
  std::vector<u64> start(span * G);
  for (u64& c : start) c = rng();
  std::vector<u64> grouped = start;
  wrap_axpy_group<G>(grouped.data(), m, code.data(), ncodes, cf, mods);
  for (u32 g = 0; g < G; ++g) {
    std::vector<u64> single(span);
    for (u64 k = 0; k < span; ++k) single[k] = start[k * G + g];
    wrap_axpy(single.data(), m[g], code.data(), cf[g], ncodes, mods[g]);
    for (u64 k = 0; k < span; ++k)
      ASSERT_EQ(mods[g].residue(grouped[k * G + g]), mods[g].residue(single[k])) << "slot " << g << " cell " << k;
    // The lead cell is not touched.
    EXPECT_EQ(grouped[g], start[g]);
  }
}

// The vector kernel over transposed coefficients gives what the scalar
// grouped kernel gives.
QTEST_F(MultiModular, VectorGroupMatchesScalarGroup) {
  if (!wrap_simd_available()) GTEST_SKIP() << "no AVX2";
  constexpr u32 G = 8;
  std::mt19937_64 rng(13);
  std::vector<u32> pos = {0};
  for (u32 gap : {1u, 1u, 1u, 1u, 1u, 2u, 300u, 1u, 1u, 1u, 4u, 70000u, 1u, 9u})
    pos.push_back(pos.back() + gap);
  const u64 span = pos.back() + 1;
  std::vector<u8> code(lzw_worst_bytes(pos.size()));
  u32 ncodes = 0;
  ASSERT_NE(lzw_encode(pos.data(), pos.size(), code.data(), code.size(), &ncodes), ~u64(0));
  block(G, 0);
  std::vector<WrapMod> mods;
  for (u32 g = 0; g < G; ++g) mods.emplace_back(QUOR_NAME(Primes)[g]);
  std::vector<std::vector<u32>> coef(G, std::vector<u32>(pos.size()));
  std::vector<u32> tcoef(pos.size() * G);
  u64 m[G];
  const u32* cf[G];
  for (u32 g = 0; g < G; ++g) {
    for (u32 j = 0; j < pos.size(); ++j) tcoef[G * j + g] = coef[g][j] = u32(rng() % mods[g].p);
    m[g] = g == 3 ? 0 : mods[g].p - 1 - rng() % 3;  // one zero multiplier, the others large
    cf[g] = coef[g].data();
  }
  std::vector<u64> scalar(span * G);
  for (u64& c : scalar) c = rng() | (u64(1) << 63);  // near the top: carries everywhere
  std::vector<u64> vec = scalar;
  wrap_axpy_group<G>(scalar.data(), m, code.data(), ncodes, cf, mods.data());
  wrap_axpy8_avx2(vec.data(), m, code.data(), ncodes, tcoef.data(), mods.data());
  EXPECT_EQ(vec, scalar);
}

// Coefficients over one big common denominator, as in a monic basis
// element: rebuilt pass after pass, and the primitive form comes back with
// the denominator as its leading coefficient.
QTEST_F(MultiModular, SharedDenominatorsRebuildToThePrimitiveForm) {
  mpz_t D, n, t;
  mpz_init(D);
  mpz_init(n);
  mpz_init(t);
  gmp_randstate_t st;
  gmp_randinit_default(st);
  gmp_randseed_ui(st, 9);
  mpz_urandomb(D, st, 700);
  mpz_setbit(D, 700);
  // num[0] = D (value 1), the others random, some negative, one zero.
  std::vector<std::string> num;
  num.push_back(mpz_get_str(nullptr, 10, D));
  for (int j = 1; j < 12; ++j) {
    if (j == 5) {
      num.push_back("0");
      continue;
    }
    mpz_urandomb(n, st, 600 + 10 * j);
    if (j % 2) mpz_neg(n, n);
    num.push_back(mpz_get_str(nullptr, 10, n));
  }
  const u32 nt = u32(num.size());
  auto residues = [&](u32 V) {
    std::vector<std::vector<u32>> rows(V, std::vector<u32>(nt));
    for (u32 k = 0; k < V; ++k) {
      const u32 p = QUOR_NAME(Primes)[k];
      const u32 dinv = inv_Dom(u32(mpz_fdiv_ui(D, p)), p);
      for (u32 j = 0; j < nt; ++j) {
        mpz_set_str(n, num[j].c_str(), 10);
        rows[k][j] = mul_mod<u32>(u32(mpz_fdiv_ui(n, p)), dinv, p);
      }
    }
    return rows;
  };
  std::vector<INT> coefs(nt);
  INT extra, M;
  bool complete = false;
  u32 offset = 0, total = 0;
  for (u32 b : {8u, 8u, 16u, 32u, 64u}) {
    block(b, offset);
    auto rows = residues(b);
    std::vector<u32*> rp(b);
    for (u32 k = 0; k < b; ++k) rp[k] = rows[k].data();
    if (offset == 0) {
      complete = QUOR_NAME(primpart)(&extra, coefs.data(), rp.data(), nt);
      M = QUOR_NAME(copy_INT)(QUOR_NAME(product_of_primes));
    } else {
      INT P = QUOR_NAME(product_of_primes);
      INT E_old = QUOR_NAME(mult_INT)(P, QUOR_NAME(inv_mod_INT)(P, M));
      INT E_new = QUOR_NAME(mult_INT)(M, QUOR_NAME(inv_mod_INT)(M, P));
      M = QUOR_NAME(mult_INT)(M, P);
      complete = QUOR_NAME(primpart_upgrade)(&extra, coefs.data(), rp.data(), nt, M,
                                             QUOR_NAME(compute_bound_size)(M), E_old, E_new);
    }
    total += b;
    offset += b;
    if (!complete) {
      // Still open: every coefficient holds its Chinese value modulo M.
      for (u32 j = 0; j < nt; ++j)
        for (u32 k = 0; k < b; ++k) ASSERT_EQ(QUOR_NAME(INT_to_Dom)(coefs[j], QUOR_NAME(Primes)[k]), rows[k][j]);
      continue;
    }
    break;
  }
  ASSERT_TRUE(complete);
  // 700-bit numerators over a 700-bit denominator need about 1400 bits.
  EXPECT_GE(total, 48u);
  // The numerators share no common factor with D here only by chance:
  // compare the primitive forms.
  mpz_t g;
  mpz_init_set_ui(g, 0);
  for (const std::string& s : num) {
    mpz_set_str(n, s.c_str(), 10);
    mpz_gcd(g, g, n);
  }
  mpz_gcd(g, g, D);
  for (u32 j = 0; j < nt; ++j) {
    mpz_set_str(n, num[j].c_str(), 10);
    mpz_divexact(t, n, g);
    EXPECT_EQ(mpz_cmp(&coefs[j], t), 0) << "term " << j;
  }
  mpz_divexact(t, D, g);
  EXPECT_EQ(mpz_cmp(&extra, t), 0);
  gmp_randclear(st);
  mpz_clear(D);
  mpz_clear(n);
  mpz_clear(t);
  mpz_clear(g);
}

#endif

QUOR_TEST_END

// Residue coefficients, multi-precision integers, reconstruction and the
// integer build's multi-modular kernels (wrapping cells, grouped AXPY).
#include "tests/dual_test.h"

#include <gmp.h>
#include <gmpxx.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/bigint.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/elim_kernels.h"
#include "engine/reconstruct.h"
#include "host/C/host_services.h"
#include "tests/support/fatal_exit.h"

#ifndef QUOR_TEST_COEFFS_COMMON
#define QUOR_TEST_COEFFS_COMMON
namespace quor_coeffs_test {
// Deterministic Miller-Rabin for 32-bit numbers.
inline bool is_prime32(quor::u64 n) {
  if (n < 2) return false;
  for (quor::u64 p : {2, 3, 5, 7, 11, 13}) {
    if (n % p == 0) return n == p;
  }
  quor::u64 d = n - 1;
  int s = 0;
  while ((d & 1) == 0) { d >>= 1; ++s; }
  for (quor::u64 a : {2, 7, 61}) {
    quor::u64 x = quor::pow_mod<quor::u64>(a, d, quor::u32(n));
    if (x == 1 || x == n - 1) continue;
    bool comp = true;
    for (int r = 1; r < s && comp; ++r) {
      x = (x * x) % n;
      if (x == n - 1) comp = false;
    }
    if (comp) return false;
  }
  return true;
}
}  // namespace quor_coeffs_test
#endif

QUOR_TEST_BEGIN

using quor_test::FatalExit;
#if QUOR_INT
inline long si(INT v) { return mpz_get_si(&v); }
// The fatal path gave GMP back to the host: integer work goes on in the zone.
inline void reenter() { QUOR_NAME(enter_INT)(); }
#else
inline void reenter() {}
#endif

class QUOR_SUITE(Coeffs) : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_reset_memory(0);
    zone_init_tables();
    if (zone_memory_allocated < (1u << 16)) zone_memory_allocated = 1u << 16;
    Quor_verb_info = 0;
    QUOR_NAME(want_raw_output) = 0;
    previous_hook_ = set_process_exit_hook(quor_test::throw_on_exit);
#if QUOR_INT
    mp_get_memory_functions(&host_alloc_, &host_realloc_, &host_free_);
    QUOR_NAME(enter_INT)();
    offset_primes = 0;
    QUOR_NAME(vectorize) = QUOR_NAME(maxi_vectorize) = 5;
    QUOR_NAME(swap_zone3)();
    init_Dom();
    QUOR_NAME(swap_zone3)();
#else
    set_field_prime(65521);
#endif
  }
  void TearDown() override {
#if QUOR_INT
    QUOR_NAME(exit_INT)();
#endif
    set_process_exit_hook(previous_hook_);
    zone_reset_memory(0);
    Quor_verb_info = 0;
  }
#if QUOR_INT
  // A new block of primes of the given size at the given offset.
  void block(u32 size, u32 offset) {
    offset_primes = offset;
    QUOR_NAME(vectorize) = QUOR_NAME(maxi_vectorize) = size;
    QUOR_NAME(swap_zone3)();
    init_Dom();
    QUOR_NAME(re_init_Chineese_INT)();
    QUOR_NAME(swap_zone3)();
  }
  // Runs f with the host's GMP allocator in place.
  template <class F>
  void as_host(F f) {
    void* (*a)(size_t); void* (*r)(void*, size_t, size_t); void (*fr)(void*, size_t);
    mp_get_memory_functions(&a, &r, &fr);
    mp_set_memory_functions(host_alloc_, host_realloc_, host_free_);
    f();
    mp_set_memory_functions(a, r, fr);
  }
  void* (*host_alloc_)(size_t) = nullptr;
  void* (*host_realloc_)(void*, size_t, size_t) = nullptr;
  void (*host_free_)(void*, size_t) = nullptr;
#endif
  ProcessExitHook previous_hook_ = nullptr;
};

// Runs stmt, which must end in the fatal channel; returns the exit status.
#define EXPECT_FATAL(stmt)                      \
  do {                                          \
    bool fatal_seen = false;                    \
    try {                                       \
      stmt;                                     \
    } catch (const FatalExit& e) {              \
      fatal_seen = true;                        \
      EXPECT_EQ(e.status, 1);                   \
    }                                           \
    reenter();                                  \
    EXPECT_TRUE(fatal_seen) << #stmt;           \
  } while (0)

QTEST_F(Coeffs, ResidueArithmeticAndInverses) {
  std::mt19937_64 rng(7);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    const u32 p = QUOR_NAME(Primes)[k];
    EXPECT_EQ(inv_Dom(1, p), 1u);
    EXPECT_EQ(inv_Dom(p - 1, p), p - 1);
    for (int i = 0; i < 2000; ++i) {
      const Dom a = Dom(rng() % p), b = Dom(rng() % p);
      using W = unsigned __int128;
      EXPECT_EQ(u64(add_mod<Dom>(a, b, p)), u64((W(a) + b) % p));
      EXPECT_EQ(u64(sub_mod<Dom>(a, b, p)), u64((W(a) + p - b) % p));
      EXPECT_EQ(u64(mul_mod<Dom>(a, b, p)), u64((W(a) * b) % p));
      EXPECT_EQ(u64(neg_mod<Dom>(a, p)), u64((W(p) - a) % p));
      if (a != 0) {
        ASSERT_EQ(u64((W(inv_Dom(a, p)) * a) % p), 1u) << a << " mod " << p;
      }
    }
  }
  EXPECT_FATAL(inv_Dom(0, QUOR_NAME(Primes)[0]));
  std::vector<u32> v(QUOR_NAME(vectorize), 0);
  EXPECT_FATAL(QUOR_NAME(vect_inv)(v.data()));
  QUOR_NAME(vect_set_one)(v.data());
  QUOR_NAME(vect_inv)(v.data());
  for (u32 c : v) EXPECT_EQ(c, 1u);
}

// Every slot is normalised on its own: a slot that is already monic does not
// stop the normalisation of the slots after it.
QTEST_F(Coeffs, MonicNormalisesEverySlot) {
  const u32 V = QUOR_NAME(vectorize);
  const u32* primes = QUOR_NAME(Primes);
  std::vector<std::vector<Dom>> slots(V);
  std::vector<Dom*> ptrs(V);
  std::vector<std::vector<Dom>> before(V);
  for (u32 k = 0; k < V; ++k) {
    const u32 p = primes[k];
    const Dom lead = k == 0 ? 1 : (k == 1 ? Dom(p - 1) : Dom(1234 + k));
    slots[k] = {lead, Dom(5), Dom(0), Dom(p - 7)};
    before[k] = slots[k];
    ptrs[k] = slots[k].data();
  }
  monic_all_slots(ptrs.data(), V, 4, primes);
  for (u32 k = 0; k < V; ++k) {
    const u32 p = primes[k];
    EXPECT_EQ(slots[k][0], 1u) << "slot " << k;
    const Dom inv = Dom(inv_Dom(before[k][0], p));
    for (u32 j = 0; j < 4; ++j) EXPECT_EQ(slots[k][j], mul_mod<Dom>(before[k][j], inv, p));
  }
  Dom zero[2] = {0, 3};
  EXPECT_FATAL(monic_residues(zero, 2, primes[0]));
}

#if QUOR_INT

QTEST_F(Coeffs, DefaultPrimeTable) {
  const u32* t = default_primes32();
  EXPECT_EQ(t[0], 4294075199u);
  EXPECT_EQ(t[kDefaultPrimesCount - 1], 4294967291u);
  for (u32 i = 1; i < kDefaultPrimesCount; ++i) ASSERT_LT(t[i - 1], t[i]);
  // Exactly the largest primes: every prime of the range is in the table.
  u32 count = 0;
  for (u64 n = t[0]; n < (u64(1) << 32); n += 2) count += quor_coeffs_test::is_prime32(n);
  EXPECT_EQ(count, kDefaultPrimesCount);
}

QTEST_F(Coeffs, BlockChoiceIsDeterministic) {
  const u32 top[5] = {4294967189u, 4294967197u, 4294967231u, 4294967279u, 4294967291u};
  for (u32 k = 0; k < 5; ++k) {
    EXPECT_EQ(QUOR_NAME(Primes)[k], top[k]);
    EXPECT_EQ(Primes_ori[k], top[k]);
    const u32 p = top[k];
    EXPECT_EQ(modulo6[k], u32(1000000 % p));
    EXPECT_EQ(modulo32[k], u32((u64(1) << 32) % p));
  }
  const long r1 = random();
  block(5, 39995);
  EXPECT_EQ(QUOR_NAME(Primes)[0], 4294075199u);
  EXPECT_EQ(random(), r1);  // every block restarts the same stream
  // Consecutive passes take disjoint blocks further down.
  block(3, 0);
  std::vector<u32> first(QUOR_NAME(Primes), QUOR_NAME(Primes) + 3);
  block(4, 3);
  for (u32 k = 0; k < 4; ++k) EXPECT_LT(QUOR_NAME(Primes)[k], first[0]);
  offset_primes = 39996;
  QUOR_NAME(vectorize) = 5;
  EXPECT_FATAL(init_Dom());
  offset_primes = 0;
  QUOR_NAME(vectorize) = 6;
  EXPECT_FATAL(init_Dom());
}

QTEST_F(Coeffs, DecimalTextToResidues) {
  const char* text = "123456789012345678901234567890123456789";
  std::vector<u32> res(QUOR_NAME(vectorize));
  String_to_Dom_length(text, res.data(), 0);
  mpz_t ref;
  mpz_init_set_str(ref, text, 10);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    EXPECT_EQ(res[k], u32(mpz_fdiv_ui(ref, QUOR_NAME(Primes)[k])));
  INT m1 = QUOR_NAME(cINT_I32)(-1);
  EXPECT_EQ(QUOR_NAME(INT_to_Dom)(m1, 7), 6u);
  EXPECT_FATAL(String_Float_to_Dom_length("1.5", res.data(), 3));
}

QTEST_F(Coeffs, TransferFormat) {
  u32 out[4];
  QUOR_NAME(export_INT)(out, QUOR_NAME(cINT_I32)(0), 4);
  EXPECT_EQ(std::vector<u32>(out, out + 4), (std::vector<u32>{1, 0, 0, 0}));
  QUOR_NAME(export_INT)(out, QUOR_NAME(cINT_I32)(-1), 4);
  EXPECT_EQ(std::vector<u32>(out, out + 4), (std::vector<u32>{0xFFFFFFFFu, 1, 0, 0}));
  INT big = QUOR_NAME(cINT_I32)(1);
  mpz_mul_2exp(&big, &big, 32);
  QUOR_NAME(export_INT)(out, big, 4);
  EXPECT_EQ(std::vector<u32>(out, out + 4), (std::vector<u32>{1, 0, 1, 0}));
  const u32 neg5[3] = {0xFFFFFFFEu, 5, 0};
  EXPECT_EQ(si(QUOR_NAME(import_INT)(neg5, 3)), -5);
  const u32 pos5[2] = {0, 5};
  EXPECT_EQ(si(QUOR_NAME(import_INT)(pos5, 2)), 5);
  EXPECT_TRUE(QUOR_NAME(is_zero_INT)(QUOR_NAME(import_INT)(pos5, 1)));

  // Round trips: any sign, several words, padded to a common length.
  gmp_randstate_t st;
  gmp_randinit_default(st);
  gmp_randseed_ui(st, 11);
  for (int i = 0; i < 50; ++i) {
    INT v = QUOR_NAME(cINT_I32)(0);
    mpz_urandomb(&v, st, 1 + 37 * i);
    if (i % 3 == 1) mpz_neg(&v, &v);
    const u32 len = QUOR_NAME(Relative_GetLSize_Int)(v) + 1 + u32(i % 4);
    std::vector<u32> buf(len, 0xDEADBEEFu);
    QUOR_NAME(export_INT)(buf.data(), v, len);
    EXPECT_EQ(buf[0], mpz_sgn(&v) < 0 ? 0xFFFFFFFFu : 1u);
    EXPECT_EQ(QUOR_NAME(compare_INT)(QUOR_NAME(import_INT)(buf.data(), len), v), 0) << i;
  }
  gmp_randclear(st);
  // A buffer too short is refused, never overrun.
  std::vector<u32> small(3, 0xABCDu);
  std::vector<u32> guard_copy = small;
  EXPECT_FATAL(QUOR_NAME(export_INT)(small.data(), big, 2));
  EXPECT_EQ(small, guard_copy);
}

// Relocation after a restore: the copies take exactly the room of their
// limbs (a zero none), so survivors moved later are never overwritten.
QTEST_F(Coeffs, RelocationAfterRestoreWithExactSizes) {
  QUOR_NAME(alloc64)(8);  // zone 1 has a current block
  for (int order = 0; order < 2; ++order) {
    GC_state mark;
    QUOR_NAME(save_GC_state)(&mark);
    INT lazy_zero;
    mpz_init(&lazy_zero);  // no limbs at all
    // big's limbs start at the mark, small's right after them: a copy of
    // the zero that took any room would push big's copy onto small.
    INT big;
    mpz_init2(&big, 320);
    mpz_setbit(&big, 300);  // exactly the five limbs it owns
    mpz_setbit(&big, 7);
    INT small = QUOR_NAME(cINT_I32)(-77);
    INT used_zero = QUOR_NAME(sub_INT)(big, big);  // a zero that owns limbs
    mpz_t ref;  // made with the host's allocator
    as_host([&] { mpz_init_set(ref, &big); });
    const mp_limb_t* big_orig = big._mp_d;
    const char* small_orig_end = reinterpret_cast<const char*>(small._mp_d + 1);
    QUOR_NAME(restore_GC_state)(&mark);
    if (order == 0) {
      // the zero first, as if its limb address were the lowest
      in_place_copy_INT(&lazy_zero);
      in_place_copy_INT(&big);
    } else {
      QUOR_NAME(glisser_INT2)(&big, &lazy_zero);
    }
    INT row[2] = {small, used_zero};
    glisser_INTs(row, 2);
    EXPECT_TRUE(QUOR_NAME(is_zero_INT)(lazy_zero));
    EXPECT_TRUE(QUOR_NAME(is_zero_INT)(row[1]));
    EXPECT_EQ(mpz_get_si(&row[0]), -77);
    EXPECT_EQ(mpz_cmp(&big, ref), 0);
    // Every copy moved down, and all of them end before the last original.
    EXPECT_LE(big._mp_d, big_orig);
    EXPECT_LE(bignum_tas, small_orig_end);
    EXPECT_LE(reinterpret_cast<char*>(row[0]._mp_d), small_orig_end - 8);
    // The relocated values stay usable by GMP.
    lazy_zero = QUOR_NAME(add_INT_d)(lazy_zero, QUOR_NAME(cINT_I32)(9));
    EXPECT_EQ(mpz_get_si(&lazy_zero), 9);
    as_host([&] { mpz_clear(ref); });
  }
}

QTEST_F(Coeffs, FatalWithLibraryAllocatorGivesHostsBack) {
  ASSERT_TRUE(gmp_alloc_switched());
  bool fatal_seen = false;
  try {
    QUOR_NAME(safe_exit_INT)();
  } catch (const FatalExit&) {
    fatal_seen = true;
  }
  EXPECT_TRUE(fatal_seen);
  void* (*a)(size_t); void* (*r)(void*, size_t, size_t); void (*f)(void*, size_t);
  mp_get_memory_functions(&a, &r, &f);
  EXPECT_EQ(a, host_alloc_);
  EXPECT_EQ(r, host_realloc_);
  EXPECT_EQ(f, host_free_);
  EXPECT_FALSE(gmp_alloc_switched());
  QUOR_NAME(enter_INT)();
}

// A zone failure inside GMP's own frames ends the process: it never unwinds
// through GMP.
QTEST_F(Coeffs, ZoneFailureInsideGmpDoesNotUnwind) {
  set_process_exit_hook(nullptr);
  EXPECT_EXIT(
      {
        INT one = QUOR_NAME(cINT_I32)(1);
        mpz_mul_2exp(&one, &one, u64(1) << 35);
      },
      ::testing::ExitedWithCode(1), "Not enough memory");
  set_process_exit_hook(quor_test::throw_on_exit);
}

QTEST_F(Coeffs, ReconstructionEdgeCases) {
  INT P = QUOR_NAME(cINT_I32)(10403), B = QUOR_NAME(cINT_I32)(7);
  struct { i32 x, num, den; int ok; } cases[] = {
      {3468, 1, 3, 1}, {6935, -1, 3, 1}, {5, 5, 1, 1}, {10402, -1, 1, 1}, {101 * 50, 0, 1, 0}};
  QUOR_NAME(want_quiet) = 1;
  for (auto c : cases) {
    INT num, den;
    EXPECT_EQ(internal_lift_INT(QUOR_NAME(cINT_I32)(c.x), P, B, &num, &den), c.ok) << c.x;
    EXPECT_EQ(mpz_get_si(&num), c.num) << c.x;
    EXPECT_EQ(mpz_get_si(&den), c.den) << c.x;
  }
  QUOR_NAME(want_quiet) = 0;
  EXPECT_EQ(si(QUOR_NAME(inv_mod_INT)(QUOR_NAME(cINT_I32)(1), QUOR_NAME(cINT_I32)(10))), 1);
  EXPECT_EQ(si(QUOR_NAME(inv_mod_INT)(QUOR_NAME(cINT_I32)(3), QUOR_NAME(cINT_I32)(10))), 7);
  EXPECT_FATAL(QUOR_NAME(inv_mod_INT)(QUOR_NAME(cINT_I32)(4), QUOR_NAME(cINT_I32)(10)));
  const u32 small[2] = {3, 5}, res[2] = {1, 2};
  INT* tree = init_Chinese_cstes(small, 2);
  INT x = Chinese_INT(res, tree, 2);
  EXPECT_EQ(mpz_fdiv_ui(&x, 15), 7u);
  INT M = QUOR_NAME(cINT_I32)(1);
  mpz_mul_2exp(&M, &M, 64 * 4 + 1);  // 5 limbs
  EXPECT_EQ(QUOR_NAME(compute_bound_size)(M), 2u);
  mpz_fdiv_q_2exp(&M, &M, 64);  // 4 limbs
  EXPECT_FATAL(QUOR_NAME(compute_bound_size)(M));
  // With the block's constants: one prime p gives B = isqrt(p / 2).
  block(1, 0);
  mpz_t b;
  mpz_init_set_ui(b, QUOR_NAME(Primes)[0] / 2);
  mpz_sqrt(b, b);
  EXPECT_EQ(mpz_cmp(&QUOR_NAME(maxi_INT), b), 0);
}

namespace {
// Residue arrays rows[k][j] of the rational values num[j]/den[j] for the
// current block of primes.
std::vector<std::vector<u32>> residues_of(const std::vector<std::pair<std::string, std::string>>& vals) {
  const u32 V = QUOR_NAME(vectorize);
  std::vector<std::vector<u32>> rows(V, std::vector<u32>(vals.size()));
  mpz_t n, d;
  mpz_init(n);
  mpz_init(d);
  for (u32 j = 0; j < vals.size(); ++j) {
    mpz_set_str(n, vals[j].first.c_str(), 10);
    mpz_set_str(d, vals[j].second.c_str(), 10);
    for (u32 k = 0; k < V; ++k) {
      const u32 p = QUOR_NAME(Primes)[k];
      const u32 rn = u32(mpz_fdiv_ui(n, p)), rd = u32(mpz_fdiv_ui(d, p));
      rows[k][j] = mul_mod<u32>(rn, inv_Dom(rd, p), p);
    }
  }
  return rows;
}
}  // namespace

// Rebuilds the values over growing blocks of primes (block: the fixture's
// block()) until complete; until then every coefficient holds its Chinese
// value modulo the primes so far. The number of primes used (0: never complete).
template <class Block>
u32 rebuild_over_blocks(Block block, const std::vector<std::pair<std::string, std::string>>& vals,
                        std::initializer_list<u32> blocks, std::vector<INT>& coefs, INT& extra) {
  const u32 nt = u32(vals.size());
  INT M;
  u32 offset = 0;
  for (u32 b : blocks) {
    block(b, offset);
    auto rows = residues_of(vals);
    std::vector<u32*> rp(b);
    for (u32 k = 0; k < b; ++k) rp[k] = rows[k].data();
    bool complete;
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
    offset += b;
    if (complete) return offset;
    u32 wrong = 0;
    for (u32 j = 0; j < nt; ++j)
      for (u32 k = 0; k < b; ++k) wrong += QUOR_NAME(INT_to_Dom)(coefs[j], QUOR_NAME(Primes)[k]) != rows[k][j];
    EXPECT_EQ(wrong, 0u) << "after " << offset << " primes";
  }
  return 0;
}

// The primitive form of the fractions num/den: coefs[j] = num_j * L / den_j
// with L the lcm of the denominators (extra, when given).
::testing::AssertionResult is_primitive_form(const std::vector<std::pair<std::string, std::string>>& vals,
                                             const std::vector<INT>& coefs, const INT* extra) {
  mpz_class L = 1;
  for (auto& v : vals) L = lcm(L, mpz_class(v.second));
  if (extra && mpz_cmp(extra, L.get_mpz_t()) != 0) return ::testing::AssertionFailure() << "lcm " << L.get_str();
  for (std::size_t j = 0; j < vals.size(); ++j) {
    const mpz_class want = L / mpz_class(vals[j].second) * mpz_class(vals[j].first);
    if (mpz_cmp(&coefs[j], want.get_mpz_t()) != 0) return ::testing::AssertionFailure() << "term " << j;
  }
  return ::testing::AssertionSuccess();
}

// Random rationals (big numerators and denominators, some numerators
// divisible by primes of the first block) rebuilt pass after pass over
// growing blocks of primes; the result is the primitive integer multiple.
QTEST_F(Coeffs, RationalsRebuiltOverGrowingBlocks) {
  QUOR_NAME(want_quiet) = 1;
  gmp_randstate_t st;
  gmp_randinit_default(st);
  gmp_randseed_ui(st, 5);
  const u32 p0 = default_primes32()[kDefaultPrimesCount - 2];
  const u32 p1 = default_primes32()[kDefaultPrimesCount - 1];
  std::vector<std::pair<std::string, std::string>> vals = {{"1", "1"}};
  mpz_t n, d;
  mpz_init(n);
  mpz_init(d);
  for (int i = 0; i < 6; ++i) {
    mpz_urandomb(n, st, 20 + 30 * i);
    mpz_urandomb(d, st, 10 + 25 * i);
    mpz_add_ui(d, d, 1);
    if (i % 2) mpz_neg(n, n);
    if (i == 2) mpz_mul_ui(n, n, p0);
    if (i == 3) { mpz_set_ui(n, p0); mpz_mul_ui(n, n, p1); mpz_mul_ui(n, n, 3); mpz_set_ui(d, 1); }
    // Kept in lowest terms: the expected lcm is over reduced denominators.
    mpz_t g;
    mpz_init(g);
    mpz_gcd(g, n, d);
    mpz_divexact(n, n, g);
    mpz_divexact(d, d, g);
    vals.push_back({mpz_get_str(nullptr, 10, n), mpz_get_str(nullptr, 10, d)});
  }
  const u32 nt = u32(vals.size());
  std::vector<INT> coefs(nt);
  INT extra;
  // The big values cannot come from the first block.
  ASSERT_GT(rebuild_over_blocks([&](u32 b, u32 o) { block(b, o); }, vals, {3, 8, 16, 32, 64}, coefs, extra), 3u);
  EXPECT_TRUE(is_primitive_form(vals, coefs, &extra));
  gmp_randclear(st);
  QUOR_NAME(want_quiet) = 0;
}

// Coefficients over one big common denominator, as in a monic basis
// element: rebuilt pass after pass, and the primitive form comes back with
// the denominator as its leading coefficient.
QTEST_F(Coeffs, SharedDenominatorsRebuildToThePrimitiveForm) {
  QUOR_NAME(want_quiet) = 1;
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
  std::vector<std::pair<std::string, std::string>> vals;
  for (const std::string& x : num) vals.push_back({x, num[0]});
  std::vector<INT> coefs(nt);
  INT extra;
  // 700-bit numerators over a 700-bit denominator need about 1400 bits.
  EXPECT_GE(rebuild_over_blocks([&](u32 b, u32 o) { block(b, o); }, vals, {8, 8, 16, 32, 64}, coefs, extra), 48u);
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
  QUOR_NAME(want_quiet) = 0;
}

// Passes that only combine the residues (no reconstruction attempted) and a
// last pass that reconstructs: the same values as reconstructing every pass.
QTEST_F(Coeffs, CombinedPassesThenOneReconstruction) {
  QUOR_NAME(want_quiet) = 1;
  const std::vector<std::pair<std::string, std::string>> vals = {
      {"123456789012345678901234567890123456789", "98765432109876543210987654321"},
      {"-5", "98765432109876543210987654321"},
      {"0", "1"},
      {"340282366920938463463374607431768211457", "7"}};
  const u32 nt = u32(vals.size());
  std::vector<INT> coefs(nt);
  INT M;
  u32 offset = 0;
  for (u32 b : {2u, 4u, 8u, 16u}) {
    block(b, offset);
    auto rows = residues_of(vals);
    std::vector<u32*> rp(b);
    for (u32 k = 0; k < b; ++k) rp[k] = rows[k].data();
    if (offset == 0) {
      EXPECT_EQ(QUOR_NAME(primpart)(nullptr, coefs.data(), rp.data(), nt), 0);
      M = QUOR_NAME(copy_INT)(QUOR_NAME(product_of_primes));
    } else {
      INT P = QUOR_NAME(product_of_primes);
      INT E_old = QUOR_NAME(mult_INT)(P, QUOR_NAME(inv_mod_INT)(P, M));
      INT E_new = QUOR_NAME(mult_INT)(M, QUOR_NAME(inv_mod_INT)(M, P));
      M = QUOR_NAME(mult_INT)(M, P);
      if (b != 16) {
        combine_upgrade(coefs.data(), rp.data(), nt, M, E_new);
      } else {
        EXPECT_EQ(QUOR_NAME(primpart_upgrade)(nullptr, coefs.data(), rp.data(), nt, M,
                                              QUOR_NAME(compute_bound_size)(M), E_old, E_new), 1);
      }
    }
    offset += b;
    if (b == 16 || offset == b) continue;  // the first pass keeps unreduced Chinese values
    for (u32 j = 0; j < nt; ++j) {
      EXPECT_LT(mpz_cmp(&coefs[j], &M), 0);
      for (u32 k = 0; k < b; ++k) EXPECT_EQ(QUOR_NAME(INT_to_Dom)(coefs[j], QUOR_NAME(Primes)[k]), rows[k][j]);
    }
  }
  EXPECT_TRUE(is_primitive_form(vals, coefs, nullptr));
  QUOR_NAME(want_quiet) = 0;
}

// Several polynomials combined at once over a modulus large enough for the
// team: each value keeps its old residue modulo the old modulus, takes the
// new block's residues, and lies in [0, M).
QTEST_F(Coeffs, CombiningManyPolynomialsOnATeam) {
  QUOR_NAME(want_quiet) = 1;
  std::mt19937_64 rng(11);
  const auto random_value = [&](u32 bits) {
    std::string v = "1";
    while (v.size() * 3 < bits) v += char('0' + rng() % 10);
    return v;
  };
  std::vector<std::vector<std::pair<std::string, std::string>>> polys(3);
  for (u32 i = 0; i < 3; ++i)
    for (u32 j = 0; j < 5 + i; ++j) polys[i].push_back({random_value(9000), random_value(9000)});
  // First block: the Chinese values alone (the values need more primes).
  block(300, 0);
  INT M = QUOR_NAME(copy_INT)(QUOR_NAME(product_of_primes));
  std::vector<std::vector<INT>> coefs(3);
  for (u32 i = 0; i < 3; ++i) {
    auto rows = residues_of(polys[i]);
    std::vector<u32*> rp;
    for (auto& r : rows) rp.push_back(r.data());
    coefs[i].resize(polys[i].size());
    ASSERT_EQ(QUOR_NAME(primpart)(nullptr, coefs[i].data(), rp.data(), u32(polys[i].size())), 0);
  }
  std::vector<std::vector<INT>> old = coefs;
  const INT Mold = M;
  block(300, 300);
  INT P = QUOR_NAME(product_of_primes);
  INT E_new = QUOR_NAME(mult_INT)(M, QUOR_NAME(inv_mod_INT)(M, P));
  M = QUOR_NAME(mult_INT)(M, P);
  ASSERT_GE(u64(std::abs(M._mp_size)), kTeamCombineLimbs);
  std::vector<std::vector<std::vector<u32>>> rows(3);
  std::vector<std::vector<u32*>> rp(3);
  std::vector<UpgradeJob> jobs;
  for (u32 i = 0; i < 3; ++i) {
    rows[i] = residues_of(polys[i]);
    for (auto& r : rows[i]) rp[i].push_back(r.data());
    jobs.push_back({coefs[i].data(), rp[i].data(), u32(polys[i].size())});
  }
  combine_upgrade_many(jobs, M, E_new);
  mpz_class a, b;
  for (u32 i = 0; i < 3; ++i)
    for (u32 j = 0; j < polys[i].size(); ++j) {
      EXPECT_GE(mpz_sgn(&coefs[i][j]), 0);
      EXPECT_LT(mpz_cmp(&coefs[i][j], &M), 0);
      mpz_fdiv_r(a.get_mpz_t(), &coefs[i][j], &Mold);
      mpz_fdiv_r(b.get_mpz_t(), &old[i][j], &Mold);
      EXPECT_TRUE(a == b) << i << " " << j;
      for (u32 k = 0; k < 300; ++k)
        ASSERT_EQ(QUOR_NAME(INT_to_Dom)(coefs[i][j], QUOR_NAME(Primes)[k]), rows[i][k][j]) << i << " " << j;
    }
  QUOR_NAME(want_quiet) = 0;
}

// A numerator divisible by the block primes is "not yet reconstructed"
// (never a fatal error, never a wrong 0), and a unit polynomial is complete.
QTEST_F(Coeffs, PrimitivePartsSmallCases) {
  block(2, 0);
  const u32 p0 = QUOR_NAME(Primes)[0], p1 = QUOR_NAME(Primes)[1];
  u32 one0 = 1, one1 = 1;
  u32* ones[2] = {&one0, &one1};
  INT c[1], extra;
  EXPECT_EQ(QUOR_NAME(primpart)(&extra, c, ones, 1), 1);
  EXPECT_TRUE(QUOR_NAME(is_one_INT)(c[0]));
  EXPECT_TRUE(QUOR_NAME(is_one_INT)(extra));
  EXPECT_EQ(QUOR_NAME(primpart)(&extra, c, ones, 0), 1);
  // Value 3*p0 (coprime with nothing of the block but p0) and 5*p0*p1 = 0 mod P.
  u32 r0[2] = {1, 0}, r1[2] = {1, u32((u64(3) * p0) % p1)};
  u32* rows[2] = {r0, r1};
  INT c2[2];
  QUOR_NAME(want_quiet) = 1;
  EXPECT_EQ(QUOR_NAME(primpart)(&extra, c2, rows, 2), 0);
  EXPECT_EQ(QUOR_NAME(INT_to_Dom)(c2[1], p1), r1[1]);
  EXPECT_EQ(QUOR_NAME(INT_to_Dom)(c2[1], p0), 0u);
  // q1*q2*q3*q4 over the block q0..q4: the remainders reach 0 while the
  // cofactor q0 is under the bound.  The value lies beyond the bound: it is
  // "not yet reconstructed", never 0.
  block(5, 0);
  const u32* q = QUOR_NAME(Primes);
  u64 prod = 1;
  for (int k = 1; k < 5; ++k) prod = (prod * (q[k] % q[0])) % q[0];
  const u32 res[5] = {u32(prod), 0, 0, 0, 0};
  INT out[2];
  EXPECT_EQ(QUOR_NAME(lift_one_INT)(res, out), 0);
  EXPECT_TRUE(QUOR_NAME(is_zero_INT)(out[0]));
  EXPECT_TRUE(QUOR_NAME(is_one_INT)(out[1]));
  QUOR_NAME(want_quiet) = 0;
}

// A value modulo thousands of primes (a modulus beyond what GMP keeps on the
// stack, so its scratch comes from the zones) and no small fraction: the
// Euclidean reconstruction runs tens of thousands of steps, and the zone
// holds a few copies of the modulus, not a scratch per step.
QTEST_F(Coeffs, LongReconstructionKeepsZoneMemoryBounded) {
  const u32 V = 8400;
  block(V, 0);
  std::mt19937_64 rng(11);
  std::vector<u32> res(V);
  for (u32 k = 0; k < V; ++k) res[k] = u32(rng() % QUOR_NAME(Primes)[k]);
  std::vector<u32*> rows(V);
  for (u32 k = 0; k < V; ++k) rows[k] = &res[k];
  const i32 blocks_before = cur_garbages;
  INT c[1], extra;
  QUOR_NAME(want_quiet) = 1;
  EXPECT_EQ(QUOR_NAME(primpart)(&extra, c, rows.data(), 1), 0);
  QUOR_NAME(want_quiet) = 0;
  // Blocks of 64 KB; the modulus is about 33 KB.
  EXPECT_LT(cur_garbages - blocks_before, 32);
  EXPECT_EQ(QUOR_NAME(INT_to_Dom)(c[0], QUOR_NAME(Primes)[V - 1]), res[V - 1]);
}

// ---------------------------------------------------------------- multi-modular kernels

// A cell is only ever congruent to its entry: after any number of products
// (carries included) its residue is the exact sum's.
QTEST_F(Coeffs, WrappingCellsKeepTheResidueOverManyProducts) {
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
QTEST_F(Coeffs, GroupedAxpyMatchesOneSlotAtATime) {
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

#else  // prime-field build

QTEST_F(Coeffs, DecimalTextToResidue) {
  const u32 p = 65521;
  auto conv = [](const char* s) { return u32(complex_String_to_Dom(s, u32(std::strlen(s)), 0)); };
  EXPECT_EQ(conv("123456"), 123456u % p);
  EXPECT_EQ(conv("  -00123"), p - 123);
  EXPECT_EQ(conv("--5"), p - 5);  // two signs do not cancel
  EXPECT_EQ(conv("0"), 0u);
  EXPECT_EQ(conv("-0"), 0u);
  const char* big = "98765432109876543210987654321";
  mpz_t ref;
  mpz_init_set_str(ref, big, 10);
  EXPECT_EQ(conv(big), u32(mpz_fdiv_ui(ref, p)));
  mpz_clear(ref);
  // Only length characters are read; the text is left as it was.
  char text[] = "1234567";
  EXPECT_EQ(u32(complex_String_to_Dom(text, 3, 0)), 123u);
  EXPECT_STREQ(text, "1234567");
}

#endif

QUOR_TEST_END

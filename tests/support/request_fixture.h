// Set-up shared by the core suites of both builds: an open request through
// the public calls, or a bare core state (zone, working primes, monomial
// layout) with helpers that build monomials and catch fatal texts.
#pragma once
#include "core/quor_build.h"

#include <cstring>
#include <string>
#include <vector>

#include "api/request.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/poly.h"
#include "core/zone.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/fatal_exit.h"

QUOR_TEST_BEGIN

using Vec = std::vector<u32>;  // exponents of slots 0 .. n (h last)

using quor_test::fatal_text;

// A new monomial record (hash word first) with these slot exponents.
inline u64* mono(const Vec& v) {
  u64* r = QUOR_NAME(new_Expos)();
  std::memset(r + 1, 0, 8 * size_t(nb_of_blocks_of_variables));
  for (u32 i = 0; i < v.size(); ++i) expos_set_slot(r + 1, i, v[i]);
  r[0] = hash_Expos(r + 1);
  return r;
}
// Slot exponents of the exponent words e.
inline Vec slots(const u64* e) {
  Vec v(nb_of_variables);
  for (u32 i = 0; i < v.size(); ++i) v[i] = expos_slot(e, i);
  return v;
}
// n affine variables, the first k in block 1 (0: one block).
inline void layout(u32 n, u32 k = 0) {
  var_second_block = k;
  set_Expos(n);
}

// Opens a request through the public calls: variables x1 .. x(first+second),
// `int_primes` working primes (integer build) or p = 65521, one thread.
inline void open_request(u32 first, u32 second, i32 record = 0, u32 int_primes = 1) {
  static std::vector<std::string> names;
  static std::vector<char*> ptrs;
  QUOR_NAME(reset_memory)();
  QUOR_NAME(init_urgent)(sizeof(Dom), 2, "DRLDRL", 100000, record);
  QUOR_NAME(init)(1, 1, 0, nullptr);
  QUOR_NAME(internal_threads)(1);
#if QUOR_INT
  QUOR_NAME(reset_coeffs)(int_primes);
#else
  (void)int_primes;
  const UI32 pr[] = {65521};
  QUOR_NAME(reset_coeffs)(1, pr);
#endif
  names.clear();
  ptrs.clear();
  for (u32 i = 1; i <= first + second; ++i) names.push_back("x" + std::to_string(i));
  for (auto& s : names) ptrs.push_back(s.data());
  QUOR_NAME(reset_expos)(first, second, ptrs.data());
  global_nb = 0;
}

// A bare core state for polynomial-level tests: a fresh zone, `slots_`
// working primes (integer build) or p = 65521, x, y, z and h in one word,
// quiet output, the stand-in host as kernel.
class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    zone_reset_memory(0);
    zone_init_tables();
    root_of_Crit = nullptr;
    gen_sym_Dpol = 0;
#if QUOR_INT
    QUOR_NAME(enter_INT)();
    QUOR_NAME(vectorize) = QUOR_NAME(maxi_vectorize) = slots_;
    offset_primes = 0;
    init_Dom();
#else
    set_field_prime(65521);
#endif
    saved_quiet_ = QUOR_NAME(want_quiet);
    QUOR_NAME(want_quiet) = 1;
    layout(3, 0);
  }
  void TearDown() override {
#if QUOR_INT
    QUOR_NAME(exit_INT)();
#endif
    QUOR_NAME(want_quiet) = saved_quiet_;
    want_automatique = 0;
    nb_of_renormed = 0;
    Quor_verb_info = 0;
    root_of_Crit = nullptr;
    zone_reset_memory(0);
    Host_kernel = nullptr;
  }
  quor::standin::Host host_;
  u32 slots_ = 5;
  int saved_quiet_ = 0;
};

QUOR_TEST_END

// The integer build's matrix request on larger katsura systems, against the
// reference answers of the shared directory (skipped when it is absent):
// katsura-8 and katsura-9 in full, their parametrisations in rational form
// (a few hundred primes).
#include "tests/support/zero_dim_refs.h"

QUOR_TEST_BEGIN
using namespace zero_dim_refs;

#if QUOR_INT
QTEST_F(ZeroDimRefs, KatsuraEightAndNineRationalForms) {
  for (const char* name : {"katsura-8", "katsura-9"}) {
    const std::string sys = shared_file(std::string("systems/") + name + ".txt");
    const std::string ref = shared_file(std::string("reference/") + name + ".gf65521.minpoly.txt");
    const std::string gb = shared_file(std::string("reference/") + name + ".gf65521.gb.txt");
    if (!std::filesystem::exists(sys) || !std::filesystem::exists(ref)) GTEST_SKIP() << "no " << sys;
    expect_reference(sys, ref, gb);
  }
}
#endif

QUOR_TEST_END

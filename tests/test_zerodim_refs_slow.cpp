// The integer build's matrix request on larger katsura systems, against the
// reference answers of the shared directory (skipped when it is absent):
// katsura-8 in full (its parametrisations take about 10,000 primes), and the
// minimal polynomial alone of katsura-9, whose parametrisations need more
// primes than the table has.
#include "tests/support/zero_dim_refs.h"

QUOR_TEST_BEGIN
using namespace zero_dim_refs;

#if QUOR_INT
QTEST_F(ZeroDimRefs, KatsuraEightParametrisationAndKatsuraNineMinimalPolynomial) {
  for (const char* name : {"katsura-8", "katsura-9"}) {
    const std::string sys = shared_file(std::string("systems/") + name + ".txt");
    const std::string ref = shared_file(std::string("reference/") + name + ".gf65521.minpoly.txt");
    const std::string gb = shared_file(std::string("reference/") + name + ".gf65521.gb.txt");
    if (!std::filesystem::exists(sys) || !std::filesystem::exists(ref)) GTEST_SKIP() << "no " << sys;
    expect_reference(sys, ref, name == std::string("katsura-8") ? gb : "");
  }
}
#endif

QUOR_TEST_END

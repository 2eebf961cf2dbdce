// Minimal polynomials and parametrisations of the matrix request against
// independent reference answers: cyclic-5 (not in shape position: products
// over the staircase, minimal polynomial of degree 15 for 70 solutions) and
// the katsura systems.  Small systems and answers come from tests/data,
// larger ones from the shared directory (skipped when it is absent).
#include "tests/support/zero_dim_refs.h"

QUOR_TEST_BEGIN
using namespace zero_dim_refs;

QTEST_F(ZeroDimRefs, CyclicFiveMinimalPolynomialAndItsRefusedParametrisation) {
  expect_reference(data_file("cyclic-5.txt"), data_file("cyclic-5.gf65521.minpoly.txt"));
  // 70 solutions, a minimal polynomial of degree 15: no parametrisation.
  const std::string refusal = refused(sf::read_system(data_file("cyclic-5.txt")));
  EXPECT_NE(refusal.find("Not in shape position"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("degree 15 for a quotient of dimension 70"), std::string::npos) << refusal;
}

QTEST_F(ZeroDimRefs, KatsuraSixMinimalPolynomialAndParametrisation) {
  expect_reference(data_file("katsura-6.txt"), data_file("katsura-6.gf65521.minpoly.txt"),
                   data_file("katsura-6.gf65521.gb.txt"));
}

#if !QUOR_INT
// Larger staircases (katsura: 256 and 512; cyclic: 156 and 924, with many
// products over the staircase).  The integer build's rational forms take a
// few hundred primes: the slow reference tests run them.
QTEST_F(ZeroDimRefs, LargerSystemsMinimalPolynomialsAndParametrisations) {
  for (const char* name : {"katsura-8", "katsura-9", "cyclic-6", "cyclic-7"}) {
    const std::string sys = shared_file(std::string("systems/") + name + ".txt");
    const std::string ref = shared_file(std::string("reference/") + name + ".gf65521.minpoly.txt");
    const std::string gb = shared_file(std::string("reference/") + name + ".gf65521.gb.txt");
    if (!std::filesystem::exists(sys) || !std::filesystem::exists(ref)) GTEST_SKIP() << "no " << sys;
    expect_reference(sys, ref, name[0] == 'k' ? gb : "");
  }
}
#endif

QUOR_TEST_END

// The bridge's set-up of the Tesk engine: the switches it leaves, the
// printers' streams, and the primes of each coefficient domain.
#include <gtest/gtest.h>

#include <cstdio>

#include "tesk/algo/bridge_setup.h"
#include "tesk/base/gfc.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using tesk_poly_model::fatal_of;

TEST(TeskBridgeSetup, LeavesTheEngineQuietWithItsPrintersOnStandardOutput) {
    std::FILE* err = std::tmpfile();
    tesk::want_quiet = 0;
    tesk::want_pipe2 = 1;
    Tesk_urgent_init_VGF(stderr, err);
    Tesk_urgent_init_GFC(stderr, err);
    EXPECT_EQ(tesk::want_quiet, 1);
    EXPECT_EQ(tesk::want_pipe, 1);
    EXPECT_EQ(tesk::want_pipe2, 0);
    EXPECT_EQ(tesk::want_fortran, 1);
    EXPECT_EQ(int(tesk::human_user), 0);
    EXPECT_EQ(tesk::tesk_stderr, err);
    EXPECT_EQ(tesk::axiom_output, tesk::log_output);
    EXPECT_EQ(tesk::Fortran.detach(), tesk::log_output);
    EXPECT_EQ(tesk::Posso.detach(), tesk::log_output);
    tesk::tesk_stderr = stderr;
    std::fclose(err);
}

TEST(TeskBridgeSetup, ChoosesTheGivenPrimes) {
    Tesk_urgent_init_VGF(stdout, stderr);
    const std::uint32_t vgf_primes[] = {4294967291u, 4294967279u, 2147483659u};
    Tesk_set_Coeffs_VGF(3, vgf_primes);
    EXPECT_EQ(tesk::want_set_vectorize, 3);
    ASSERT_EQ(tesk::size_of_vectors, 3u);
    for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(tesk::VGF::_prime[i], vgf_primes[i]);
    // Arithmetic follows the new primes: -1 is p_i - 1 in every slot.
    tesk::VGF m = tesk::cVGF(-1);
    for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(m[i], vgf_primes[i] - 1);

    Tesk_urgent_init_GFC(stdout, stderr);
    const std::uint32_t gfc_prime[] = {65521};
    Tesk_set_Coeffs_GFC(1, gfc_prime);
    EXPECT_EQ(tesk::gfc::MAGIC, 65521);
    const std::uint32_t small[] = {32003};
    Tesk_set_Coeffs_GFC(1, small);
    EXPECT_EQ(tesk::gfc::MAGIC, 32003);
    EXPECT_EQ(tesk::gfc::mult(tesk::gfc::inv(7), 7), 1u);
    Tesk_set_Coeffs_GFC(1, gfc_prime);
}

// Each build's first call sets the engine up: the second set-up keeps the
// names the first one made instead of losing them.
TEST(TeskBridgeSetup, BothSetUpsShareTheAdministrativeNames) {
    Tesk_urgent_init_VGF(stdout, stderr);
    char* const job = tesk::job_name;
    char* const host = tesk::host_name;
    Tesk_urgent_init_GFC(stdout, stderr);
    EXPECT_EQ(tesk::job_name, job);
    EXPECT_EQ(tesk::host_name, host);
    EXPECT_STREQ(tesk::job_name, "input");
}

TEST(TeskBridgeSetup, RefusesPrimesItsDomainsCannotUse) {
    Tesk_urgent_init_VGF(stdout, stderr);
    const std::uint32_t low[] = {65521};
    EXPECT_NE(fatal_of([&] { Tesk_set_Coeffs_VGF(1, low); }).find("between 2^31 and 2^32"), std::string::npos);
    EXPECT_FALSE(fatal_of([&] { Tesk_set_Coeffs_VGF(0, low); }).empty());
    const std::uint32_t big[] = {65537};
    EXPECT_FALSE(fatal_of([&] { Tesk_set_Coeffs_GFC(1, big); }).empty());
    const std::uint32_t ok[] = {4294967291u};
    Tesk_set_Coeffs_VGF(1, ok);
    EXPECT_EQ(tesk::VGF::_prime[0], ok[0]);
}

}  // namespace

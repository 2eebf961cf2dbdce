// Test helpers for suites written once and compiled for both builds.
//
// Each tests/test_*.cpp is compiled twice (QUOR_INT=1, QUOR_INT=0) into one
// executable.  Put the tests inside QUOR_TEST_BEGIN / QUOR_TEST_END (the
// build's namespace) and name suites with QTEST / QTEST_F so that the two
// copies register as Suite_Int.* and Suite_Gf.*.  A fixture is declared as
// `class QUOR_SUITE(Name) : public ::testing::Test {...};` and used with
// QTEST_F(Name, test).
#include "core/quor_build.h"
#include <gtest/gtest.h>

#define QUOR_SUITE(name) QUOR_CAT(name##_, QUOR_BUILD_TAG)
#define QTEST(suite, test) TEST(QUOR_SUITE(suite), test)
#define QTEST_F(fixture, test) TEST_F(QUOR_SUITE(fixture), test)
#define QUOR_TEST_BEGIN namespace quor::QUOR_NS::testing_ {
#define QUOR_TEST_END }

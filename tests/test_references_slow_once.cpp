// The larger standard systems against their reference bases, both builds
// (read from the shared directory; skipped when it is absent).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/reference_basis.h"

namespace {

class ReferencesSlow : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferencesSlow, BothBuildsGiveTheReferenceBasis) {
  const std::string shared = QUOR_SHARED_DIR, name = GetParam();
  if (!std::filesystem::exists(shared + "/systems/" + name + ".txt") ||
      !std::filesystem::exists(shared + "/reference/" + name + ".qq.gb.txt"))
    GTEST_SKIP() << name << " is not in " << shared;
  quor::reftest::check_against_references(shared + "/systems", shared + "/reference", name);
}

INSTANTIATE_TEST_SUITE_P(Systems, ReferencesSlow,
                         ::testing::Values("cyclic-7", "katsura-8", "katsura-9", "elim-katsura-8-b2"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace

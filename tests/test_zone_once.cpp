// The part of the zone allocator one copy serves for both builds: the
// carving buffer, the Tesk engine's hooks, the system wrappers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/zone_shared.h"

namespace {

using namespace quor;

TEST(ZoneBothBuilds, ResetAloneForgetsTheCarvingBuffer) {
  auto* a = static_cast<char*>(Quor_malloc(10));
  ASSERT_NE(a, nullptr);
  Quor_malloc_reset();
  EXPECT_EQ(buf_malloc_cur, nullptr);
  EXPECT_EQ(pseudo_share_memory_cur, 0u);
  // A request after the reset takes a fresh buffer, never the freed one.
  const u32 before = Quor_malloc_cur;
  auto* b = static_cast<char*>(Quor_malloc(10));
  std::memset(b, 0, 10);
  EXPECT_EQ(Quor_malloc_cur, before + 1);
  Quor_malloc_reset();
}

TEST(ZoneBothBuilds, TeskOperatorsNeverEndTheProcess) {
  void* p = Tesk_new_operator(100);
  void* q = Tesk_new_tab_operator(0);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(q, nullptr);
  EXPECT_EQ(Tesk_new_operator(-1), nullptr);
  ::testing::internal::CaptureStderr();
  Tesk_delete_operator();
  Tesk_delete_operator();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(err.empty() || err == "NYA Tesk_delete_operator\n") << err;
  std::memset(p, 1, 100);  // still ours until the reset
  Quor_malloc_reset();
}

}  // namespace

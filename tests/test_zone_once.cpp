// The zone allocators of both builds side by side: they share the recorded
// system blocks and the reserved range, so a reset of either ends both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define QUOR_INT 1
#include "core/zone.h"
#undef QUOR_INT
#define QUOR_INT 0
#include "core/zone.h"
#undef QUOR_INT

namespace {

using namespace quor;
namespace zi = quor::quor_int;
namespace zg = quor::quor_gf;

void open_both() {
  zi::zone_reset_memory(0);
  zi::zone_init_tables();
  zg::zone_init_tables();
  zi::zone_memory_allocated = std::max<u32>(zi::zone_memory_allocated, 4096);
  zg::zone_memory_allocated = std::max<u32>(zg::zone_memory_allocated, 4096);
}

TEST(ZoneBothBuilds, AlternateWithoutDisturbingEachOther) {
  for (int round = 0; round < 6; ++round) {
    open_both();
    std::vector<std::pair<unsigned char*, unsigned char>> mine;
    for (int i = 0; i < 30; ++i) {
      auto* a = static_cast<unsigned char*>(zi::Quor_int_alloc64(700 + 13 * i));
      std::memset(a, 0x10 + i, 700 + 13 * i);
      mine.push_back({a, static_cast<unsigned char>(0x10 + i)});
      auto* b = static_cast<unsigned char*>(zg::Quor_alloc64(900 + 7 * i));
      std::memset(b, 0x80 + i, 900 + 7 * i);
      mine.push_back({b, static_cast<unsigned char>(0x80 + i)});
    }
    // Each build's blocks keep increasing although the two interleave.
    for (char** t : {zi::all_garbages, zg::all_garbages})
      for (int k = 1; k < 5; ++k) EXPECT_GT(t[k], t[k - 1]);
    for (int i = 0; i < 30; ++i) {
      const int sz[2] = {700 + 13 * i, 900 + 7 * i};
      for (int w = 0; w < 2; ++w) {
        const auto& [p, tag] = mine[2 * i + w];
        for (int k = 0; k < sz[w]; ++k) ASSERT_EQ(p[k], tag) << round << " " << i;
      }
    }
    // Either build's reset releases both builds' blocks and forgets both zones.
    if (round % 2 == 0)
      zi::zone_reset_memory(0);
    else
      zg::zone_reset_memory(0);
    EXPECT_EQ(zone_space_used(), 0u);
    EXPECT_EQ(Quor_malloc_cur, 0u);
    EXPECT_EQ(zi::all_garbages, nullptr);
    EXPECT_EQ(zg::all_garbages, nullptr);
    EXPECT_EQ(zi::bignum_tas, nullptr);
    EXPECT_EQ(zg::bignum_tas2, nullptr);
    EXPECT_EQ(zi::Quor_int_previous_alloc, nullptr);
    EXPECT_EQ(zg::Quor_previous_alloc, nullptr);
  }
}

TEST(ZoneBothBuilds, ResetAloneForgetsTheCarvingBuffer) {
  open_both();
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
  open_both();
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

TEST(ZoneBothBuilds, SystemWrappers) {
  EXPECT_STREQ(jc_malloc_report(), "use malloc");
  auto* p = static_cast<char*>(zmalloc(16));
  std::memset(p, 3, 16);
  p = static_cast<char*>(zrealloc(p, 4096));
  EXPECT_EQ(p[15], 3);
  zfree(p);
  void* j = jc_malloc(32);
  jc_free(j, 32);
  jc_reset_malloc();
  remap_vector();
}

}  // namespace

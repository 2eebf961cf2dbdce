// The part of the zone allocator one copy serves for both builds: the
// carving buffer, the Tesk engine's hooks, the system wrappers.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
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

// Exactly the range comes back zero, written pages or not, whether it holds
// whole pages (given back to the system) or only parts of them.
TEST(ZoneBothBuilds, ZeroMemoryClearsExactlyItsRange) {
  constexpr std::size_t kBytes = std::size_t(1) << 20;
  for (const bool zone : {false, true}) {
    auto* block = static_cast<unsigned char*>(zone ? static_cast<void*>(zone_space_take(kBytes)) : std::malloc(kBytes));
    ASSERT_NE(block, nullptr);
    for (const auto& [from, n] : {std::pair<std::size_t, std::size_t>{3, kBytes - 10}, {100, 5000}, {0, 0}}) {
      std::memset(block, 0xAB, kBytes);
      zero_memory(block + from, n);
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < kBytes; ++i) wrong += block[i] != (i >= from && i < from + n ? 0 : 0xAB);
      EXPECT_EQ(wrong, 0u) << "from " << from << ", " << n << " bytes, " << (zone ? "zone" : "malloc");
    }
    if (!zone) std::free(block);
  }
  Quor_malloc_reset();
}

// Whether the process runs under a limit of its address space or data.
bool memory_limited() {
  rlimit as{}, data{};
  return (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) ||
         (getrlimit(RLIMIT_DATA, &data) == 0 && data.rlim_cur != RLIM_INFINITY);
}

// The elimination's spare chunks: one given back serves the next request of
// its size or less, the smallest that will do; the reset frees them all.
TEST(ZoneBothBuilds, ScratchChunksServeAgainUntilTheReset) {
  constexpr u64 kMb = u64(1) << 20;
  u64 small = 0, large = 0, again = 0;
  void* a = scratch_chunk_take(kMb, &small);
  void* b = scratch_chunk_take(3 * kMb, &large);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(small, kMb);
  EXPECT_EQ(large, 3 * kMb);
  std::memset(a, 1, kMb);
  std::memset(b, 2, 3 * kMb);
  scratch_chunk_give(b, large);
  scratch_chunk_give(a, small);
  if (memory_limited())
    GTEST_SKIP() << "under a limit of the address space or data no chunk is kept: what is given back goes to "
                    "the system at once, for the host";
  EXPECT_EQ(scratch_chunk_take(kMb / 2, &again), a);
  EXPECT_EQ(again, kMb);
  void* c = scratch_chunk_take(2 * kMb, &again);
  EXPECT_EQ(c, b);
  EXPECT_EQ(again, 3 * kMb);
  scratch_chunk_give(c, again);
  scratch_chunk_give(a, kMb);
  Quor_malloc_reset();
  void* d = scratch_chunk_take(4 * kMb, &again);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(again, 4 * kMb);
  scratch_chunk_give(d, again);
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

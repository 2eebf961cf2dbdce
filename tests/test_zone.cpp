// Zone allocator of one build: bump allocation, block order, marks, swaps,
// slabs, the carving buffer, the large allocations and the refusals.
#include "tests/dual_test.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "core/zone.h"
#include "host/C/host_services.h"

QUOR_TEST_BEGIN

using ::testing::ExitedWithCode;

class QUOR_SUITE(ZoneTest) : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_reset_memory(0);
    zone_init_tables();
    saved_size_ = zone_memory_allocated;
    zone_memory_allocated = 1 << 16;
    Quor_verb_info = 3;  // messages of the error channel on standard error
  }
  void TearDown() override {
    zone_reset_memory(0);
    zone_memory_allocated = std::max(saved_size_, zone_memory_allocated);
    Quor_verb_info = 0;
  }
  static char* bump() { return bignum_tas; }
  u32 saved_size_ = 0;
};

// Raises the fatal message on standard error and exits with status 1.
#define EXPECT_ZONE_FATAL(stmt, text)          \
  EXPECT_EXIT(                                 \
      {                                        \
        NoRaiseRegion quiet_region;            \
        stmt;                                  \
      },                                       \
      ExitedWithCode(1), text)

QTEST_F(ZoneTest, BumpAllocationAndAlignment) {
  char* a = static_cast<char*>(QUOR_NAME(alloc_internal)(10));
  char* b = static_cast<char*>(QUOR_NAME(alloc_internal)(7));
  EXPECT_EQ(b, a + 10);
  EXPECT_EQ(bump(), b + 7);
  for (u64 size : {1u, 8u, 13u, 16u, 100u}) {
    char* before = bump();
    char* p = static_cast<char*>(QUOR_NAME(alloc64)(size));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(bump() - before, i64(size + 16 + (size % 8 ? 4 : 0)));
    EXPECT_GE(p, before);
    EXPECT_LE(p + size, bump());
  }
  EXPECT_EQ(cur_garbages, 1);
}

QTEST_F(ZoneTest, RestoredMarkGivesTheSameAddresses) {
  QUOR_NAME(alloc64)(100);
  GC_state m;
  QUOR_NAME(save_GC_state)(&m);
  std::vector<void*> first;
  for (int i = 0; i < 40; ++i) first.push_back(QUOR_NAME(alloc64)(5000 + 100 * i));
  const i32 blocks = max_garbages;
  EXPECT_GT(blocks, 3);  // the run crossed several blocks

  QUOR_NAME(restore_GC_state)(&m);
  EXPECT_EQ(cur_garbages, m.cur_garbages);
  EXPECT_EQ(bump(), m.bignum_tas);
  EXPECT_EQ(max_garbages, blocks);  // blocks taken after the mark stay as spares
  for (int i = 0; i < 40; ++i) EXPECT_EQ(QUOR_NAME(alloc64)(5000 + 100 * i), first[i]) << i;
  EXPECT_EQ(max_garbages, blocks);
}

QTEST_F(ZoneTest, RestoreDestroyZeroesExactlyItsRange) {
  char* keep = static_cast<char*>(QUOR_NAME(alloc_internal)(64));
  std::memset(keep, 0xCD, 64);
  GC_state m;
  QUOR_NAME(save_GC_state)(&m);
  u64 rest = u64(m.bot_bignum_tas - m.bignum_tas);
  char* tail = static_cast<char*>(QUOR_NAME(alloc_internal)(rest - 1));
  std::memset(tail, 0xAB, rest);  // the tail up to the block end
  // A block taken after the mark (a spare after the restore) keeps its bytes.
  char* other = static_cast<char*>(QUOR_NAME(alloc_internal)(1000));
  std::memset(other, 0xEE, 1000);
  QUOR_NAME(restore_destroy_tesk_state)(&m);
  EXPECT_EQ(bump(), m.bignum_tas);
  for (u64 i = 0; i < rest; ++i) ASSERT_EQ(tail[i], 0) << i;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(static_cast<unsigned char>(keep[i]), 0xCD);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(static_cast<unsigned char>(other[i]), 0xEE);
}

QTEST_F(ZoneTest, BlocksAlwaysIncreaseInAddress) {
  // Zone blocks interleaved with system allocations of every size, in all
  // three zones: every new block lies above the one before.
  zone_memory_allocated = 100000;
  std::vector<char*> order;
  char* last = nullptr;
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 60; ++i) {
    if (i % 3 == 1) QUOR_NAME(swap_zone)();
    if (i % 3 == 2) QUOR_NAME(swap_zone3)();
    Quor_malloc(u64(1000) << (i % 12));
    QUOR_NAME(xmalloc)(70000);
    QUOR_NAME(alloc64)(90000);
    if (QUOR_NAME(previous_alloc) != last) {
      EXPECT_GT(QUOR_NAME(previous_alloc), last) << i;
      last = QUOR_NAME(previous_alloc);
    }
    if (i % 3 == 1) QUOR_NAME(swap_zone)();
    if (i % 3 == 2) QUOR_NAME(swap_zone3)();
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("decreasing address"), std::string::npos) << err;
  for (char** table : {all_garbages, all_garbages2, all_garbages3})
    for (int i = 1; i < 20; ++i) EXPECT_GT(table[i], table[i - 1]);
}

QTEST_F(ZoneTest, RelocationWithExactSizesNeverOverwrites) {
  // Survivors scattered over several blocks between garbage; after the restore
  // they move down in ascending order, each copy exactly its size.
  zone_memory_allocated = 8192;
  QUOR_NAME(alloc64)(10);
  GC_state m;
  QUOR_NAME(save_GC_state)(&m);
  struct Survivor {
    char* at;
    u64 size;
    unsigned char tag;
  };
  std::vector<Survivor> s;
  for (int i = 0; i < 60; ++i) {
    QUOR_NAME(alloc64)(300 + 37 * (i % 7));  // garbage
    const u64 size = 8 * (50 + 61 * (i % 9));
    auto* p = static_cast<char*>(QUOR_NAME(alloc64)(size));
    std::memset(p, i + 1, size);
    s.push_back({p, size, static_cast<unsigned char>(i + 1)});
  }
  QUOR_NAME(restore_GC_state)(&m);
  for (Survivor& v : s) {  // allocation order is ascending address order here
    auto* d = static_cast<char*>(zone_alloc_exact(v.size, 16));
    EXPECT_LE(d, v.at);
    std::memmove(d, v.at, v.size);
    v.at = d;
  }
  for (const Survivor& v : s)
    for (u64 k = 0; k < v.size; ++k) ASSERT_EQ(static_cast<unsigned char>(v.at[k]), v.tag);
}

QTEST_F(ZoneTest, OtherZonesNeverTakeSparesHoldingSurvivors) {
  // Survivors wait in zone 1's spare blocks after a restore while the moving
  // allocates its scratch in zone 2 and its copies in zone 3.
  zone_memory_allocated = 4096;
  QUOR_NAME(alloc64)(3000);
  GC_state m;
  QUOR_NAME(save_GC_state)(&m);
  std::vector<char*> pending;
  for (int i = 0; i < 4; ++i) {
    auto* p = static_cast<char*>(QUOR_NAME(alloc64)(3000));
    std::memset(p, 0x40 + i, 3000);
    pending.push_back(p);
  }
  QUOR_NAME(restore_GC_state)(&m);
  for (int i = 0; i < 4; ++i) {
    QUOR_NAME(swap_zone)();
    std::memset(QUOR_NAME(alloc64)(3000), 0, 3000);
    QUOR_NAME(swap_zone)();
    QUOR_NAME(swap_zone3)();
    auto* copy = static_cast<char*>(zone_alloc_exact(3000, 16));
    std::memmove(copy, pending[i], 3000);
    QUOR_NAME(swap_zone3)();
    for (int k = 0; k < 3000; ++k) ASSERT_EQ(copy[k], 0x40 + i) << i;
  }
  EXPECT_EQ(max_garbages, 5);  // zone 1 kept every block
}

QTEST_F(ZoneTest, PoolRecordsTheBlocksAndReusesOnlyHigherOnes) {
  const u32 before = pseudo_share_memory_cur;
  QUOR_NAME(alloc64)(10);
  ASSERT_EQ(pseudo_share_memory_cur, before + 1);
  const pseudo_share_record r = pseudo_share_memory[before];
  EXPECT_EQ(std::make_tuple(r.size, r.address, r.available, r.taken),
            std::make_tuple(u64(zone_memory_allocated) + 8, all_garbages[0], 0, 1));

  // An available record below the last block is left alone.
  pseudo_share_memory[before].available = 1;
  char* b1 = QUOR_NAME(give_block_memory)();
  EXPECT_GT(b1, all_garbages[0]);
  EXPECT_EQ(pseudo_share_memory[before].address, all_garbages[0]);
  // One above it is taken and leaves the pool.
  char* high = zone_space_take(zone_memory_allocated + 8);
  pseudo_share_memory[before + 1] = {zone_memory_allocated + 8, high, 1, 0};
  pseudo_share_memory_cur = before + 2;
  EXPECT_EQ(QUOR_NAME(give_block_memory)(), high);
  EXPECT_EQ(pseudo_share_memory_cur, before + 1);  // removed, and no record added for it
}

QTEST_F(ZoneTest, BigReservationMode) {
  const i32 saved_mode = use_big_memory;
  use_big_memory = 1;
  const u32 kb = total_allocated;
  auto* a = static_cast<char*>(QUOR_NAME(xmalloc)(1000));
  ASSERT_EQ(cur_big_memory, 1);
  EXPECT_EQ(total_allocated - kb, kBigMemorySize >> 10);
  auto* b = static_cast<char*>(QUOR_NAME(xmalloc)(24));
  EXPECT_EQ(b, a + 1008);  // pieces stay 16-aligned
  // A request equal to what is left opens a new reservation.
  const u32 left = size_big_memory[0];
  auto* c = static_cast<char*>(QUOR_NAME(xmalloc)(left));
  EXPECT_EQ(cur_big_memory, 2);
  EXPECT_EQ(c, ptr_big_memory[1] - ((left + 15) & ~15u));
  EXPECT_ZONE_FATAL(QUOR_NAME(xmalloc)(kBigMemorySize + 1), "102100001 is too big \\(limit is 102100000\\)");
  // The reservations go with the reset; the mode stays and starts afresh.
  zone_reset_memory(0);
  EXPECT_EQ(cur_big_memory, 0);
  EXPECT_EQ(use_big_memory, 1);
  auto* d = static_cast<char*>(QUOR_NAME(xmalloc)(64));
  std::memset(d, 1, 64);
  EXPECT_EQ(cur_big_memory, 1);
  use_big_memory = saved_mode;
}

QTEST_F(ZoneTest, ResetForgetsTheZonesAndReleasesTheBlocks) {
  zone_memory_allocated = 4096;
  for (int i = 0; i < 8; ++i) QUOR_NAME(alloc64)(3000);
  QUOR_NAME(generate)(10, 16, "List_Expos");
  EXPECT_GT(zone_space_used(), 0u);
  zone_reset_memory(0);
  EXPECT_EQ(zone_space_used(), 0u);
  EXPECT_EQ(Quor_malloc_cur, 0u);
  EXPECT_EQ(pseudo_share_memory_cur, 0u);
  EXPECT_EQ(all_garbages3, nullptr);
  EXPECT_EQ(bignum_tas, nullptr);
  EXPECT_EQ(QUOR_NAME(previous_alloc), nullptr);
  EXPECT_EQ(zone_memory_allocated, 4096u);  // survives
  // The next request starts again.
  zone_init_tables();
  EXPECT_NE(QUOR_NAME(alloc64)(10), nullptr);
}

// Spare blocks declared dead go back to the system when a block is taken
// fresh or at zone_give_back_dead; spare blocks that may hold survivors, and
// blocks used again, keep their bytes.
QTEST_F(ZoneTest, DeadSpareBlocksGoBackOnlyAsDeclared) {
  constexpr u64 kBig = 60000;  // one block each (blocks of 64 KB)
  QUOR_NAME(alloc64)(kBig);
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  unsigned char* p[3];
  for (auto*& q : p) {
    q = static_cast<unsigned char*>(QUOR_NAME(alloc64)(kBig));
    std::memset(q, 0xAB, kBig);
  }
  auto holds = [&](const unsigned char* q, unsigned char v) {
    return std::all_of(q, q + kBig, [v](unsigned char c) { return c == v; });
  };
  auto fresh_block_in_zone2 = [] {
    QUOR_NAME(swap_zone)();
    QUOR_NAME(alloc64)(kBig);
    QUOR_NAME(swap_zone)();
  };
  QUOR_NAME(restore_GC_state)(&mark);
  fresh_block_in_zone2();  // not declared: they may hold survivors
  for (auto* q : p) EXPECT_TRUE(holds(q, 0xAB));

  zone_spares_dead();
  fresh_block_in_zone2();
  for (auto* q : p) EXPECT_TRUE(holds(q, 0));

  // The zone takes its first spare block again: it is no longer dead.
  auto* again = static_cast<unsigned char*>(QUOR_NAME(alloc64)(kBig));
  ASSERT_EQ(again, p[0]);
  std::memset(again, 0xCD, kBig);
  std::memset(p[1], 0xEF, kBig);  // a spare written again (as a survivor of a restored mark would be)
  fresh_block_in_zone2();
  EXPECT_TRUE(holds(again, 0xCD));
  EXPECT_TRUE(holds(p[1], 0xEF)) << "given back once, not again";

  QUOR_NAME(restore_GC_state)(&mark);
  zone_all_spares_dead();
  zone_give_back_dead();
  EXPECT_TRUE(holds(again, 0));
  // Blocks given back serve again, zeroed.
  auto* last = static_cast<unsigned char*>(QUOR_NAME(alloc64)(kBig));
  EXPECT_EQ(last, p[0]);
  std::memset(last, 0x11, kBig);
  EXPECT_TRUE(holds(last, 0x11));

  // Memory outside the reserved range is never touched.
  std::vector<unsigned char> outside(1 << 16, 0x5A);
  EXPECT_EQ(zone_space_discard(outside.data(), outside.size()), 0u);
  EXPECT_TRUE(std::all_of(outside.begin(), outside.end(), [](unsigned char c) { return c == 0x5A; }));
}

QUOR_TEST_END

// The other build, reached by the few names this test needs (a translation
// unit sees one build's headers).
#if QUOR_INT
namespace quor::quor_gf {
#define OTHER(x) Quor_##x
#else
namespace quor::quor_int {
#define OTHER(x) Quor_int_##x
#endif
void zone_reset_memory(i32 keep_other);
void zone_init_tables();
extern u32 zone_memory_allocated;
extern char** all_garbages;
extern i32 max_garbages;
extern char* bignum_tas;
QUOR_EXPORT void* OTHER(alloc64)(u64 size);
QUOR_EXPORT char* OTHER(previous_alloc);
}  // namespace
#if QUOR_INT
namespace other = quor::quor_gf;
#else
namespace other = quor::quor_int;
#endif

QUOR_TEST_BEGIN

// The two builds' zones share the recorded system blocks and the reserved
// range: allocations of both interleave without disturbing each other, and a
// reset of either ends both.
QTEST(Zone, BothBuildsAlternateAndEitherResetEndsBoth) {
  // Small blocks, whatever size earlier tests of the process left: each
  // build then records several of them.
  const u32 saved[2] = {zone_memory_allocated, other::zone_memory_allocated};
  for (int round = 0; round < 4; ++round) {
    zone_reset_memory(0);
    zone_init_tables();
    other::zone_init_tables();
    zone_memory_allocated = 4096;
    other::zone_memory_allocated = 4096;
    std::vector<std::pair<unsigned char*, unsigned char>> mine;
    for (int i = 0; i < 30; ++i) {
      auto* a = static_cast<unsigned char*>(QUOR_NAME(alloc64)(700 + 13 * i));
      std::memset(a, 0x10 + i, 700 + 13 * i);
      mine.push_back({a, static_cast<unsigned char>(0x10 + i)});
      auto* b = static_cast<unsigned char*>(other::OTHER(alloc64)(900 + 7 * i));
      std::memset(b, 0x80 + i, 900 + 7 * i);
      mine.push_back({b, static_cast<unsigned char>(0x80 + i)});
    }
    // Each build's blocks keep increasing although the two interleave.
    ASSERT_GE(max_garbages, 5);
    ASSERT_GE(other::max_garbages, 5);
    for (int k = 1; k < max_garbages; ++k) EXPECT_GT(all_garbages[k], all_garbages[k - 1]);
    for (int k = 1; k < other::max_garbages; ++k) EXPECT_GT(other::all_garbages[k], other::all_garbages[k - 1]);
    for (int i = 0; i < 30; ++i) {
      const int sz[2] = {700 + 13 * i, 900 + 7 * i};
      for (int w = 0; w < 2; ++w) {
        const auto& [p, tag] = mine[2 * i + w];
        for (int k = 0; k < sz[w]; ++k) ASSERT_EQ(p[k], tag) << round << " " << i;
      }
    }
    if (round % 2 == 0)
      zone_reset_memory(0);
    else
      other::zone_reset_memory(0);
    EXPECT_EQ(zone_space_used(), 0u);
    EXPECT_EQ(Quor_malloc_cur, 0u);
    for (char** t : {all_garbages, other::all_garbages}) EXPECT_EQ(t, nullptr);
    EXPECT_EQ(bignum_tas, nullptr);
    EXPECT_EQ(other::bignum_tas, nullptr);
    EXPECT_EQ(QUOR_NAME(previous_alloc), nullptr);
    EXPECT_EQ(other::OTHER(previous_alloc), nullptr);
  }
  zone_memory_allocated = saved[0];
  other::zone_memory_allocated = saved[1];
}

// Chunks: aligned pieces, a large one in a chunk of its own and the small
// ones going on in theirs; returns the first piece.
char* take_chunk_pieces(ScratchArena& c) {
  auto* p = static_cast<char*>(c.take(10));
  auto* q = static_cast<char*>(c.take(100));
  auto* big = static_cast<char*>(c.take(u64(1) << 21));
  auto* r = static_cast<char*>(c.take(10));
  for (char* x : {p, q, big, r}) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(x) % 64, 0u);
  EXPECT_EQ(q, p + 64);
  EXPECT_EQ(r, q + 128);
  std::memset(big, 1, u64(1) << 21);
  return p;
}

// A phase's scratch: aligned pieces laid out one after the other from the
// start of the scratch region, the next phase starting there again; a phase
// taking scratch while another holds the region, or one told to take chunks
// only, gets chunks, given back to the pool on release; the zone untouched.
TEST_F(QUOR_SUITE(ZoneTest), ScratchArenaLaysEachPhaseOutFromTheSameStart) {
  char* const before = bump();
  char* alone_first = nullptr;
  {
    ScratchArena alone(false);
    alone_first = take_chunk_pieces(alone);
  }
  EXPECT_EQ(bump(), before);
  char* const region = scratch_region_enter();
  if (region == nullptr)
    GTEST_SKIP() << "no scratch region in this process (none is reserved under a limit of the address space "
                    "or data): every phase takes chunks, as the one above";
  scratch_region_leave();
  EXPECT_NE(alone_first, region);
  {
    ScratchArena a;
    auto* p = static_cast<char*>(a.take(10));
    auto* big = static_cast<char*>(a.take(u64(1) << 21));
    auto* r = static_cast<char*>(a.take(10));
    EXPECT_EQ(p, region);
    EXPECT_EQ(big, p + 64);
    EXPECT_EQ(r, big + (u64(1) << 21));
    std::memset(big, 1, u64(1) << 21);
    ScratchArena nested;
    char* n = take_chunk_pieces(nested);
    EXPECT_TRUE(n < p || n >= r + 64);
  }
  {
    ScratchArena b;
    EXPECT_EQ(b.take(64), region);
  }
  EXPECT_EQ(bump(), before);
}

QUOR_TEST_END

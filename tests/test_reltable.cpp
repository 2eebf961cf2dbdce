// Relative index tables: growth in doubling chunks, the movable origin, the
// refusals, and a random workload checked against a plain vector.
#include <random>

#include "core/reltable.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

class QUOR_SUITE(RelTable) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    zone_reset_memory(0);
    zone_init_tables();
    forget_relative_tables();
  }
  void TearDown() override {
    forget_relative_tables();
    zone_reset_memory(0);
    Host_kernel = nullptr;
  }
  quor::standin::Host host_;
};

QTEST_F(RelTable, ElementsNeverMoveAndResetKeepsChunks) {
  reset_relative_Expos();
  u64 words[3] = {1, 2, 3};
  set_relative_Expos(0, &words[0]);
  u64** first = rel_Expos.at(0);
  for (u32 i = 1; i < 5000; ++i) set_relative_Expos(i, &words[i % 3]);
  ASSERT_EQ(rel_Expos.current, 3u);  // 1024 + 2048 + 4096 > 5000
  EXPECT_EQ(rel_Expos.at(0), first);
  add_relative_Expos(100);
  reset_relative_Expos();
  EXPECT_EQ(rel_Expos.current, 3u);
  EXPECT_EQ(rel_Expos.relative_ptr, 0u);
  EXPECT_EQ(get_relative_Expos(4999), &words[4999 % 3]);
  EXPECT_EQ(get_relative_Expos(0), &words[0]);
}

QTEST_F(RelTable, OriginMovesAddressingAcrossChunks) {
  reset_relative_CBoolean();
  for (u32 i = 0; i < 3000; ++i) set_relative_CBoolean(i, u8(i % 2));
  add_relative_CBoolean(5);
  EXPECT_EQ(get_relative_CBoolean(0), 1);  // element stored at 5
  add_relative_CBoolean(1020);             // origin 1025: inside chunk 1
  set_relative_CBoolean(0, 9);
  EXPECT_EQ(rel_CBoolean.abs_ptr[1][1], 9);

  reset_relative_Expos();
  u64 a = 0, b = 0;
  set_relative_Expos(1000, &a);
  set_relative_Expos(1100, &b);
  add_relative_Expos(1000);
  EXPECT_EQ(get_relative_Expos(0), &a);
  swap_relative_Expos(0, 100);  // across the chunk boundary
  EXPECT_EQ(get_relative_Expos(0), &b);
  EXPECT_EQ(rel_Expos.abs_ptr[1][76], &a);
}

QTEST_F(RelTable, RefusalsNameTheTableAndChangeNothing) {
  // No storage at all.
  EXPECT_EQ(fatal_text([] { get_relative_Indexes(0); }), "Illegal access get_relative_ Indexes\n");
  reset_relative_Indexes();
  EXPECT_EQ(fatal_text([] { get_relative_Indexes(1024); }), "Illegal access get_relative_ Indexes\n");
  EXPECT_EQ(fatal_text([] { get_relative_MatrixRow(0); }), "Illegal access get_relative_ MatrixRow\n");

  reset_relative_Expos();
  EXPECT_EQ(fatal_text([] { swap_relative_Expos(0, 1024); }), "Illegal access in swap_relative_Expos\n");
  // Origin exactly at the capacity is accepted; one more is not.
  EXPECT_EQ(fatal_text([] { add_relative_Expos(1024); }), "");
  EXPECT_EQ(fatal_text([] { add_relative_Expos(1); }), "Illegal add_relative_ Expos\n");
  EXPECT_EQ(rel_Expos.relative_ptr, 1024u);
  reset_relative_CBoolean();
  EXPECT_EQ(fatal_text([] { add_relative_CBoolean(4000000000u); }), "Illegal add_relative_ CBoolean\n");
  EXPECT_EQ(rel_CBoolean.relative_ptr, 0u);

  // The last chunk slot in use: the table cannot grow further.
  RelTable<u8> t{"Probe"};
  t.current = kRelMaxChunks;
  EXPECT_EQ(fatal_text([&] { t.grow(); }), "Cannot extend Probe data type cur=31>=31\n");
  EXPECT_EQ(t.current, kRelMaxChunks);
}

QTEST_F(RelTable, MatrixRowsAreRebuiltPerMatrix) {
  fresh_relative_MatrixRow();
  ASSERT_EQ(rel_MatrixRow.current, 1u);
  MatrixRow_entry* base0 = rel_MatrixRow.abs_ptr[0];
  for (u32 i = 0; i < 1500; ++i) {
    MatrixRow_entry e{};
    e.hash = i;
    e.multiplier = reinterpret_cast<u64*>(std::uintptr_t(8 * (i + 1)));
    set_relative_MatrixRow(i, e);
  }
  EXPECT_EQ(rel_MatrixRow.current, 2u);
  EXPECT_EQ(get_relative_MatrixRow(1499).hash, 1499u);
  EXPECT_EQ(get_relative_MatrixRow(3).multiplier, reinterpret_cast<u64*>(std::uintptr_t(32)));
  fresh_relative_MatrixRow();  // a new matrix: a new chunk 0, origin 0
  EXPECT_EQ(rel_MatrixRow.current, 1u);
  EXPECT_NE(rel_MatrixRow.abs_ptr[0], base0);
  EXPECT_EQ(fatal_text([] { get_relative_MatrixRow(1024); }), "Illegal access get_relative_ MatrixRow\n");
}

QTEST_F(RelTable, RandomWorkloadMatchesAVector) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3; ++round) {
    forget_relative_tables();
    reset_relative_Indexes();
    std::vector<u32> ref;
    std::vector<bool> known;
    u32 origin = 0;
    for (int step = 0; step < 20000; ++step) {
      const u32 i = rng() % 6000;
      const u64 a = u64(origin) + i;
      if (rng() % 3) {
        const u32 v = rng();
        set_relative_Indexes(i, v);
        if (ref.size() <= a) ref.resize(a + 1), known.resize(a + 1);
        ref[a] = v;
        known[a] = true;
      } else if (a < known.size() && known[a]) {
        ASSERT_EQ(get_relative_Indexes(i), ref[a]);
      }
      if (step % 5000 == 4999) {
        origin += 1000;  // keeps the origin within the capacity reached
        rel_Indexes.add(1000);
      }
    }
    // Capacity is the sum of the chunk sizes in use, and covers what was set.
    u64 cap = 0;
    for (u32 k = 0; k < rel_Indexes.current; ++k) cap += rel_Indexes.size_relative[k];
    EXPECT_EQ(cap, rel_Indexes.capacity());
    EXPECT_GE(cap, ref.size());
  }
}

QUOR_TEST_END

// Column byte code of matrix rows: exact bytes of the encoder, round trips
// of random column sets, the expander, and the add-multiple kernels against
// a plain dense reference (long chains included).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/zone.h"
#include "engine/lzw_code.h"
#include "engine/symbolic.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"

QUOR_TEST_BEGIN

namespace {
using Bytes = std::vector<u8>;
using Pos = std::vector<u32>;

Bytes encode(const Pos& p, u32* codes = nullptr) {
  Bytes out(lzw_worst_bytes(p.size()) + 1);
  u32 nc = 0;
  const u64 b = lzw_encode(p.data(), p.size(), out.data(), lzw_worst_bytes(p.size()), &nc);
  out.resize(b);
  if (codes) *codes = nc;
  return out;
}
Pos decode(const Bytes& b, u32 codes, u64 limit = ~u64(0)) {
  std::vector<u64> tmp(1u << 16);
  const u64 n = lzw_decode(b.data(), codes, tmp.data(), tmp.size(), limit);
  if (n == ~u64(0)) return {~0u};
  return Pos(tmp.begin(), tmp.begin() + n);
}
Pos run(u32 from, u32 n) {
  Pos p;
  for (u32 i = 0; i < n; ++i) p.push_back(from + i);
  return p;
}

// A row of a random pattern: positions with gaps drawn among the code's edges.
Pos random_positions(std::mt19937& g, u32 n) {
  static const u32 kGaps[] = {1, 1, 1, 2, 125, 126, 127, 128, 255, 256, 65279, 65280, 65281, 1u << 20};
  Pos p{0};
  while (p.size() < n) {
    u32 gap = kGaps[g() % (sizeof kGaps / sizeof kGaps[0])];
    if (g() % 8 == 0) gap = 1 + g() % 3000;
    if (p.back() > 0xF0000000u) break;
    if (gap == 1) {
      const u32 r = 1 + g() % 300;  // long runs cross the 126 limit of one code
      for (u32 i = 0; i < r && p.size() < n; ++i) p.push_back(p.back() + 1);
    } else {
      p.push_back(p.back() + gap);
    }
  }
  return p;
}

// A row record in plain memory: one coefficient array per slot.
struct TestRow {
  std::vector<unsigned char> mem;
  Bytes code;
  std::vector<std::vector<Dom>> coefs;
  sALGO_Dpol* row() { return reinterpret_cast<sALGO_Dpol*>(mem.data()); }
  TestRow(const Pos& p, const std::vector<std::vector<Dom>>& c) : mem(ALGO_Dpol_bytes(u32(c.size()))), coefs(c) {
    u32 nc = 0;
    code = encode(p, &nc);
    sALGO_Dpol* r = row();
    r->code = code.data();
    r->nb_codes = nc;
    r->span = p.back() + 1;
    r->lead = 1;
    r->encoding = CODE_LZW;
    for (size_t k = 0; k < c.size(); ++k) r->coeffs[k] = coefs[k].data();
  }
};

#if QUOR_INT
const u32 kPrimes[] = {4294967291u, 2147483659u, 3221225473u};
unsigned __int128 value(const LzwCell96& c) {
  return (unsigned __int128)c.w[0] | ((unsigned __int128)c.w[1] << 32) | ((unsigned __int128)c.w[2] << 64);
}
u64 residue(const LzwCell96& c, u32 p) { return u64(value(c) % p); }
#else
const u32 kPrimes[] = {65521u, 32003u, 2u, 3u};
unsigned __int128 value(u64 c) { return c; }
u64 residue(u64 c, u32 p) { return c % p; }
#endif
}  // namespace

// ---------------------------------------------------------------- encoder

QTEST(LzwCode, ExactBytesAtTheEdges) {
  struct Case {
    Pos positions;
    Bytes bytes;
    u32 codes;
  };
  const std::vector<Case> cases = {
      {{}, {}, 0},
      {{0}, {}, 0},
      {{0, 1}, {0x01}, 1},
      {{0, 1, 2, 3}, {0x83}, 1},
      {{0, 2, 3}, {0x02, 0x01}, 2},
      {run(0, 128), {0xFE, 0x01}, 2},
      {run(0, 129), {0xFE, 0x82}, 2},
      {run(0, 127), {0xFE}, 1},
      {{0, 125}, {0x7D}, 1},
      {{0, 126}, {0xFF, 0x00, 0x7E}, 1},
      {{0, 127}, {0xFF, 0x00, 0x7F}, 1},
      {{0, 256}, {0xFF, 0x01, 0x00}, 1},
      {{0, 65279}, {0xFF, 0xFE, 0xFF}, 1},
      {{0, 65280}, {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00}, 1},
      {{0, 0xFFFFFFFFu}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1},
      {{0, 1, 3, 4, 5, 200}, {0x01, 0x02, 0x82, 0xFF, 0x00, 0xC3}, 4},
  };
  for (const Case& c : cases) {
    u32 nc = 99;
    EXPECT_EQ(encode(c.positions, &nc), c.bytes) << c.positions.size() << " positions";
    EXPECT_EQ(nc, c.codes);
    if (!c.positions.empty()) {
      EXPECT_EQ(decode(c.bytes, nc), c.positions);
    }
  }
  // A limit one byte short is refused before anything past it is written.
  const Pos p{0, 65280, 65281};
  Bytes out(8, 0xAA);
  u32 nc = 0;
  EXPECT_EQ(lzw_encode(p.data(), p.size(), out.data(), 6, &nc), ~u64(0));
  EXPECT_EQ(out[6], 0xAA);
  EXPECT_EQ(lzw_encode(p.data(), p.size(), out.data(), 7, &nc), 7u);
}

QTEST(LzwCode, RandomColumnSetsRoundTrip) {
  std::mt19937 g(12345);
  for (int round = 0; round < 400; ++round) {
    const u32 n = 1 + g() % (round < 200 ? 40 : 3000);
    const Pos p = random_positions(g, n);
    u32 nc = 0;
    const Bytes b = encode(p, &nc);
    EXPECT_LE(b.size(), lzw_worst_bytes(p.size()));
    EXPECT_EQ(lzw_count_entries(b.data(), nc), p.size());
    ASSERT_EQ(decode(b, nc, u64(p.back()) + 1), p) << "round " << round;
    // One position short of the span is caught by the bounded decoder.
    if (p.size() > 1) {
      EXPECT_EQ(decode(b, nc, p.back()), Pos{~0u});
    }
  }
}

QTEST(LzwCode, DecoderReadsEveryByteForm) {
  // Bytes the encoder never writes still decode: gaps 0, 0x7E, 0x7F and an empty run.
  const Bytes b = {0x00, 0x7E, 0x7F, 0x80, 0x81, 0xFF, 0x00, 0x02};
  EXPECT_EQ(decode(b, 6), (Pos{0, 0, 126, 253, 254, 256}));
  EXPECT_EQ(lzw_count_entries(b.data(), 6), 6u);
  // Only as many codes as the row records are read.
  EXPECT_EQ(decode(b, 2), (Pos{0, 0, 126}));
}

class QUOR_SUITE(LzwZone) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    zone_reset_memory(0);
    zone_init_tables();
    zone_memory_allocated = std::max<u32>(zone_memory_allocated, 1 << 20);
  }
  void TearDown() override {
    zone_reset_memory(0);
    Host_kernel = nullptr;
  }
  quor::standin::Host host_;
};

QTEST_F(LzwZone, CompressTakesOneShrunkAllocation) {
  const Pos p{0, 1, 2, 3, 10, 400, 100000};
  u32 nc = 0;
  u64 bytes = 0;
  u8* s = compress_lzw(p.data(), u32(p.size()), &nc, &bytes);
  EXPECT_EQ(Bytes(s, s + bytes), encode(p));
  EXPECT_EQ(nc, 4u);
  // The unused worst-case tail is given back: the next allocation follows closely.
  u8* next = static_cast<u8*>(QUOR_NAME(alloc64)(1));
  EXPECT_LT(next - s, i64(bytes + 40));
  for (u32 n : {0u, 1u}) {
    nc = 7;
    bytes = 7;
    compress_lzw(p.data(), n, &nc, &bytes);
    EXPECT_EQ(nc, 0u);
    EXPECT_EQ(bytes, 0u);
  }
}

QTEST_F(LzwZone, CompactifyRefusesBeforeOverrunning) {
  const Pos p{0, 126, 127};  // 0xFF 0x00 0x7E 0x01: four bytes
  Bytes buf(8, 0xAA);
  u32 nc = 0;
  u64 bytes = 0;
  QUOR_NAME(compactify)(buf.data(), 5, p.data(), 3, &nc, &bytes);
  EXPECT_EQ(nc, 2u);
  EXPECT_EQ(bytes, 4u);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 4), (Bytes{0xFF, 0x00, 0x7E, 0x01}));
  auto fatal = [&](u64 cap, u32 n) {
    quor::standin::CallResult r = host_.run([&] {
      QUOR_NAME(compactify)(buf.data(), cap, p.data(), n, &nc, &bytes);
      return host_.null();
    });
    return r.raised ? r.error : std::string();
  };
  std::fill(buf.begin(), buf.end(), 0xAA);
  EXPECT_EQ(fatal(4, 3), "bug dans Quor(compact)\n");  // four bytes are not below four
  EXPECT_EQ(buf[3], 0xAA);                             // and the fourth was never written
  EXPECT_EQ(fatal(0, 1), "bug dans Quor(compact)\n");
  EXPECT_EQ(fatal(1, 1), "");
}

// ---------------------------------------------------------------- kernels

QTEST(LzwKernels, ExpandWritesTheRowOfTheCurrentSlot) {
  std::mt19937 g(7);
  const Pos p = {0, 1, 2, 5, 300, 301};
  std::vector<std::vector<Dom>> c(2);
  for (auto& v : c)
    for (size_t i = 0; i < p.size(); ++i) v.push_back(Dom(1 + g() % 1000));
  TestRow row(p, c);
  std::vector<LzwAcc> acc(400);
  for (auto& x : acc) std::memset(static_cast<void*>(&x), 0xFF, sizeof x);
  for (u32 slot = 0; slot < 2; ++slot) {
    context_vectorize = slot;
    decompress_lzw(acc.data(), row.row());
    for (u32 i = 0, j = 0; i < 302; ++i) {
      const bool here = j < p.size() && p[j] == i;
      EXPECT_EQ(value(acc[i]), here ? (unsigned __int128)c[slot][j] : 0u) << i;
      j += here;
    }
    EXPECT_NE(value(acc[302]), 0u);  // beyond the span nothing is touched
  }
  context_vectorize = 0;
}

QTEST(LzwKernels, AddMultipleMatchesDenseReference) {
  std::mt19937 g(99);
  for (u32 p : kPrimes) {
    for (int round = 0; round < 30; ++round) {
      const u32 width = 2000;
      std::vector<LzwAcc> acc(width + 1);
      std::vector<unsigned __int128> ref(width + 1, 0);
      for (u32 i = 0; i <= width; ++i) {
        const Dom v = Dom(g() % p);
        LzwCell<Dom>::set(acc[i], v);
        ref[i] = v;
      }
      // A chain of pivots with leads at increasing offsets, each added in full.
      for (int k = 0; k < 40; ++k) {
        const u32 lead = g() % 200;
        Pos pos = random_positions(g, 1 + g() % 300);
        while (!pos.empty() && lead + pos.back() > width) pos.pop_back();
        std::vector<std::vector<Dom>> c(1);
        for (size_t i = 0; i < pos.size(); ++i) c[0].push_back(Dom(g() % p));
        TestRow row(pos, c);
        const u64 m = g() % p;
        const u64 made = lzw_axpy<Dom>(acc.data() + lead, m, row.code.data(), c[0].data(), row.row()->nb_codes);
        EXPECT_EQ(made, pos.size() - 1);
        for (size_t i = 1; i < pos.size(); ++i) ref[lead + pos[i]] += (unsigned __int128)m * c[0][i];
      }
      for (u32 i = 0; i <= width; ++i) {
        ASSERT_EQ(value(acc[i]), ref[i]) << "p=" << p << " cell " << i;
        ASSERT_EQ(residue(acc[i], p), u64(ref[i] % p));
      }
    }
  }
}

QTEST(LzwKernels, LongChainsStayExactUpToTheBound) {
  // Every product at its largest, many times into the same cells: the cells
  // must hold the exact sum (carries included) until they are reduced.
  const u32 p = kPrimes[0];
  const Dom top = Dom(p - 1);
  const Pos pos = run(0, 200);
  std::vector<std::vector<Dom>> c(1, std::vector<Dom>(pos.size(), top));
  TestRow row(pos, c);
  std::vector<LzwAcc> acc(pos.size());
  std::vector<unsigned __int128> ref(pos.size(), 0);
  for (size_t i = 0; i < acc.size(); ++i) {
    LzwCell<Dom>::set(acc[i], top);
    ref[i] = top;
  }
  const u32 chain = 100000;
  for (u32 k = 0; k < chain; ++k)
    lzw_axpy<Dom>(acc.data(), top, row.code.data(), c[0].data(), row.row()->nb_codes);
  for (size_t i = 1; i < acc.size(); ++i) {
    ref[i] += (unsigned __int128)chain * top * top;
    ASSERT_EQ(value(acc[i]), ref[i]);
    ASSERT_EQ(residue(acc[i], p), u64(ref[i] % p));
  }
  EXPECT_EQ(value(acc[0]), (unsigned __int128)top);  // the lead cell is not touched
#if QUOR_INT
  // A cell at the bound's edge: the carry into the top word is kept.
  LzwCell96 cell{{0xFFFFFFFFu, 0xFFFFFFFFu, u32(LzwCell<u32>::kMaxAdds - 1)}};
  const unsigned __int128 before = value(cell);
  LzwCell<u32>::add(cell, u64(top) * top);
  EXPECT_EQ(value(cell), before + (unsigned __int128)(u64(top) * top));
  EXPECT_LT(cell.w[2], 2147483648u);
#endif
}

#if QUOR_INT
QTEST(LzwKernels, NamedKernelOfTheVectorBuild) {
  const Pos pos{0, 3, 4, 5, 9};
  std::vector<std::vector<Dom>> c{{1, 10, 20, 30, 40}};
  TestRow row(pos, c);
  std::vector<LzwCell96> acc(10);
  for (auto& x : acc) LzwCell<u32>::set(x, 5);
  QUOR_NAME(lzw_basic_step_lin_d_2)(acc.data(), 3000000000u, row.code.data(), c[0].data(), row.row()->nb_codes);
  EXPECT_EQ(value(acc[0]), 5u);
  EXPECT_EQ(value(acc[3]), 5 + (unsigned __int128)3000000000u * 10);
  EXPECT_EQ(value(acc[9]), 5 + (unsigned __int128)3000000000u * 40);
  EXPECT_EQ(value(acc[1]), 5u);
}
#else
QTEST(LzwKernels, CountingAndThreadKernels) {
  const u32 p = 65521;
  QUOR_NAME(Prime) = p;
  const Pos pos{0, 1, 2, 7};
  std::vector<std::vector<Dom>> c{{1, 100, 200, 300}};
  TestRow row(pos, c);
  std::vector<u64> acc(8, 0);
  const u64 before = complexite;
  QUOR_NAME(lzw_basic_step_lin_d_2)(acc.data(), 0, row.code.data(), c[0].data(), row.row()->nb_codes);
  EXPECT_EQ(complexite - before, 3u);  // multiplier 0: cells unchanged, products still counted
  EXPECT_EQ(acc, std::vector<u64>(8, 0));
  QUOR_NAME(lzw_basic_step_lin_d_multi)(acc.data(), 2, row.code.data(), c[0].data(), row.row()->nb_codes);
  EXPECT_EQ(complexite - before, 3u);
  EXPECT_EQ(acc, (std::vector<u64>{0, 200, 400, 0, 0, 0, 0, 600}));

  // comb_linear_step1_lzw clears the column of a monic pivot.
  std::vector<u64> cells{u64(p) * 70000 + 5, 1, 2, 3, 4, 5, 6, 7};
  comb_linear_step1_lzw(cells.data(), row.row());
  EXPECT_EQ(cells[0], 0u);
  EXPECT_EQ(cells[1] % p, (1 + u64(p - 5) * 100) % p);
  EXPECT_EQ(cells[7] % p, (7 + u64(p - 5) * 300) % p);

  // lzw_lin_d_multi: eliminate the lead, find the next non-zero residue.
  std::vector<u64> a{4, u64(p) * 3, u64(p - 400 % p) + u64(p), 9, 0, 0, 0, 0};
  u32 lead = 10, span = 8;
  u64* at = lzw_lin_d_multi(a.data(), &lead, &span, row.code.data(), c[0].data(), row.row()->nb_codes);
  // cell 1: 3p + (p-4)*100 = -400 mod p; cell 2: (p-400) + (p-4)*200 = -1200 mod p.
  ASSERT_EQ(at, a.data() + 1);
  EXPECT_EQ(lead, 11u);
  EXPECT_EQ(span, 7u);
  EXPECT_EQ(a[0], 0u);
  EXPECT_EQ(a[1], u64(p - 400));
  // Everything cancels: lead and span become 0.
  std::vector<u64> z{u64(p - 1), u64(p - 100), u64(p - 200), 0, 0, 0, 0, u64(p - 300)};
  lead = 3, span = 8;
  EXPECT_EQ(lzw_lin_d_multi(z.data(), &lead, &span, row.code.data(), c[0].data(), row.row()->nb_codes), nullptr);
  EXPECT_EQ(lead, 0u);
  EXPECT_EQ(span, 0u);
  QUOR_NAME(Prime) = 0;
}
#endif

QUOR_TEST_END

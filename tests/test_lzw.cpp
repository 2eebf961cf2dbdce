// Column byte code of matrix rows: exact bytes at the code's edges, round
// trips of random column sets, and the expander and add-multiple kernels
// against a plain dense reference, long chains included.
#include <algorithm>
#include <cstring>
#include <random>
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
using Wide = unsigned __int128;

Bytes encode(const Pos& p, u32* codes) {
  Bytes out(lzw_worst_bytes(p.size()));
  out.resize(lzw_encode(p.data(), p.size(), out.data(), out.size(), codes));
  return out;
}
// Decoded positions, {~0} when an entry lies at or past limit.
Pos decode(const Bytes& b, u32 codes, u64 limit = ~u64(0)) {
  std::vector<u64> tmp(1u << 16);
  const u64 n = lzw_decode(b.data(), codes, tmp.data(), tmp.size(), limit);
  return n == ~u64(0) ? Pos{~0u} : Pos(tmp.begin(), tmp.begin() + n);
}
Pos run(u32 n) {
  Pos p(n);
  for (u32 i = 0; i < n; ++i) p[i] = i;
  return p;
}
// Positions below limit whose gaps fall on the code's edges, with runs longer than one code.
Pos random_positions(std::mt19937& g, u32 n, u32 limit = 0xF0000000u) {
  static const u32 kGaps[] = {1, 1, 2, 125, 126, 127, 128, 255, 256, 65279, 65280, 65281, 1u << 20};
  Pos p{0};
  while (p.size() < n) {
    const u32 gap = g() % 8 ? kGaps[g() % std::size(kGaps)] : 1 + g() % 3000;
    if (u64(p.back()) + gap >= limit) break;
    for (u32 i = 0, r = gap == 1 ? 1 + g() % 300 : 1; i < r && p.size() < n && p.back() + 1 < limit; ++i)
      p.push_back(p.back() + gap);
  }
  return p;
}

// A coded row with one coefficient array per slot, in plain memory.
struct TestRow {
  std::vector<unsigned char> mem;
  Bytes code;
  std::vector<std::vector<Dom>> c;
  TestRow(const Pos& p, std::vector<std::vector<Dom>> coefs) : mem(ALGO_Dpol_bytes(u32(coefs.size()))), c(coefs) {
    sALGO_Dpol* r = row();
    code = encode(p, &r->nb_codes);
    r->code = code.data();
    r->span = p.back() + 1;
    for (size_t k = 0; k < c.size(); ++k) r->coeffs[k] = c[k].data();
  }
  sALGO_Dpol* row() { return reinterpret_cast<sALGO_Dpol*>(mem.data()); }
};

#if QUOR_INT
const u32 kPrimes[] = {4294967291u, 2147483659u};
Wide value(const LzwCell96& c) { return Wide(c.w[0]) | (Wide(c.w[1]) << 32) | (Wide(c.w[2]) << 64); }
#else
const u32 kPrimes[] = {65521u, 3u};
Wide value(u64 c) { return c; }
#endif
}  // namespace

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
      {run(127), {0xFE}, 1},
      {run(128), {0xFE, 0x01}, 2},
      {run(129), {0xFE, 0x82}, 2},
      {{0, 125}, {0x7D}, 1},
      {{0, 126}, {0xFF, 0x00, 0x7E}, 1},
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
  }
  // Bytes the encoder never writes still decode: gaps 0, 0x7E, 0x7F, an empty run;
  // and only as many codes as the row records are read.
  const Bytes odd = {0x00, 0x7E, 0x7F, 0x80, 0x81, 0xFF, 0x00, 0x02};
  EXPECT_EQ(decode(odd, 6), (Pos{0, 0, 126, 253, 254, 256}));
  EXPECT_EQ(decode(odd, 2), (Pos{0, 0, 126}));
}

QTEST(LzwCode, RandomColumnSetsRoundTrip) {
  std::mt19937 g(12345);
  for (int round = 0; round < 400; ++round) {
    const Pos p = random_positions(g, 1 + g() % (round < 200 ? 40 : 3000));
    u32 nc = 0;
    const Bytes b = encode(p, &nc);
    EXPECT_EQ(lzw_count_entries(b.data(), nc), p.size());
    ASSERT_EQ(decode(b, nc, u64(p.back()) + 1), p) << "round " << round;
    if (p.size() > 1) {
      EXPECT_EQ(decode(b, nc, p.back()), Pos{~0u});  // the bounded decoder refuses an entry past the span
    }
  }
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

QTEST_F(LzwZone, EncodersIntoZoneAndCallerBuffers) {
  const Pos p{0, 1, 2, 3, 10, 400, 100000};
  u32 nc = 0, want = 0;
  u64 bytes = 0;
  u8* s = compress_lzw(p.data(), u32(p.size()), &nc, &bytes);
  EXPECT_EQ(Bytes(s, s + bytes), encode(p, &want));
  EXPECT_EQ(nc, want);
  // The unused worst-case tail is given back: the next allocation follows closely.
  EXPECT_LT(static_cast<u8*>(QUOR_NAME(alloc64)(1)) - s, i64(bytes + 40));

  // The caller's buffer is checked before every code, so a short one is refused unharmed.
  const Pos q{0, 126, 127};  // 0xFF 0x00 0x7E 0x01
  Bytes buf(8, 0xAA);
  auto fatal = [&](u64 cap, u32 n) {
    quor::standin::CallResult r = host_.run([&] {
      QUOR_NAME(compactify)(buf.data(), cap, q.data(), n, &nc, &bytes);
      return host_.null();
    });
    return r.raised ? r.error : std::string();
  };
  EXPECT_EQ(fatal(5, 3), "");
  EXPECT_EQ(bytes, 4u);
  EXPECT_EQ(nc, 2u);
  std::fill(buf.begin(), buf.end(), 0xAA);
  EXPECT_EQ(fatal(4, 3), "bug dans Quor(compact)\n");  // four bytes are not below four
  EXPECT_EQ(buf[3], 0xAA);
  EXPECT_EQ(fatal(0, 1), "bug dans Quor(compact)\n");
  EXPECT_EQ(fatal(1, 1), "");
  EXPECT_EQ(bytes, 0u);
}

QTEST(LzwKernels, ExpandAndAddMultipleMatchDenseReference) {
  std::mt19937 g(99);
  for (u32 p : kPrimes) {
    for (int round = 0; round < 20; ++round) {
      // The accumulator starts as the expansion of a row of slot 1.
      const u32 width = 140000;
      const Pos base = random_positions(g, 400, width - 1);
      std::vector<std::vector<Dom>> bc(2);
      for (auto& v : bc)
        for (size_t i = 0; i < base.size(); ++i) v.push_back(Dom(g() % p));
      TestRow brow(base, bc);
      std::vector<LzwAcc> acc(width);
      std::memset(static_cast<void*>(acc.data()), 0xFF, acc.size() * sizeof(LzwAcc));
      context_vectorize = 1;
      decompress_lzw(acc.data(), brow.row());
      context_vectorize = 0;
      std::vector<Wide> ref(acc.size(), 0);
      for (size_t i = 0; i < base.size(); ++i) ref[base[i]] = bc[1][i];
      ASSERT_NE(value(acc[base.back() + 1]), 0u);  // nothing past the span is touched
      acc.resize(base.back() + 1), ref.resize(acc.size());
      for (int k = 0; k < 40; ++k) {
        const u32 lead = g() % u32(acc.size());
        const Pos pos = random_positions(g, 1 + g() % 300, u32(acc.size()) - lead);
        std::vector<std::vector<Dom>> c(1);
        for (size_t i = 0; i < pos.size(); ++i) c[0].push_back(Dom(g() % p));
        TestRow row(pos, c);
        const u64 m = g() % p;
        EXPECT_EQ(lzw_axpy<Dom>(acc.data() + lead, m, row.code.data(), c[0].data(), row.row()->nb_codes),
                  pos.size() - 1);
        for (size_t i = 1; i < pos.size(); ++i) ref[lead + pos[i]] += Wide(m) * c[0][i];
      }
      for (size_t i = 0; i < acc.size(); ++i) ASSERT_EQ(value(acc[i]), ref[i]) << "p=" << p << " cell " << i;
    }
  }
}

QTEST(LzwKernels, LongChainsStayExactUpToTheBound) {
  // Every product at its largest, many times into the same cells: the cells
  // hold the exact sum, carries included, and the lead cell is not touched.
  const Dom top = Dom(kPrimes[0] - 1);
  const Pos pos = run(200);
  std::vector<std::vector<Dom>> c(1, std::vector<Dom>(pos.size(), top));
  TestRow row(pos, c);
  std::vector<LzwAcc> acc(pos.size());
  for (auto& x : acc) LzwCell<Dom>::set(x, top);
  const u32 chain = 100000;
  for (u32 k = 0; k < chain; ++k) lzw_axpy<Dom>(acc.data(), top, row.code.data(), c[0].data(), row.row()->nb_codes);
  EXPECT_EQ(value(acc[0]), Wide(top));
  for (size_t i = 1; i < acc.size(); ++i) ASSERT_EQ(value(acc[i]), top + Wide(chain) * top * top);
#if QUOR_INT
  // A cell at the edge of the bound keeps its carry, and its top word stays below 2^31 < p.
  LzwCell96 two[2] = {{}, {{0xFFFFFFFFu, 0xFFFFFFFFu, u32(LzwCell<u32>::kMaxAdds - 1)}}};
  const Wide before = value(two[1]);
  TestRow one({0, 1}, {{1, top}});
  QUOR_NAME(lzw_basic_step_lin_d_2)(two, top, one.code.data(), one.c[0].data(), one.row()->nb_codes);
  EXPECT_EQ(value(two[1]), before + Wide(u64(top) * top));
  EXPECT_LT(two[1].w[2], 2147483648u);
#endif
}

#if !QUOR_INT
QTEST(LzwKernels, CountingAndThreadKernels) {
  const u32 p = 65521;
  QUOR_NAME(Prime) = p;
  TestRow row({0, 1, 2, 7}, {{1, 100, 200, 300}});
  const sALGO_Dpol* r = row.row();
  std::vector<u64> acc(8, 0);
  const u64 before = complexite;
  QUOR_NAME(lzw_basic_step_lin_d_2)(acc.data(), 0, r->code, r->coeffs[0], r->nb_codes);
  EXPECT_EQ(complexite - before, 3u);  // multiplier 0: cells unchanged, products still counted
  EXPECT_EQ(acc, std::vector<u64>(8, 0));
  QUOR_NAME(lzw_basic_step_lin_d_multi)(acc.data(), 2, r->code, r->coeffs[0], r->nb_codes);
  EXPECT_EQ(complexite - before, 3u);
  EXPECT_EQ(acc, (std::vector<u64>{0, 200, 400, 0, 0, 0, 0, 600}));

  std::vector<u64> cells{u64(p) * 70000 + 5, 1, 2, 3, 4, 5, 6, 7};
  comb_linear_step1_lzw(cells.data(), r);  // the column of the monic pivot vanishes
  EXPECT_EQ(cells[0], 0u);
  EXPECT_EQ(cells[7] % p, (7 + u64(p - 5) * 300) % p);

  // Eliminate the lead and stop at the next non-zero residue: cell 1 is
  // 3p + (p - 4) * 100 = -400 mod p.
  std::vector<u64> a{4, u64(p) * 3, 0, 9, 0, 0, 0, 0};
  u32 lead = 10, span = 8;
  EXPECT_EQ(lzw_lin_d_multi(a.data(), &lead, &span, r->code, r->coeffs[0], r->nb_codes), a.data() + 1);
  EXPECT_EQ(lead, 11u);
  EXPECT_EQ(span, 7u);
  EXPECT_EQ(a[0], 0u);
  EXPECT_EQ(a[1], u64(p - 400));
  // Everything cancels: lead and span become 0.
  std::vector<u64> z{u64(p - 1), u64(p - 100), u64(p - 200), 0, 0, 0, 0, u64(p - 300)};
  lead = 3, span = 8;
  EXPECT_EQ(lzw_lin_d_multi(z.data(), &lead, &span, r->code, r->coeffs[0], r->nb_codes), nullptr);
  EXPECT_EQ(lead, 0u);
  EXPECT_EQ(span, 0u);
  QUOR_NAME(Prime) = 0;
}
#endif

QUOR_TEST_END

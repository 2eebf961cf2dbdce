// Throughput of the column byte code: its encoder, expansion of a coded row
// into an accumulator and the add-multiple kernel, for both residue widths,
// on a clustered pattern (long runs) and a scattered one (gaps of tens to
// hundreds); the encoder also on rows mixed as an F4 matrix's are.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#define QUOR_INT 1
#include "engine/lzw_code.h"

namespace {
using namespace quor;

struct Pattern {
  std::vector<u8> code;
  u32 codes = 0;
  u32 entries = 0;
  u32 span = 0;
};

// Clustered: runs of 1..40 columns separated by gaps of 2..20; scattered:
// single columns separated by gaps of 2..400 (some past the one-byte codes).
Pattern make_pattern(bool clustered, u32 entries) {
  std::mt19937 g(clustered ? 1 : 2);
  std::vector<u32> pos{0};
  while (pos.size() < entries) {
    if (clustered) {
      const u32 r = 1 + g() % 40;
      pos.push_back(pos.back() + 2 + g() % 19);
      for (u32 i = 1; i < r && pos.size() < entries; ++i) pos.push_back(pos.back() + 1);
    } else {
      pos.push_back(pos.back() + 2 + g() % 399);
    }
  }
  Pattern p;
  p.code.resize(lzw_worst_bytes(pos.size()));
  p.code.resize(lzw_encode(pos.data(), pos.size(), p.code.data(), p.code.size(), &p.codes));
  p.entries = u32(pos.size());
  p.span = pos.back() + 1;
  return p;
}

// Rows of 40 positions whose gaps mix as on a large F4 matrix: a third 1
// (some in runs), half 2 .. 125, the rest 126 .. 3000.
std::vector<std::vector<u32>> mixed_rows(u32 rows) {
  std::mt19937 g(3);
  std::vector<std::vector<u32>> out(rows);
  for (auto& pos : out) {
    pos = {0};
    while (pos.size() < 40) {
      const u32 k = g() % 20;
      pos.push_back(pos.back() + (k < 6 ? 1 : k < 17 ? 2 + g() % 124 : 126 + g() % 2875));
    }
  }
  return out;
}

// Arg: 0 scattered, 1 clustered, 2 mixed rows.
void BM_Encode(benchmark::State& state) {
  std::vector<std::vector<u32>> rows;
  if (state.range(0) == 2) {
    rows = mixed_rows(1000);
  } else {
    std::mt19937 g(state.range(0) != 0 ? 1 : 2);
    std::vector<u32> pos{0};
    while (pos.size() < 20000) {
      if (state.range(0) != 0) {
        const u32 r = 1 + g() % 40;
        pos.push_back(pos.back() + 2 + g() % 19);
        for (u32 i = 1; i < r && pos.size() < 20000; ++i) pos.push_back(pos.back() + 1);
      } else {
        pos.push_back(pos.back() + 2 + g() % 399);
      }
    }
    rows = {pos};
  }
  u64 entries = 0;
  for (const auto& r : rows) entries += r.size();
  std::vector<u8> out(lzw_worst_bytes(20000));
  for (auto _ : state) {
    for (const auto& r : rows) {
      u32 codes = 0;
      benchmark::DoNotOptimize(lzw_encode(r.data(), r.size(), out.data(), lzw_worst_bytes(r.size()), &codes));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * i64(entries));
}

template <class D>
void BM_Expand(benchmark::State& state) {
  const Pattern p = make_pattern(state.range(0) != 0, 20000);
  std::vector<D> coef(p.entries, D(12345));
  std::vector<typename LzwCell<D>::type> acc(p.span);
  for (auto _ : state) {
    lzw_expand<D>(acc.data(), p.span, p.code.data(), p.codes, coef.data());
    benchmark::DoNotOptimize(acc.data());
  }
  state.SetItemsProcessed(state.iterations() * p.entries);
}

template <class D>
void BM_AddMultiple(benchmark::State& state) {
  const Pattern p = make_pattern(state.range(0) != 0, 20000);
  std::vector<D> coef(p.entries, D(54321));
  std::vector<typename LzwCell<D>::type> acc(p.span);
  // Well below LzwCell<D>::kMaxAdds additions per cell over any run.
  for (auto _ : state) {
    benchmark::DoNotOptimize(lzw_axpy<D>(acc.data(), 40000, p.code.data(), coef.data(), p.codes));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (p.entries - 1));
}

BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_Expand<u32>)->Arg(1)->Arg(0);
BENCHMARK(BM_Expand<u16>)->Arg(1)->Arg(0);
BENCHMARK(BM_AddMultiple<u32>)->Arg(1)->Arg(0);
BENCHMARK(BM_AddMultiple<u16>)->Arg(1)->Arg(0);
}  // namespace

// Elimination of random sparse matrices shaped like F4 steps (known pivots
// on part of the columns, rows to reduce on random leads): prime field on 1
// and 8 threads, and a block of primes in the integer build.  Compiled once
// per build.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"

namespace {
using namespace quor;
using namespace quor::QUOR_NS;

struct Shape {
  u32 ncols, nknown, nreduce, density_permille;
};

// Builds the matrix once in zone 1 of build B; pristine copies of the row
// records let every iteration start from the same rows (the elimination
// replaces code and coefficient pointers, never the arrays it read).
template <class B>
struct Matrix {
  std::vector<typename B::Row> rows;
  std::vector<std::vector<unsigned char>> saved;
  u32 ncols = 0, nreduce = 0;

  void build(const Shape& s, u32 seed) {
    std::mt19937 g(seed);
    ncols = s.ncols;
    const u32 V = B::vectorize();
    std::vector<u32> leads(ncols);
    for (u32 c = 0; c < ncols; ++c) leads[c] = c + 1;
    std::shuffle(leads.begin(), leads.end(), g);
    u32 key = 1;
    auto make = [&](u32 lead, bool known) {
      std::vector<u32> pos{0};
      for (u32 c = lead + 1; c <= ncols; ++c)
        if (g() % 1000 < s.density_permille) pos.push_back(c - lead);
      typename B::Row r = B::row(V);
      u64 bytes = 0;
      r->code = B::code(pos, &r->nb_codes, &bytes);
      r->lead = lead, r->span = ncols - lead + 1, r->key = known ? key++ : 100000 + key++;
      r->flag = known ? 0 : 1, r->encoding = CODE_LZW;
      for (u32 v = 0; v < V; ++v) {
        auto* c = B::coefs(pos.size());
        const u32 p = B::prime(v);
        for (size_t j = 0; j < pos.size(); ++j) c[j] = decltype(+c[0])(1 + g() % (p - 1));
        if (known) c[0] = 1;
        r->coeffs[v] = c;
      }
      rows.push_back(r);
    };
    for (u32 k = 0; k < s.nknown; ++k) make(leads[k], true);
    for (u32 k = 0; k < s.nreduce; ++k) make(1 + g() % ncols, false);
    nreduce = s.nreduce;
    for (auto r : rows) {
      const u64 n = B::bytes(V);
      saved.emplace_back(reinterpret_cast<unsigned char*>(r), reinterpret_cast<unsigned char*>(r) + n);
    }
  }
  void restore() {
    for (size_t i = 0; i < rows.size(); ++i) std::memcpy(rows[i], saved[i].data(), saved[i].size());
  }
};

struct Build {
  using Row = ALGO_Dpol;
  static u32 vectorize() { return QUOR_NAME(vectorize); }
  static u32 prime(u32 v) { return QUOR_NAME(Primes)[v]; }
  static Row row(u32 V) {
    auto* r = static_cast<Row>(QUOR_NAME(alloc64)(ALGO_Dpol_bytes(V)));
    std::memset(static_cast<void*>(r), 0, ALGO_Dpol_bytes(V));
    return r;
  }
  static u64 bytes(u32 V) { return ALGO_Dpol_bytes(V); }
  static u8* code(const std::vector<u32>& p, u32* codes, u64* bytes) {
    return compress_lzw(p.data(), u32(p.size()), codes, bytes);
  }
  static Dom* coefs(size_t n) { return static_cast<Dom*>(QUOR_NAME(alloc64)(n * sizeof(Dom))); }
};

template <class B, class Solve>
void run(benchmark::State& state, Matrix<B>& m, Solve solve) {
  std::vector<typename B::Row> out(m.nreduce + 1);
  u64 pivots = 0;
  for (auto _ : state) {
    state.PauseTiming();
    m.restore();
    state.ResumeTiming();
    pivots = solve(m.rows.data(), u32(m.rows.size()), m.ncols, m.nreduce, out.data());
  }
  state.counters["new_rows"] = double(pivots);
}

// A small step and a larger one (more work per row, fewer syncs per flop).
const Shape kShapes[] = {{6000, 3000, 1500, 4}, {30000, 18000, 3000, 2}};

#if !QUOR_INT
void BM_elim_gf(benchmark::State& state) {
  zone_reset_memory(0);
  zone_init_tables();
  if (zone_memory_allocated < (1u << 24)) zone_memory_allocated = 1u << 24;
  Quor_want_state_percent = 0;
  set_field_prime(65521);
  nb_threads = i32(state.range(0));
  Matrix<Build> m;
  m.build(kShapes[state.range(1)], 5);
  GC_state mark;
  Quor_save_GC_state(&mark);
  run(state, m, [&](ALGO_Dpol* r, u32 n, u32 c, u32 k, ALGO_Dpol* o) {
    sort_matrix_rows(r, n);
    const u32 x = eliminate_sorted(r, n, c, k, o);
    Quor_restore_GC_state(&mark);
    return x;
  });
  nb_threads = 1;
  zone_reset_memory(0);
}
BENCHMARK(BM_elim_gf)
    ->ArgsProduct({{1, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One pivot row of n entries over 30,000 columns added into sixteen rows:
// as sixteen separate 64-bit rows (arg 0), or once into the interleaved
// 32-bit lanes of the block accumulator (arg 1).  Items are products.
void BM_block_axpy(benchmark::State& state) {
  constexpr u32 L = 16, kSpan = 30000, kEntries = 600;
  std::mt19937 g(3);
  std::vector<u16> pos(kEntries), coef(kEntries);
  for (u32 j = 0; j < kEntries; ++j) pos[j] = u16(1 + u64(j) * (kSpan - 1) / kEntries + g() % 8), coef[j] = u16(1 + g() % 65520);
  alignas(64) u32 m32[L];
  u64 m64[L];
  for (u32 b = 0; b < L; ++b) m32[b] = 1 + g() % 65520, m64[b] = m32[b];
  const Lane32 lane(65521);
  if (state.range(0) == 0) {
    std::vector<std::vector<u64>> rows(L, std::vector<u64>(kSpan + 8));
    for (auto _ : state)
      for (u32 b = 0; b < L; ++b) axpy_positions<u16>(rows[b].data(), m64[b], pos.data(), coef.data(), kEntries);
    benchmark::DoNotOptimize(rows[0][pos[0]]);
  } else {
    u32* cells = static_cast<u32*>(std::aligned_alloc(64, u64(L) * (kSpan + 8) * sizeof(u32)));
    std::memset(cells, 0, u64(L) * (kSpan + 8) * sizeof(u32));
    for (auto _ : state) axpy_lanes32<L>(cells, m32, pos.data(), coef.data(), kEntries, lane);
    benchmark::DoNotOptimize(cells[L * pos[0]]);
    std::free(cells);
  }
  state.SetItemsProcessed(i64(state.iterations()) * L * kEntries);
}
BENCHMARK(BM_block_axpy)->Arg(0)->Arg(1);
#else
void BM_elim_vp(benchmark::State& state) {
  zone_reset_memory(0);
  zone_init_tables();
  if (zone_memory_allocated < (1u << 24)) zone_memory_allocated = 1u << 24;
  Quor_int_want_state_percent = 0;
  const u32 V = u32(state.range(0));
  std::vector<u32> primes(default_primes32() + kDefaultPrimesCount - V,
                          default_primes32() + kDefaultPrimesCount);
  Quor_int_Primes = primes.data();
  Quor_int_vectorize = V;
  Matrix<Build> m;
  m.build(kShapes[0], 5);
  GC_state mark;
  Quor_int_save_GC_state(&mark);
  simul_write = 1;
  run(state, m, [&](ALGO_Dpol* r, u32 n, u32 c, u32 k, ALGO_Dpol* o) {
    Quor_int_reset_simulation();
    sort_matrix_rows(r, n);
    const u32 x = eliminate_sorted(r, n, c, k, o);
    Quor_int_restore_GC_state(&mark);
    return x;
  });
  Quor_int_reset_simulation();
  zone_reset_memory(0);
}
BENCHMARK(BM_elim_vp)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

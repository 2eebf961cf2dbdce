// Zone allocation: small records bumped between mark restores, and the
// relocation copy.
#include <benchmark/benchmark.h>

#define QUOR_INT 1
#include "core/zone.h"

namespace {
using namespace quor;
using namespace quor::quor_int;

void open_zone() {
  zone_reset_memory(0);
  zone_init_tables();
  if (zone_memory_allocated < (1u << 20)) zone_memory_allocated = 1u << 20;
}

void BM_alloc64_small(benchmark::State& state) {
  open_zone();
  const u64 size = u64(state.range(0));
  GC_state m;
  Quor_int_save_GC_state(&m);
  int n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Quor_int_alloc64(size));
    if (++n == 4096) {
      n = 0;
      Quor_int_restore_GC_state(&m);
    }
  }
  zone_reset_memory(0);
}
BENCHMARK(BM_alloc64_small)->Arg(16)->Arg(56)->Arg(200);

void BM_alloc_exact(benchmark::State& state) {
  open_zone();
  GC_state m;
  Quor_int_save_GC_state(&m);
  int n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zone_alloc_exact(24, 8));
    if (++n == 4096) {
      n = 0;
      Quor_int_restore_GC_state(&m);
    }
  }
  zone_reset_memory(0);
}
BENCHMARK(BM_alloc_exact);
}  // namespace

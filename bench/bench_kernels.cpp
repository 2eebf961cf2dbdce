// Dense matrix-vector kernels: multiply-adds per second of the threaded SSE
// driver (1, 2, 4 threads), the single SSE row and the plain residue loops.
// Compiled once per build.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/coeffs.h"
#include "core/zone.h"
#include "minpolyvgf/wiedemann_lowlevel.h"

namespace {
using namespace quor;

#if !QUOR_INT
u32 gf_prime = 65521;

// count dense rows of D symmetric 16-bit entries, 16-byte aligned, padded.
struct GfMatrix {
  std::vector<u16> store, xs, ys;
  std::vector<const u16*> table;
  std::vector<i32> list;
  u16* x = nullptr;
  i32 D = 0, n = 0;
  GfMatrix(i32 d, i32 count) : D(d) {
    quor_gf::Quor_Table_Primes = &gf_prime;
    quor_gf::init_wiedemann();
    n = i32(quor_gf::Quor_align_vector_size(u32(d)));
    store.assign(std::size_t(n) * count + 16, 0);
    u16* base = static_cast<u16*>(quor_gf::Quor_realign_ptr(store.data()));
    std::mt19937 rng(1);
    for (i32 r = 0; r < count; ++r) {
      u16* row = base + std::size_t(r) * n;
      for (i32 i = 0; i < d; ++i) row[i] = u16(std::int16_t(i32(rng() % 65521) - 32760));
      table.push_back(row);
      list.push_back(r % d);
    }
    xs.assign(n + 16, 0);
    x = static_cast<u16*>(quor_gf::Quor_realign_ptr(xs.data()));
    for (i32 i = 0; i < d; ++i) x[i] = u16(rng());
    ys.assign(d, 0);
  }
};

void BM_threaded_driver(benchmark::State& state) {
  const i32 D = i32(state.range(0)), threads = i32(state.range(1)), count = D / 4;
  GfMatrix m(D, count);
  quor_gf::nb_threads = threads;
  omp_set_num_threads(threads);
  for (auto _ : state) {
    quor_gf::dense_matrix_I32_align_vect_openmp(m.ys.data(), m.x, D, m.list.data(), count, m.table.data());
    benchmark::ClobberMemory();
  }
  state.counters["madd/s"] =
      benchmark::Counter(double(count) * m.n * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_threaded_driver)->ArgsProduct({{4096, 16384}, {1, 2, 4}})->UseRealTime();

void BM_sse_row(benchmark::State& state) {
  const i32 D = i32(state.range(0));
  GfMatrix m(D, 1);
  u16 out;
  for (auto _ : state) {
    quor_gf::dot_product_dense_sse(&out, m.table[0], m.x, m.n);
    benchmark::DoNotOptimize(out);
  }
  state.counters["madd/s"] = benchmark::Counter(double(m.n) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_sse_row)->Arg(4096)->Arg(65536);
#else
u32 int_prime = 4294967291u;

void BM_plain_int_rows(benchmark::State& state) {
  const i32 D = i32(state.range(0)), count = 64;
  quor_int::Quor_int_Table_Primes = &int_prime;
  quor_int::init_wiedemann();
  const std::size_t n = quor_int::Quor_int_align_vector_size(u32(D));
  std::vector<u32> rows(n * count), x(n), y(count);
  std::vector<i32> list(count);
  std::mt19937 rng(2);
  for (auto& v : rows) v = rng() % int_prime;
  for (auto& v : x) v = rng() % int_prime;
  for (i32 r = 0; r < count; ++r) list[r] = r;
  for (auto _ : state) {
    quor_int::Quor_int_dense_matrix_I32_align_vect(y.data(), x.data(), D, list.data(), count, rows.data());
    benchmark::ClobberMemory();
  }
  state.counters["madd/s"] =
      benchmark::Counter(double(count) * D * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_plain_int_rows)->Arg(4096);

// The integer build's matrix application: one dot product per row of a table.
void BM_int_dot_rows(benchmark::State& state) {
  const i32 D = i32(state.range(0)), count = 64;
  quor_int::Quor_int_Table_Primes = &int_prime;
  quor_int::init_wiedemann();
  const std::size_t n = quor_int::Quor_int_align_vector_size(u32(D));
  std::vector<u32> rows(n * count), x(n), y(count);
  std::mt19937 rng(2);
  for (auto& v : rows) v = rng() % int_prime;
  for (auto& v : x) v = rng() % int_prime;
  for (auto _ : state) {
    for (i32 r = 0; r < count; ++r) quor_int::Quor_int_dot_product_dense(&y[r], rows.data() + r * n, x.data(), D);
    benchmark::ClobberMemory();
  }
  state.counters["madd/s"] =
      benchmark::Counter(double(count) * D * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_int_dot_rows)->Arg(256)->Arg(4096);
#endif
}  // namespace

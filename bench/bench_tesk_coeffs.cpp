// Tesk coefficient kernels: the VGF multiply-add over 1 to 256 primes, the
// GFC one, and one scratch cycle of the VGF heap (mark, compute, restore,
// slide the survivors down).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tesk/base/gfc.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"

namespace {

using namespace tesk;

vgf::VGF random_vgf(std::mt19937_64& g) {
    vgf::VGF a = vgf::cVGF(0);
    for (unsigned i = 0; i < size_of_vectors; ++i) a._v[i] = (std::uint32_t)(g() % VGF::_prime._v[i]);
    return a;
}

// a += b*c on k residues, 64 independent accumulators per iteration.
void BM_lin_d_VGF(benchmark::State& state) {
    want_quiet = 1;
    set_VGF((unsigned)state.range(0));
    std::mt19937_64 g(1);
    std::vector<vgf::VGF> acc, b;
    for (int i = 0; i < 64; ++i) {
        acc.push_back(random_vgf(g));
        b.push_back(random_vgf(g));
    }
    vgf::VGF c = random_vgf(g);
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) vgf::lin_d(acc[i], b[i], c);
        benchmark::DoNotOptimize(acc[0]._v[0]);
    }
    state.SetItemsProcessed(state.iterations() * 64 * state.range(0));
}
BENCHMARK(BM_lin_d_VGF)->RangeMultiplier(2)->Range(1, 256);

void BM_lin_d_GFC(benchmark::State& state) {
    gfc::init_GFC();
    gfc::set_module_GFC(65521);
    std::mt19937_64 g(2);
    std::vector<unsigned> acc(1024), b(1024);
    for (auto& x : acc) x = (unsigned)(g() % 65521);
    for (auto& x : b) x = (unsigned)(g() % 65521);
    unsigned c = 12345;
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i) gfc::lin_d(acc[i], b[i], c);
        benchmark::DoNotOptimize(acc.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_lin_d_GFC);

// Mark, allocate 4096 products (one in eight survives), restore, slide.
void BM_heap_cycle(benchmark::State& state) {
    want_quiet = 1;
    set_VGF((unsigned)state.range(0));
    std::mt19937_64 g(3);
    vgf::VGF x = random_vgf(g), y = random_vgf(g);
    std::vector<vgf::VGF> live(512);
    std::vector<vgf::VGF*> handles(512);
    for (int i = 0; i < 512; ++i) handles[i] = &live[i];
    for (auto _ : state) {
        Garbage_State mark;
        vgf::save_tesk_state_VGF(&mark);
        for (int i = 0; i < 4096; ++i) {
            vgf::VGF t = vgf::mult(x, y);
            if (i % 8 == 0) live[i / 8] = t;
        }
        vgf::restore_tesk_state_VGF(&mark);
        vgf::compacteur_glissant(512, handles.data(), 0);
        vgf::restore_tesk_state_VGF(&mark);
        benchmark::DoNotOptimize(live[0]._v[0]);
    }
    state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_heap_cycle)->Arg(1)->Arg(16)->Arg(256);

}  // namespace

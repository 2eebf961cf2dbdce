// Normal forms of the Tesk engine: a monomial of high degree (every variable
// but the last to the power d) by the reduced basis of a katsura or cyclic system, modulo
// 65521 (prime-field build) and modulo two large primes at once (integer
// build).  The remainders on the way are far longer than the result.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "tesk/algo/sugar.h"
#include "tesk/base/gfc.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/examples.h"

namespace {

using namespace tesk;
using namespace tesk::poly;

// state.range(0): 1 katsura, 0 cyclic; range(1): variables; range(2): d.
template <class I>
void BM_NormalForm(benchmark::State& state) {
    const unsigned n = unsigned(state.range(1));
    want_quiet = 1;
    algo::Sugar<I>::init();
    if constexpr (I::D::kOnHeap)
        set_VGF(2);
    else
        gfc::set_module_GFC(65521);
    algo::Sugar<I>::set(n, I::L::kDegBlocks == 2 ? n : 0, 0);
    List<I>* F = state.range(0) ? Examples<I>::katsura(n, 0) : Examples<I>::cyclic(n, 0);
    List<I>* G = algo::Sugar<I>::groebner(F);
    std::vector<std::uint16_t> e(n, std::uint16_t(state.range(2)));
    e.back() = 0;
    unsigned terms = 0;
    for (auto _ : state) {
        Term<I>* r = algo::Sugar<I>::normal_form(Dmp<I>::monom_raw(e.data(), I::D::one()), G);
        terms = Dmp<I>::Terms::size(r);
        Dmp<I>::Terms::kill_all(r);
    }
    state.counters["terms"] = terms;
    Dmp<I>::Lists::kill_all(G);
    Dmp<I>::Lists::kill_all(F);
}
BENCHMARK(BM_NormalForm<DRLDRL__GFC>)->Args({1, 7, 3})->Args({0, 6, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalForm<BigDexp__VGF>)->Args({1, 7, 3})->Args({0, 6, 4})->Unit(benchmark::kMillisecond);

}  // namespace

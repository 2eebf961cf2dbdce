// Tesk staircases against the staircase size: counting the standard
// monomials (the Buchberger loop's zero-dimension test), building the
// staircase as a polynomial, and all monomials up to a degree.  The basis is
// every monomial of degree D in 6 variables: the staircase is the C(D+5, 6)
// monomials of lower degree, with many leading monomials (C(D+5, 5)) to test.
#include <benchmark/benchmark.h>

#include "tesk/base/switches.h"
#include "tesk/base/vgf_heap.h"
#include "tesk/poly/staircase.h"

namespace {

using namespace tesk;
using namespace tesk::poly;

constexpr unsigned kVars = 6;

template <class I>
void set_up() {
    want_quiet = 1;
    Dmp<I>::init();
    if constexpr (I::D::kOnHeap)
        set_VGF(2);
    else
        gfc::set_module_GFC(65521);
    Dmp<I>::set(kVars, kVars, 0);
}

// The monomials of degree d, one polynomial each.
template <class I>
List<I>* degree_ideal(unsigned d) {
    want_homog = 1;
    Term<I>* t = Staircase<I>::all_monomes(d);
    want_homog = 0;
    List<I>* l = nullptr;
    while (t) {
        Term<I>* next = t->next;
        t->next = nullptr;
        l = Dmp<I>::Lists::cons(t, l);
        t = next;
    }
    return l;
}

// Runs op(basis) per iteration inside a saved VGF heap state.
template <class I, class Op>
void run(benchmark::State& state, Op op) {
    set_up<I>();
    List<I>* l = degree_ideal<I>(unsigned(state.range(0)));
    Dmp<I>::have_sentinelle = 0;
    const std::int64_t size = Staircase<I>::is_dim0(l);
    vgf::Garbage_State mark;
    for (auto _ : state) {
        if constexpr (I::D::kOnHeap) vgf::save_tesk_state_VGF(&mark);
        op(l);
        if constexpr (I::D::kOnHeap) vgf::restore_tesk_state_VGF(&mark);
    }
    state.SetItemsProcessed(state.iterations() * size);
    Dmp<I>::Lists::kill_all(l);
    Dmp<I>::have_sentinelle = 1;
}

template <class I>
void BM_count(benchmark::State& state, I) {
    run<I>(state, [](List<I>* l) { benchmark::DoNotOptimize(Staircase<I>::is_dim0(l)); });
}
template <class I>
void BM_escalier(benchmark::State& state, I) {
    run<I>(state, [](List<I>* l) { Dmp<I>::Terms::kill_all(Staircase<I>::escalier(l)); });
}
template <class I>
void BM_all_monomes(benchmark::State& state, I) {
    const unsigned d = unsigned(state.range(0)) - 1;  // the same monomials as the staircase
    run<I>(state, [d](List<I>*) { Dmp<I>::Terms::kill_all(Staircase<I>::all_monomes(d)); });
}

BENCHMARK_CAPTURE(BM_count, BigDexp_VGF, BigDexp__VGF{})->DenseRange(4, 12, 4);
BENCHMARK_CAPTURE(BM_count, DRLDRL_GFC, DRLDRL__GFC{})->DenseRange(4, 12, 4);
BENCHMARK_CAPTURE(BM_escalier, BigDexp_VGF, BigDexp__VGF{})->DenseRange(4, 12, 4);
BENCHMARK_CAPTURE(BM_escalier, DRLDRL_GFC, DRLDRL__GFC{})->DenseRange(4, 12, 4);
BENCHMARK_CAPTURE(BM_all_monomes, BigDexp_VGF, BigDexp__VGF{})->DenseRange(4, 12, 4);
BENCHMARK_CAPTURE(BM_all_monomes, DRLDRL_GFC, DRLDRL__GFC{})->DenseRange(4, 12, 4);

}  // namespace

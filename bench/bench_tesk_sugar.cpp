// The Tesk engine's Buchberger loop with sugar on the generated katsura and
// cyclic systems: modulo 65521 (prime-field build) and modulo a vector of two
// or eight large primes at once (integer build); the same run replayed from
// its history file; and a basis for two blocks of variables, by the plain
// loop and by the homogenised, Hilbert-driven one of the ideal operations,
// on katsura and on sparse binomials of high degree.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tesk/algo/ideal_ops.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/gfc.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/examples.h"

namespace {

using namespace tesk;
using namespace tesk::poly;

template <class I>
List<I>* system_of(bool katsura, unsigned n, unsigned primes) {
    want_quiet = 1;
    algo::Sugar<I>::init();
    if constexpr (I::D::kOnHeap)
        set_VGF(primes);
    else
        gfc::set_module_GFC(65521);
    algo::Sugar<I>::set(n, I::L::kDegBlocks == 2 ? n : 0, 0);
    return katsura ? Examples<I>::katsura(n, 0) : Examples<I>::cyclic(n, 0);
}

// The basis of F (released at the end) in each round, the pairs counted.
template <class I>
algo::Sugar_Stats time_groebner(benchmark::State& state, List<I>* F) {
    algo::Sugar_Stats st;
    for (auto _ : state) {
        List<I>* G = algo::Sugar<I>::groebner(F, &st);
        benchmark::DoNotOptimize(G);
        Dmp<I>::Lists::kill_all(G);
    }
    state.counters["pairs"] = st.pairs;
    Dmp<I>::Lists::kill_all(F);
    return st;
}

// state.range(0): 1 katsura, 0 cyclic; range(1): variables; range(2): primes (integer build).
template <class I>
void BM_Sugar(benchmark::State& state) {
    List<I>* F = system_of<I>(state.range(0), unsigned(state.range(1)), unsigned(state.range(2)));
    const algo::Sugar_Stats st = time_groebner<I>(state, F);
    state.counters["reductions"] = st.reductions;
    state.counters["zero"] = st.zeros;
}
BENCHMARK(BM_Sugar<DRLDRL__GFC>)->Args({1, 7, 1})->Args({1, 8, 1})->Args({0, 6, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sugar<BigDexp__VGF>)->Args({1, 7, 2})->Args({1, 7, 8})->Args({0, 6, 2})->Unit(benchmark::kMillisecond);

// Every monomial of degree range(1) in range(0) variables: the loop is all
// pair update, every pair reducing to zero at once.
void BM_SugarMonomials(benchmark::State& state) {
    using I = DRLDRL__GFC;
    using M = Dmp<I>;
    const unsigned n = unsigned(state.range(0)), d = unsigned(state.range(1));
    Dmp<I>::Lists::kill_all(system_of<I>(true, n, 1));
    List<I>* F = nullptr;
    std::vector<std::uint16_t> e(n, 0);
    e[0] = std::uint16_t(d);
    for (;;) {  // the exponent vectors of degree d, the first variable's falling
        const std::uint32_t one = 1;
        F = M::Lists::cons(M::monom_raw(e.data(), &one, 1), F);
        unsigned i = n - 1;
        while (i > 0 && e[i - 1] == 0) --i;  // the last non-zero before the tail
        if (i == 0) break;
        --e[i - 1];
        const unsigned tail = e[n - 1] + 1;
        e[n - 1] = 0;
        e[i] = std::uint16_t(tail);
    }
    time_groebner<I>(state, F);
}
BENCHMARK(BM_SugarMonomials)->Args({60, 2})->Args({3, 127})->Unit(benchmark::kMillisecond);

// The same basis from the history of a first run: no reduction left to do.
void BM_SugarReplay(benchmark::State& state) {
    using I = DRLDRL__GFC;
    List<I>* F = system_of<I>(true, unsigned(state.range(0)), 1);
    char name[] = "/tmp/bench_sugar_XXXXXX";
    close(mkstemp(name));
    algo::Sugar<I>::open_write_history(name);
    Dmp<I>::Lists::kill_all(algo::Sugar<I>::groebner(F));
    for (auto _ : state) {
        algo::Sugar<I>::open_read_history(name);
        List<I>* G = algo::Sugar<I>::groebner(F);
        benchmark::DoNotOptimize(G);
        Dmp<I>::Lists::kill_all(G);
    }
    unlink(name);
    unlink((std::string(name) + ".gz").c_str());
    Dmp<I>::Lists::kill_all(F);
}
BENCHMARK(BM_SugarReplay)->Arg(7)->Arg(8)->Unit(benchmark::kMillisecond);

// katsura-n for a first block of k variables: range(0) n, range(1) k,
// range(2) 1 for the ideal operations' loop, 0 for the plain one.
void BM_BlockBasis(benchmark::State& state) {
    using I = DRLDRL__GFC;
    const unsigned n = unsigned(state.range(0)), k = unsigned(state.range(1));
    List<I>* F = system_of<I>(true, n, 1);
    Dmp<I>::Lists::kill_all(F);
    algo::Sugar<I>::set(n, k, 0);
    F = Examples<I>::katsura(n, 0);
    for (auto _ : state) {
        List<I>* G = state.range(2) ? algo::Ideal_Ops<I>::groebner(F) : algo::Sugar<I>::groebner(F);
        benchmark::DoNotOptimize(G);
        Dmp<I>::Lists::kill_all(G);
    }
    Dmp<I>::Lists::kill_all(F);
}
BENCHMARK(BM_BlockBasis)->Args({5, 2, 0})->Args({5, 2, 1})->Args({6, 3, 0})->Args({6, 3, 1})->Unit(benchmark::kMillisecond);

// Sparse binomials m1 - c*m2 of high degree (exponents up to 40) for two
// blocks of variables, through the ideal operations' loop, whose 8-bit
// exponents give way to 16-bit ones on the way.  range(0): the system.
struct Binomial {
    std::vector<std::uint16_t> m1;
    std::uint32_t c;
    std::vector<std::uint16_t> m2;
};
struct Binomial_System {
    std::uint32_t prime;
    unsigned n, k;
    std::vector<Binomial> polys;
};
const Binomial_System kBinomials[] = {
    {11, 4, 2, {{{0,20,0,14}, 9, {9,0,0,35}}, {{0,0,0,5}, 6, {7,21,0,0}}, {{0,34,36,0}, 2, {0,1,0,0}}, {{21,0,37,10}, 9, {6,0,0,0}}, {{20,0,0,0}, 9, {39,0,6,0}}}},
    {7919, 4, 3, {{{25,24,30,0}, 4928, {1,0,29,22}}, {{0,13,22,0}, 6537, {0,4,0,0}}, {{28,0,28,0}, 4420, {40,0,0,0}}, {{0,0,39,39}, 3847, {25,0,0,13}}, {{0,0,24,0}, 3159, {0,16,24,0}}}},
    {7919, 5, 1, {{{0,31,22,36,36}, 5315, {0,0,31,22,39}}, {{13,28,25,0,0}, 7358, {0,10,0,8,31}}, {{39,0,28,27,17}, 3417, {3,27,11,0,23}}, {{0,0,0,38,0}, 4687, {25,36,0,20,0}}, {{34,0,14,0,14}, 7083, {20,0,0,18,0}}, {{23,9,0,35,0}, 2697, {0,17,0,11,27}}}},
};

void BM_SparseBinomials(benchmark::State& state) {
    using I = DRLDRL__GFC;
    using M = Dmp<I>;
    const Binomial_System& s = kBinomials[state.range(0)];
    Dmp<I>::Lists::kill_all(system_of<I>(true, s.n, 1));
    gfc::set_module_GFC(s.prime);
    algo::Sugar<I>::set(s.n, s.k, 0);
    // Two systems in turn, the second with every c doubled: the same work,
    // and the ideal operations' memo of the last degree basis never serves.
    List<I>* F[2] = {nullptr, nullptr};
    for (std::uint32_t twice = 0; twice < 2; ++twice)
        for (const Binomial& b : s.polys) {
            const std::uint32_t one = 1, minus_c = s.prime - b.c * (1 + twice) % s.prime;
            F[twice] = M::Lists::cons(
                M::add_dd(M::monom_raw(b.m1.data(), &one, 1), M::monom_raw(b.m2.data(), &minus_c, 1)), F[twice]);
        }
    unsigned turn = 0;
    for (auto _ : state) {
        List<I>* G = algo::Ideal_Ops<I>::groebner(F[turn++ % 2]);
        benchmark::DoNotOptimize(G);
        Dmp<I>::Lists::kill_all(G);
    }
    for (List<I>* f : F) Dmp<I>::Lists::kill_all(f);
    gfc::set_module_GFC(65521);
}
BENCHMARK(BM_SparseBinomials)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

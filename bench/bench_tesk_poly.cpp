// Tesk polynomials: the cost of a sum (add_dd) and of one reduction step
// (reduire_monic) against the number of terms, for BigDexp over VGF (one
// and four primes) and DRLDRL over GFC.  The operands are copied with the
// timer paused; a batch of operations is timed at once.  Then the wire:
// writing a polynomial in protocol form and reading it back, its terms in
// chain order or shuffled (code 123: the reader sums them), against the
// reference that sums a shuffled polynomial term by term with add_dd.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <random>
#include <vector>

#include "tesk/base/switches.h"
#include "tesk/base/vgf_heap.h"
#include "tesk/poly/protocol.h"

namespace {

using namespace tesk;
using namespace tesk::poly;

constexpr unsigned kVars = 8;

template <class I>
void set_up(unsigned primes) {
    want_quiet = 1;
    Dmp<I>::init();
    if constexpr (I::D::kOnHeap)
        set_VGF(primes);
    else
        gfc::set_module_GFC(65521);
    Dmp<I>::set(kVars, kVars / 2, 0);
}

// A polynomial of `terms` distinct random monomials of degree at most 12.
template <class I>
Term<I>* random_poly(std::mt19937_64& g, unsigned terms) {
    using M = Dmp<I>;
    Term<I>* p = nullptr;
    while (M::Terms::size(p) < terms) {
        std::uint16_t e[kVars] = {};
        for (unsigned d = unsigned(g() % 13); d; --d) ++e[g() % kVars];
        p = M::or_dd(p, M::monom_raw(e, std::uint32_t(1 + g() % 60000)));
    }
    return p;
}

// Runs `op` on `batch` fresh copies per timed round, cleaning up untimed;
// the items are the terms of one operand, so items/s reads as terms/s.
template <class I, class Make, class Op>
void run_batches(benchmark::State& state, unsigned terms, Make make, Op op) {
    const unsigned batch = std::max(8u, 8192u / terms);
    using M = Dmp<I>;
    std::vector<std::pair<Term<I>*, Term<I>*>> args(batch);
    std::vector<Term<I>*> out(batch);
    vgf::Garbage_State mark;
    for (auto _ : state) {
        state.PauseTiming();
        if constexpr (I::D::kOnHeap) vgf::save_tesk_state_VGF(&mark);
        for (auto& a : args) a = make();
        state.ResumeTiming();
        for (unsigned i = 0; i < batch; ++i) out[i] = op(args[i].first, args[i].second);
        state.PauseTiming();
        for (auto* r : out) M::Terms::kill_all(r);
        if constexpr (I::D::kOnHeap) vgf::restore_tesk_state_VGF(&mark);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * batch * terms);
}

// a + b, both of `terms` terms, about half of the monomials shared.
template <class I>
void BM_add_dd(benchmark::State& state, I, unsigned primes) {
    using M = Dmp<I>;
    set_up<I>(primes);
    const unsigned n = unsigned(state.range(0));
    std::mt19937_64 g(1);
    Term<I>* a = random_poly<I>(g, n);
    Term<I>* b = M::add_dd(M::skel(a), random_poly<I>(g, n));
    while (M::Terms::size(b) > n) b = M::Terms::kill(b);
    run_batches<I>(state, n, [&] { return std::pair{M::copy(a), M::copy(b)}; },
                   [](Term<I>* x, Term<I>* y) { return M::add_dd(x, y); });
}

// One step: rest(p) + b*x^m*rest(q), p and q of `terms` terms, q monic.
template <class I>
void BM_reduction_step(benchmark::State& state, I, unsigned primes) {
    using M = Dmp<I>;
    set_up<I>(primes);
    const unsigned n = unsigned(state.range(0));
    std::mt19937_64 g(2);
    Term<I>* q = M::hMonic(random_poly<I>(g, n));
    std::uint16_t me[kVars] = {1, 0, 1, 0, 0, 0, 0, 1};
    Term<I>* mono = M::monom_raw(me, 1u);
    // p: x^m*q with its lower terms replaced by others of the same count.
    Term<I>* p = M::copy_dec(M::D::one(), mono->exp, q);
    M::Terms::kill_all(p->next);
    p->next = nullptr;
    Term<I>* low = random_poly<I>(g, 2 * n);
    while (low && M::X::greater(low->exp, p->exp) >= 0) low = M::Terms::kill(low);
    while (M::Terms::size(low) > n - 1) low = M::Terms::kill(low);
    p->next = low;
    const auto b = M::D::minus(p->coef);
    run_batches<I>(state, n, [&] { return std::pair{M::copy(p), q}; },
                   [&](Term<I>* x, Term<I>* y) { return M::reduire_monic(x, b, mono->exp, y); });
}


// Writes a polynomial of `terms` terms in protocol form to /dev/null.
template <class I>
void BM_write(benchmark::State& state, I, unsigned primes) {
    set_up<I>(primes);
    std::mt19937_64 g(3);
    Term<I>* p = random_poly<I>(g, unsigned(state.range(0)));
    WBUS w("/dev/null");
    for (auto _ : state) {
        Wire<I>::out_protocol(w, p, 0);
        w.flush();
    }
    w.kill();
    state.SetItemsProcessed(state.iterations() * state.range(0));
    Dmp<I>::Terms::kill_all(p);
}

// Reads back a polynomial of range(0) terms from a file.  range(1): 0 its
// terms in chain order, 1 shuffled (the reader sorts and sums), 2 shuffled
// and summed term by term with add_dd (the reference).
template <class I>
void BM_read(benchmark::State& state, I, unsigned primes) {
    using M = Dmp<I>;
    set_up<I>(primes);
    std::mt19937_64 g(4);
    const unsigned n = unsigned(state.range(0));
    const int mode = int(state.range(1));
    Term<I>* p = random_poly<I>(g, n);
    if (mode) {
        std::vector<Term<I>*> t;
        for (Term<I>* q = p; q; q = q->next) t.push_back(q);
        std::shuffle(t.begin(), t.end(), g);
        for (unsigned i = 0; i + 1 < n; ++i) t[i]->next = t[i + 1];
        t.back()->next = nullptr;
        p = t[0];
    }
    char path[] = "/tmp/tesk_bench_wire_XXXXXX";
    close(mkstemp(path));
    WBUS w(path);
    Wire<I>::out_protocol(w, p, 0);
    w.kill();
    RBUS r(path);
    vgf::Garbage_State mark;
    for (auto _ : state) {
        if constexpr (I::D::kOnHeap) vgf::save_tesk_state_VGF(&mark);
        lseek(r.fd1, 0, SEEK_SET);
        r.x_in = r.max_in = 0;
        Term<I>* q = nullptr;
        if (mode == 2) {
            get_word(r);
            for (std::uint32_t code = get_word(r);; code = get_word(r)) {
                q = M::add_dd(Wire<I>::lire(r), q);
                if (code == MSG_TESK_LAST_GDMP) break;
            }
        } else {
            q = Wire<I>::read(r, Messages(get_word(r)));
        }
        state.PauseTiming();
        M::Terms::kill_all(q);
        if constexpr (I::D::kOnHeap) vgf::restore_tesk_state_VGF(&mark);
        state.ResumeTiming();
    }
    r.kill();
    std::remove(path);
    state.SetItemsProcessed(state.iterations() * n);
    M::Terms::kill_all(p);
}
void read_sizes(benchmark::internal::Benchmark* b) {
    for (int n : {16, 1024, 8192}) b->Args({n, 0})->Args({n, 1})->Args({n, 2});
}

BENCHMARK_CAPTURE(BM_add_dd, BigDexp_VGF1, BigDexp__VGF{}, 1u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_add_dd, BigDexp_VGF4, BigDexp__VGF{}, 4u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_add_dd, DRLDRL_GFC, DRLDRL__GFC{}, 1u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_reduction_step, BigDexp_VGF1, BigDexp__VGF{}, 1u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_reduction_step, BigDexp_VGF4, BigDexp__VGF{}, 4u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_reduction_step, DRLDRL_GFC, DRLDRL__GFC{}, 1u)->RangeMultiplier(8)->Range(16, 8192);

BENCHMARK_CAPTURE(BM_write, BigDexp_VGF4, BigDexp__VGF{}, 4u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_write, DRLDRL_GFC, DRLDRL__GFC{}, 1u)->RangeMultiplier(8)->Range(16, 8192);
BENCHMARK_CAPTURE(BM_read, BigDexp_VGF4, BigDexp__VGF{}, 4u)->Apply(read_sizes);
BENCHMARK_CAPTURE(BM_read, DRLDRL_GFC, DRLDRL__GFC{}, 1u)->Apply(read_sizes);

}  // namespace

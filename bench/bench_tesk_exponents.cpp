// Exponent comparisons and divisibility tests of the three packed exponent
// types, over a fixed pool of random monomials.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tesk/base/bigdexp.h"
#include "tesk/base/biglexp.h"
#include "tesk/base/drldrl.h"

namespace {
using namespace tesk;

constexpr unsigned kPool = 1024;  // monomials per pool (a power of two)

// A pool of kPool random vectors of `words` words each; exponents at most
// `max`, set through `ranger` so that degrees are right.
template <class V, class Set>
std::vector<V> make_pool(unsigned n, unsigned words, unsigned max, Set ranger) {
    std::mt19937_64 g(42);
    std::vector<V> pool(std::size_t(kPool) * words, V{0});
    for (unsigned m = 0; m < kPool; ++m)
        for (unsigned i = 0; i < n; ++i) ranger(&pool[std::size_t(m) * words], unsigned(g() % (max + 1)), i);
    return pool;
}

// Pairs (i, i*7+3) of the pool, so neighbouring calls do not share operands.
template <class V, class Op>
void run_pairs(benchmark::State& st, const std::vector<V>& pool, unsigned words, Op op) {
    unsigned i = 0;
    long acc = 0;
    for (auto _ : st) {
        const V* a = &pool[std::size_t(i & (kPool - 1)) * words];
        const V* b = &pool[std::size_t((i * 7 + 3) & (kPool - 1)) * words];
        acc += op(a, b);
        ++i;
    }
    benchmark::DoNotOptimize(acc);
}

void BM_BigDexp_greater(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_BigDexp(n);
    const unsigned w = internal_nb_dbl_block_BigDexp;
    auto pool = make_pool<BigDexp>(n, w, 3, ranger_BigDexp);
    run_pairs(st, pool, w, [](const BigDexp* a, const BigDexp* b) { return greater_BigDexp(a, b); });
}
void BM_BigDexp_is_sub(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_BigDexp(n);
    const unsigned w = internal_nb_dbl_block_BigDexp;
    auto pool = make_pool<BigDexp>(n, w, 3, ranger_BigDexp);
    run_pairs(st, pool, w, [](const BigDexp* a, const BigDexp* b) { return is_sub_BigDexp(a, b); });
}
void BM_BigLexp_greater(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_BigLexp(n);
    const unsigned w = internal_nb_dbl_block_BigLexp;
    auto pool = make_pool<BigLexp>(n, w, 3, ranger_BigLexp);
    run_pairs(st, pool, w, [](const BigLexp* a, const BigLexp* b) { return greater_BigLexp(a, b); });
}
void BM_BigLexp_is_sub(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_BigLexp(n);
    const unsigned w = internal_nb_dbl_block_BigLexp;
    auto pool = make_pool<BigLexp>(n, w, 3, ranger_BigLexp);
    run_pairs(st, pool, w, [](const BigLexp* a, const BigLexp* b) { return is_sub_BigLexp(a, b); });
}
void BM_DRLDRL_greater(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_DRLDRL(n, n / 2);
    const unsigned w = internal_nb_dbl_block_DRLDRL;
    auto pool = make_pool<DRLDRL>(n, w, 3, ranger_DRLDRL);
    run_pairs(st, pool, w, [](const DRLDRL* a, const DRLDRL* b) { return greater_DRLDRL(a, b); });
}
void BM_DRLDRL_is_sub(benchmark::State& st) {
    const unsigned n = unsigned(st.range(0));
    set_nb_var_DRLDRL(n, n / 2);
    const unsigned w = internal_nb_dbl_block_DRLDRL;
    auto pool = make_pool<DRLDRL>(n, w, 3, ranger_DRLDRL);
    run_pairs(st, pool, w, [](const DRLDRL* a, const DRLDRL* b) { return is_sub_DRLDRL(a, b); });
}

BENCHMARK(BM_BigDexp_greater)->Arg(4)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(BM_BigDexp_is_sub)->Arg(4)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(BM_BigLexp_greater)->Arg(4)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(BM_BigLexp_is_sub)->Arg(4)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(BM_DRLDRL_greater)->Arg(4)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(BM_DRLDRL_is_sub)->Arg(4)->Arg(8)->Arg(16)->Arg(32);

}  // namespace

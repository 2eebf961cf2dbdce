// Buchberger's algorithm with the sugar strategy over the Tesk polynomial
// package: SUGAR__DMP__BigDexp__VGF (integer build, a vector of primes at
// once) and SUGAR__DMP__DRLDRL__GFC (prime-field build).  Written once
// (Sugar<I>); TESK_SUGAR_NAMES gives the per-instance names.
//
// Basis polynomials are monic and tagged: a header cell leads each one and
// its statistics record holds the sugar.  Pairs (SCrit) are kept in one chain
// sorted by sugar, then lcm; the criteria are Gebauer and Moeller's.  Every
// normal form of the integer build runs inside a saved coefficient-heap
// state: the state is restored afterwards and the result slid down onto it,
// so that the heap holds only what survives.
//
// The sugar of a reduced S-polynomial is the larger of the pair's sugar and
// the result's own largest degree: it depends only on the pair and the
// result, so a run replayed from its history orders its pairs as the run
// that wrote it did.
//
// History: a run may write every reduced polynomial (the reductions of the
// inputs, then of the pairs, in order) to a gzip-compressed channel and a
// later run on the same input may take them back instead of reducing.
//   non-zero  out_protocol(channel, p, 0): [123] then the terms
//   zero      [8]
//   end       [3], written when the history is closed
// The replay takes [123], [11] or [14] as a polynomial, [8] as zero and [3]
// as the end; an unknown code is warned about ("Unknown message: %u\n").
// A history is checked as it is replayed, since a damaged or foreign one
// would silently give another basis or an endless computation: its bytes
// must make whole items, each polynomial monic, fully reduced by the basis
// so far and led below its pair's lcm (at most its input's leading
// monomial), the results must end exactly where the computation does, gzip
// must find the file whole, and every input must reduce to zero by the
// basis obtained.  On the first failure the run says so in one warning line
// and starts again without the history; a replay never reduces by itself.
#ifndef TESK_ALGO_SUGAR_H
#define TESK_ALGO_SUGAR_H

#include <cstdint>
#include <vector>

#include "tesk/algo/hilbert.h"
#include "tesk/base/bus.h"
#include "tesk/base/vgf_heap.h"
#include "tesk/poly/compaction.h"
#include "tesk/poly/dmp.h"
#include "tesk/poly/scrit.h"

namespace tesk {
// 1 (at start): a pair's degree is its sugar; 0: the degree of its lcm.
extern int want_sugar_strag;
}  // namespace tesk

namespace tesk::algo {

// Runs make() and keeps only its result: in the integer build inside a saved
// heap state, which is then restored and the result's coefficients (with the
// handle a of its leading one) slid down onto it.
template <class I, class F>
inline poly::Term<I>* keep_only_result(F make) {
    if constexpr (I::D::kOnHeap) {
        Garbage_State g;
        vgf::save_tesk_state_VGF(&g);
        poly::Term<I>* h = make();
        vgf::restore_tesk_state_VGF(&g);
        if (h) {
            typename I::D::C a = h->coef;
            poly::Compaction<I>::glisser(a, h, nullptr);
        }
        return h;
    } else {
        return make();
    }
}

// What one run of the loop did.
struct Sugar_Stats {
    unsigned pairs = 0;       // pairs kept by the criteria
    unsigned reductions = 0;  // polynomials reduced by the loop itself
    unsigned zeros = 0;       // results that were zero (reduced or replayed)
    unsigned replayed = 0;    // results taken from the history
    std::int64_t dim0 = 0;    // is_dim0 of the basis: 0 for {1}, -1 not zero-dimensional, else the solutions
                              // (INT64_MAX for more)
    unsigned eliminated = 0;  // basis polynomials free of the first block of variables
    unsigned skipped = 0;     // pairs dropped by the Hilbert function
    std::uint64_t examined = 0;  // lcm tests and comparisons of the pair updates
};

template <class I>
struct Sugar {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    using Lst = poly::List<I>;
    using E = typename I::E;
    using X = typename M::X;
    using D = typename I::D;
    using C = typename D::C;
    using Crit = poly::SCrit<I>;
    using Crits = poly::Family<poly::SCrit_Spec<I>>;

    // The polynomial package, once per process.
    static void init();
    // n variables (a: first-block length, b passed on) before any term
    // record; then the pair family.
    static void set(unsigned n, unsigned a, unsigned b);

    // Sugar of a tagged polynomial (header cell first).
    static unsigned sugar(P* p) { return p->stats->sugar; }
    // Stores s; warns once per process when s exceeds 65,536.  Returns p.
    static P* set_sugar(P* p, unsigned s);
    // A new pair of the tagged f and g (older first), its degree by sugar or by lcm.
    static Crit* make_SCrit(P* f, P* g, unsigned sugar_g);

    // The normal form of p (consumed) by the monic Groebner basis G (tagged
    // or not): every term reduced, the remainder of the division; null for zero.
    static P* normal_form(P* p, Lst* G);
    // The first of the monic reducers R whose leading monomial divides e, else null.
    static P* reducer(const std::vector<P*>& R, const E* e);
    // Every term of p (consumed) reduced by the monic reducers R, not scaled.
    static P* reduce_all(P* p, const std::vector<P*>& R);

    // The history channel of the next runs: written to "<name>.gz" /
    // replayed from "<name>.gz" (null: none).  Closed by the loop.
    static void open_write_history(const char* name);
    static void open_read_history(const char* name);
    // The next run replays from this open channel instead (taken over; closed by the loop).
    static void replay_history(BUS* channel);
    static void close_history();  // writes [3] on a written history, closes both
    static void write_history(P* h);
    // 1 with the next result in h (null for zero); 0 at the end of the
    // history; -1 when its bytes do not make an item of this instance.
    static int read_history(P*& h);

    // The reduced Groebner basis of F (left intact): monic, untagged, by
    // decreasing leading monomial; {1} when the ideal is the whole ring,
    // null when every polynomial of F is zero.  With hilbert, the ideal's
    // Hilbert series (F homogeneous): the pairs of a degree whose leading
    // monomials are all found already are dropped unreduced, since they
    // reduce to zero.  Under an overflow trap that a pair's lcm trips, the
    // run releases its records and throws expo::Range_Overflow (stats
    // then tell what it did up to there).
    static Lst* groebner(Lst* F, Sugar_Stats* stats = nullptr, const Hilbert_Series* hilbert = nullptr);
    // The next run (only) gives up once it has kept more than n pairs, its
    // records released, throwing Pairs_Spent (stats tell its work); 0: no bound.
    static void limit_pairs(unsigned n);
    struct Pairs_Spent {};

private:
    struct Run;
};

template <class I> unsigned sugar(poly::Term<I>* p) { return Sugar<I>::sugar(p); }
template <class I> poly::Term<I>* set_sugar(poly::Term<I>* p, unsigned s) { return Sugar<I>::set_sugar(p, s); }

extern template struct Sugar<poly::BigDexp__VGF>;
extern template struct Sugar<poly::DRLDRL__GFC>;
extern template struct Sugar<poly::DRLDRL16__GFC>;

}  // namespace tesk::algo

#define TESK_SUGAR_NAMES(I)                                                           \
    TESK_FWD(init_SUGAR__DMP__##I, algo::Sugar<poly::I>::init)                        \
    TESK_FWD(set_SUGAR__DMP__##I, algo::Sugar<poly::I>::set)                          \
    TESK_FWD(make_SCrit__##I, algo::Sugar<poly::I>::make_SCrit)                       \
    TESK_FWD(normal_form_SUGAR__DMP__##I, algo::Sugar<poly::I>::normal_form)          \
    TESK_FWD(groebner_SUGAR__DMP__##I, algo::Sugar<poly::I>::groebner)                \
    TESK_FWD(open_write_history_SUGAR__DMP__##I, algo::Sugar<poly::I>::open_write_history) \
    TESK_FWD(open_read_history_SUGAR__DMP__##I, algo::Sugar<poly::I>::open_read_history)   \
    TESK_FWD(close_history_SUGAR__DMP__##I, algo::Sugar<poly::I>::close_history)

namespace tesk {
TESK_SUGAR_NAMES(BigDexp__VGF)
TESK_SUGAR_NAMES(DRLDRL__GFC)
TESK_SUGAR_NAMES(DRLDRL16__GFC)
using algo::set_sugar;
using algo::sugar;
}  // namespace tesk

#endif

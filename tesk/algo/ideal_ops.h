// Ideal operations over the Tesk polynomial package, every answer a reduced
// Groebner basis (monic, untagged, by decreasing leading monomial) computed
// by the sugar loop:
//   the basis of an ideal                      both instances
//   the elimination ideal of the first block   two-block instances (DRLDRL__GFC, DRLDRL16__GFC)
//   the intersection of ideals                 two-block instances
//   the quotient I : J                         two-block instances
// The one-block instance (BigDexp__VGF) has no elimination order: asking it
// for the others is fatal.  A basis for two blocks is computed from the
// homogenised system, its pairs driven by the Hilbert series: the layout
// changes on the way and is given back as it was, so the caller's lists stay
// valid, but no other list may be in use by the loop meanwhile.
//
// Elimination: with x_0 .. x_{k-1} the first block, the reduced basis of I
// for the block order keeps, among its polynomials, exactly the reduced
// basis of I ∩ k[x_k .. x_{n-1}] for the degree reverse lexicographic order
// of the second block.  Intersection and quotient run in a layout whose
// first block is the single tag variable x_0, which their inputs leave out:
//   I ∩ J = (t·I + (1 - t)·J) ∩ k[x_1 .. x_{n-1}]
//   I : g = (I ∩ (g)) / g,   I : J = the intersection of the I : g, g in J.
// Intermediate exponents are the operations' own matter: a homogenised
// loop that would leave the exponents' range gives way to the plain loop,
// and an operation of DRLDRL__GFC whose computation would leave DRLDRL's
// range (7-bit exponents, 8-bit block degrees) is done again in
// DRLDRL16__GFC, its answer brought back.  Only an answer that does not fit
// is refused, with the exponent or block degree of a user's variable.
#ifndef TESK_ALGO_IDEAL_OPS_H
#define TESK_ALGO_IDEAL_OPS_H

#include <cstdint>
#include <vector>

#include "tesk/algo/sugar.h"
#include "tesk/poly/dmp.h"

namespace tesk::algo {

// What the sugar loops of the last operation (of either instance) did, every
// attempt counted, those given up on an overflow included.
Sugar_Stats last_operation_work();

// Polynomials taken out of the term records (exponents and residues), so
// that the variable count, or the instance, may change before they are made again.
struct Detached_Lists {
    unsigned n = 0;                         // variables when detached
    std::vector<std::uint16_t> exps;        // n per term
    std::vector<std::uint32_t> residues;    // residues() per term
    std::vector<std::vector<unsigned>> polys;  // per list, per polynomial: its term count
};

template <class I>
struct Ideal_Ops {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    using Lst = poly::List<I>;
    using LL = poly::List_List<I>;

    // The reduced basis of F (left intact); null for the zero ideal.
    static Lst* groebner(Lst* F);
    // The reduced basis of F ∩ k[x_k ..], k the layout's first block (F left intact).
    static Lst* eliminate(Lst* F);
    // The reduced basis of F ∩ G (left intact, free of the tag x_0); null
    // when one of them is the zero ideal.
    static Lst* intersect(Lst* F, Lst* G);
    // The reduced basis of the intersection of every list of L (left
    // intact); {1} for no list.
    static Lst* intersect(LL* L);
    // The reduced basis of F : G (left intact, free of the tag); {1} when G
    // is the zero ideal.
    static Lst* quotient(Lst* F, Lst* G);
    // The normal forms of Q's polynomials by the basis G (both left
    // intact), in order; fatal only for a normal form past the exponents.
    static Lst* normal_forms(Lst* G, Lst* Q);
    // The normal form of a*b by the basis G (all left intact), the same
    // where a*b passes the exponents.  *went_wide is set once the
    // computation moves to the wider instance; already set, it moves at once.
    static P* normal_form_of_product(Lst* G, P* a, P* b, bool* went_wide);

    using Detached = Detached_Lists;
    // Every list of ls (released, set to null) into d, in order.
    static void detach(const std::vector<Lst**>& ls, Detached& d);
    // The lists of d again in the current layout, in the same order, each
    // variable i moved to i + shift (the variables left out must hold no
    // exponent, fatal otherwise).
    static void attach(const Detached& d, int shift, const std::vector<Lst**>& ls);
};

extern template struct Ideal_Ops<poly::BigDexp__VGF>;
extern template struct Ideal_Ops<poly::DRLDRL__GFC>;
extern template struct Ideal_Ops<poly::DRLDRL16__GFC>;

}  // namespace tesk::algo

#endif

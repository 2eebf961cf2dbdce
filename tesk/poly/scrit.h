// Critical pairs of the Buchberger loop with sugar: one family per build,
// SCrit__BigDexp__VGF (integer build) and SCrit__DRLDRL__GFC (prime-field
// build), kept in chains sorted by degree and lcm.
//
// Record s_SCrit__<instance>, 40 + 8w bytes (w = the exponent words):
//   0  totdeg   u32   the pair's degree (its sugar with the sugar strategy)
//   8  poli           first polynomial, tagged (header cell first)
//  16  polj           second polynomial, tagged
//  24  next           the family's link; the maker clears it
//  32  spare          one word no operation of the family reads (cleared by the maker)
//  40  lcmfij         w exponent words: the lcm of the two leading monomials
// A pair does not own its polynomials.  Blocks of 500 records; the family is
// re-initialised when the word count changes.
// The pair printers (plain, pretty, pseudo_list) come with the polynomial
// printers, which they use.
#ifndef TESK_POLY_SCRIT_H
#define TESK_POLY_SCRIT_H

#include <cstddef>
#include <cstdint>

#include "tesk/poly/dmp.h"

namespace tesk::poly {

template <class I>
struct SCrit {
    std::uint32_t totdeg;
    Term<I>* poli;
    Term<I>* polj;
    SCrit* next;
    std::uint64_t spare;
    typename I::E lcmfij[1];
};

template <class I>
struct SCrit_Spec : Spec_Base {
    using R = SCrit<I>;
    static constexpr unsigned K = 500;
    static constexpr bool kKeyed = true;
    static const char* name() { return I::kSCrit; }
    static unsigned key() { return I::L::words(); }
    static unsigned stride() { return 40 + 8 * I::L::words(); }
    static unsigned shown_size() { return stride(); }
    static Tesk_Malloc_Fn hook() { return I::hook(); }
};

// By increasing totdeg, then increasing lcm in the monomial order.
template <class I>
int comp_SCrit(SCrit<I>* a, SCrit<I>* b) {
    if (a->totdeg != b->totdeg) return a->totdeg > b->totdeg ? 1 : -1;
    return expo::Packed<typename I::L>::greater(a->lcmfij, b->lcmfij);
}

extern template struct Family<SCrit_Spec<BigDexp__VGF>>;
extern template struct Family<SCrit_Spec<DRLDRL__GFC>>;
extern template struct Family<SCrit_Spec<DRLDRL16__GFC>>;

}  // namespace tesk::poly

#define TESK_SCRIT_NAMES(I)                                                         \
    using s_SCrit__##I = poly::SCrit<poly::I>;                                      \
    TESK_FAMILY_NAMES(SCrit__##I, poly::Family<poly::SCrit_Spec<poly::I>>)          \
    inline int comp_SCrit__##I(s_SCrit__##I* a, s_SCrit__##I* b) { return poly::comp_SCrit(a, b); } \
    inline unsigned totdeg(s_SCrit__##I* s) { return s->totdeg; }

namespace tesk {
TESK_SCRIT_NAMES(BigDexp__VGF)
TESK_SCRIT_NAMES(DRLDRL__GFC)
TESK_SCRIT_NAMES(DRLDRL16__GFC)
static_assert(offsetof(s_SCrit__BigDexp__VGF, next) == 24 && offsetof(s_SCrit__BigDexp__VGF, lcmfij) == 40);
}  // namespace tesk

#endif

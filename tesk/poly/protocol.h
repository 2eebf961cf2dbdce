// Polynomials, lists and lists of lists on a binary channel (BUS): the
// protocol writers (history files, save copies, the server's replies), the
// compact writers, and the readers.  Written once (Wire<I>) for the three
// instances; TESK_WIRE_NAMES gives the per-instance names
// (out_protocol_DMP__BigDexp__VGF, read_List_DMP__DRLDRL__GFC, ...).
//
// Items (every code and count one 32-bit word, exponents 16-bit values):
//   polynomial   [123] then [8] for zero, else its terms, leading term first
//   term         [11] when more terms follow, [14] for the last; coefficient; exponents
//   coefficient  VGF: [171][k] k residues        GFC: [10] the residue
//   exponents    [12] one value per variable (the last left out with drop_last)
//   compact      no [123]; coefficients without their code (VGF: [k] residues),
//                exponents without [12], always every variable
//   list         [6] the polynomials [7]; list of lists: [6] the lists [7]
// A polynomial sent with [123] may hold its terms in any order and repeat a
// monomial (they are summed); without it its terms must strictly decrease.
//
// The readers take every word at its place and check it: a code that is not
// one of those expected there, a coefficient count that is not the number
// of primes in use, an exponent or degree the type cannot hold, or terms out
// of order without [123] end in Fatal with a message saying so; the channel
// refuses to read past the end of its data.  Residues are reduced, zero
// terms dropped.  Received exponents go to the variables from
// extra_nb_vars_<type> on (the server's added variables keep exponent 0).
// Writers and readers skip a header cell: only terms travel.
#ifndef TESK_POLY_PROTOCOL_H
#define TESK_POLY_PROTOCOL_H

#include "tesk/base/bus.h"
#include "tesk/poly/dmp.h"

namespace tesk::poly {

template <class I>
struct Wire {
    using P = Term<I>;
    using Lst = List<I>;
    using LL = List_List<I>;

    // ------------------------------------------------------------ writers
    static void out_protocol(BUS& b, P* p, Boolean drop_last);        // [123] then [8] or the terms
    static void out_protocol_list(BUS& b, Lst* l, Boolean drop_last); // [6] polynomials [7]
    static void out_protocol_list_list(BUS& b, LL* l, Boolean);       // [6] lists (flag 0) [7]
    static void out_domain_protocol(BUS& b);                          // exponent domain, then coefficient domain
    static void out(BUS& b, P* p);                                    // compact: [8] or the terms
    static void out_list(BUS& b, Lst* l);
    static void out_list_list(BUS& b, LL* l);

    // ------------------------------------------------------------ readers
    // One polynomial whose first code (123, 8, 11 or 14) the caller has
    // read; a fresh polynomial owned by the caller, null for zero.
    static P* read(BUS& b, Messages first);
    static P* internal_read(BUS& b, Messages first) { return read(b, first); }
    // A list whose [6] the caller has read, up to and including its [7].
    static Lst* read_list(BUS& b);
    // A list of lists whose outer [6] the caller has read.
    static LL* read_list_list(BUS& b);
    // The body of one term (its 11 or 14 read): a new term, null when its
    // coefficient reduces to zero.
    static P* lire(BUS& b);
};

#define TESK_WIRE_DECLARE(inst, dom) extern template struct Wire<inst>;
TESK_POLY_INSTANCES(TESK_WIRE_DECLARE)
#undef TESK_WIRE_DECLARE

}  // namespace tesk::poly

#define TESK_WIRE_NAMES(I, DOM)                                                              \
    TESK_FWD(out_protocol_DMP__##I, poly::Wire<poly::I>::out_protocol)                       \
    TESK_FWD(out_protocol_List_DMP__##I, poly::Wire<poly::I>::out_protocol_list)             \
    TESK_FWD(out_protocol_List_List_DMP__##I, poly::Wire<poly::I>::out_protocol_list_list)   \
    TESK_FWD(out_domain_protocol_DMP__##I, poly::Wire<poly::I>::out_domain_protocol)         \
    TESK_FWD(out_DMP__##I, poly::Wire<poly::I>::out)                                         \
    TESK_FWD(out_List_DMP__##I, poly::Wire<poly::I>::out_list)                               \
    TESK_FWD(out_List_List_DMP__##I, poly::Wire<poly::I>::out_list_list)                     \
    TESK_FWD(read_DMP__##I, poly::Wire<poly::I>::read)                                       \
    TESK_FWD(internal_read_DMP__##I, poly::Wire<poly::I>::internal_read)                     \
    TESK_FWD(read_List_DMP__##I, poly::Wire<poly::I>::read_list)                             \
    TESK_FWD(read_List_List_DMP__##I, poly::Wire<poly::I>::read_list_list)                   \
    TESK_FWD(lire_DMP__##I, poly::Wire<poly::I>::lire)

namespace tesk {
TESK_POLY_INSTANCES(TESK_WIRE_NAMES)
}  // namespace tesk

#endif

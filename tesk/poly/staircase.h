// Staircases of the Tesk polynomial package: the standard monomials of a
// basis (those that no leading monomial divides), the zero-dimension tests
// and solution counts that the Buchberger loop and the server call, the
// monomials up to a degree, the distinct monomials of a list, and the
// prepared-basis text on the Lib printer.  Written once over the instance
// (Staircase<I>); TESK_STAIRCASE_NAMES gives the per-instance names
// (escalier_DMP__BigDexp__VGF, is_dim0_DMP__DRLDRL__GFC, ...).
//
// The basis is remembered in Dmp<I>::old_base; while Dmp<I>::have_sentinelle
// is set its polynomials begin with a header cell.  A zero polynomial has no
// leading monomial and is passed over.  A staircase is one polynomial with a
// term of coefficient 1 per standard monomial.  With want_qhomogene the last
// variable is left out of the enumeration, of the dimension test and of
// divisibility.
//
// A basis is zero-dimensional when every enumerated variable has a pure power
// among its leading monomials (or one of them is 1); otherwise its staircase
// is infinite, and every operation below tests that first and answers -1 or
// null at once.
//
// Counts never list the staircase (a^100, ..., f^100 has 10^12 standard
// monomials, x0^2, ..., x69^2 has 2^70).  As a number they are exact up to
// INT64_MAX and read INT64_MAX for anything larger ("at least"); the _text
// forms are exact at any size.  Only the listings (escalier, Preparation)
// build the monomials, and they refuse (fatal) a staircase of more than
// max_listed() of them.
#ifndef TESK_POLY_STAIRCASE_H
#define TESK_POLY_STAIRCASE_H

#include <cstdint>
#include <string>

#include "tesk/poly/dmp.h"

namespace tesk::poly {

template <class I>
struct Staircase {
    using M = Dmp<I>;
    using P = Term<I>;
    using Lst = List<I>;
    using LL = List_List<I>;
    using E = typename I::E;
    using X = typename M::X;
    using D = typename I::D;
    using C = typename D::C;

    // Listings are refused past this much memory for their records.
    static constexpr std::uint64_t kListBytes = std::uint64_t(1) << 30;
    // The most standard monomials a listing takes, for the variables in force.
    static std::uint64_t max_listed();

    // The staircase of l (no header cells), greatest monomial first; null
    // when l is not zero-dimensional; fatal past max_listed() monomials (so
    // is escalier_block1).  have_sentinelle is left as it was.
    static P* escalier(Lst* l);
    // The staircase in the first block of variables (the second block's
    // exponents of the leading monomials ignored), increasing
    // lexicographically; null when it is infinite.
    static P* escalier_block1(Lst* l);
    // 0 when a leading monomial of l is 1, -1 when l is not zero-dimensional,
    // else the number of standard monomials (INT64_MAX for more);
    // have_sentinelle as it stands.
    static std::int64_t is_dim0(Lst* l);
    static std::int64_t nb_sol_dim0(Lst* l) { return is_dim0(l); }
    // is_dim0 of a list without header cells; have_sentinelle left as it was.
    static std::int64_t calculer_nb_solutions(Lst* l);
    // The same two in decimal, exact at any size ("-1", "0", "1000000000000").
    static std::string nb_sol_dim0_text(Lst* l);
    static std::string nb_solutions_text(Lst* l);
    // calculer_nb_solutions for a caller that holds the staircase in memory
    // and numbers it with int, and its dense square tables with
    // square_bytes bytes an entry: fatal, naming who, past INT_MAX or past
    // kListBytes of tables.
    static int held_nb_solutions(Lst* l, const char* who, unsigned square_bytes = 0);
    // 1 when every variable (all of them) has a pure power among the leading
    // monomials of l (no header cells) or one of them is 1, else 0.
    static int dimension0(Lst* l);

    // Every monomial of total degree at most d (exactly d with want_homog),
    // greatest first, coefficients 1: C(n+d, d) terms (fatal when d exceeds
    // the largest exponent of the type).
    static P* all_monomes(unsigned d);
    static int is_degree(const E* e, unsigned d) { return X::totalDegree(e) <= d; }
    // The terms of p of total degree exactly d, in order (the others released).
    static P* retain_only_deg(P* p, unsigned d);

    // Adds the monomials of p to the accumulator (old_base's companion memo).
    static void sparse_dim(P* p);
    // The number of distinct monomials of l (header cells skipped).
    static unsigned sparse_dim(Lst* l);
    // The number of monomials accumulated; the accumulator is emptied.
    static unsigned compute_sparse_dim();

    // The prepared-basis text of l (no header cells) on Lib: the number of
    // variables, the staircase, and for each polynomial its negated leading
    // coefficient, leading exponent and coordinates on the staircase.  Returns
    // the staircase size; -1 (nothing written, an error line on the log) when
    // l is not zero-dimensional; fatal, before writing, when its staircase is
    // larger than max_listed().
    static int Preparation(Lst* l);
    // The same for each basis of ll, numbered from 1; -1 and nothing written
    // when one of them is not zero-dimensional, else the number of bases.
    static int Preparation(LL* ll);
    // "[c,c,...]\n": g's coefficients on the staircase s (both decreasing),
    // "0" for a monomial g lacks, up to g's last term.  k is not used.
    static void conv(P* g, P* s, unsigned k = 0);
};

template <class I> unsigned sparse_dim(List<I>* l) { return Staircase<I>::sparse_dim(l); }
template <class I> int Preparation(List<I>* l) { return Staircase<I>::Preparation(l); }
template <class I> int Preparation(List_List<I>* l) { return Staircase<I>::Preparation(l); }
template <class I> void conv(Term<I>* g, Term<I>* s, unsigned k) { Staircase<I>::conv(g, s, k); }
template <class I> Term<I>* retain_only_deg(Term<I>* p, unsigned d) { return Staircase<I>::retain_only_deg(p, d); }

#define TESK_STAIRCASE_DECLARE(inst, dom) extern template struct Staircase<inst>;
TESK_POLY_INSTANCES(TESK_STAIRCASE_DECLARE)
#undef TESK_STAIRCASE_DECLARE

}  // namespace tesk::poly

#define TESK_STAIRCASE_NAMES(I, DOM)                                                          \
    TESK_FWD(escalier_DMP__##I, poly::Staircase<poly::I>::escalier)                           \
    TESK_FWD(escalier_block1_DMP__##I, poly::Staircase<poly::I>::escalier_block1)             \
    TESK_FWD(nb_sol_dim0_DMP__##I, poly::Staircase<poly::I>::nb_sol_dim0)                     \
    TESK_FWD(is_dim0_DMP__##I, poly::Staircase<poly::I>::is_dim0)                             \
    TESK_FWD(calculer_nb_solutions_DMP__##I, poly::Staircase<poly::I>::calculer_nb_solutions) \
    TESK_FWD(dimension0_DMP__##I, poly::Staircase<poly::I>::dimension0)                       \
    TESK_FWD(sparse_dim_DMP__##I, poly::Staircase<poly::I>::sparse_dim)                       \
    TESK_FWD(compute_sparse_dim_DMP__##I, poly::Staircase<poly::I>::compute_sparse_dim)

namespace tesk {

TESK_POLY_INSTANCES(TESK_STAIRCASE_NAMES)

using poly::conv;
using poly::Preparation;
using poly::retain_only_deg;
using poly::sparse_dim;

}  // namespace tesk

#endif

// The polynomial package of the Tesk engine: distributed polynomials as
// chains of term records, lists of them, lists of lists, and the statistics
// records that tag a polynomial.  Written once (Dmp<I>) and instantiated for
// BigDexp__VGF, BigLexp__VGF (integer build) and DRLDRL__GFC (prime-field
// build); TESK_DMP_NAMES gives every operation its per-instance name
// (add_DMP__BigDexp__VGF_dd, new_List_DMP__DRLDRL__GFC, ...).
//
// Records (field order is part of the interface):
//   term       {coefficient slot (8 bytes), next, exponent words}
//              The slot holds the VGF handle, or the GFC residue in its low
//              half.  A polynomial is its first term, terms strictly
//              decreasing in the exponent type's order, no zero coefficient;
//              null is the zero polynomial.  Blocks of 50,000 records, each
//              16 + 8w bytes rounded up to 16 (w = the exponent words, at
//              least one word so that a header can be marked).
//   header     a term record leading a tagged polynomial: its slot points to a
//              statistics record and exponent word 0 holds kHeaderMark, a
//              value no in-range exponent has.  copy makes a new header with
//              a copy of the statistics, kill and kill_all give the
//              statistics record back, the compaction skips the header.
//   list cell  {element (a polynomial), next}, 16 bytes; lists may share
//              polynomials; a cell owns its element only for kill_all.
//   list-of-lists cell {element (a list), next}, 16 bytes.
//   statistics {sugar u32, aux u32, extra u64, link / tag id}, 24 bytes.
// `_d` names consume their (first) polynomial argument, `_dd` both.
#ifndef TESK_POLY_DMP_H
#define TESK_POLY_DMP_H

#include <cstdint>
#include <type_traits>

#include "tesk/poly/family.h"
#include "tesk/poly/instance.h"

namespace tesk::poly {

template <class I> struct Stats;

template <class I>
struct Term {
    union {
        typename I::D::C coef;  // the coefficient (owned)
        Stats<I>* stats;        // a header cell's statistics record
    };
    Term* next;
    typename I::E exp[1];       // w words (at least one)
};

template <class I>
struct List {
    Term<I>* elt;
    List* next;
};

template <class I>
struct List_List {
    List<I>* elt;
    List_List* next;
};

template <class I>
struct Stats {
    std::uint32_t sugar;
    std::uint32_t aux;    // carried over by the copies; not read here
    std::uint64_t extra;  // the same
    union {
        Stats* next;      // on the free list
        std::uint32_t id; // while it tags a polynomial
    };
};

// A list whose polynomials each begin with a header cell.
template <class I>
struct Garb_List {
    List<I>* l;
    operator List<I>*() const { return l; }
};

// Words a term record has room for, and the limit of the package.
inline constexpr unsigned kMaxExpoWords = 512;
inline constexpr std::uint64_t kHeaderMark = ~std::uint64_t{0};

template <class I>
struct Term_Spec : Spec_Base {
    using R = Term<I>;
    static constexpr unsigned K = 50000;
    static constexpr bool kTerm = true;
    static constexpr bool kKeyed = true;
    static const char* name() { return I::kDMP; }
    static unsigned key() { return I::L::words(); }
    static unsigned record_words() { return I::L::words() ? I::L::words() : 1; }
    static unsigned stride() { return (16 + 8 * record_words() + 15) & ~15u; }
    static unsigned shown_size() { return 16 + 8 * I::L::words(); }
    static Tesk_Malloc_Fn hook() { return I::hook(); }
    static void on_fresh(R* r) { r->exp[0].w = 0; }
    static void on_kill(R* r);      // a header gives back its statistics; a term its coefficient
    static void on_kill_all(R* r) { on_kill(r); }
    static void on_free(R* r) {  // a released header is a plain record again
        if (r->exp[0].w == kHeaderMark) r->exp[0].w = 0;
    }
    static void copy_fields(R* d, const R* s);  // a header with a copy of its statistics, else a term
};

// The two list families: cells of polynomials and cells of lists.
template <class I, class Cell>
struct Cell_Spec : Spec_Base {
    using R = Cell;
    using Elt = decltype(Cell::elt);
    static constexpr bool kOfPolys = std::is_same_v<Elt, Term<I>*>;
    static constexpr unsigned K = 500;
    static const char* name() { return kOfPolys ? I::kList : I::kListList; }
    static unsigned stride() { return 16; }
    static unsigned shown_size() { return 16; }
    static Tesk_Malloc_Fn hook() { return I::hook(); }
    static void on_kill_all(R* r);                   // kill_all of the element
    static Elt copy_elt(Elt e);                      // deep copy of the element
    static unsigned hash_elt(Elt e, unsigned seed);  // Hash of the element
};
template <class I> using List_Spec = Cell_Spec<I, List<I>>;
template <class I> using List_List_Spec = Cell_Spec<I, List_List<I>>;

template <class I>
struct Stats_Spec : Spec_Base {
    using R = Stats<I>;
    static constexpr unsigned K = 500;
    static const char* name() { return I::kStats; }
    static unsigned stride() { return 24; }
    static unsigned shown_size() { return 24; }
    static Tesk_Malloc_Fn hook() { return I::hook(); }
};

// The package of one instance.  P is a polynomial (its first term record).
template <class I>
struct Dmp {
    using L = typename I::L;
    using E = typename I::E;
    using D = typename I::D;
    using C = typename D::C;
    using X = expo::Packed<L>;
    using P = Term<I>;
    using Lst = List<I>;
    using LL = List_List<I>;
    using St = Stats<I>;
    using Terms = Family<Term_Spec<I>>;
    using Lists = List_Family<List_Spec<I>>;
    using Lists2 = List_Family<List_List_Spec<I>>;
    using Stat = Family<Stats_Spec<I>>;

    // ------------------------------------------------------------ state
    static unsigned MAX_COEF;        // capacity of the compaction's handle array (20,000 until init)
    static unsigned gensym;          // last tag id handed out by link_one
    static int have_sentinelle;      // 1: basis polynomials begin with a header cell
    static unsigned memo_print_coef; // 1: the printers write coefficients
    static const char* info_string;  // phase text of a running reduction, else null
    static void (*handler)();        // information hook (initially inter_info)
    // The staircase's remembered basis and monomial accumulator: forgotten
    // (not released) when a new variable count changes the record size.
    static Lst* old_base;
    static P* memo_all_monoms;

    // ---------------------------------------------------- package, records
    // Once per process: MAX_COEF from TESK_MAX_COEF (600,000 when unset or
    // not a positive number), the domain, the exponent type, the list,
    // list-of-lists and statistics families.
    static void init();
    // The exponent type's variable count n (a: first-block length), then the
    // term family (again when the word count changed, which also forgets the
    // pair records and the staircase memo); fatal beyond kMaxExpoWords words.
    static void set(unsigned n, unsigned a, unsigned b);
    static C lc(P* p) { return p->coef; }        // p not null
    static E* degree(P* p) { return p->exp; }    // p not null
    static P* parse_new();                       // a term record, link null, fields unset
    static bool is_header(const P* t) { return t->exp[0].w == kHeaderMark; }
    static P* strip(P* p) { return p && is_header(p) ? p->next : p; }  // the terms after a header
    static void inter_info();                    // the package's information report

    // ------------------------------------------------------- construction
    static P* one();                                 // the constant 1
    static P* Coerce_from_d(C a);                    // the constant a (taken over; 0 gives null)
    static P* monom(const E* e, C c);                // c*x^e (c taken over; 0 gives null)
    static P* monom(const E* e1, const E* e2, C c);  // c*x^(e1+e2)
    static P* monom(const E* e, C c, P* p);          // c*x^e put before p (e greater than p's lead)
    // One term from n unsigned 16-bit exponents in variable order and a
    // coefficient taken over / made from one value / from k residues (each
    // reduced).  Fatal when an exponent or degree does not fit the type.
    static P* monom_raw(const std::uint16_t* exps, C c);
    static P* monom_raw(const std::uint16_t* exps, typename D::Value v);
    static P* monom_raw(const std::uint16_t* exps, const std::uint32_t* residues, unsigned k);
    static void check_raw(const std::uint16_t* exps);   // the range check of monom_raw
    static P* skel(P* p);                               // p's monomials, coefficients 1
    static P* copy(P* p) { return Terms::copy(p); }     // deep copy (a header with its statistics)

    // ------------------------------------------------- scaling and shifts
    static P* scal(C c, P* p);           // p := c*p in place (nothing when c is 1)
    static P* scal_Monom(C c, P* t);     // one term: c = 0 releases it and gives its successor
    static P* inv_scal(C c, P* p);       // every coefficient divided by c
    static P* copy_scal(C c, P* p);      // a fresh c*p
    static P* hMonic(P* p);              // leading coefficient made 1, in place
    static Lst* hMonic_List(Lst* l);     // hMonic of every polynomial
    static P* neg_d(P* p);               // -p in place
    static P* dec(C c, const E* m, P* p);       // p := c*x^m*p in place
    static P* copy_dec(C c, const E* m, P* p);  // a fresh c*x^m*p
    static P* shift(const E* m, P* p);          // p := x^m*p in place
    static void rotate_d(const E* m, P* p) { shift(m, p); }
    static P* rotate(const E* m, P* p);         // fresh x^m*p with coefficients 1
    static C content(P* p);                     // inv(lc(p)); 1 for null
    static void minus_link(P*) {}

    // ------------------------------------------------- sums and products
    static P* add_dd(P* a, P* b);   // a + b; one merge, no allocation
    // The union of the monomials; on a tie the term of the chain that gave
    // the previous result term stays (at the head, a's).
    static P* or_dd(P* a, P* b);
    static P* mult_dd(P* a, P* b);  // a*b; consumes a (also when b is 0), b intact
    static P* mult(P* a, P* b);     // a*b; both intact
    static P* mul_dd(P* a, P* b);   // a*b; consumes both, walks the shorter

    // ------------------------------------------------------------ queries
    static unsigned totalDegree(P* p);       // 0 for null; lead's degree (BigLexp: the largest of all terms)
    static unsigned totalDegree_DMP(P* p);   // sum of the lead's exponents (p not null)
    static int constante(P* p);              // 1 for null or a constant
    static int is_univariate(P* p);          // the only variable of p; -1 for none or several
    static int size(P* p);                   // largest coefficient size; 0 for null
    static int size(Lst* l);
    static double estime_log(P* p);
    static double estime_log(Lst* l);
    static P* purge_zero(P* p);              // null (p released) when lc(p) is zero
    static int eq(P* a, P* b);               // same terms
    static int is_eliminated(P* p, unsigned k);  // no term holds variables 0 .. k-1
    static int is_eliminated(P* p);              // no term holds a first-block variable
    static P* find(unsigned id, Lst* l);         // the polynomial of l tagged id, else null
    static P* find(unsigned id, Lst* l1, Lst* l2);
    static P* link_one(P* p);                // a header with a new tag id in front of p
    static P* link_one(P* p, unsigned id);   // the same with the given id
    static unsigned print_coef(unsigned flag);  // stores the printers' switch; returns the old value

    // --------------------------------------------- comparators (1, 0, -1)
    // On polynomials, leading exponents; zero polynomials (list cells) come
    // below every other polynomial.
    static int comp(P* a, P* b);          // greater(lead b, lead a): decreasing sort
    static int comp_rev(P* a, P* b);      // increasing sort
    static int comp_lex(P* a, P* b);
    static int comp2(P* a, P* b);
    static int comp_List(Lst* c, Lst* d);
    static int comp_rev_List(Lst* c, Lst* d);
    static int comp_garb_List(Lst* c, Lst* d);  // the terms after the header cells
    static int comp2_List(Lst* c, Lst* d);      // greater2, after the header cells

    // ------------------------------------------------------------- hashes
    static unsigned Hash_Monom(P* t);            // (hash of exponent + hash of coefficient) mod 16777213
    static unsigned Hash(P* p, unsigned seed);   // h := ((h << 8) + Hash_Monom(t)) mod 16777213
    static unsigned Hash_List(Lst* l, unsigned seed) { return Lists::Hash(l, seed); }
    static unsigned Hash_List_List(LL* l, unsigned seed) { return Lists2::Hash(l, seed); }

    // --------------------------------------------------------- reduction
    // a*rest(p) + b*x^m*rest(q) in one merge; p consumed, q intact; the
    // caller guarantees a*lc(p) + b*lc(q) = 0 and lead(p) = m + lead(q).
    static P* reduire(C a, P* p, C b, const E* m, P* q);
    static P* reduire_monic(P* p, C b, const E* m, P* q);  // the same with a = 1
    static P* reduire(P* p, P* q);             // one step by a monic q (fatal otherwise)
    static P* reduire_nonmonic(P* p, P* q);    // one step by any q
    // Top reduction of p by L's polynomials (zero ones skipped): with
    // cross-multiplication / dividing by the reducer's lead (f := 1).
    static P* redPo(P* p, Lst* l);
    static P* pseudo_redPo(P* p, Lst* l, C& f);
    // p / d for d the first polynomial of L, the others reducing on the side;
    // consumes p; fatal when a remainder is left or d is zero.
    static P* exquo(P* p, Lst* l);
    static P* gcd_dd(P* a, P* b);              // monic gcd (univariate); gcd(a, 0) = a monic
    // 1 when a lead of the cells [from, to) divides e, its last variable ignored.
    static int reductible(const E* e, Lst* from, Lst* to);
    static Lst* menage_homog_d(Lst* l);        // drops what the polynomials before reduce

    // --------------------------------------------------- transformations
    static P* homog_d(P* p, unsigned i);       // homogenised with variable i (not re-sorted)
    static Lst* homog_d(Lst* l, unsigned i);
    static P* de_homog_d(P* p, unsigned i);    // variable i set to 1; sorted, like terms added
    static Lst* de_homog_d(Lst* l, unsigned i);  // with the last variable (i unused)
    static P* eval_var_one_d(P* p, unsigned i) { return de_homog_d(p, i); }
    static Lst* eval_var_one_d(Lst* l, unsigned i);
    static P* eval_var_one_d(P* p) { return de_homog_d(p, L::n() ? L::n() - 1 : 0); }
    static P* permut_d(P* p, const unsigned* perm);  // variable i becomes perm[i]; re-sorted
    static P* keep_first_var_d(P* p);          // the constant and the terms holding variable 0
    static P* tosym_d(P* p);                   // the terms with non-increasing exponents
    static P* tosym(P* p);                     // a fresh tosym_d(p)
    static P* orbit(P* p);                     // sum of the scaled cyclic orbits of the terms
    static P* compact_d(P* p);                 // one term per orbit
    static P* canonic(P* p) { return compact_d(orbit(p)); }
    static P* differentiate_d(P* p, unsigned i);  // d/dx_i in place, vanishing terms dropped
    static P* coeff(P* p, int i);              // monic leading coefficient in variable i (from 1)
    static P* coeff(P* p);                     // with respect to the main variable
    static unsigned simpl_factor(P* p);        // divides out the common monomial; its degree
    static Lst* log(P* p);                     // one linear form per term after the lead
    static Lst* log_List(Lst* l);
    static P* GSL_form(P* p, P* q, unsigned i);
    static Lst* retain_polys(Lst* l, Lst*& head, unsigned k);  // splits off the polynomials free of x0..x(k-1)
    static Lst* next_not_retain(Lst* c, unsigned k);
    static Lst* substitute(const E* e, C c, Lst* l);
    // Takes the first term off c's polynomial: n 16-bit exponents into exps,
    // the residues (VGF: all, GFC: one) into coef; the term is released.
    static void extract_raw_first(Lst* c, std::uint16_t* exps, std::uint32_t* coef);
    // The same; the prime-field instance writes no coefficient.
    static void extract_raw_first_multi(Lst* c, std::uint16_t* exps, std::uint32_t* coef);

    // --------------------------------------------------------- internals
    static P* term(C c, const E* e);              // a new term c*x^e, link unset
    static P* term(C c, const E* a, const E* b);  // c*x^(a+b)
    static P* sort_and_merge(P* p);               // re-sorted, like terms added

private:
    template <bool Sum>
    static P* merge(P* a, P* b);
    static P* step(const char* phase, bool scale, C a, P* p, C b, const E* m, P* q);
    static P* top_reduce(P* p, Lst* l, bool divide);
    template <class F>
    static Lst* each(Lst* l, F f) {  // every element := f(element)
        for (Lst* c = l; c; c = c->next) c->elt = f(c->elt);
        return l;
    }
    static P* scan_keep(P* p, bool (*keep)(const E*));
    static P* one_orbit(P* t);
};

// ---------------------------------------------------------------------------
// Names without the instance: overloaded on the record type.
template <class I> unsigned totalDegree(Term<I>* p) { return Dmp<I>::totalDegree(p); }
template <class I> int size(Term<I>* p) { return Dmp<I>::size(p); }
template <class I> int size(List<I>* l) { return Dmp<I>::size(l); }
template <class I> typename I::D::C content(Term<I>* p) { return Dmp<I>::content(p); }
template <class I> double estime_log(Term<I>* p) { return Dmp<I>::estime_log(p); }
template <class I> double estime_log(List<I>* l) { return Dmp<I>::estime_log(l); }
template <class I> Term<I>* purge_zero(Term<I>* p) { return Dmp<I>::purge_zero(p); }
template <class I> unsigned Hash_Monom(Term<I>* t) { return Dmp<I>::Hash_Monom(t); }
template <class I> Term<I>* redPo(Term<I>* p, List<I>* l) { return Dmp<I>::redPo(p, l); }
template <class I> Term<I>* pseudo_redPo(Term<I>* p, List<I>* l, typename I::D::C& f) {
    return Dmp<I>::pseudo_redPo(p, l, f);
}
template <class I> int reductible(const typename I::E* e, List<I>* from, List<I>* to) {
    return Dmp<I>::reductible(e, from, to);
}
template <class I> List<I>* menage_homog_d(List<I>* l) { return Dmp<I>::menage_homog_d(l); }
template <class I> Term<I>* homog_d(Term<I>* p, unsigned i) { return Dmp<I>::homog_d(p, i); }
template <class I> List<I>* homog_d(List<I>* l, unsigned i) { return Dmp<I>::homog_d(l, i); }
template <class I> Term<I>* de_homog_d(Term<I>* p, unsigned i) { return Dmp<I>::de_homog_d(p, i); }
template <class I> List<I>* de_homog_d(List<I>* l, unsigned i) { return Dmp<I>::de_homog_d(l, i); }
template <class I> Term<I>* differentiate_d(Term<I>* p, unsigned i) { return Dmp<I>::differentiate_d(p, i); }
template <class I> unsigned simpl_factor(Term<I>* p) { return Dmp<I>::simpl_factor(p); }
template <class I> Term<I>* GSL_form(Term<I>* p, Term<I>* q, unsigned i) { return Dmp<I>::GSL_form(p, q, i); }
template <class I> List<I>* retain_polys(List<I>* l, List<I>*& head, unsigned k) {
    return Dmp<I>::retain_polys(l, head, k);
}
template <class I> List<I>* next_not_retain(List<I>* c, unsigned k) { return Dmp<I>::next_not_retain(c, k); }
template <class I> List<I>* substitute(const typename I::E* e, typename I::D::C c, List<I>* l) {
    return Dmp<I>::substitute(e, c, l);
}

// Every instance is instantiated once, in its own file (dmp_<instance>.cpp).
#define TESK_POLY_INSTANTIATION(prefix, inst)                  \
    prefix template struct Family<Term_Spec<inst>>;            \
    prefix template struct Family<List_Spec<inst>>;            \
    prefix template struct List_Family<List_Spec<inst>>;       \
    prefix template struct Family<List_List_Spec<inst>>;       \
    prefix template struct List_Family<List_List_Spec<inst>>;  \
    prefix template struct Family<Stats_Spec<inst>>;           \
    prefix template struct Dmp<inst>;
#define TESK_POLY_DECLARE(inst, dom) TESK_POLY_INSTANTIATION(extern, inst)
TESK_POLY_INSTANCES(TESK_POLY_DECLARE)
#undef TESK_POLY_DECLARE

}  // namespace tesk::poly

// ---------------------------------------------------------------------------
// Per-instance names.  Forwarders keep the overloads of their target; the
// comparators are plain functions so that they can be handed to the sorts.
#define TESK_FWD(name, ...) \
    template <class... A>   \
    inline decltype(auto) name(A&&... a) { return __VA_ARGS__(static_cast<A&&>(a)...); }

// The operations every record family has (copy excepted).
#define TESK_FAMILY_CORE_NAMES(X, ...)                  \
    TESK_FWD(init_Objet_##X, __VA_ARGS__::init_Objet)   \
    TESK_FWD(tesk_##X, __VA_ARGS__::tesk)               \
    TESK_FWD(new_##X, __VA_ARGS__::new_)                \
    TESK_FWD(kill_##X, __VA_ARGS__::kill)               \
    TESK_FWD(kill_top_##X, __VA_ARGS__::kill_top)       \
    TESK_FWD(free_##X, __VA_ARGS__::free)               \
    TESK_FWD(kill_all_##X, __VA_ARGS__::kill_all)       \
    TESK_FWD(free_all_##X, __VA_ARGS__::free_all)       \
    TESK_FWD(append_##X, __VA_ARGS__::append)           \
    TESK_FWD(size_##X, __VA_ARGS__::size)               \
    TESK_FWD(rest_##X, __VA_ARGS__::rest)               \
    TESK_FWD(trier_##X, __VA_ARGS__::trier)             \
    TESK_FWD(trier_boolean_##X, __VA_ARGS__::trier_boolean) \
    TESK_FWD(merge_boolean_##X, __VA_ARGS__::merge_boolean) \
    TESK_FWD(how_much_##X, __VA_ARGS__::how_much)       \
    TESK_FWD(copy_one_##X, __VA_ARGS__::copy_one)

#define TESK_FAMILY_NAMES(X, ...)             \
    TESK_FAMILY_CORE_NAMES(X, __VA_ARGS__)    \
    TESK_FWD(copy_##X, __VA_ARGS__::copy)

// List families: copy is the deep copy.
#define TESK_LIST_FAMILY_NAMES(X, ...)                \
    TESK_FAMILY_CORE_NAMES(X, __VA_ARGS__)            \
    TESK_FWD(cons_##X, __VA_ARGS__::cons)             \
    TESK_FWD(elt_##X, __VA_ARGS__::elt)               \
    TESK_FWD(delete_##X, __VA_ARGS__::delete_)        \
    TESK_FWD(reverse_##X, __VA_ARGS__::reverse)       \
    TESK_FWD(concat_##X, __VA_ARGS__::concat)         \
    TESK_FWD(copy_all_##X, __VA_ARGS__::copy_all)     \
    TESK_FWD(copy_##X, __VA_ARGS__::copy_all)         \
    TESK_FWD(Hash_##X, __VA_ARGS__::Hash)             \
    TESK_FWD(first_##X, __VA_ARGS__::first)           \
    TESK_FWD(safe_rest_##X, __VA_ARGS__::safe_rest)   \
    inline void init_##X() { __VA_ARGS__::init_Objet(); }

#define TESK_DMP_NAMES(I, DOM)                                                          \
    using sDMP__##I = poly::Term<poly::I>;                                              \
    using DMP__##I = sDMP__##I*;                                                        \
    using sList_DMP__##I = poly::List<poly::I>;                                         \
    using List_DMP__##I = sList_DMP__##I*;                                              \
    using sList_List_DMP__##I = poly::List_List<poly::I>;                               \
    using List_List_DMP__##I = sList_List_DMP__##I*;                                    \
    using Stats_DMP__##I = poly::Stats<poly::I>;                                        \
    using Garb_List_DMP__##I = poly::Garb_List<poly::I>;                                \
    TESK_FAMILY_NAMES(DMP__##I, poly::Family<poly::Term_Spec<poly::I>>)                 \
    TESK_LIST_FAMILY_NAMES(List_DMP__##I, poly::List_Family<poly::List_Spec<poly::I>>)  \
    TESK_LIST_FAMILY_NAMES(List_List_DMP__##I, poly::List_Family<poly::List_List_Spec<poly::I>>) \
    TESK_FAMILY_NAMES(Statistiques_DMP__##I, poly::Family<poly::Stats_Spec<poly::I>>)   \
    inline unsigned& MAX_COEF_DMP__##I = poly::Dmp<poly::I>::MAX_COEF;                  \
    inline unsigned& gensym_DMP__##I = poly::Dmp<poly::I>::gensym;                      \
    inline int& have_sentinelle_DMP__##I = poly::Dmp<poly::I>::have_sentinelle;         \
    inline unsigned& memo_print_coef_DMP__##I = poly::Dmp<poly::I>::memo_print_coef;    \
    inline auto& DMP__##I##_handler = poly::Dmp<poly::I>::handler;                      \
    inline unsigned size_first_List_DMP__##I(List_DMP__##I l) {                         \
        return l ? poly::Family<poly::Term_Spec<poly::I>>::size(l->elt) : ~0u;          \
    }                                                                                   \
    TESK_FWD(init_DMP__##I, poly::Dmp<poly::I>::init)                                   \
    TESK_FWD(set_DMP__##I, poly::Dmp<poly::I>::set)                                     \
    TESK_FWD(lc_DMP__##I, poly::Dmp<poly::I>::lc)                                       \
    TESK_FWD(degree_DMP__##I, poly::Dmp<poly::I>::degree)                               \
    TESK_FWD(Degree_DMP__##I, poly::Dmp<poly::I>::degree)                               \
    inline void sentinelle_DMP__##I() { poly::Dmp<poly::I>::have_sentinelle = 1; }     \
    inline void no_sentinelle_DMP__##I() { poly::Dmp<poly::I>::have_sentinelle = 0; }  \
    TESK_FWD(one_DMP__##I, poly::Dmp<poly::I>::one)                                     \
    TESK_FWD(Coerce_from_##DOM##_DMP__##I##_d, poly::Dmp<poly::I>::Coerce_from_d)       \
    TESK_FWD(monom_DMP__##I, poly::Dmp<poly::I>::monom)                                 \
    TESK_FWD(monom_raw_DMP__##I, poly::Dmp<poly::I>::monom_raw)                         \
    TESK_FWD(skel_DMP__##I, poly::Dmp<poly::I>::skel)                                   \
    TESK_FWD(scal_DMP__##I, poly::Dmp<poly::I>::scal)                                   \
    TESK_FWD(scal_Monom_DMP__##I, poly::Dmp<poly::I>::scal_Monom)                       \
    TESK_FWD(inv_scal_DMP__##I, poly::Dmp<poly::I>::inv_scal)                           \
    TESK_FWD(copy_scal_DMP__##I, poly::Dmp<poly::I>::copy_scal)                         \
    TESK_FWD(hMonic_DMP__##I, poly::Dmp<poly::I>::hMonic)                               \
    TESK_FWD(hMonic_List_DMP__##I, poly::Dmp<poly::I>::hMonic_List)                     \
    TESK_FWD(neg_DMP__##I##_d, poly::Dmp<poly::I>::neg_d)                               \
    TESK_FWD(dec_DMP__##I, poly::Dmp<poly::I>::dec)                                     \
    TESK_FWD(copy_dec_DMP__##I, poly::Dmp<poly::I>::copy_dec)                           \
    TESK_FWD(shift_DMP__##I, poly::Dmp<poly::I>::shift)                                 \
    TESK_FWD(rotate_DMP__##I##_d, poly::Dmp<poly::I>::rotate_d)                         \
    TESK_FWD(rotate_DMP__##I, poly::Dmp<poly::I>::rotate)                               \
    TESK_FWD(minus_link_DMP__##I, poly::Dmp<poly::I>::minus_link)                       \
    TESK_FWD(add_DMP__##I##_dd, poly::Dmp<poly::I>::add_dd)                             \
    TESK_FWD(or_DMP__##I##_dd, poly::Dmp<poly::I>::or_dd)                               \
    TESK_FWD(mult_DMP__##I##_dd, poly::Dmp<poly::I>::mult_dd)                           \
    TESK_FWD(mult_DMP__##I, poly::Dmp<poly::I>::mult)                                   \
    TESK_FWD(mul_DMP__##I##_dd, poly::Dmp<poly::I>::mul_dd)                             \
    TESK_FWD(totalDegree_DMP__##I, poly::Dmp<poly::I>::totalDegree_DMP)                 \
    TESK_FWD(constante_DMP__##I, poly::Dmp<poly::I>::constante)                         \
    TESK_FWD(is_univariate_DMP__##I, poly::Dmp<poly::I>::is_univariate)                 \
    TESK_FWD(eq_DMP__##I, poly::Dmp<poly::I>::eq)                                       \
    TESK_FWD(is_eliminated_DMP__##I, poly::Dmp<poly::I>::is_eliminated)                 \
    TESK_FWD(find_DMP__##I, poly::Dmp<poly::I>::find)                                   \
    TESK_FWD(link_one_DMP__##I, poly::Dmp<poly::I>::link_one)                           \
    TESK_FWD(print_coef_DMP__##I, poly::Dmp<poly::I>::print_coef)                       \
    TESK_FWD(parse_new_DMP__##I, poly::Dmp<poly::I>::parse_new)                         \
    TESK_FWD(Hash_DMP__##I, poly::Dmp<poly::I>::Hash)                                   \
    inline int comp_DMP__##I(DMP__##I a, DMP__##I b) { return poly::Dmp<poly::I>::comp(a, b); }          \
    inline int comp_rev_DMP__##I(DMP__##I a, DMP__##I b) { return poly::Dmp<poly::I>::comp_rev(a, b); }  \
    inline int comp_lex_DMP__##I(DMP__##I a, DMP__##I b) { return poly::Dmp<poly::I>::comp_lex(a, b); }  \
    inline int comp2_DMP__##I(DMP__##I a, DMP__##I b) { return poly::Dmp<poly::I>::comp2(a, b); }        \
    inline int comp2_DMP__##I(List_DMP__##I c, List_DMP__##I d) { return poly::Dmp<poly::I>::comp2_List(c, d); } \
    inline int comp_List_DMP__##I(List_DMP__##I c, List_DMP__##I d) { return poly::Dmp<poly::I>::comp_List(c, d); } \
    inline int comp_rev_List_DMP__##I(List_DMP__##I c, List_DMP__##I d) {              \
        return poly::Dmp<poly::I>::comp_rev_List(c, d);                                 \
    }                                                                                   \
    inline int comp_garb_List_DMP__##I(List_DMP__##I c, List_DMP__##I d) {             \
        return poly::Dmp<poly::I>::comp_garb_List(c, d);                                \
    }                                                                                   \
    TESK_FWD(reduire_DMP__##I, poly::Dmp<poly::I>::reduire)                             \
    TESK_FWD(reduire_monic_DMP__##I, poly::Dmp<poly::I>::reduire_monic)                 \
    TESK_FWD(reduire_DMP__##I##_nonmonic, poly::Dmp<poly::I>::reduire_nonmonic)         \
    TESK_FWD(exquo_DMP__##I, poly::Dmp<poly::I>::exquo)                                 \
    TESK_FWD(gcd_DMP__##I##_dd, poly::Dmp<poly::I>::gcd_dd)                             \
    TESK_FWD(eval_var_one_DMP__##I##_d, poly::Dmp<poly::I>::eval_var_one_d)             \
    TESK_FWD(permut_DMP__##I##_d, poly::Dmp<poly::I>::permut_d)                         \
    TESK_FWD(keep_first_var_DMP__##I##_d, poly::Dmp<poly::I>::keep_first_var_d)        \
    TESK_FWD(tosym_DMP__##I##_d, poly::Dmp<poly::I>::tosym_d)                           \
    TESK_FWD(tosym_DMP__##I, poly::Dmp<poly::I>::tosym)                                 \
    TESK_FWD(orbit_DMP__##I, poly::Dmp<poly::I>::orbit)                                 \
    TESK_FWD(compact_DMP__##I##_d, poly::Dmp<poly::I>::compact_d)                       \
    TESK_FWD(canonic_DMP__##I, poly::Dmp<poly::I>::canonic)                             \
    TESK_FWD(coeff_DMP__##I, poly::Dmp<poly::I>::coeff)                                 \
    TESK_FWD(log_DMP__##I, poly::Dmp<poly::I>::log)                                     \
    TESK_FWD(log_List_DMP__##I, poly::Dmp<poly::I>::log_List)                           \
    TESK_FWD(extract_raw_first_List_DMP__##I, poly::Dmp<poly::I>::extract_raw_first)    \
    TESK_FWD(extract_raw_first_List_DMP__##I##_multi, poly::Dmp<poly::I>::extract_raw_first_multi)

namespace tesk {

TESK_POLY_INSTANCES(TESK_DMP_NAMES)

using poly::content;
using poly::de_homog_d;
using poly::differentiate_d;
using poly::estime_log;
using poly::GSL_form;
using poly::Hash_Monom;
using poly::homog_d;
using poly::menage_homog_d;
using poly::next_not_retain;
using poly::pseudo_redPo;
using poly::purge_zero;
using poly::redPo;
using poly::reductible;
using poly::retain_polys;
using poly::simpl_factor;
using poly::size;
using poly::substitute;
using poly::totalDegree;

}  // namespace tesk

#endif

// Exponent type BigLexp: the integer build's monomials in the lexicographic
// order (target order of the change of ordering).
//
// Layout (W = ceil(n/4) 64-bit words): 16-bit slots, four to a word, no
// degree slot; variable i sits in slot i ^ 3, so variable 0 is the top slot
// of word 0, variables 1..3 follow downwards, variable 4 tops word 1, and so
// on.  The larger signed word is the greater monomial.  Exact while every
// exponent is at most max_exponent_BigLexp.
#ifndef TESK_BASE_BIGLEXP_H
#define TESK_BASE_BIGLEXP_H

#include "tesk/base/expo_packed.h"
#include "tesk/base/switches.h"

namespace tesk {

extern unsigned internal_nb_var_BigLexp;        // n
extern unsigned nb_variables_BigLexp;           // copy of n
extern unsigned export_nb_var_BigLexp;          // copy of n
extern unsigned internal_nb_block_BigLexp;      // W
extern unsigned internal_nb_dbl_block_BigLexp;  // W
extern unsigned internal_count_BigLexp;         // last slot, 4W - 1
extern char* Liste_variables_BigLexp[EXPO_NAME_TABLE];
extern int deja_depasse_capacite_BigLexp;       // never set: the type has no degree to overflow

inline constexpr unsigned max_exponent_BigLexp = 0x7FFF;

struct BigLexp_Layout {
    using V = BigLexp;
    static constexpr unsigned kBits = 16;
    static constexpr unsigned kOBits = 64;
    static constexpr int kDegBlocks = 0;
    static constexpr const char* kName = "BigLexp";
    static unsigned n() { return internal_nb_var_BigLexp; }
    static unsigned k() { return internal_nb_var_BigLexp; }
    static unsigned words() { return internal_nb_dbl_block_BigLexp; }
    static unsigned owords() { return internal_nb_block_BigLexp; }
    static unsigned b1() { return internal_nb_block_BigLexp; }
    static unsigned phys(unsigned i) { return i ^ 3u; }
    static int var_of_slot(unsigned s) { return (s ^ 3u) < n() ? int(s ^ 3u) : -1; }
    static constexpr unsigned deg_slot(int) { return 0; }  // no degree slot
    static constexpr std::uint64_t div_mask(unsigned) { return 0x8000800080008000ull; }
    static char** names() { return Liste_variables_BigLexp; }
    static int extra() { return extra_nb_vars_BigLexp; }
    // First variable of the variable lists: after the eliminated block with
    // want_elim (the header back at 0 with want_intersect and want_quotient_display).
    static unsigned list_start(bool header) {
        if (!want_elim || (header && want_intersect && want_quotient_display)) return 0;
        return want_block > 0 ? unsigned(want_block) : 0;
    }
    static int& overflow_flag() { return deja_depasse_capacite_BigLexp; }
};

// W = ((n-1) div 4) + 1 (0 for n = 0); other arguments ignored.
void set_nb_var_BigLexp(unsigned n, unsigned b = 0, unsigned x = 0);
// Once per process: n becomes 4, names cleared from extra_nb_vars_BigLexp on.
void init_BigLexp();

TESK_EXPO_VOCABULARY(BigLexp, BigLexp_Layout)
static_assert(max_exponent_BigLexp == expo::Packed<BigLexp_Layout>::kMaxExp);
static_assert(BigLexp_Layout::div_mask(0) == expo::Packed<BigLexp_Layout>::kSign);

inline int is_eliminated_BigLexp(const BigLexp*) { return 1; }
// Reverses all 4W slots in place.
inline void mirror_BigLexp(BigLexp* v) { expo::Packed<BigLexp_Layout>::mirror(v); }
// 1 + index of the first variable present, its exponent into e; -1 when none.
inline int mainVariable_BigLexp(const BigLexp* v, unsigned& e) {
    return expo::Packed<BigLexp_Layout>::main_variable(v, &e);
}
// d := 0, slot i of s into slot p[i] of d (i < n, raw slots).
inline void permut_fast_BigLexp(BigLexp* d, const BigLexp* s, const unsigned* p) {
    expo::Packed<BigLexp_Layout>::permut_fast(d, s, p);
}
// "BigLexp(%d)" with n - 2*extra_nb_vars_BigLexp, on the log.
void afficherName_BigLexp();
// Not provided for this type: fatal.
[[noreturn]] void mainDegree_BigLexp(BigLexp* a, BigLexp* b, const BigLexp* v);

}  // namespace tesk

#endif

// Exponent type BigDexp: the integer build's monomials in the degree reverse
// lexicographic order.
//
// Layout (W = floor(n/4) + 1 64-bit words, 0 when n = 0): 16-bit slots, four
// to a word, slot s in bits 16*(s%4).. of word s/4.  Slot 3 (top of word 0)
// is the total degree; variable i sits in slot (n-i) ^ 3, so word 0 holds,
// from the top, the degree and variables n-1, n-2, n-3, word 1 variables
// n-4 .. n-7, and so on; unused slots stay 0.  Equal degrees then make the
// smaller word the greater monomial.  Exact while every exponent is at most
// max_exponent_BigDexp and the degree at most max_degree_BigDexp.
#ifndef TESK_BASE_BIGDEXP_H
#define TESK_BASE_BIGDEXP_H

#include "tesk/base/expo_packed.h"
#include "tesk/base/switches.h"

namespace tesk {

// State of the type (set by set_nb_var_BigDexp).
extern unsigned internal_nb_var_BigDexp;        // n
extern unsigned nb_variables_BigDexp;           // copy of n
extern unsigned export_nb_var_BigDexp;          // copy of n
extern unsigned internal_nb_block_BigDexp;      // W
extern unsigned internal_nb_dbl_block_BigDexp;  // W (words of the whole-vector loops)
extern unsigned internal_count;                 // last slot, 4W - 1
extern char* Liste_variables_BigDexp[EXPO_NAME_TABLE];  // variable names (null: unnamed)
extern int deja_depasse_capacite;               // the degree-overflow warning was given

inline constexpr unsigned max_exponent_BigDexp = 0x7FFF;  // largest exact exponent
inline constexpr unsigned max_degree_BigDexp = 0xFFFF;    // largest exact degree

struct BigDexp_Layout {
    using V = BigDexp;
    static constexpr unsigned kBits = 16;
    static constexpr unsigned kOBits = 64;
    static constexpr int kDegBlocks = 1;
    static constexpr const char* kName = "BigDexp";
    static unsigned n() { return internal_nb_var_BigDexp; }
    static unsigned k() { return internal_nb_var_BigDexp; }
    static unsigned words() { return internal_nb_dbl_block_BigDexp; }
    static unsigned owords() { return internal_nb_block_BigDexp; }
    static unsigned b1() { return internal_nb_block_BigDexp; }
    static unsigned phys(unsigned i) { return (n() - i) ^ 3u; }
    static int var_of_slot(unsigned s) {
        const unsigned r = s ^ 3u;
        return (r >= 1 && r <= n()) ? int(n() - r) : -1;
    }
    static constexpr unsigned deg_slot(int) { return 3; }
    static constexpr std::uint64_t div_mask(unsigned j) {
        return j ? 0x8000800080008000ull : 0x0000800080008000ull;
    }
    static char** names() { return Liste_variables_BigDexp; }
    static int extra() { return extra_nb_vars_BigDexp; }
    static unsigned list_start(bool) { return 0; }
    static int& overflow_flag() { return deja_depasse_capacite; }
};

// Sets n (and the word counts); the other arguments are ignored.  Vectors made
// before become meaningless.
void set_nb_var_BigDexp(unsigned n, unsigned b = 0, unsigned x = 0);
// Once per process: self-test (n becomes 4), then clears the names from
// extra_nb_vars_BigDexp on.
void init_BigDexp();

TESK_EXPO_VOCABULARY(BigDexp, BigDexp_Layout)
static_assert(max_exponent_BigDexp == expo::Packed<BigDexp_Layout>::kMaxExp);
static_assert(max_degree_BigDexp == expo::Packed<BigDexp_Layout>::kMaxDeg);
static_assert(BigDexp_Layout::div_mask(1) == expo::Packed<BigDexp_Layout>::kSign &&
              BigDexp_Layout::div_mask(0) == (expo::Packed<BigDexp_Layout>::kSign >> 16));

// The degree slot.
inline unsigned totalDegree(const BigDexp* v) { return totalDegree_BigDexp(v); }
// Hash_String of the name of variable i.
inline unsigned Hash_variable(unsigned i) { return Hash_variable_BigDexp(i); }
// Always 1 (one block).
inline int is_eliminated_BigDexp(const BigDexp*) { return 1; }
// d := 0, slot i of s into slot p[i] of d (i < n, raw slots), degree from s.
inline void permut_fast_BigDexp(BigDexp* d, const BigDexp* s, const unsigned* p) {
    expo::Packed<BigDexp_Layout>::permut_fast(d, s, p);
}
// "BigDexp(%d)" with n - 2*extra_nb_vars_BigDexp, on the log.
void afficherName_BigDexp();
// Not provided for this type: fatal.
[[noreturn]] void mirror_BigDexp(BigDexp* v);
[[noreturn]] int mainVariable_BigDexp(const BigDexp* v, unsigned& e);
[[noreturn]] void mainDegree_BigDexp(BigDexp* a, BigDexp* b, const BigDexp* v);

}  // namespace tesk

#endif

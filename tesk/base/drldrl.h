// Exponent type DRLDRL: the prime-field build's monomials in the block order
// on two blocks (variables 0..k-1 and k..n-1), each block in degree reverse
// lexicographic order, the first block dominating.
//
// Layout: 8-bit slots, four to a 32-bit order word; the vector is stored as
// 64-bit words (order word 2j in the low half of storage word j), so byte b is
// bits 8*(b%8).. of storage word b/8.  Block 1 takes B1 = floor(k/4) + 1 order
// words: byte 3 is its degree, variable i < k sits in byte (k-i) ^ 3.  Block 2
// follows: floor((n-k)/4) + 1 words when k < n, else 1; byte 4*B1+3 is its
// degree, variable i >= k sits in byte (4*B1 + n - i) ^ 3.  The order-word
// count is rounded up to an even number (the extra word stays 0); no words
// for n = 0.  Exact while every exponent is at most max_exponent_DRLDRL and
// each block degree at most max_degree_DRLDRL.
#ifndef TESK_BASE_DRLDRL_H
#define TESK_BASE_DRLDRL_H

#include "tesk/base/expo_packed.h"
#include "tesk/base/switches.h"

namespace tesk {

extern unsigned internal_nb_var_DRLDRL;          // n
extern unsigned nb_variables_DRLDRL;             // copy of n
extern unsigned export_nb_var_DRLDRL;            // copy of n
extern unsigned internal_nb_var_block1_DRLDRL;   // k, the first-block length
extern unsigned internal_nb_block_block1_DRLDRL; // B1, 32-bit words of block 1
extern unsigned internal_nb_block_DRLDRL;        // 32-bit words of a vector (even)
extern unsigned internal_nb_dbl_block_DRLDRL;    // 64-bit words of a vector
extern unsigned internal_count_DRLDRL;           // last byte index
extern char* Liste_variables_DRLDRL[EXPO_NAME_TABLE];
extern int deja_depasse_capacite_DRLDRL;         // the degree-overflow warning was given
// Per 64-bit word: the sign bits of the variable bytes (degree bytes left out).
extern const std::uint64_t* internal_div_mask_DRLDRL;

inline constexpr unsigned max_exponent_DRLDRL = 0x7F;
inline constexpr unsigned max_degree_DRLDRL = 0xFF;

// The slots of the two-block layouts (DRLDRL, DRLDRL16), four to an order
// word, over Self's n(), k() and b1(): variable i < k in slot (k-i) ^ 3,
// variable i >= k in slot (4*B1 + n - i) ^ 3, the block degrees in slots 3
// and 4*B1 + 3.
template <class Self>
struct Two_Block_Slots {
    static unsigned phys(unsigned i) {
        return (i < Self::k() ? Self::k() - i : 4 * Self::b1() + Self::n() - i) ^ 3u;
    }
    static int var_of_slot(unsigned s) {
        const unsigned r = s ^ 3u, base = 4 * Self::b1(), n = Self::n(), k = Self::k();
        if (s < base) return (r >= 1 && r <= k) ? int(k - r) : -1;
        if (n <= k || r <= base || r > base + n - k) return -1;
        return int(base + n - r);
    }
    static unsigned deg_slot(int blk) { return blk ? 4 * Self::b1() + 3 : 3; }
};

struct DRLDRL_Layout : Two_Block_Slots<DRLDRL_Layout> {
    using V = DRLDRL;
    static constexpr unsigned kBits = 8;
    static constexpr unsigned kOBits = 32;
    static constexpr int kDegBlocks = 2;
    static constexpr const char* kName = "DRLDRL";
    static unsigned n() { return internal_nb_var_DRLDRL; }
    static unsigned k() { return internal_nb_var_block1_DRLDRL; }
    static unsigned words() { return internal_nb_dbl_block_DRLDRL; }
    static unsigned owords() { return internal_nb_block_DRLDRL; }
    static unsigned b1() { return internal_nb_block_block1_DRLDRL; }
    static std::uint64_t div_mask(unsigned j) { return internal_div_mask_DRLDRL[j]; }
    static char** names() { return Liste_variables_DRLDRL; }
    static int extra() { return extra_nb_vars_DRLDRL; }
    // First variable of the variable lists: k with want_elim (the header back
    // at 0 with want_intersect and want_quotient_display).
    static unsigned list_start(bool header) {
        if (!want_elim || (header && want_intersect && want_quotient_display)) return 0;
        return k() < n() ? k() : n();
    }
    static int& overflow_flag() { return deja_depasse_capacite_DRLDRL; }
};

// The order words of the two blocks of n variables, the first k in block 1,
// four slots to a word: each block's exponents and its degree.
struct Two_Block_Words {
    unsigned b1, b2;
};
inline Two_Block_Words two_block_words(unsigned n, unsigned k) { return {k / 4 + 1, k < n ? (n - k) / 4 + 1 : 1}; }

// Sets n and the first-block length k.  When n > 0 and k = 0, k is taken from
// TESKBLOCK when set; a k still 0 with n > 1 is fatal.  n = 0 gives no words
// and keeps k.  The third argument is ignored.
void set_nb_var_DRLDRL(unsigned n, unsigned k = 0, unsigned x = 0);
// Once per process: n = 4, k = 1, names cleared from extra_nb_vars_DRLDRL on.
void init_DRLDRL();

TESK_EXPO_VOCABULARY(DRLDRL, DRLDRL_Layout)
static_assert(max_exponent_DRLDRL == expo::Packed<DRLDRL_Layout>::kMaxExp);
static_assert(max_degree_DRLDRL == expo::Packed<DRLDRL_Layout>::kMaxDeg);

// Sum of the two block degrees.
inline unsigned totalDegree(const DRLDRL* v) { return totalDegree_DRLDRL(v); }
// 1 when block 1 holds no exponent.
inline int is_eliminated_DRLDRL(const DRLDRL* v) { return is_eliminated_DRLDRL(v, nb_first_block_DRLDRL()); }
// d1 := the block-1 part of v, d2 := the block-2 part.
inline void mainDegree_DRLDRL(DRLDRL* d1, DRLDRL* d2, const DRLDRL* v) {
    extract_block1_DRLDRL(d1, v);
    extract_block2_DRLDRL(d2, v);
}
// "DRLDRL(%d)" (want_elim) or "DRLDRL(%d,%d)", on the log.
void afficherName_DRLDRL();
// Not provided for this type: fatal.
[[noreturn]] void mirror_DRLDRL(DRLDRL* v);
[[noreturn]] int mainVariable_DRLDRL(const DRLDRL* v, unsigned& e);
[[noreturn]] void permut_fast_DRLDRL(DRLDRL* d, const DRLDRL* s, const unsigned* p);

}  // namespace tesk

#endif

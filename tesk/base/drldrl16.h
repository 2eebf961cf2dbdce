// Exponent type DRLDRL16: the order of DRLDRL (two blocks, each in degree
// reverse lexicographic order, the first dominating) with 16-bit slots.  The
// prime-field build's ideal operations go on in it where a computation leaves
// DRLDRL's 7-bit exponents or 8-bit block degrees; it shares DRLDRL's names.
//
// Layout: four 16-bit slots to a 64-bit word, which is also an order word.
// Block 1 takes B1 = floor(k/4) + 1 words: slot 3 is its degree, variable
// i < k sits in slot (k-i) ^ 3.  Block 2 follows: floor((n-k)/4) + 1 words
// (1 when k = n); slot 4*B1+3 is its degree, variable i >= k sits in slot
// (4*B1 + n - i) ^ 3.  No words for n = 0.  Exact while every exponent is at
// most 2^15-1 and each block degree at most 2^16-1.
#ifndef TESK_BASE_DRLDRL16_H
#define TESK_BASE_DRLDRL16_H

#include <cstdint>
#include <vector>

#include "tesk/base/drldrl.h"
#include "tesk/base/expo_packed.h"

namespace tesk {

struct DRLDRL16 { std::uint64_t w; };

// The state of the type (set by set_nb_var_DRLDRL16).
struct DRLDRL16_State {
    unsigned n = 0, k = 0;   // variables, first-block length
    unsigned b1 = 0;         // words of block 1
    unsigned words = 0;      // words of a vector
    std::vector<std::uint64_t> div_mask;  // per word: the sign bits of the variable slots
    int overflowed = 0;      // a computation left the exact range
};
extern DRLDRL16_State drldrl16_state;

struct DRLDRL16_Layout : Two_Block_Slots<DRLDRL16_Layout> {
    using V = DRLDRL16;
    static constexpr unsigned kBits = 16;
    static constexpr unsigned kOBits = 64;
    static constexpr int kDegBlocks = 2;
    static constexpr const char* kName = "DRLDRL16";
    static unsigned n() { return drldrl16_state.n; }
    static unsigned k() { return drldrl16_state.k; }
    static unsigned words() { return drldrl16_state.words; }
    static unsigned owords() { return drldrl16_state.words; }
    static unsigned b1() { return drldrl16_state.b1; }
    static std::uint64_t div_mask(unsigned j) { return drldrl16_state.div_mask[j]; }
    static char** names() { return DRLDRL_Layout::names(); }
    static int extra() { return DRLDRL_Layout::extra(); }
    static unsigned list_start(bool header) { return DRLDRL_Layout::list_start(header); }
    static int& overflow_flag() { return drldrl16_state.overflowed; }
};

// Sets n and the first-block length k (0 < k <= n when n > 0); vectors made
// before become meaningless.  The third argument is ignored.
void set_nb_var_DRLDRL16(unsigned n, unsigned k, unsigned x = 0);
// Once per process: n = 4, k = 1.
void init_DRLDRL16();

TESK_EXPO_VOCABULARY(DRLDRL16, DRLDRL16_Layout)

// 1 when block 1 holds no exponent.
inline int is_eliminated_DRLDRL16(const DRLDRL16* v) { return is_eliminated_DRLDRL16(v, nb_first_block_DRLDRL16()); }

}  // namespace tesk

#endif

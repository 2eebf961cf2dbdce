// State and set-up of the DRLDRL16 exponent type; the operations are the
// shared packed ones (expo_packed.h).
#include "tesk/base/drldrl16.h"

namespace tesk {

DRLDRL16_State drldrl16_state;

void set_nb_var_DRLDRL16(unsigned n, unsigned k, unsigned) {
    using X = expo::Packed<DRLDRL16_Layout>;
    DRLDRL16_State& s = drldrl16_state;
    s.n = n;
    s.k = k;
    if (n == 0) {
        s.b1 = s.words = 0;
        s.div_mask.clear();
        return;
    }
    const Two_Block_Words w = two_block_words(n, k);
    s.b1 = w.b1;
    s.words = w.b1 + w.b2;
    s.div_mask.assign(s.words, X::kSign);
    for (int blk : {0, 1}) {
        const unsigned d = DRLDRL16_Layout::deg_slot(blk);
        s.div_mask[d / X::P] &= ~(std::uint64_t{1} << (X::B * (d % X::P) + X::B - 1));
    }
}

void init_DRLDRL16() {
    static bool done = false;
    if (done) return;
    done = true;
    set_nb_var_DRLDRL16(4, 1);
}

}  // namespace tesk

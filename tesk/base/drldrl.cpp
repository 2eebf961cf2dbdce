// State and set-up of the DRLDRL exponent type; the operations are the
// shared packed ones (expo_packed.h).
#include "tesk/base/drldrl.h"

#include <cstdlib>
#include <vector>

namespace tesk {

unsigned internal_nb_var_DRLDRL = 0;
unsigned nb_variables_DRLDRL = 0;
unsigned export_nb_var_DRLDRL = 0;
unsigned internal_nb_var_block1_DRLDRL = 0;
unsigned internal_nb_block_block1_DRLDRL = 0;
unsigned internal_nb_block_DRLDRL = 0;
unsigned internal_nb_dbl_block_DRLDRL = 0;
unsigned internal_count_DRLDRL = 0;
char* Liste_variables_DRLDRL[EXPO_NAME_TABLE];
int deja_depasse_capacite_DRLDRL = 0;
const std::uint64_t* internal_div_mask_DRLDRL = nullptr;
static std::vector<std::uint64_t> div_masks;
static int init_done = 0;

void set_nb_var_DRLDRL(unsigned n, unsigned k, unsigned) {
    internal_nb_var_DRLDRL = nb_variables_DRLDRL = export_nb_var_DRLDRL = n;
    if (n == 0) {
        internal_nb_block_DRLDRL = internal_nb_dbl_block_DRLDRL = 0;
        internal_count_DRLDRL = ~0u;
        return;
    }
    if (k == 0)
        if (const char* s = std::getenv("TESKBLOCK")) {
            const long v = std::strtol(s, nullptr, 10);
            k = v > 0 ? unsigned(v) : 0;
        }
    if (k == 0 && n > 1)
        Fatal("You must specify the length of the first block for an elimination order %d blk=%d\n", int(n),
              want_block);
    const auto [b1, b2] = two_block_words(n, k);
    const unsigned words = (b1 + b2 + 1) & ~1u;          // a whole number of 64-bit words
    internal_nb_var_block1_DRLDRL = k;
    internal_nb_block_block1_DRLDRL = b1;
    internal_nb_block_DRLDRL = words;
    internal_nb_dbl_block_DRLDRL = words / 2;
    internal_count_DRLDRL = 4 * words - 1;
    div_masks.assign(words / 2, expo::Packed<DRLDRL_Layout>::kSign);
    for (unsigned d : {3u, 4 * b1 + 3}) div_masks[d / 8] &= ~(std::uint64_t{0x80} << (8 * (d % 8)));
    internal_div_mask_DRLDRL = div_masks.data();
}

void init_DRLDRL() {
    if (init_done) return;
    init_done = 1;
    set_nb_var_DRLDRL(4, 1);
    expo::clear_names(Liste_variables_DRLDRL, extra_nb_vars_DRLDRL);
}

void afficherName_DRLDRL() {
    const int n = int(internal_nb_var_DRLDRL) - 2 * extra_nb_vars_DRLDRL;
    const int k = int(internal_nb_var_block1_DRLDRL);
    if (want_elim)
        Output("DRLDRL(%d)", n - k);
    else
        Output("DRLDRL(%d,%d)", k, n - k);
}

void mirror_DRLDRL(DRLDRL*) { Fatal("Cas non traite dans mirror !\n"); }
int mainVariable_DRLDRL(const DRLDRL*, unsigned&) { Fatal("Pas fait mainVariable_DRLDRL !\n"); }
void permut_fast_DRLDRL(DRLDRL*, const DRLDRL*, const unsigned*) { Fatal("permut_fast_DRLDRL not implemented\n"); }

}  // namespace tesk

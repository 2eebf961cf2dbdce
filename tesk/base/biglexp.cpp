// State and set-up of the BigLexp exponent type; the operations are the
// shared packed ones (expo_packed.h).
#include "tesk/base/biglexp.h"

namespace tesk {

unsigned internal_nb_var_BigLexp = 0;
unsigned nb_variables_BigLexp = 0;
unsigned export_nb_var_BigLexp = 0;
unsigned internal_nb_block_BigLexp = 0;
unsigned internal_nb_dbl_block_BigLexp = 0;
unsigned internal_count_BigLexp = 0;
char* Liste_variables_BigLexp[EXPO_NAME_TABLE];
int deja_depasse_capacite_BigLexp = 0;
static int init_done = 0;

void set_nb_var_BigLexp(unsigned n, unsigned, unsigned) {
    internal_nb_var_BigLexp = nb_variables_BigLexp = export_nb_var_BigLexp = n;
    const unsigned w = n ? (n - 1) / 4 + 1 : 0;
    internal_nb_block_BigLexp = internal_nb_dbl_block_BigLexp = w;
    internal_count_BigLexp = 4 * w - 1;
}

void init_BigLexp() {
    if (init_done) return;
    init_done = 1;
    set_nb_var_BigLexp(4);
    expo::clear_names(Liste_variables_BigLexp, extra_nb_vars_BigLexp);
}

void afficherName_BigLexp() { Output("BigLexp(%d)", int(internal_nb_var_BigLexp) - 2 * extra_nb_vars_BigLexp); }

void mainDegree_BigLexp(BigLexp*, BigLexp*, const BigLexp*) { Fatal("Pas fait mainDegree_BigLexp\n"); }

}  // namespace tesk

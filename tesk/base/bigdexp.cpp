// State and set-up of the BigDexp exponent type; the operations are the
// shared packed ones (expo_packed.h).
#include "tesk/base/bigdexp.h"

namespace tesk {

unsigned internal_nb_var_BigDexp = 0;
unsigned nb_variables_BigDexp = 0;
unsigned export_nb_var_BigDexp = 0;
unsigned internal_nb_block_BigDexp = 0;
unsigned internal_nb_dbl_block_BigDexp = 0;
unsigned internal_count = 0;
char* Liste_variables_BigDexp[EXPO_NAME_TABLE];
int deja_depasse_capacite = 0;
static int init_done = 0;

void set_nb_var_BigDexp(unsigned n, unsigned, unsigned) {
    internal_nb_var_BigDexp = nb_variables_BigDexp = export_nb_var_BigDexp = n;
    const unsigned w = n ? n / 4 + 1 : 0;  // n variables and the degree slot
    internal_nb_block_BigDexp = internal_nb_dbl_block_BigDexp = w;
    internal_count = 4 * w - 1;
}

void init_BigDexp() {
    if (init_done) return;
    init_done = 1;
    // A compiler that folds the packed degree away would make every degree
    // look equal; catch it before anything is computed.
    set_nb_var_BigDexp(4);
    BigDexp a[2] = {}, b[2] = {};
    expo::Packed<BigDexp_Layout>::set_slot(b, BigDexp_Layout::deg_slot(0), 1);
    if (optim_BigDexp(a, b))
        Fatal("Bad Optimiser !! (try to compile without OPTIM\n"
              "Please report this fault, with the compiler and its version, to the Tesk maintainers.\n");
    expo::clear_names(Liste_variables_BigDexp, extra_nb_vars_BigDexp);
}

void afficherName_BigDexp() { Output("BigDexp(%d)", int(internal_nb_var_BigDexp) - 2 * extra_nb_vars_BigDexp); }

void mirror_BigDexp(BigDexp*) { Fatal("Cas non traite dans mirror !\n"); }
int mainVariable_BigDexp(const BigDexp*, unsigned&) { Fatal("Pas fait mainVariable_BigDexp !\n"); }
void mainDegree_BigDexp(BigDexp*, BigDexp*, const BigDexp*) { Fatal("Pas fait mainDegree_BigDexp\n"); }

}  // namespace tesk

#include "tesk/base/switches.h"

namespace tesk {

int want_output = 1;
int want_fortran = 1;
int want_posso_output = 0;
int want_head = 0;
int want_last_equation = 0;
int want_host_input = 0;
int want_Host_output = 0;
int want_rational_output = 0;
int want_float_output = 0;
int want_raw_output = 0;
int want_raw_binary_output = 0;

int want_quiet = 0;
int want_pipe = 0;
int want_pipe2 = 0;
int want_log = 0;
int want_time = 0;
int want_storage = 1;
int want_Host_syntax = 0;
int want_Host_show = 0;

int want_elim = 0;
int want_intersect = 0;
int want_quotient_display = 0;
int want_block = -1;
int want_offset_primes = 0;
int want_homog = 0;
int want_qhomogene = 0;

char** global_List_variables = nullptr;

int extra_nb_vars_BigDexp = 0;
int extra_nb_end_vars_BigDexp = 0;
int extra_nb_vars_BigLexp = 0;
int extra_nb_end_vars_BigLexp = 0;
int extra_nb_vars_DRLDRL = 0;
int extra_nb_end_vars_DRLDRL = 0;

}  // namespace tesk

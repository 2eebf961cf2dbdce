// Behaviour switches of the Tesk engine, read at the time of use.  The
// library's bridge sets a few of them once; the rest change only through the
// stand-alone server's options.  All are 32-bit.
#ifndef TESK_BASE_SWITCHES_H
#define TESK_BASE_SWITCHES_H

namespace tesk {

// Output selection.
extern int want_output;             // 1: AFFICHE prints; 0 ("-nooutput") prints nothing
extern int want_fortran;            // 1: AFFICHE uses the plain (Fortran) printer
extern int want_posso_output;       // 0: with want_fortran 0, AFFICHE uses the PoSSo printer
extern int want_head;               // 0: list printing keeps only leading terms
extern int want_last_equation;      // 0: list printing keeps only the last polynomial
extern int want_host_input;         // 0: host-input list form
extern int want_Host_output;        // 0: host form of coefficients (coefficient 1 written)
extern int want_rational_output;    // 0: coefficients over the leading one
extern int want_float_output;       // 0: floating output of coefficients
extern int want_raw_output;         // 0: coefficients written even when switched off
extern int want_raw_binary_output;  // 0: raw binary coefficient words

// Messages and the closing report.
extern int want_quiet;              // 0; 1: Inform and trace lines write nothing
extern int want_pipe;               // 0 (1 after the bridge's set-up and in the server)
extern int want_pipe2;              // 0: spawning channels show their command on stdout
extern int want_log;                // 0: close_file closes log_output only when set
extern int want_time;               // 0: last_info prints the total time when set
extern int want_storage;            // 1: last_info calls its report hooks
extern int want_Host_syntax;        // 0: channel failures end in Fatal("\n"); init file ".hostrc"
extern int want_Host_show;          // 0: a spawned peer's output is kept

// Orders and variables.
extern int want_elim;               // 0: variable headers start after the eliminated block
extern int want_intersect;          // 0
extern int want_quotient_display;   // 0
extern int want_block;              // -1: length of the first variable block
extern int want_offset_primes;      // 0: shift of the default VGF primes
extern int want_homog;              // 0: all_monomes keeps only degree d exactly
extern int want_qhomogene;          // 0: the last variable is left out of enumerations

// Variable names given by the input parser; when set, every exponent printer
// uses this table (index = variable).
extern char** global_List_variables;

// Leading / trailing variables that the server front end adds, per exponent type.
extern int extra_nb_vars_BigDexp;
extern int extra_nb_end_vars_BigDexp;
extern int extra_nb_vars_BigLexp;
extern int extra_nb_end_vars_BigLexp;
extern int extra_nb_vars_DRLDRL;
extern int extra_nb_end_vars_DRLDRL;

}  // namespace tesk

#endif

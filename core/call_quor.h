/* Public call interface of both builds: request set-up, polynomial creation
 * and export, memory, and the computation calls.
 *
 * Plain C as well as C++: a recorded program (a replayable C text of a
 * request) defines LIBMODE (2: integer build, 1: prime-field build) and
 * includes this header; QUOR(x) then names the build's function x.  In C the
 * polynomial handles are opaque; in C++ they are the library's own records.
 *
 * Calling order of a request (X = Quor_int_ or Quor_):
 *   X reset_memory, X init_urgent, X init, X internal_threads, X reset_coeffs,
 *   X reset_expos, per polynomial X creat_poly / X set_expos2 / X set_coeff_* /
 *   X full_sort_poly2, X groebner or X hilbert, the export calls, and the
 *   next X reset_memory (which ends the results of BOTH builds).
 * Wrong arguments end in the build's fatal channel (a host error). */
#ifndef QUOR_CORE_CALL_QUOR_H
#define QUOR_CORE_CALL_QUOR_H

#include <gmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#ifndef QUOR_EXPORT
#ifdef __cplusplus
#define QUOR_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define QUOR_EXPORT extern __attribute__((visibility("default")))
#endif
#endif

typedef int32_t I32;
typedef uint32_t UI32;

/* The computation descriptor: thirteen signed 32-bit fields, in this order. */
struct sQUOR_Comp_Desc {
  I32 _compute;     /* strategy code (below) */
  I32 _nb;          /* extra polynomials of the normal-form and radical strategies */
  I32 _force_elim;  /* elimination switch of the (first) basis computation */
  I32 _off;         /* offset of the first prime block (negative: random) */
  I32 _index;       /* capacity of the monomial table (0: unchanged) */
  I32 _zone;        /* recorded only */
  I32 _memory;      /* zone table capacity in units of 30,000 entries (0: unchanged) */
  I32 _nb2;         /* polynomials of the second stage */
  I32 _force_elim2; /* elimination switch of the second stage */
  I32 _bk2;         /* block parameter of the second stage */
  I32 _aggressive2; /* zero-row threshold of the aggressive skip (prime field) */
  I32 _dlim;        /* degree limit (not positive: none) */
  I32 _skip;        /* skip count of the aggressive skip (prime field) */
};
typedef struct sQUOR_Comp_Desc* QUOR_Comp_Desc;

/* Strategy codes of _compute; the host passes the names. */
enum {
  QUOR_COMPUTE_GBASIS = 1,
  QUOR_COMPUTE_RRFORM = 2,
  QUOR_COMPUTE_RRFORM_SQFR = 3,
  QUOR_COMPUTE_MINPOLY = 4,
  QUOR_COMPUTE_MINPOLY_SQFR = 5,
  QUOR_COMPUTE_GBASIS_NF = 6,
  QUOR_COMPUTE_GBASIS_NF_RECOMPUTE = 7,
  QUOR_COMPUTE_RADICAL_STRATEG1 = 8,
  QUOR_COMPUTE_RADICAL_STRATEG2 = 9,
  QUOR_COMPUTE_NOP = 10,
  QUOR_COMPUTE_GBASIS_MULTI = 11,
  QUOR_COMPUTE_MATRIXN = 12
};

#ifdef __cplusplus
namespace quor {
struct sTable_de_Recherche;
namespace quor_int { struct sDpol; struct sDpol_INT; struct sCrit; }
namespace quor_gf { struct sDpol; struct sCrit; }

/* Names of the strategy codes 1 .. 12, in code order. */
inline constexpr const char* kStrategyNames[12] = {
    "QUOR_COMPUTE_GBASIS",           "QUOR_COMPUTE_RRFORM",
    "QUOR_COMPUTE_RRFORM_SQFR",      "QUOR_COMPUTE_MINPOLY",
    "QUOR_COMPUTE_MINPOLY_SQFR",     "QUOR_COMPUTE_GBASIS_NF",
    "QUOR_COMPUTE_GBASIS_NF_RECOMPUTE", "QUOR_COMPUTE_RADICAL_STRATEG1",
    "QUOR_COMPUTE_RADICAL_STRATEG2", "QUOR_COMPUTE_NOP",
    "QUOR_COMPUTE_GBASIS_MULTI",     "QUOR_COMPUTE_MATRIXN"};
/* Code of a strategy name (whole text compared, "QUOR_COMPUTE_RRFORM" tried first); any other text: 1. */
I32 strategy_code(const char* name);
/* Name of a code, "QUOR_???" outside 1 .. 12. */
const char* strategy_name(I32 code);
}  // namespace quor
#define QUOR_CQ_INPOLY quor::quor_int::sDpol_INT*   /* integer build: input and result polynomials */
#define QUOR_CQ_INTMOD quor::quor_int::sDpol*       /* integer build: residue form */
#define QUOR_CQ_GFPOLY quor::quor_gf::sDpol*        /* prime-field build: polynomials */
#define QUOR_CQ_INTCRIT quor::quor_int::sCrit*
#define QUOR_CQ_GFCRIT quor::quor_gf::sCrit*
#define QUOR_CQ_TABLE quor::sTable_de_Recherche*
#define QUOR_CQ_EXPOS uint64_t*
#else
typedef struct Quor_opaque_poly* Dpol;
typedef Dpol Dpol_INT;
#define QUOR_CQ_INPOLY Dpol
#define QUOR_CQ_INTMOD Dpol
#define QUOR_CQ_GFPOLY Dpol
#define QUOR_CQ_INTCRIT void*
#define QUOR_CQ_GFCRIT void*
#define QUOR_CQ_TABLE void*
#define QUOR_CQ_EXPOS uint64_t*
/* The log stream a recorded program hands to init: the host passes none. */
static FILE* const log_output __attribute__((unused)) = 0;
/* Mode of the message sink that the printers below end in: 0 silent (a
 * replay's start: no host sets it), 3 the process's standard error. */
QUOR_EXPORT I32 Quor_verb_info;
#endif

#ifdef LIBMODE
#if LIBMODE == 2
#define QUOR(x) Quor_int_##x
#else
#define QUOR(x) Quor_##x
#endif
#endif

/* ---- request set-up and memory ------------------------------------------
 * init_urgent: checks the sizes (4 or 2, 2), the order "DRLDRL" and 100000,
 * makes the zone tables and the monomial table (returned); record != 0 turns
 * the recorder on.  init: per-request switches, returns the sentinel pair.
 * reset_memory releases the system blocks of BOTH builds and ends every
 * request state that pointed into them (results, counts, export buffers). */
QUOR_EXPORT QUOR_CQ_TABLE Quor_int_init_urgent(UI32 sizeof_Dom, UI32 sizeof_NNI, const char* ordering, UI32 maxi_base, I32 record);
QUOR_EXPORT QUOR_CQ_TABLE Quor_init_urgent(UI32 sizeof_Dom, UI32 sizeof_NNI, const char* ordering, UI32 maxi_base, I32 record);
QUOR_EXPORT QUOR_CQ_INTCRIT Quor_int_init(UI32 a, UI32 b, UI32 chinese_only, FILE* log);
QUOR_EXPORT QUOR_CQ_GFCRIT Quor_init(UI32 a, UI32 b, UI32 chinese_only, FILE* log);
/* Integer build: -1 (no threads). Prime field: sets the thread count (n<0: maximum, 0: 1 unless already set -> 0). */
QUOR_EXPORT I32 Quor_int_internal_threads(I32 n);
QUOR_EXPORT I32 Quor_internal_threads(I32 n);
/* n primes per block (integer build; 1 <= n <= 40000). */
QUOR_EXPORT void Quor_int_reset_coeffs(UI32 n);
/* The one prime pr[0] (a prime below 65536; n is ignored). */
QUOR_EXPORT void Quor_reset_coeffs(UI32 n, const UI32* pr);
/* first + second variables (1 .. 9999) named names[0 ..]; the names are kept, not copied. */
QUOR_EXPORT void Quor_int_reset_expos(UI32 first, UI32 second, char** names);
QUOR_EXPORT void Quor_reset_expos(UI32 first, UI32 second, char** names);
QUOR_EXPORT void Quor_int_reset_memory(void);
QUOR_EXPORT void Quor_reset_memory(void);
/* keep_other 0: releases both builds' blocks; 1: only forgets this build's state. */
QUOR_EXPORT void Quor_int_reset_memory_internal(I32 keep_other);
QUOR_EXPORT void Quor_reset_memory_internal(I32 keep_other);
/* Releases every block of both builds (as the memory reset); returns 1. */
QUOR_EXPORT I32 Quor_int_free_memory(void);
QUOR_EXPORT I32 Quor_free_memory(void);

/* ---- services ------------------------------------------------------------ */
QUOR_EXPORT I32 Quor_int_internal_version(void);  /* 12625 */
QUOR_EXPORT I32 Quor_internal_version(void);      /* 12624 */
/* Prints the build report through the output channel; returns the version. */
QUOR_EXPORT I32 Quor_int_internal_report(void);
QUOR_EXPORT I32 Quor_internal_report(void);
QUOR_EXPORT void Quor_int_log(FILE* stream);      /* the output stream */
QUOR_EXPORT void Quor_log(FILE* stream);
QUOR_EXPORT I32 Quor_int_scheduler(void);         /* 0 */
QUOR_EXPORT I32 Quor_scheduler(void);
/* Path of the record program open now, or of the last one closed ("" before
 * any): the time-stamped name under /tmp/ (a taken name gets "_1", "_2", ...),
 * or "quorrecord" in the current directory when /tmp cannot be written. */
QUOR_EXPORT const char* Quor_int_record_file_name(void);
QUOR_EXPORT const char* Quor_record_file_name(void);
/* One interrupt poll, then the stop flag. */
QUOR_EXPORT I32 Quor_int_stop_immediately(void);
QUOR_EXPORT I32 Quor_stop_immediately(void);
/* User + system CPU seconds of the process. */
QUOR_EXPORT double Quor_int_cpu(void);
QUOR_EXPORT double Quor_cpu(void);
QUOR_EXPORT I32 Quor_int_want_full_lift(void);
QUOR_EXPORT I32 Quor_want_full_lift(void);
QUOR_EXPORT void Quor_int_mark_useless(I32 x);    /* nothing */
QUOR_EXPORT void Quor_mark_useless(I32 x);
QUOR_EXPORT I32 Quor_int_is_useful(void);         /* 1 */
QUOR_EXPORT I32 Quor_is_useful(void);
/* Debugging hold: prints "Attendre\n", then waits until the process is stopped. */
QUOR_EXPORT void Quor_int_attendre(void);
QUOR_EXPORT void Quor_attendre(void);
QUOR_EXPORT I32 Quor_int_attendre1(void);         /* 1 */
QUOR_EXPORT I32 Quor_attendre1(void);
/* Integer mode (GMP allocates from the zones) on / off; the prime field does nothing. */
QUOR_EXPORT void Quor_int_enter(void);
QUOR_EXPORT void Quor_int_exit(void);
QUOR_EXPORT void Quor_int_safe_exit(void);        /* fatal: not available */
QUOR_EXPORT void Quor_enter(void);
QUOR_EXPORT void Quor_exit(void);
QUOR_EXPORT void Quor_safe_exit(void);

/* ---- polynomial creation ---------------------------------------------------
 * creat_poly(n): n terms, every coefficient 0 and no monomial until set.
 * set_expos2(p, i, e, nvars): term i's monomial from nvars exponents in
 * 0 .. 32767 (nvars <= the request's variables, i < n).
 * full_sort_poly2(p): drops zero terms, merges repeated monomials,
 * homogenises and sorts (the form every computation expects). */
QUOR_EXPORT QUOR_CQ_INPOLY Quor_int_creat_poly(UI32 n);
QUOR_EXPORT QUOR_CQ_GFPOLY Quor_creat_poly(UI32 n);
QUOR_EXPORT void Quor_int_set_expos2(QUOR_CQ_INPOLY p, UI32 i, const I32* e, UI32 nvars);
QUOR_EXPORT void Quor_set_expos2(QUOR_CQ_GFPOLY p, UI32 i, const I32* e, UI32 nvars);
/* Term i's monomial from one 16-bit exponent per variable; returns its exponent words. */
QUOR_EXPORT QUOR_CQ_EXPOS Quor_int_set_expos(QUOR_CQ_INPOLY p, UI32 i, const uint16_t* e);
QUOR_EXPORT QUOR_CQ_EXPOS Quor_set_expos(QUOR_CQ_GFPOLY p, UI32 i, const uint16_t* e);
/* Term i's monomial = the exponent words m (not copied). */
QUOR_EXPORT void Quor_int_set_expos_d(QUOR_CQ_INPOLY p, UI32 i, QUOR_CQ_EXPOS m);
QUOR_EXPORT void Quor_set_expos_d(QUOR_CQ_GFPOLY p, UI32 i, QUOR_CQ_EXPOS m);
/* Exponent words of a new monomial from the low 16 bits of e[0 .. n-1] (n < 1: the monomial 1). */
QUOR_EXPORT QUOR_CQ_EXPOS Quor_int_assign_expos(const UI32* e, I32 n);
QUOR_EXPORT QUOR_CQ_EXPOS Quor_assign_expos(const UI32* e, I32 n);
/* The variables' exponents of term i into out. */
QUOR_EXPORT void Quor_int_get_expos(QUOR_CQ_INPOLY p, I32 i, uint16_t* out);
QUOR_EXPORT void Quor_get_expos(QUOR_CQ_GFPOLY p, I32 i, uint16_t* out);
/* Term i's coefficient from n words of the integer transfer format (sign word, magnitude low word first). */
QUOR_EXPORT void Quor_int_set_coeff_raw(QUOR_CQ_INPOLY p, UI32 i, const I32* u, UI32 n);
/* Term i's coefficient = a copy of the GMP integer z. */
QUOR_EXPORT void Quor_int_set_coeff_gmp(QUOR_CQ_INPOLY p, UI32 i, mpz_srcptr z);
/* Term i's coefficient from a decimal text (an optional '-' then digits). */
QUOR_EXPORT void Quor_int_set_coeff_gmp_str(QUOR_CQ_INPOLY p, UI32 i, const char* digits);
/* Residue form: term i's residue of the first prime = c reduced into 0 .. p-1. */
QUOR_EXPORT void Quor_int_set_coeff_I32(QUOR_CQ_INTMOD p, UI32 i, I32 c);
QUOR_EXPORT void Quor_set_coeff_I32(QUOR_CQ_GFPOLY p, UI32 i, I32 c);
/* Residue form: term i's residue of every working prime k from c[k] (reduced) / into out[k]. */
QUOR_EXPORT void Quor_int_set_coeff(QUOR_CQ_INTMOD p, UI32 i, const uint32_t* c);
QUOR_EXPORT void Quor_set_coeff(QUOR_CQ_GFPOLY p, UI32 i, const uint16_t* c);
QUOR_EXPORT void Quor_int_get_coeff(QUOR_CQ_INTMOD p, I32 i, uint32_t* out);
QUOR_EXPORT void Quor_get_coeff(QUOR_CQ_GFPOLY p, I32 i, uint16_t* out);
/* Term count. */
QUOR_EXPORT UI32 Quor_int_nb_terms(QUOR_CQ_INPOLY p);
QUOR_EXPORT UI32 Quor_nb_terms(QUOR_CQ_GFPOLY p);
QUOR_EXPORT UI32 Quor_int_size_poly(QUOR_CQ_INPOLY p);
QUOR_EXPORT UI32 Quor_size_poly(QUOR_CQ_GFPOLY p);
/* Working primes x 8. */
QUOR_EXPORT UI32 Quor_int_size_memory_coeff(void);
QUOR_EXPORT UI32 Quor_size_memory_coeff(void);
QUOR_EXPORT void Quor_int_full_sort_poly2(QUOR_CQ_INPOLY p);
QUOR_EXPORT void Quor_full_sort_poly2(QUOR_CQ_GFPOLY p);
/* The same normalisation for a residue-form polynomial. */
QUOR_EXPORT void Quor_int_full_sort_poly(QUOR_CQ_INTMOD p);
QUOR_EXPORT void Quor_full_sort_poly(QUOR_CQ_GFPOLY p);
/* Homogenisation and slot conversion only (no sort, no merge). */
QUOR_EXPORT void Quor_int_sort_poly(QUOR_CQ_INPOLY p);
QUOR_EXPORT void Quor_sort_poly(QUOR_CQ_GFPOLY p);

/* ---- export ------------------------------------------------------------------
 * exps receives nterms rows of nvars exponents (variables beyond the
 * request's read as 0).  Codes: 1 done, -1 wrong term count (or index), -2
 * buffer too small (nothing written then). */
/* Coefficients in the transfer format, B words each (*B), into buf of max words. */
QUOR_EXPORT I32 Quor_int_export_poly_INT(UI32 nvars, UI32 nterms, UI32* exps, UI32* buf, int64_t max, QUOR_CQ_INPOLY p, UI32* B);
/* The same for term i alone. */
QUOR_EXPORT I32 Quor_int_export_poly_mon_INT(I32 i, UI32 nvars, UI32 nterms, UI32* exps, UI32* buf, int64_t max, QUOR_CQ_INPOLY p, UI32* B);
/* Addresses of the terms' own GMP integers (valid until the memory reset); null on a wrong count. */
QUOR_EXPORT mpz_ptr* Quor_int_export_poly_INT_gmp(UI32 nvars, UI32 nterms, UI32* exps, QUOR_CQ_INPOLY p);
/* Term i's exponents into exps[0 .. nvars-1]; its GMP integer, null when i is not a term. */
QUOR_EXPORT mpz_ptr Quor_int_export_monom_INT(UI32 i, UI32 nvars, UI32* exps, QUOR_CQ_INPOLY p);
/* Residue form: coeffs[i] = term i's residue of the first prime. */
QUOR_EXPORT I32 Quor_int_export_poly(UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, QUOR_CQ_INTMOD p);
QUOR_EXPORT I32 Quor_export_poly(UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, QUOR_CQ_GFPOLY p);
/* Digits d_k (low 32 bits of 64-bit slot k, |len| of them, sign of len) in radix to one residue per working prime. */
QUOR_EXPORT void Quor_int_convert_from_ntl_int(const UI32* digits, I32 len, UI32* out, UI32 radix);
/* Prints an integer polynomial through the output channel; returns 1. */
QUOR_EXPORT I32 see_Dpol_INT(QUOR_CQ_INPOLY p);
/* Prints a residue-form polynomial through the output channel. */
QUOR_EXPORT void Quor_int_see_Dpol(const QUOR_CQ_INTMOD p);
QUOR_EXPORT void Quor_see_Dpol(const QUOR_CQ_GFPOLY p);

/* ---- computations ------------------------------------------------------------
 * The results go to resultat; the count is returned, CPU seconds through t. */
QUOR_EXPORT UI32 Quor_int_groebner(QUOR_CQ_INPOLY* base, UI32 n, QUOR_CQ_INPOLY* resultat, I32 mingbasis_strong, I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env);
QUOR_EXPORT UI32 Quor_groebner(QUOR_CQ_GFPOLY* base, UI32 n, QUOR_CQ_GFPOLY* resultat, I32 mingbasis_strong, I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env);
QUOR_EXPORT UI32 Quor_int_hilbert(QUOR_CQ_INPOLY* base, UI32 n, QUOR_CQ_INPOLY* resultat, I32 mingbasis_strong, I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict);
QUOR_EXPORT UI32 Quor_hilbert(QUOR_CQ_GFPOLY* base, UI32 n, QUOR_CQ_GFPOLY* resultat, I32 mingbasis_strong, I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict);

#endif /* QUOR_CORE_CALL_QUOR_H */

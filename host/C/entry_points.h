/* Host entry points of both builds: the functions a host computer-algebra
 * system calls through its external-call interface (host_api.h).
 *
 * Entries with the host convention take the kernel handle and the argument
 * vector and give one host value back; wrong arguments raise host errors.
 * The others are plain functions with machine-level arguments.
 *
 * A request: gbasis_init -> send (at most 100,000 polynomials) -> one
 * gbasis_compute or hilbert_compute (the inputs are replaced by the results)
 * -> receive by index -> the next gbasis_init (or unload) ends it.  A memory
 * reset of either build also ends the other build's request. */
#ifndef QUOR_HOST_C_ENTRY_POINTS_H
#define QUOR_HOST_C_ENTRY_POINTS_H

#include "core/call_quor.h"
#include "host/C/host_api.h"

/* ---- integer build ---- */
/* (first, second, ignored, record): opens a request of first + second variables x1 ..; returns 1. */
QUOR_EXPORT HostValue quor_int_gbasis_init(HostKernel kernel, HostArgs args);
/* (width, nvars, nterms, exps, coeffs): appends one polynomial; coefficients of width words each; NULL. */
QUOR_EXPORT HostValue quor_int_send_poly(HostKernel kernel, HostArgs args);
/* (nvars, nterms, exps, list of integers): appends one polynomial; NULL. */
QUOR_EXPORT HostValue quor_int_send_poly_gmp(HostKernel kernel, HostArgs args);
/* 12 arguments (names for time, first term count, count; verbosity, pas0, bk0, final_restrict,
 * strategy name, _nb, _force_elim, options): largest result term count, or -2 when stopped. */
QUOR_EXPORT HostValue quor_int_gbasis_compute(HostKernel kernel, HostArgs args);
/* 12 arguments as gbasis_compute (strategy and options ignored): largest result term count. */
QUOR_EXPORT HostValue quor_int_hilbert_compute(HostKernel kernel, HostArgs args);
/* (index, nvars, nterms, exps, next): nterms x B table of coefficient words lent from the export
 * buffer (valid until the next receive or init: the host copies it). */
QUOR_EXPORT HostValue quor_int_receive_poly(HostKernel kernel, HostArgs args);
/* (index, nvars, nterms, exps, next): list of the nterms coefficients. */
QUOR_EXPORT HostValue quor_int_receive_poly_gmp(HostKernel kernel, HostArgs args);
/* (index, variables, nvars): [first monomial, sum of the monomials] (exponents capped at 10). */
QUOR_EXPORT HostValue quor_int_receive_poly_new(HostKernel kernel, HostArgs args);
/* Does nothing. */
QUOR_EXPORT void quor_int_receive_monom(void);
/* (level): sets the debug level (non-zero records the next request); the previous level. */
QUOR_EXPORT HostValue quor_int_debug_level(HostKernel kernel, HostArgs args);
/* (): 0. */
QUOR_EXPORT HostValue quor_int_scheduler(HostKernel kernel, HostArgs args);
/* (): 12625. */
QUOR_EXPORT HostValue quor_int_internal_version(HostKernel kernel, HostArgs args);
/* (): prints the build report on standard error; the version. */
QUOR_EXPORT HostValue quor_int_internal_report(HostKernel kernel, HostArgs args);
/* (n): the value of Quor_int_internal_threads(n). */
QUOR_EXPORT HostValue quor_int_internal_threads(HostKernel kernel, HostArgs args);
/* The local date and time as ctime writes it. */
QUOR_EXPORT const char* quor_int_my_time(void);
/* User + system CPU seconds of the process. */
QUOR_EXPORT double quor_int_my_cpu(void);
/* (): releases the library memory of both builds; 1. */
QUOR_EXPORT HostValue quor_int_unload(HostKernel kernel, HostArgs args);

/* ---- prime-field build ---- */
/* (first, second, ignored, prime, record): opens a request modulo prime (a prime below 65536); 1. */
QUOR_EXPORT HostValue quor_gbasis_init(HostKernel kernel, HostArgs args);
/* Appends one polynomial: exps nterms rows of nvars, coeffs reduced modulo the prime; 1, or -1 when refused. */
QUOR_EXPORT I32 quor_send_poly(UI32 nvars, UI32 nterms, const I32* exps, const I32* coeffs);
/* As quor_int_gbasis_compute (only QUOR_COMPUTE_GBASIS and QUOR_COMPUTE_MATRIXN compute). */
QUOR_EXPORT HostValue quor_gbasis_compute(HostKernel kernel, HostArgs args);
/* As quor_int_hilbert_compute. */
QUOR_EXPORT HostValue quor_hilbert_compute(HostKernel kernel, HostArgs args);
/* Result index into exps / coeffs (nterms must be its term count), *next = the next one's count; 1 or -1. */
QUOR_EXPORT I32 quor_receive_poly(I32 index, UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, UI32* next);
/* As quor_int_debug_level. */
QUOR_EXPORT HostValue quor_debug_level(HostKernel kernel, HostArgs args);
/* (): 0. */
QUOR_EXPORT HostValue quor_scheduler(HostKernel kernel, HostArgs args);
/* (): 12624. */
QUOR_EXPORT HostValue quor_internal_version(HostKernel kernel, HostArgs args);
/* (): prints the build report on standard error; the version. */
QUOR_EXPORT HostValue quor_internal_report(HostKernel kernel, HostArgs args);
/* (n): sets the elimination threads, the value of Quor_internal_threads(n). */
QUOR_EXPORT HostValue quor_internal_threads(HostKernel kernel, HostArgs args);
/* User + system CPU seconds of the process. */
QUOR_EXPORT double quor_my_cpu(void);

#endif /* QUOR_HOST_C_ENTRY_POINTS_H */

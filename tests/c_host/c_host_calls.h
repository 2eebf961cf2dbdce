/* The host calls of the C hosts (host_api.h), written in C as a host would:
 * a host error is a longjmp to on_error (value 1), a delivered interrupt a
 * longjmp with value 2.  Every value made is kept until release_values. */
#ifndef QUOR_TESTS_C_HOST_CALLS_H
#define QUOR_TESTS_C_HOST_CALLS_H

#include <setjmp.h>
#include <stdint.h>

#include "host/C/host_api.h"

enum Kind { K_NULL, K_INT, K_FLOAT, K_STRING, K_NAME, K_RTABLE, K_LIST };

struct HostValueRec {
  enum Kind kind;
  int64_t i;
  double d;
  const char* text;
  HostValue assigned; /* names */
  HostRTableSettings settings;
  int32_t bounds[4];
  void* data;
  HostValue* items;
  int32_t n;
  HostValue next; /* the value made before */
};
struct HostArgsRec {
  int32_t n;
  HostValue v[16];
};
struct HostKernelRec {
  int unused;
};

extern HostKernel kernel;
/* Where a host error or an interrupt unwinds to, and its text. */
extern jmp_buf on_error;
extern char error_text[1024];
/* The text of the kernel option "version" (default "Chost 12.0"). */
extern const char* host_version_text;
/* Ask (HostGetInterruptValue or HostCheckInterrupt call) at which an
 * interrupt becomes pending, 0 for never; reset to 0 once delivered. */
extern long interrupt_at_ask;
/* Asks so far. */
extern long interrupt_asks;

/* New host values. */
HostValue integer(int64_t i);
HostValue name(const char* text);
HostValue string(const char* text);
/* A one-dimensional INTEGER32 rtable lent the data. */
HostValue int32_table(int32_t* data, int32_t count);
/* Frees every value made so far. */
void release_values(void);

/* A polynomial as exponent rows (nvars words a term) and integer coefficients. */
typedef struct {
  int32_t nterms;
  int32_t exps[4096];
  int32_t coeffs[1024];
} Poly;
/* Appends c * x_a * x_b to p (a or b negative: that factor absent). */
void add_term(Poly* p, int nvars, int a, int b, int32_t c);
/* Katsura-n in the n + 1 variables x_0 .. x_n into polys, the linear one last; returns n + 1. */
int katsura(int n, Poly* polys);

#endif

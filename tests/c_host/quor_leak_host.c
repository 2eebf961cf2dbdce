/* A C host that unwinds every host error and interrupt with longjmp, as
 * host_api.h allows, through many small requests of both builds that end in
 * an interrupt or a host error (a basis, a Hilbert series, normal forms, a
 * minimal polynomial, refused systems), and measures the process's address
 * space and resident memory before and after: what the library keeps of a
 * request that did not return must not pile up.
 * Usage: quor_leak_host LIBRARY VERSION ROUNDS
 *   VERSION: the host version the library sees (12 or 13: from 13 on the
 *   library releases its memory before an interrupt unwinds).
 * Prints "done D failed F interrupted I", then "VmSize A B" and "VmRSS A B"
 * (kB after the warm-up round and after the last one), and unloads. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/c_host/c_host_calls.h"

static void* library;

static void* symbol(const char* n) {
  void* f = dlsym(library, n);
  if (f == NULL) {
    fprintf(stderr, "no entry %s\n", n);
    exit(2);
  }
  return f;
}

static HostValue call(const char* n, struct HostArgsRec* args) { return ((HostEntryPoint)symbol(n))(kernel, args); }

/* ---- systems ---- */

enum { kMaxTerms = 64, kMaxPolys = 10 };

/* ---- requests ---- */

typedef struct {
  int integer_build;
  int first, second; /* variables of the two blocks */
  int npolys;
  const Poly* polys;
  const char* strategy; /* NULL: the Hilbert series */
  int nb;               /* extra polynomials of the normal forms */
  int interrupt;        /* 1: the host interrupts it */
} Request;

enum Outcome { DONE, FAILED, INTERRUPTED };

static enum Outcome run(const Request* r) {
  struct HostArgsRec a = {0};
  const int nvars = r->first + r->second;
  const int jumped = setjmp(on_error);
  if (jumped != 0) return jumped == 2 ? INTERRUPTED : FAILED;
  if (r->integer_build) {
    a.n = 4;
    a.v[0] = integer(r->first), a.v[1] = integer(r->second), a.v[2] = integer(0), a.v[3] = integer(0);
    call("quor_int_gbasis_init", &a);
    for (int i = 0; i < r->npolys; ++i) {
      static int32_t words[2 * kMaxTerms];
      for (int t = 0; t < r->polys[i].nterms; ++t) {
        words[2 * t] = r->polys[i].coeffs[t] < 0 ? -1 : 1;
        words[2 * t + 1] = abs(r->polys[i].coeffs[t]);
      }
      a.n = 5;
      a.v[0] = integer(2), a.v[1] = integer(nvars), a.v[2] = integer(r->polys[i].nterms);
      a.v[3] = int32_table((int32_t*)r->polys[i].exps, r->polys[i].nterms * nvars);
      a.v[4] = int32_table(words, 2 * r->polys[i].nterms);
      call("quor_int_send_poly", &a);
    }
  } else {
    typedef int32_t (*Send)(uint32_t, uint32_t, const int32_t*, const int32_t*);
    a.n = 5;
    a.v[0] = integer(r->first), a.v[1] = integer(r->second), a.v[2] = integer(0), a.v[3] = integer(32003);
    a.v[4] = integer(0);
    call("quor_gbasis_init", &a);
    Send send = (Send)symbol("quor_send_poly");
    for (int i = 0; i < r->npolys; ++i)
      if (send((uint32_t)nvars, (uint32_t)r->polys[i].nterms, r->polys[i].exps, r->polys[i].coeffs) != 1) return FAILED;
  }
  static int32_t options[4] = {4, 0, 0, 0};
  a.n = 12;
  a.v[0] = name("t"), a.v[1] = name("first"), a.v[2] = name("count");
  a.v[3] = integer(0), a.v[4] = integer(0), a.v[5] = integer(8), a.v[6] = integer(0), a.v[7] = integer(0);
  a.v[8] = string(r->strategy ? r->strategy : "");
  a.v[9] = integer(r->nb), a.v[10] = integer(0);
  a.v[11] = int32_table(options, 4);
  const char* b = r->integer_build ? "quor_int_" : "quor_";
  char entry_name[64];
  snprintf(entry_name, sizeof entry_name, "%s%s", b, r->strategy ? "gbasis_compute" : "hilbert_compute");
  call(entry_name, &a);
  return DONE;
}

/* kB of a line of /proc/self/status ("VmSize", "VmRSS"). */
static long status_kb(const char* field) {
  FILE* f = fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  const size_t n = strlen(field);
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, field, n) == 0 && line[n] == ':') kb = atol(line + n + 1);
  if (f) fclose(f);
  return kb;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: quor_leak_host LIBRARY VERSION ROUNDS\n");
    return 2;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  static char version[32];
  snprintf(version, sizeof version, "Chost %s", argv[2]);
  host_version_text = version;
  const int rounds = atoi(argv[3]);

  /* Katsura-7: a basis asks the host twice or more; katsura-4 and 5 are quick. */
  static Poly k7[kMaxPolys], k5[kMaxPolys], k4[kMaxPolys], k4nf[kMaxPolys], xy[1];
  const int n7 = katsura(7, k7);
  katsura(5, k5);
  katsura(4, k4);
  /* Normal form of x1^2*x2 + 3*x5 modulo katsura-4 (the sixth polynomial is the one reduced). */
  katsura(4, k4nf);
  k4nf[5].nterms = 0;
  add_term(&k4nf[5], 5, 0, 0, 1);
  k4nf[5].exps[1] = 1;
  add_term(&k4nf[5], 5, 4, -1, 3);
  /* x*y: a curve, which the zero-dimensional strategies refuse once its basis is made. */
  add_term(&xy[0], 2, 0, 1, 1);
  const Request requests[] = {
      /* Interrupted at the first, second or third ask. */
      {0, n7, 0, n7, k7, "QUOR_COMPUTE_GBASIS", 0, 1},
      {1, n7, 0, n7, k7, "QUOR_COMPUTE_GBASIS", 0, 1},
      {0, n7, 0, n7 - 1, k7, "QUOR_COMPUTE_MATRIXN", 0, 1},
      /* Refused deep in the computation. */
      {0, 2, 0, 1, xy, "QUOR_COMPUTE_MATRIXN", 0, 0},
      {1, 2, 0, 1, xy, "QUOR_COMPUTE_MINPOLY", 0, 0},
      {1, 2, 0, 1, xy, "QUOR_COMPUTE_RRFORM", 0, 0},
      {1, 2, 0, 1, xy, "QUOR_COMPUTE_RADICAL_STRATEG1", 0, 0},
      /* Done, through the bridge into the Tesk engine. */
      {0, 6, 0, 6, k5, NULL, 0, 0},
      {1, 6, 0, 6, k5, NULL, 0, 0},
      {1, 5, 0, 6, k4nf, "QUOR_COMPUTE_GBASIS_NF", 1, 0},
      {1, 5, 0, 5, k4, "QUOR_COMPUTE_RRFORM", 0, 0},
  };
  const int nrequests = (int)(sizeof requests / sizeof requests[0]);
  long counts[3] = {0, 0, 0};
  long size0 = 0, rss0 = 0;
  for (int round = 0; round <= rounds; ++round) {
    for (int i = 0; i < nrequests; ++i) {
      interrupt_asks = 0;
      interrupt_at_ask = requests[i].interrupt ? 1 + (round + i) % 3 : 0;
      ++counts[run(&requests[i])];
      interrupt_at_ask = 0;
      release_values();
    }
    if (round == 0) {
      size0 = status_kb("VmSize");
      rss0 = status_kb("VmRSS");
    }
  }
  printf("done %ld failed %ld interrupted %ld\n", counts[DONE], counts[FAILED], counts[INTERRUPTED]);
  printf("VmSize %ld %ld\n", size0, status_kb("VmSize"));
  printf("VmRSS %ld %ld\n", rss0, status_kb("VmRSS"));
  struct HostArgsRec none = {0};
  if (setjmp(on_error) == 0) call("quor_int_unload", &none);
  release_values();
  return 0;
}

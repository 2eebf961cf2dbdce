/* A host written in C that loads libquor.so with dlopen and provides the
 * host calls itself: a host error is a longjmp back to the caller of the
 * entry point, as in a C host.  It runs, in each build, a large request
 * under a lowered address-space limit, then a small one with the limit
 * lifted, and prints one line per request:
 *   <build> large: ok | error: <text>
 *   <build> small: <number of results> | error: <text>
 * A C++ exception that leaves the library would abort the program.
 * Usage: quor_c_host LIBRARY LIMIT_KB KATSURA_N */
#include <dlfcn.h>
#include <gmp.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "tests/c_host/c_host_calls.h"

/* ---- requests ---- */

static void* library;

static HostEntryPoint entry(const char* n) {
  HostEntryPoint f = (HostEntryPoint)dlsym(library, n);
  if (f == NULL) {
    fprintf(stderr, "no entry %s\n", n);
    exit(2);
  }
  return f;
}

static HostValue call(HostEntryPoint f, struct HostArgsRec* args) { return f(kernel, args); }

/* One request in the build (1: integer); the number of results, or -1 with error_text. */
static int request(int integer_build, int nvars, int npolys, Poly* polys) {
  if (setjmp(on_error) != 0) return -1;
  struct HostArgsRec a = {0};
  if (integer_build) {
    a.n = 4;
    a.v[0] = integer(nvars), a.v[1] = integer(0), a.v[2] = integer(0), a.v[3] = integer(0);
    call(entry("quor_int_gbasis_init"), &a);
    for (int i = 0; i < npolys; ++i) {
      /* Words of a coefficient: sign, then its magnitude. */
      static int32_t words[2048];
      for (int t = 0; t < polys[i].nterms; ++t) {
        words[2 * t] = polys[i].coeffs[t] < 0 ? -1 : 1;
        words[2 * t + 1] = abs(polys[i].coeffs[t]);
      }
      a.n = 5;
      a.v[0] = integer(2), a.v[1] = integer(nvars), a.v[2] = integer(polys[i].nterms);
      a.v[3] = int32_table(polys[i].exps, polys[i].nterms * nvars);
      a.v[4] = int32_table(words, 2 * polys[i].nterms);
      call(entry("quor_int_send_poly"), &a);
    }
  } else {
    typedef int32_t (*Send)(uint32_t, uint32_t, const int32_t*, const int32_t*);
    a.n = 5;
    a.v[0] = integer(nvars), a.v[1] = integer(0), a.v[2] = integer(0), a.v[3] = integer(65521), a.v[4] = integer(0);
    call(entry("quor_gbasis_init"), &a);
    Send send = (Send)dlsym(library, "quor_send_poly");
    for (int i = 0; i < npolys; ++i)
      if (send((uint32_t)nvars, (uint32_t)polys[i].nterms, polys[i].exps, polys[i].coeffs) != 1) {
        snprintf(error_text, sizeof error_text, "quor_send_poly refused polynomial %d", i);
        return -1;
      }
  }
  static int32_t options[4] = {4, 0, 0, 0};
  HostValue count = name("count");
  a.n = 12;
  a.v[0] = name("t"), a.v[1] = name("first"), a.v[2] = count;
  a.v[3] = integer(0), a.v[4] = integer(0), a.v[5] = integer(8), a.v[6] = integer(0), a.v[7] = integer(0);
  a.v[8] = string("QUOR_COMPUTE_GBASIS"), a.v[9] = integer(0), a.v[10] = integer(0);
  a.v[11] = int32_table(options, 4);
  call(entry(integer_build ? "quor_int_gbasis_compute" : "quor_gbasis_compute"), &a);
  return count->assigned ? (int)count->assigned->i : -1;
}

static void report(const char* build, const char* what, int r) {
  if (r < 0)
    printf("%s %s: error: %s\n", build, what, error_text);
  else
    printf("%s %s: %d\n", build, what, r);
  fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: quor_c_host LIBRARY LIMIT_KB KATSURA_N\n");
    return 2;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const long limit_kb = atol(argv[2]);
  const int n = atoi(argv[3]);
  static Poly big[16], small[2];
  if (n < 1 || n > 14) return 2;
  const int nbig = katsura(n, big);
  /* x^2 - y, x*y - 1: three polynomials in the reduced basis. */
  small[0].nterms = small[1].nterms = 0;
  add_term(&small[0], 2, 0, 0, 1), add_term(&small[0], 2, 1, -1, -1);
  add_term(&small[1], 2, 0, 1, 1), add_term(&small[1], 2, -1, -1, -1);

  struct rlimit saved;
  getrlimit(RLIMIT_AS, &saved);
  for (int integer_build = 0; integer_build <= 1; ++integer_build) {
    const char* build = integer_build ? "int" : "gf";
    struct rlimit low = saved;
    low.rlim_cur = (rlim_t)limit_kb * 1024;
    setrlimit(RLIMIT_AS, &low);
    report(build, "large", request(integer_build, n + 1, nbig, big));
    setrlimit(RLIMIT_AS, &saved);
    report(build, "small", request(integer_build, 2, 2, small));
  }
  return 0;
}

/* The host calls of the C hosts: see c_host_calls.h. */
#include "tests/c_host/c_host_calls.h"

#include <gmp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static struct HostKernelRec kernel_rec;
HostKernel kernel = &kernel_rec;
static struct HostValueRec null_rec = {.kind = K_NULL};
jmp_buf on_error;
char error_text[1024];
const char* host_version_text = "Chost 12.0";
long interrupt_at_ask = 0;
long interrupt_asks = 0;
static int interrupt_pending = 0;
static HostValue all_values = NULL; /* every value made, newest first */

static HostValue make(enum Kind kind) {
  HostValue v = calloc(1, sizeof *v);
  if (v == NULL) abort();
  v->kind = kind;
  v->next = all_values;
  all_values = v;
  return v;
}

void release_values(void) {
  while (all_values != NULL) {
    HostValue next = all_values->next;
    free(all_values->items);
    free(all_values);
    all_values = next;
  }
}

HostValue integer(int64_t i) {
  HostValue v = make(K_INT);
  v->i = i;
  return v;
}

HostValue name(const char* text) {
  HostValue v = make(K_NAME);
  v->text = text;
  return v;
}

HostValue string(const char* text) {
  HostValue v = make(K_STRING);
  v->text = text;
  return v;
}

HostValue int32_table(int32_t* data, int32_t count) {
  HostValue v = make(K_RTABLE);
  v->settings.data_type = HOST_RTABLE_INTEGER32;
  v->settings.order = HOST_RTABLE_C_ORDER;
  v->settings.num_dimensions = 1;
  v->bounds[0] = 1;
  v->bounds[1] = count;
  v->data = data;
  return v;
}

/* ---- the host calls ---- */

int32_t HostNumArgs(HostArgs args) { return args->n; }
HostValue HostArg(HostArgs args, int32_t i) { return i >= 1 && i <= args->n ? args->v[i - 1] : NULL; }
int IsHostInteger32(HostKernel k, HostValue v) {
  (void)k;
  return v && v->kind == K_INT && v->i >= INT32_MIN && v->i <= INT32_MAX;
}
HostValue ToHostInteger(HostKernel k, int64_t i) {
  (void)k;
  return integer(i);
}
HostValue ToHostFloat(HostKernel k, double d) {
  (void)k;
  HostValue v = make(K_FLOAT);
  v->d = d;
  return v;
}
HostValue ToHostNULL(HostKernel k) {
  (void)k;
  return &null_rec;
}
void HostAssign(HostKernel k, HostValue n, HostValue value) {
  (void)k;
  if (n && n->kind == K_NAME) n->assigned = value;
}
int IsHostNULL(HostKernel k, HostValue v) {
  (void)k;
  return v && v->kind == K_NULL;
}
int IsHostPointerNULL(HostKernel k, HostValue v) {
  (void)k;
  return v == NULL;
}
int IsHostUnassignedName(HostKernel k, HostValue v) {
  (void)k;
  return v && v->kind == K_NAME && v->assigned == NULL;
}

static void raise_text(const char* msg, HostValue a1, HostValue a2) {
  /* %1 / %-1 and %2 / %-2 hold integers here. */
  size_t o = 0;
  for (const char* p = msg; *p && o + 24 < sizeof error_text; ++p) {
    if (*p == '%' && (p[1] == '1' || p[1] == '2' || (p[1] == '-' && (p[2] == '1' || p[2] == '2')))) {
      const char which = p[1] == '-' ? p[2] : p[1];
      HostValue a = which == '1' ? a1 : a2;
      o += (size_t)snprintf(error_text + o, sizeof error_text - o, "%lld", a ? (long long)a->i : 0LL);
      p += p[1] == '-' ? 2 : 1;
      continue;
    }
    error_text[o++] = *p;
  }
  error_text[o] = '\0';
  longjmp(on_error, 1);
}

void HostRaiseError(HostKernel k, const char* msg) {
  (void)k;
  raise_text(msg, NULL, NULL);
}
void HostRaiseError1(HostKernel k, const char* msg, HostValue a1) {
  (void)k;
  raise_text(msg, a1, NULL);
}
void HostRaiseError2(HostKernel k, const char* msg, HostValue a1, HostValue a2) {
  (void)k;
  raise_text(msg, a1, a2);
}
int32_t HostToInteger32(HostKernel k, HostValue v) {
  if (!IsHostInteger32(k, v)) HostRaiseError(k, "integer expected");
  return (int32_t)v->i;
}
char* HostToString(HostKernel k, HostValue v) {
  if (!v || (v->kind != K_STRING && v->kind != K_NAME)) HostRaiseError(k, "string expected");
  return (char*)v->text;
}
/* The interrupt becomes pending at ask number interrupt_at_ask (both calls ask). */
static void ask(void) {
  ++interrupt_asks;
  if (interrupt_at_ask > 0 && interrupt_asks >= interrupt_at_ask) interrupt_pending = 1;
}
int HostGetInterruptValue(HostKernel k) {
  (void)k;
  ask();
  return interrupt_pending;
}
void HostCheckInterrupt(HostKernel k) {
  (void)k;
  ask();
  if (!interrupt_pending) return;
  interrupt_pending = 0;
  interrupt_at_ask = 0;
  snprintf(error_text, sizeof error_text, "interrupted");
  longjmp(on_error, 2);
}

int IsHostRTable(HostValue v) { return v && v->kind == K_RTABLE; }
void RTableGetSettings(HostKernel k, HostRTableSettings* s, HostValue rt) {
  (void)k;
  *s = rt->settings;
}
void RTableGetDefaults(HostKernel k, HostRTableSettings* s) {
  (void)k;
  memset(s, 0, sizeof *s);
  s->num_dimensions = 1;
}
void* RTableDataBlock(HostKernel k, HostValue rt) {
  (void)k;
  return rt->data;
}
void RTableGetBounds(HostKernel k, HostValue rt, int32_t d, int32_t* lo, int32_t* hi) {
  (void)k;
  *lo = rt->bounds[2 * (d - 1)];
  *hi = rt->bounds[2 * (d - 1) + 1];
}
HostValue RTableCreate(HostKernel k, const HostRTableSettings* s, void* data, const int32_t* bounds) {
  (void)k;
  HostValue v = make(K_RTABLE);
  v->settings = *s;
  memcpy(v->bounds, bounds, sizeof v->bounds);
  v->data = data; /* lent: the caller keeps it */
  return v;
}
void HostGcProtect(HostKernel k, HostValue v) {
  (void)k;
  (void)v;
}
int IsHostList(HostKernel k, HostValue v) {
  (void)k;
  return v && v->kind == K_LIST;
}
HostValue HostListAlloc(HostKernel k, int32_t n) {
  (void)k;
  HostValue v = make(K_LIST);
  v->n = n;
  v->items = calloc((size_t)(n > 0 ? n : 1), sizeof(HostValue));
  for (int32_t i = 0; i < n; ++i) v->items[i] = &null_rec;
  return v;
}
void HostListAssign(HostKernel k, HostValue list, int32_t i, HostValue v) {
  (void)k;
  list->items[i - 1] = v;
}
HostValue HostListSelect(HostKernel k, HostValue list, int32_t i) {
  (void)k;
  return list->items[i - 1];
}
int32_t HostListLength(HostKernel k, HostValue list) {
  (void)k;
  return list->n;
}
mpz_srcptr HostToGMPInteger(HostKernel k, HostValue v) {
  HostRaiseError(k, "GMP integers are not used by this host");
  (void)v;
  return NULL;
}
HostValue GMPIntegerToHost(HostKernel k, mpz_srcptr z) {
  (void)z;
  return ToHostNULL(k);
}
HostValue HostNumericAdd(HostKernel k, HostValue a, HostValue b) {
  (void)a;
  (void)b;
  return ToHostNULL(k);
}
HostValue HostNumericMultiply(HostKernel k, HostValue a, HostValue b) {
  (void)a;
  (void)b;
  return ToHostNULL(k);
}
HostValue HostNumericPower(HostKernel k, HostValue a, HostValue b) {
  (void)a;
  (void)b;
  return ToHostNULL(k);
}
void HostPrintf(HostKernel k, const char* format, ...) { (void)k, (void)format; }
void HostUserInfo(HostKernel k, int32_t level, const char* n, const char* text) {
  (void)k, (void)level, (void)n, (void)text;
}
HostValue HostKernelOptions(HostKernel k, const char* option, HostValue value) {
  (void)value;
  if (option && strcmp(option, "version") == 0) return string(host_version_text);
  return ToHostNULL(k);
}

void add_term(Poly* p, int nvars, int a, int b, int32_t c) {
  int32_t* e = p->exps + p->nterms * nvars;
  memset(e, 0, sizeof(int32_t) * (size_t)nvars);
  if (a >= 0) e[a] += 1;
  if (b >= 0) e[b] += 1;
  p->coeffs[p->nterms++] = c;
}

int katsura(int n, Poly* polys) {
  const int nvars = n + 1;
  for (int m = 0; m < n; ++m) {
    Poly* p = &polys[m];
    p->nterms = 0;
    for (int l = -n; l <= n; ++l) {
      const int a = abs(l), b = abs(m - l);
      if (b <= n) add_term(p, nvars, a, b, 1);
    }
    add_term(p, nvars, m, -1, -1);
  }
  Poly* p = &polys[n];
  p->nterms = 0;
  add_term(p, nvars, 0, -1, 1);
  for (int i = 1; i <= n; ++i) add_term(p, nvars, i, -1, 2);
  add_term(p, nvars, -1, -1, -1);
  return n + 1;
}

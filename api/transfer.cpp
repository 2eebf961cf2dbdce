// Polynomial transfer: creation, terms, normal form, export, relocation of
// result monomials, digit vectors to residues, the integer printer.
#include "api/transfer.h"

#include <cstring>
#include <utility>

#include "core/bigint.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/reconstruct.h"

namespace quor::QUOR_NS {

namespace {

void check_open() {
  if (nb_of_blocks_of_variables == 0) QUOR_NAME(Fatal)("Quor interface error: the variables are not declared\n");
}

template <class P>
void check_poly(P p) {
  if (p == nullptr) QUOR_NAME(Fatal)("Quor interface error: no polynomial\n");
}

template <class P>
void check_term(P p, u32 i) {
  check_poly(p);
  if (i >= p->nb_terms)
    QUOR_NAME(Fatal)("Quor interface error: term %u of a polynomial of %u terms\n", i, p->nb_terms);
}

void check_exponent(i64 e) {
  if (e > kMaxExponent) QUOR_NAME(Fatal)("Quor interface error: power products should be < %d", int(kMaxExponent));
  if (e < 0) QUOR_NAME(Fatal)("Quor interface error: power products should be >= 0\n");
}

void check_nvars(u32 nvars) {
  check_open();
  if (nvars > nb_of_affine_variables)
    QUOR_NAME(Fatal)("Quor interface error: %u exponents for %u variables\n", nvars, nb_of_affine_variables);
}

// Refuses, before anything is taken, a polynomial of n terms whose monomial
// records (an exponent slot for every variable) and coefficients cannot fit
// in what the zones can still be given.
void check_room(u32 n) {
#if QUOR_INT
  const u64 coefficient = sizeof(INT);
#else
  const u64 coefficient = u64(sizeof(Dom)) * QUOR_NAME(vectorize);
#endif
  const u64 need = u64(n) * (sz_Expos + sizeof(u64*) + coefficient);
  // Below 64 MB the system's limits are not worth asking for every polynomial.
  if (need < (u64(1) << 26)) return;
  const u64 room = zone_space_room();
  if (need > room)
    QUOR_NAME(Fatal)(
        "Quor interface error: a polynomial of %u terms in %u variables needs %llu MB (an exponent for every variable "
        "in every term), more than the %llu MB left to the library's memory\n",
        n, nb_of_affine_variables, (unsigned long long)((need + (1u << 20) - 1) >> 20),
        (unsigned long long)(room >> 20));
}

// Exponent words of a fresh monomial of zone 3, all zero.
u64* fresh_monomial() {
  require_open_memory();
  Zone3Scope zone3;
  u64* r = QUOR_NAME(new_heap_Expos)();
  std::memset(r, 0, sz_Expos);
  return r + 1;
}

// Slot j of a normalised term (a record), 0 beyond the record's slots.
inline u32 exported_slot(const u64* record, u32 j) {
  return j <= max_nb_of_variables ? expos_slot(record + 1, j) : 0;
}

void write_exponents(u32* row, const u64* record, u32 nvars) {
  for (u32 j = 0; j < nvars; ++j) row[j] = exported_slot(record, j);
}

// Exports read the terms' records in order, scattered in the zone: the
// record kAhead terms on is hinted to the cache (always inlined, else the
// optimiser drops the call of a function whose only effect is a hint).
__attribute__((always_inline)) inline void hint_record(u64* const* monoms, u32 i, u32 nterms) {
  constexpr u32 kAhead = 8;
  if (i + kAhead < nterms) __builtin_prefetch(monoms[i + kAhead]);
}

u32 reduce_signed(i64 c, u32 p) {
  i64 r = c % i64(p);
  return u32(r < 0 ? r + p : r);
}

// ---- coefficient access of the normal form ----
#if QUOR_INT
struct IntCoeffs {
  INT* c;
  bool is_zero(u32 i) const { return c[i]._mp_size == 0; }
  void move(u32 d, u32 s) { c[d] = c[s]; }
  void swap(u32 a, u32 b) { std::swap(c[a], c[b]); }
  void add(u32 d, u32 s) { mpz_add(&c[d], &c[d], &c[s]); }
};
#endif

struct ResidueCoeffs {
  Dom* const* c;
  u32 V;
  const u32* primes;
  bool is_zero(u32 i) const {
    for (u32 k = 0; k < V; ++k)
      if (c[k][i] != 0) return false;
    return true;
  }
  void move(u32 d, u32 s) {
    for (u32 k = 0; k < V; ++k) c[k][d] = c[k][s];
  }
  void swap(u32 a, u32 b) {
    for (u32 k = 0; k < V; ++k) std::swap(c[k][a], c[k][b]);
  }
  void add(u32 d, u32 s) {
    for (u32 k = 0; k < V; ++k) c[k][d] = add_mod<Dom>(c[k][d], c[k][s], primes[k]);
  }
};

// Refuses monomials whose total degree the two-block words cannot hold.
void check_degrees(u64* const* words, u32 n) {
  for (u32 i = 0; i < n; ++i) {
    const u32 d = degree_Expos(words[i]);
    if (d > u32(kMaxExponent))
      QUOR_NAME(Fatal)("Quor interface error: total degree %u should be <= %d\n", d, int(kMaxExponent));
  }
}

// Homogenises the exponent words of the n terms and turns every slot into
// its record address with the hash in the header.
void homogenise_and_convert(u64** mo, u32 n) {
  check_degrees(mo, n);
  renormalize_input(mo, n);
  for (u32 i = 0; i < n; ++i) {
    mo[i] -= 1;
    mo[i][0] = hash_Expos(mo[i] + 1);
  }
}

// The normal form (see transfer.h); slots hold exponent words on entry.
template <class P, class C>
void normal_form(P p, C coeffs) {
  check_open();
  u64** mo = p->monoms;
  u32 n = p->nb_terms;
  u32 k = 0;
  for (u32 i = 0; i < n; ++i) {
    if (coeffs.is_zero(i)) continue;
    if (mo[i] == nullptr) QUOR_NAME(Fatal)("Quor interface error: the monomial of term %u is not set\n", i);
    if (k != i) {
      mo[k] = mo[i];
      coeffs.move(k, i);
    }
    ++k;
  }
  n = k;
  // Merging comes before the homogenisation: a cancelled term of the largest
  // degree must not lift the others.  Any total order brings equal monomials
  // together.
  auto swap = [&](u32 a, u32 b) {
    std::swap(mo[a], mo[b]);
    coeffs.swap(a, b);
  };
  shell_sort_indices(n, [&](u32 a, u32 b) { return comp5_Expos(mo[b], mo[a]) == 1; }, swap);
  k = 0;
  for (u32 i = 0; i < n;) {
    if (k != i) {
      mo[k] = mo[i];
      coeffs.move(k, i);
    }
    u32 j = i + 1;
    for (; j < n && equal_Expos(mo[k], mo[j]); ++j) coeffs.add(k, j);
    if (!coeffs.is_zero(k)) ++k;
    i = j;
  }
  n = k;
  p->nb_terms = n;
  homogenise_and_convert(mo, n);
  shell_sort_indices(n, [&](u32 a, u32 b) { return comp5_Expos(mo[b] + 1, mo[a] + 1) == 1; }, swap);
}

ResidueCoeffs residues_of(Dpol p) { return {p->coeffs, QUOR_NAME(vectorize), QUOR_NAME(Primes)}; }

void need_primes() {
  if (QUOR_NAME(Primes) == nullptr) QUOR_NAME(Fatal)("Quor interface error: no prime set\n");
}

// The replay statements of a call fn(prev, i, a, n) that passes n words in
// a local array named name (a one-word zero array when there are none).
void record_array_call(const char* fn, char name, u32 i, const I32* a, u32 n) {
  if (n == 0 || a == nullptr) {
    QUOR_NAME(record)("  {\n    I32 %c[1]={0};\n    QUOR(%s)(prev,%u,%c,0);\n  }\n", name, fn, i, name);
    return;
  }
  QUOR_NAME(record)("  {\n    I32 %c[%u]={%d", name, n, int(a[0]));
  for (u32 j = 1; j < n; ++j) QUOR_NAME(record)(",%d", int(a[j]));
  QUOR_NAME(record)("};\n    QUOR(%s)(prev,%u,%c,%u);\n  }\n", fn, i, name, n);
}

}  // namespace

#if QUOR_INT

void glisser_expos_Dpols(Dpol* polys, u32 n) {
  const char* mark = bignum_tas;
  u64 total = 0;
  for (u32 i = 0; i < n; ++i) total += polys[i]->nb_terms;
  auto** slots = static_cast<u64***>(zmalloc((total > 0 ? total : 1) * sizeof(u64**)));
  if (slots == nullptr) QUOR_NAME(Fatal)("Cannot allocate memory !");
  u64 front = 0, back = total;
  for (u32 i = 0; i < n; ++i)
    for (u32 t = 0; t < polys[i]->nb_terms; ++t) {
      u64** s = &polys[i]->monoms[t];
      if (reinterpret_cast<const char*>(*s) >= mark)
        slots[front++] = s;
      else
        slots[--back] = s;
    }
  // Ascending source addresses: every copy lands at or below its source, so
  // no monomial is overwritten before it is copied.
  sort_Expos_Adresses(slots, u32(front));
  u32 copies = 0;
  u64* prev_src = nullptr;
  u64* prev_dst = nullptr;
  for (u64 f = 0; f < front; ++f) {
    if (*slots[f] == prev_src) {
      *slots[f] = prev_dst;
      continue;
    }
    prev_src = *slots[f];
    in_place_copy_Expos(slots[f]);
    prev_dst = *slots[f];
    ++copies;
  }
  // Monomials below the mark are valid where they lie.
  sort_Expos_Adresses(slots + front, u32(total - front));
  zfree(slots);
  QUOR_NAME(Stderr)("Copy %.2f for %u/%u exposants\n", total ? 100.0 * copies / double(total) : 0.0, copies,
                    unsigned(total));
}

#endif

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

#if QUOR_INT
#define QUOR_INPOLY QUOR_CQ_INPOLY
#define QUOR_MODPOLY QUOR_CQ_INTMOD
#else
#define QUOR_INPOLY QUOR_CQ_GFPOLY
#define QUOR_MODPOLY QUOR_CQ_GFPOLY
#endif

// ---------------------------------------------------------------- creation

QUOR_INPOLY QUOR_NAME(creat_poly)(UI32 n) {
  if (libmode_record) {
    QUOR_NAME(record)("  prev=QUOR(creat_poly)(%u);\n", n);
    QUOR_NAME(record)("  base[global_nb++]=prev;\n");
  }
  require_open_memory();
  check_room(n);
  Zone3Scope zone3;
#if QUOR_INT
  Dpol_INT p = new_Dpol_INT(n);
  for (u32 i = 0; i < n; ++i) mpz_init(&p->coeffs[i]);  // no limbs: nothing allocated
#else
  Dpol p = new_Dpol(n);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    if (n) std::memset(p->coeffs[k], 0, sizeof(Dom) * n);
#endif
  for (u32 i = 0; i < n; ++i) p->monoms[i] = nullptr;
  return p;
}

void QUOR_NAME(set_expos2)(QUOR_INPOLY p, UI32 i, const I32* e, UI32 nvars) {
  if (libmode_record) record_array_call("set_expos2", 'e', i, e, nvars);
  check_term(p, i);
  check_nvars(nvars);
  if (nvars > 0 && e == nullptr) QUOR_NAME(Fatal)("Quor interface error: no exponents\n");
  for (u32 j = 0; j < nvars; ++j) check_exponent(e[j]);
  u64* w = fresh_monomial();
  for (u32 j = 0; j < nvars; ++j) expos_set_slot(w, j, u32(e[j]));
  p->monoms[i] = w;
}

QUOR_CQ_EXPOS QUOR_NAME(set_expos)(QUOR_INPOLY p, UI32 i, const uint16_t* e) {
  check_term(p, i);
  check_open();
  const u32 n = real_nb_of_affine_variables;
  for (u32 j = 0; j < n; ++j) check_exponent(e[j]);
  u64* w = fresh_monomial();
  for (u32 j = 0; j < n; ++j) expos_set_slot(w, j, e[j]);
  p->monoms[i] = w;
  return w;
}

void QUOR_NAME(set_expos_d)(QUOR_INPOLY p, UI32 i, QUOR_CQ_EXPOS m) {
  check_term(p, i);
  p->monoms[i] = m;
}

QUOR_CQ_EXPOS QUOR_NAME(assign_expos)(const UI32* e, I32 n) {
  const u32 count = n < 1 ? 0 : u32(n);
  check_nvars(count);
  for (u32 j = 0; j < count; ++j) check_exponent(e[j] & 0xFFFFu);
  u64* w = fresh_monomial();
  for (u32 j = 0; j < count; ++j) expos_set_slot(w, j, e[j] & 0xFFFFu);
  return w;
}

void QUOR_NAME(get_expos)(QUOR_INPOLY p, I32 i, uint16_t* out) {
  check_term(p, u32(i));
  const u64* w = p->monoms[i] + 1;
  for (u32 j = 0; j < real_nb_of_affine_variables; ++j) out[j] = u16(expos_slot(w, j));
}

#if QUOR_INT
void Quor_int_set_coeff_raw(QUOR_INPOLY p, UI32 i, const I32* u, UI32 n) {
  if (libmode_record) record_array_call("set_coeff_raw", 'u', i, u, n);
  check_term(p, i);
  if (n > 0 && u == nullptr) QUOR_NAME(Fatal)("Quor interface error: no coefficient words\n");
  require_open_memory();
  IntModeScope int_mode;
  Zone3Scope zone3;
  p->coeffs[i] = Quor_int_import_INT(reinterpret_cast<const u32*>(u), n);
}

void Quor_int_set_coeff_gmp(QUOR_INPOLY p, UI32 i, mpz_srcptr z) {
  check_term(p, i);
  if (z == nullptr) QUOR_NAME(Fatal)("Quor interface error: no integer\n");
  require_open_memory();
  IntModeScope int_mode;
  Zone3Scope zone3;
  std::FILE* digits_to = nullptr;
  if (libmode_record) {
    QUOR_NAME(record)("  QUOR(set_coeff_gmp_str)(prev,%u,\"", i);
    digits_to = record_file;
  }
  p->coeffs[i] = Quor_int_import_gmp_INT(z, digits_to);
  if (libmode_record) QUOR_NAME(record)("\");\n");
}

void Quor_int_set_coeff_gmp_str(QUOR_INPOLY p, UI32 i, const char* digits) {
  check_term(p, i);
  require_open_memory();
  IntModeScope int_mode;
  Zone3Scope zone3;
  INT v;
  mpz_init(&v);
  if (digits == nullptr || mpz_set_str(&v, digits, 10) != 0)
    QUOR_NAME(Fatal)("Quor interface error: %s is not an integer\n", digits ? digits : "(null)");
  p->coeffs[i] = v;
}
#endif

void QUOR_NAME(set_coeff_I32)(QUOR_MODPOLY p, UI32 i, I32 c) {
  if (libmode_record) QUOR_NAME(record)("  QUOR(set_coeff_I32)(prev,%u,%d);\n", i, int(c));
  check_term(p, i);
  need_primes();
  // A residue outside 0 .. p-1 is reduced, never cut to the low bits.
  p->coeffs[0][i] = Dom(reduce_signed(c, QUOR_NAME(Primes)[0]));
}

void QUOR_NAME(set_coeff)(QUOR_MODPOLY p, UI32 i, const Dom* c) {
  check_term(p, i);
  need_primes();
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) p->coeffs[k][i] = Dom(c[k] % QUOR_NAME(Primes)[k]);
}

void QUOR_NAME(get_coeff)(QUOR_MODPOLY p, I32 i, Dom* out) {
  check_term(p, u32(i));
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) out[k] = p->coeffs[k][i];
}

UI32 QUOR_NAME(nb_terms)(QUOR_INPOLY p) { return p->nb_terms; }
UI32 QUOR_NAME(size_poly)(QUOR_INPOLY p) { return p->nb_terms; }
UI32 QUOR_NAME(size_memory_coeff)() { return QUOR_NAME(vectorize) * 8; }

// ---------------------------------------------------------------- normal form

void QUOR_NAME(full_sort_poly2)(QUOR_INPOLY p) {
  if (libmode_record) QUOR_NAME(record)("  QUOR(full_sort_poly2)(prev);\n");
  check_poly(p);
#if QUOR_INT
  require_open_memory();
  IntModeScope int_mode;
  Zone3Scope zone3;
  normal_form(p, IntCoeffs{p->coeffs});
#else
  normal_form(p, residues_of(p));
#endif
}

void QUOR_NAME(full_sort_poly)(QUOR_MODPOLY p) {
  check_poly(p);
  normal_form(p, residues_of(p));
}

void QUOR_NAME(sort_poly)(QUOR_INPOLY p) {
  check_poly(p);
  check_open();
  for (u32 i = 0; i < p->nb_terms; ++i)
    if (p->monoms[i] == nullptr) QUOR_NAME(Fatal)("Quor interface error: the monomial of term %u is not set\n", i);
  homogenise_and_convert(p->monoms, p->nb_terms);
}

// ---------------------------------------------------------------- export

#if QUOR_INT
namespace {
u32 coefficient_words(Dpol_INT p) {
  u32 w = 0;
  for (u32 i = 0; i < p->nb_terms; ++i) w = std::max(w, Quor_int_Relative_GetLSize_Int(p->coeffs[i]));
  return 1 + w;
}
}  // namespace

I32 Quor_int_export_poly_INT(UI32 nvars, UI32 nterms, UI32* exps, UI32* buf, int64_t max, QUOR_INPOLY p, UI32* B) {
  check_poly(p);
  if (nterms != p->nb_terms || (exps == nullptr && u64(nvars) * nterms > 0)) {
    QUOR_NAME(Stderr)("m=%d and nb=%d\n", int(nterms), int(p->nb_terms));
    return -1;
  }
  const u32 b = coefficient_words(p);
  // 64-bit product: B x nterms may pass 2^32.
  if (max <= 0 || buf == nullptr || u64(b) * nterms >= u64(max)) {
    QUOR_NAME(Stderr)("B=%d, nb=%d and max=%d\n", int(b), int(nterms), int(max));
    return -2;
  }
  if (B != nullptr) *B = b;
  for (u32 i = 0; i < nterms; ++i) {
    hint_record(p->monoms, i, nterms);
    write_exponents(exps + u64(i) * nvars, p->monoms[i], nvars);
    Quor_int_export_INT(buf + u64(i) * b, p->coeffs[i], b);
  }
  return 1;
}

I32 Quor_int_export_poly_mon_INT(I32 i, UI32 nvars, UI32 nterms, UI32* exps, UI32* buf, int64_t max, QUOR_INPOLY p,
                                 UI32* B) {
  check_poly(p);
  if (nterms != p->nb_terms || i < 0 || u32(i) >= nterms || (exps == nullptr && nvars > 0)) return -1;
  const u32 b = 1 + Quor_int_Relative_GetLSize_Int(p->coeffs[i]);
  if (max <= 0 || buf == nullptr || i64(b) >= max) {
    QUOR_NAME(Stderr)("B=%d max=%d\n", int(b), int(max));
    return -2;
  }
  if (B != nullptr) *B = b;
  write_exponents(exps, p->monoms[i], nvars);
  Quor_int_export_INT(buf, p->coeffs[i], b);
  return 1;
}

mpz_ptr* Quor_int_export_poly_INT_gmp(UI32 nvars, UI32 nterms, UI32* exps, QUOR_INPOLY p) {
  check_poly(p);
  if (nterms != p->nb_terms || (exps == nullptr && u64(nvars) * nterms > 0)) return nullptr;
  auto* out = static_cast<mpz_ptr*>(Quor_int_alloc64(u64(nterms > 0 ? nterms : 1) * sizeof(mpz_ptr)));
  for (u32 i = 0; i < nterms; ++i) {
    hint_record(p->monoms, i, nterms);
    write_exponents(exps + u64(i) * nvars, p->monoms[i], nvars);
    out[i] = &p->coeffs[i];
  }
  return out;
}

mpz_ptr Quor_int_export_monom_INT(UI32 i, UI32 nvars, UI32* exps, QUOR_INPOLY p) {
  check_poly(p);
  if (i >= p->nb_terms || (exps == nullptr && nvars > 0)) return nullptr;
  write_exponents(exps, p->monoms[i], nvars);
  return &p->coeffs[i];
}
#endif

I32 QUOR_NAME(export_poly)(UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, QUOR_MODPOLY p) {
  check_poly(p);
  if (nterms != p->nb_terms || (nterms > 0 && (coeffs == nullptr || (exps == nullptr && nvars > 0)))) return -1;
  for (u32 i = 0; i < nterms; ++i) {
    hint_record(p->monoms, i, nterms);
    write_exponents(exps + u64(i) * nvars, p->monoms[i], nvars);
    coeffs[i] = p->coeffs[0][i];
  }
  return 1;
}

// ---------------------------------------------------------------- integer services

#if QUOR_INT
void Quor_int_convert_from_ntl_int(const UI32* digits, I32 len, UI32* out, UI32 radix) {
  if (i32(radix) < 1) QUOR_NAME(Fatal)("radix=%u\n", radix);
  need_primes();
  const u32 count = len < 0 ? u32(-i64(len)) : u32(len);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    const u32 p = QUOR_NAME(Primes)[k];
    // p > 2^31: one subtraction reduces any 32-bit word.
    const u64 r = radix >= p ? radix - p : radix;
    u64 acc = 0;
    for (u32 d = count; d-- > 0;) {
      const u64 digit = digits[2 * u64(d)];
      // acc, r < 2^32 and digit < 2^32: acc*r + digit < 2^64.
      acc = (acc * r + (digit >= p ? digit - p : digit)) % p;
    }
    out[k] = u32(len < 0 && acc != 0 ? p - acc : acc);
  }
}

I32 see_Dpol_INT(QUOR_INPOLY p) {
  Quor_int_want_small = 0;
  GC_state mark;
  Quor_int_save_GC_state(&mark);
  if (p == nullptr || p->nb_terms == 0) {
    Quor_int_Output_string("0");
  } else {
    for (u32 i = 0; i < p->nb_terms; ++i) {
      const INT c = p->coeffs[i];
      if (Quor_int_is_one_INT(c)) {
      } else if (Quor_int_is_neg_one_INT(c)) {
        Quor_int_Output_string(" -");
      } else {
        Quor_int_see_INT(c);
        Quor_int_Output_string("*");
      }
      see_Expos2(p->monoms[i], 1);
      if (i + 1 < p->nb_terms && Quor_int_GetSign_Int(p->coeffs[i + 1]) > 0) Quor_int_Output_string("+");
    }
  }
  Quor_int_restore_GC_state(&mark);
  return 1;
}
#endif

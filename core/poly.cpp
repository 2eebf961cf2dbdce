// Polynomials: creation in zone memory, sorts, homogenisation, monic
// normalisation, division by a power of the homogenising variable, printing.
#include "core/poly.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/hashtable.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

u32 gen_sym_Dpol = 0;
i32 want_automatique = 0;
u32 nb_of_renormed = 0;
i32 want_output_is_bad = 0;
#if !QUOR_INT
i32 Quor_want_mods = 0;
#endif

namespace {
constexpr u64 kDpolHeader = sizeof(sDpol);  // 32 bytes before the V pointers

inline u64 round8(u64 x) { return (x + 7) & ~u64(7); }

// Byte offset of the residue arrays and of the monomial array in a Dpol block.
inline u64 residues_offset(u32 V) { return kDpolHeader + u64(V) * sizeof(Dom*); }
inline u64 monoms_offset(u64 m, u32 V) { return round8(residues_offset(V) + u64(V) * m * sizeof(Dom)); }

// Terms rounded up to even, in 64 bits (2^32 - 1 rounds to 2^32).
inline u64 even_up(u32 n) { return u64(n) + (n & 1u); }

// Slot-wise minimum of two exponent words (every slot below 2^15).
inline u64 min_word(u64 a, u64 b) {
  // Lane top bit set where a >= b: a's lanes with their top bit forced cannot
  // borrow from the next lane.
  const u64 ge = ((a | EXPOS_SIGN_MASK) - b) & EXPOS_SIGN_MASK;
  const u64 sel = (ge >> 15) * 0xFFFFu;  // all ones in the lanes where a >= b
  return (b & sel) | (a & ~sel);
}
}  // namespace

u64 Dpol_bytes(u32 n, u32 V) {
  const u64 m = even_up(n);
  return monoms_offset(m, V) + u64(m) * sizeof(u64*);
}

Dpol raw_new_Dpol(u32 n) {
  const u32 V = QUOR_NAME(vectorize);
  const u64 m = even_up(n);
  char* base = static_cast<char*>(QUOR_NAME(alloc64)(Dpol_bytes(n, V)));
  Dpol p = reinterpret_cast<Dpol>(base);
  p->id = 0;
  p->new_flag = 0;
  p->row_flag = 0;
  p->input_flag = 0;
  p->nb_terms = n;
  p->property = 0;
  if (n == 0) {
    p->monoms = nullptr;
    for (u32 k = 0; k < V; ++k) p->coeffs[k] = nullptr;
    return p;
  }
  Dom* res = reinterpret_cast<Dom*>(base + residues_offset(V));
  for (u32 k = 0; k < V; ++k) p->coeffs[k] = res + k * m;
  p->monoms = reinterpret_cast<u64**>(base + monoms_offset(m, V));
  return p;
}

Dpol new_Dpol(u32 n) {
  Dpol p = raw_new_Dpol(n);
  p->id = ++gen_sym_Dpol;
  return p;
}

#if QUOR_INT
Dpol_INT new_Dpol_INT(u32 n) {
  const u64 m = even_up(n);
  const u64 bytes = sizeof(sDpol_INT) + m * sizeof(INT) + m * sizeof(u64*);
  char* base = static_cast<char*>(QUOR_NAME(alloc64)(bytes));
  Dpol_INT p = reinterpret_cast<Dpol_INT>(base);
  p->id = ++gen_sym_Dpol;
  p->new_flag = 0;
  p->row_flag = 0;
  p->input_flag = 0;
  p->complete_flag = 0;
  p->nb_terms = n;
  p->monoms = reinterpret_cast<u64**>(base + sizeof(sDpol_INT) + m * sizeof(INT));
  return p;
}
#endif

// ---- sorts ----

namespace {
// Slot-by-slot comparison from slot 0 over nb_of_variables slots: >0 when a is
// lexicographically larger.  A polynomial without terms compares as all zeros.
int lex_compare_lead(const sDpol* a, const sDpol* b) {
  const u32 slots = nb_of_variables;
  const u64* ea = a->nb_terms ? lead_Expos(a) : nullptr;
  const u64* eb = b->nb_terms ? lead_Expos(b) : nullptr;
  for (u32 i = 0; i < slots; ++i) {
    const u32 x = ea ? expos_slot(ea, i) : 0;
    const u32 y = eb ? expos_slot(eb, i) : 0;
    if (x != y) return x > y ? 1 : -1;
  }
  return 0;
}
inline u32 lead_degree(const sDpol* p) { return p->nb_terms ? degree_Expos(lead_Expos(p)) : 0; }
}  // namespace

void resort_Dpol(Dpol* table, u32 n) {
  shell_sort_indices(
      n, [&](u32 i, u32 j) { return lex_compare_lead(table[i], table[j]) < 0; },
      [&](u32 i, u32 j) { std::swap(table[i], table[j]); });
}

void sort_totaldeg_Dpol(Dpol* table, u32 n) {
  shell_sort_indices(
      n, [&](u32 i, u32 j) { return lead_degree(table[i]) > lead_degree(table[j]); },
      [&](u32 i, u32 j) { std::swap(table[i], table[j]); });
}

#if !QUOR_INT
void force_sort_Dpol(Dpol p) {
  u64** mo = p->monoms;
  const u32 V = QUOR_NAME(vectorize);
  shell_sort_indices(
      p->nb_terms, [&](u32 i, u32 j) { return comp5_Expos(mo[j] + 1, mo[i] + 1) == 1; },
      [&](u32 i, u32 j) {
        std::swap(mo[i], mo[j]);
        for (u32 k = 0; k < V; ++k) std::swap(p->coeffs[k][i], p->coeffs[k][j]);
      });
}
#endif

// ---- homogenisation ----

namespace {
// Raises the homogenising slot of every monomial to reach degree D (the
// largest); the result must respect the exponent bound.
template <class ExposAt>
u32 homogenise(u32 n, ExposAt expos_at) {
  u32 D = 0;
  for (u32 i = 0; i < n; ++i)
    if (const u64* e = expos_at(i)) D = std::max(D, degree_Expos(e));
  // The homogenising slot ends at most at D; a larger D would spill into the
  // next slot and falsify every divisibility test.
  if (D > EXPOS_MAX_EXPONENT) QUOR_NAME(Fatal)("You should recompile with BIGNNI=1 (degree =%u)\n", D);
  const u32 h = nb_of_affine_variables;
  for (u32 i = 0; i < n; ++i) {
    u64* e = expos_at(i);
    if (!e) continue;
    const u32 d = degree_Expos(e);
    if (d < D) e[h >> 2] += u64(D - d) << (16 * (h & 3));
  }
  return D;
}
}  // namespace

void renormalize_input(u64** monomials, u32 n) {
  homogenise(n, [&](u32 i) { return monomials[i]; });
}

u32 homogenous_Dpol(Dpol p) {
  return homogenise(p->nb_terms, [&](u32 i) { return p->monoms[i] ? p->monoms[i] + 1 : nullptr; });
}

// ---- monic, coeff_Dpol, renorm_poly ----

void monic_d(Dpol p) {
  // Every slot is normalised on its own: a slot that happens to be monic
  // already says nothing about the residues modulo the other primes.
  if (p->nb_terms == 0) return;
  monic_all_slots(p->coeffs, QUOR_NAME(vectorize), p->nb_terms, QUOR_NAME(Primes));
}

Dpol coeff_Dpol(Dpol p) {
  const u32 k = var_second_block;
  if (p->nb_terms == 0 || k == 0) return nullptr;
  const u64* lead = lead_Expos(p);
  bool any = false;
  for (u32 s = 0; s < k; ++s) any |= expos_slot(lead, s) != 0;
  if (!any || p->nb_terms < 2) return nullptr;
  for (u32 t = 1; t < p->nb_terms; ++t) {
    const u64* e = p->monoms[t] + 1;
    for (u32 s = 0; s < k; ++s)
      if (expos_slot(e, s) != expos_slot(lead, s)) {
        p->nb_terms = t;
        return t == 1 ? nullptr : p;
      }
  }
  return p;
}

void renorm_poly(u32* n, u64*** monoms) {
  const u32 nt = *n;
  if (nt == 0) return;
  u64** mo = *monoms;
  const u32 B = nb_of_blocks_of_variables;
  u64* g = QUOR_NAME(new_Expos)();  // used without header: words from g[0]
  std::memcpy(g, mo[0] + 1, sizeof(u64) * B);
  auto is_zero = [&] {
    u64 any = 0;
    for (u32 w = 0; w < B; ++w) any |= g[w];
    return any == 0;
  };
  bool zero = is_zero();
  for (u32 t = 1; t < nt && !zero; ++t) {
    const u64* e = mo[t] + 1;
    for (u32 w = 0; w < B; ++w) g[w] = min_word(g[w], e[w]);
    zero = is_zero();
  }
  if (!zero) {
    // Keep only the homogenising slot: g = h^k.
    const u32 h = nb_of_affine_variables;
    const u64 hslot = g[h >> 2] & (u64(0xFFFF) << (16 * (h & 3)));
    for (u32 w = 0; w < B; ++w) g[w] = 0;
    g[h >> 2] = hslot;
    zero = hslot == 0;
  }
  if (!zero) {
    if (want_automatique == 0) {
      ++nb_of_renormed;
    } else {
      for (u32 t = 0; t < nt; ++t) {
        u64* r = QUOR_NAME(new_Expos)();
        const u64* e = mo[t] + 1;
        for (u32 w = 0; w < B; ++w) r[1 + w] = e[w] - g[w];
        r[0] = hash_Expos(r + 1);
        mo[t] = r;
      }
    }
  }
  QUOR_NAME(kill_Expos)(g);
}

// ---- printing ----

namespace {
void append_format(std::string& s, const char* fmt, unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, fmt, v);
  s += buf;
}
#if QUOR_INT
std::string int_text(INT a) {
  std::string s(mpz_sizeinbase(&a, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, &a);
  s.resize(std::strlen(s.c_str()));
  return s;
}
#endif
}  // namespace

std::string Dpol_to_string(const sDpol* p) {
  std::string s;
  char head[32];
  std::snprintf(head, sizeof head, "f%d = ", int(p->id));
  s += head;
  const u32 n = p->nb_terms;
  if (n == 0) return s + "0";
  const u32 V = QUOR_NAME(vectorize);
#if QUOR_INT
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u32 vec_small[16];
  u32* vec = V <= 16 ? vec_small : static_cast<u32*>(QUOR_NAME(alloc64)(u64(V) * sizeof(u32)));
  GC_state term_mark;
  QUOR_NAME(save_GC_state)(&term_mark);
  for (u32 i = 0; i < n; ++i) {
    if (QUOR_NAME(want_raw_output)) {
      if (i > 0) s += "+";
      if (V > 1) s += "<";
      for (u32 k = 0; k < V; ++k) {
        if (k) s += " ";
        append_format(s, "%llu", p->coeffs[k][i]);
      }
      if (V > 1) s += ">";
      s += "*";
    } else {
      for (u32 k = 0; k < V; ++k) vec[k] = p->coeffs[k][i];
      INT out[2];
      // The lift reads one residue per prime of its context: a polynomial
      // holding fewer slots cannot be lifted in it.
      if (valid_number_of_primes <= V && QUOR_NAME(lift_one_INT)(vec, out)) {
        if (QUOR_NAME(is_one_INT)(out[1])) {
          const int sign = QUOR_NAME(GetSign_Int)(out[0]);
          if (i > 0 && sign > 0) s += "+";
          if (QUOR_NAME(is_one_INT)(out[0])) {
          } else if (QUOR_NAME(is_neg_one_INT)(out[0])) {
            s += " -";
          } else {
            s += int_text(out[0]);
            s += "*";
          }
        } else {
          enregistre(out[0]);
          enregistre(out[1]);
          if (i > 0) s += "+";
          s += "(" + int_text(out[0]) + "/" + int_text(out[1]) + ")*";
        }
      } else {
        if (i > 0) s += "+";
        want_output_is_bad = 1;
        s += "NYA*";
      }
      QUOR_NAME(restore_GC_state)(&term_mark);
    }
    s += expos_to_string(p->monoms[i], 1);
  }
  QUOR_NAME(restore_GC_state)(&mark);
#else
  // No multi-precision layer here: the raw form is printed in every mode.
  const u32 prime = QUOR_NAME(Primes)[0];
  for (u32 i = 0; i < n; ++i) {
    if (i > 0) s += "+";
    bool number = false;
    for (u32 k = 0; k < V; ++k) {
      if (k) s += " ";
      const u32 c = p->coeffs[k][i];
      number = false;
      if (c == 1) continue;
      if (Quor_want_mods && 2 * c > prime) {
        const int v = int(c) - int(prime);
        if (v == -1) {
          s += "-";
        } else {
          char buf[16];
          std::snprintf(buf, sizeof buf, "%d", v);
          s += buf;
          number = true;
        }
      } else {
        append_format(s, "%llu", c);
        number = true;
      }
    }
    if (number) s += "*";
    s += expos_to_string(p->monoms[i], 1);
  }
#endif
  return s;
}

}  // namespace quor::QUOR_NS

void QUOR_NAME(see_Dpol)(const quor::QUOR_NS::sDpol* p) {
  using namespace quor::QUOR_NS;
  QUOR_NAME(Output_string)(Dpol_to_string(p).c_str());
}

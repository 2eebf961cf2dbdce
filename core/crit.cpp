// Critical pairs: records, creation inside the degree window, the order and
// the merge sort of pair lists, the Gebauer-Moeller criteria, the basis and
// reductor tables.  The criteria run once per pair and per new polynomial:
// they work on whole exponent words and allocate nothing.
#include "core/crit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/channels.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

Crit root_of_Crit = nullptr;
Crit z_Crit = nullptr;
u32 Dlim = 1000000000;
u32 Dlim_min = 0;

namespace {
constexpr u64 kNotSign = ~EXPOS_SIGN_MASK;

// Slot-wise maximum of two exponent words (every slot below 2^15).
inline u64 max_word(u64 a, u64 b) {
  const u64 ge = ((a | EXPOS_SIGN_MASK) - b) & EXPOS_SIGN_MASK;  // lanes where a >= b
  const u64 sel = (ge >> 15) * 0xFFFFu;
  return (a & sel) | (b & ~sel);
}
// Top bit of every non-zero 16-bit slot of a word.
inline u64 nonzero_lanes(u64 x) { return (((x & kNotSign) + kNotSign) | x) & EXPOS_SIGN_MASK; }
// Mask of the homogenising slot within word w (0 in the other words).
inline u64 h_mask_in_word(u32 w) {
  const u32 h = nb_of_affine_variables;
  return (h >> 2) == w ? u64(0xFFFF) << (16 * (h & 3)) : 0;
}
inline u32 lcm_degree(const u64* l) { return degree_Expos(l); }

inline Crit next_free(Crit c) {
  Crit n;
  std::memcpy(&n, c, sizeof n);
  return n;
}
inline void set_next_free(Crit c, Crit next) { std::memcpy(c, &next, sizeof next); }
}  // namespace

// ---- records ----

Crit QUOR_NAME(new_Crit)() {
  Crit r = root_of_Crit;
  if (!r) r = static_cast<Crit>(QUOR_NAME(generate)(kCritSlab, sizeof(sCrit), "Crit"));
  root_of_Crit = next_free(r);
  return r;
}

Crit init_Objet_Crit() {
  z_Crit = QUOR_NAME(new_Crit)();
  z_Crit->next = z_Crit;
  return z_Crit;
}

Crit kill_deep_Crit(Crit x) {
  Crit next = x->next;
  if (x->lcm) QUOR_NAME(kill_Expos)(x->lcm);
  if (x->cofactor1) QUOR_NAME(kill_Expos)(x->cofactor1);
  if (x->cofactor2) QUOR_NAME(kill_Expos)(x->cofactor2);
  set_next_free(x, root_of_Crit);
  root_of_Crit = x;
  return next;
}

Crit QUOR_NAME(make_Crit1)(Dpol a, Dpol b) {
  const u64* ea = lead_Expos(a);
  const u64* eb = lead_Expos(b);
  u64* l = QUOR_NAME(lcm_Expos)(ea, eb);
  const u32 d = lcm_degree(l);
  if (!(Dlim_min < d && d <= Dlim)) {
    QUOR_NAME(kill_Expos)(l);
    return nullptr;
  }
  Crit c = QUOR_NAME(new_Crit)();
  c->deg = d;
  c->pad_ = 0;
  c->lcm = l;
  c->cofactor1 = nil_or_sub_Expos(l, ea);
  c->cofactor2 = nil_or_sub_Expos(l, eb);
  c->older = a;
  c->newer = b;
  c->next = nullptr;
  return c;
}

Crit QUOR_NAME(generate_Crit)(Dpol p, Dpol* G, u32 n) {
  Crit list = nullptr;
  for (u32 i = 0; i < n; ++i) {
    Crit c = G[i]->id < p->id ? QUOR_NAME(make_Crit1)(G[i], p) : QUOR_NAME(make_Crit1)(p, G[i]);
    if (c) {
      c->next = list;
      list = c;
    }
  }
  return list;
}

// ---- order, sort, merge ----

i32 comp_Crit(const sCrit* a, const sCrit* b) {
  if (a->deg != b->deg) return a->deg < b->deg ? -1 : 1;
  const i32 r = comp_Expos(b->lcm, a->lcm);
  if (r) return r;
  if (a->cofactor1 && b->cofactor1) return comp_Expos(b->cofactor1, a->cofactor1);
  if (b->cofactor1) {
    if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("#");
    return 1;
  }
  if (a->cofactor1) return -1;
  return 0;
}

namespace {
// Merges sorted a and b (a's pair first only when strictly before); when tail
// is given it receives the last pair of the result.
Crit merge(Crit a, Crit b, Crit* tail) {
  sCrit head;
  Crit t = &head;
  while (a && b) {
    if (comp_Crit(a, b) < 0) {
      t->next = a;
      a = a->next;
    } else {
      t->next = b;
      b = b->next;
    }
    t = t->next;
  }
  t->next = a ? a : b;
  if (tail) {
    while (t->next) t = t->next;
    *tail = t;
  }
  return head.next;
}
// Cuts the list after k pairs; returns the rest.
Crit cut_after(Crit list, u64 k) {
  for (u64 i = 1; list && i < k; ++i) list = list->next;
  if (!list) return nullptr;
  Crit rest = list->next;
  list->next = nullptr;
  return rest;
}
}  // namespace

namespace {
// A pair with the key of its lcm (pairs of one degree are in the order of
// these keys, descending; equal keys are equal lcms) and the key of its
// cofactor1 in the same layout (it divides the lcm), each made when a
// comparison first needs it.
struct KeyedCrit {
  u64 key[2];
  u64 cofactor_key[2];
  u32 deg;
  u32 made;  // bit 0: key, bit 1: cofactor_key
  Crit pair;
};

// comp_Crit on keyed pairs; the keys are made when first needed.
i32 comp_keyed(KeyedCrit& a, KeyedCrit& b, const ExposKeyLayout& L) {
  if (a.deg != b.deg) return a.deg < b.deg ? -1 : 1;
  auto need = [&](KeyedCrit& x, u32 bit) {
    if (x.made & bit) return;
    u64* k = bit == 1 ? x.key : x.cofactor_key;
    k[1] = 0;
    L.make(bit == 1 ? x.pair->lcm : x.pair->cofactor1, 0, k);
    x.made |= bit;
  };
  need(a, 1);
  need(b, 1);
  if (a.key[0] != b.key[0]) return a.key[0] > b.key[0] ? -1 : 1;
  if (a.key[1] != b.key[1]) return a.key[1] > b.key[1] ? -1 : 1;
  if (!a.pair->cofactor1 || !b.pair->cofactor1) return comp_Crit(a.pair, b.pair);
  need(a, 2);
  need(b, 2);
  if (a.cofactor_key[0] != b.cofactor_key[0]) return a.cofactor_key[0] > b.cofactor_key[0] ? -1 : 1;
  if (a.cofactor_key[1] != b.cofactor_key[1]) return a.cofactor_key[1] > b.cofactor_key[1] ? -1 : 1;
  return 0;
}
}  // namespace

Crit trier_Crit(Crit list) {
  if (!list || !list->next) return list;
  u64 n = 0;
  const u32 B = nb_of_blocks_of_variables;
  u64 any[16] = {};
  for (Crit c = list; c; c = c->next, ++n)
    for (u32 w = 0; w < B && w < 16; ++w) any[w] |= c->lcm[w];
  ExposKeyLayout L;
  if (B <= 16) L.plan(any, false, 0);
  if (L.words == 0) {
    // Lcms too wide for keys: the list itself, merged by comp_Crit.
    for (u64 width = 1; width < n; width *= 2) {
      Crit head = nullptr;
      Crit* link = &head;
      Crit rest = list;
      while (rest) {
        Crit a = rest;
        Crit b = cut_after(a, width);
        rest = cut_after(b, width);
        Crit tail;
        *link = merge(a, b, &tail);
        link = &tail->next;
      }
      list = head;
    }
    return list;
  }
  // The same runs merged in the same order, so the same comparisons decide
  // (and say the same), on indices into an array of keyed pairs.
  static thread_local std::vector<KeyedCrit> keyed_buffer;
  static thread_local std::vector<u32> index_buffer;
  keyed_buffer.resize(n);
  index_buffer.resize(2 * n);
  KeyedCrit* keyed = keyed_buffer.data();
  u32* from = index_buffer.data();
  u32* to = from + n;
  u32 i = 0;
  for (Crit c = list; c; c = c->next, ++i) {
    KeyedCrit& k = keyed[i];
    k.deg = c->deg;
    k.made = 0;
    k.pair = c;
    from[i] = i;
  }
  for (u64 width = 1; width < n; width *= 2) {
    for (u64 lo = 0; lo < n; lo += 2 * width) {
      const u64 mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
      u64 a = lo, b = mid, o = lo;
      while (a < mid && b < hi) to[o++] = comp_keyed(keyed[from[a]], keyed[from[b]], L) < 0 ? from[a++] : from[b++];
      while (a < mid) to[o++] = from[a++];
      while (b < hi) to[o++] = from[b++];
    }
    std::swap(from, to);
  }
  for (u64 j = 0; j + 1 < n; ++j) keyed[from[j]].pair->next = keyed[from[j + 1]].pair;
  keyed[from[n - 1]].pair->next = nullptr;
  return keyed[from[0]].pair;
}

Crit updatD(Crit a, Crit b) {
  if (!a) return b;
  if (!b) return a;
  return merge(a, b, nullptr);
}

// ---- criteria ----

i32 crit2(const u64* m, const u64* lcm, const u64* e1, const u64* e2) {
  if (!is_sub_Expos1(lcm, m)) return 0;
  const u32 B = nb_of_blocks_of_variables;
  bool same1 = true, same2 = true;
  for (u32 w = 0; w < B; ++w) {
    same1 &= max_word(m[w], e1[w]) == lcm[w];
    same2 &= max_word(m[w], e2[w]) == lcm[w];
  }
  return same1 || same2 ? 0 : 1;
}

Crit crit2onLPC(const u64* m, Crit D) {
  Crit* link = &D;
  while (Crit x = *link) {
    if (crit2(m, x->lcm, lead_Expos(x->older), lead_Expos(x->newer)))
      *link = kill_deep_Crit(x);
    else
      link = &x->next;
  }
  return D;
}

i32 Disjoint(const sCrit* x) {
  // Coprime apart from h exactly when the product of the two leads divides
  // their lcm there: no affine slot is non-zero in both.
  const u64* a = lead_Expos(x->older);
  const u64* b = lead_Expos(x->newer);
  const u32 B = nb_of_blocks_of_variables;
  for (u32 w = 0; w < B; ++w)
    if (nonzero_lanes(a[w]) & nonzero_lanes(b[w]) & ~h_mask_in_word(w)) return 0;
  return 1;
}

Crit critBackonD1(u32 d, const u64* lcm, Crit D) {
  Crit* link = &D;
  while (Crit x = *link) {
    if (x->deg >= d && is_sub_Expos1(x->lcm, lcm))
      *link = kill_deep_Crit(x);
    else
      link = &x->next;
  }
  return D;
}

Crit critBackEtrangeronLPC(Crit N) {
  Crit* link = &N;  // the link that holds the current pair
  while (Crit x = *link) {
    Crit y = x->next;
    if (!y) {
      if (Disjoint(x)) *link = kill_deep_Crit(x);
      break;
    }
    if (equal_Expos(x->lcm, y->lcm)) {
      if (Disjoint(x)) {
        x->next = kill_deep_Crit(y);  // x stays and is not examined again
        link = &x->next;
      } else {
        *link = kill_deep_Crit(x);  // y becomes the current pair
      }
    } else {
      // x is the last of its lcm class: later multiples of its lcm go.
      x->next = critBackonD1(x->deg, x->lcm, y);
      if (Disjoint(x))
        *link = kill_deep_Crit(x);
      else
        link = &x->next;
    }
  }
  return N;
}

// ---- basis and reductors ----

u32 updatF(const u64* m, Dpol p, Dpol* G, u32 n) {
  u32 k = 0;
  for (u32 i = 0; i < n; ++i)
    if (!is_sub_Expos1(lead_Expos(G[i]), m)) G[k++] = G[i];
  if (k >= kBasisCapacity) QUOR_NAME(Fatal)("Not enough memory to store the result (base) !%s", "\n");
  G[k] = p;
  return k + 1;
}

void reductors(Dpol* R, u32* count, Dpol* list, u32 n, u32 capacity) {
  if (u64(*count) + n >= capacity) QUOR_NAME(Fatal)("Not enough memory for the table of reductors!\n");
  for (u32 i = 0; i < n; ++i) R[*count + i] = list[i];
  resort_Dpol(R, *count + n);
  *count += n;
}

Dpol is_reducible_by_G(const u64* m, Dpol* G, u32 n) {
  for (u32 i = 0; i < n; ++i)
    if (is_sub_Expos1(m, lead_Expos(G[i]))) return G[i];
  return nullptr;
}

i32 is_reducible3(u64* const* monoms, Dpol* G, u32 n) {
  const u64* m = monoms[0] + 1;
  const u32 B = nb_of_blocks_of_variables;
  for (u32 i = 0; i < n; ++i) {
    const u64* d = lead_Expos(G[i]);
    bool divides = true;
    for (u32 w = 0; w < B && divides; ++w)
      divides = ((m[w] - (d[w] & ~h_mask_in_word(w))) & EXPOS_SIGN_MASK) == 0;
    if (divides) return 1;
  }
  return 0;
}

i32 is_eliminated(u32 n, u64* const* monoms, u32 k) {
  if (k == 0) return 1;
  const u32 full = k >> 2;
  const u64 part = (u64(1) << (16 * (k & 3))) - 1;
  for (u32 t = 0; t < n; ++t) {
    if (!monoms[t]) continue;
    const u64* e = monoms[t] + 1;
    for (u32 w = 0; w < full; ++w)
      if (e[w]) return 0;
    if ((k & 3) && (e[full] & part)) return 0;
  }
  return 1;
}

u32 restriction(Dpol* G, u32 n) {
  u32 k = 0;
  for (u32 i = 0; i < n; ++i)
    if (is_eliminated(G[i]->nb_terms, G[i]->monoms, var_second_block)) G[k++] = G[i];
  if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("\nRestriction a %u pols\n", k);
  return k;
}

i32 is_pure_power_i(u64* const* monoms, u32 i) {
  if (!monoms || !monoms[0]) return 0;
  const u64* e = monoms[0] + 1;
  u32 nonzero = 0;
  for (u32 s = 0; s < var_second_block; ++s) nonzero += expos_slot(e, s) != 0;
  return nonzero <= 1 && expos_slot(e, i) != 0 ? 1 : 0;
}

}  // namespace quor::QUOR_NS

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
  std::memcpy(&n, static_cast<const void*>(c), sizeof n);  // the link kept in a free record
  return n;
}
inline void set_next_free(Crit c, Crit next) { std::memcpy(static_cast<void*>(c), &next, sizeof next); }
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

Crit crit2onLPC_many(const u64* ms, u32 k, Crit D) {
  const u32 B = nb_of_blocks_of_variables;
  Crit* link = &D;
  while (Crit x = *link) {
    bool removed = false;
    for (u32 j = 0; j < k && !removed; ++j) {
      const u64* m = ms + u64(j) * B;
      removed = is_sub_Expos1(x->lcm, m) && crit2(m, x->lcm, lead_Expos(x->older), lead_Expos(x->newer));
    }
    if (removed)
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

// ---- the new pairs of one polynomial ----

namespace {
constexpr u32 kNone = ~u32(0);

// Bit 4w + l set when slot l of word w is non-zero (words past 16 folded).
inline u64 support_mask(const u64* e, u32 B) {
  u64 s = 0;
  for (u32 w = 0; w < B; ++w) {
    const u64 top = nonzero_lanes(e[w]) >> 15;                           // bits 0, 16, 32, 48
    s |= ((top * 0x0001000200040008ULL) >> 48 & 0xF) << (4 * (w & 15));  // gathered into bits 48 .. 51
  }
  return s;
}
// A hash of the words whose top bits depend on every slot.
inline u64 hash_words(const u64* e, u32 B) {
  u64 h = 0;
  for (u32 w = 0; w < B; ++w) h = (h ^ e[w] ^ (e[w] >> 32)) * 0x9E3779B97F4A7C15ULL;
  return h;
}
inline bool coprime_leads(const u64* a, const u64* b, u32 B) {
  for (u32 w = 0; w < B; ++w)
    if (nonzero_lanes(a[w]) & nonzero_lanes(b[w]) & ~h_mask_in_word(w)) return false;
  return true;
}

// The pairs of one lcm: its candidates (indices into G) in G's order.
struct LcmClass {
  u32 deg;
  u32 first;  // candidate
  u32 last;
  u32 size;
};

// Working tables of new_pairs_Crit, kept from call to call.
struct NewPairScratch {
  std::vector<u64> leads;    // B words per entry of G
  std::vector<u32> ids;
  std::vector<u32> next;     // per entry of G: the next candidate of its class
  std::vector<LcmClass> classes;
  std::vector<u64> lcm;      // B words per class
  std::vector<u32> slots;    // open addressing on the lcm: class + 1, 0 free
  std::vector<u32> by_degree;
  std::vector<u32> degree_start;
  std::vector<u64> applied;  // B words per class that removes its multiples: its lcm / m
  std::vector<u64> applied_support;
  std::vector<u32> members;
  std::vector<u32> order;
  std::vector<u64> cofactors;
  std::vector<u32> kept;     // entries of G whose pair survives
};

// One scratch per thread, reached once per call.
__attribute__((noinline)) NewPairScratch& new_pair_scratch() {
  static thread_local NewPairScratch s;
  return s;
}
}  // namespace

bool surviving_partners(Dpol p, Dpol const* G, u32 n, std::vector<Dpol>& partners, const u64* given) {
  partners.clear();
  const u32 B = nb_of_blocks_of_variables;
  const u64* m = lead_Expos(p);
  NewPairScratch& S = new_pair_scratch();
  // The leads in one pass of independent loads, unless given.
  S.ids.resize(n);
  S.next.resize(n);
  if (!given) S.leads.resize(u64(n) * B);
  for (u32 i = 0; i < n; ++i) {
    if (!given) std::memcpy(&S.leads[u64(i) * B], lead_Expos(G[i]), 8 * size_t(B));
    S.ids[i] = G[i]->id;
  }
  const u64* const leads = given ? given : S.leads.data();
  const u32 pid = p->id;

  // The lcm classes.
  u32 bits = 4;
  while ((u64(1) << bits) < 2 * u64(n)) ++bits;
  S.slots.assign(size_t(1) << bits, 0);
  S.classes.clear();
  S.lcm.clear();
  S.lcm.resize(u64(n) * B + B);  // room for every class, and the lcm being made
  u32 dmin = ~u32(0), dmax = 0;
  for (u32 i = 0; i < n; ++i) {
    const u64* e = &leads[u64(i) * B];
    u64* l = &S.lcm[S.classes.size() * B];  // made in the next class's place
    for (u32 w = 0; w < B; ++w) l[w] = max_word(e[w], m[w]);
    const u32 d = lcm_degree(l);
    if (!(Dlim_min < d && d <= Dlim)) continue;
    // A pair whose lcm is its older lead follows the others of its class
    // with a message: the whole sort keeps every comparison that says it.
    if (equal_Expos(l, S.ids[i] < pid ? e : m)) return false;
    const u32 mask = (u32(1) << bits) - 1;
    u32 at = u32(hash_words(l, B) >> (64 - bits));
    u32 c;
    while (true) {
      const u32 s = S.slots[at];
      if (s == 0) {
        c = u32(S.classes.size());
        S.slots[at] = c + 1;
        S.classes.push_back({d, i, i, 0});
        dmin = std::min(dmin, d);
        dmax = std::max(dmax, d);
        break;
      }
      if (equal_Expos(&S.lcm[u64(s - 1) * B], l)) {
        c = s - 1;
        break;
      }
      at = (at + 1) & mask;
    }
    LcmClass& C = S.classes[c];
    if (C.size++) S.next[C.last] = i;
    C.last = i;
    S.next[i] = kNone;
  }
  const u32 nc = u32(S.classes.size());

  // Classes by ascending degree: a class removes only multiples of its lcm,
  // which lie in higher degrees, so the order within a degree does not matter.
  S.by_degree.resize(nc);
  if (nc) {
    S.degree_start.assign(dmax - dmin + 2, 0);
    for (u32 c = 0; c < nc; ++c) ++S.degree_start[S.classes[c].deg - dmin + 1];
    for (u32 d = 1; d < S.degree_start.size(); ++d) S.degree_start[d] += S.degree_start[d - 1];
    for (u32 c = 0; c < nc; ++c) S.by_degree[S.degree_start[S.classes[c].deg - dmin]++] = c;
  }
  S.applied.clear();
  S.applied_support.clear();
  S.kept.clear();
  u64 q16[16];
  std::vector<u64> q_wide(B > 16 ? B : 0);
  u64* q = B > 16 ? q_wide.data() : q16;
  for (const u32 c : S.by_degree) {
    const LcmClass& C = S.classes[c];
    const u64* L = &S.lcm[u64(c) * B];
    // lcm(g, m) divides lcm(g', m) exactly when their quotients by m do.
    for (u32 w = 0; w < B; ++w) q[w] = L[w] - m[w];
    const u64 sq = support_mask(q, B);
    bool removed = false;
    for (size_t a = 0; a < S.applied_support.size() && !removed; ++a)
      removed = (S.applied_support[a] & ~sq) == 0 && is_sub_Expos1(q, &S.applied[a * B]);
    if (removed) continue;
    // The class in the order of the sort: cofactor1 descending, equal ones in G's order.
    S.members.clear();
    for (u32 i = C.first; i != kNone; i = S.next[i]) S.members.push_back(i);
    if (C.size > 1) {
      S.cofactors.resize(u64(C.size) * B);
      S.order.resize(C.size);
      for (u32 j = 0; j < C.size; ++j) {
        const u32 i = S.members[j];
        const u64* older = S.ids[i] < pid ? &leads[u64(i) * B] : m;
        for (u32 w = 0; w < B; ++w) S.cofactors[u64(j) * B + w] = L[w] - older[w];
        S.order[j] = j;
      }
      std::stable_sort(S.order.begin(), S.order.end(), [&](u32 x, u32 y) {
        return comp_Expos(&S.cofactors[u64(x) * B], &S.cofactors[u64(y) * B]) > 0;
      });
      for (u32& j : S.order) j = S.members[j];
      S.members.swap(S.order);
    }
    // The walk of critBackEtrangeronLPC over the class: it removes the
    // multiples of its lcm when it reaches the class's last pair.
    bool applies = false;
    for (u32 j = 0; j < C.size;) {
      const u32 i = S.members[j];
      const bool coprime = coprime_leads(&leads[u64(i) * B], m, B);
      if (j + 1 == C.size) {
        applies = true;
        if (!coprime) S.kept.push_back(i);
        break;
      }
      if (coprime) S.kept.push_back(i);
      j += coprime ? 2 : 1;
    }
    if (applies) {
      S.applied.insert(S.applied.end(), q, q + B);
      S.applied_support.push_back(sq);
    }
  }

  std::sort(S.kept.begin(), S.kept.end());
  for (const u32 i : S.kept) partners.push_back(G[i]);
  return true;
}

Crit pairs_with_partners(Dpol p, const Dpol* partners, u32 k) {
  // Listed in the reverse order of G as the whole list was, the sort puts
  // them in the order they had in it.
  Crit list = nullptr;
  for (u32 i = 0; i < k; ++i) {
    const Dpol g = partners[i];
    Crit c = g->id < p->id ? QUOR_NAME(make_Crit1)(g, p) : QUOR_NAME(make_Crit1)(p, g);
    c->next = list;
    list = c;
  }
  return trier_Crit(list);
}

Crit new_pairs_Crit(Dpol p, Dpol* G, u32 n) {
  static thread_local std::vector<Dpol> partners;
  if (!surviving_partners(p, G, n, partners))
    return critBackEtrangeronLPC(trier_Crit(QUOR_NAME(generate_Crit)(p, G, n)));
  return pairs_with_partners(p, partners.data(), u32(partners.size()));
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

void leads_without_h(const Dpol* G, u32 n, u64* out) {
  const u32 B = nb_of_blocks_of_variables;
  for (u32 i = 0; i < n; ++i, out += B) {
    const u64* d = lead_Expos(G[i]);
    for (u32 w = 0; w < B; ++w) out[w] = d[w] & ~h_mask_in_word(w);
  }
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

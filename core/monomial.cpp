// Monomials: layout, free lists, the two-block order, word arithmetic, lists,
// printing.  The order and the divisibility test are the innermost functions
// of sorting and symbolic preprocessing: they work on whole 64-bit words and
// stop at the first deciding word.
#include "core/monomial.h"

#include <bit>
#include <cstring>

#include "core/channels.h"
#include "core/hashtable.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

u32 nb_of_affine_variables = 0;
u32 real_nb_of_affine_variables = 0;
u32 nb_of_variables = 0;
u32 nb_of_blocks_of_variables = 0;
u32 max_nb_of_variables = 0;
u32 sz_Expos = 8;
u32 var_second_block = 0;
char* Liste_variables[QUOR_MAX_VARIABLE_NAMES] = {};


u64* root_of_Expos = nullptr;
List_Expos QUOR_NAME(root_of_List_Expos) = nullptr;
// The sentinel lives outside zone memory, so that a memory reset cannot
// leave it pointing at a cell that is handed out again.
namespace {
sList_Expos z_List_Expos_cell = {nullptr, &z_List_Expos_cell};
}
List_Expos z_List_Expos = &z_List_Expos_cell;

namespace {
constexpr u32 kExposSlab = 10000;
constexpr u32 kListSlab = 100000;

inline u64* next_free(void* rec) {
  u64* n;
  std::memcpy(&n, rec, sizeof n);
  return n;
}
inline void set_next_free(void* rec, void* next) { std::memcpy(rec, &next, sizeof next); }

// Mask of the slots of word kw (k = var_second_block) that belong to block 1.
inline u64 block1_mask(u32 k) { return (u64(1) << (16 * (k & 3))) - 1; }

inline u32 lane(u64 w, u32 l) { return u32(w >> (16 * l)) & 0xFFFFu; }
inline u32 top_lane(u64 x) { return u32(63 - __builtin_clzll(x)) >> 4; }

// Reverse lexicographic decision on the differing bits x of words wa / wb:
// the highest differing slot decides, the smaller exponent is the greater monomial.
inline i32 revlex_word(u64 x, u64 wa, u64 wb) {
  const u32 l = top_lane(x);
  return lane(wa, l) > lane(wb, l) ? -1 : 1;
}

// Block 1: degree then reverse lexicographic (slots 0 .. k-1).
inline i32 comp_block1(const u64* a, const u64* b, u32 kw, u64 km) {
  u32 da = 0, db = 0;
  for (u32 w = 0; w < kw; ++w) {
    da += expos_word_degree(a[w]);
    db += expos_word_degree(b[w]);
  }
  if (km) {
    da += expos_word_degree(a[kw] & km);
    db += expos_word_degree(b[kw] & km);
  }
  if (da != db) return da > db ? 1 : -1;
  if (km) {
    const u64 x = (a[kw] ^ b[kw]) & km;
    if (x) return revlex_word(x, a[kw], b[kw]);
  }
  for (u32 w = kw; w-- > 0;) {
    const u64 x = a[w] ^ b[w];
    if (x) return revlex_word(x, a[w], b[w]);
  }
  return 0;
}

// Block 2 (slots k .. 4B-1; the spare slots are zero): reverse lexicographic
// from the top slot down, after the block degree when with_degree.
inline i32 comp_block2(const u64* a, const u64* b, u32 kw, u64 km, bool with_degree) {
  const u32 nb = nb_of_blocks_of_variables;
  if (with_degree) {
    u32 da = expos_word_degree(a[kw] & ~km), db = expos_word_degree(b[kw] & ~km);
    for (u32 w = kw + 1; w < nb; ++w) {
      da += expos_word_degree(a[w]);
      db += expos_word_degree(b[w]);
    }
    if (da != db) return da > db ? 1 : -1;
  }
  for (u32 w = nb; w-- > kw + 1;) {
    const u64 x = a[w] ^ b[w];
    if (x) return revlex_word(x, a[w], b[w]);
  }
  const u64 x = (a[kw] ^ b[kw]) & ~km;
  return x ? revlex_word(x, a[kw], b[kw]) : 0;
}

inline i32 comp_two_blocks(const u64* a, const u64* b, bool block2_degree) {
  const u32 k = var_second_block;
  const u32 kw = k >> 2;
  const u64 km = block1_mask(k);
  if (k) {
    const i32 r = comp_block1(a, b, kw, km);
    if (r) return r;
  }
  return comp_block2(a, b, kw, km, block2_degree);
}

// Slot-wise maximum of one word; needs every slot <= EXPOS_MAX_EXPONENT so that
// (a | sign) - b borrows inside no slot.
inline u64 max_word(u64 a, u64 b) {
  const u64 ge = (((a | EXPOS_SIGN_MASK) - b) & EXPOS_SIGN_MASK) >> 15;  // 1 per slot where a >= b
  const u64 m = ge * 0xFFFFu;
  return (a & m) | (b & ~m);
}
}  // namespace

void set_Expos(u32 n) {
  nb_of_affine_variables = n;
  real_nb_of_affine_variables = n;
  nb_of_variables = n + 1;
  nb_of_blocks_of_variables = (n + 1 + 3) / 4;
  max_nb_of_variables = 4 * nb_of_blocks_of_variables - 1;
  const u32 old_size = sz_Expos;
  sz_Expos = 8 + 8 * nb_of_blocks_of_variables;
  // Free records were cut for the old size: a larger layout must not reuse them.
  if (sz_Expos != old_size) root_of_Expos = nullptr;
  if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("Blocks %u %u\n", var_second_block, n - var_second_block);
}

// ---- records ----

u64* QUOR_NAME(new_Expos)() {
  u64* r = root_of_Expos;
  if (!r) r = static_cast<u64*>(QUOR_NAME(generate)(kExposSlab, sz_Expos, "Expos"));
  root_of_Expos = next_free(r);
  // Given-back records lie scattered: the next one is hinted while this one is filled.
  __builtin_prefetch(root_of_Expos, 1);
  return r;
}

i32 QUOR_NAME(kill_Expos)(u64* record) {
  if (record) {
    set_next_free(record, root_of_Expos);
    root_of_Expos = record;
  }
  return 0;
}

u64* QUOR_NAME(new_heap_Expos)() { return static_cast<u64*>(QUOR_NAME(alloc64)(sz_Expos)); }

u64* zero_Expos() {
  u64* e = QUOR_NAME(new_Expos)() + 1;
  std::memset(e, 0, 8 * size_t(nb_of_blocks_of_variables));
  return e;
}

u64* copy_offset_Expos(const u64* src) {
  u64* e = QUOR_NAME(new_Expos)() + 1;
  std::memcpy(e, src, 8 * size_t(nb_of_blocks_of_variables));
  return e;
}

#if QUOR_INT
void in_place_copy_Expos(u64** slot) {
  // The compaction visits sources in ascending address order: an exact-size
  // copy never starts above its source, but may overlap it.
  u64* r = static_cast<u64*>(zone_alloc_exact(sz_Expos, 8));
  std::memmove(r, *slot, sz_Expos);
  *slot = r;
}

void sort_Expos_Adresses(u64*** slots, u32 count) {
  auto key = [&](u32 i) { return reinterpret_cast<uintptr_t>(*slots[i]); };
  for (u32 gap = count / 2; gap >= 1; gap /= 2)
    for (u32 i = gap; i < count; ++i)
      for (u32 j = i; j >= gap && key(j - gap) >= key(j); j -= gap) {
        u64** t = slots[j];
        slots[j] = slots[j - gap];
        slots[j - gap] = t;
      }
}
#endif

void copy_block1_Expos(u64* dst, const u64* src) {
  const u32 nb = nb_of_blocks_of_variables;
  const u32 k = var_second_block;
  std::memset(dst, 0, 8 * size_t(nb));
  const u64* s = src + 1;
  const u32 kw = k >> 2;
  for (u32 w = 0; w < kw; ++w) dst[w] = s[w];
  if (kw < nb) dst[kw] = s[kw] & block1_mask(k);
}

// ---- arithmetic ----

u64* sub_Expos(const u64* a, const u64* b) {
  u64* q = QUOR_NAME(new_Expos)();
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) q[w] = a[w] - b[w];
  return q;
}

u64* nil_or_sub_Expos(const u64* a, const u64* b) {
  u64* q = QUOR_NAME(new_Expos)();
  const u32 nb = nb_of_blocks_of_variables;
  u64 any = 0;
  for (u32 w = 0; w < nb; ++w) any |= (q[w] = a[w] - b[w]);
  if (any) return q;
  QUOR_NAME(kill_Expos)(q);
  return nullptr;
}

u64* QUOR_NAME(lcm_Expos)(const u64* a, const u64* b) {
  u64* l = QUOR_NAME(new_Expos)();
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) l[w] = max_word(a[w], b[w]);
  return l;
}

i32 QUOR_NAME(is_sub_in_place_Expos)(const u64* m, const u64* d, u64* q) {
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) {
    const u64 x = m[w] - d[w];
    if (x & EXPOS_SIGN_MASK) return 0;
    q[w] = x;
  }
  return 1;
}

// ---- order ----

i32 comp_Expos(const u64* a, const u64* b) { return comp_two_blocks(a, b, false); }
i32 comp4_Expos(const u64* a, const u64* b) { return comp_two_blocks(a, b, false); }
i32 comp5_Expos(const u64* a, const u64* b) { return comp_two_blocks(a, b, true); }

// ---- order keys ----

void ExposKeyLayout::plan(const u64* any, bool strong, u32 tails) {
  const u32 S = 4 * nb_of_blocks_of_variables;
  const u32 k = var_second_block;
  nf = 0;
  words = 0;
  fixed_width = 0;
  tail_bits = tails;
  if (S > 64) return;
  if (!strong) {
    // Every slot in the width of the widest: the slots are packed word by
    // word, complemented, block 1 (after its degree) moved above block 2.
    u64 lanes = 0;
    for (u32 w = 0; w < nb_of_blocks_of_variables; ++w) lanes |= any[w];
    const u32 f = std::max<u32>(1, u32(std::bit_width((lanes | lanes >> 16 | lanes >> 32 | lanes >> 48) & 0xFFFF)));
    fixed_degree_bits = k ? u32(std::bit_width(u64(k) * ((u64(1) << f) - 1))) : 0;
    const u32 total = fixed_degree_bits + nb_of_variables * f + tails;
    if (total <= 128) {
      fixed_width = f;
      fixed_bits = total;
      words = total <= 64 ? 1 : 2;
      return;
    }
  }
  u32 width[64];
  u32 deg_bound[2] = {0, 0};
  for (u32 i = 0; i < S; ++i) {
    width[i] = u32(std::bit_width(expos_slot(any, i)));
    deg_bound[i < k ? 0 : 1] += (u32(1) << width[i]) - 1;
  }
  degrees = false;
  auto add = [&](u32 kind, u32 slot, u32 bits) {
    if (!bits) return;
    f[nf++] = Field{kind, slot, bits, 0, 0, slot >> 2, 16 * (slot & 3), (u64(1) << bits) - 1};
    degrees |= kind == 1 || kind == 2;
  };
  if (k) {
    add(1, 0, u32(std::bit_width(deg_bound[0])));
    for (u32 i = k; i-- > 0;) add(0, i, width[i]);
  }
  if (strong) add(2, 0, u32(std::bit_width(deg_bound[1])));
  for (u32 i = S; i-- > k;) add(0, i, width[i]);
  add(3, 0, tails);
  u32 word = 0, room = 64;
  for (u32 j = 0; j < nf; ++j) {
    if (f[j].bits > room) {
      ++word;
      room = 64;
    }
    room -= f[j].bits;
    f[j].word = word;
    f[j].shift = room;
  }
  words = word < 2 ? word + 1 : 0;
}

void ExposKeyLayout::make(const u64* e, u64 tail, u64* key) const {
  if (fixed_width) {
    using u128 = unsigned __int128;
    const u32 f = fixed_width, nv = nb_of_variables, k = var_second_block;
    auto ones = [](u32 bits) { return bits == 128 ? ~u128(0) : (u128(1) << bits) - 1; };
    u128 v = 0;
    for (u32 w = 0; w < nb_of_blocks_of_variables; ++w) v |= u128(expos_pack_word(e[w], f)) << (4 * f * w);
    v = ones(nv * f) - v;  // every slot complemented within f bits: no borrow
    if (k) {
      const u32 kw = k >> 2;
      u32 d = expos_word_degree(e[kw] & ((u64(1) << (16 * (k & 3))) - 1));
      for (u32 w = 0; w < kw; ++w) d += expos_word_degree(e[w]);
      const u32 b1 = k * f, b2 = (nv - k) * f;
      v = u128(d) << (nv * f) | (v & ones(b1)) << b2 | v >> b1;
    }
    if (tail_bits) v = v << tail_bits | tail;
    v <<= 128 - fixed_bits;  // most significant bit first
    key[0] = u64(v >> 64);
    if (words == 2) key[1] = u64(v);
    return;
  }
  const u32 k = var_second_block, nb = nb_of_blocks_of_variables;
  u32 deg[3] = {0, 0, 0};  // by field kind: the degrees of blocks 1 and 2
  if (degrees) {
    const u32 kw = k >> 2;
    const u64 km = (u64(1) << (16 * (k & 3))) - 1;
    for (u32 w = 0; w < nb; ++w) {
      const u64 b1 = w < kw ? e[w] : w == kw ? e[w] & km : 0;
      deg[1] += expos_word_degree(b1);
      deg[2] += expos_word_degree(e[w] & ~b1);
    }
  }
  u64 out[2] = {0, 0};
  for (u32 j = 0; j < nf; ++j) {
    const Field& F = f[j];
    u64 v;
    if (F.kind == 0)
      v = ~(e[F.src_word] >> F.src_shift) & F.mask;  // the slot fits its bits: complemented within them
    else
      v = F.kind == 3 ? tail : deg[F.kind];
    out[F.word] |= v << F.shift;
  }
  for (u32 i = 0; i < words; ++i) key[i] = out[i];
}

u64 ExposKeyLayout::tail_of(const u64* key) const {
  if (fixed_width) {
    using u128 = unsigned __int128;
    const u128 v = (u128(key[0]) << 64 | (words == 2 ? key[1] : 0)) >> (128 - fixed_bits);
    return u64(v) & ((u64(1) << tail_bits) - 1);
  }
  if (!nf) return 0;
  const Field& last = f[nf - 1];
  return last.kind == 3 ? (key[last.word] >> last.shift) & ((u64(1) << last.bits) - 1) : 0;
}

// ---- lists ----

List_Expos QUOR_NAME(new_List_Expos)() {
  List_Expos c = QUOR_NAME(root_of_List_Expos);
  if (!c) c = static_cast<List_Expos>(QUOR_NAME(generate)(kListSlab, sizeof(sList_Expos), "List_Expos"));
  QUOR_NAME(root_of_List_Expos) = reinterpret_cast<List_Expos>(next_free(c));
  return c;
}

List_Expos QUOR_NAME(kill_List_Expos)(List_Expos cell) {
  if (!cell) return nullptr;
  List_Expos next = cell->next;
  set_next_free(cell, QUOR_NAME(root_of_List_Expos));
  QUOR_NAME(root_of_List_Expos) = cell;
  return next;
}

List_Expos QUOR_NAME(init_Objet_List_Expos)() {
  List_Expos z = &z_List_Expos_cell;
  z->expos = nullptr;
  z->next = z;
  z_List_Expos = z;
  return z;
}

List_Expos QUOR_NAME(append_List_Expos)(List_Expos a, List_Expos b) {
  if (!a) return b;
  if (!b) return a;
  List_Expos c = a;
  while (c->next) c = c->next;
  c->next = b;
  return a;
}

List_Expos QUOR_NAME(merge_boolean_List_Expos)(List_Expos x, List_Expos list, List_Expos_before before) {
  if (!list) return x;
  if (before(x->expos, list->expos)) {
    x->next = list;
    return x;
  }
  List_Expos c = list;
  while (c->next && !before(x->expos, c->next->expos)) c = c->next;
  if (c->next) x->next = c->next;
  c->next = x;
  return list;
}

List_Expos QUOR_NAME(trier_boolean_List_Expos)(List_Expos list, List_Expos_before before) {
  if (!list || !list->next) return list;
  const List_Expos z = QUOR_NAME(init_Objet_List_Expos)();
  List_Expos last = list;
  while (last->next) last = last->next;
  last->next = z;
  List_Expos head = QUOR_NAME(new_List_Expos)();
  head->next = list;

  for (u64 r = 1;; r *= 2) {
    List_Expos todo = head->next;  // the rest of the list still to cut into runs
    List_Expos tail = head;        // the last cell of the merged part
    u64 runs = 0;
    while (todo != z) {
      // Cut the first run of r cells.
      List_Expos a = todo;
      List_Expos c = a;
      for (u64 i = 1; i < r && c->next != z; ++i) c = c->next;
      List_Expos b = c->next;
      c->next = z;
      // Cut the second run.
      c = b;
      if (b != z) {
        for (u64 i = 1; i < r && c->next != z; ++i) c = c->next;
        todo = c->next;
        c->next = z;
      } else {
        todo = z;
      }
      // Merge: the second run's head goes first only when before(second, first).
      while (a != z && b != z) {
        if (before(b->expos, a->expos)) {
          tail->next = b;
          tail = b;
          b = b->next;
        } else {
          tail->next = a;
          tail = a;
          a = a->next;
        }
      }
      List_Expos rest = a != z ? a : b;
      tail->next = rest;
      while (tail->next != z) tail = tail->next;
      ++runs;
    }
    tail->next = z;
    if (runs <= 1) {
      List_Expos first = head->next;
      tail->next = nullptr;
      QUOR_NAME(kill_List_Expos)(head);
      return first;
    }
  }
}

// ---- printing ----

std::string expos_to_string(const u64* m, i32 with_header) {
  std::string s;
  if (m) {
    const u64* e = with_header ? m + 1 : m;
    const u32 n = nb_of_affine_variables;
    for (u32 i = 0; i <= n; ++i) {
      const u32 v = expos_slot(e, i);
      if (!v) continue;
      if (!s.empty()) s += '*';
      const char* name = i < QUOR_MAX_VARIABLE_NAMES ? Liste_variables[i] : nullptr;
      s += name ? name : "?";
      if (v != 1) s += '^' + std::to_string(v);
    }
  }
  if (s.empty()) s.push_back('1');
  return s;
}

void see_Expos2(const u64* m, i32 with_header) {
  // Printed in pieces: a monomial of many variables may be longer than one
  // channel message.
  const std::string s = expos_to_string(m, with_header);
  for (size_t at = 0; at < s.size(); at += 60000)
    QUOR_NAME(Output)("%s", s.substr(at, 60000).c_str());
}

void see_Expos(const u64* e) { see_Expos2(e, 0); }

}  // namespace quor::QUOR_NS

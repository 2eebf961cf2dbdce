// Monomial hash table.  Linear probing downwards from the hash; a collision
// flag on every slot a probe passed over lets lookups of present monomials
// stop at their start slot without comparing when nothing ever collided there.
#include "core/hashtable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/channels.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

u32 quor_max_index = 500000;
u32 quor_hash_prime = 600011;
Table_de_Recherche QUOR_NAME(ptr_Base_Exposants) = nullptr;

namespace {
struct PrimeRow {
  u32 limit;
  u32 prime;
};
// Row i: the capacity 2^(31-i) and a prime a little above it; the end mark is {0, 0}.
constexpr PrimeRow kHashPrimes[] = {
    {2147483648u, 2469606199u}, {1073741824u, 1234803133u}, {536870912u, 617401571u},
    {268435456u, 308700781u},   {134217728u, 154350409u},   {67108864u, 77175227u},
    {33554432u, 38587607u},     {16777216u, 19293809u},     {8388608u, 9646907u},
    {4194304u, 4823459u},       {2097152u, 2411729u},       {1048576u, 1205891u},
    {524288u, 602947u},         {262144u, 301471u},         {131072u, 150743u},
    {65536u, 75367u},           {32768u, 37691u},           {16384u, 18859u},
    {8192u, 9431u},             {4096u, 4919u},             {2048u, 2459u},
    {1024u, 1231u},             {512u, 617u},               {0u, 0u}};


inline bool same_words(const u64* stored, const u64* e, u32 nb) {
  for (u32 w = 0; w < nb; ++w)
    if (stored[w] != e[w]) return false;
  return true;
}
inline bool same_product(const u64* stored, const u64* m1, const u64* e2, u32 nb) {
  for (u32 w = 0; w < nb; ++w)
    if (stored[w] != m1[w] + e2[w]) return false;
  return true;
}

// The first span of a table: a small request touches a few pages of it.
constexpr u32 kFirstSpan = 1024;

// The mask of a span (a power of 2): the whole table once it is not below p.
inline u32 mask_for_span(u64 span) { return span < quor_hash_prime ? u32(span - 1) : QUOR_FULL_SPAN; }

// Last slot of t's probe span, where a probe wraps to.
inline u32 last_slot(Table_de_Recherche t) { return std::min(t->mask, quor_hash_prime - 1); }

// One step down the probe sequence of t; false after the second pass below slot 0.
inline bool step_down(u32& i, bool& wrapped, Table_de_Recherche t) {
  if (i) {
    --i;
    return true;
  }
  if (wrapped) return false;
  wrapped = true;
  i = last_slot(t);
  return true;
}

// A second wrap of a probe that inserts: the way around is a larger table, so
// say how large this one is and which option sets it.
[[noreturn]] void table_full(Table_de_Recherche t, int kind) {
  QUOR_NAME(Fatal)("Sorry the size of the matrix is too big ![%d] (the monomial table is full: %u monomials in %u "
                   "slots for a capacity of %u; option o[2] enlarges it)\n",
                   kind, t->count, quor_hash_prime, quor_max_index);
}

// Doubles t's probe span and enters every entry again, in code order, with
// its monomial, code and value: the slots, code links and collision flags
// are those the same insertions leave in a table of the new span (a probe of
// a present monomial flags no slot its insertion did not).  Only insertions
// widen, and insertions run on one thread: a team reads the table only while
// nothing is entered, so no reader sees the slots move.
[[gnu::noinline]] void widen(Table_de_Recherche t) {
  struct Entry {
    u64* monom;
    u32 code, value;
  };
  Table_slot* s = t->slots;
  const u32 n = t->count, old_span = t->mask + 1;
  std::vector<Entry> e(n);
  constexpr u32 kAhead = 16;  // the slots lie all over the span: each is hinted a few codes ahead
  for (u32 c = 0; c < n; ++c) {
    if (c + kAhead < n) __builtin_prefetch(&s[s[c + kAhead].code_slot]);
    const Table_slot& sl = s[s[c].code_slot];
    e[c] = Entry{sl.monom, sl.code, sl.value};
  }
  std::memset(static_cast<void*>(s), 0, u64(old_span) * sizeof(Table_slot));  // the slots above are empty
  t->mask = mask_for_span(2 * u64(old_span));
  const u32 last = last_slot(t);
  for (u32 c = 0; c < n; ++c) {
    if (c + kAhead < n) __builtin_prefetch(e[c + kAhead].monom - 1);
    u32 i = probe_start(t, e[c].monom[-1]);
    while (s[i].monom) {  // at most half the span is taken: a free slot comes
      s[i].collision = 1;
      i = i ? i - 1 : last;
    }
    s[i].monom = e[c].monom;
    s[i].code = e[c].code;
    s[i].value = e[c].value;
    s[c].code_slot = i;
  }
}

// Enters words at the free slot i with the next code (its value as the slot
// holds it); the entry may move when the span widens.
inline void take_slot(Table_de_Recherche t, u32 i, u64* words) {
  Table_slot* s = t->slots;
  const u32 c = t->count;
  s[i].monom = words;
  s[i].code = c;
  s[c].code_slot = i;
  t->count = c + 1;
  if (t->mask != QUOR_FULL_SPAN && c > t->mask >> 1) [[unlikely]]  // count above span / 2
    widen(t);
}
}  // namespace

// h < p < 2^32: one Horner step h * 65536 + slot stays below 2^48, and the sum
// of two stored hashes below 2^33.
static_assert(u64(0xFFFFFFFFu) * 65536 + 0xFFFF < (u64(1) << 48));

namespace {
// The weight 65536^(S-1-i) mod p of slot i (S = 4B slots), for the p and B
// they were made with: a hash is then one sum of products and one reduction.
struct HashWeights {
  u64 p = 0;
  u32 slots = 0;
  u64 w[4 * 64] = {};
};
thread_local HashWeights weights;

const HashWeights& weights_for(u64 p, u32 slots) {
  HashWeights& h = weights;
  if (h.p != p || h.slots != slots) {
    h.p = p;
    h.slots = slots;
    u64 x = 1;
    for (u32 i = slots; i-- > 0;) {
      h.w[i] = x;
      x = x * 65536 % p;
    }
  }
  return h;
}
}  // namespace

u64 hash_Expos(const u64* e) {
  const u64 p = quor_hash_prime;
  const u32 nb = nb_of_blocks_of_variables;
  if (nb > 64) {
    // Wide monomials: Horner, one reduction per slot.
    u64 h = expos_slot(e, 0) % p;
    for (u32 i = 1; i < 4 * nb; ++i) h = (h * 65536 + expos_slot(e, i)) % p;
    return h;
  }
  // Slots below 2^16 times weights below 2^32: 256 terms stay below 2^56.
  static_assert(u64(0xFFFF) * 0xFFFFFFFFu * 256 < (u64(1) << 56));
  const u64* w = weights_for(p, 4 * nb).w;
  u64 h = 0;
  for (u32 k = 0; k < nb; ++k, w += 4) {
    const u64 x = e[k];
    h += (x & 0xFFFF) * w[0] + (x >> 16 & 0xFFFF) * w[1] + (x >> 32 & 0xFFFF) * w[2] + (x >> 48) * w[3];
  }
  return h % p;
}

void set_hash(u32 count, u64** records) {
  for (u32 i = 0; i < count; ++i)
    if (records[i]) records[i][0] = hash_Expos(records[i] + 1);
}

u32 hash_prime_for(u32 c) {
  if (c >= kHashPrimes[0].limit) return kHashPrimes[0].prime;
  for (u32 i = 1; kHashPrimes[i].limit; ++i)
    if (kHashPrimes[i].limit <= c) return kHashPrimes[i].prime >= c ? kHashPrimes[i].prime : kHashPrimes[i - 1].prime;
  return 0;
}

void set_hash_prime() {
  const u32 p = hash_prime_for(quor_max_index);
  if (!p) QUOR_NAME(Fatal)("Cannot find corresponding prime for MAX_INDEX=%u\n", quor_max_index);
  quor_hash_prime = p;
}

Table_de_Recherche dynamic_Table_de_Recherche() {
  const u64 p = quor_hash_prime;
  auto t = static_cast<Table_de_Recherche>(QUOR_NAME(alloc64)(sizeof(sTable_de_Recherche) + sizeof(Table_slot) * (p + 1)));
  t->count = 0;
  t->mask = mask_for_span(kFirstSpan);
  t->slots = reinterpret_cast<Table_slot*>(t + 1);
  return t;
}

namespace {
// The pages of the table's slots known written.  A probe reads first: on a
// page never touched the system maps its zero page for the read, then faults
// again at the write.  A write first (of the value there) makes it one
// fault.  Only a hint: a stale bit costs that second fault, nothing else.
struct WrittenPages {
  const Table_slot* slots = nullptr;
  std::vector<u64> bits;

  // Writes the page of slot i's first word unless it is known written.
  void touch(Table_slot* s, u32 i) {
    if (s != slots) {
      slots = s;
      bits.clear();
    }
    const u64 page = (reinterpret_cast<std::uintptr_t>(&s[i].monom) >> 12) - (reinterpret_cast<std::uintptr_t>(s) >> 12);
    if ((page >> 6) >= bits.size()) bits.resize((page >> 6) + 1, 0);
    u64& word = bits[page >> 6];
    if (word >> (page & 63) & 1) return;
    word |= u64(1) << (page & 63);
#if defined(__x86_64__)
    asm volatile("addq $0, %0" : "+m"(s[i].monom));  // a write, whatever the word holds
#else
    __atomic_fetch_add(reinterpret_cast<std::uintptr_t*>(&s[i].monom), 0, __ATOMIC_RELAXED);
#endif
  }
};
WrittenPages written_pages;
}  // namespace

void clear_Table_de_Recherche(Table_de_Recherche t) {
  // An empty slot is zero; most of a large table's pages are never touched.
  zero_memory(t->slots, u64(quor_hash_prime) * sizeof(Table_slot));
  if (written_pages.slots == t->slots) written_pages.slots = nullptr;  // the pages may have been given back
  t->count = 0;
  t->mask = mask_for_span(kFirstSpan);
}

void empty_Table_de_Recherche(Table_de_Recherche t) {
  // Probes pass over occupied slots only, so every flag set lies on an entry.
  Table_slot* s = t->slots;
  // The slots lie all over the table: each is hinted a few codes ahead.
  constexpr u32 kAhead = 16;
  for (u32 c = t->count; c-- > 0;) {
    if (c >= kAhead) __builtin_prefetch(&s[s[c - kAhead].code_slot], 1);
    Table_slot& e = s[s[c].code_slot];
    e.monom = nullptr;
    e.collision = 0;
  }
  t->count = 0;
}

void append_codes(Table_de_Recherche t, const u64* const* words, u32 n) {
  Table_slot* s = t->slots;
  // The start slots are known in advance: each is hinted a few codes ahead
  // (with the span of the moment: a widening only makes some hints miss).
  constexpr u32 kAhead = 16;
  for (u32 c = t->count; c < n && c < t->count + kAhead; ++c) __builtin_prefetch(s + probe_start(t, words[c][-1]));
  for (u32 c = t->count; c < n; ++c) {
    if (c + kAhead < n) __builtin_prefetch(s + probe_start(t, words[c + kAhead][-1]));
    u32 i = probe_start(t, words[c][-1]);
    written_pages.touch(s, i);
    bool wrapped = false;
    while (s[i].monom) {
      s[i].collision = 1;
      if (!step_down(i, wrapped, t)) table_full(t, 1);
    }
    take_slot(t, i, const_cast<u64*>(words[c]));
  }
}

u32 QUOR_NAME(max_index)() { return quor_max_index; }

i32 QUOR_NAME(get_code)(u64 h1, const u64* m1, u64* m2, Table_de_Recherche t, u32* code, u64** record) {
  return get_code(h1, m1, m2, t, code, record);
}

i32 get_code(u64 h1, const u64* m1, u64* m2, Table_de_Recherche t, u32* code, u64** record) {
  const u32 nb = nb_of_blocks_of_variables;
  Table_slot* s = t->slots;
  const u64* e2 = m2 + 1;
  const u32 hash = m1 ? hash_start_slot(h1 + m2[0]) : hash_start_slot(m2[0]);
  u32 i = hash & t->mask;
  bool wrapped = false;
  do {
    Table_slot& sl = s[i];
    if (!sl.monom) {
      *code = t->count;
      if (!m1) {
        take_slot(t, i, m2 + 1);
        *record = m2;
      } else {
        u64* r = QUOR_NAME(new_Expos)();
        r[0] = hash;  // the hash, not the start slot: that changes with the span
        mul_Expos(r + 1, m1, e2);
        take_slot(t, i, r + 1);
        *record = r;
      }
      return 1;
    }
    if (m1 ? same_product(sl.monom, m1, e2, nb) : same_words(sl.monom, e2, nb)) {
      *code = sl.code;
      *record = sl.monom - 1;
      return 0;
    }
    sl.collision = 1;
  } while (step_down(i, wrapped, t));
  table_full(t, m1 ? 1 : 3);
  return 0;
}

i32 QUOR_NAME(insert_code)(u64* record, Table_de_Recherche t, u32 value) {
  const u32 nb = nb_of_blocks_of_variables;
  Table_slot* s = t->slots;
  const u64* e = record + 1;
  u32 i = probe_start(t, record[0]);
  bool wrapped = false;
  do {
    Table_slot& sl = s[i];
    if (!sl.monom) {
      sl.value = value;  // before the entry is taken: a widening moves it with its value
      take_slot(t, i, record + 1);
      return 1;
    }
    if (same_words(sl.monom, e, nb)) {
      sl.value = value;
      return 0;
    }
    sl.collision = 1;
  } while (step_down(i, wrapped, t));
  QUOR_NAME(Fatal)("Sorry the size of the hash table is too small !\n");
  return 0;
}

u32 find_code1(const u64* record, Table_slot* s) {
  const Table_de_Recherche t = table_of_slots(s);
  const u32 nb = nb_of_blocks_of_variables;
  u32 i = probe_start(t, record[0]);
  if (!s[i].collision) return s[i].value;
  const u64* e = record + 1;
  bool wrapped = false;
  do {
    const Table_slot& sl = s[i];
    if (!sl.monom) QUOR_NAME(Fatal)("Erreur impossible dans find_code1\n");
    if (same_words(sl.monom, e, nb)) return sl.value;
  } while (step_down(i, wrapped, t));
  QUOR_NAME(Fatal)("Boucle infinie, impossible dans find_code1 !\n");
  return 0;
}

u32 find_code(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t) {
  Table_slot* s = t->slots;
  if (!m1) return find_code1(m2, s);
  const u32 nb = nb_of_blocks_of_variables;
  u32 i = probe_start(t, h1 + m2[0]);
  if (!s[i].collision) return s[i].value;
  const u64* e2 = m2 + 1;
  bool wrapped = false;
  do {
    const Table_slot& sl = s[i];
    if (!sl.monom) {
      see_Expos(m1);
      QUOR_NAME(Output)(" * ");
      see_Expos2(m2, 1);
      QUOR_NAME(Fatal)(" --> erreur impossible dans find_code !\n");
    }
    if (same_product(sl.monom, m1, e2, nb)) return sl.value;
  } while (step_down(i, wrapped, t));
  QUOR_NAME(Fatal)("Boucle infinie, erreur impossible dans find_code !\n");
  return 0;
}

u32 QUOR_NAME(find_code)(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t) {
  return find_code(h1, m1, m2, t);
}

i32 find_code_or_fail(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t) {
  if (!m1) QUOR_NAME(Fatal)("NYA in find_code_or_fail\n");
  const u32 nb = nb_of_blocks_of_variables;
  Table_slot* s = t->slots;
  const u64* e2 = m2 + 1;
  u32 i = probe_start(t, h1 + m2[0]);
  if (!s[i].collision)
    return s[i].monom && same_product(s[i].monom, m1, e2, nb) ? i32(s[i].value) : -1;
  bool wrapped = false;
  do {
    const Table_slot& sl = s[i];
    if (!sl.monom) return -1;
    if (same_product(sl.monom, m1, e2, nb)) return i32(sl.value);
  } while (step_down(i, wrapped, t));
  QUOR_NAME(Fatal)("Infinite loop in find_code_or_fail !\n");
  return -1;
}

i32 find_code_exact(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t, u32* value) {
  const u32 nb = nb_of_blocks_of_variables;
  Table_slot* s = t->slots;
  const u64* e2 = m2 + 1;
  u32 i = m1 ? probe_start(t, h1 + m2[0]) : probe_start(t, m2[0]);
  const bool only_start = !s[i].collision;
  bool wrapped = false;
  do {
    const Table_slot& sl = s[i];
    if (!sl.monom) return 0;
    if (m1 ? same_product(sl.monom, m1, e2, nb) : same_words(sl.monom, e2, nb)) {
      *value = sl.value;
      return 1;
    }
    if (only_start) return 0;
  } while (step_down(i, wrapped, t));
  return 0;  // every slot holds another monomial
}

void QUOR_NAME(see_Expos_Table)(u32 code, Table_de_Recherche t) { see_Expos(monom_of_code(t, code)); }

void QUOR_NAME(see_local_Expos)(u32 base, Table_de_Recherche t, u32 k) {
  see_Expos(monom_of_code(t, k - base));
}

#if !QUOR_INT
void see_local_code() {}
#endif

}  // namespace quor::QUOR_NS

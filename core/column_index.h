// Front of the monomial table for one F4 step.  Symbolic preprocessing looks
// up the products of a multiplier with every term of a polynomial, millions
// of times per step: in the table each lookup reads the term's record, a
// 24-byte slot and the monomial it points to, three cache misses in a table
// sized for the capacity, not for the step.  This index answers the same
// questions from a compact array sized for the step's columns, keyed by the
// exponents packed side by side, b bits a slot plus a guard bit.  The key is
// exact, so one comparison decides, and linear: the key of a product is the
// sum of its factors' keys, a guard bit showing a slot that left b bits.
// The keys of a polynomial's terms are made once per step and read in order.
//
// It hands out the codes and records get_code would, in the same order;
// sync() then enters the new codes into the table, each probing down from its
// start slot: the table ends with the slots, collision flags and codes that
// the same get_code calls would have left (a probe of a present monomial
// passes only slots that its own insertion had flagged).
//
// A slot that needs more bits widens the keys (every key is made again); when
// they cannot be held, the index enters what it has into the table and sends
// the rest of the step there.
#pragma once
#include "core/quor_build.h"

#include <utility>
#include <vector>

#include "core/hashtable.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

class ColumnIndex {
 public:
  using Key = unsigned __int128;

  // Starts a step on the emptied table t; bits_hint: bits of the largest
  // exponent expected.  The per-code words and flags come from the zone, the
  // index and the terms' keys from scratch (the zone when null), which must
  // outlive the index's use.
  void start(Table_de_Recherche t, u32 bits_hint, ScratchArena* scratch = nullptr);

  // get_code(h1, m1, m2, t, code, record) of the step (m1 exponent words or null).
  i32 get_code(u64 h1, const u64* m1, u64* m2, u32* code, u64** record);

  // Codes of the products m * monoms[j] (m's hash h, m null for 1) for
  // j = from .. n-1 into codes[j]; fresh(code, record) for each new one.
  // The keys of monoms[0 .. n-1] are kept for the step under its address.
  template <class Fresh>
  void get_codes(u64 h, const u64* m, u64* const* monoms, u32 from, u32 n, u32* codes, Fresh fresh);

  // Number of codes handed out.
  u32 count() const { return count_; }
  // Exponent words of the monomial with that code (code < count()).
  const u64* words(u32 code) const { return words_[code]; }
  // The exponent words of every code, indexed by code.
  const u64* const* all_words() const { return words_; }
  // Per code, 1 when its record was made for the step (a product), 0 when it is a term's own.
  const u8* made_records() const { return made_; }

  // Enters the codes handed out since the last sync into the table.
  void sync();

  // ---- lookups shared by a team ----
  // Rows whose products are many are looked up read-only on a team, then the
  // products still absent are entered one by one in row order with get_code:
  // the codes come out as get_codes row after row would give them.
  static constexpr u32 kAbsent = 0xFFFFFFFFu;
  // False once the step has left the index (then only get_code/get_codes serve).
  bool indexed() const { return !direct_; }
  // Counts the times the keys were made again: keys taken before are stale.
  u32 generation() const { return generation_; }
  // The keys of monoms[0 .. n-1] for find_codes (made on first use; may widen), null once the step left the index.
  const Key* term_keys(u64* const* monoms, u32 n) { return direct_ ? nullptr : keys_of(monoms, n); }
  // Makes the keys of the polynomials (terms, term count) not keyed yet on a team of width threads (may widen).
  void key_terms(const std::vector<std::pair<u64* const*, u32>>& polys, u32 width);
  // The key of the multiplier m (null for 1), widening first when a slot does not fit.
  Key multiplier_key(const u64* m);
  // codes[j] = the code of m * term j (km = m's key, keys = term_keys of the n terms) for j = from .. n-1, kAbsent
  // where it is not indexed or needs wider keys; those j go to absent, in order, and their count is returned.
  // Reads only: a team may share it while nothing is entered.
  u32 find_codes(Key km, const Key* keys, u32 from, u32 n, u32* codes, u32* absent) const;
  // get_code(h1, m1, m2, code, record) for the product whose key k (km + the term's key) was made
  // in generation gen: where the keys still stand, neither factor's words are read again.
  i32 get_code_keyed(u32 gen, Key k, u64 h1, const u64* m1, u64* m2, u32* code, u64** record);
  // Hints the cache with the index line where the product of key k is looked up.
  void hint(Key k) const { __builtin_prefetch(entries_ + start_of(hash_of(k))); }

 private:
  struct Entry {
    u64 lo;    // key bits 0 .. 63
    u32 hi;    // key bits 64 .. 95
    u32 code;  // kEmpty: free
  };
  struct TermKeys {
    u64* const* monoms;  // null: free
    Key* keys;
  };
  static constexpr u32 kEmpty = 0xFFFFFFFFu;
  static constexpr u32 kMaxKeyBits = 96;

  // 1 when every slot of the words e fits in bits_ bits.
  bool fits(const u64* e) const;
  // Key of the words e (every slot fits).
  Key pack(const u64* e) const { return pack_with(e, PlainWord{width_}); }
  // The same, each word's slots packed by word (a PlainWord or a PextWord).
  template <class Word>
  Key pack_with(const u64* e, Word word) const;
  struct PlainWord {
    u32 f;
    u64 operator()(u64 w) const { return expos_pack_word(w, f); }
  };
  // One parallel bit extract per word: where it is fast, a fifth of the
  // instructions of the shifts and masks.
  struct PextWord {
    u64 lanes;  // expos_pack_lanes(f)
    __attribute__((target("bmi2"))) u64 operator()(u64 w) const { return expos_pack_word_pext(w, lanes); }
  };
  // Hash of key k: two multiplications, cheaper than reading a stored hash.
  static constexpr u64 kLow = 0x9E3779B97F4A7C15ULL, kHigh = 0xC2B2AE3D27D4EB4FULL;
  static u64 hash_of(Key k) { return u64(k) * kLow + u64(k >> 64) * kHigh; }
  // The products of a multiplier's key km with the keys of n terms, their
  // index lines hinted to the cache kAhead terms before their lookup (the
  // first ones on construction, from term from).
  struct Products {
    static constexpr u32 kAhead = 32;
    const ColumnIndex& index;
    Key km;
    const Key* keys;
    u32 n;
    Products(const ColumnIndex& ix, Key m, const Key* k, u32 from, u32 count) : index(ix), km(m), keys(k), n(count) {
      for (u32 j = from; j < n && j < from + kAhead; ++j) __builtin_prefetch(index.entries_ + index.start_of(hash(j)));
    }
    u64 hash(u32 j) const { return hash_of(km + keys[j]); }
    // Hints the line of term j + kAhead, before term j's lookup.
    __attribute__((always_inline)) void hint(u32 j) const {
      if (j + kAhead < n) __builtin_prefetch(index.entries_ + index.start_of(hash(j + kAhead)));
    }
  };
  // Start in the index of the hash h (its top bits).
  u32 start_of(u64 h) const { return u32(h >> shift_); }
  // Code of key k (of hash h), or kEmpty with *at the free entry where it belongs.
  u32 find(Key k, u64 h, u32* at) const;
  // Enters the new product m1 * m2 (m2 alone when m1 is null, hash h1 of m1) of
  // key k at the free entry at; its code, *record its record.
  u32 insert(u32 at, Key k, u64 h1, const u64* m1, u64* m2, u64** record);
  // Keys of the n terms monoms[0 .. n-1] (made on first use); null when the
  // step has left the index.
  const Key* keys_of(u64* const* monoms, u32 n);
  // The place of monoms' keys among the terms' keys, null when they are not made.
  TermKeys* keyed(u64* const* monoms);
  // Room for the keys of n terms, entered under monoms (keys to be made).
  Key* add_term_keys(u64* const* monoms, u32 n);
  // Makes the keys of terms from .. n-1 into keys up to the first that does not fit: its index, n when all fit.
  u32 make_keys(u64* const* monoms, u32 from, u32 n, Key* keys) const;
  // make_keys with the words packed by word.
  template <class Word>
  u32 make_keys_with(u64* const* monoms, u32 from, u32 n, Key* keys, Word word) const;
  // make_keys on a processor whose bit extracts are fast.
  u32 make_keys_pext(u64* const* monoms, u32 from, u32 n, Key* keys) const;
  // Room in the keys for every slot of a + b (a may be null), or the rest of
  // the step in the table when they cannot hold it.
  void widen_for(const u64* a, const u64* b);
  // Keys of bits per slot; false when they would need more than kMaxKeyBits.
  bool set_bits(u32 bits);
  // A fresh index of that capacity (a power of 2) holding every code.
  void rebuild(u32 capacity);
  // Forgets the terms' keys.
  void clear_term_keys(u32 capacity);
  // The step goes to the table from here on.
  void give_up();
  // n bytes of the index's scratch.
  void* take(u64 n) { return scratch_ ? scratch_->take(n) : QUOR_NAME(alloc64)(n); }

  Table_de_Recherche table_ = nullptr;
  ScratchArena* scratch_ = nullptr;
  const u64** words_ = nullptr;  // per code (quor_hash_prime of them)
  u8* made_ = nullptr;           // per code: its record was made for the step
  Entry* entries_ = nullptr;
  u32 mask_ = 0;         // capacity - 1
  u32 shift_ = 0;        // 64 - log2(capacity)
  u32 count_ = 0;
  u32 bits_ = 0;         // exponent bits of a slot in the key
  u32 width_ = 0;        // bits_ + the guard bit
  u64 high_lanes_ = 0;   // the lane bits from bits_ up
  Key guards_ = 0;       // the guard bit of every slot
  bool direct_ = false;  // lookups go to the table
  TermKeys* term_keys_ = nullptr;
  u32 term_mask_ = 0;
  u32 term_count_ = 0;
  u32 generation_ = 0;
};

// ---- the row loop (inline: it is the innermost loop of the preprocessing) ----

inline bool ColumnIndex::fits(const u64* e) const {
  u64 any = 0;
  for (u32 w = 0; w < nb_of_blocks_of_variables; ++w) any |= e[w];
  return (any & high_lanes_) == 0;
}

template <class Word>
__attribute__((always_inline)) inline ColumnIndex::Key ColumnIndex::pack_with(const u64* e, Word word) const {
  const u32 span = 4 * width_;
  u64 lo = 0, hi = 0;
  for (u32 w = 0, at = 0; w < nb_of_blocks_of_variables; ++w, at += span) {
    const u64 p = word(e[w]);
    if (at >= 64) {
      hi |= p << (at - 64);
    } else {
      lo |= p << at;
      if (at + span > 64) hi |= p >> (64 - at);  // at > 0 here: span <= 64
    }
  }
  return Key(hi) << 64 | lo;
}

inline u32 ColumnIndex::find(Key k, u64 h, u32* at) const {
  const u64 lo = u64(k);
  const u32 hi = u32(k >> 64);
  for (u32 i = start_of(h);; i = (i + 1) & mask_) {
    const Entry& e = entries_[i];
    if (e.code == kEmpty) {
      *at = i;
      return kEmpty;
    }
    if (e.lo == lo && e.hi == hi) return e.code;
  }
}

template <class Fresh>
void ColumnIndex::get_codes(u64 h, const u64* m, u64* const* monoms, u32 from, u32 n, u32* codes, Fresh fresh) {
  u64* rec = nullptr;
  const Key* keys = direct_ ? nullptr : keys_of(monoms, n);
  if (keys && m && !fits(m)) {
    widen_for(nullptr, m);
    keys = direct_ ? nullptr : keys_of(monoms, n);
  }
  if (!keys) {
    for (u32 j = from; j < n; ++j)
      if (get_code(h, m, monoms[j], &codes[j], &rec)) fresh(codes[j], rec);
    return;
  }
  const Products row(*this, m ? pack(m) : 0, keys, from, n);
  for (u32 j = from; j < n; ++j) {
    row.hint(j);
    const Key k = row.km + keys[j];
    if (k & guards_) {
      // A slot too wide for the keys: widen them (or leave the index) and
      // take the rest of the row afresh.
      widen_for(m, monoms[j] + 1);
      get_codes(h, m, monoms, j, n, codes, fresh);
      return;
    }
    u32 at;
    const u32 c = find(k, hash_of(k), &at);
    if (c != kEmpty) {
      codes[j] = c;
    } else {
      codes[j] = insert(at, k, h, m, monoms[j], &rec);
      fresh(codes[j], rec);
    }
  }
}

inline u32 ColumnIndex::find_codes(Key km, const Key* keys, u32 from, u32 n, u32* codes, u32* absent) const {
  const Products row(*this, km, keys, from, n);
  u32 count = 0;
  for (u32 j = from; j < n; ++j) {
    row.hint(j);
    const Key k = km + keys[j];
    u32 at;
    codes[j] = (k & guards_) ? kAbsent : find(k, hash_of(k), &at);
    absent[count] = j;
    count += codes[j] == kAbsent;
  }
  return count;
}

}  // namespace quor::QUOR_NS

// Front of the monomial table for one step (see core/column_index.h).
#include "core/column_index.h"

#include <algorithm>
#include <cstring>

#include <omp.h>

#include "core/zone.h"

namespace quor::QUOR_NS {

namespace {
inline u32 bit_width(u64 x) { return x ? 64 - u32(__builtin_clzll(x)) : 0; }

// Columns of the last step: the next one is sized for about as many.
u32 last_columns = 0;

inline u32 pointer_hash(const void* p, u32 mask) {
  return u32((reinterpret_cast<uintptr_t>(p) * 0x9E3779B97F4A7C15ULL) >> 40) & mask;
}
}  // namespace

void ColumnIndex::start(Table_de_Recherche t, u32 bits_hint, ScratchArena* scratch) {
  table_ = t;
  scratch_ = scratch;
  words_ = static_cast<const u64**>(QUOR_NAME(alloc64)(u64(quor_hash_prime) * sizeof(u64*)));
  made_ = static_cast<u8*>(QUOR_NAME(alloc64)(quor_hash_prime));
  count_ = t->count;  // 0: the table was emptied
  std::memset(made_, 0, count_);
  direct_ = false;
  // A homogeneous step bounds every exponent by its degree; keys that cannot
  // hold the hint start narrower and widen if they must.
  const u32 most = kMaxKeyBits / nb_of_variables;
  if (most < 2) {
    direct_ = true;
    return;
  }
  set_bits(std::clamp<u32>(bits_hint, 1, std::min<u32>(most - 1, 15)));
  u32 capacity = 1024;
  while (capacity < 2 * u64(last_columns) && capacity < (u32(1) << 30)) capacity *= 2;
  rebuild(capacity);
  clear_term_keys(256);
}

bool ColumnIndex::set_bits(u32 bits) {
  if (bits > 15 || nb_of_variables * (bits + 1) > kMaxKeyBits) return false;
  bits_ = bits;
  width_ = bits + 1;
  ++generation_;
  high_lanes_ = (0xFFFFu & ~((u64(1) << bits) - 1)) * 0x0001000100010001ULL;
  guards_ = 0;
  for (u32 i = 0; i < nb_of_variables; ++i) guards_ |= Key(1) << (i * width_ + bits);
  return true;
}

void ColumnIndex::rebuild(u32 capacity) {
  entries_ = static_cast<Entry*>(take(u64(capacity) * sizeof(Entry)));
  std::memset(static_cast<void*>(entries_), 0xFF, u64(capacity) * sizeof(Entry));
  mask_ = capacity - 1;
  shift_ = 64 - u32(__builtin_ctz(capacity));
  for (u32 c = 0; c < count_; ++c) {
    const Key k = pack(words_[c]);  // fits: it did when it came, and keys only widen
    u32 at = 0;
    find(k, hash_of(k), &at);
    entries_[at] = Entry{u64(k), u32(k >> 64), c};
  }
}

void ColumnIndex::clear_term_keys(u32 capacity) {
  term_keys_ = static_cast<TermKeys*>(take(u64(capacity) * sizeof(TermKeys)));
  std::memset(static_cast<void*>(term_keys_), 0, u64(capacity) * sizeof(TermKeys));
  term_mask_ = capacity - 1;
  term_count_ = 0;
}

ColumnIndex::TermKeys* ColumnIndex::keyed(u64* const* monoms) {
  u32 i = pointer_hash(monoms, term_mask_);
  while (term_keys_[i].monoms && term_keys_[i].monoms != monoms) i = (i + 1) & term_mask_;
  return term_keys_[i].monoms ? &term_keys_[i] : nullptr;
}

ColumnIndex::Key* ColumnIndex::add_term_keys(u64* const* monoms, u32 n) {
  Key* keys = static_cast<Key*>(take(u64(n) * sizeof(Key)));
  u32 i = pointer_hash(monoms, term_mask_);
  while (term_keys_[i].monoms) i = (i + 1) & term_mask_;
  term_keys_[i] = TermKeys{monoms, keys};
  if (2 * ++term_count_ > term_mask_) {
    // Twice the room, the keys made so far kept.
    const TermKeys* old = term_keys_;
    const u32 old_capacity = term_mask_ + 1, kept = term_count_;
    clear_term_keys(2 * old_capacity);
    for (u32 o = 0; o < old_capacity; ++o) {
      if (!old[o].monoms) continue;
      u32 at = pointer_hash(old[o].monoms, term_mask_);
      while (term_keys_[at].monoms) at = (at + 1) & term_mask_;
      term_keys_[at] = old[o];
    }
    term_count_ = kept;
  }
  return keys;
}

template <class Word>
inline __attribute__((always_inline)) u32 ColumnIndex::make_keys_with(u64* const* monoms, u32 from, u32 n, Key* keys,
                                                                      Word word) const {
  constexpr u32 kAhead = 8;  // the records are scattered: each is hinted a few terms ahead
  for (u32 j = from; j < n && j < from + kAhead; ++j) __builtin_prefetch(monoms[j]);
  for (u32 j = from; j < n; ++j) {
    if (j + kAhead < n) __builtin_prefetch(monoms[j + kAhead]);
    const u64* e = monoms[j] + 1;
    if (!fits(e)) return j;
    keys[j] = pack_with(e, word);
  }
  return n;
}

// Flattened, so that the bit extracts are inlined into the loop.
__attribute__((target("bmi2"), flatten)) u32 ColumnIndex::make_keys_pext(u64* const* monoms, u32 from, u32 n,
                                                                         Key* keys) const {
  return make_keys_with(monoms, from, n, keys, PextWord{expos_pack_lanes(width_)});
}

u32 ColumnIndex::make_keys(u64* const* monoms, u32 from, u32 n, Key* keys) const {
  // Processors with 512-bit vectors all extract bits in a few cycles; some
  // older ones with BMI2 take dozens, so they keep the shifts and masks.
  static const bool pext = __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx512f");
  if (pext) return make_keys_pext(monoms, from, n, keys);
  return make_keys_with(monoms, from, n, keys, PlainWord{width_});
}

const ColumnIndex::Key* ColumnIndex::keys_of(u64* const* monoms, u32 n) {
  if (const TermKeys* k = keyed(monoms)) return k->keys;
  Key* keys = add_term_keys(monoms, n);
  if (const u32 j = make_keys(monoms, 0, n, keys); j < n) {
    widen_for(nullptr, monoms[j] + 1);  // forgets every term's keys
    return direct_ ? nullptr : keys_of(monoms, n);
  }
  return keys;
}

void ColumnIndex::key_terms(const std::vector<std::pair<u64* const*, u32>>& polys, u32 width) {
  if (direct_) return;
  std::vector<std::pair<u64* const*, u32>> todo;
  std::vector<Key*> room;
  for (const auto& [monoms, n] : polys) {
    if (keyed(monoms)) continue;
    todo.emplace_back(monoms, n);
    room.push_back(add_term_keys(monoms, n));
  }
  if (todo.empty()) return;
  // A term that does not fit widens the keys for every such term at once.
  const u32 nb = nb_of_blocks_of_variables;
  std::vector<u64> wide(u64(width + 1) * nb, 0);  // a row of words per thread, then their union
  bool narrow = false;
#pragma omp parallel num_threads(width)
  {
    u64* mine = wide.data() + u64(omp_get_thread_num() + 1) * nb;
    bool seen = false;
#pragma omp for schedule(dynamic, 4)
    for (i64 t = 0; t < i64(todo.size()); ++t) {
      const auto [monoms, n] = todo[u64(t)];
      for (u32 j = 0; (j = make_keys(monoms, j, n, room[u64(t)])) < n; ++j) {
        for (u32 w = 0; w < nb; ++w) mine[w] |= monoms[j][1 + w];
        seen = true;
      }
    }
    if (seen) {
#pragma omp critical
      {
        for (u32 w = 0; w < nb; ++w) wide[w] |= mine[w];
        narrow = true;
      }
    }
  }
  if (narrow) widen_for(nullptr, wide.data());  // forgets every term's keys
}

void ColumnIndex::widen_for(const u64* a, const u64* b) {
  u64 any = 0;
  for (u32 w = 0; w < nb_of_blocks_of_variables; ++w) any |= a ? a[w] + b[w] : b[w];
  const u32 lanes = u32((any | any >> 16 | any >> 32 | any >> 48) & 0xFFFFu);
  if (set_bits(std::max(bits_, bit_width(lanes)))) {
    rebuild(mask_ + 1);
    clear_term_keys(term_mask_ + 1);
  } else {
    give_up();
  }
}

void ColumnIndex::give_up() {
  sync();
  direct_ = true;
  ++generation_;
}

ColumnIndex::Key ColumnIndex::multiplier_key(const u64* m) {
  if (!m) return 0;
  if (!fits(m)) widen_for(nullptr, m);
  return direct_ ? 0 : pack(m);
}

u32 ColumnIndex::insert(u32 at, Key k, u64 h1, const u64* m1, u64* m2, u64** record) {
  if (count_ >= quor_hash_prime) {
    // The table is full: its own lookup says so, as it would have.
    give_up();
    u32 code;
    QUOR_NS::get_code(h1, m1, m2, table_, &code, record);
  }
  u64* r = m2;
  if (m1) {
    r = QUOR_NAME(new_Expos)();
    r[0] = hash_start_slot(h1 + m2[0]);
    mul_Expos(r + 1, m1, m2 + 1);
  }
  const u32 c = count_++;
  words_[c] = r + 1;
  made_[c] = m1 != nullptr;
  entries_[at] = Entry{u64(k), u32(k >> 64), c};
  *record = r;
  if (2 * u64(count_) > u64(mask_) + 1) rebuild(2 * (mask_ + 1));
  return c;
}

i32 ColumnIndex::get_code(u64 h1, const u64* m1, u64* m2, u32* code, u64** record) {
  if (direct_) {
    const i32 fresh = QUOR_NS::get_code(h1, m1, m2, table_, code, record);
    if (fresh) {
      words_[*code] = *record + 1;
      made_[*code] = m1 != nullptr;
    }
    count_ = table_->count;
    return fresh;
  }
  if (!fits(m2 + 1) || (m1 && !fits(m1))) {
    widen_for(nullptr, fits(m2 + 1) ? m1 : m2 + 1);
    return get_code(h1, m1, m2, code, record);
  }
  const Key k = (m1 ? pack(m1) : 0) + pack(m2 + 1);
  if (k & guards_) {
    widen_for(m1, m2 + 1);
    return get_code(h1, m1, m2, code, record);
  }
  return get_code_keyed(generation_, k, h1, m1, m2, code, record);  // a key of this generation, no guard set
}

i32 ColumnIndex::get_code_keyed(u32 gen, Key k, u64 h1, const u64* m1, u64* m2, u32* code, u64** record) {
  if (gen != generation_ || (k & guards_)) return get_code(h1, m1, m2, code, record);
  u32 at;
  const u32 c = find(k, hash_of(k), &at);
  if (c != kEmpty) {
    *code = c;
    *record = const_cast<u64*>(words_[c]) - 1;
    return 0;
  }
  *code = insert(at, k, h1, m1, m2, record);
  return 1;
}

void ColumnIndex::sync() {
  append_codes(table_, words_, count_);
  last_columns = count_;
}

}  // namespace quor::QUOR_NS

// One F4 step: symbolic preprocessing, column order, row coding, the call of
// the elimination and the renormalisation of its results; the conversions of
// result rows back into polynomials.
#include "engine/symbolic.h"

#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/column_index.h"
#include "core/crit.h"
#include "core/monomial.h"
#include "core/reltable.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"
#include "engine/radix_sort.h"
#include "host/C/host_services.h"

extern "C" {
quor::i32 QUOR_NAME(no_expand) = 0;
}

#if !QUOR_INT
namespace quor {
u64 symbolic_entries_per_coding_team = u64(1) << 22;
u64 symbolic_lookups_per_team = u64(1) << 18;
}  // namespace quor
#endif

namespace quor::QUOR_NS {

i32 use_strong_order = 0;

namespace {

constexpr u32 kMarkLead = 1;
constexpr u32 kMarkOpen = 0;
constexpr u32 kMarkNoReductor = 0xFFFFFFFFu;

inline u64 even_up(u64 n) { return (n + 1) & ~u64(1); }



// Rows may not reach quor_max_index + 1 nor room + 1; where = 5 (halves) or 8 (reductors).
void check_row_limits(u32 nrows, u32 room, int where) {
  if (nrows >= quor_max_index) {
    if (where == 5)
      QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (5) !%s",
                       quor_max_index, "\n");
    QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (8) !%s",
                     quor_max_index, "\n");
  }
  if (nrows >= room) {
    if (where == 5)
      QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (6) !%s",
                       room, "\n");
    QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (9) !%s", room,
                     "\n");
  }
}

// divisor_filter slot by slot.  It rules most reductors out in one test.
inline u64 divisor_mask(const u64* e) {
  const u32 slots = nb_of_variables;
  const u32 b = slots < 64 ? 64 / slots : 1;
  u64 m = 0;
  for (u32 i = 0; i < slots; ++i) {
    const u32 x = std::min(expos_slot(e, i), b);
    if (x) m |= ((u64(1) << x) - 1) << ((i * b) & 63);
  }
  return m;
}

// divisor_mask of 4 to 16 slots (b from 4 to 16) on a processor with 512-bit
// vectors: each slot's bits made in a 16-bit lane, then shifted to their
// place at[i] = i * b.
__attribute__((target("avx512f,avx512bw,avx512vl"))) u64 divisor_mask_avx512(const u64* e, u32 slots, u32 b,
                                                                              const u64* at) {
  const __m256i v = _mm256_maskz_loadu_epi16(__mmask16((u32(1) << slots) - 1), e);
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i x = _mm256_min_epu16(v, _mm256_set1_epi16(short(b)));
  const __m256i bits = _mm256_sub_epi16(_mm256_sllv_epi16(one, x), one);  // b = 16: 0 - 1, all sixteen
  // The zero-masked forms: the plain ones start from an undefined vector,
  // which the compiler reports.
  const __m512i lo = _mm512_maskz_sllv_epi64(0xFF, _mm512_maskz_cvtepu16_epi64(0xFF, _mm256_castsi256_si128(bits)),
                                             _mm512_load_si512(at));
  const __m512i hi = _mm512_maskz_sllv_epi64(
      0xFF, _mm512_maskz_cvtepu16_epi64(0xFF, _mm256_extracti128_si256(bits, 1)), _mm512_load_si512(at + 8));
  const __m512i all = _mm512_or_si512(lo, hi);
  const __m256i half =
      _mm256_or_si256(_mm512_maskz_extracti64x4_epi64(0xF, all, 0), _mm512_maskz_extracti64x4_epi64(0xF, all, 1));
  const __m128i quarter = _mm_or_si128(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
  return u64(_mm_cvtsi128_si64(quarter)) | u64(_mm_extract_epi64(quarter, 1));
}

// divisor_mask for the monomials of one step: made for every column met,
// a loop over the slots took a fiftieth of noon-8's time.
class DivisorMasks {
 public:
  DivisorMasks() {
    static const bool bw = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    slots_ = nb_of_variables;
    b_ = slots_ < 64 ? 64 / slots_ : 1;
    vec_ = bw && simd_avx512() && slots_ >= 4 && slots_ <= 16;
    for (u32 i = 0; i < 16; ++i) at_[i] = i < slots_ ? u64(i) * b_ : 64;
  }
  u64 operator()(const u64* e) const { return vec_ ? divisor_mask_avx512(e, slots_, b_, at_) : divisor_mask(e); }

 private:
  alignas(64) u64 at_[16];
  u32 slots_, b_;
  bool vec_;
};

}  // namespace

u64 divisor_filter(const u64* e) { return DivisorMasks()(e); }

namespace {

// First r of from .. n-1 whose filter passes (masks[r] & out == 0), n when
// none: most reductors fail the filter, so they are tested eight at a time.
__attribute__((target("avx2"))) u32 next_candidate_avx2(const u64* masks, u32 r, u32 n, u64 out) {
  const __m256i o = _mm256_set1_epi64x(i64(out));
  const __m256i zero = _mm256_setzero_si256();
  for (; r + 8 <= n; r += 8) {
    const __m256i a = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + r)), o);
    const __m256i b = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + r + 4)), o);
    const u32 hit = u32(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(a, zero)))) |
                    u32(_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(b, zero)))) << 4;
    if (hit) return r + u32(__builtin_ctz(hit));
  }
  for (; r < n; ++r)
    if (!(masks[r] & out)) return r;
  return n;
}

// The same, sixteen at a time.
__attribute__((target("avx512f"))) u32 next_candidate_avx512(const u64* masks, u32 r, u32 n, u64 out) {
  const __m512i o = _mm512_set1_epi64(i64(out));
  for (; r + 16 <= n; r += 16) {
    const u32 hit = u32(_mm512_testn_epi64_mask(_mm512_loadu_si512(masks + r), o)) |
                    u32(_mm512_testn_epi64_mask(_mm512_loadu_si512(masks + r + 8), o)) << 8;
    if (hit) return r + u32(__builtin_ctz(hit));
  }
  return next_candidate_avx2(masks, r, n, out);
}

inline u32 next_candidate(const u64* masks, u32 r, u32 n, u64 out) {
  static const bool wide = __builtin_cpu_supports("avx512f");
  static const bool simd = __builtin_cpu_supports("avx2");
  if (wide) return next_candidate_avx512(masks, r, n, out);
  if (simd) return next_candidate_avx2(masks, r, n, out);
  for (; r < n; ++r)
    if (!(masks[r] & out)) return r;
  return n;
}

// Lookups of the products m * monoms[j] in the table (rows coded late) wait
// on the source's record, then the table slot: each is hinted to the cache a
// few terms before it is needed.
constexpr u32 kAhead = 24;

// Hints for the lookup of term j + 2 * kAhead and j + kAhead (those below n).
__attribute__((always_inline)) inline void prefetch_lookups(u64 h, u64* const* monoms, u32 j, u32 n,
                                                           Table_de_Recherche t) {
  if (j + 2 * kAhead < n) __builtin_prefetch(monoms[j + 2 * kAhead]);
  if (j + kAhead < n) prefetch_slot(t, h + monoms[j + kAhead][0]);
}

// Starts the hints for a run of lookups from term from.
__attribute__((always_inline)) inline void start_lookups(u64 h, u64* const* monoms, u32 from, u32 n,
                                                        Table_de_Recherche t) {
  for (u32 j = from; j < n && j < from + 2 * kAhead; ++j) __builtin_prefetch(monoms[j]);
  for (u32 j = from; j < n && j < from + kAhead; ++j) prefetch_slot(t, h + monoms[j][0]);
}

// Numbers the products m * monoms[j] (m's hash h) for j = from .. n-1 into
// codes[j], a newly inserted one with the mark open.
inline void enter_terms(ColumnIndex& cols, u64 h, const u64* m, u64* const* monoms, u32 from, u32 n, u32* mark,
                        u32* codes) {
  cols.get_codes(h, m, monoms, from, n, codes, [&](u32 code, u64*) { mark[code] = kMarkOpen; });
}

// A row whose products m * monoms[j], j = from .. n-1, are to be numbered
// into codes[j] (m's hash h, m null for 1); from 0: a half, whose lead is
// marked a lead.
// Products from which a batch is looked up on the team.
inline u64 team_lookups() {
#if !QUOR_INT
  return std::max<u64>(1, symbolic_lookups_per_team);
#else
  return ~u64(0);
#endif
}
[[maybe_unused]] constexpr u32 kFirstChunk = 64;
// Products entered after the team's lookups: each index line is hinted this
// many products ahead.
constexpr u32 kEnterAhead = 8;
// Columns ahead whose table slot is hinted while the columns take their positions.
constexpr u32 kSlotAhead = 16;
// Columns from which the records held by a step's new polynomials are marked on a team.
[[maybe_unused]] constexpr u32 kReleaseColumnsPerTeam = 1u << 14;

struct PendingRow {
  u64 h;
  const u64* m;
  u64* const* monoms;
  u32 n, from;
  u32* codes;
  u32 row;     // its index among the matrix rows
  u64 staged;  // where its codes lie among the staged ones
};

// Numbers the rows' products as entering them one row after the other does
// (a fresh product marked open, a half's lead marked a lead).  On a team of
// width > 1 the products already indexed are looked up in parallel first;
// the others are then entered in row order, so the codes are the same.
void enter_rows(ColumnIndex& cols, const std::vector<PendingRow>& rows, u32* mark, u32 width) {
  u64* rec = nullptr;
  u64 lookups = 0;
  if (width > 1)
    for (const PendingRow& w : rows) lookups += w.n - w.from;
  bool team = width > 1 && rows.size() > 1 && lookups >= team_lookups() && cols.indexed();
  if (!team) {
    for (const PendingRow& w : rows) {
      if (w.from == 0) {
        cols.get_code(w.h, w.m, w.monoms[0], &w.codes[0], &rec);
        mark[w.codes[0]] = kMarkLead;
      }
      enter_terms(cols, w.h, w.m, w.monoms, 1, w.n, mark, w.codes);
    }
    return;
  }
  std::vector<ColumnIndex::Key> km(rows.size());
  std::vector<const ColumnIndex::Key*> keys(rows.size());
  std::vector<std::pair<u64* const*, u32>> polys(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) polys[r] = {rows[r].monoms, rows[r].n};
  // Keys made before a widening are stale: take them all again.
  for (u32 g = cols.generation() + 1; team && g != cols.generation();) {
    g = cols.generation();
    cols.key_terms(polys, width);
    for (std::size_t r = 0; r < rows.size() && team; ++r) {
      km[r] = cols.multiplier_key(rows[r].m);
      keys[r] = cols.term_keys(rows[r].monoms, rows[r].n);
      team = cols.indexed();
    }
  }
  if (!team) return enter_rows(cols, rows, mark, 1);
  const u32 gen = cols.generation();

  // The products not indexed yet, per row: where its list lies in its
  // worker's buffer, and its length.
  struct Absent {
    u32 worker, count;
    u64 at;
  };
  std::vector<Absent> absent(rows.size());
  std::vector<std::vector<u32>> lists(width);
  std::atomic<bool> failed{false};
#pragma omp parallel num_threads(width)
  {
    const u32 t = u32(omp_get_thread_num());
    std::vector<u32>& list = lists[t];
    // The list only grows: a row's room is not cleared again for each row.
    u64 used = 0;
#pragma omp for schedule(dynamic, 8)
    for (i64 r = 0; r < i64(rows.size()); ++r) {
      if (failed.load(std::memory_order_relaxed)) continue;
      const PendingRow& w = rows[u64(r)];
      const u64 at = used;
      try {
        if (list.size() < at + w.n - w.from) list.resize(std::max<u64>(at + w.n - w.from, 2 * list.size()));
      } catch (const std::bad_alloc&) {
        failed.store(true);
        continue;
      }
      const u32 k = cols.find_codes(km[u64(r)], keys[u64(r)], w.from, w.n, w.codes, list.data() + at);
      used = at + k;
      absent[u64(r)] = Absent{t, k, at};
    }
  }
  if (failed.load()) raise_allocation_failure();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const PendingRow& w = rows[r];
    if (w.from == 0 && w.codes[0] != ColumnIndex::kAbsent) mark[w.codes[0]] = kMarkLead;
    const u32* list = lists[absent[r].worker].data() + absent[r].at;
    const u32 count = absent[r].count;
    // Most of these were entered by an earlier row of the batch: the keys
    // made for the lookups find them without reading the term's record.
    for (u32 i = 0; i < count && i < kEnterAhead; ++i) cols.hint(km[r] + keys[r][list[i]]);
    for (u32 i = 0; i < count; ++i) {
      if (i + kEnterAhead < count) cols.hint(km[r] + keys[r][list[i + kEnterAhead]]);
      const u32 j = list[i];
      const bool fresh = cols.get_code_keyed(gen, km[r] + keys[r][j], w.h, w.m, w.monoms[j], &w.codes[j], &rec) != 0;
      if (j == 0)
        mark[w.codes[0]] = kMarkLead;
      else if (fresh)
        mark[w.codes[j]] = kMarkOpen;
    }
  }
}

// Staged codes from which a batch is numbered before it is complete, on one
// thread (any cut of the rows in their order numbers them alike; a team's
// batches are kept whole, each is one round of lookups on the team).
constexpr u64 kStagedCodes = u64(1) << 18;

// The codes of each row's terms, kept from the numbering to the coding of
// the rows, so that each product is looked up once.  A batch's codes are
// numbered into a staging buffer, then kept in 16 bits while every code
// handed out fits there (rows before wide_from), in 32 bits after: they
// are most of the preprocessing's scratch (katsura-11: 39 MB of 32-bit
// codes at its largest step).
struct RowCodes {
  ScratchArena& scratch;
  void** at = nullptr;
  u32 capacity = 0;
  u32 wide_from = ~u32(0);
  char* room = nullptr;  // the codes' current piece of scratch
  u64 left = 0;          // bytes
  std::vector<u32> staging;

  // Room for the n codes of row i (rows come in order) among the staged
  // ones: its offset there (the pointer is made at the batch's numbering).
  u64 stage(u32 i, u32 n) {
    if (i >= capacity) {
      const u32 cap = std::max<u32>(1024, 2 * capacity);
      auto** grown = static_cast<void**>(scratch.take(u64(cap) * sizeof(void*)));
      if (i) std::memcpy(grown, at, u64(i) * sizeof(void*));
      at = grown;
      capacity = cap;
    }
    // Room for a batch's worth once: doubling would leave twice that.
    if (staging.capacity() == 0) staging.reserve(kStagedCodes + (u64(1) << 16));
    const u64 o = staging.size();
    staging.resize(o + n);
    return o;
  }
  // Keeps the staged codes of the batch's rows, in row order.
  void keep(const std::vector<PendingRow>& rows, u32 ncodes) {
    for (const PendingRow& w : rows) {
      if (wide_from == ~u32(0) && ncodes > 0x10000u) wide_from = w.row;
      const bool narrow = w.row < wide_from;
      const u64 bytes = u64(w.n) * (narrow ? sizeof(u16) : sizeof(u32));
      if (bytes > left) {
        left = std::max<u64>(bytes, u64(1) << 17);
        room = static_cast<char*>(scratch.take(left));
      }
      at[w.row] = room;
      const u32* c = staging.data() + w.staged;
      if (narrow) {
        u16* d = reinterpret_cast<u16*>(room);
        for (u32 j = 0; j < w.n; ++j) d[j] = u16(c[j]);
      } else {
        std::memcpy(room, c, bytes);
      }
      room += bytes;
      left -= bytes;
    }
    staging.clear();
  }
  bool narrow(u32 i) const { return i < wide_from; }
  u32 first(u32 i) const { return narrow(i) ? static_cast<const u16*>(at[i])[0] : static_cast<const u32*>(at[i])[0]; }
};

// Numbers the batch's rows (enter_rows) through the staging buffer and keeps their codes.
void enter_batch(ColumnIndex& cols, std::vector<PendingRow>& rows, u32* mark, u32 width, RowCodes& codes) {
  for (PendingRow& w : rows) w.codes = codes.staging.data() + w.staged;
  enter_rows(cols, rows, mark, width);
  codes.keep(rows, cols.count());
  rows.clear();
}

// Codes the row from the n offsets of its terms in scratch (scratch[0] = 0).
void code_offsets(sALGO_Dpol* row, const u32* scratch, u32 n) {
  u32 nc = 0;
  u64 bytes = 0;
  row->code = compress_lzw(scratch, n, &nc, &bytes);
  row->nb_codes = nc;
  row->encoding = CODE_LZW;
  row->multiplier = nullptr;
  row->source_monoms = nullptr;
}

// Codes the row whose n terms have the column positions pos[codes[j]];
// scratch holds n offsets.
template <class Code>
void code_row_from_codes(sALGO_Dpol* row, const Code* codes, u32 n, const u32* pos, u32* scratch) {
  const u32 lp = pos[codes[0]];
  scratch[0] = 0;
  for (u32 j = 1; j < n; ++j) scratch[j] = lp - pos[codes[j]];
  code_offsets(row, scratch, n);
}

#if !QUOR_INT
// Codes rows whose records are filled but for their code, on a team of
// width threads: the offsets and byte code of a chunk of rows are made in
// the workers' buffers, then the master moves each code into the zone, in
// row order (the zone is the master's).  Returns false when a worker could
// not get memory.
bool code_rows_on_team(ALGO_Dpol* rows, u32 nrows, const RowCodes& codes, const u32* pos, u32 max_terms, u32 width) {
  constexpr u32 kChunk = 4096;
  struct Coded {
    u32 worker, codes;
    u64 at, bytes;
  };
  struct Buffers {
    std::vector<u32> offsets;
    std::vector<u8> code, out;
  };
  std::vector<Buffers> buf(width);
  std::vector<Coded> done(kChunk);
  std::atomic<bool> failed{false};
  for (u32 from = 0; from < nrows; from += kChunk) {
    const u32 n = std::min(kChunk, nrows - from);
    std::atomic<u32> next{0};
#pragma omp parallel num_threads(width)
    {
      const u32 w = u32(omp_get_thread_num());
      Buffers& b = buf[w];
      try {
        b.out.clear();
        b.offsets.resize(max_terms);
        for (u32 k; !failed.load(std::memory_order_relaxed) && (k = next.fetch_add(1)) < n;) {
          sALGO_Dpol* row = rows[from + k];
          const u32 nt = row->nb_codes;  // the term count, kept there meanwhile
          auto offsets = [&](const auto* c) {
            const u32 lp = pos[c[0]];
            b.offsets[0] = 0;
            for (u32 j = 1; j < nt; ++j) b.offsets[j] = lp - pos[c[j]];
          };
          if (codes.narrow(from + k))
            offsets(static_cast<const u16*>(codes.at[from + k]));
          else
            offsets(static_cast<const u32*>(codes.at[from + k]));
          // The buffer only grows: its room is not cleared again for each row.
          const u64 worst = lzw_worst_bytes(nt);
          if (b.code.size() < worst) b.code.resize(worst);
          u32 nc = 0;
          const u64 bytes = nt < 2 ? 0 : lzw_encode(b.offsets.data(), nt, b.code.data(), worst, &nc);
          done[k] = Coded{w, nc, b.out.size(), bytes};
          b.out.insert(b.out.end(), b.code.begin(), b.code.begin() + i64(bytes));
        }
      } catch (const std::bad_alloc&) {
        failed.store(true);
      }
    }
    if (failed.load()) return false;
    // The zone allocates on one thread; the codes are copied (their pages
    // faulted in) on the team.
    for (u32 k = 0; k < n; ++k) {
      sALGO_Dpol* row = rows[from + k];
      const Coded& d = done[k];
      row->code = static_cast<u8*>(QUOR_NAME(alloc64)(d.bytes));
      row->nb_codes = d.codes;
      row->encoding = CODE_LZW;
      row->multiplier = nullptr;
      row->source_monoms = nullptr;
    }
#pragma omp parallel for num_threads(width) schedule(dynamic, 64)
    for (i64 k = 0; k < i64(n); ++k)
      if (done[k].bytes)
        std::memcpy(rows[from + u64(k)]->code, buf[done[k].worker].out.data() + done[k].at, done[k].bytes);
  }
  return true;
}
#endif

// Hash of the quotient u / v of two monomials (exponent words, each behind
// its record's hash): the hash is linear, so no pass over the words.
inline u64 quotient_hash(const u64* u, const u64* v) {
  const u64 hu = hash_start_slot(u[-1]), hv = hash_start_slot(v[-1]);
  return hu >= hv ? hu - hv : hu + quor_hash_prime - hv;
}

// Record (header first) of the monomial at position pos of the table's order.
inline u64* record_at(Table_slot* s, u32 pos) { return s[s[pos].code_slot].monom - 1; }

// Codes the row of source monomials monoms[0..n-1] times m (hash h) whose lead
// lies at position lp; scratch holds n offsets.
void code_row(sALGO_Dpol* row, u64 h, const u64* m, u64* const* monoms, u32 n, u32 lp,
              Table_de_Recherche t, u32* scratch) {
  scratch[0] = 0;
  start_lookups(h, monoms, 1, n, t);
  for (u32 j = 1; j < n; ++j) {
    prefetch_lookups(h, monoms, j, n, t);
    scratch[j] = lp - find_code(h, m, monoms[j], t);
  }
  code_offsets(row, scratch, n);
}

template <u32 K>
struct ColumnKey {
  u64 w[K];
  bool operator<(const ColumnKey& o) const {
    for (u32 i = 0; i < K; ++i)
      if (w[i] != o.w[i]) return w[i] < o.w[i];
    return false;
  }
};

// Sorts by keys whose tail is the entry's index into order.
template <u32 K>
void sort_by_keys(const u64* const* monom, u32* order, u32 ncols, const ExposKeyLayout& L, u64* buffer) {
  auto* keys = reinterpret_cast<ColumnKey<K>*>(buffer);
  for (u32 c = 0; c < ncols; ++c) L.make(monom[order[c]], c, keys[c].w);
  if (ncols < kRadixSortFrom) {
    std::sort(keys, keys + ncols);
  } else {
    auto* scratch = static_cast<ColumnKey<K>*>(QUOR_NAME(alloc64)(u64(ncols) * sizeof(ColumnKey<K>)));
    radix_sort(keys, scratch, ncols, K, [](const ColumnKey<K>& k, u32 i) { return k.w[i]; });
  }
  u32* sorted = reinterpret_cast<u32*>(keys);  // read index c before writing slot c / 2 or less
  for (u32 c = 0; c < ncols; ++c) sorted[c] = u32(L.tail_of(keys[c].w));
  for (u32 c = 0; c < ncols; ++c) sorted[c] = order[sorted[c]];
  std::memcpy(order, sorted, u64(ncols) * sizeof(u32));
}

// Sorts order[0..ncols-1] (codes of the table) by ascending monomial order
// (comp5_Expos when strong, else comp4_Expos).
void sort_columns(const u64* const* monom, u32* order, u32 ncols, bool strong) {
  if (ncols < 2) return;
  const u32 nb = nb_of_blocks_of_variables;
  u64 any[16] = {};
  if (nb <= 16)
    for (u32 c = 0; c < ncols; ++c) {
      const u64* e = monom[order[c]];
      for (u32 w = 0; w < nb; ++w) any[w] |= e[w];
    }
  ExposKeyLayout L;
  if (nb <= 16) L.plan(any, strong, std::max<u32>(1, u32(std::bit_width(ncols - 1))));
  if (L.words == 0) {
    auto cmp = strong ? comp5_Expos : comp4_Expos;
    std::sort(order, order + ncols,
              [&](u32 a, u32 b) { return cmp(monom[a], monom[b]) < 0; });
    return;
  }
  u64* buffer = static_cast<u64*>(QUOR_NAME(alloc64)(u64(ncols) * L.words * sizeof(u64)));
  if (L.words == 1)
    sort_by_keys<1>(monom, order, ncols, L, buffer);
  else
    sort_by_keys<2>(monom, order, ncols, L, buffer);
}

}  // namespace

SymbolicMatrix symbolic_build_matrix(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32 room) {
  SymbolicMatrix M{nullptr, 0, 0, 0, 0, 0, 0, nullptr, nullptr};
  Table_de_Recherche t = QUOR_NAME(ptr_Base_Exposants);
  const u32 V = QUOR_NAME(vectorize);
#if !QUOR_INT
  // Lookups on the elimination's team, the halves in chunks of kFirstChunk rows at least.
  const u32 width = nb_threads > 1 ? team_width(u32(std::min(nb_threads, 1024))) : 1;
  const u32 chunk = width > 1 ? kFirstChunk : 1;
#else
  const u32 width = 1, chunk = 1;
#endif
  // The index, the rows' codes and the other scratch of the preprocessing
  // are given back before the elimination, which takes the same pages.
  ScratchArena scratch{width == 1};
  // One mark per code: a code can never reach the table's prime.
  u32* mark = static_cast<u32*>(scratch.take(u64(quor_hash_prime) * sizeof(u32)));
  fresh_relative_MatrixRow();
  empty_Table_de_Recherche(t);
  u32 nrows = 0, nreduce = 0, max_terms = 1;
  [[maybe_unused]] u64 entries = 0;  // of the rows, for the choice of a coding team
  RowCodes row_codes{scratch};
  ColumnIndex cols;
  std::vector<PendingRow> batch;
  {
    // Every exponent of a homogeneous step is at most its degree.
    u32 degree = 0;
    for (u32 i = 0; i < nsel; ++i) {
      const Dpol p = out[i];
      if (!p || p->nb_terms == 0) continue;
      const u64* m = get_relative_Expos(i);
      degree = std::max(degree, (m ? degree_Expos(m) : 0) + degree_Expos(p->monoms[0] + 1));
    }
    cols.start(t, u32(std::bit_width(degree)), &scratch);
  }

  // 1. The selected halves.
  for (u32 i = 0; i < nsel; ++i) {
    Dpol p = out[i];
    if (!p || p->nb_terms == 0) continue;
    const u32 flag = get_relative_CBoolean(i);
    u64* m = get_relative_Expos(i);
    const u64 h = m ? hash_Expos(m) : 0;
#if QUOR_INT
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      cols.sync();
      M.stopped = 1;
      M.nhalves = M.nentries = nrows;
      return M;
    }
#endif
    Dpol d = new_Dpol(0);
    d->new_flag = flag;
    if (flag == 0)
      d->id = p->id;
    if (flag || d->input_flag) ++nreduce;
    set_relative_MatrixRow(nrows, MatrixRow_entry{d, p, m, u32(h)});
    check_row_limits(nrows, room, 5);
    batch.push_back(PendingRow{h, m, p->monoms, p->nb_terms, 0, nullptr, nrows, row_codes.stage(nrows, p->nb_terms)});
    max_terms = std::max(max_terms, p->nb_terms);
    entries += p->nb_terms;
    ++nrows;
    // Chunks grow with the rows entered, so that most products of a chunk
    // are already indexed when its team looks them up.
    if (batch.size() >= std::max(nrows / 2, chunk) || (width == 1 && row_codes.staging.size() >= kStagedCodes))
      enter_batch(cols, batch, mark, width, row_codes);
  }
  enter_batch(cols, batch, mark, width, row_codes);

  M.nhalves = nrows;

  // 2. Symbolic preprocessing: one pass over the codes in insertion order,
  // picking up the monomials that the reductor rows insert on the way.
  const u32 nb = nb_of_blocks_of_variables;
  const u64** red_lead = static_cast<const u64**>(scratch.take(u64(nred) * sizeof(u64*)));
  u64* red_mask = static_cast<u64*>(scratch.take(u64(nred) * sizeof(u64)));
  u32* red_index = static_cast<u32*>(scratch.take(u64(nred) * sizeof(u32)));
  u32 nr = 0;
  for (u32 r = 0; r < nred; ++r)
    if (table[r] && table[r]->nb_terms != 0) red_index[nr++] = r;
  // Shortest reductors first: the closure then brings fewer products, and
  // the matrices come out smaller and sparser on every system measured
  // (eco-12 a quarter faster) than with the table's own order, which
  // breaks ties.  A degree of the lead counts as one term less: the
  // multiplier is one degree lower and the tail was reduced later.
  auto cost = [&](u32 r) { return i64(table[r]->nb_terms) - i64(degree_Expos(lead_Expos(table[r]))); };
  std::sort(red_index, red_index + nr, [&](u32 a, u32 b) { return cost(a) != cost(b) ? cost(a) < cost(b) : a < b; });
  const DivisorMasks mask_of;
  for (u32 r = 0; r < nr; ++r) {
    red_lead[r] = lead_Expos(table[red_index[r]]);
    red_mask[r] = mask_of(red_lead[r]);
  }
  // First reductor (position in red_*) whose lead divides u, nr when none.
  auto reductor_of = [&](const u64* u) {
    const u64 su = mask_of(u);
    for (u32 r = 0; (r = next_candidate(red_mask, r, nr, ~su)) < nr; ++r) {
      const u64* v = red_lead[r];
      u32 w = 0;
      while (w < nb && !((u[w] - v[w]) & EXPOS_SIGN_MASK)) ++w;
      if (w == nb) return r;
    }
    return nr;
  };
  // Waves: the columns known when a wave starts; the ones its rows bring
  // make the next.  A large wave finds its reductors on the team.
  std::vector<u32> found;
  for (u32 c = 0; c < cols.count();) {
    const u32 first = c, end = cols.count();
    const bool team = width > 1 && u64(end - first) * nr / 64 >= team_lookups();
    if (team) {
      found.resize(end - first);
#pragma omp parallel for num_threads(width) schedule(dynamic, 64)
      for (i64 i = first; i < i64(end); ++i) found[u64(i) - first] = mark[i] == kMarkOpen ? reductor_of(cols.words(u32(i))) : nr;
    }
    for (; c < end; ++c) {
      if (mark[c] != kMarkOpen) continue;
      const u64* u = cols.words(c);
      QUOR_NAME(checkInterrupt)();
      if (stop_requested()) {
        cols.sync();
        M.stopped = 1;
        M.nentries = nrows;
        return M;
      }
      const u32 r = team ? found[c - first] : reductor_of(u);
      if (r == nr) {
        mark[c] = kMarkNoReductor;
        continue;
      }
      u64* q = QUOR_NAME(new_Expos)();  // exponent words from q[0]
      for (u32 w = 0; w < nb; ++w) q[w] = u[w] - red_lead[r][w];
      const Dpol g = table[red_index[r]];
      const u64 hq = quotient_hash(u, red_lead[r]);
      mark[c] = kMarkLead;
      Dpol d = new_Dpol(0);
      d->new_flag = 0;
      d->id = g->id;
      set_relative_MatrixRow(nrows, MatrixRow_entry{d, g, q, u32(hq)});
      check_row_limits(nrows, room, 8);
      const u64 staged = row_codes.stage(nrows, g->nb_terms);
      row_codes.staging[staged] = c;
      batch.push_back(PendingRow{hq, q, g->monoms, g->nb_terms, 1, nullptr, nrows, staged});
      max_terms = std::max(max_terms, g->nb_terms);
      entries += g->nb_terms;
      ++nrows;
      if (!team) enter_batch(cols, batch, mark, 1, row_codes);
    }
    enter_batch(cols, batch, mark, width, row_codes);
  }
  M.nentries = nrows;
  cols.sync();

  // 3. Column order.  No two columns are equal, so any correct sort gives
  // the one ascending order; positions then go into the entries' values.
  const u32 ncols = t->count;
  M.col_words = cols.all_words();
  M.col_made = cols.made_records();
  Table_slot* s = t->slots;
  u32* pos = static_cast<u32*>(scratch.take(u64(ncols) * sizeof(u32)));  // position of each code
  {
    u32* order = static_cast<u32*>(scratch.take(u64(ncols) * sizeof(u32)));
    for (u32 i = 0; i < ncols; ++i) order[i] = i;
    sort_columns(cols.all_words(), order, ncols, use_strong_order != 0);
    // The slots lie all over the table: each is hinted kSlotAhead columns ahead.
    for (u32 i = 0; i < ncols; ++i) {
      if (i + kSlotAhead < ncols) __builtin_prefetch(&s[order[i + kSlotAhead]]);
      pos[order[i]] = i;
      order[i] = s[order[i]].code_slot;  // every code's slot is read before slot i's field is rewritten
    }
    for (u32 i = 0; i < ncols; ++i) {
      if (i + kSlotAhead < ncols) __builtin_prefetch(&s[order[i + kSlotAhead]], 1);
      s[i].code_slot = order[i];
      s[order[i]].value = i;
    }
  }
  use_strong_order = 0;

  // 4. Row records, coded as they are built; coefficients are the sources'.
  ALGO_Dpol* rows = static_cast<ALGO_Dpol*>(QUOR_NAME(alloc64)(even_up(nrows) * sizeof(ALGO_Dpol)));
  u32* offsets = static_cast<u32*>(scratch.take(u64(max_terms) * sizeof(u32)));
  const bool unexpanded = QUOR_NAME(no_expand) != 0;
#if !QUOR_INT
  // Large matrices code their rows on the elimination's team afterwards.
  const u32 team = nb_threads > 1 && entries >= symbolic_entries_per_coding_team ? u32(std::min(nb_threads, 1024)) : 1;
#else
  const u32 team = 1;
#endif
  // The records in one block: no allocation and no padding per row.
  const u64 record_bytes = (ALGO_Dpol_bytes(V) + 7) & ~u64(7);
  char* const records = static_cast<char*>(QUOR_NAME(alloc64)(u64(nrows) * record_bytes));
  M.rows = rows;
  M.ncols = ncols;
  M.nreduce = nreduce;
  for (u32 i = 0; i < nrows; ++i) {
    const MatrixRow_entry* e = rel_MatrixRow.at(i);
    Dpol src = e->source;
    const u32 lp = pos[row_codes.first(i)];
    ALGO_Dpol row = reinterpret_cast<ALGO_Dpol>(records + i * record_bytes);
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      M.nrows = i;
      M.stopped = 1;
      return M;
    }
    row->key = e->descriptor->id;
    row->lead = ncols - lp;
    row->span = lp + 1;
    row->input_flag = e->descriptor->input_flag;
    row->new_flag = e->descriptor->new_flag;
    row->flag = (row->input_flag || row->new_flag) ? 1 : 0;
    row->dense = 0;
    row->pad_ = 0;
    for (u32 k = 0; k < V; ++k) row->coeffs[k] = src->coeffs[k];
    if (unexpanded) {
      row->encoding = CODE_UNEXPANDED;
      row->nb_codes = src->nb_terms;
      row->multiplier = e->multiplier;
      row->source_monoms = src->monoms;
      row->mult_hash = e->hash;
    } else if (team > 1) {
      row->nb_codes = src->nb_terms;  // until the team codes the row
    } else {
      if (row_codes.narrow(i))
        code_row_from_codes(row, static_cast<const u16*>(row_codes.at[i]), src->nb_terms, pos, offsets);
      else
        code_row_from_codes(row, static_cast<const u32*>(row_codes.at[i]), src->nb_terms, pos, offsets);
    }
    rows[i] = row;
  }
#if !QUOR_INT
  if (!unexpanded && team > 1 && !code_rows_on_team(rows, nrows, row_codes, pos, max_terms, team))
    raise_allocation_failure();
#endif
  M.nrows = nrows;
  return M;
}

void release_reductor_multipliers(const SymbolicMatrix& M) {
  for (u32 i = M.nhalves; i < M.nentries; ++i) QUOR_NAME(kill_Expos)(rel_MatrixRow.at(i)->multiplier);
}

namespace {
// The records made for the step's columns that none of the k new polynomials
// holds go back to the monomial free list: kept, a run's columns would pile
// up in the slabs, most of them never read again.  A record's hash word is
// below 2^32: its top bit marks the records held while the others go.
void release_column_records(const SymbolicMatrix& M, Dpol* polys, u32 k, u32 width) {
  constexpr u64 kHeld = u64(1) << 63;
  // Polynomials share records: the mark is set (or cleared) with a plain
  // atomic load and store, as nothing else changes the word meanwhile.
  auto mark = [&](bool on) {
#pragma omp parallel for num_threads(width) schedule(dynamic, 8) if (width > 1)
    for (i64 i = 0; i < i64(k); ++i) {
      u64** m = polys[i]->monoms;
      for (u32 j = 0; j < polys[i]->nb_terms; ++j) {
        std::atomic_ref<u64> w(m[j][0]);
        const u64 v = w.load(std::memory_order_relaxed);
        if (bool(v & kHeld) != on) w.store(v ^ kHeld, std::memory_order_relaxed);
      }
    }
  };
  mark(true);
  // The records lie scattered: each is hinted a few columns ahead.
  constexpr u32 kAhead = 8;
  for (u32 c = 0; c < M.ncols; ++c) {
    if (c + kAhead < M.ncols && M.col_made[c + kAhead]) __builtin_prefetch(M.col_words[c + kAhead] - 1, 1);
    if (!M.col_made[c]) continue;
    u64* r = const_cast<u64*>(M.col_words[c]) - 1;
    if (!(r[0] & kHeld)) QUOR_NAME(kill_Expos)(r);
  }
  mark(false);
}
}  // namespace

void code_unexpanded_rows(SymbolicMatrix& M) {
  Table_de_Recherche t = QUOR_NAME(ptr_Base_Exposants);
  u32 most = 1;
  for (u32 i = 0; i < M.nrows; ++i)
    if (M.rows[i]->encoding == CODE_UNEXPANDED) most = std::max(most, M.rows[i]->nb_codes);
  u32* scratch = nullptr;
  for (u32 i = 0; i < M.nrows; ++i) {
    sALGO_Dpol* row = M.rows[i];
    if (row->encoding != CODE_UNEXPANDED) continue;
    if (!scratch) scratch = static_cast<u32*>(QUOR_NAME(alloc64)(u64(most) * sizeof(u32)));
    code_row(row, row->mult_hash, row->multiplier, row->source_monoms, row->nb_codes, M.ncols - row->lead, t,
             scratch);
  }
}

void internal_symbolic_reduction(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32* room) {
  SymbolicMatrix M = symbolic_build_matrix(nsel, table, nred, out, *room);
  QUOR_NAME(checkInterrupt)();
  if (M.stopped || stop_requested()) {
    release_reductor_multipliers(M);
    *room = 0;
    return;
  }
  if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("\nMatrix %u x %u x %u: ", M.nrows, M.ncols, M.nreduce);
  if (want_pipe2) QUOR_NAME(Stderr)("(%ux%u)", M.nrows, M.ncols);

#if !QUOR_INT
  const u32 width =
      nb_threads > 1 && M.ncols >= kReleaseColumnsPerTeam ? team_width(u32(std::min(nb_threads, 1024))) : 1;
#else
  const u32 width = 1;
#endif
  // The eliminations read coded rows only.
  if (QUOR_NAME(no_expand)) code_unexpanded_rows(M);
  Dpol* result = static_cast<Dpol*>(QUOR_NAME(alloc64)(even_up(M.nreduce) * sizeof(Dpol)));
  const u32 k = QUOR_NAME(LINEAR_solve)(M.rows, M.nrows, M.ncols, M.nreduce, result,
                                        QUOR_NAME(ptr_Base_Exposants));
  // The rows are coded and done with: their multipliers are not kept anywhere.
  release_reductor_multipliers(M);
  nb_of_renormed = 0;
  *room = k;
  for (u32 i = 0; i < k; ++i) {
    renorm_poly(&result[i]->nb_terms, &result[i]->monoms);
    out[i] = result[i];
  }
  // With want_automatique still 0, renorm_poly only counted: one such
  // polynomial switches it on for the next steps, two or more also now.
  if (nb_of_renormed >= 1) {
    want_automatique = 1;
    if (nb_of_renormed >= 2)
      for (u32 i = 0; i < k; ++i) renorm_poly(&out[i]->nb_terms, &out[i]->monoms);
  }
  release_column_records(M, out, k, width);
}

namespace {
// Fills p, made with the entry count of the row whose lead lies at position
// lp, with record(pos) the record at position pos; false when an entry lies
// beyond lp.
template <class RecordAt>
bool fill_clone(Dpol p, const sALGO_Dpol* row, u32 lp, RecordAt record) {
  p->id = row->key;
  p->new_flag = row->new_flag;
  p->row_flag = row->flag;
  p->input_flag = row->input_flag;
  u64** mo = p->monoms;
  u32 j = 0;
  bool bad = false;
  mo[j++] = record(lp);
  lzw_walk(
      row->code, row->nb_codes,
      [&](u64 o) {
        if (o > lp) bad = true;
        else mo[j++] = record(u32(lp - o));
      },
      [&](u64 o, u32 r) {
        if (o + r - 1 > lp) bad = true;
        else
          for (u32 x = 0; x < r; ++x) mo[j++] = record(u32(lp - o - x));
      });
  if (bad) return false;
  const u32 V = QUOR_NAME(vectorize);
  for (u32 k = 0; k < V; ++k) std::memcpy(p->coeffs[k], row->coeffs[k], u64(p->nb_terms) * sizeof(Dom));
  return true;
}

// The entry count of a row whose lead lies at position lp, 0 when it has
// more entries than positions.
u64 clone_entries(const sALGO_Dpol* row, u32 lp) {
  const u64 n = lzw_count_entries(row->code, row->nb_codes);
  return n > u64(lp) + 1 ? 0 : n;
}
}  // namespace

Dpol QUOR_NAME(clone_lzw_ALGO_Dpol)(const sALGO_Dpol* row, Table_de_Recherche t, u32 lp) {
  const u64 n = clone_entries(row, lp);
  if (!n) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
  Dpol p = raw_new_Dpol(u32(n));
  Table_slot* s = t->slots;
  if (!fill_clone(p, row, lp, [s](u32 pos) { return record_at(s, pos); })) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
  return p;
}

void clone_lzw_rows(const ALGO_Dpol* rows, u32 n, u32 ncols, Table_de_Recherche t, u64* const* records, Dpol* out,
                    u32* count, u32 width) {
  // The zone allocates on one thread only: the polynomials are made in row
  // order between a count and a fill that the team shares.
  if (n == 0) return;
  std::atomic<bool> bad{false};
#pragma omp parallel for num_threads(width) schedule(dynamic, 16) if (width > 1)
  for (i64 i = 0; i < i64(n); ++i) {
    count[i] = u32(clone_entries(rows[i], ncols - rows[i]->lead));
    if (!count[i]) bad.store(true, std::memory_order_relaxed);
  }
  if (bad.load()) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
  for (u32 i = 0; i < n; ++i) out[i] = raw_new_Dpol(count[i]);
  Table_slot* s = t->slots;
#pragma omp parallel for num_threads(width) schedule(dynamic, 16) if (width > 1)
  for (i64 i = 0; i < i64(n); ++i) {
    const u32 lp = ncols - rows[i]->lead;
    const bool ok = records ? fill_clone(out[i], rows[i], lp, [records](u32 pos) { return records[pos]; })
                            : fill_clone(out[i], rows[i], lp, [s](u32 pos) { return record_at(s, pos); });
    if (!ok) bad.store(true, std::memory_order_relaxed);
  }
  if (bad.load()) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
}

u64** records_by_position(Table_de_Recherche t, u32 ncols) {
  auto** r = static_cast<u64**>(QUOR_NAME(alloc64)(u64(ncols) * sizeof(u64*)));
  Table_slot* s = t->slots;
  for (u32 pos = 0; pos < ncols; ++pos) r[pos] = record_at(s, pos);
  return r;
}

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

sDpol* QUOR_NAME(clone_ALGO_Dpol)(const sALGO_Dpol* row, Table_de_Recherche t, u32 lp) {
  const u32 V = QUOR_NAME(vectorize);
  const u64 span = std::min<u64>(row->span, u64(lp) + 1);
  Dom* const* c = row->coeffs;
  auto present = [&](u64 i) { return c[0][i] != 0 || (V >= 2 && c[1][i] != 0); };
  if (V >= 2) {
    bool differ = false, uncorrectable = false;
    for (u64 i = 0; i < span; ++i) {
      if ((c[0][i] == 0) != (c[1][i] == 0)) differ = true;
      if (V >= 3 && c[0][i] == 0 && c[1][i] == 0 && c[2][i] != 0) uncorrectable = true;
    }
    if (differ) {
      if (V < 3) QUOR_NAME(Fatal)("Impossible de conclure !\n");
      if (uncorrectable) QUOR_NAME(Fatal)("impossible de corriger !\n");
    }
  }
  u32 n = 0;
  for (u64 i = 0; i < span; ++i) n += present(i);
  Dpol p = raw_new_Dpol(n);
  p->id = row->key;
  p->new_flag = row->new_flag;
  p->row_flag = row->flag;
  p->input_flag = row->input_flag;
  Table_slot* s = t->slots;
  u32 j = 0;
  for (u64 i = 0; i < span; ++i) {
    if (!present(i)) continue;
    p->monoms[j] = s[s[lp - i].code_slot].monom - 1;
    for (u32 k = 0; k < V; ++k) p->coeffs[k][j] = c[k][i];
    ++j;
  }
  return p;
}

void QUOR_NAME(compactify)(u8* buffer, u64 capacity, const u32* positions, u32 n, u32* codes, u64* bytes) {
  // The code is checked against the room before every byte, so a buffer too
  // small is refused without being overrun.
  if (capacity == 0) QUOR_NAME(Fatal)("bug dans Quor(compact)\n");
  u32 nc = 0;
  const u64 b = n < 2 ? 0 : lzw_encode(positions, n, buffer, capacity - 1, &nc);
  if (b == ~u64(0)) QUOR_NAME(Fatal)("bug dans Quor(compact)\n");
  *codes = nc;
  *bytes = b;
}

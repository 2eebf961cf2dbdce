// Column byte code of matrix rows (CODE_LZW) and the kernels that read it.
//
// A row keeps the column positions of its entries relative to its lead
// (position 0 = the lead, position k = column lead + k) as a string of codes;
// all primes of a row share the string, each prime has its own coefficient
// array in column order (lead first).  One code is:
//   0x00 .. 0x7F          1 byte   gap: the next entry lies b positions further
//   0x80 .. 0xFE          1 byte   run: the next r = b & 0x7F positions all hold entries
//   0xFF, c != 0xFF, d    3 bytes  gap c*256 + d
//   0xFF, 0xFF, 4 bytes   6 bytes  gap given big-endian by the 4 bytes
// The string is read with its own number of codes (it has no terminator).
// The encoder writes gap bytes 0x01 .. 0x7D, run bytes 0x82 .. 0xFE, 3-byte
// gaps 126 .. 65279 and 6-byte gaps from 65280 on; a row of n entries needs
// at most (n rounded up to even) * 6 bytes.
//
// Dense accumulator rows, one cell per position from the pivot's lead:
//   integer build      LzwCell96: three u32 words, least significant first
//                      (value = w0 + w1*2^32 + w2*2^64)
//   prime-field build  u64
// A reduced cell keeps its residue in its low word.  The AXPY kernels add
// products without reducing; the bounds below say how many a cell may take.
#pragma once
#include "core/quor_build.h"

// ---- build-independent part: format, encoder, decoder, kernels ----
#include <cstring>

namespace quor {

// Encoding codes of the row record.
inline constexpr u32 CODE_LZW = 3;
inline constexpr u32 CODE_UNEXPANDED = 6;

// Longest run of one code and the gap limits of the 1- and 3-byte codes.
inline constexpr u32 kLzwMaxRun = 126;
inline constexpr u32 kLzwMaxShortGap = 125;
inline constexpr u32 kLzwMaxMediumGap = 65279;

// Worst-case bytes of the code of n positions.
inline u64 lzw_worst_bytes(u64 n) { return ((n + 1) & ~u64(1)) * 6; }

// Encodes n strictly ascending positions (positions[0] = 0, the lead) into
// out, writing at most limit bytes; returns the bytes written with *codes set,
// or ~0 when the code needs more than limit bytes.
inline u64 lzw_encode(const u32* positions, u64 n, u8* out, u64 limit, u32* codes) {
  u64 b = 0;
  u32 nc = 0;
  *codes = 0;
  for (u64 i = 1; i < n;) {
    const u32 g = positions[i] - positions[i - 1];
    if (g == 1) {
      u32 r = 1;
      while (r < kLzwMaxRun && i + r < n && positions[i + r] - positions[i + r - 1] == 1) ++r;
      if (b + 1 > limit) return ~u64(0);
      out[b++] = r >= 2 ? u8(0x80 | r) : u8(0x01);
      i += r;
    } else if (g <= kLzwMaxShortGap) {
      if (b + 1 > limit) return ~u64(0);
      out[b++] = u8(g);
      ++i;
    } else if (g <= kLzwMaxMediumGap) {
      if (b + 3 > limit) return ~u64(0);
      out[b] = 0xFF;
      out[b + 1] = u8(g >> 8);
      out[b + 2] = u8(g);
      b += 3;
      ++i;
    } else {
      if (b + 6 > limit) return ~u64(0);
      out[b] = 0xFF;
      out[b + 1] = 0xFF;
      out[b + 2] = u8(g >> 24);
      out[b + 3] = u8(g >> 16);
      out[b + 4] = u8(g >> 8);
      out[b + 5] = u8(g);
      b += 6;
      ++i;
    }
    ++nc;
  }
  *codes = nc;
  return b;
}

// Reads one gap code whose first byte b (< 0x80 or 0xFF) was taken from *s.
inline u64 lzw_read_gap(u32 b, const u8*& s) {
  if (b < 0x80) return b;
  const u32 c = *s++;
  if (c != 0xFF) return (u64(c) << 8) | *s++;
  const u64 g = (u64(s[0]) << 24) | (u64(s[1]) << 16) | (u64(s[2]) << 8) | u64(s[3]);
  s += 4;
  return g;
}

// Walks ncodes codes: single(pos) for an entry, run(first pos, r) for a run
// of r entries at first .. first + r - 1.  Positions are relative to the lead.
template <class Single, class Run>
inline void lzw_walk(const u8* s, u32 ncodes, Single single, Run run) {
  u64 pos = 0;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (b >= 0x80 && b != 0xFF) {
      const u32 r = b & 0x7F;
      run(pos + 1, r);
      pos += r;
    } else {
      pos += lzw_read_gap(b, s);
      single(pos);
    }
  }
}

// Entries of a row (the lead included) from its code.
inline u64 lzw_count_entries(const u8* s, u32 ncodes) {
  u64 n = 1;
  lzw_walk(s, ncodes, [&](u64) { ++n; }, [&](u64, u32 r) { n += r; });
  return n;
}

// Decodes into positions[0 .. ] (positions[0] = 0); returns the number of
// entries, or ~0 when an entry would lie at or beyond limit positions or
// more than room entries would be written.
inline u64 lzw_decode(const u8* s, u32 ncodes, u64* positions, u64 room, u64 limit) {
  if (room == 0 || limit == 0) return ~u64(0);
  u64 n = 0;
  bool bad = false;
  positions[n++] = 0;
  lzw_walk(
      s, ncodes,
      [&](u64 p) {
        if (bad || p >= limit || n >= room) {
          bad = true;
          return;
        }
        positions[n++] = p;
      },
      [&](u64 p, u32 r) {
        if (bad || p + r > limit || n + r > room) {
          bad = true;
          return;
        }
        for (u32 j = 0; j < r; ++j) positions[n++] = p + j;
      });
  return bad ? ~u64(0) : n;
}

// Integer-build accumulator cell: value = w[0] + w[1]*2^32 + w[2]*2^64.
struct LzwCell96 {
  u32 w[3];
};
static_assert(sizeof(LzwCell96) == 12, "accumulator cells are three 32-bit words");

// Cell arithmetic per residue type.  kMaxAdds: products of two residues that
// one cell may receive on top of one residue before it must be reduced.
template <class D> struct LzwCell;

template <> struct LzwCell<u32> {
  using type = LzwCell96;
  // The reduction of a cell needs w2 < p, and p > 2^31: a residue plus k
  // products (each below 2^64) has w2 <= k.
  static constexpr u64 kMaxAdds = (u64(1) << 31) - 1;
  static_assert((unsigned __int128)kMaxAdds * ((u64(0xFFFFFFFFu)) * 0xFFFFFFFFu) + 0xFFFFFFFFu <
                    ((unsigned __int128)1 << 95),
                "w2 stays below 2^31 <= p for kMaxAdds products");
  static void set(LzwCell96& c, u32 v) { c.w[0] = v, c.w[1] = 0, c.w[2] = 0; }
  static void clear(LzwCell96& c) { c.w[0] = 0, c.w[1] = 0, c.w[2] = 0; }
  static void add(LzwCell96& c, u64 prod) {
    u64 lo;
    std::memcpy(&lo, c.w, 8);
    const u64 s = lo + prod;
    std::memcpy(c.w, &s, 8);
    c.w[2] += s < prod;
  }
};

template <> struct LzwCell<u16> {
  using type = u64;
  // Residues are below 2^16: every product is below 2^32, and a cell that
  // receives one product per column (fewer than 2^32 columns) cannot overflow.
  static constexpr u64 kMaxAdds = 0xFFFFFFFFu;
  static_assert((unsigned __int128)kMaxAdds * (u64(0xFFFF) * 0xFFFF) + 0xFFFF <
                    ((unsigned __int128)1 << 64),
                "a 64-bit cell holds kMaxAdds products of 16-bit residues");
  static void set(u64& c, u16 v) { c = v; }
  static void clear(u64& c) { c = 0; }
  static void add(u64& c, u64 prod) { c += prod; }
};

// Writes coef (in column order, lead first) into the cells of the row's
// positions, each in its low word; other cells are left as they are.
template <class D>
inline void lzw_scatter(typename LzwCell<D>::type* cells, const u8* code, u32 ncodes, const D* coef) {
  using C = LzwCell<D>;
  C::set(cells[0], coef[0]);
  const D* cf = coef + 1;
  lzw_walk(
      code, ncodes, [&](u64 p) { C::set(cells[p], *cf++); },
      [&](u64 p, u32 r) {
        for (u32 j = 0; j < r; ++j) C::set(cells[p + j], cf[j]);
        cf += r;
      });
}

// Clears span cells, then writes the row's coefficients as lzw_scatter does.
template <class D>
inline void lzw_expand(typename LzwCell<D>::type* cells, u64 span, const u8* code, u32 ncodes,
                       const D* coef) {
  std::memset(static_cast<void*>(cells), 0, span * sizeof(typename LzwCell<D>::type));
  lzw_scatter<D>(cells, code, ncodes, coef);
}

// AXPY from a coded pivot: cells[pos] += m * coef[entry] for every entry after
// the lead (the lead cell is not touched, coef[0] not read), without
// reduction.  m and the coefficients are residues; returns the products made.
// Each call adds at most one product to a cell: LzwCell<D>::kMaxAdds bounds the
// calls a cell may see between two reductions.
template <class D>
inline u64 lzw_axpy(typename LzwCell<D>::type* cells, u64 m, const u8* s, const D* coef,
                    u32 ncodes) {
  using C = LzwCell<D>;
  typename C::type* pos = cells;
  const D* cf = coef + 1;
  for (u32 i = 0; i < ncodes; ++i) {
    const u32 b = *s++;
    if (b >= 0x80 && b != 0xFF) {
      const u32 r = b & 0x7F;
      typename C::type* q = pos + 1;
      for (u32 j = 0; j < r; ++j) C::add(q[j], m * cf[j]);
      pos += r;
      cf += r;
    } else {
      pos += lzw_read_gap(b, s);
      C::add(*pos, m * *cf++);
    }
  }
  return u64(cf - (coef + 1));
}

}  // namespace quor

// ---- per-build part ----

namespace quor::QUOR_NS {

struct sALGO_Dpol;
using ALGO_Dpol = sALGO_Dpol*;

// Accumulator cell of this build.
using LzwAcc = LzwCell<Dom>::type;

// Prime slot whose coefficient arrays the expander reads (the elimination sets it).
extern u32 context_vectorize;
// Prime of the current slot (the elimination sets it; the prime-field kernels read it).
QUOR_EXPORT u32 QUOR_NAME(Prime);

// Code of n strictly ascending positions (first = 0) in zone 1, shrunk to
// size; *codes and *bytes receive its counts (n < 2: empty, 0 and 0).
u8* compress_lzw(const u32* positions, u32 n, u32* codes, u64* bytes);
// Clears row's span cells of acc and expands its coefficients of slot context_vectorize.
void decompress_lzw(LzwAcc* acc, const sALGO_Dpol* row);

#if QUOR_INT
// acc[pos] += m * coef[entry] for every entry after the pivot's lead (no reduction).
QUOR_EXPORT void QUOR_NAME(lzw_basic_step_lin_d_2)(LzwCell96* acc, u32 m, const u8* code, const u32* coef,
                                      u32 ncodes);
#else
// Multiplications made by the counting kernel (updated atomically).
extern u64 complexite;
// As the integer kernel on 64-bit cells; adds its products to complexite.
QUOR_EXPORT void QUOR_NAME(lzw_basic_step_lin_d_2)(u64* acc, u32 m, const u8* code, const u16* coef,
                                      u32 ncodes);
// The same without counting (for the worker threads).
QUOR_EXPORT void QUOR_NAME(lzw_basic_step_lin_d_multi)(u64* acc, u32 m, const u8* code, const u16* coef,
                                          u32 ncodes);
// Eliminates cell's column with the monic pivot (counting kernel), then clears the cell.
void comb_linear_step1_lzw(u64* cell, const sALGO_Dpol* pivot);
// Eliminates cells[0] with the monic pivot (thread-safe kernel), then reduces
// the next cells until a non-zero residue at k: lead += k, span -= k, returns
// that cell; none left: lead = span = 0, returns null.
u64* lzw_lin_d_multi(u64* cells, u32* lead, u32* span, const u8* code, const u16* coef,
                     u32 ncodes);
#endif

}  // namespace quor::QUOR_NS

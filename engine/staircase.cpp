// Staircase enumeration: starting from 1, each variable from the last down to
// the first raises every monomial found so far until a leading monomial
// divides it.  The degree table limits each divisibility test to the leading
// monomials of degree at most the candidate's (G sorted by that degree).
#include "engine/staircase.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/channels.h"
#include "core/crit.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

namespace {

// Growable array of record addresses in zone memory (an outgrown array stays
// behind until the zone is reset: at most as much again).
struct RecordArray {
  u64** at = nullptr;
  u32 count = 0;
  u32 room = 0;
  void push(u64* r) {
    if (count == room) {
      const u64 nroom = room ? 2 * u64(room) : 64;
      if (nroom > 0xFFFFFFFFull) QUOR_NAME(Fatal)("Staircase too large (%u monomials)\n", count);
      auto fresh = static_cast<u64**>(QUOR_NAME(alloc64)(nroom * sizeof(u64*)));
      if (count) std::memcpy(fresh, at, count * sizeof(u64*));
      at = fresh;
      room = u32(nroom);
    }
    at[count++] = r;
  }
};

u32 lead_total_degree(const sDpol* p) { return p->nb_terms ? degree_Expos(lead_Expos(p)) : 0; }

bool has_constant_lead(Dpol* G, u32 n) {
  for (u32 i = 0; i < n; ++i)
    if (G[i]->nb_terms && degree_Expos(lead_Expos(G[i])) == 0) return true;
  return false;
}

}  // namespace

u32 is_zerodim(Dpol* G, u32 n) {
  const u32 nv = nb_of_affine_variables;
  if (n == 0 || nv == 0) return 1;
  std::vector<u8> marked(nv, 0);
  for (u32 i = 0; i < n; ++i) {
    if (!G[i]->nb_terms) continue;
    const u64* e = lead_Expos(G[i]);
    u32 found = 0, var = 0;
    for (u32 v = 0; v < nv && found < 2; ++v)
      if (expos_slot(e, v)) ++found, var = v;
    if (found == 1) marked[var] = 1;
  }
  for (u32 v = 0; v < nv; ++v)
    if (!marked[v]) return 0;
  return 1;
}

u64** staircase_records(Dpol* G, u32 n, u32 cap, u32* count) {
  // Without a pure power of some variable the raising of that variable would
  // never end (the exponents would wrap): refuse before enumerating.
  for (u32 i = 0; i < n; ++i)
    if (!G[i]->nb_terms) QUOR_NAME(Fatal)("Zero polynomial in the basis of the staircase\n");
  if (!is_zerodim(G, n) && !has_constant_lead(G, n)) QUOR_NAME(Fatal)("Not a zero-dimensional system\n");
  const u32 nv = nb_of_affine_variables;
  const u32 B = nb_of_blocks_of_variables;
  RecordArray found;
  if (cap) {
    found.at = static_cast<u64**>(QUOR_NAME(alloc64)(u64(cap) * sizeof(u64*)));
    found.room = cap;
  }
  u64* one = QUOR_NAME(new_Expos)();
  std::memset(one, 0, 8 * (u64(B) + 1));
  found.push(one);

  sort_totaldeg_Dpol(G, n);
  u32 maxd = 0;
  for (u32 i = 0; i < n; ++i) maxd = std::max(maxd, lead_total_degree(G[i]));
  // deg_prefix[d] = number of leading monomials of total degree <= d (d <= maxd + 1).
  auto deg_prefix = static_cast<u32*>(QUOR_NAME(alloc64)((u64(maxd) + 2) * sizeof(u32)));
  std::fill(deg_prefix, deg_prefix + maxd + 2, 0u);
  for (u32 i = 1; i <= n; ++i) std::fill(deg_prefix + lead_total_degree(G[i - 1]), deg_prefix + maxd + 2, i);

  for (u32 v = nv; v-- > 0;) {
    for (u32 k = found.count; k-- > 0;) {
      const u64* base = found.at[k] + 1;
      for (u32 e = 1;; ++e) {
        if (e > EXPOS_MAX_EXPONENT) QUOR_NAME(Fatal)("Not a zero-dimensional system\n");
        u64* r = QUOR_NAME(new_Expos)();
        r[0] = 0;
        std::memcpy(r + 1, base, 8 * u64(B));
        expos_set_slot(r + 1, v, e);
        const u32 d = degree_Expos(r + 1);
        const u32 prefix = d <= maxd + 1 ? deg_prefix[d] : n;
        if (is_reducible_by_G(r + 1, G, prefix)) {
          QUOR_NAME(kill_Expos)(r);
          break;
        }
        if (cap && found.count >= cap) QUOR_NAME(Fatal)("bug2 in build_last_matrix\n");
        found.push(r);
      }
    }
  }
  *count = found.count;
  return found.at;
}

List_Expos staircase(Dpol* G, u32 n, u32* count) {
  if (n == 0) {
    *count = 0;
    return nullptr;
  }
  u32 c = 0;
  u64** m = staircase_records(G, n, 0, &c);
  shell_sort_indices(
      c, [&](u32 i, u32 j) { return comp4_Expos(m[j] + 1, m[i] + 1) > 0; },
      [&](u32 i, u32 j) { std::swap(m[i], m[j]); });
  List_Expos head = nullptr;
  for (u32 i = c; i-- > 0;) {
    List_Expos cell = QUOR_NAME(new_List_Expos)();
    cell->expos = m[i] + 1;
    cell->next = head;
    head = cell;
  }
  QUOR_NAME(Stderr)("Found dimension: %d\n", int(c));
  *count = c;
  return head;
}

}  // namespace quor::QUOR_NS

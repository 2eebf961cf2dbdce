// Critical pairs and the criteria on them; the basis and reductor tables.
//
// Crit record (56 bytes, from slabs of 10,000 named "Crit" in zone 3, free
// list root_of_Crit linked through the first word):
//   offset  0  u32 deg        total degree of the lcm (all slots, h included)
//           4  u32 (padding)
//           8  cofactor1      lcm / LM(older), header-less exponent record; null for 1
//          16  cofactor2      lcm / LM(newer), likewise
//          24  lcm            lcm of the two leading monomials, header-less
//          32  older          the polynomial with the smaller id
//          40  newer          the polynomial with the larger id
//          48  next           next pair of the list (null at the end)
// The three exponent records come from the monomial free list and go back
// there when the pair is killed.
//
// Every polynomial handed to this layer has at least one term (its lead is read).
//
// Pair lists are sorted by comp_Crit: degree ascending, then lcm descending
// (comp_Expos), then cofactor1 descending.  Update for each new basis
// polynomial p with leading exponents m:
//   N = trier_Crit(generate_Crit(p, G, n)); D = crit2onLPC(m, D);
//   D = updatD(critBackEtrangeronLPC(N), D); n = updatF(m, p, G, n).
// new_pairs_Crit gives critBackEtrangeronLPC(N) without making the pairs
// that the criteria remove (most of them).
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <vector>
#include "core/poly.h"

namespace quor::QUOR_NS {

struct sCrit {
  u32 deg;
  u32 pad_;
  u64* cofactor1;
  u64* cofactor2;
  u64* lcm;
  Dpol older;
  Dpol newer;
  sCrit* next;
};
using Crit = sCrit*;
static_assert(sizeof(sCrit) == 56, "pair records are 56 bytes");

inline constexpr u32 kCritSlab = 10000;          // records per slab
inline constexpr u32 kBasisCapacity = 100000;    // entries of a basis table G


extern Crit root_of_Crit;  // free pairs (forgotten by the memory reset)
extern Crit z_Crit;        // sentinel pair, next pointing to itself
extern u32 Dlim;           // pairs of lcm degree above it are not made (default 1,000,000,000)
extern u32 Dlim_min;       // pairs of lcm degree at most it are not made (0)

// ---- records and lists ----
// A pair record from the free list (refilled by a slab); fields undefined.
QUOR_EXPORT Crit QUOR_NAME(new_Crit)();
// Takes a pair as the sentinel z_Crit (next pointing to itself) and returns it.
Crit init_Objet_Crit();
// Returns x's lcm, cofactor1, cofactor2 and x to their free lists; gives x's next.
Crit kill_deep_Crit(Crit x);
// The pair of a and b (a as older) when its lcm degree d has Dlim_min < d <= Dlim, else null.
QUOR_EXPORT Crit QUOR_NAME(make_Crit1)(Dpol a, Dpol b);
// Pairs of p with G[0..n-1] (smaller id older), in the reverse order of G.
QUOR_EXPORT Crit QUOR_NAME(generate_Crit)(Dpol p, Dpol* G, u32 n);
// -1, 0, 1: degree ascending, lcm descending, cofactor1 descending ("#" when only b's is present).
i32 comp_Crit(const sCrit* a, const sCrit* b);
// Bottom-up merge sort by comp_Crit (on ties the later run's pair leads).
Crit trier_Crit(Crit list);
// Merge of two sorted lists (on ties b's pair leads).
Crit updatD(Crit a, Crit b);

// ---- criteria ----
// 1 when m divides lcm and lcm(m, e1), lcm(m, e2) both differ from lcm (chain criterion).
i32 crit2(const u64* m, const u64* lcm, const u64* e1, const u64* e2);
// D without the pairs that crit2 removes for the leading exponents m.
Crit crit2onLPC(const u64* m, Crit D);
// D without the pairs that crit2 removes for one of the k leading exponents ms (B words each).
Crit crit2onLPC_many(const u64* ms, u32 k, Crit D);
// 1 when the two leading monomials of x share no variable apart from h.
i32 Disjoint(const sCrit* x);
// D without the pairs of degree >= d whose lcm is a multiple of lcm.
Crit critBackonD1(u32 d, const u64* lcm, Crit D);
// The sorted new pairs N that survive the equal-lcm and coprime criteria.
Crit critBackEtrangeronLPC(Crit N);
// critBackEtrangeronLPC(trier_Crit(generate_Crit(p, G, n))), the same pairs in the same order with
// the same messages, without making the pairs that the criteria remove.
Crit new_pairs_Crit(Dpol p, Dpol* G, u32 n);
// The G[i] whose pair with p survives there, in G's order; false when a pair of that list has its
// older lead as lcm (its sort may write messages). Reads only; several threads may call it at once.
// leads: the exponent words of the G[i]'s leads side by side (B words each), when the caller has them.
bool surviving_partners(Dpol p, Dpol const* G, u32 n, std::vector<Dpol>& partners, const u64* leads = nullptr);
// The sorted pairs of p with partners[0..k-1] (given as surviving_partners gives them).
Crit pairs_with_partners(Dpol p, const Dpol* partners, u32 k);

// ---- basis and reductors ----
// Keeps the G[i] whose leading monomial m does not divide, appends p; the new count.
u32 updatF(const u64* m, Dpol p, Dpol* G, u32 n);
// Appends list[0..n-1] to R (fatal when *count + n >= capacity) and resort_Dpol's R.
void reductors(Dpol* R, u32* count, Dpol* list, u32 n, u32 capacity);
// First G[i] whose leading monomial divides the exponent words m, or null.
Dpol is_reducible_by_G(const u64* m, Dpol* G, u32 n);
// 1 when the lead of monoms is divisible by some lead of G with the divisor's h slot ignored.
i32 is_reducible3(u64* const* monoms, Dpol* G, u32 n);
// The leads of G[0..n-1] into out, B words each, the h slot cleared (a divisor as is_reducible3 reads it).
void leads_without_h(const Dpol* G, u32 n, u64* out);
// Keeps in place the polynomials free of block 1 and reports their count.
u32 restriction(Dpol* G, u32 n);
// 1 when no monomial (records; null skipped) has a nonzero exponent in slots 0 .. k-1.
i32 is_eliminated(u32 n, u64* const* monoms, u32 k);
// 1 when the lead has at most one nonzero block-1 exponent and a nonzero slot i (0 without a lead).
i32 is_pure_power_i(u64* const* monoms, u32 i);

}  // namespace quor::QUOR_NS

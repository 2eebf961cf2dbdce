// Chinese remaindering over the block of primes, rational reconstruction and
// primitive parts (integer build).  The prime-field build keeps the names the
// shared source calls as do-nothing functions.
//
// "rows" are the per-prime residue arrays of one polynomial: rows[k][j] is
// the residue of term j modulo the k-th working prime; numberOfPrimes()
// arrays are read.  A lift record is three INTs: {Chinese value, num, den}.
// A reconstruction that fails is no error: the value needs more primes and
// stays "not yet reconstructed" (result 0) for the next pass.
#pragma once
#include "core/quor_build.h"

#include <cstdio>
#include <vector>
#include "core/bigint.h"
#include "core/coeffs.h"

namespace quor::QUOR_NS {

#if QUOR_INT
// Constants of the current block, rebuilt by init_Lift_INT (the others are
// declared in core/coeffs.h, for the residue layer).
extern u32* valid_Primes;
QUOR_EXPORT INT QUOR_NAME(product_of_primes);  // P, product of the block
extern INT* chinese_cstes;                // constant tree, preorder
extern char* info_lift_package;

// The constants over the n given primes (pairwise distinct), built in the
// current zone, become the current ones.
void init_Lift_over(u32* primes, u32 n);
// The current constants, to be put back after a computation over other primes.
struct LiftContext {
  u32 n;
  u32* primes;
  INT P, B;
  INT* tree;
};
LiftContext lift_context();
void set_lift_context(const LiftContext& c);

QUOR_EXPORT void QUOR_NAME(re_init_Chineese_INT)();
QUOR_EXPORT void QUOR_NAME(init_Chineese_INT)();
QUOR_EXPORT void QUOR_NAME(recursive_init_Chinese)();
// Product of valid_Primes[a..b), a < b.
INT prime_product(u32 a, u32 b);
// B = isqrt(P/2) for one prime, else isqrt((P/2)/p0).
QUOR_EXPORT INT QUOR_NAME(compute_bound)(INT P);
// The constant tree of n primes (2n slots, preorder).
INT* init_Chinese_cstes(const u32* primes, u32 n);
// x = sum r_i c_i P/p_i, congruent to r_i mod p_i, below (sum p_i) * P.
INT Chinese_INT(const u32* residues, const INT* tree, u32 n);
// Rational reconstruction of x mod P under bound B: 1 and num/den (den > 0,
// reduced), or 0 and 0/1 when more primes are needed.
int internal_lift_INT(INT x, INT P, INT B, INT* num, INT* den);
// internal_lift_INT with the block's P and B.
QUOR_EXPORT int QUOR_NAME(lift_INT)(INT x, INT* num, INT* den);
// Chinese value and reconstruction of one coefficient into rec[0..2]; 1 on success.
QUOR_EXPORT int QUOR_NAME(try_lift_one_INT)(const u32* residues, INT* rec);
// Same for entry j of every residue array.
QUOR_EXPORT int QUOR_NAME(try_lift_row_INT)(u32* const* rows, u32 j, INT* rec);
// flag != 1: returns 1, does nothing; else lift entry j into out.
QUOR_EXPORT int QUOR_NAME(lift_row_INT)(u32* const* rows, u32 j, INT out[2], i32 flag);
QUOR_EXPORT int QUOR_NAME(recursive_lift_row_INT)(u32* const* rows, u32 j, INT out[2], i32 flag);
// First pass: 1 when every coefficient reconstructs (coefs = primitive
// integer coefficients, *extra = lcm of the denominators); else 0 with coefs
// = the Chinese values.  Terms are tried last first, and none after the
// first failure.
QUOR_EXPORT int QUOR_NAME(primpart)(INT* extra, INT* coefs, u32* const* rows, u32 nterms);
// a^-1 mod m in [0, m) for coprime a, m.
QUOR_EXPORT INT QUOR_NAME(inv_mod_INT)(INT a, INT m);
// Word bound for later passes: limbs(M) - 3 (fatal when M is too small).
QUOR_EXPORT u32 QUOR_NAME(compute_bound_size)(INT M);
// Later pass: rec[0] = new Chinese value modulo M; unless update_only, try the
// reconstruction under the word bound; 1 on success.
QUOR_EXPORT int QUOR_NAME(try_upgrade_lift_one_INT)(const u32* residues, INT* rec, INT x_old, INT M,
                                        u32 bound, INT E_old, INT E_new, i32 update_only);
QUOR_EXPORT int QUOR_NAME(try_upgrade_lift_row_INT)(u32* const* rows, u32 j, INT* rec, INT x_old,
                                        u32 bound, INT M, INT E_old, INT E_new,
                                        i32 update_only);
// Later pass over one polynomial, last term first; as primpart.
QUOR_EXPORT int QUOR_NAME(primpart_upgrade)(INT* extra, INT* coefs, u32* const* rows, u32 nterms, INT M,
                                u32 bound, INT E_old, INT E_new);
// Later pass over one polynomial without reconstruction: coefs[j] := the value modulo M of
// its old value (modulo M / product_of_primes) and the block's residues rows[k][j].
void combine_upgrade(INT* coefs, u32* const* rows, u32 nterms, INT M, INT E_new);
// The lift half of primpart_upgrade, on values already combined modulo M.
int primpart_lift(INT* extra, INT* coefs, u32 nterms, const INT& M, u32 bound);
// combine_upgrade over several polynomials at once, the terms shared out
// over an OpenMP team when the modulus has at least kTeamCombineLimbs limbs.
struct UpgradeJob {
  INT* coefs;
  u32* const* rows;
  u32 nterms;
};
inline constexpr u64 kTeamCombineLimbs = 256;
void combine_upgrade_many(const std::vector<UpgradeJob>& jobs, const INT& M, const INT& E_new);
// Relocate a row of INTs (and one extra) below the current mark, ascending
// by limb address.
void glisser_INTs(INT* row, u32 n);
void glisser_INTs_add1(INT* extra, INT* row, u32 n);
// Relocate the integers v points to (all made after the zone-1 mark just
// restored, no two sharing limbs) below it, ascending by limb address; v is
// reordered.
void relocate_INTs(std::vector<INT*>& v);
// Printing services.
QUOR_EXPORT void QUOR_NAME(output_INT)(FILE* stream, INT x);
QUOR_EXPORT void QUOR_NAME(lift_output)(FILE* stream, const u32* residues);
QUOR_EXPORT int QUOR_NAME(lift_output_sgn)(FILE* stream, const u32* residues, int first, int alone);
// Lift entries 0..n-1 of the residue arrays to one common denominator (0 at the first failure).
QUOR_EXPORT int QUOR_NAME(lift_array)(u32* const* rows, INT* out, u32 n);
QUOR_EXPORT __attribute__((noreturn)) void QUOR_NAME(invalid)(u32 p);
#else
QUOR_EXPORT void QUOR_NAME(lift_row_INT)(...);
QUOR_EXPORT void QUOR_NAME(invalid)(...);
QUOR_EXPORT void QUOR_NAME(re_init_Chineese_INT)(...);
QUOR_EXPORT void QUOR_NAME(recursive_init_Chinese)(...);
QUOR_EXPORT void QUOR_NAME(recursive_lift_row_INT)(...);
#endif

}  // namespace quor::QUOR_NS

// Residue coefficients: the word-sized coefficient Dom, the working primes
// and their constants, inverses, decimal text to residues, per-prime
// vectors and the printing of residues.
//
// Integer build: a block of Quor_int_vectorize primes in [2^31, 2^32) taken
// from the table of the 40,000 largest primes below 2^32; residues are u32.
// Prime-field build: one prime below 2^16 given by the host; residues u16,
// per-prime vectors still use u32 cells.
#pragma once
#include "core/quor_build.h"

#include <cstddef>

#include "core/bigint.h"

// Modular helpers shared by both builds (templates over the residue width,
// so no kernel is written twice).  Operands are residues in [0, p), p < 2^32.
namespace quor {
// a + b mod p.
template <class T> inline T add_mod(T a, T b, u32 p) {
  u64 s = u64(a) + b;
  return T(s >= p ? s - p : s);
}
// a - b mod p.
template <class T> inline T sub_mod(T a, T b, u32 p) {
  return T(a >= b ? u64(a) - b : u64(a) + p - b);
}
// -a mod p.
template <class T> inline T neg_mod(T a, u32 p) { return T(a == 0 ? 0 : p - a); }
// a * b mod p: the product of two residues below 2^32 fits 64 bits.
template <class T> inline T mul_mod(T a, T b, u32 p) {
  static_assert(sizeof(T) <= 4, "residues are at most 32 bits: the product fits u64");
  return T((u64(a) * b) % p);
}
// a^e mod p.
template <class T> inline T pow_mod(T a, u64 e, u32 p) {
  u64 r = 1 % p, b = a % p;
  while (e) {
    if (e & 1) r = (r * b) % p;
    b = (b * b) % p;
    e >>= 1;
  }
  return T(r);
}
inline constexpr u32 kDefaultPrimesCount = 40000;
}  // namespace quor

namespace quor::QUOR_NS {

// Number of working primes of the current block (always 1 in the
// prime-field build).
QUOR_EXPORT u32 QUOR_NAME(vectorize);
// The working primes, QUOR_NAME(vectorize) cells.
QUOR_EXPORT u32* QUOR_NAME(Primes);
// Print residues raw instead of lifted rationals.
QUOR_EXPORT int QUOR_NAME(want_raw_output);
// Switches of the reconstruction (set by the request set-up and the drivers).
QUOR_EXPORT int QUOR_NAME(want_lift);          // lifting constants built only while 1 (initially 1)
QUOR_EXPORT int QUOR_NAME(want_chinese_only);  // lift_one_INT returns x/1
QUOR_EXPORT int QUOR_NAME(want_small);         // both silence "Bad convergence"

#if QUOR_INT
// Capacity of the per-prime arrays (initially 5).
QUOR_EXPORT u32 QUOR_NAME(maxi_vectorize);
// Table entries already used from the top of the default table.
extern u32 offset_primes;
// Copy of the working primes (read by the parametrisation lift).
extern u32* Primes_ori;
// 10^6 mod p and 2^32 mod p, per working prime.
extern u32* modulo6;
extern u32* modulo32;
// Largest size estimate (32-bit words) of a coefficient printed so far.
QUOR_EXPORT double QUOR_NAME(taille_maxi);

// The 40,000 largest primes below 2^32, ascending (built once, then constant).
const u32* default_primes32();
// Choose the block of primes for vectorize/offset_primes, fill the arrays,
// build the integer layer and restart the random stream (fatal on a bad offset).
void init_Dom();
// Decimal text to one residue per working prime into out (length unused).
void String_to_Dom_length(const char* text, u32* out, u32 length);
// Floating-point text: not supported, always fatal.
void String_Float_to_Dom_length(const char* text, u32* out, u32 length);
// Print a as "%u" and return 1; outside raw mode a = 1 prints nothing, returns 0.
int see_Dom(Dom a);

// The block's lifting constants and the lift of one coefficient, which the
// residue layer prints with (defined by the reconstruction, engine/reconstruct.cpp).
// Primes of the block the constants were built for.
extern u32 valid_number_of_primes;
// Reconstruction bound B of the block.
QUOR_EXPORT INT QUOR_NAME(maxi_INT);
// Rebuild every constant of the current block (when want_lift is 1).
void init_Lift_INT();
// out = num, den of one coefficient's residues (x, 1 with want_chinese_only); 1 on success.
QUOR_EXPORT int QUOR_NAME(lift_one_INT)(const u32* residues, INT out[2]);
// "New Lift ..." into a new 200-byte info_lift_package.
QUOR_EXPORT void QUOR_NAME(init_urgent_implement_Dom)();
#else
// Threads of the elimination and of the sparse linear algebra (set by
// Quor_internal_threads; initially 1).
extern i32 nb_threads;
// Prime-field constants: 10^6 mod p and 2^32 mod p of the one prime.
extern u32 modulo6;
extern u32 modulo32;
// Make p the one working prime (new one-cell Quor_Primes and its constants).
void set_field_prime(u32 p);
// Decimal text of the given length to a residue modulo the prime of slot i
// (leading blanks and minus signs skipped, any minus makes it negative).
Dom complex_String_to_Dom(const char* text, u32 length, u32 i);
// Residue layer's hook in the first initialisation (nothing to do here).
QUOR_EXPORT void QUOR_NAME(init_urgent_implement_Dom)();
#endif

// Inverse of a modulo the prime p; fatal when a = 0 mod p.
u32 inv_Dom(u32 a, u32 p);

// Every cell of a per-prime vector set to 1.
QUOR_EXPORT void QUOR_NAME(vect_set_one)(u32* v);
// Copy a per-prime vector.
QUOR_EXPORT void QUOR_NAME(vect_set)(u32* dst, const u32* src);
// Every cell replaced by its inverse modulo the prime of its slot (fatal on 0).
QUOR_EXPORT void QUOR_NAME(vect_inv)(u32* v);
// 1 when n < 1, or every cell of the n vectors is 1 and no working prime is 2.
QUOR_EXPORT int QUOR_NAME(find_property)(u32* const* vectors, u32 n);
// Print n residues ("<a b >" raw; else the rebuilt rational, or "NYA").
QUOR_EXPORT void QUOR_NAME(display_tab_Dom)(const u32* v, u32 n);
// Capacity of the per-prime arrays (1 in the prime-field build).
QUOR_EXPORT u32 QUOR_NAME(numberOfPrimes)();
// The working primes.
QUOR_EXPORT u32* QUOR_NAME(listOfPrimes)();

// Normalise one coefficient array so that its first residue is 1 (nothing
// when n = 0 or it already is 1; a leading -1 negates exactly); fatal on 0.
void monic_residues(Dom* c, u32 n, u32 p);
// Normalise every prime slot k < nslots of a polynomial's arrays with
// primes[k]; each slot is checked on its own (a slot already monic does not
// stop the others).
void monic_all_slots(Dom* const* coeffs, u32 nslots, u32 n, const u32* primes);

}  // namespace quor::QUOR_NS

// Small dense matrices over Z/p for the block method (MatDom1), one copy per
// build, and the heap arrays of the block side.
//
// A MatDom1 of order n is n * n consecutive entries, row-major (entry (i, j)
// at i * n + j), storage owned by the caller; n is passed to every operation.
// Entries (Dom1): signed 16-bit residues in the symmetric range [-h, h],
// h = (p - 1) / 2, in the prime-field build; residues in [0, p) in the integer
// build.  A matrix polynomial is an array of pointers to MatDom1 of one order,
// entry k the coefficient of x^k; matrices multiply coefficients from the left.
//
// The prime: products, sums of products and inverses reduce modulo
// *Quor_modulo (set by init_wiedemann); the prime-field additions read
// PrimeSign / PrimeHalf (minpolyvgf/prime_sign.h), which whoever prepares
// block work keeps equal to it (check_block_prime says whether they are).
// Every failure is fatal through the build's fatal channel (a host error).
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "core/channels.h"
#include "minpolyvgf/prime_sign.h"
#include "minpolyvgf/scratch.h"
#include "minpolyvgf/session.h"

namespace quor::QUOR_NS {

#if QUOR_INT
using Dom1 = u32;
#else
using Dom1 = std::int16_t;
#endif

// n value-initialised entries on the heap; a failed allocation is fatal
// (what names the buffer in the message).
template <class T>
std::vector<T> heap_array(std::size_t n, const char* what) {
  try {
    return std::vector<T>(n);
  } catch (const std::bad_alloc&) {
    QUOR_NAME(Fatal)("Not enough memory for %s (%zu entries)\n", what, n);
  }
}

// The current block prime, fatal when none is installed (or, in the
// prime-field build, when it is above 65521 or PrimeSign / PrimeHalf do not
// match it); who names the caller in the message.
u32 check_block_prime(const char* who);

// The entry of a residue r in [0, p), and the residue of an entry.
Dom1 Dom1_of(u32 r, u32 p);
u32 residue_of(Dom1 a, u32 p);
// A word of a Krylov sequence (prime-field build: read as signed) as an entry.
Dom1 Dom1_of_word(Dom w, u32 p);

// B := A + B.
void add_MatDom1_d(const Dom1* A, Dom1* B, i32 n);
// D := A + B (any aliasing).
void add_MatDom1(const Dom1* A, const Dom1* B, Dom1* D, i32 n);
// A := -A.
void neg_MatDom1_d(Dom1* A, i32 n);
// D := A B; D may share storage with A or B.  Nothing for n <= 0.
void mult_MatDom1s(const Dom1* A, const Dom1* B, Dom1* D, i32 n);
// Inverse of a modulo p in [0, p) (prime-field build: of its low 16 bits);
// 0 with a message on standard error when a is 0 or not below p.
u32 inv_Dom1(u32 a, u32 p);
#if !QUOR_INT
// Inverse of the symmetric residue a, in the symmetric range (PrimeSign / PrimeHalf).
i32 inv_Dom1s(i32 a, u32 p);
#endif
// R := A^-1 (R may be A).  A zero pivot is replaced by the first lower row
// that has one ("Swap row %d and %d" on standard error); a singular matrix
// (or n < 1) is fatal and leaves R as it was.
void inv_MatDom1s(const Dom1* A, Dom1* R, i32 n);
// Prints an n x n matrix as "[[..],[..]]:\n" on standard output.
void display_MatDom1(const Dom1* m, i32 n);

// Sum of products of n x n matrices, reduced once per entry at the end
// (delayed reduction); reusable after store.  The prime is read at
// construction.
class MatSum {
 public:
  explicit MatSum(i32 n);
  // sum := 0.
  void clear();
  // sum += A B.
  void add_product(const Dom1* A, const Dom1* B);
  // sum += C.
  void add(const Dom1* C);
  // D := sum (negate: -sum) in entry form; D may be any operand of the sum.
  void store(Dom1* D, bool negate = false);

 private:
  // Brings every accumulator back to a residue (keeps the sum, frees room).
  void fold();
  i32 n_;
  u32 p_;
  [[maybe_unused]] i32 h_;
  [[maybe_unused]] double pinv_;
  i64 terms_ = 0;
#if QUOR_INT
  Scratch<u64> lo_, hi_;
#else
  Scratch<double> acc_, b_;  // exact integer sums; the right factor as doubles
#endif
};

}  // namespace quor::QUOR_NS

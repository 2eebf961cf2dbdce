// The block method, one copy per build: n sessions of the sparse FGLM
// (minpolyvgf/fglm.h with P = 1 .. n and block size b = n) each write the
// first n coordinates of their Krylov vectors to a session file
// (minpolyvgf/session.h); the files are combined into n x n matrices S_k
// (row i of S_k: vector k of process i) and the block Hankel solver computes
// the monic right matrix generator of degree d,
//   MX(x) = MX[0] + MX[1] x + ... + MX[d] x^d,  MX[d] = I,
//   sum_{i=0..d} S_{i+j} MX[i] = 0  for j = 0 .. d-1,
// from S_0 .. S_{2d-1}.  It exists when the block Hankel matrix of order d
// and its leading block minors are invertible (true for random start vectors
// with high probability once n d is at least the dimension of the Krylov
// space); a singular pivot is a fatal error.  Matrices: minpolyvgf/matdom1.h.
// Every failure is fatal through the build's fatal channel (a host error);
// the process survives and the installed prime stays what it was.
#pragma once
#include "core/quor_build.h"

#include <cstdint>
#include <vector>

#include "minpolyvgf/matdom1.h"

// Installs the prime p of the block computation (2 <= p; prime-field build:
// p <= 65521, and PrimeSign / PrimeHalf := p, (p - 1) / 2).
QUOR_EXPORT void QUOR_NAME(init_BlockHankel)(quor::u32 p);
// The generator of degree d (d >= 2) of the sequences seqs[0 .. n-1] (n >= 1;
// process i's vector k at seqs[i][k n .. k n + n - 1], 2 d n words each, as
// the session files hold them) into MX[0 .. d] (caller's n x n blocks).
// Prints the solver time, and with verbose the generator on standard output.
QUOR_EXPORT void QUOR_NAME(fglm_polys)(quor::QUOR_NS::Dom1** MX, quor::QUOR_NS::Dom** seqs, quor::i32 n,
                                       quor::i32 d, quor::i32 verbose);
namespace quor::QUOR_NS {
// fglm_polys without its entry guard, for the library's own callers.
void fglm_polys_request(Dom1** MX, Dom** seqs, i32 n, i32 d, i32 verbose);
}  // namespace quor::QUOR_NS
// Checks the matrix arithmetic and the solver on built-in data (prime 65521,
// installed for the test only): reports each check on standard error; the
// first failed check is fatal.
QUOR_EXPORT void QUOR_NAME(test_MatDom1)();
// Reads the session files "<base>.1" .. "<base>.<n>" (2 d n values each,
// d = N / n >= 2), installs the first working prime, runs the self test and
// prints the generator (see combine_results below).
QUOR_EXPORT void QUOR_NAME(combine_results)(const char* base, quor::i32 n, quor::i32 N);

namespace quor::QUOR_NS {

// The solver: MX[0 .. d-1] from S[0 .. 2d-1] (MX[d] := I).  Fatal for d < 2,
// n < 1 or a singular block pivot.
void block_hankel1(const Dom1* const* S, Dom1* const* MX, i32 n, i32 d, i32 verbose);
// The first j in 0 .. d-1 with sum_{i=0..d} S[i+j] MX[i] != 0, or -1 when MX
// annihilates S[0 .. 2d-1] (the installed prime's arithmetic).
i32 first_unannihilated(const Dom1* const* S, const Dom1* const* MX, i32 n, i32 d);
// The combination of the session files: the generator's (d + 1) n^2 entries,
// MX[k] at k n^2.  A missing, short or malformed file is fatal (a surplus of
// values is reported and ignored).
std::vector<Dom1> combine_results(const char* base, i32 n, i32 N);

// Inputs and expected results of the self test (symmetric residues modulo 65521).
struct SelfTestData {
  static constexpr i32 kN = 8, kD = 128;
  static constexpr u32 kPrime = 65521;
  const std::int16_t *A, *B, *AB;         // product operands and their product
  i32 scalar, scalar_inverse;             // a residue and its inverse
  std::vector<std::int16_t> list;         // nonzero residues, ended by 0
  const std::int16_t *M1, *inv1;          // an invertible matrix and its inverse
  const std::int16_t *M2, *inv2;          // one whose elimination needs a row exchange
  std::vector<std::vector<std::int16_t>> sessions;  // kN sequences of 2 kD kN values
  const std::int16_t *MX0, *MX32, *MX127; // entries 0, 32 and 127 of their generator
};
SelfTestData self_test_data();

}  // namespace quor::QUOR_NS

// Prime, random start vectors, session files and displays of the sparse
// linear-algebra library, one copy per build.
//
// Session file "<base>.<P>" of process P of a block computation, line by line:
//   "["                       opening line
//   "[v0,v1,...,v(b-1)]"      the b projections of the start vector
//   ",[...]"                  those of each later Krylov vector, in order
//   "]:"                      closing line
// (the projections: minpolyvgf/fglm.cpp).  Values are decimal: 16-bit words
// read as signed integers in the prime-field build (symmetric residues),
// unsigned 32-bit residues in the integer build.
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/channels.h"

namespace quor::QUOR_NS {

// Prime given by the current entry, prime used by the arithmetic, and 1 once
// the latter is set (an inverse of 0 clears it in the integer build).
QUOR_EXPORT QUOR_FGLM_LOCAL u32* QUOR_NAME(Table_Primes);
QUOR_EXPORT QUOR_FGLM_LOCAL u32* QUOR_NAME(modulo);
QUOR_EXPORT QUOR_FGLM_LOCAL i32 QUOR_NAME(modulo_ok);
// Display name of the last variable (null: "x").
extern QUOR_FGLM_LOCAL const char* w_lvars;
// Base name of the session files; when null, the environment's QUOR_SESSION,
// else "/tmp/quor_session".
extern const char* session_base;
// Longest session file name, terminator included.
inline constexpr std::size_t kSessionNameSize = 1000;

// modulo := Table_Primes, modulo_ok := 1, random stream restarted from seed 1.
void init_wiedemann();
// x[i] := random() mod p for i < n, in index order; nothing for n <= 0.
void choose_random(Dom* x, i32 n);
// Writes "[v0,...,v(n-1)]\n" (an empty vector as "[]\n").
void write_session(std::FILE* file, const Dom* v, i32 n);
// "<base>.<P>" into out (kSessionNameSize bytes); false when it does not fit.
bool session_file_name(char* out, const char* base, i32 P);
// Opens "<base>.<P>" (base as session_base says) for writing and reports it; fatal when the name
// is too long or the file cannot be opened.
QUOR_EXPORT std::FILE* QUOR_NAME(ouvrir_paral)(i32 P);
// Reads count values of a session file into out: 1 when they were all there
// (a surplus is reported and ignored); 0 after a report when the text is
// malformed or holds fewer values (unfilled positions are then 0).
i32 read_session(std::FILE* file, const char* name, Dom* out, i32 count);
// Opens "<base>.<P>" (fatal when it cannot be opened), read_session, closes.
i32 read_session_file(const char* base, i32 P, Dom* out, i32 count);
// Prints the polynomial c[0] + ... + c[count-1] X^(count-1) on standard output,
// highest term first, each coefficient as its residue.
void display_poly(const Dom* c, i32 count);
// CPU seconds (user + system) of the process.
double delay();
// The build's diagnostic stream (standard error before the request set-up sets it).
inline std::FILE* diag() { return QUOR_NAME(stderr) ? QUOR_NAME(stderr) : stderr; }

}  // namespace quor::QUOR_NS

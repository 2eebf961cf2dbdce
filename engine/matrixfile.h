// Replays a stored multiplication matrix: reads a sparse square matrix from
// a binary file and runs the sparse FGLM on it for the minimal polynomial of
// the last variable, modulo every working prime.
//
// File layout, native byte order, nothing between fields:
//   u32 N0 (rows = matrix size), u32 m (columns, for the density line),
//   u32 mod (the writer's modulus, not used), u64 nb (stored entries),
//   nb values (u16 in the prime-field build, u32 in the integer build),
//   nb u32 columns, N0 u32 row sizes (row 0 first).
// A row of exactly one entry is a copy row (its value is not read); every
// other row, also an empty one, is dense.  Values are taken modulo each
// working prime.
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

// Reads the matrix file `name` (opened as the channels open files: "-",
// .gz, .Z), writes the minimal polynomial of the last declared variable to
// result[0] and returns 1.  A short, truncated or inconsistent file (column
// out of range, row sizes not adding up to nb, empty matrix) is fatal
// before anything is computed; the file is closed first.
u32 rebuild_matrix(const char* name, Dpol* result);

}  // namespace quor::QUOR_NS

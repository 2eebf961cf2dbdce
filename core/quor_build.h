// The build switch: one source, two builds.
//
// The sources of the core, the engine, the interface, the sparse linear
// algebra and the host entry points are compiled once per build, and each
// translation unit belongs to one build.  QUOR_INT selects it:
//   QUOR_INT=1  integer build      exported names Quor_int_*, quor_int_*,
//                                  namespace quor::quor_int, residues u32
//   QUOR_INT=0  prime-field build  exported names Quor_*, quor_*,
//                                  namespace quor::quor_gf, residues u16
// Every name of a build lives in its namespace, so the two builds never share
// state unless a "_shared" file says so.  Only an exported name carries the
// build prefix: it is declared QUOR_EXPORT (C linkage, visible outside the
// library, listed in host/C/exported_names.txt) and written QUOR_NAME(x), or
// QUOR_LNAME(x) for the lower-case host entries.
//
// A file compiled once for both builds (named *_shared.cpp) is compiled
// without QUOR_INT: it includes only headers that do not depend on the build
// (named *_shared.h, and this one, whose first part serves them).
#pragma once
#include <cstdint>

// C linkage and default visibility: the library exports this name.
#define QUOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace quor {
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i32 = std::int32_t;
using i64 = std::int64_t;

// Residue types of the two builds (see core/coeffs.h for the arithmetic).
namespace quor_int { using Dom = u32; inline constexpr bool kIntBuild = true; }
namespace quor_gf { using Dom = u16; inline constexpr bool kIntBuild = false; }
}  // namespace quor

#ifdef QUOR_INT
#define QUOR_CAT_(a, b) a##b
#define QUOR_CAT(a, b) QUOR_CAT_(a, b)

#if QUOR_INT
#define QUOR_NS quor_int
#define QUOR_NAME(x) Quor_int_##x
#define QUOR_LNAME(x) quor_int_##x
#define QUOR_BUILD_TAG Int
#define QUOR_BUILD_STR "int"
// The integer build runs the sparse FGLMs of a block's primes side by side:
// the state of one run (prime, matrix, random stream) is per thread there.
#define QUOR_FGLM_LOCAL thread_local
#else
#define QUOR_NS quor_gf
#define QUOR_NAME(x) Quor_##x
#define QUOR_LNAME(x) quor_##x
#define QUOR_BUILD_TAG Gf
#define QUOR_BUILD_STR "gf"
#define QUOR_FGLM_LOCAL
#endif
#endif
